#include "transfer/UndoDecision.h"

#include "platform/Errors.h"

#include <QSet>

#include <algorithm>

namespace kurumu::transfer::undo {

namespace {

using journal::Kind;
using journal::ObjectState;
using journal::Operation;
using platform::EntryInfo;
using platform::EntryKind;
using platform::Identity;

// The permission bits that let others than the owner write.
constexpr quint32 kGroupMayWrite = 0020;
constexpr quint32 kOthersMayWrite = 0002;

Step leaving(const QString& path, const QString& reason) {
    Step step;
    step.act = Act::Leave;
    step.path = path;
    step.reason = reason;
    return step;
}

Decision just(const Step& step) {
    Decision decision;
    decision.tries.append(step);
    return decision;
}

Decision leave(const QString& path, const QString& reason) {
    return just(leaving(path, reason));
}

Decision nothing() {
    return {};
}

// Tries one step; then another, or when it is not done, a third.
Decision trying(const Step& first, const Step& then, const Step& otherwise) {
    Decision decision = just(first);
    decision.then = then;
    decision.otherwise = otherwise;
    return decision;
}

Step putBack(const QString& from, const QString& to, const Expected& expected) {
    Step step;
    step.act = Act::PutBack;
    step.path = from;
    step.other = to;
    step.expected = expected;
    return step;
}

Step removal(Act act, const QString& copy, const QString& original, const Identity& identity) {
    Step step;
    step.act = act;
    step.path = copy;
    step.other = original;
    step.identity = identity;
    return step;
}

Step onEntry(Act act, const QString& path, const Identity& identity = {}) {
    Step step;
    step.act = act;
    step.path = path;
    step.identity = identity;
    return step;
}

// A file set aside under a hidden name: the very object, or a copy of it.
struct Aside {
    QString path;
    bool copy = false;
    bool dated = false;       // the object, dated by the rename that set it aside, and proved by its bytes
    ObjectState copyOf = {};  // a copy: of what it was made (the object, or the run's copy of it)
};

// Decides one operation. Each look at the disk goes through seen: what it does not hold
// yet is asked (pending), and the decision is made again once it is answered.
class Decider {
public:
    Decider(const Operation& operation, const Reading& reading, const SeenNow& seen)
        : m_operation(operation), m_reading(reading), m_seen(seen) {}

    Decision decide() {
        const Operation& operation = m_operation;
        // A folder the run made and then found taken over stays, whatever holds its name.
        if (operation.kind == Kind::MakeFolder && operation.outcome && mayHaveMade(operation))
            return leave(operation.from, kFolderReplaced);
        // An operation the run found refused, or gave up, changed nothing.
        if (!operation.mayHaveHappened()) return nothing();
        switch (operation.kind) {
            case Kind::Move:
                return move();
            case Kind::Copy:
                return copy();
            case Kind::Duplicate:
                return duplicate();
            case Kind::RemoveFolder:
                return removedFolder();
            case Kind::MakeFolder:
                return createdFolder();
            case Kind::Link:  // only an undo gives names, and an undo is not taken back
            case Kind::Unknown:
                break;
        }
        return nothing();
    }

