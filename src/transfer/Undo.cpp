#include "transfer/Undo.h"

#include "platform/FileServices.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/TimeOfDay.h"
#include "transfer/Journal.h"
#include "transfer/JournalFormat.h"
#include "transfer/RunHistory.h"
#include "transfer/UndoDecision.h"
#include "transfer/UndoReading.h"

#include <QHash>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

namespace kurumu::transfer {

namespace {

using journal::Kind;
using journal::ObjectState;
using journal::Operation;
using platform::EntryInfo;
using platform::EntryKind;
using platform::Identity;
using platform::PlaceOutcome;
using platform::Status;
using undo::Act;
using undo::Decision;
using undo::Expected;
using undo::Look;
using undo::Question;
using undo::SeenNow;
using undo::Step;

// What a hidden name's steps are carried out for: they need no operation of their own.
const Operation kNoOperation;

// Whether a file has the mode, owner and modification time recorded of it.
bool keepsAttributes(const EntryInfo& file, const ObjectState& recorded) {
    return (file.mode & 07777) == (recorded.mode & 07777) && file.owner == recorded.owner &&
           file.group == recorded.group && file.modifiedNs == recorded.mtime;
}

// Carries out what is decided for each operation, through the undo's services: it answers
// the decision's questions by looking at the disk, then acts, re-checking each file where
// it waits under a hidden name before it gets a name, and keeps the reading up to date
// with what it did.
class Undoer {
public:
    Undoer(platform::FileServices& files, UndoReport& report, undo::Reading reading)
        : m_files(files), m_report(report), m_reading(std::move(reading)) {}

    void takeBack(const journal::Journal& journal) {
        for (auto operation = journal.operations.crbegin(); operation != journal.operations.crend(); ++operation) {
            m_operations.append(&*operation);
            carryOut(*operation,
                     decided([&](const SeenNow& seen) { return undo::decide(*operation, m_reading, seen); }));
        }
    }

    // Copies that earlier undos were writing under names themselves when they were killed
    // go before the run's operations are taken back: the files they copied need the names.
    void clearKilledUndoCopies(const journal::Journal& undone) {
        for (const Operation& operation : undone.operations) {
            carryOut(operation,
                     decided([&](const SeenNow& seen) { return undo::decideKilledUndoCopy(operation, seen); }));
        }
    }

    // What is left once every operation is taken back: folders made again get their mode
    // and times, files left aside are put right, and folders get their times back.
    void finish() {
        for (const auto& [operation, made] : std::as_const(m_madeAgain))
            giveAttributes(operation->from, made, undo::finishedFolderAttributes(*operation, m_reading));
        clearHiddenNames();
        restoreFolderTimes();
    }

private:
    // The decision made again until it asks nothing more.
    template <typename Decide>
    Decision decided(const Decide& decide) {
        SeenNow seen;
        seen.user = m_user;
        for (;;) {
            Decision decision = decide(seen);
            if (!decision.question) return decision;
            answer(*decision.question, seen);
        }
    }

    void answer(const Question& question, SeenNow& seen) {
        switch (question.kind) {
            case Question::Kind::Look:
                seen.looks.insert(question.path, look(question.path));
                for (const QString& path : question.morePaths) seen.looks.insert(path, look(path));
                return;
            case Question::Kind::SetAside:
                seen.setAside.insert(question.path, setAsideIn(question.path));
                return;
            case Question::Kind::Compare: {
                const platform::Result<bool> same = m_files.sameContents(question.path, question.other, {});
                seen.compared.append({question.path, question.other, same.ok() && same.value});
                return;
            }
            case Question::Kind::PrimaryGroup:
                seen.primaryGroups.insert(question.user, platform::primaryGroupOf(question.user));
                return;
        }
    }

    Look look(const QString& path) {
        const platform::Result<EntryInfo> info = m_files.probe(path);
        if (!info.ok()) return {std::nullopt, info.status.error};
        if (!info.value.exists()) return {};
        return {info.value, 0};
    }

    // The hidden names of the run and its undos in a folder.
    QStringList hiddenNamesIn(const QString& folder) {
        const platform::Result<platform::FolderListing> listing = m_files.listFolder(folder);
        if (!listing.ok()) return {};
        QStringList hidden;
        for (const QString& file : listing.value.files) {
            const std::optional<qint64> owner = platform::hiddenNameOwner(platform::GetFileName(file));
            if (owner && m_reading.processes.contains(*owner)) hidden.append(file);
        }
        return hidden;
    }

