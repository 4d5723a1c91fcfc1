#include "transfer/Undo.h"

#include "platform/AppendLog.h"
#include "platform/FileServices.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/TimeOfDay.h"
#include "transfer/Journal.h"
#include "transfer/JournalFormat.h"
#include "transfer/RunHistory.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>

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

const QString kFolderReplaced = QStringLiteral("フォルダが置き換えられている");
const QString kNameTaken = QStringLiteral("名前が使われている");
const QString kChanged = QStringLiteral("変更されている");
const QString kAnotherFile = QStringLiteral("記録とは別のファイル");

// The latest time a run or an undo acted on something, and whether an operation on it
// may have happened without saying when (a kill): then no time can tell a later change.
struct LastTouch {
    qint64 ns = 0;
    bool unknown = false;

    void add(const Operation& operation) {
        if (operation.outcome) {
            ns = std::max(ns, operation.doneNs);
        } else {
            unknown = true;
        }
    }
    void add(qint64 time) { ns = std::max(ns, time); }
    // The latest time of the program's own: an operation that did not say when happened
    // before this undo began (its process is gone, its lock released).
    qint64 bound(qint64 undoStartNs) const { return unknown ? std::max(ns, undoStartNs) : ns; }
};

// What an earlier undo of the run put under a name.
struct GivenBack {
    ObjectState state;  // unknown when that undo was killed before it said
    bool killed = false;
};

// A folder that an undo killed before it said so may have made again.
struct FolderMaybeMade {
    QString path;
    qint64 undoStartNs = 0;
    bool refused = false;  // made, then found taken over: nothing went into it
};

// A file another run, not taken back, kept as the same as one it deleted.
struct KeptByOther {
    QString run;
    Operation duplicate;
    int format = journal::kFormat;
};

// A folder made whose journal does not say what it is: killed before it said, or found,
// once made, mounted on or put in the place of (then it failed, and its folder may stay).
bool mayHaveMade(const Operation& operation) {
    return !operation.outcome || operation.error == platform::kFolderReplaced;
}

// Everything the journals of a run and of its earlier undos say, for this undo.
struct History {
    QHash<Identity, LastTouch> objects;  // the latest operation of the run or an undo on each object
    QHash<QString, LastTouch> folders;   // the latest operation that added or removed a name in each folder
    QMultiHash<QString, GivenBack> givenBack;
    QMultiHash<QString, KeptByOther> keptByOthers;
    QSet<qint64> processes;                    // those whose hidden names are the run's or its undos'
    QHash<QString, Identity> recordedFolders;  // each folder's identity after the run and its undos
    QList<journal::Seen> seen;                 // the folders the run used, each first as it was then
    QSet<QString> seenPaths;
    QHash<QString, EntryInfo> folderTimes;  // source folders' times before the run listed them
    QSet<QString> removedByUndos;           // folders the run made that an earlier undo removed
    QList<FolderMaybeMade> maybeMade;
    qint64 startNs = platform::wallClockNs();  // this undo's
    int format = journal::kFormat;             // the oldest of the journals taken back

    void touch(const Operation& operation) {
        for (const ObjectState* state : {&operation.object, &operation.placed, &operation.keeperState}) {
            if (state->known) objects[state->id].add(operation);
        }
        if (operation.kind != Kind::Copy && operation.kind != Kind::Link && operation.kind != Kind::Unknown)
            folders[folderOf(operation.from)].add(operation);
        if (!operation.to.isEmpty()) folders[folderOf(operation.to)].add(operation);
    }

    // The run's journal (or a folder creation's it builds on): what it did, in order.
    void addRun(const journal::Journal& run) {
        processes.insert(run.header.pid);
        format = std::min(format, run.header.format);
        for (const journal::Seen& folder : run.seen) {
            recordedFolders.insert(folder.path, folder.id);
            if (seenPaths.contains(folder.path)) continue;
            seenPaths.insert(folder.path);
            seen.append(folder);
        }
        for (auto times = run.folderTimes.cbegin(); times != run.folderTimes.cend(); ++times) {
            if (!folderTimes.contains(times.key())) folderTimes.insert(times.key(), times.value());
        }
        for (const Operation& operation : run.operations) {
            touch(operation);
            followFolders(operation);
        }
    }

    // An earlier undo: what it gave back, and what it may have left aside.
    void addUndo(const journal::Journal& undo) {
        processes.insert(undo.header.pid);
        for (const journal::Seen& folder : undo.seen) recordedFolders.insert(folder.path, folder.id);
        const bool killed = undo.end.isEmpty();
        for (const Operation& operation : undo.operations) {
            touch(operation);
            followFolders(operation);
            if (operation.kind == Kind::MakeFolder && mayHaveMade(operation) && undo.startNs > 0)
                maybeMade.append({operation.from, undo.startNs, operation.outcome.has_value()});
            if (!operation.mayHaveHappened()) continue;
            if (operation.kind == Kind::Move || operation.kind == Kind::Copy || operation.kind == Kind::Link)
                givenBack.insert(operation.to, {operation.done() ? operation.result() : ObjectState{}, killed});
            if (operation.kind == Kind::MakeFolder && operation.placed.known)
                givenBack.insert(operation.from, {operation.placed, killed});
            if (operation.kind == Kind::RemoveFolder && operation.done()) removedByUndos.insert(operation.from);
        }
    }

