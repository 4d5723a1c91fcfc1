#include "session/Session.h"

#include <cerrno>
#include <utility>

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

DryRun::DryRun() : m_disk(platform::diskServices()), m_services(*m_disk) {}

platform::Result<bool> run(transfer::RunVariables& variables, transfer::ExecuteHost& host,
                           const platform::StateFolder& state, transfer::JournalHeader header,
                           const std::vector<transfer::Group>& groups, const QSet<platform::Identity>& made,
                           DryRun* dryRun) {
    return transfer::executeRun(variables, host, state, std::move(header), groups, made,
                                dryRun != nullptr ? &dryRun->services() : nullptr);
}

QList<transfer::RunSummary> history(const platform::StateFolder& state) {
    return transfer::runHistory(state);
}

platform::Result<transfer::RunSummary> runToUndo(const platform::StateFolder& state) {
    return transfer::runToUndo(transfer::runHistory(state), {});
}

FoldersMade makeGatheringFolders(const platform::StateFolder& state, const transfer::JournalHeader& header,
                                 const QList<judgement::Line>& lines, const FolderMaking& how,
                                 QSet<platform::Identity>& made, DryRun* dryRun) {
    FoldersMade result{{lines, {}}, {}};
    const auto makeThrough = [&](platform::FileServices& files) {
        result.gathered = judgement::withGatheringFolders(
            lines, how.count, how.byCount,
            [&](const QString& path) {
                const platform::Status created = transfer::ensureFolder(files, path, made);
                if (!created.ok() && how.notMade) how.notMade(path, created);
                return created.ok();
            },
            how.only);
        return true;
    };
    if (dryRun != nullptr) {
        makeThrough(dryRun->services());
        return result;
    }
    result.journal = transfer::runJournaled(state, header, makeThrough);
    return result;
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