    // Among the operations taken back, the one whose file a hidden name holds.
    Decision hidden(const QString& hidden, HiddenKind kind, const QList<const Operation*>& operations) {
        const Look* at = look(hidden);
        if (!at) return pending();
        if (!at->entry) return nothing();
        if (kind == HiddenKind::Unpublished) return unpublished(hidden, *at->entry, operations);
        const QString folder = folderOf(hidden);
        // The sources of every operation whose file it may be, looked at together.
        QList<std::pair<const Operation*, const ObjectState*>> candidates;
        QStringList unseen;
        QSet<QString> asked;
        for (const Operation* operation : operations) {
            const bool beside =
                folderOf(operation->from) == folder || (!operation->to.isEmpty() && folderOf(operation->to) == folder);
            const ObjectState* state = fileOf(*operation, *at->entry);
            if (!beside || state == nullptr) continue;
            candidates.append({operation, state});
            if (!m_seen.looks.contains(operation->from) && !asked.contains(operation->from)) {
                asked.insert(operation->from);
                unseen.append(operation->from);
            }
        }
        if (!unseen.isEmpty()) {
            m_question = {Question::Kind::Look, unseen.takeFirst(), {}, 0, unseen};
            return pending();
        }
        // Empty, and no operation's file: the placeholder that a kill left where the run was
        // to set a file aside on a disk that publishes in place.
        if (candidates.isEmpty() && at->entry->kind == EntryKind::File && at->entry->length == 0)
            return unpublished(hidden, *at->entry, operations);
        Decision decision;
        for (const auto& [operation, state] : std::as_const(candidates)) {
            const Look* source = look(operation->from);
            // A file mounted at the source's name proves nothing: it is another name's.
            if (source->entry && source->entry->mountRoot) continue;
            if (!source->entry) {
                decision.tries.append(
                    putBack(hidden, operation->from, {std::nullopt, *state, true, operation->identitiesRecorded}));
            } else {
                decision.tries.append(removal(Act::DropHiddenCopy, hidden, operation->from, at->entry->identity));
            }
        }
        decision.otherwise =
            leaving(hidden, !candidates.isEmpty() ? QStringLiteral("隠し名のまま残した(元のファイルと同じ内容ではない)")
                                                  : QStringLiteral("隠し名のまま残した(記録にないファイル)"));
        return decision;
    }

    // The copy that an earlier undo, killed, was writing under a name itself.
    Decision killedUndoCopy() {
        if (m_operation.outcome || !m_operation.createdInPlace) return nothing();
        const Look* there = look(m_operation.to);
        if (!there) return pending();
        if (!there->entry || !(there->entry->identity == *m_operation.createdInPlace)) return nothing();
        const Look* original = look(m_operation.from);
        if (!original) return pending();
        // With its original gone, the copy may be all that is left: the run's operation decides.
        if (!original->entry) return nothing();
        Step step = partialCopy(false);
        step.quiet = true;
        return just(step);
    }

private:
    Decision pending() const {
        Decision decision;
        decision.question = m_question;
        return decision;
    }

    bool identities() const { return m_operation.identitiesRecorded; }

    const Look* look(const QString& path) {
        if (const auto found = m_seen.looks.constFind(path); found != m_seen.looks.cend()) return &*found;
        m_question = {Question::Kind::Look, path, {}, 0, {}};
        return nullptr;
    }

    // What is at a path where the run put something. Inside a folder the run made and an
    // earlier undo removed, nothing is left: that undo took it back.
    const Look* whereRunPut(const QString& path) {
        const Look* at = look(path);
        if (!at || !at->replaced()) return at;
        for (QString folder = folderOf(path); !folder.isEmpty() && folder != u"/"; folder = folderOf(folder)) {
            if (m_reading.removedByUndos.contains(folder)) return &m_nothing;
        }
        return at;
    }

    // Whether two files hold the same bytes; nothing while it is not known yet.
    std::optional<bool> sameBytes(const QString& first, const QString& second) {
        if (second.isEmpty()) return false;
        for (const Comparison& compared : m_seen.compared) {
            if (compared.first == first && compared.second == second) return compared.same;
        }
        m_question = {Question::Kind::Compare, first, second, 0, {}};
        return std::nullopt;
    }

    // Why a path could not be looked at; none when it could.
    static std::optional<Decision> unreachable(const QString& path, const Look& at) {
        if (at.error == 0) return std::nullopt;
        return leave(path, at.replaced() ? kFolderReplaced : errorReason(at.error));
    }

    // On a disk whose numbers need not last (a FUSE mount), a file is known by its path,
    // its length, its times and its mode as recorded, and its bytes are proved as it is
    // taken back; elsewhere by its identity.
    bool loose(const QString& path) const { return m_reading.loose(path); }
    bool hasIdentity(const EntryInfo& entry, const ObjectState& state, const QString& path) const {
        return loose(path) ? state.matchesButIdentity(entry) : entry.identity == state.id;
    }