    // Folders made or removed: the identity a name holds after the operation. Where the
    // run removed a folder, nothing is to be reached through the name (an empty identity)
    // until the undo makes the folder again.
    void followFolders(const Operation& operation) {
        if (!operation.done()) return;
        if (operation.kind == Kind::MakeFolder && operation.placed.known)
            recordedFolders.insert(operation.from, operation.placed.id);
        if (operation.kind == Kind::MakeFolder && !operation.placed.known) recordedFolders.remove(operation.from);
        if (operation.kind == Kind::RemoveFolder) recordedFolders.insert(operation.from, Identity{});
    }
};

// What is at a path, as the undo's services reach it.
struct Look {
    std::optional<EntryInfo> entry;
    Status status;

    bool replaced() const { return status.error == platform::kFolderReplaced; }
};

// Works through one journal backwards, leaving what changed since the run.
class Undoer {
public:
    Undoer(platform::FileServices& files, UndoReport& report, History history)
        : m_files(files), m_report(report), m_history(std::move(history)) {}

    void takeBack(const journal::Journal& journal) {
        m_format = journal.header.format;
        for (auto operation = journal.operations.crbegin(); operation != journal.operations.crend(); ++operation) {
            m_operations.append(&*operation);
            undo(*operation);
        }
    }

    // What is left once every operation is taken back: folders made again get their mode
    // and times, files left aside are put right, and folders get their times back.
    void finish() {
        finishFolders();
        clearHiddenNames();
        restoreFolderTimes();
    }

private:
    void undo(const Operation& operation) {
        // A folder the run made and then found taken over stays, whatever holds its name.
        if (operation.kind == Kind::MakeFolder && operation.outcome && mayHaveMade(operation))
            return left(operation.from, kFolderReplaced);
        // An operation the run found refused, or gave up, changed nothing.
        if (!operation.mayHaveHappened()) return;
        switch (operation.kind) {
            case Kind::Move:
                return undoMove(operation);
            case Kind::Copy:
                return undoCopy(operation);
            case Kind::Duplicate:
                return undoDuplicate(operation);
            case Kind::RemoveFolder:
                return undoRemovedFolder(operation);
            case Kind::MakeFolder:
                return undoCreatedFolder(operation);
            case Kind::Link:  // only an undo gives names, and an undo is not taken back
            case Kind::Unknown:
                return;
        }
    }

    bool recordsIdentities() const { return m_format >= journal::kIdentityFormat; }

    Look look(const QString& path) {
        const platform::Result<EntryInfo> info = m_files.probe(path);
        if (!info.ok()) return {std::nullopt, info.status};
        if (!info.value.exists()) return {};
        return {info.value, {}};
    }

    // Says why a path could not be looked at; false when it could.
    bool unreachable(const QString& path, const Look& at) {
        if (at.status.ok()) return false;
        left(path, at.replaced() ? kFolderReplaced : QStringLiteral("エラー(%1)").arg(at.status.code()));
        return true;
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
        if (status.error == EEXIST) return left(path, kNameTaken);
        if (status.error == platform::kFolderReplaced) return left(path, kFolderReplaced);
        left(path, QStringLiteral("エラー(%1)").arg(status.code()));
    }

    // This undo acted on an object in a folder just now.
    void touched(const QString& path, const std::optional<Identity>& object = std::nullopt) {
        const qint64 now = platform::wallClockNs();
        m_history.folders[folderOf(path)].add(now);
        if (object) m_history.objects[*object].add(now);
    }

    // The very object recorded: its identity (format 1 journals did not record one).
    bool isObject(const std::optional<EntryInfo>& entry, const ObjectState& state) const {
        if (!entry) return false;
        if (!recordsIdentities() || !state.known) return true;
        return entry->kind != EntryKind::Folder && entry->identity == state.id;
    }

    // The object the operation left, unchanged since: its identity and state as recorded,
    // and no status change later than the last operation of the run or an undo on it
    // (format 1: than the operation itself).
    bool unchanged(const EntryInfo& now, const Operation& operation, const ObjectState& state) const {
        if (!recordsIdentities()) return operation.doneNs == 0 || now.changedNs <= operation.doneNs;
        if (!state.matches(now)) return false;
        return now.changedNs <= m_history.objects.value(now.identity).bound(m_history.startNs);
    }

    // The keeper of a deleted duplicate holds the very bytes that were compared only while
    // nothing has changed it since.
    // (Another run's keeper is known by its identity and state alone: this undo does not
    // know the times of that run.)
    bool keeperUnchanged(const EntryInfo& kept, const Operation& duplicate, int format, bool ours = true) const {
        if (format >= journal::kIdentityFormat) {
            if (!duplicate.keeperState.matches(kept)) return false;
            if (!ours) return true;
            return kept.changedNs <= m_history.objects.value(kept.identity).bound(m_history.startNs);
        }
        if (duplicate.keeperState.known && !(duplicate.keeperState.id == kept.identity)) return false;
        return kept.kind == EntryKind::File && kept.length == duplicate.object.size &&
               kept.modifiedNs == duplicate.keeperState.mtime && kept.changedNs == duplicate.keeperCtimeNs;
    }