    // The names that set a file aside in a folder, as they hold it now. Only the processes
    // of the run and its earlier undos give those names, and none of them is running: a
    // folder is listed once, and a name since gone is passed over.
    QList<undo::HiddenFile> setAsideIn(const QString& folder) {
        auto names = m_hiddenIn.constFind(folder);
        if (names == m_hiddenIn.cend()) names = m_hiddenIn.insert(folder, hiddenNamesIn(folder));
        QList<undo::HiddenFile> aside;
        for (const QString& name : *names) {
            if (platform::GetFileName(name).startsWith(QLatin1String(platform::kSetAsidePrefix)))
                aside.append({name, look(name)});
        }
        return aside;
    }

    void carryOut(const Operation& operation, const Decision& decision) {
        const bool done = std::any_of(decision.tries.cbegin(), decision.tries.cend(),
                                      [&](const Step& step) { return act(operation, step); });
        act(operation, done ? decision.then : decision.otherwise);
    }

    // Carries out one step; whether it was done.
    bool act(const Operation& operation, const Step& step) {
        switch (step.act) {
            case Act::Nothing:
                return true;
            case Act::Leave:
                left(step.path, step.reason);
                return true;
            case Act::PutBack:
                return moveBack(step.path, step.other, step.expected, operation);
            case Act::RemoveSecondCopy:
                return removeSecondCopy(step);
            case Act::RemoveRunCopy:
                return removeRunCopy(step);
            case Act::DropHiddenCopy:
                if (!m_files.deleteDuplicate(step.path, step.other, {}).ok()) return false;
                touched(step.path);
                return true;
            case Act::GiveAttributes:
                if (!giveAttributes(step.path, step.identity, operation.object.attributes())) return false;
                restored(step.path);
                return true;
            case Act::FinishFolder:
                if (!openFolder(operation, step.identity)) return false;
                m_madeAgain.append({&operation, step.identity});
                return true;
            case Act::MakeFolder:
                return makeFolder(operation);
            case Act::RemoveFolder:
                return removeFolder(step.path);
            case Act::MakeAgain:
                return makeAgain(operation);
            case Act::NameAgain:
                return nameAgain(operation);
            case Act::RemovePartialCopy:
                return removePartialCopy(step);
        }
        return false;
    }

    void restored(const QString& path) { m_report.lines.append({path, UndoLine::Kind::Restored, {}}); }
    void left(const QString& path, const QString& reason) {
        m_report.lines.append({path, UndoLine::Kind::Left, reason});
        m_report.everything = false;
    }
    void note(const QString& path, const QString& reason) {
        m_report.notes.append({path, UndoLine::Kind::Note, reason});
    }
    void leftAfter(const QString& path, const Status& status) {
        if (status.error == EEXIST) return left(path, undo::kNameTaken);
        if (status.error == platform::kFolderReplaced) return left(path, undo::kFolderReplaced);
        left(path, undo::errorReason(status.error));
    }
    void leftAfter(const QString& path, const platform::PlaceResult& placed) {
        leftAfter(path, placed.outcome == PlaceOutcome::Occupied ? Status{EEXIST} : placed.status);
    }

    // This undo acted on an object in a folder just now.
    void touched(const QString& path, const std::optional<Identity>& object = std::nullopt) {
        m_reading.touched(path, object, platform::wallClockNs());
    }

    // A hidden name of this process beside a path, where a file waits while it is checked.
    static QString stagingName(const QString& path) {
        return folderOf(path) + u'/' + QString::fromLatin1(platform::hiddenName(platform::kSetAsidePrefix, "undo-"));
    }

    // On a disk whose numbers need not last (a FUSE mount), a file is known by what it holds.
    bool loose(const QString& path) const { return m_reading.loose(path); }

    bool isExpected(const EntryInfo& waiting, const Expected& expected, bool copied, bool loose) const {
        if (!expected.identitiesRecorded || !expected.state.known) return true;
        if (copied || expected.copy) return expected.state.copiedInto(waiting, m_user, expected.dated);
        if (loose) return expected.state.matchesButIdentity(waiting);
        const bool same = expected.dated ? expected.state.matchesButModified(waiting) : expected.state.matches(waiting);
        return (!expected.identity || waiting.identity == *expected.identity) && same;
    }

    // A file copied off a disk whose numbers need not last holds the bytes recorded of it,
    // where a checksum was: read back as it was copied, as the run read them.
    static bool bytesAsRecorded(const platform::PlaceResult& copied, const Operation& operation) {
        return !copied.placed.exists() || !operation.checksum || !copied.checksum ||
               *copied.checksum == *operation.checksum;
    }

