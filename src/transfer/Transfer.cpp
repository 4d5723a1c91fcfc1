#include "transfer/Transfer.h"

#include "checksum/GetCRC.h"
#include "platform/Paths.h"

#include <array>
#include <cerrno>

namespace kurumu::transfer {

using platform::EntryKind;
using platform::PlaceOutcome;
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

Outcome transferOutcome(const Family& family, bool renamed) {
    if (family.operation == Operation::Move) return renamed ? Outcome::MovedNumbered : Outcome::Moved;
    return renamed ? Outcome::CopiedNumbered : Outcome::Copied;
}

// A file system mounted inside a tree is not part of it: it is left with this line.
const QString kRootSuffix = QStringLiteral("…ファイルシステムのルートは扱わない");

QString sameBytesSuffix(const Family& family) {
    return family.operation == Operation::Move ? QStringLiteral("…Delete") : QStringLiteral("…同一ファイルあり");
}

Outcome sameBytesOutcome(const Family& family) {
    return family.operation == Operation::Move ? Outcome::DuplicateDeleted : Outcome::CopyNotNeeded;
}

}  // namespace

Family familyFor(const QString& operationMode, bool numberAfterExtension) {
    const bool move = operationMode == QStringLiteral("移動");
    if (numberAfterExtension) return move ? kMove : kCopy;
    return move ? kMove2 : kCopy2;
}

RunOptions runOptionsOf(const platform::OptionStates& states) {
    return {familyFor(states.operationMode, states.numberAfterExtension), states.checkAllNumbers,
            states.folderKeep == 1, states.ignoreOtherErrors, states.crc32};
}

platform::CopyCheck copyCheck(bool everyCopy) {
    static const checksum::CrcMethod fastest = checksum::fastestMethod();
    return {[](quint32 crc, const std::byte* bytes, std::size_t size) {
                return checksum::crc32Update(crc, std::span(bytes, size), fastest);
            },
            everyCopy};
}

Transfer::Transfer(RunVariables& variables, RunHost& host, platform::FileServices& files, const RunOptions& options)
    : m_vars(variables), m_host(host), m_files(files), m_options(options) {}

bool Transfer::keepGoing(const platform::ByteProgress& progress) {
    if (progress.total > 0) m_host.fileProgress(progress.done, progress.total);
    m_host.processEvents();
    return !stopRequested();
}

void Transfer::report(const LogLine& line) {
    m_host.logged(line);
    if (!m_vars.keepLog) return;
    m_vars.strLog += QStringLiteral("\r\n");
    m_vars.strLog += line.text;
}

void Transfer::noteUnkept(unsigned unkept, const QString& destinationFolder) {
    if ((unkept & ~m_unkeptTold) == 0) return;
    m_unkeptTold |= unkept;
    static const std::array<std::pair<unsigned, const char16_t*>, 4> kNames{{
        {platform::kOwnerNotKept, u"所有者"},
        {platform::kModeNotKept, u"アクセス権"},
        {platform::kTimesNotKept, u"日時"},
        {platform::kExtendedAttributesNotKept, u"拡張属性"},
    }};
    QStringList names;
    for (const auto& [bit, name] : kNames)
        if ((unkept & bit) != 0) names.append(QString::fromUtf16(name));
    leave(Outcome::AttributesNotKept, destinationFolder,
          destinationFolder + QStringLiteral("…保存されない属性(") + names.join(u'、') + u')');
}

void Transfer::leave(Outcome outcome, const QString& item, const QString& text) {
    const LogLine line{text, outcome, item, {}};
    report(line);
    m_host.carriedOut(line);
}

void Transfer::handleError(const Status& status, const ErrorMessages& messages, const QString& path,
                           const QString& destination) {
    // Abandoned because a stop was asked for: nothing failed.
    if (status.ok() || status.error == ECANCELED) return;
    QString detail = path + QStringLiteral(": ") + platform::reasonText(status.error);
    if (!destination.isEmpty()) detail += QStringLiteral("(書き込み先: ") + destination + u')';
    m_host.itemFailed(detail);
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
        if (m_options.ignoreOtherErrors) return;
        text = QStringLiteral("詳細不明なエラー(%1)").arg(status.code());
    }
    m_host.showWarning(messages.title, text, detail);
    m_vars.intCancel = kStopRequested;
}