    // An earlier undo put this very object under the name (or, killed before it said what,
    // a file with the bytes it was to have).
    // (A file an undo killed before it said made, copying it across file systems, is known
    // by what the copy has of the recorded object.)
    const GivenBack* givenBackAt(const QString& path, const EntryInfo& there, const ObjectState& object = {},
                                 const QString& bytesOf = {}) {
        const GivenBack* found = nullptr;
        for (auto back = m_history.givenBack.constFind(path);
             back != m_history.givenBack.constEnd() && back.key() == path; ++back) {
            const bool known = back->state.known;
            if (known ? back->state.id == there.identity
                      : (!recordsIdentities() || object.copiedInto(there) || sameBytes(path, bytesOf)))
                found = &*back;
        }
        return found;
    }

    bool sameBytes(const QString& first, const QString& second) {
        if (second.isEmpty()) return false;
        const platform::Result<bool> same = m_files.sameContents(first, second, {});
        return same.ok() && same.value;
    }

    // A file another run, not taken back, kept as the same as one it deleted: it stays
    // while that run's file is not back and could still be made again from it.
    bool keptByAnother(const QString& path, const EntryInfo& there) {
        for (auto other = m_history.keptByOthers.constFind(path);
             other != m_history.keptByOthers.constEnd() && other.key() == path; ++other) {
            if (look(other->duplicate.from).entry || !keeperUnchanged(there, other->duplicate, other->format, false))
                continue;
            left(path, QStringLiteral("実行 %1 が同じ内容のファイルとして残している").arg(other->run));
            return true;
        }
        return false;
    }

    // The hidden names of the run and its undos in a folder.
    QStringList hiddenNamesIn(const QString& folder) {
        const platform::Result<platform::FolderListing> listing = m_files.listFolder(folder);
        if (!listing.ok()) return {};
        QStringList hidden;
        for (const QString& file : listing.value.files) {
            const std::optional<qint64> owner = platform::hiddenNameOwner(platform::GetFileName(file));
            if (owner && m_history.processes.contains(*owner)) hidden.append(file);
        }
        return hidden;
    }

    // The object a killed run or undo left under a hidden name in the folder of a path:
    // found by its identity; or, copied across file systems by an undo killed before it
    // gave the copy its name, by what the copy has of it and its bytes; or (format 1) by
    // holding the bytes of the file given.
    struct Aside {
        QString path;
        bool copy = false;
    };
    std::optional<Aside> setAside(const QString& path, const ObjectState& object, const QString& bytesOf) {
        // Only the processes of the run and its earlier undos give those names, and none of
        // them is running: a folder is listed once, and a name since gone is passed over.
        const QString folder = folderOf(path);
        auto hidden = m_hiddenIn.constFind(folder);
        if (hidden == m_hiddenIn.cend()) hidden = m_hiddenIn.insert(folder, hiddenNamesIn(folder));
        for (const QString& candidate : *hidden) {
            if (!platform::GetFileName(candidate).startsWith(QLatin1String(platform::kSetAsidePrefix))) continue;
            const Look at = look(candidate);
            if (!at.entry) continue;
            if (!recordsIdentities() || !object.known) {
                if (sameBytes(candidate, bytesOf)) return Aside{candidate, false};
                continue;
            }
            if (isObject(at.entry, object)) return Aside{candidate, false};
            // A copy whose original is gone is the file itself.
            const bool twinGone = !look(bytesOf).entry;
            if (object.copiedInto(*at.entry) && (twinGone || sameBytes(candidate, bytesOf)))
                return Aside{candidate, true};
        }
        return std::nullopt;
    }

    // A hidden name of this process beside a path, where a file waits while it is checked.
    QString stagingName(const QString& path) {
        return folderOf(path) + u'/' + QString::fromLatin1(platform::hiddenName(platform::kSetAsidePrefix, "undo-"));
    }

    // What a file was expected to be, checked where it waits: the very object (identity)
    // when it was renamed there, what a copy has of it when it came across file systems.
    struct Expected {
        std::optional<Identity> identity;  // none: any object that looks like the state
        ObjectState state;
        bool copy = false;  // a copy of the object, not the object itself
    };
    bool isExpected(const EntryInfo& waiting, const Expected& expected, bool copied) const {
        if (!recordsIdentities() || !expected.state.known) return true;
        if (copied || expected.copy) return expected.state.copiedInto(waiting);
        return (!expected.identity || waiting.identity == *expected.identity) && expected.state.matches(waiting);
    }

    // The file expected, under the numbers that its rename gave it (on an overlay).
    static Expected renumberedBy(const platform::PlaceResult& placed, Expected expected) {
        if (!placed.renumbered || !expected.identity || !(placed.renumbered->before == *expected.identity))
            return expected;
        expected.identity = placed.renumbered->after.identity;
        if (expected.state.id == placed.renumbered->before) expected.state.id = *expected.identity;
        return expected;
    }