    // The file expected, under the numbers that its rename gave it (on an overlay).
    static Expected renumberedBy(const platform::PlaceResult& placed, Expected expected) {
        if (!placed.renumbered || !expected.identity || !(placed.renumbered->before == *expected.identity))
            return expected;
        expected.identity = placed.renumbered->after.identity;
        if (expected.state.id == placed.renumbered->before) expected.state.id = *expected.identity;
        return expected;
    }

    // What a file is once moved: a copy where the disk could only copy it (a stick that
    // publishes in place), itself under the numbers a rename gave it (an overlay).
    static Identity identityAfter(const platform::PlaceResult& moved, const Identity& before) {
        if (moved.placed.exists()) return moved.placed.identity;
        if (moved.renumbered && moved.renumbered->before == before) return moved.renumbered->after.identity;
        return before;
    }

    // Puts a file back under its name, from where it is now: first beside it under a hidden
    // name of this process, where it is checked to be the file expected (a name can be given
    // to another file between a look and a rename), then under its own name.
    bool moveBack(const QString& from, const QString& to, const Expected& expected, const Operation& operation) {
        const ObjectState& original = operation.object;
        const QString staged = stagingName(to);
        const platform::PlaceResult placed = m_files.moveFile(from, staged, {});
        if (placed.outcome != PlaceOutcome::Placed) {
            leftAfter(from, placed);
            return false;
        }
        touched(from, expected.identity);
        const Look waiting = look(staged);
        const bool recordedBytes = !loose(from) || bytesAsRecorded(placed, operation);
        if (!waiting.entry || !recordedBytes ||
            !isExpected(*waiting.entry, renumberedBy(placed, expected), placed.placed.exists(), loose(from))) {
            m_files.moveFile(staged, from, {});  // another file: back where it was found
            left(from, undo::kChanged);
            return false;
        }
        const platform::PlaceResult named = m_files.moveFile(staged, to, {});
        if (named.outcome != PlaceOutcome::Placed) {
            m_files.moveFile(staged, from, {});
            leftAfter(to, named);
            return false;
        }
        const Identity back = identityAfter(named, waiting.entry->identity);
        touched(to, back);
        // Back from a disk that did not keep its mode, owner or times (a FAT stick): it gets
        // them as recorded.
        if (original.known && !keepsAttributes(*waiting.entry, original) &&
            !giveAttributes(to, back, original.attributes()))
            return true;
        // On the disk under its name before the undo goes on: its other copy is gone.
        if (const Status kept = m_files.keepNamesOf(to); !kept.ok()) {
            leftAfter(to, kept);
            return true;
        }
        restored(to);
        return true;
    }

    bool removeSecondCopy(const Step& step) {
        if (!m_files.deleteDuplicate(step.path, step.other, {}).ok()) {
            left(step.path, step.reasonIfNot.isEmpty() ? undo::kNameTaken : step.reasonIfNot);
            return false;
        }
        touched(step.path);
        if (step.say) restored(step.other);
        return true;
    }

    bool removeRunCopy(const Step& step) {
        const Status removed = m_files.deleteDuplicate(step.path, step.other, {}).status;
        if (removed.ok()) {
            touched(step.path);
            restored(step.path);
            return true;
        }
        if (step.quietIfOther && removed.error == EBUSY) return false;
        left(step.path, removed.error == EBUSY ? undo::kChanged : undo::errorReason(removed.error));
        return false;
    }

    bool removePartialCopy(const Step& step) {
        const Status removed = m_files.removePartialCopy(step.path, step.other, step.identity);
        if (!removed.ok()) {
            if (!step.quiet)
                left(step.path, removed.error == EBUSY ? undo::kChanged : undo::errorReason(removed.error));
            return false;
        }
        touched(step.path);
        if (!step.quiet) restored(step.say ? step.other : step.path);
        return true;
    }

    // Gives an entry this undo (or an earlier one of the same run) made its attributes.
    bool giveAttributes(const QString& path, const Identity& made, const platform::Attributes& attributes) {
        const Status given = m_files.restoreAttributes(path, made, attributes);
        if (!given.ok()) left(path, QStringLiteral("属性を戻せない(%1)").arg(given.code()));
        return given.ok();
    }