void Transfer::fileError(const Status& status, const QString& path, const QString& destination) {
    static const ErrorMessages messages{kFileTitle, QStringLiteral("書き込み先の容量不足。"),
                                        QStringLiteral("ファイル書き込みエラー。"),
                                        QStringLiteral("指定されたパスが見つからない。")};
    handleError(status, messages, path, destination);
}

void Transfer::folderError(const Status& status, const QString& path) {
    static const ErrorMessages messages{kAppTitle, QStringLiteral("書き込み先の容量不足です。"),
                                        QStringLiteral("フォルダ書き込みエラー。"), QString()};
    handleError(status, messages, path);
}

const Transfer::Chain* Transfer::chainOf(const QString& folder) {
    if (const auto cached = m_chains.find(folder); cached != m_chains.end()) return &cached->second;
    platform::Result<Chain> chain = m_files.folderChain(folder);
    if (!chain.ok() || chain.value.isEmpty()) return nullptr;
    return &m_chains.insert_or_assign(folder, std::move(chain.value)).first->second;
}

// Two folder paths name one folder when they are spelled alike or when the folders they
// reach (links followed) are one: "a/", "a//", "a/." and a link to it are all "a".
bool Transfer::sameFolder(const QString& first, const QString& second) {
    if (first == second) return true;
    const auto a = chainOf(first);
    const auto b = chainOf(second);
    return a && b && a->first() == b->first();
}

// True when the folder is the container or lies anywhere below it.
bool Transfer::isInside(const QString& folder, const QString& container) {
    const auto inner = chainOf(folder);
    const auto outer = chainOf(container);
    return inner && outer && inner->contains(outer->first());
}

qint64 Transfer::nextNumber(const QString& name, qint64 tries) {
    if (m_options.checkAllNumbers) return tries;
    return m_vars.varNameCount.GetRenban(name);
}

void Transfer::transferItem(const QString& item, const QString& destinationFolder) {
    const Family family = m_options.family;
    const platform::Path source(item);
    const platform::Result<platform::EntryInfo> info = m_files.probe(source);
    const EntryKind kind = info.ok() ? info.value.kind : EntryKind::Missing;
    // The destination is worked on as the folder it names, so that a link on its way,
    // even one that the run itself moves, cannot lead the run elsewhere.
    if (destinationFolder != m_destination.given) {
        platform::Result<QString> real = m_files.realFolder(destinationFolder);
        platform::Path into = real.ok() ? real.value : destinationFolder;
        m_destination = {destinationFolder, std::move(real), std::move(into)};
    }
    const platform::Result<QString>& real = m_destination.real;
    const platform::Path& into = m_destination.into;
    // A group's leader that is a link to a folder stands for that folder. A folder whose
    // real path holds a name no text can hold is worked on through the link.
    const bool leadsToFolder = real.ok() || real.status.error == EILSEQ;
    const bool leaderLink =
        kind == EntryKind::Link && destinationFolder == item + platform::kSeparator && leadsToFolder;
    if (kind == EntryKind::Folder && info.value.mountRoot && !sameFolder(into, item + platform::kSeparator)) {
        refuseRoot(item);
        return;
    }
    if (kind == EntryKind::Folder || kind == EntryKind::Missing || leaderLink) {
        transferFolder(family, source, into);
    } else {
        transferFile(family, source, into);
    }
}

// The root of a file system (or of a bind mount: the system's root seen elsewhere) is
// never walked as a source: nothing of it is touched.
void Transfer::refuseRoot(const QString& item) {
    leave(Outcome::FileSystemRoot, item, item + kRootSuffix);
    m_host.showWarning(kAppTitle, QStringLiteral("ファイルシステムのルートは移動もコピーもできません: ") + item);
    m_vars.intCancel = kStopRequested;
}

