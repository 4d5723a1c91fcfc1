#include "transfer/UndoReading.h"

#include "transfer/JournalFormat.h"

namespace kurumu::transfer::undo {

using journal::Kind;
using journal::Operation;
using platform::Identity;

bool mayHaveMade(const Operation& operation) {
    return !operation.outcome || operation.error == platform::kFolderReplaced;
}

void Reading::touch(const Operation& operation) {
    for (const journal::ObjectState* state : {&operation.object, &operation.placed, &operation.keeperState}) {
        if (state->known) objects[state->id].add(operation);
    }
    if (operation.kind != Kind::Copy && operation.kind != Kind::Link && operation.kind != Kind::Unknown)
        folders[folderOf(operation.from)].add(operation);
    if (!operation.to.isEmpty()) folders[folderOf(operation.to)].add(operation);
}

void Reading::see(const journal::Seen& folder) {
    recordedFolders.insert(folder.path, folder.id);
    if (folder.loose) looseFolders.insert(folder.path);
}

void Reading::addRun(const journal::Journal& run) {
    processes.insert(run.header.pid);
    format = std::min(format, run.header.format);
    for (const journal::Seen& folder : run.seen) {
        see(folder);
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

void Reading::addUndo(const journal::Journal& undo) {
    processes.insert(undo.header.pid);
    for (const journal::Seen& folder : undo.seen) see(folder);
    const bool killed = undo.end.isEmpty();
    for (const Operation& operation : undo.operations) {
        touch(operation);
        followFolders(operation);
        if (operation.kind == Kind::MakeFolder && mayHaveMade(operation) && undo.startNs > 0)
            maybeMade.append({operation.from, undo.startNs, operation.outcome.has_value()});
        if (!operation.mayHaveHappened()) continue;
        if (operation.kind == Kind::Move || operation.kind == Kind::Copy || operation.kind == Kind::Link)
            givenBack.insert(operation.to, {operation.done() ? operation.result() : journal::ObjectState{}, killed,
                                            operation.done() ? journal::ObjectState{} : operation.object});
        if (operation.kind == Kind::MakeFolder && operation.placed.known)
            givenBack.insert(operation.from, {operation.placed, killed, {}});
        if (operation.kind == Kind::RemoveFolder && operation.done()) removedByUndos.insert(operation.from);
    }
}

// Folders made or removed: the identity a name holds after the operation. Where the run
// removed a folder, nothing is to be reached through the name (an empty identity) until
// the undo makes the folder again.
void Reading::followFolders(const Operation& operation) {
    if (!operation.done()) return;
    if (operation.kind == Kind::MakeFolder && operation.placed.known)
        recordedFolders.insert(operation.from, operation.placed.id);
    if (operation.kind == Kind::MakeFolder && !operation.placed.known) recordedFolders.remove(operation.from);
    if (operation.kind == Kind::RemoveFolder) recordedFolders.insert(operation.from, Identity{});
}

void Reading::touched(const QString& path, const std::optional<Identity>& object, qint64 now) {
    folders[folderOf(path)].add(now);
    if (object) objects[*object].add(now);
}

}  // namespace kurumu::transfer::undo