    // The very object recorded at a path: its identity (journals that did not record one
    // take any). A file mounted at the name (a bind mount) is never it: what it shows is
    // another name's.
    bool isObject(const std::optional<EntryInfo>& entry, const ObjectState& state, const QString& path) const {
        if (!entry || entry->mountRoot) return false;
        if (!identities() || !state.known) return true;
        return entry->kind != EntryKind::Folder && hasIdentity(*entry, state, path);
    }

    // The object the operation left at a path, unchanged since: its identity and state as
    // recorded, and no status change later than the last operation of the run or an undo
    // on it (without identities: than the operation itself).
    bool unchanged(const EntryInfo& now, const ObjectState& state, const QString& path) const {
        if (!identities()) return m_operation.doneNs == 0 || now.changedNs <= m_operation.doneNs;
        if (!hasIdentity(now, state, path) || !state.matchesButIdentity(now)) return false;
        return now.changedNs <= m_reading.objects.value(state.id).bound(m_reading.startNs);
    }

    // The keeper of a deleted duplicate holds the very bytes that were compared only while
    // nothing has changed it since.
    // (Another run's keeper is known by its identity and state alone: this undo does not
    // know the times of that run.)
    bool keeperUnchanged(const EntryInfo& kept, const Operation& duplicate, bool ours = true) const {
        if (duplicate.identitiesRecorded) {
            const ObjectState& keeper = duplicate.keeperState;
            if (!hasIdentity(kept, keeper, duplicate.keeper) || !keeper.matchesButIdentity(kept)) return false;
            if (!ours) return true;
            return kept.changedNs <= m_reading.objects.value(keeper.id).bound(m_reading.startNs);
        }
        if (duplicate.keeperState.known && !(duplicate.keeperState.id == kept.identity)) return false;
        return kept.kind == EntryKind::File && kept.length == duplicate.object.size &&
               kept.modifiedNs == duplicate.keeperState.mtime && kept.changedNs == duplicate.keeperCtimeNs;
    }

    // An earlier undo put this very object under the name (or, killed before it said what,
    // a file with the bytes it was to have). Nothing while that is not known yet; a null
    // pointer when none did.
    // (A file an undo killed before it said made, copying it across file systems, is known
    // by what the copy has of the recorded object.)
    std::optional<const GivenBack*> givenBackAt(const QString& path, const EntryInfo& there,
                                                const ObjectState& object = {}, const QString& bytesOf = {}) {
        const GivenBack* found = nullptr;
        for (auto back = m_reading.givenBack.constFind(path);
             back != m_reading.givenBack.constEnd() && back.key() == path; ++back) {
            bool matches = false;
            if (back->state.known) {
                matches = hasIdentity(there, back->state, path);
            } else if (!identities() || object.copiedInto(there, m_seen.user) ||
                       (back->moving.known && hasIdentity(there, back->moving, path))) {
                matches = true;
            } else {
                const std::optional<bool> same = sameBytes(path, bytesOf);
                if (!same) return std::nullopt;
                matches = *same;
            }
            if (matches) found = &*back;
        }
        return found;
    }

    // A file another run, not taken back, kept as the same as one it deleted: it stays
    // while that run's file is not back and could still be made again from it. Nothing
    // while that is not known yet.
    std::optional<std::optional<Decision>> keptByAnother(const QString& path, const EntryInfo& there) {
        for (auto other = m_reading.keptByOthers.constFind(path);
             other != m_reading.keptByOthers.constEnd() && other.key() == path; ++other) {
            const Look* source = look(other->duplicate.from);
            if (!source) return std::nullopt;
            if (source->entry || !keeperUnchanged(there, other->duplicate, false)) continue;
            return leave(path, QStringLiteral("実行 %1 が同じ内容のファイルとして残している").arg(other->run));
        }
        return std::optional<Decision>();
    }

