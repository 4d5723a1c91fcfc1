#pragma once

#include "platform/Errors.h"
#include "platform/StateFolder.h"

#include <QList>
#include <QString>
#include <QStringList>

// Taking a run back from its journal, and the list of runs.
namespace kurumu::transfer {

// A run as its journal tells it.
struct RunSummary {
    QString id;
    QString path;
    QString start;  // as the journal has it, ISO 8601
    QString origin;
    QString kind;  // "run" or "undo"
    QString undoOf;
    QStringList after;  // a run: the folder creations it builds on; an undo: those it took back too
    QStringList paths;  // the run's items, as the user gave them
    QString end;        // "finished", "stopped", "undone", ...; empty when the run was killed or is going
    int format = 0;
    qsizetype items = 0;
    qsizetype operations = 0;
    bool running = false;       // its journal is still being written
    bool undone = false;        // an undo of it took everything back
    bool undoFinished = false;  // an undo of it went to its end, whether it took everything back or not
    bool damaged = false;       // its first line does not read: its kind is its marks', empty when they do not tell
};

// Every journal in the state folder's runs, oldest first.
QList<RunSummary> runHistory(const platform::StateFolder& state);

// The run an undo takes back: the one named, or (when the id is empty) the last run that
// is not itself an undo and was not taken back already. ENOENT when there is none, EINVAL
// for an undo (never taken back), EBUSY for a run still going or being taken back now.
platform::Result<RunSummary> runToUndo(const QList<RunSummary>& runs, const QString& runId);

// One line of an undo's report: a path and what became of it.
struct UndoLine {
    enum class Kind {
        Restored,
        Left,  // left as it is: the undo did not take everything back
        Note,  // something worth saying that takes nothing away, such as a folder's time left
    };
    QString path;
    Kind kind = Kind::Restored;
    QString reason;

    bool restored() const { return kind == Kind::Restored; }
    QString text() const;
};

struct UndoReport {
    RunSummary run;
    QString journal;  // the undo's own journal
    QList<UndoLine> lines;
    QList<UndoLine> notes;   // said, but nothing was left for them
    bool everything = true;  // nothing had to be left
};

// Takes back the run named (or the one runToUndo chooses), through its journal in reverse
// order, and then the folder creations it builds on, with the same no-replace,
// complete-or-nothing operations as a run, itself journaled. Only what the journal
// recorded is acted on, in the folders it recorded: whatever changed since the run is left
// as it is and reported by its path; the rest is still done. EPERM when the journals are
// not the user's own, besides the errors of runToUndo.
platform::Result<UndoReport> undoRun(const platform::StateFolder& state, const QString& runId, const QString& origin);

}  // namespace kurumu::transfer