    // Leaves a copy that did not prove to be the keeper's, removing it where it can.
    void withdraw(const QString& staged, const Operation& operation) {
        if (!m_files.deleteDuplicate(staged, operation.keeper, {}).ok())
            left(staged, QStringLiteral("隠し名のまま残した(元のファイルと同じ内容ではない)"));
        left(operation.from, QStringLiteral("同じ内容のファイルが変更されている"));
    }

    // Names a file made beside its name, and puts the name on the disk.
    bool name(const QString& staged, const QString& source, const Identity& made) {
        const platform::PlaceResult named = m_files.moveFile(staged, source, {});
        if (named.outcome != PlaceOutcome::Placed) {
            leftAfter(staged, named);
            return false;
        }
        touched(source, made);
        if (const Status kept = m_files.keepNamesOf(source); !kept.ok()) {
            leftAfter(source, kept);
            return false;
        }
        restored(source);
        return true;
    }

    // A deleted duplicate made again from its keeper: copied beside its name under a hidden
    // name of this process, checked to be a copy of the very keeper (a name can be given to
    // another file between a look and a copy), given its own attributes, then named.
    bool makeAgain(const Operation& operation) {
        const QString& source = operation.from;
        const QString staged = stagingName(source);
        const platform::PlaceResult made = m_files.copyFile(operation.keeper, staged, {});
        if (made.outcome != PlaceOutcome::Placed) {
            leftAfter(source, made);
            return false;
        }
        const Identity copy = made.placed.identity;
        touched(staged, copy);
        // The copy read back gives the bytes compared when the run deleted the file. Proved
        // so, it needs only the keeper's length: a disk that keeps no modes (a stick) shows
        // its own on the copy.
        const bool checked = operation.checksumsRecorded && !operation.sameFile;
        const bool otherBytes = checked && made.checksum != operation.checksum;
        const bool keepersCopy = checked && operation.checksum ? made.placed.length == operation.keeperState.size
                                                               : operation.keeperState.copiedInto(made.placed, m_user);
        if (otherBytes || (operation.identitiesRecorded && !keepersCopy)) {
            withdraw(staged, operation);
            return false;
        }
        if (!giveAttributes(staged, copy, operation.object.attributes())) return false;
        return name(staged, source, copy);
    }

    // A deleted duplicate that was another name of its keeper's file is that name again,
    // given beside it under a hidden name and kept only while the file it names is the one
    // recorded, as it was.
    bool nameAgain(const Operation& operation) {
        const QString& source = operation.from;
        const QString staged = stagingName(source);
        const platform::PlaceResult linked = m_files.linkFile(operation.keeper, staged);
        if (linked.outcome != PlaceOutcome::Placed) {
            leftAfter(source, linked);
            return false;
        }
        touched(staged);
        if (!operation.keeperState.matches(linked.placed)) {
            withdraw(staged, operation);
            return false;
        }
        return name(staged, source, linked.placed.identity);
    }

    // A removed folder is made again with its owner and group, open to its owner until its
    // files are back; its mode and times follow at the end.
    bool makeFolder(const Operation& operation) {
        const QString& folder = operation.from;
        if (const Status made = m_files.createFolder(folder, {}); !made.ok()) {
            leftAfter(folder, made);
            return false;
        }
        touched(folder);
        const platform::Result<EntryInfo> held = m_files.heldFolder(folder);
        if (!held.ok() || !openFolder(operation, held.value.identity)) return false;
        m_madeAgain.append({&operation, held.value.identity});
        restored(folder);
        return true;
    }

    bool openFolder(const Operation& operation, const Identity& made) {
        return giveAttributes(operation.from, made,
                              {operation.object.mode | 0700u, operation.object.owner, operation.object.group});
    }

    bool removeFolder(const QString& folder) {
        const Status removed = m_files.removeEmptyFolder(folder);
        if (removed.ok()) {
            touched(folder);
            restored(folder);
            return true;
        }
        if (removed.error == ENOTEMPTY || removed.error == EEXIST)
            left(folder, QStringLiteral("フォルダが空ではない"));
        else
            leftAfter(folder, removed);
        return false;
    }

    static undo::HiddenKind hiddenKind(const QString& hidden) {
        return platform::GetFileName(hidden).startsWith(QLatin1String(platform::kUnpublishedPrefix))
                   ? undo::HiddenKind::Unpublished
                   : undo::HiddenKind::SetAside;
    }