    // The object a killed run or undo left under a hidden name in the folder of a path:
    // found by its identity; or, copied across file systems by an undo killed before it
    // gave the copy its name, by what the copy has of it and its bytes; or (without
    // identities) by holding the bytes of the file given. Nothing while that is not known
    // yet.
    // (A copy of the run's own copy counts too: an undo killed as it put a file back from a
    // disk that keeps no modes made it with that disk's mode.)
    std::optional<std::optional<Aside>> setAside(const QString& path, const ObjectState& object, const QString& bytesOf,
                                                 const ObjectState& runCopy = {}) {
        const QString folder = folderOf(path);
        const auto listed = m_seen.setAside.constFind(folder);
        if (listed == m_seen.setAside.cend()) {
            m_question = {Question::Kind::SetAside, folder, {}, 0, {}};
            return std::nullopt;
        }
        for (const HiddenFile& candidate : *listed) {
            if (!candidate.look.entry) continue;
            if (!identities() || !object.known) {
                const std::optional<bool> same = sameBytes(candidate.path, bytesOf);
                if (!same) return std::nullopt;
                if (*same) return Aside{candidate.path, false};
                continue;
            }
            if (isObject(candidate.look.entry, object, candidate.path)) {
                // Set aside on a disk that dates every rename: the object while its bytes are
                // still those it was kept for.
                const EntryInfo& file = *candidate.look.entry;
                if (object.matches(file) || !object.matchesButModified(file)) return Aside{candidate.path, false};
                const std::optional<bool> same = sameBytes(candidate.path, bytesOf);
                if (!same) return std::nullopt;
                return Aside{candidate.path, false, *same};
            }
            const ObjectState& copied = object.copiedInto(*candidate.look.entry, m_seen.user) ? object : runCopy;
            if (!copied.copiedInto(*candidate.look.entry, m_seen.user)) continue;
            // A copy whose original is gone is the file itself.
            const Look* twin = look(bytesOf);
            if (!twin) return std::nullopt;
            if (!twin->entry) return Aside{candidate.path, true, false, copied};
            const std::optional<bool> same = sameBytes(candidate.path, bytesOf);
            if (!same) return std::nullopt;
            if (*same) return Aside{candidate.path, true, false, copied};
        }
        return std::optional<Aside>();
    }

    Step bringingBack(const Aside& aside) const {
        const ObjectState& object = m_operation.object;
        const ObjectState& state = aside.copy && aside.copyOf.known ? aside.copyOf : object;
        return putBack(aside.path, m_operation.from, {object.id, state, aside.copy, identities(), aside.dated});
    }

