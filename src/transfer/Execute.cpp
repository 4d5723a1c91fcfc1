#include "transfer/Execute.h"

#include "platform/Paths.h"

#include <algorithm>

namespace kurumu::transfer {

bool Execute(RunVariables& variables, RunHost& host, platform::FileServices& files, const RunOptions& options,
             const std::vector<Group>& groups, const QSet<platform::Identity>& madeFolders) {
    variables.madeFolders = madeFolders;
    variables.endExecute = false;
    bool everyGroupEnded = true;
    for (std::size_t index = 0; index < groups.size(); ++index) {
        const Group& group = groups[index];
        const bool last = index + 1 == groups.size();
        if (last && group.members.isEmpty()) break;
        RunItems run{QStringList{group.leader} + group.members, platform::withTrailingSeparator(group.leader)};
        host.groupReached(index, run.destinationFolder);
        if (group.members.isEmpty()) continue;  // a leader alone is never run
        const qsizetype done = MatomeJikkou(variables, host, files, options, run);
        host.groupEnded(index, std::max<qsizetype>(0, done - 1));
        if (done == run.items.size()) continue;
        // An error ends its group's run only; Stop ends the whole Execute.
        everyGroupEnded = false;
        if (variables.endExecute) return false;
    }
    return everyGroupEnded;
}

}  // namespace kurumu::transfer
