#pragma once

#include "platform/Errors.h"
#include "platform/StateFolder.h"
#include "transfer/JournalFormat.h"
#include "transfer/RunRecords.h"
#include "transfer/UndoReading.h"

#include <QList>
#include <QString>
#include <QStringList>

// The runs kept: the catalogue behind --history and the window's 元に戻す…, and the choice of
// the run an undo takes back.
namespace kurumu::transfer {

// Every journal in the state folder's runs, oldest first.
QList<RunSummary> runHistory(const platform::StateFolder& state);

// The run an undo takes back: the one named, or (when the id is empty) the last run that
// is not itself an undo and was not taken back already. ENOENT when there is none, EINVAL
// for an undo (never taken back), EBUSY for a run still going or being taken back now.
platform::Result<RunSummary> runToUndo(const QList<RunSummary>& runs, const QString& runId);

// The runs an undo of this one also takes back (the folder creations it builds on), and itself.
QStringList takenBackTogether(const RunSummary& run);
// Whether the undo takes back one of the runs named.
bool isUndoOf(const RunSummary& undo, const QStringList& ids);

// The journals an undo of a run reads: the run's, those of the folder creations it builds
// on, those of its earlier undos, and what other kept runs keep of its files.
struct JournalsToUndo {
    journal::Journal run;
    QList<journal::Journal> folderRuns;
    QList<std::pair<QString, journal::Journal>> undos;  // by their paths
    QMultiHash<QString, undo::KeptByOther> keptByOthers;
};
// EIO when the run's journal does not read, EPERM when one of them is not the user's own.
platform::Result<JournalsToUndo> journalsToUndo(const platform::StateFolder& state, const QList<RunSummary>& runs,
                                                const RunSummary& run);

}  // namespace kurumu::transfer