    Decision move() {
        const QString& source = m_operation.from;
        const QString& destination = m_operation.to;
        const Look* there = whereRunPut(destination);
        if (!there) return pending();
        if (auto refused = unreachable(destination, *there)) return *refused;
        const ObjectState& moved = m_operation.result();
        // Another file than the one the run put there: nothing to take back.
        if (there->entry && m_operation.outcome && !isObject(there->entry, moved, destination))
            return leave(destination, kAnotherFile);
        const Look* back = look(source);
        if (!back) return pending();
        if (auto refused = unreachable(destination, *back)) return *refused;  // the file stays where the run put it
        const bool backAlready =
            back->entry && (identities() ? isObject(back->entry, m_operation.object, source) : !m_operation.outcome);
        bool givenBack = false;
        bool unfinished = false;  // by an undo killed before it gave the file its mode and times
        if (back->entry) {
            const std::optional<const GivenBack*> given =
                givenBackAt(source, *back->entry, m_operation.object, destination);
            if (!given) return pending();
            givenBack = *given != nullptr;
            unfinished = givenBack && (*given)->killed;
        }
        if (!there->entry) {
            if (unfinished && !backAlready) return just(onEntry(Act::GiveAttributes, source, back->entry->identity));
            // Never moved by a killed run, or given back by an earlier undo; otherwise the
            // file is gone, and whatever holds its old name now is another file.
            if (backAlready || givenBack) return nothing();
            if (back->entry)
                return m_operation.outcome ? leave(destination, QStringLiteral("見つからない")) : nothing();
            const auto aside = setAside(source, m_operation.object, destination, m_operation.placed);
            if (!aside) return pending();
            if (*aside) return trying(bringingBack(**aside), {}, leaving(destination, QStringLiteral("見つからない")));
            return leave(destination, QStringLiteral("見つからない"));
        }
        if (!isObject(there->entry, moved, destination)) return killedMove(*there->entry, *back);
        if (!unchanged(*there->entry, moved, destination)) return leave(destination, kChanged);
        const auto kept = keptByAnother(destination, *there->entry);
        if (!kept) return pending();
        if (*kept) return **kept;
        if (!back->entry) {
            // An undo killed while it copied the file back across file systems left that copy
            // beside its name: it takes the name, and the run's copy goes.
            const Step home = putBack(destination, source, {there->entry->identity, moved, false, identities()});
            const auto aside = setAside(source, m_operation.object, destination, m_operation.placed);
            if (!aside) return pending();
            if (!*aside) return just(home);
            return trying(bringingBack(**aside), secondCopy(*there->entry, false), home);
        }
        // An earlier undo, killed, put a copy back across file systems and left the run's.
        if (givenBack) return just(secondCopy(*there->entry, false));
        // Both there in a journal without identities: the copy of a killed move.
        if (!m_operation.outcome && !identities()) return just(secondCopy(*there->entry, true));
        return leave(destination, kNameTaken);
    }

    // A copy written under its destination name itself, by a run killed before it said it
    // was done: it goes while its bytes are the first bytes of its original.
    Step partialCopy(bool sayOriginal) const {
        Step step = removal(Act::RemovePartialCopy, m_operation.to, m_operation.from, *m_operation.createdInPlace);
        step.say = sayOriginal;
        return step;
    }

    // A run (or an undo) killed between publishing a copy across file systems and removing
    // its source: the second copy goes once it is proved to hold the other's bytes.
    Step secondCopy(const EntryInfo& copy, bool say) const {
        Step step = removal(Act::RemoveSecondCopy, m_operation.to, m_operation.from, copy.identity);
        step.say = say;
        return step;
    }

    // A move across file systems killed before it said it was done: its copy is at the
    // destination under an identity the journal does not know. The source goes back under
    // its name if it was set aside, and the copy goes once proved to hold its bytes; with
    // the source removed already, the copy is the file, and goes back in its place.
    Decision killedMove(const EntryInfo& there, const Look& back) {
        const ObjectState& object = m_operation.object;
        if (back.entry) {
            const bool partial = m_operation.createdInPlace && there.identity == *m_operation.createdInPlace;
            if (partial && isObject(back.entry, object, m_operation.from)) return just(partialCopy(true));
            if (isObject(back.entry, object, m_operation.from)) {
                Step second = secondCopy(there, true);
                // Killed as it created its copy under the name: what holds it may be that copy.
                if (m_operation.inPlace) second.reasonIfNot = kMaybePartial;
                return just(second);
            }
            // Another file has the source's name: the copy, maybe the only one left, stays
            // where the run put it, and says so.
            return object.copiedInto(there, m_seen.user) ? leave(m_operation.to, kNameTaken) : nothing();
        }
        // Written under its name by the run (a disk with no other way to publish), whole: the
        // run's own copy, whatever mode and times that disk could keep of it.
        const bool ownWholeCopy = m_operation.createdInPlace && there.identity == *m_operation.createdInPlace &&
                                  there.kind == EntryKind::File && there.length == object.size;
        const Step copyHome =
            object.copiedInto(there, m_seen.user)
                ? putBack(m_operation.to, m_operation.from, {std::nullopt, object, true, identities()})
            : ownWholeCopy ? putBack(m_operation.to, m_operation.from,
                                     {there.identity, ObjectState::of(there), true, identities()})
                           : Step{};
        const auto aside = setAside(m_operation.from, object, m_operation.to, m_operation.placed);
        if (!aside) return pending();
        if (!*aside) return just(copyHome);
        // Back under its name, the object itself makes the copy a second one; a copy
        // brought back is the file, and the run's copy stays.
        return trying(bringingBack(**aside), (*aside)->copy ? Step{} : secondCopy(there, false), copyHome);
    }