    // Puts a file back under its name, from where it is now: first beside it under a hidden
    // name of this process, where it is checked to be the file expected (a name can be given
    // to another file between a look and a rename), then under its own name.
    bool moveBack(const QString& from, const QString& to, const Expected& expected) {
        const QString staged = stagingName(to);
        const platform::PlaceResult placed = m_files.moveFile(from, staged, {});
        if (placed.outcome != PlaceOutcome::Placed) {
            leftAfter(from, placed.outcome == PlaceOutcome::Occupied ? Status{EEXIST} : placed.status);
            return false;
        }
        touched(from, expected.identity);
        const Look waiting = look(staged);
        if (!waiting.entry || !isExpected(*waiting.entry, renumberedBy(placed, expected), placed.placed.exists())) {
            m_files.moveFile(staged, from, {});  // another file: back where it was found
            left(from, kChanged);
            return false;
        }
        const platform::PlaceResult named = m_files.moveFile(staged, to, {});
        if (named.outcome != PlaceOutcome::Placed) {
            m_files.moveFile(staged, from, {});
            leftAfter(to, named.outcome == PlaceOutcome::Occupied ? Status{EEXIST} : named.status);
            return false;
        }
        touched(to, waiting.entry->identity);
        // On the disk under its name before the undo goes on: its other copy is gone.
        if (const Status kept = m_files.keepNamesOf(to); !kept.ok()) {
            leftAfter(to, kept);
            return true;
        }
        restored(to);
        return true;
    }

    // A killed run, or an undo, left the source aside under a hidden name: it goes back
    // under its name. False when there is none, or it could not go back.
    bool bringBackAside(const Operation& operation, const QString& bytesOf) {
        const std::optional<Aside> aside = setAside(operation.from, operation.object, bytesOf);
        if (!aside) return false;
        return moveBack(aside->path, operation.from, {operation.object.id, operation.object, aside->copy});
    }

    // A run (or an undo) killed between publishing a copy across file systems and removing
    // its source: the second copy goes once it is proved to hold the other's bytes.
    void removeSecondCopy(const QString& copy, const QString& source, bool say = true) {
        const Status removed = m_files.deleteDuplicate(copy, source, {}).status;
        if (!removed.ok()) return left(copy, kNameTaken);
        touched(copy);
        if (say) restored(source);
    }

    // What is at a path where the run put something. Inside a folder the run made and an
    // earlier undo removed, nothing is left: that undo took it back.
    Look lookWhereRunPut(const QString& path) {
        const Look at = look(path);
        if (!at.replaced()) return at;
        for (QString folder = folderOf(path); !folder.isEmpty() && folder != u"/"; folder = folderOf(folder)) {
            if (m_history.removedByUndos.contains(folder)) return {};
        }
        return at;
    }

    void undoMove(const Operation& operation) {
        const QString& source = operation.from;
        const QString& destination = operation.to;
        const Look there = lookWhereRunPut(destination);
        if (unreachable(destination, there)) return;
        const ObjectState& moved = operation.result();
        // Another file than the one the run put there: nothing to take back.
        if (there.entry && operation.outcome && !isObject(there.entry, moved)) return left(destination, kAnotherFile);
        const Look back = look(source);
        if (unreachable(destination, back)) return;  // the file stays where the run put it
        const bool backAlready =
            back.entry && (recordsIdentities() ? isObject(back.entry, operation.object) : !operation.outcome);
        const bool givenBack = back.entry && givenBackAt(source, *back.entry, operation.object, destination);
        if (!there.entry) {
            // Never moved by a killed run, or given back by an earlier undo; otherwise the
            // file is gone, and whatever holds its old name now is another file.
            if (backAlready || givenBack) return;
            if (back.entry) {
                if (operation.outcome) left(destination, QStringLiteral("見つからない"));
                return;
            }
            if (bringBackAside(operation, destination)) return;
            return left(destination, QStringLiteral("見つからない"));
        }
        if (!isObject(there.entry, moved)) return undoKilledMove(operation, *there.entry, back);
        if (!unchanged(*there.entry, operation, moved)) return left(destination, kChanged);
        if (keptByAnother(destination, *there.entry)) return;
        if (!back.entry) {
            // An undo killed while it copied the file back across file systems left that copy
            // beside its name: it takes the name, and the run's copy goes.
            if (bringBackAside(operation, destination)) return removeSecondCopy(destination, source, false);
            moveBack(destination, source, {there.entry->identity, moved});
            return;
        }
        // An earlier undo, killed, put a copy back across file systems and left the run's.
        if (givenBack) return removeSecondCopy(destination, source, false);
        // Both there in a journal without identities: the copy of a killed move.
        if (!operation.outcome && !recordsIdentities()) return removeSecondCopy(destination, source);
        left(destination, kNameTaken);
    }

    // A move across file systems killed before it said it was done: its copy is at the
    // destination under an identity the journal does not know. The source goes back under
    // its name if it was set aside, and the copy goes once proved to hold its bytes; with
    // the source removed already, the copy is the file, and goes back in its place.
    void undoKilledMove(const Operation& operation, const EntryInfo& there, const Look& back) {
        const QString& source = operation.from;
        const QString& destination = operation.to;
        const bool broughtBack = !back.entry && bringBackAside(operation, destination);
        if (isObject(look(source).entry, operation.object)) return removeSecondCopy(destination, source, !broughtBack);
        if (!back.entry && !broughtBack && operation.object.copiedInto(there))
            moveBack(destination, source, {std::nullopt, operation.object, true});
    }

