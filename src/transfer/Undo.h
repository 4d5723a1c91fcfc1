#pragma once

#include "platform/Errors.h"
#include "platform/StateFolder.h"
#include "transfer/RunHistory.h"
#include "transfer/RunRecords.h"

#include <QList>
#include <QString>
#include <QStringList>

// Taking a run back from its journal.
namespace kurumu::transfer {

// Takes back the run named (or the one runToUndo chooses), through its journal in reverse
// order, and then the folder creations it builds on, with the same no-replace,
// complete-or-nothing operations as a run, itself journaled. Only what the journal
// recorded is acted on, in the folders it recorded: whatever changed since the run is left
// as it is and reported by its path; the rest is still done. EPERM when the journals are
// not the user's own, besides the errors of runToUndo.
platform::Result<UndoReport> undoRun(const platform::StateFolder& state, const QString& runId, const QString& origin);

}  // namespace kurumu::transfer