    Decision copy() {
        const QString& source = m_operation.from;
        const QString& copy = m_operation.to;
        const Look* there = whereRunPut(copy);
        if (!there) return pending();
        if (auto refused = unreachable(copy, *there)) return *refused;
        if (!there->entry) return nothing();
        const bool killed = !m_operation.outcome;
        if (!killed && !isObject(there->entry, m_operation.placed, copy)) return leave(copy, kAnotherFile);
        if (!killed && !unchanged(*there->entry, m_operation.placed, copy)) return leave(copy, kChanged);
        const auto kept = keptByAnother(copy, *there->entry);
        if (!kept) return pending();
        if (*kept) return **kept;
        const Look* original = look(source);
        if (!original) return pending();
        if (!original->entry) return leave(copy, QStringLiteral("元のファイルが見つからない"));
        // An overlay's edge between them: the copy's bytes cannot be proved to stay the original's.
        if (!platform::mountsLetDuplicateGo(*there->entry, *original->entry))
            return leave(copy, QStringLiteral("オーバーレイの内と外にあるため消せない"));
        if (killed && m_operation.createdInPlace) {
            // Written under its name: the run's file, however far it got, or another's.
            if (!(there->entry->identity == *m_operation.createdInPlace)) return nothing();
            return just(partialCopy(false));
        }
        // Removed only when it still holds the bytes of its original, proved byte for byte.
        Step step = removal(Act::RemoveRunCopy, copy, source, there->entry->identity);
        step.quietIfOther = killed;  // not the killed run's copy: another file took the name
        // Killed as it created its copy under the name, before it could say which file that
        // is: what holds the name may be that copy, empty.
        if (killed && m_operation.inPlace) return trying(step, {}, leaving(copy, kMaybePartial));
        return just(step);
    }

    Decision duplicate() {
        const QString& source = m_operation.from;
        const QString& keeper = m_operation.keeper;
        const Look* there = look(source);
        if (!there) return pending();
        if (auto refused = unreachable(source, *there)) return *refused;
        if (there->entry) {
            // Made again by an earlier undo; one killed may not have set its attributes.
            const auto back = givenBackAt(source, *there->entry, m_operation.keeperState, keeper);
            if (!back) return pending();
            if (*back)
                return (*back)->killed ? just(onEntry(Act::GiveAttributes, source, there->entry->identity)) : nothing();
            // Never deleted by a killed run; otherwise another file took the name.
            if (!m_operation.outcome && isObject(there->entry, m_operation.object, source)) return nothing();
            if (!m_operation.outcome) return nothing();
            if (identities()) return leave(source, kNameTaken);
            const std::optional<bool> same = sameBytes(source, keeper);
            if (!same) return pending();
            return *same ? nothing() : leave(source, kNameTaken);
        }
        const auto aside = setAside(source, m_operation.object, keeper);
        if (!aside) return pending();
        const std::optional<Step> again = madeAgain();
        if (!again) return pending();
        if (*aside) return trying(bringingBack(**aside), {}, *again);
        return just(*again);
    }

