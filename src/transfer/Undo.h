#pragma once

#include "platform/Errors.h"
#include "platform/StateFolder.h"
#include "transfer/RunRecords.h"

#include <QList>
#include <QString>
#include <QStringList>

// Taking a run back from its journal, and the list of runs.
namespace kurumu::transfer {

// Every journal in the state folder's runs, oldest first.
QList<RunSummary> runHistory(const platform::StateFolder& state);

// The run an undo takes back: the one named, or (when the id is empty) the last run that
// is not itself an undo and was not taken back already. ENOENT when there is none, EINVAL
// for an undo (never taken back), EBUSY for a run still going or being taken back now.
platform::Result<RunSummary> runToUndo(const QList<RunSummary>& runs, const QString& runId);

// Takes back the run named (or the one runToUndo chooses), through its journal in reverse
// order, and then the folder creations it builds on, with the same no-replace,
// complete-or-nothing operations as a run, itself journaled. Only what the journal
// recorded is acted on, in the folders it recorded: whatever changed since the run is left
// as it is and reported by its path; the rest is still done. EPERM when the journals are
// not the user's own, besides the errors of runToUndo.
platform::Result<UndoReport> undoRun(const platform::StateFolder& state, const QString& runId, const QString& origin);

}  // namespace kurumu::transfer