void Transfer::transferFile(const Family& family, const platform::Path& source,
                            const platform::Path& destinationFolder) {
    m_host.processEvents();
    if (stopRequested()) return;
    const SourceFolder& folder = sourceFolderOf(source, destinationFolder);
    const QString sourceFolder = folder.folder;  // shared, not copied
    const QStringView name = platform::fileNameIn(source.text());
    if (folder.same) {
        leave(Outcome::SameFolder, source, sourceFolder + name + sameFolderSuffix(family));
        return;
    }
    Candidate numbered;  // after the plain name was taken
    for (qint64 tries = 0;; ++tries) {
        if (tries > 0) {
            const QString plain = name.toString();
            numbered = numberedCandidate(plain, nextNumber(plain, tries - 1), family.numberPlace);
        }
        const QStringView logName = tries == 0 ? name : QStringView(numbered.logText);
        // The name as given, its bytes as they came; a numbered one, encoded.
        const platform::Path given = tries == 0 ? destinationFolder.joinedName(source) : platform::Path();
        const platform::Path target =
            given.isEmpty() ? destinationFolder.joined(tries == 0 ? name.toString() : numbered.diskName) : given;
        const platform::Result<Presence> presence = FileHikaku(
            m_files, source, target, [this](const platform::ByteProgress& progress) { return keepGoing(progress); });
        if (!presence.ok()) {
            // Without a valid answer nothing is deleted or skipped: the file stays where it is.
            fileError(presence.status, source, destinationFolder);
            return;
        }
        switch (presence.value) {
            case Presence::Free: {
                const LogLine line{sourceFolder + logName + transferSuffix(family, tries > 0),
                                   transferOutcome(family, tries > 0), source, target};
                report(line);
                const platform::PlaceResult placed =
                    family.operation == Operation::Move
                        ? m_files.moveFile(
                              source, target,
                              [this](const platform::ByteProgress& progress) { return keepGoing(progress); })
                        : m_files.copyFile(source, target, [this](const platform::ByteProgress& progress) {
                              return keepGoing(progress);
                          });
                if (placed.outcome == PlaceOutcome::Occupied) continue;  // taken meanwhile: the next number
                if (placed.outcome == PlaceOutcome::Failed) return fileError(placed.status, source, destinationFolder);
                m_host.carriedOut(line);
                noteUnkept(placed.unkept, destinationFolder);
                return;
            }
            case Presence::SameBytes: {
                const LogLine line{sourceFolder + logName + sameBytesSuffix(family), sameBytesOutcome(family), source,
                                   target};
                report(line);
                const Status deleted = family.operation == Operation::Move
                                           ? m_files
                                                 .deleteDuplicate(source, target,
                                                                  [this](const platform::ByteProgress& progress) {
                                                                      return keepGoing(progress);
                                                                  })
                                                 .status
                                           : Status{};
                // The keeper was the source itself, under another spelling of a folding folder.
                if (deleted.error == platform::kSameEntry)
                    return leave(Outcome::SameFolder, source, sourceFolder + name + sameFolderSuffix(family));
                if (!deleted.ok()) return fileError(deleted, source, destinationFolder);
                m_host.carriedOut(line);
                return;
            }
            case Presence::OtherFile:
                break;
        }
    }
}

const Transfer::SourceFolder& Transfer::sourceFolderOf(const platform::Path& file,
                                                       const platform::Path& destinationFolder) {
    const QString& path = file.text();
    const QStringView spelled = QStringView(path).first(platform::lastSeparator(path) + 1);
    if (path.endsWith(platform::kSeparator) || spelled != m_lastSource.spelled ||
        destinationFolder.text() != m_lastSource.destination) {
        QString folder = platform::withTrailingSeparator(platform::GetParentfolderName(path));
        const bool same = sameFolder(destinationFolder, folder);
        m_lastSource = {spelled.toString(), std::move(folder), destinationFolder.text(), same};
    }
    return m_lastSource;
}

void Transfer::transferFolder(const Family& family, const platform::Path& source,
                              const platform::Path& destinationFolder) {
    if (m_depth == 0) {
        // The run's own destination: met inside the tree, it is never walked.
        if (const auto destination = chainOf(destinationFolder)) m_targetFolders.insert(destination->first());
    }
    ++m_depth;
    walkFolder(family, source, destinationFolder);
    --m_depth;
}

