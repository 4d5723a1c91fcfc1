#include "transfer/Transfer.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <cerrno>

namespace kurumu::transfer {

using platform::Status;

// The texts of one routine kind's error handler.
struct Transfer::ErrorMessages {
    QString title;
    QString volumeFull;
    QString permissionDenied;
    QString pathNotFound;  // empty: a missing path is not told apart
};

namespace {

const QString kFileTitle = QStringLiteral("くるみ");
const QString kAppTitle = QStringLiteral("kurumu");

QString sameFolderSuffix(const Family& family) {
    return family.operation == Operation::Move ? QStringLiteral("…移動元と移動先が同じ")
                                               : QStringLiteral("…コピー元とコピー先が同じ");
}

QString transferSuffix(const Family& family, bool renamed) {
    if (family.operation == Operation::Move) return renamed ? QStringLiteral("…Rename後Move") : QStringLiteral("…Move");
    return renamed ? QStringLiteral("…Rename後Copy") : QStringLiteral("…Copy");
}

platform::PlaceResult place(const Family& family, const QString& source, const QString& destination) {
    return family.operation == Operation::Move ? platform::moveFileNoReplace(source, destination)
                                               : platform::copyFileNoReplace(source, destination);
}

}  // namespace

Family familyFor(const QString& operationMode, bool numberAfterExtension) {
    const bool move = operationMode == QStringLiteral("移動");
    if (numberAfterExtension) return move ? kMove : kCopy;
    return move ? kMove2 : kCopy2;
}

void Transfer::report(const QString& line) {
    m_host.showStatus(line);
    m_vars.strLog += QStringLiteral("\r\n") + line;
}

void Transfer::handleError(const Status& status, const ErrorMessages& messages) {
    QString text;
    switch (status.errorClass()) {
        case platform::ErrorClass::None:
            return;
        case platform::ErrorClass::VolumeFull:
            text = messages.volumeFull;
            break;
        case platform::ErrorClass::PermissionDenied:
            text = messages.permissionDenied;
            break;
        case platform::ErrorClass::PathNotFound:
            text = messages.pathNotFound;
            break;
        case platform::ErrorClass::Other:
            break;
    }
    if (text.isEmpty()) {
        if (m_host.option(Option::IgnoreOtherErrors)) return;
        text = QStringLiteral("詳細不明なエラー(%1)").arg(status.code());
    }
    m_host.showWarning(messages.title, text);
    m_vars.intCancel = kStopRequested;
}

void Transfer::fileError(const Status& status) {
    static const ErrorMessages messages{kFileTitle, QStringLiteral("書き込み先の容量不足。"),
                                        QStringLiteral("ファイル書き込みエラー。"),
                                        QStringLiteral("指定されたパスが見つからない。")};
    handleError(status, messages);
}

void Transfer::folderError(const Status& status) {
    static const ErrorMessages messages{kAppTitle, QStringLiteral("書き込み先の容量不足です。"),
                                        QStringLiteral("フォルダ書き込みエラー。"), QString()};
    handleError(status, messages);
}

qint64 Transfer::nextNumber(const QString& name, qint64 tries) {
    if (m_host.option(Option::CheckAllNumbers)) return tries;
    return m_vars.varNameCount.GetRenban(name);
}

void Transfer::finishSameFile(const Family& family, const QString& source, const QString& line) {
    if (family.operation == Operation::Copy) {
        report(line + QStringLiteral("…同一ファイルあり"));
        return;
    }
    report(line + QStringLiteral("…Delete"));
    fileError(platform::DeleteFile(source, true));
}

void Transfer::transferFile(const Family& family, const QString& source, const QString& destinationFolder) {
    m_host.processEvents();
    if (stopRequested()) return;
    const QString sourceFolder = platform::withTrailingSeparator(platform::GetParentfolderName(source));
    const QString name = platform::GetFileName(source);
    if (destinationFolder == sourceFolder) {
        report(sourceFolder + name + sameFolderSuffix(family));
        return;
    }
    Candidate candidate = plainCandidate(name);
    for (qint64 tries = 0;; ++tries) {
        if (tries > 0) candidate = numberedCandidate(name, nextNumber(name, tries - 1), family.numberPlace);
        const QString target = destinationFolder + candidate.diskName;
        if (family.operation == Operation::Move) {
            // A move tries the name first: the no-replace rename is itself the test of a free
            // name, and only an occupied name needs the comparison of lengths. The line is
            // the one the test-first order would report.
            const platform::PlaceResult placed = platform::moveFileNoReplace(source, target);
            if (placed.outcome != platform::PlaceOutcome::Occupied) {
                report(sourceFolder + candidate.logText + transferSuffix(family, tries > 0));
                if (placed.outcome == platform::PlaceOutcome::Failed) fileError(placed.status);
                return;
            }
        }
        const platform::Result<Presence> presence = FileHikaku(source, target);
        if (!presence.ok()) {
            // Without a valid answer the file stays where it is.
            fileError(presence.status);
            return;
        }
        if (presence.value == Presence::Free) {
            report(sourceFolder + candidate.logText + transferSuffix(family, tries > 0));
            const platform::PlaceResult placed = place(family, source, target);
            if (placed.outcome == platform::PlaceOutcome::Occupied) continue;  // taken meanwhile: next number
            if (placed.outcome == platform::PlaceOutcome::Failed) fileError(placed.status);
            return;
        }
        if (presence.value == Presence::SameLength) {
            if (platform::isSameFile(source, target)) {
                // The destination names the source itself, by another spelling or a link.
                report(sourceFolder + name + sameFolderSuffix(family));
                return;
            }
            const platform::Result<bool> same = sameContents(source, target, m_host.option(Option::Crc32));
            if (!same.ok()) {
                // No deletion rests on an identity that was not established.
                fileError(same.status);
                return;
            }
            if (same.value) {
                finishSameFile(family, source, sourceFolder + candidate.logText);
                return;
            }
        }
    }
}

void Transfer::removeEmptiedSource(const QString& source, const QString& destinationFolder) {
    const QString sourceFolder = source + platform::kSeparator;
    if (destinationFolder.startsWith(sourceFolder)) return;  // the destination lies inside the source
    const Status removed = platform::removeEmptyFolder(source);
    if (removed.error == ENOTEMPTY || removed.error == EEXIST) {
        report(source + QStringLiteral("…削除しない(フォルダが空ではない)"));
        return;
    }
    folderError(removed);
}

void Transfer::transferFolder(const Family& family, const QString& source, const QString& destinationFolder) {
    // Listed completely before anything is transferred, so nothing this call creates is walked.
    const platform::Result<platform::FolderListing> listing = platform::listFolder(source);
    if (!listing.ok()) folderError(listing.status);
    m_vars.varNameCount.reset();
    m_host.processEvents();
    if (stopRequested()) return;
    if (destinationFolder == source + platform::kSeparator) {
        report(source + sameFolderSuffix(family));
        return;
    }
    for (const QByteArray& undecodable : listing.value.undecodableNames) {
        report(platform::withTrailingSeparator(source) + QString::fromUtf8(undecodable) +
               QStringLiteral("…名前を扱えないため残す"));
    }
    QString into = destinationFolder;
    if (m_host.option(Option::KeepStructure)) {
        const QString target = destinationFolder + platform::GetFileName(source);
        if (!platform::FolderExists(target)) {
            const Status created = platform::CreateFolder(target);
            if (!created.ok()) {
                // Without its target folder this tree is skipped.
                folderError(created);
                return;
            }
        }
        into = target + platform::kSeparator;
    }
    for (const QString& file : listing.value.files) transferFile(family, file, into);
    for (const QString& subfolder : listing.value.subfolders) {
        const QString subfolderPath = subfolder + platform::kSeparator;
        // A folder that holds the destination is never walked: the run would meet what it creates.
        if (into.startsWith(subfolderPath) && into != subfolderPath) continue;
        transferFolder(family, subfolder, into);
    }
    if (family.operation == Operation::Copy || stopRequested()) return;
    removeEmptiedSource(source, into);
}

}  // namespace kurumu::transfer