    // A deleted duplicate made again from its keeper, or why it cannot be.
    std::optional<Step> madeAgain() {
        const QString& source = m_operation.from;
        const Look* kept = look(m_operation.keeper);
        if (!kept) return std::nullopt;
        if (kept->error != 0) return unreachable(m_operation.keeper, *kept)->tries.first();
        if (!kept->entry || kept->entry->kind != EntryKind::File)
            return leaving(source, QStringLiteral("同じ内容のファイルが見つからない"));
        if (!keeperUnchanged(*kept->entry, m_operation))
            return leaving(source, QStringLiteral("同じ内容のファイルが変更されている"));
        const std::optional<QString> refused = keeperRefused(*kept->entry);
        if (!refused) return std::nullopt;
        if (!refused->isEmpty()) return leaving(source, *refused);
        const bool named = m_operation.checksumsRecorded && m_operation.sameFile;
        return onEntry(named ? Act::NameAgain : Act::MakeAgain, source, kept->entry->identity);
    }

    // Why the keeper's bytes cannot be taken for the deleted file's beyond its state: no
    // checksum of them was recorded (a run killed before it said), or, undoing as root,
    // a user other than the file's owner could have written them since. (Journals before
    // checksums keep the checks of their time.) Nothing while that is not known yet.
    std::optional<QString> keeperRefused(const EntryInfo& kept) {
        if (!m_operation.checksumsRecorded) return QString();
        if (!m_operation.sameFile && !m_operation.checksum) return QStringLiteral("同じ内容か確かめられない");
        if (m_seen.user != 0) return QString();
        const quint32 owner = m_operation.object.owner;
        const auto group = m_seen.primaryGroups.constFind(owner);
        if (group == m_seen.primaryGroups.cend()) {
            m_question = {Question::Kind::PrimaryGroup, {}, {}, owner, {}};
            return std::nullopt;
        }
        const bool othersWrite =
            (kept.mode & kOthersMayWrite) != 0 || ((kept.mode & kGroupMayWrite) != 0 && *group != kept.group);
        if (kept.owner != owner || othersWrite)
            return QStringLiteral("同じ内容のファイルを他のユーザーが書き換えられる");
        return QString();
    }

    Decision removedFolder() {
        const QString& folder = m_operation.from;
        const Look* there = look(folder);
        if (!there) return pending();
        if (auto refused = unreachable(folder, *there)) return *refused;
        if (!there->entry) return just(onEntry(Act::MakeFolder, folder));
        const bool aFolder = there->entry->kind == EntryKind::Folder && !there->entry->mountRoot;
        // Made again by an earlier undo that was killed before it could finish it.
        if (aFolder) {
            const auto back = givenBackAt(folder, *there->entry);
            if (!back) return pending();
            if (*back)
                return (*back)->killed ? just(onEntry(Act::FinishFolder, folder, there->entry->identity)) : nothing();
        }
        // Never removed by a killed run (without identities: any folder is taken for it).
        const bool itself = !identities() || loose(folder) || there->entry->identity == m_operation.object.id;
        if (aFolder && itself && (!m_operation.outcome || !identities())) return nothing();
        return leave(folder, kNameTaken);
    }

    Decision createdFolder() {
        const QString& folder = m_operation.from;
        const Look* there = whereRunPut(folder);
        if (!there) return pending();
        if (auto refused = unreachable(folder, *there)) return *refused;
        if (!there->entry) return nothing();
        // Not the folder it made: the run was killed before it made one, or another entry
        // took the name.
        const bool itself =
            there->entry->kind == EntryKind::Folder &&
            (!m_operation.placed.known || loose(folder) || there->entry->identity == m_operation.placed.id);
        if (!itself) return m_operation.outcome ? leave(folder, kNameTaken) : nothing();
        return just(onEntry(Act::RemoveFolder, folder, there->entry->identity));
    }