    // Every hidden name of the run or its undos left in the folders they used goes back
    // under its own name, or goes once it is proved to be a copy; what cannot be proved
    // is named.
    void clearHiddenNames() {
        QStringList folders;
        for (const journal::Seen& folder : std::as_const(m_reading.seen)) folders.append(folder.path);
        for (const auto& [operation, made] : std::as_const(m_madeAgain)) folders.append(operation->from);
        folders.removeDuplicates();
        for (const QString& folder : std::as_const(folders)) {
            for (const QString& hidden : hiddenNamesIn(folder)) {
                carryOut(kNoOperation, decided([&](const SeenNow& seen) {
                             return undo::decideHidden(hidden, hiddenKind(hidden), m_operations, seen);
                         }));
            }
        }
    }

    // Every folder the run changed gets its modification time back, where the process may
    // and only while no one else has added or removed a name in it since the last
    // operation of the run or an undo there. A folder named in two ways (through a link, a
    // bind mount) is one folder: it gets the time it had when the run first used it.
    void restoreFolderTimes() {
        QHash<QString, Identity> held;
        for (const journal::Seen& folder : std::as_const(m_reading.seen)) {
            const platform::Result<EntryInfo> now = m_files.heldFolder(folder.path);
            if (now.ok()) held.insert(folder.path, now.value.identity);
        }
        for (const undo::FolderTime& folder : undo::folderTimesToGiveBack(m_reading, held)) {
            const platform::Result<EntryInfo> now = m_files.heldFolder(folder.path);
            if (!now.ok() || now.value.modifiedNs == folder.modifiedNs) continue;
            platform::Attributes attributes;
            attributes.keepMode = true;
            attributes.modifiedNs = folder.modifiedNs;
            attributes.notModifiedAfterNs = folder.notModifiedAfterNs;
            const Status given = m_files.restoreAttributes(folder.path, folder.identity, attributes);
            if (given.error == EBUSY)
                note(folder.path, QStringLiteral("時刻を戻さない(その後に中身が変わった)"));
            else if (given.errorClass() == platform::ErrorClass::PermissionDenied)
                note(folder.path, QStringLiteral("時刻を戻せない(権限がない)"));
            else if (!given.ok())
                note(folder.path, QStringLiteral("時刻を戻せない(%1)").arg(given.code()));
        }
    }

