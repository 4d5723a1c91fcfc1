#pragma once

#include "platform/Errors.h"

#include <QList>
#include <QString>
#include <QStringList>

// What the journals keep of runs, as the doors show it: a run's summary, an undo's report
// and the outcome of journaled work.
namespace kurumu::transfer {

namespace journal {
// Journals of format 2 record the identity of everything they touch; those before (format
// 1, without the key) are taken back with the checks of their time. Format 3 also records
// the checksum of every deleted duplicate's bytes (or that it was another name of its
// keeper), and marks every page of the journal with what it is.
inline constexpr int kIdentityFormat = 2;
inline constexpr int kFormat = 3;
}  // namespace journal

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

// What came of work done under a journal of its own.
struct JournaledOutcome {
    QString id;             // the journal's
    bool finished = false;  // the work went to its end
    platform::Status kept;  // what kept the journal's end from the disk, if anything did
};

}  // namespace kurumu::transfer