    void undoCopy(const Operation& operation) {
        const QString& source = operation.from;
        const QString& copy = operation.to;
        const Look there = lookWhereRunPut(copy);
        if (unreachable(copy, there) || !there.entry) return;
        const bool killed = !operation.outcome;
        if (!killed && !isObject(there.entry, operation.placed)) return left(copy, kAnotherFile);
        if (!killed && !unchanged(*there.entry, operation, operation.placed)) return left(copy, kChanged);
        if (keptByAnother(copy, *there.entry)) return;
        const Look original = look(source);
        if (!original.entry) return left(copy, QStringLiteral("元のファイルが見つからない"));
        // An overlay's edge between them: the copy's bytes cannot be proved to stay the original's.
        if (!platform::mountsLetDuplicateGo(*there.entry, *original.entry))
            return left(copy, QStringLiteral("オーバーレイの内と外にあるため消せない"));
        // Removed only when it still holds the bytes of its original, proved byte for byte.
        const Status removed = m_files.deleteDuplicate(copy, source, {}).status;
        if (removed.ok()) {
            touched(copy);
            return restored(copy);
        }
        if (killed && removed.error == EBUSY) return;  // not the killed run's copy: another file took the name
        left(copy, removed.error == EBUSY ? kChanged : QStringLiteral("エラー(%1)").arg(removed.code()));
    }

    // Gives an entry this undo (or an earlier one of the same run) made its attributes.
    bool giveAttributes(const QString& path, const Identity& made, const platform::Attributes& attributes) {
        const Status given = m_files.restoreAttributes(path, made, attributes);
        if (!given.ok()) left(path, QStringLiteral("属性を戻せない(%1)").arg(given.code()));
        return given.ok();
    }

    void undoDuplicate(const Operation& operation) {
        const QString& source = operation.from;
        const QString& keeper = operation.keeper;
        const Look there = look(source);
        if (unreachable(source, there)) return;
        if (there.entry) {
            // Made again by an earlier undo; one killed may not have set its attributes.
            if (const GivenBack* back = givenBackAt(source, *there.entry, operation.keeperState, keeper)) {
                if (back->killed && giveAttributes(source, there.entry->identity, operation.object.attributes()))
                    restored(source);
                return;
            }
            // Never deleted by a killed run; otherwise another file took the name.
            if (!operation.outcome && isObject(there.entry, operation.object)) return;
            if (operation.outcome && !(!recordsIdentities() && sameBytes(source, keeper))) left(source, kNameTaken);
            return;
        }
        if (bringBackAside(operation, keeper)) return;
        const Look kept = look(keeper);
        if (unreachable(keeper, kept)) return;
        if (!kept.entry || kept.entry->kind != EntryKind::File)
            return left(source, QStringLiteral("同じ内容のファイルが見つからない"));
        if (!keeperUnchanged(*kept.entry, operation, m_format))
            return left(source, QStringLiteral("同じ内容のファイルが変更されている"));
        if (const QString refused = keeperRefused(*kept.entry, operation); !refused.isEmpty())
            return left(source, refused);
        makeAgain(operation);
    }

    // Why the keeper's bytes cannot be taken for the deleted file's beyond its state: no
    // checksum of them was recorded (a run killed before it said), or, undoing as root,
    // a user other than the file's owner could have written them since. (Journals before
    // checksums keep the checks of their time.)
    QString keeperRefused(const EntryInfo& kept, const Operation& duplicate) const {
        if (m_format < journal::kFormat) return {};
        if (!duplicate.sameFile && !duplicate.checksum) return QStringLiteral("同じ内容か確かめられない");
        if (platform::effectiveUser() != 0) return {};
        const quint32 owner = duplicate.object.owner;
        const bool othersWrite =
            (kept.mode & S_IWOTH) != 0 || ((kept.mode & S_IWGRP) != 0 && platform::primaryGroupOf(owner) != kept.group);
        if (kept.owner != owner || othersWrite)
            return QStringLiteral("同じ内容のファイルを他のユーザーが書き換えられる");
        return {};
    }

    // A deleted duplicate made again from its keeper: copied beside its name under a hidden
    // name of this process, checked to be a copy of the very keeper (a name can be given to
    // another file between a look and a copy), given its own attributes, then named.
    void makeAgain(const Operation& operation) {
        if (m_format >= journal::kFormat && operation.sameFile) return nameAgain(operation);
        const QString& source = operation.from;
        const QString staged = stagingName(source);
        const platform::PlaceResult made = m_files.copyFile(operation.keeper, staged, {});
        if (made.outcome != PlaceOutcome::Placed)
            return leftAfter(source, made.outcome == PlaceOutcome::Occupied ? Status{EEXIST} : made.status);
        const Identity copy = made.placed.identity;
        touched(staged, copy);
        // The copy read back gives the bytes compared when the run deleted the file.
        const bool otherBytes =
            m_format >= journal::kFormat && !operation.sameFile && made.checksum != operation.checksum;
        if (otherBytes || (recordsIdentities() && !operation.keeperState.copiedInto(made.placed))) {
            if (!m_files.deleteDuplicate(staged, operation.keeper, {}).ok())
                left(staged, QStringLiteral("隠し名のまま残した(元のファイルと同じ内容ではない)"));
            return left(source, QStringLiteral("同じ内容のファイルが変更されている"));
        }
        if (!giveAttributes(staged, copy, operation.object.attributes())) return;
        const platform::PlaceResult named = m_files.moveFile(staged, source, {});
        if (named.outcome != PlaceOutcome::Placed)
            return leftAfter(staged, named.outcome == PlaceOutcome::Occupied ? Status{EEXIST} : named.status);
        touched(source, copy);
        if (const Status kept = m_files.keepNamesOf(source); !kept.ok()) return leftAfter(source, kept);
        restored(source);
    }

