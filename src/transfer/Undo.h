#pragma once

#include "platform/Errors.h"

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
    QString end;  // "finished", "stopped", "undone", ...; empty when the run was killed
    qsizetype items = 0;
    qsizetype operations = 0;
    bool undone = false;        // an undo of it took everything back
    bool undoFinished = false;  // an undo of it went to its end, whether it took everything back or not
    bool damaged = false;       // its first line does not read: what it was is not known
};

// Every journal in the folder, oldest first.
QList<RunSummary> runHistory(const QString& folder);

// One line of an undo's report: a path and what became of it.
struct UndoLine {
    QString path;
    bool restored = false;
    QString reason;  // why it was left as it is

    QString text() const;
};

struct UndoReport {
    RunSummary run;
    QString journal;  // the undo's own journal
    QList<UndoLine> lines;
    bool everything = true;  // nothing had to be left
};

// Takes back the run named (when the id is empty, the last run that is not itself an undo
// and was not taken back already; ENOENT when there is none), through its journal in reverse order, with the same
// no-replace, complete-or-nothing operations as a run, itself journaled. Whatever changed since the run is left as it
// is and reported by its path; the rest is still done.
platform::Result<UndoReport> undoRun(const QString& folder, const QString& runId, const QString& origin);

}  // namespace kurumu::transfer