    // A name the run gives only to its own copies before they are published, and to files
    // it makes to learn what a disk can do: never a user's file. It goes while its bytes
    // begin those of a file the run used in that folder (an empty one, those of any).
    Decision unpublished(const QString& hidden, const EntryInfo& file, const QList<const Operation*>& operations) {
        const QString folder = folderOf(hidden);
        QStringList originals;
        for (const Operation* operation : operations) {
            const bool beside =
                folderOf(operation->from) == folder || (!operation->to.isEmpty() && folderOf(operation->to) == folder);
            if (!beside) continue;
            for (const QString& path : {operation->from, operation->keeper, operation->to}) {
                if (!path.isEmpty() && !originals.contains(path)) originals.append(path);
            }
        }
        QStringList unseen;
        for (const QString& path : std::as_const(originals)) {
            if (!m_seen.looks.contains(path)) unseen.append(path);
        }
        if (!unseen.isEmpty()) {
            m_question = {Question::Kind::Look, unseen.takeFirst(), {}, 0, unseen};
            return pending();
        }
        Decision decision;
        for (const QString& path : std::as_const(originals)) {
            const Look original = m_seen.looks.value(path);
            if (!original.entry || original.entry->kind != EntryKind::File || file.kind != EntryKind::File) continue;
            Step step = removal(Act::RemovePartialCopy, hidden, path, file.identity);
            step.quiet = true;
            decision.tries.append(step);
        }
        decision.otherwise = leaving(hidden, QStringLiteral("隠し名のまま残した(記録にないファイル)"));
        return decision;
    }

    // What the operation recorded that the file is, or is a copy of.
    const ObjectState* fileOf(const Operation& operation, const EntryInfo& file) const {
        if (file.kind != EntryKind::File) return nullptr;
        for (const ObjectState* state : {&operation.object, &operation.placed, &operation.keeperState}) {
            if (state->known && (state->id == file.identity || state->copiedInto(file, m_seen.user))) return state;
        }
        return nullptr;
    }

    const Operation& m_operation;
    const Reading& m_reading;
    const SeenNow& m_seen;
    Question m_question;
    const Look m_nothing;
};

const Operation kNoOperation;
const Reading kNoReading;

}  // namespace

QString errorReason(int error) {
    return QStringLiteral("エラー(%1)").arg(platform::Status{error}.code());
}

Decision decide(const Operation& operation, const Reading& reading, const SeenNow& seen) {
    return Decider(operation, reading, seen).decide();
}

Decision decideKilledUndoCopy(const Operation& operation, const SeenNow& seen) {
    return Decider(operation, kNoReading, seen).killedUndoCopy();
}

Decision decideHidden(const QString& hidden, HiddenKind kind, const QList<const Operation*>& operations,
                      const SeenNow& seen) {
    return Decider(kNoOperation, kNoReading, seen).hidden(hidden, kind, operations);
}

QList<FolderTime> folderTimesToGiveBack(const Reading& reading, const QHash<QString, Identity>& held) {
    QHash<Identity, qint64> before;
    QHash<Identity, qint64> lastTouch;
    QHash<Identity, QString> pathOf;
    QList<Identity> order;
    for (const journal::Seen& folder : reading.seen) {
        const auto now = held.constFind(folder.path);
        if (now == held.cend()) continue;
        const Identity identity = *now;
        if (!before.contains(identity)) {
            before.insert(identity, folder.mtime);
            pathOf.insert(identity, folder.path);
            order.append(identity);
        }
        const LastTouch touch = reading.folders.value(folder.path);
        if (touch.ns != 0 || touch.unknown)
            lastTouch[identity] = std::max(lastTouch.value(identity), touch.bound(reading.startNs));
    }
    QList<FolderTime> times;
    for (const Identity& identity : order) {
        if (!lastTouch.contains(identity)) continue;
        times.append({pathOf.value(identity), identity, before.value(identity), lastTouch.value(identity)});
    }
    return times;
}

platform::Attributes finishedFolderAttributes(const Operation& removal, const Reading& reading) {
    platform::Attributes attributes = removal.object.attributes();
    attributes.owner = attributes.group = platform::Attributes::kKeepId;
    if (const auto before = reading.folderTimes.constFind(removal.from); before != reading.folderTimes.cend()) {
        attributes.accessedNs = before->accessedNs;
        attributes.modifiedNs = before->modifiedNs;
    }
    return attributes;
}

}  // namespace kurumu::transfer::undo
