#pragma once

#include "platform/Entry.h"
#include "transfer/JournalRecords.h"

#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QSet>
#include <QString>

#include <algorithm>
#include <optional>

namespace kurumu::transfer::journal {
struct Journal;
}

// What the journals say, for an undo, about each object a run touched: in the run itself,
// in the folder creations it builds on, in its earlier undos and in other kept runs. Only
// values: the journals are read elsewhere, and nothing here looks at the disk.
namespace kurumu::transfer::undo {

// The latest time a run or an undo acted on something, and whether an operation on it
// may have happened without saying when (a kill): then no time can tell a later change.
struct LastTouch {
    qint64 ns = 0;
    bool unknown = false;

    void add(const journal::Operation& operation) {
        if (operation.outcome) {
            ns = std::max(ns, operation.doneNs);
        } else {
            unknown = true;
        }
    }
    void add(qint64 time) { ns = std::max(ns, time); }
    // The latest time of the program's own: an operation that did not say when happened
    // before this undo began (its process is gone, its lock released).
    qint64 bound(qint64 undoStartNs) const { return unknown ? std::max(ns, undoStartNs) : ns; }
};

// What an earlier undo of the run put under a name.
struct GivenBack {
    journal::ObjectState state;  // unknown when that undo was killed before it said
    bool killed = false;
    journal::ObjectState moving;  // killed before it said: the file it was renaming there
};

// A folder that an undo killed before it said so may have made again.
struct FolderMaybeMade {
    QString path;
    qint64 undoStartNs = 0;
    bool refused = false;  // made, then found taken over: nothing went into it
};

// A file another run, not taken back, kept as the same as one it deleted.
struct KeptByOther {
    QString run;
    journal::Operation duplicate;
};

// A folder made whose journal does not say what it is: killed before it said, or found,
// once made, mounted on or put in the place of (then it failed, and its folder may stay).
bool mayHaveMade(const journal::Operation& operation);

// Everything the journals of a run and of its earlier undos say, for this undo, and what
// this undo did so far.
struct Reading {
    QHash<platform::Identity, LastTouch> objects;  // the latest operation of the run or an undo on each object
    QHash<QString, LastTouch> folders;             // the latest operation that added or removed a name in each folder
    QMultiHash<QString, GivenBack> givenBack;
    QMultiHash<QString, KeptByOther> keptByOthers;
    QSet<qint64> processes;                              // those whose hidden names are the run's or its undos'
    QHash<QString, platform::Identity> recordedFolders;  // each folder's identity after the run and its undos
    QSet<QString> looseFolders;  // on disks whose numbers need not last: files there are known by what they hold
    QList<journal::Seen> seen;   // the folders the run used, each first as it was then
    QSet<QString> seenPaths;
    QHash<QString, platform::EntryInfo> folderTimes;  // source folders' times before the run listed them
    QSet<QString> removedByUndos;                     // folders the run made that an earlier undo removed
    QList<FolderMaybeMade> maybeMade;
    qint64 startNs = 0;             // this undo's
    int format = journal::kFormat;  // the oldest of the journals taken back

    // Whether a path is in a folder on a disk whose numbers need not last.
    bool loose(const QString& path) const { return looseFolders.contains(folderOf(path)); }

    // The run's journal (or a folder creation's it builds on): what it did, in order.
    void addRun(const journal::Journal& run);
    // An earlier undo: what it gave back, and what it may have left aside.
    void addUndo(const journal::Journal& undo);
    // This undo acted on an object in a folder at a time.
    void touched(const QString& path, const std::optional<platform::Identity>& object, qint64 now);

private:
    void touch(const journal::Operation& operation);
    void see(const journal::Seen& folder);
    void followFolders(const journal::Operation& operation);
};

}  // namespace kurumu::transfer::undo