    // A deleted duplicate that was another name of its keeper's file is that name again,
    // given beside it under a hidden name and kept only while the file it names is the one
    // recorded, as it was.
    void nameAgain(const Operation& operation) {
        const QString& source = operation.from;
        const QString staged = stagingName(source);
        const platform::PlaceResult linked = m_files.linkFile(operation.keeper, staged);
        if (linked.outcome != PlaceOutcome::Placed)
            return leftAfter(source, linked.outcome == PlaceOutcome::Occupied ? Status{EEXIST} : linked.status);
        touched(staged);
        if (!operation.keeperState.matches(linked.placed)) {
            if (!m_files.deleteDuplicate(staged, operation.keeper, {}).ok())
                left(staged, QStringLiteral("隠し名のまま残した(元のファイルと同じ内容ではない)"));
            return left(source, QStringLiteral("同じ内容のファイルが変更されている"));
        }
        const platform::PlaceResult named = m_files.moveFile(staged, source, {});
        if (named.outcome != PlaceOutcome::Placed)
            return leftAfter(staged, named.outcome == PlaceOutcome::Occupied ? Status{EEXIST} : named.status);
        touched(source, linked.placed.identity);
        if (const Status kept = m_files.keepNamesOf(source); !kept.ok()) return leftAfter(source, kept);
        restored(source);
    }

    // A removed folder is made again with its owner and group, open to its owner until its
    // files are back; its mode and times follow at the end (see finishFolders).
    void undoRemovedFolder(const Operation& operation) {
        const QString& folder = operation.from;
        const Look there = look(folder);
        if (unreachable(folder, there)) return;
        if (there.entry) {
            const bool aFolder = there.entry->kind == EntryKind::Folder && !there.entry->mountRoot;
            // Made again by an earlier undo that was killed before it could finish it.
            if (const GivenBack* back = aFolder ? givenBackAt(folder, *there.entry) : nullptr) {
                if (back->killed && openFolder(operation, there.entry->identity))
                    m_madeAgain.append({&operation, there.entry->identity});
                return;
            }
            // Never removed by a killed run (format 1: any folder is taken for it).
            const bool itself = !recordsIdentities() || there.entry->identity == operation.object.id;
            if (aFolder && itself && (!operation.outcome || !recordsIdentities())) return;
            return left(folder, kNameTaken);
        }
        if (const Status made = m_files.createFolder(folder, {}); !made.ok()) return leftAfter(folder, made);
        touched(folder);
        const platform::Result<EntryInfo> held = m_files.heldFolder(folder);
        if (!held.ok() || !openFolder(operation, held.value.identity)) return;
        m_madeAgain.append({&operation, held.value.identity});
        restored(folder);
    }

    bool openFolder(const Operation& operation, const Identity& made) {
        return giveAttributes(operation.from, made,
                              {operation.object.mode | 0700u, operation.object.owner, operation.object.group});
    }

    // The mode and times a folder made again had before the run listed it (those of its
    // removal where the journal does not have them), set once its files are back.
    void finishFolders() {
        for (const auto& [operation, made] : std::as_const(m_madeAgain)) {
            const QString& folder = operation->from;
            platform::Attributes attributes = operation->object.attributes();
            attributes.owner = attributes.group = platform::Attributes::kKeepId;
            if (const auto before = m_history.folderTimes.constFind(folder); before != m_history.folderTimes.cend()) {
                attributes.accessedNs = before->accessedNs;
                attributes.modifiedNs = before->modifiedNs;
            }
            giveAttributes(folder, made, attributes);
        }
    }

    void undoCreatedFolder(const Operation& operation) {
        const QString& folder = operation.from;
        const Look there = lookWhereRunPut(folder);
        if (unreachable(folder, there) || !there.entry) return;
        // Not the folder it made: the run was killed before it made one, or another entry
        // took the name.
        const bool itself = there.entry->kind == EntryKind::Folder &&
                            (!operation.placed.known || there.entry->identity == operation.placed.id);
        if (!itself) {
            if (operation.outcome) left(folder, kNameTaken);
            return;
        }
        const Status removed = m_files.removeEmptyFolder(folder);
        if (removed.ok()) {
            touched(folder);
            return restored(folder);
        }
        if (removed.error == ENOTEMPTY || removed.error == EEXIST)
            return left(folder, QStringLiteral("フォルダが空ではない"));
        leftAfter(folder, removed);
    }

    // Every hidden name of the run or its undos left in the folders they used goes back
    // under its own name, or goes once it is proved to be a copy; what cannot be proved
    // is named.
    void clearHiddenNames() {
        QStringList folders;
        for (const journal::Seen& folder : std::as_const(m_history.seen)) folders.append(folder.path);
        for (const auto& [operation, made] : std::as_const(m_madeAgain)) folders.append(operation->from);
        folders.removeDuplicates();
        for (const QString& folder : std::as_const(folders)) {
            for (const QString& hidden : hiddenNamesIn(folder)) clearHiddenName(hidden);
        }
    }

