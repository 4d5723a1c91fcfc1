#pragma once

#include "transfer/RunDriver.h"

#include <QSet>

#include <vector>

// Execute: every group of a judged list run in turn into its leader's folder. The one
// walk that the window, the batch mode, the dry run and the journal all use.
namespace kurumu::transfer {

// Runs every group that has members, in order, its leader first. An error reported in a
// group's run ends that run ("処理中止") and the next group runs; Stop
// (RunVariables::requestStop) ends the whole Execute. Returns true when every group ran
// to its end.
// Folders made before the run for it (by folder creation) are never walked, as those the
// run makes itself.
bool Execute(RunVariables& variables, RunHost& host, platform::FileServices& files, const RunOptions& options,
             const std::vector<Group>& groups, const QSet<platform::Identity>& madeFolders = {});

}  // namespace kurumu::transfer