void Transfer::walkFolder(const Family& family, const platform::Path& source, const platform::Path& destinationFolder) {
    m_vars.varNameCount.reset();
    m_host.processEvents();
    if (stopRequested()) return;
    if (sameFolder(destinationFolder, source.text() + platform::kSeparator)) {
        leave(Outcome::SameFolder, source, source.text() + sameFolderSuffix(family));
        return;
    }
    // Listed completely before anything is transferred. A folder that cannot be listed
    // holds nothing to transfer or delete.
    const platform::Result<platform::FolderListing> listing = m_files.listFolder(source);
    if (!listing.ok()) {
        folderError(listing.status, source);
        return;
    }
    for (const QByteArray& undecodable : listing.value.undecodableNames) {
        const QString item = platform::withTrailingSeparator(source) + QString::fromUtf8(undecodable);
        leave(Outcome::NameUnusable, item, item + QStringLiteral("…名前を扱えないため残す"));
    }
    const std::optional<platform::Path> into = targetFolder(family, source, destinationFolder);
    if (!into) return;
    for (const platform::Path& file : listing.value.files) transferFile(family, file, *into);
    for (const platform::Path& subfolder : listing.value.subfolders) walkSubfolder(family, subfolder, *into);
    if (family.operation == Operation::Copy || stopRequested()) return;
    removeEmptiedSource(source, *into);
}

// The folder that receives the tree's files: the destination when flattening; a folder
// of the source's name below it when keeping the structure, created when missing.
std::optional<platform::Path> Transfer::targetFolder(const Family& family, const platform::Path& source,
                                                     const platform::Path& destinationFolder) {
    if (!m_options.keepStructure) return destinationFolder;
    const platform::Path target = destinationFolder.joined(platform::GetFileName(source));
    const platform::Result<platform::EntryInfo> existing = m_files.probe(target);
    if (existing.ok() && existing.value.kind == EntryKind::Folder) {
        m_targetFolders.insert(existing.value.identity);
        return target.joined(platform::kSeparator);
    }
    // A tree copied without being read back needs no folder name on the disk before its
    // files: the sources stay.
    const bool copiesAlone = family.operation == Operation::Copy && !m_options.verifyEveryCopy;
    const Status created =
        m_files.createFolder(target, source, copiesAlone ? platform::FolderUse::Copies : platform::FolderUse::Moves);
    forgetFolders();
    if (!created.ok()) {
        // Without its target folder this tree is left as it is.
        folderError(created, target);
        return std::nullopt;
    }
    if (const auto made = m_files.probe(target); made.ok()) m_vars.madeFolders.insert(made.value.identity);
    return target.joined(platform::kSeparator);
}

void Transfer::walkSubfolder(const Family& family, const platform::Path& subfolder, const platform::Path& into) {
    const platform::Result<platform::EntryInfo> info = m_files.probe(subfolder);
    if (info.ok() && m_vars.madeFolders.contains(info.value.identity)) return;  // holds only what this run put there
    if (info.ok() && m_targetFolders.contains(info.value.identity)) {
        m_vars.varNameCount.reset();
        m_host.processEvents();
        if (!stopRequested()) leave(Outcome::SameFolder, subfolder, subfolder.text() + sameFolderSuffix(family));
        return;
    }
    if (info.ok() && info.value.mountRoot) {
        leave(Outcome::FileSystemRoot, subfolder, subfolder.text() + kRootSuffix);
        return;
    }
    transferFolder(family, subfolder, into);
}

void Transfer::removeEmptiedSource(const platform::Path& source, const platform::Path& destinationFolder) {
    if (isInside(destinationFolder, source.text() + platform::kSeparator))
        return;  // the destination lies inside the source
    const Status removed = m_files.removeEmptyFolder(source);
    forgetFolders();
    if (removed.error == ENOTEMPTY || removed.error == EEXIST) {
        leave(Outcome::FolderNotEmpty, source, source.text() + QStringLiteral("…削除しない(フォルダが空ではない)"));
        return;
    }
    folderError(removed, source);
}

}  // namespace kurumu::transfer
