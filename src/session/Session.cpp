#include "session/Session.h"

#include <cerrno>

namespace kurumu::session {

std::vector<transfer::Group> runGroupsOf(const std::vector<judgement::Group>& groups) {
    std::vector<transfer::Group> runs;
    runs.reserve(groups.size());
    for (const judgement::Group& group : groups) runs.push_back({group.leaderPath, group.memberPaths});
    return runs;
}

transfer::JournalHeader headerOf(const Request& request) {
    transfer::JournalHeader header;
    header.origin = request.origin;
    header.arguments = request.arguments;
    header.paths = request.paths;
    header.options = request.options;
    header.items = request.paths.size();
    return header;
}

UndoStatus undoStatusOf(const platform::Status& status, const QString& named) {
    switch (status.error) {
        case 0:
            return UndoStatus::Done;
        case ENOENT:
            return UndoStatus::NoSuchRun;
        case EINVAL:
            return UndoStatus::UndoOfAnUndo;
        case EBUSY:
            return named.isEmpty() ? UndoStatus::AnotherUndo : UndoStatus::RunStillGoing;
        case EPERM:
            return UndoStatus::NotTrusted;
        case ELOOP:
            return UndoStatus::LockIsLink;
        default:
            return UndoStatus::NotJournaled;
    }
}

UndoOutcome undo(const platform::StateFolder& state, const QString& run, const QString& origin) {
    UndoOutcome outcome;
    outcome.report = transfer::undoRun(state, run, origin);
    outcome.status = undoStatusOf(outcome.report.status, run.isEmpty() ? outcome.report.value.run.id : run);
    return outcome;
}

}  // namespace kurumu::session