    platform::FileServices& m_files;
    UndoReport& m_report;
    undo::Reading m_reading;
    const quint32 m_user = platform::effectiveUser();
    QHash<QString, QStringList> m_hiddenIn;                    // the hidden names of the run's processes, by folder
    QList<const Operation*> m_operations;                      // of the journals taken back
    QList<std::pair<const Operation*, Identity>> m_madeAgain;  // removed folders made again
};

// A folder that an undo killed before it said so made again where the run removed one is
// that undo's when it belongs to this user and was made after that undo began: from now on
// it is the folder there.
void holdFoldersMadeByKilledUndos(undo::Reading& reading) {
    for (const undo::FolderMaybeMade& maybe : std::as_const(reading.maybeMade)) {
        const auto expected = reading.recordedFolders.constFind(maybe.path);
        if (expected == reading.recordedFolders.cend() || !(*expected == Identity{})) continue;
        // Looked at through the folders recorded above it, as the undo reaches them.
        QHash<QString, Identity> above = reading.recordedFolders;
        above.remove(maybe.path);
        const auto recorded = platform::recordedFolderServices(above, reading.format < journal::kIdentityFormat, {});
        const platform::Result<EntryInfo> there = recorded->probe(maybe.path);
        const EntryInfo& folder = there.value;
        // The file system stamps a change by a coarse clock, which may lag the undo's start
        // by a tick.
        constexpr qint64 kCoarseTickNs = 10'000'000;
        if (!there.ok() || folder.kind != EntryKind::Folder || folder.mountRoot ||
            folder.owner != platform::effectiveUser() || folder.changedNs < maybe.undoStartNs - kCoarseTickNs)
            continue;
        // One made and found taken over had nothing put into it: it is empty.
        if (maybe.refused) {
            const platform::Result<platform::FolderListing> inside = recorded->listFolder(maybe.path);
            if (!inside.ok() || !inside.value.files.isEmpty() || !inside.value.subfolders.isEmpty() ||
                !inside.value.undecodableNames.isEmpty())
                continue;
        }
        reading.recordedFolders.insert(maybe.path, folder.identity);
        reading.givenBack.insert(maybe.path, {ObjectState::of(folder), true, {}});
    }
}

// Says why the undo cannot know everything: damaged lines, a run that lost its end with
// the power, a header that named the folder creations.
void reportUnknowns(UndoReport& report, const RunSummary& run, const JournalsToUndo& journals) {
    const auto leaveFor = [&](const QString& path, const QString& reason) {
        report.lines.append({path, UndoLine::Kind::Left, reason});
        report.everything = false;
    };
    // What damaged lines said cannot be known: the undo does the rest and says so.
    const auto damage = [&](const QString& path, const journal::Journal& journal) {
        if (journal.damaged != 0) leaveFor(path, QStringLiteral("記録が%1行壊れている").arg(journal.damaged));
    };
    damage(run.path, journals.run);
    // A run that never ended, in a boot of the system before this one, may have lost the
    // end of its journal with the power, and with it what it did last.
    const journal::Header& header = journals.run.header;
    if (journals.run.end.isEmpty() && !header.boot.isEmpty() && header.boot != QString::fromLatin1(platform::bootId()))
        leaveFor(run.path, QStringLiteral("システムが止まった時の記録のため、最後の操作は分からない"));
    if (journals.run.headerDamaged)
        leaveFor(run.path, QStringLiteral("記録の先頭が壊れているため、先に作ったフォルダは戻せない"));
    for (const auto& [path, undone] : journals.undos) damage(path, undone);
}

}  // namespace

platform::Result<UndoReport> undoRun(const platform::StateFolder& state, const QString& runId, const QString& origin) {
    // One undo at a time: two of one run would share its work between them.
    const platform::Result<platform::FileLock> alone = state.lock(QStringLiteral("undo.lock"));
    if (!alone.ok()) return {{}, alone.status};
    const QList<RunSummary> runs = runHistory(state);
    const platform::Result<RunSummary> chosen = runToUndo(runs, runId);
    UndoReport report;
    report.run = chosen.value;
    if (!chosen.ok()) return {std::move(report), chosen.status};
    const auto refuse = [&](const QString& reason) -> platform::Result<UndoReport> {
        report.lines.append({chosen.value.path, UndoLine::Kind::Left, reason});
        report.everything = false;
        return {std::move(report), {}};
    };
    if (runId.isEmpty() && chosen.value.damaged)
        return refuse(QStringLiteral("記録の先頭が壊れている。実行を指定すること"));
    if (chosen.value.kind.isEmpty()) return refuse(QStringLiteral("記録の先頭が壊れていて、何の記録か分からない"));
    const platform::Result<JournalsToUndo> journals = journalsToUndo(state, runs, chosen.value);
    if (!journals.ok()) return {{}, journals.status};

    undo::Reading reading;
    reading.startNs = platform::wallClockNs();
    for (const journal::Journal& made : journals.value.folderRuns) reading.addRun(made);  // made before the run
    reading.addRun(journals.value.run);
    for (const auto& [path, undone] : journals.value.undos) reading.addUndo(undone);
    reading.keptByOthers = journals.value.keptByOthers;
    reading.processes.insert(platform::processId());
    holdFoldersMadeByKilledUndos(reading);

    JournalHeader header;
    header.kind = QStringLiteral("undo");
    header.origin = origin;
    header.undoOf = chosen.value.id;
    header.after = chosen.value.after;
    header.items = journals.value.run.operations.size();
    QStringList keep = takenBackTogether(chosen.value);
    for (const auto& [path, undone] : journals.value.undos) keep.append(undone.header.id);
    platform::Result<std::unique_ptr<Journal>> own = Journal::open(state, header, keep);
    if (!own.ok()) return {{}, own.status};
    report.journal = own.value->path();
    reportUnknowns(report, chosen.value, journals.value);

    const auto disk = platform::recordedFolderServices(
        reading.recordedFolders, reading.format < journal::kIdentityFormat, copyCheck(true), reading.looseFolders);
    JournalingServices files(*disk, *own.value);
    Undoer undoer(files, report, std::move(reading));
    for (const auto& [path, undone] : journals.value.undos) undoer.clearKilledUndoCopies(undone);
    undoer.takeBack(journals.value.run);
    for (auto made = journals.value.folderRuns.crbegin(); made != journals.value.folderRuns.crend(); ++made)
        undoer.takeBack(*made);
    undoer.finish();
    const platform::Status kept =
        own.value->finish(report.everything ? QStringLiteral("undone") : QStringLiteral("partly undone"));
    if (!kept.ok()) {
        report.lines.append({report.journal, UndoLine::Kind::Left,
                             QStringLiteral("記録を最後まで書き込めなかった(%1)").arg(kept.code())});
        report.everything = false;
    }
    return {std::move(report), {}};
}

}  // namespace kurumu::transfer