    // A hidden name of the run or an undo holds a file of one of the run's operations: its
    // very object, or a copy of it on its way there or back, beside its source or its
    // destination. It goes back under the source's name while that is free; otherwise it
    // goes once its bytes are proved to be there. What is no such file is named.
    void clearHiddenName(const QString& hidden) {
        const Look at = look(hidden);
        if (!at.entry) return;
        const QString folder = folderOf(hidden);
        bool known = false;
        for (const Operation* operation : std::as_const(m_operations)) {
            const bool beside =
                folderOf(operation->from) == folder || (!operation->to.isEmpty() && folderOf(operation->to) == folder);
            const ObjectState* state = fileOf(*operation, *at.entry);
            if (!beside || state == nullptr) continue;
            known = true;
            if (!look(operation->from).entry) {
                if (moveBack(hidden, operation->from, {std::nullopt, *state, true})) return;
                continue;
            }
            if (m_files.deleteDuplicate(hidden, operation->from, {}).ok()) return touched(hidden);
        }
        left(hidden, known ? QStringLiteral("隠し名のまま残した(元のファイルと同じ内容ではない)")
                           : QStringLiteral("隠し名のまま残した(記録にないファイル)"));
    }

    // What the operation recorded that the file is, or is a copy of.
    static const ObjectState* fileOf(const Operation& operation, const EntryInfo& file) {
        if (file.kind != EntryKind::File) return nullptr;
        for (const ObjectState* state : {&operation.object, &operation.placed, &operation.keeperState}) {
            if (state->known && (state->id == file.identity || state->copiedInto(file))) return state;
        }
        return nullptr;
    }

    // Every folder the run changed gets its modification time back, where the process may
    // and only while no one else has added or removed a name in it since the last
    // operation of the run or an undo there. A folder named in two ways (through a link, a
    // bind mount) is one folder: it gets the time it had when the run first used it.
    void restoreFolderTimes() {
        QHash<Identity, qint64> before;
        QHash<Identity, qint64> lastTouch;
        QHash<Identity, QString> pathOf;
        for (const journal::Seen& folder : std::as_const(m_history.seen)) {
            const platform::Result<EntryInfo> now = m_files.heldFolder(folder.path);
            if (!now.ok()) continue;
            const Identity identity = now.value.identity;
            if (!before.contains(identity)) {
                before.insert(identity, folder.mtime);
                pathOf.insert(identity, folder.path);
            }
            const LastTouch touch = m_history.folders.value(folder.path);
            if (touch.ns != 0 || touch.unknown)
                lastTouch[identity] = std::max(lastTouch.value(identity), touch.bound(m_history.startNs));
        }
        for (auto folder = before.cbegin(); folder != before.cend(); ++folder) {
            const QString& path = pathOf.value(folder.key());
            if (!lastTouch.contains(folder.key())) continue;
            const platform::Result<EntryInfo> now = m_files.heldFolder(path);
            if (!now.ok() || now.value.modifiedNs == folder.value()) continue;
            platform::Attributes attributes;
            attributes.keepMode = true;
            attributes.modifiedNs = folder.value();
            attributes.notModifiedAfterNs = lastTouch.value(folder.key());
            const Status given = m_files.restoreAttributes(path, folder.key(), attributes);
            if (given.error == EBUSY)
                note(path, QStringLiteral("時刻を戻さない(その後に中身が変わった)"));
            else if (given.errorClass() == platform::ErrorClass::PermissionDenied)
                note(path, QStringLiteral("時刻を戻せない(権限がない)"));
            else if (!given.ok())
                note(path, QStringLiteral("時刻を戻せない(%1)").arg(given.code()));
        }
    }

    platform::FileServices& m_files;
    UndoReport& m_report;
    History m_history;
    int m_format = journal::kFormat;
    QHash<QString, QStringList> m_hiddenIn;                    // the hidden names of the run's processes, by folder
    QList<const Operation*> m_operations;                      // of the journals taken back
    QList<std::pair<const Operation*, Identity>> m_madeAgain;  // removed folders made again
};

// The files that other runs, not taken back, kept as the same as a file they deleted: an
// undo of such a run makes its file again from them.
QMultiHash<QString, KeptByOther> keptByOtherRuns(const platform::StateFolder& state, const QList<RunSummary>& runs,
                                                 const QStringList& ids) {
    QMultiHash<QString, KeptByOther> kept;
    for (const RunSummary& run : runs) {
        if (run.kind != QLatin1String("run") || run.undone || ids.contains(run.id)) continue;
        const std::optional<journal::Journal> other = journal::read(state, platform::GetFileName(run.path));
        if (!other) continue;
        for (const Operation& operation : other->operations) {
            if (operation.kind == Kind::Duplicate && operation.mayHaveHappened())
                kept.insert(operation.keeper, {run.id, operation, other->header.format});
        }
    }
    return kept;
}

// A folder that an undo killed before it said so made again where the run removed one is
// that undo's when it belongs to this user and was made after that undo began: from now on
// it is the folder there.
void holdFoldersMadeByKilledUndos(History& history) {
    for (const FolderMaybeMade& maybe : std::as_const(history.maybeMade)) {
        const auto expected = history.recordedFolders.constFind(maybe.path);
        if (expected == history.recordedFolders.cend() || !(*expected == Identity{})) continue;
        // Looked at through the folders recorded above it, as the undo reaches them.
        QHash<QString, Identity> above = history.recordedFolders;
        above.remove(maybe.path);
        const auto recorded = platform::recordedFolderServices(above, history.format < journal::kIdentityFormat, {});
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
        history.recordedFolders.insert(maybe.path, folder.identity);
        history.givenBack.insert(maybe.path, {ObjectState::of(folder), true});
    }
}

}  // namespace

