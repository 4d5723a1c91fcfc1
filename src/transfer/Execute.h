#pragma once

#include "transfer/RunDriver.h"

#include <QString>
#include <QStringList>

#include <vector>

// Execute: every group of a judged list run in turn into its leader's folder. The one
// walk that the window, the batch mode, the dry run and the journal all use.
namespace kurumu::transfer {

// One group of the judged list, by the items' paths.
struct Group {
    QString leader;
    QStringList members;
};

class ExecuteHost : public RunHost {
public:
    // The walk reaches a group: its leader's folder becomes the destination. (A last
    // group of its leader alone is not reached: the walk ends on it.)
    virtual void groupReached(std::size_t group, const QString& destinationFolder) = 0;
    // The group's run has ended; membersDone members went through to the end (all of
    // them unless the run stopped).
    virtual void groupEnded(std::size_t group, qsizetype membersDone) = 0;
};

// Runs every group that has members, in order, its leader first. Stop, or an error that
// asks for it, ends the whole Execute. Returns true when every group ran to its end.
// Folders made before the run for it (by folder creation) are never walked, as those the
// run makes itself.
bool Execute(RunVariables& variables, ExecuteHost& host, platform::FileServices& files, const RunOptions& options,
             const std::vector<Group>& groups, const QSet<platform::Identity>& madeFolders = {});

}  // namespace kurumu::transfer