QString UndoLine::text() const {
    switch (kind) {
        case Kind::Restored:
            return path + QStringLiteral("…元に戻した");
        case Kind::Note:
            return path + QStringLiteral("…") + reason;
        case Kind::Left:
            break;
    }
    return path + QStringLiteral("…戻せない(") + reason + u')';
}

platform::Result<UndoReport> undoRun(const platform::StateFolder& state, const QString& runId, const QString& origin) {
    // One undo at a time: two of one run would share its work between them.
    const platform::Result<platform::FileLock> alone = state.lock(QStringLiteral("undo.lock"));
    if (!alone.ok()) return {{}, alone.status};
    const QList<RunSummary> runs = runHistory(state);
    const platform::Result<RunSummary> chosen = runToUndo(runs, runId);
    UndoReport report;
    report.run = chosen.value;
    if (!chosen.ok()) return {std::move(report), chosen.status};
    if (runId.isEmpty() && chosen.value.damaged) {
        report.lines.append(
            {chosen.value.path, UndoLine::Kind::Left, QStringLiteral("記録の先頭が壊れている。実行を指定すること")});
        report.everything = false;
        return {std::move(report), {}};
    }
    if (chosen.value.kind.isEmpty()) {
        report.lines.append(
            {chosen.value.path, UndoLine::Kind::Left, QStringLiteral("記録の先頭が壊れていて、何の記録か分からない")});
        report.everything = false;
        return {std::move(report), {}};
    }
    const std::optional<journal::Journal> run = journal::read(state, platform::GetFileName(chosen.value.path));
    if (!run) return {{}, Status{EIO}};
    QList<journal::Journal> folderRuns;  // the folder creations it builds on
    for (const QString& id : chosen.value.after) {
        const std::optional<journal::Journal> made = journal::read(state, id + u".jsonl");
        if (made && made->header.kind == QLatin1String("run")) folderRuns.append(*made);
    }
    const QStringList together = takenBackTogether(chosen.value);
    QList<std::pair<QString, journal::Journal>> undos;
    for (const RunSummary& earlier : runs) {
        if (!isUndoOf(earlier, together)) continue;
        if (std::optional<journal::Journal> undo = journal::read(state, platform::GetFileName(earlier.path)))
            undos.append({earlier.path, *undo});
    }
    const bool untrusted =
        run->untrusted ||
        std::any_of(folderRuns.cbegin(), folderRuns.cend(), [](const auto& j) { return j.untrusted; }) ||
        std::any_of(undos.cbegin(), undos.cend(), [](const auto& u) { return u.second.untrusted; });
    if (untrusted) return {{}, Status{EPERM}};

    History history;
    for (const journal::Journal& made : std::as_const(folderRuns)) history.addRun(made);  // made before the run
    history.addRun(*run);
    for (const auto& [path, undo] : std::as_const(undos)) history.addUndo(undo);
    history.keptByOthers = keptByOtherRuns(state, runs, together);
    history.processes.insert(platform::processId());
    holdFoldersMadeByKilledUndos(history);

    JournalHeader header;
    header.kind = QStringLiteral("undo");
    header.origin = origin;
    header.undoOf = chosen.value.id;
    header.after = chosen.value.after;
    header.items = run->operations.size();
    QStringList keep = together;
    for (const auto& [path, undo] : std::as_const(undos)) keep.append(undo.header.id);
    platform::Result<std::unique_ptr<Journal>> own = Journal::open(state, header, keep);
    if (!own.ok()) return {{}, own.status};
    report.journal = own.value->path();
    // What damaged lines said cannot be known: the undo does the rest and says so.
    const auto reportDamage = [&](const QString& path, const journal::Journal& journal) {
        if (journal.damaged == 0) return;
        report.lines.append({path, UndoLine::Kind::Left, QStringLiteral("記録が%1行壊れている").arg(journal.damaged)});
        report.everything = false;
    };
    reportDamage(chosen.value.path, *run);
    // A run that never ended, in a boot of the system before this one, may have lost the
    // end of its journal with the power, and with it what it did last.
    if (run->end.isEmpty() && !run->header.boot.isEmpty() &&
        run->header.boot != QString::fromLatin1(platform::bootId())) {
        report.lines.append({chosen.value.path, UndoLine::Kind::Left,
                             QStringLiteral("システムが止まった時の記録のため、最後の操作は分からない")});
        report.everything = false;
    }
    // The header named the folder creations the run builds on: those are not known now.
    if (run->headerDamaged) {
        report.lines.append({chosen.value.path, UndoLine::Kind::Left,
                             QStringLiteral("記録の先頭が壊れているため、先に作ったフォルダは戻せない")});
        report.everything = false;
    }
    for (const auto& [path, undo] : std::as_const(undos)) reportDamage(path, undo);

    const auto disk = platform::recordedFolderServices(history.recordedFolders,
                                                       history.format < journal::kIdentityFormat, copyCheck(true));
    JournalingServices files(*disk, *own.value);
    Undoer undoer(files, report, std::move(history));
    undoer.takeBack(*run);
    for (auto made = folderRuns.crbegin(); made != folderRuns.crend(); ++made) undoer.takeBack(*made);
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
