#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>

// What a run tells the program that hosts it, as data: the window binds each report to its
// controls, the batch mode to its standard streams, the tests to a recorder.
namespace kurumu::transfer {

inline const QString kRunStart = QStringLiteral("処理開始");
inline const QString kRunFinished = QStringLiteral("処理終了");
inline const QString kRunStopped = QStringLiteral("処理中止");

// One group of the judged list, by the items' paths.
struct Group {
    QString leader;
    QStringList members;
};

// What a line of the run's log says of its item.
enum class Outcome {
    Started,            // the run's first line
    Moved,              // under its own name
    Copied,             // under its own name
    MovedNumbered,      // under a numbered name, its own being taken by another file
    CopiedNumbered,     // under a numbered name, its own being taken by another file
    DuplicateDeleted,   // moved onto the same bytes: the source goes as a duplicate
    CopyNotNeeded,      // copied onto the same bytes: nothing to copy
    SameFolder,         // its folder is the destination: left where it is
    FileSystemRoot,     // a mount's root: never walked
    FolderNotEmpty,     // a moved folder that still holds something: kept
    NameUnusable,       // a name that cannot be read as text: left
    AttributesNotKept,  // a note: the destination has no place for some attributes of the copies
};

// A log line with what it says: its text as the log shows it, the item, and where it goes
// (empty where it goes nowhere).
struct LogLine {
    QString text;
    Outcome outcome = Outcome::Started;
    QString source;
    QString destination;
};

// How a run ended, for the host to show.
struct RunEnd {
    bool stopped = false;
    QString resultText;  // the log and "処理終了", or the log and "処理中止"
    QString startTime;
    QString endTime;
    bool disableCreateFolders = true;
};

// Everything a run, an Execute over groups, or one transfer reports. Each report has an
// empty default: a host answers what it shows.
class RunHost {
public:
    RunHost() = default;
    RunHost(const RunHost&) = delete;
    RunHost& operator=(const RunHost&) = delete;
    virtual ~RunHost() = default;

    // A warning, brought to the front; detail names the file and the system's reason, beside
    // the warning's own text.
    virtual void showWarning(const QString& /*title*/, const QString& /*text*/, const QString& /*detail*/ = {}) {}
    // An item failed (its path and why), whether a warning was shown for it or not.
    virtual void itemFailed(const QString& /*detail*/) {}
    // A line enters the log, before what it announces is done: the item under way.
    virtual void logged(const LogLine& /*line*/) {}
    // What a logged line announced is done (at once for a line that announces nothing to
    // do). A line whose operation failed, or found its name taken meanwhile, is never done.
    virtual void carriedOut(const LogLine& /*line*/) {}
    // Lets the host handle its pending events once (a click on Stop, for instance).
    virtual void processEvents() {}
    // A run has started at startTime with itemCount items: progress 0 of itemCount.
    virtual void runStarted(const QString& /*startTime*/, qint32 /*itemCount*/) {}
    // Item index (from 1) starts.
    virtual void itemStarted(qint32 /*index*/) {}
    // The item under way is a long copy, or a comparison, of one file: done of its total
    // bytes are done. Told at least every half second while it lasts.
    virtual void fileProgress(qint64 /*done*/, qint64 /*total*/) {}
    virtual void runEnded(const RunEnd& /*end*/) {}
    // The walk reaches a group: its leader's folder becomes the destination. (A last group
    // of its leader alone is not reached: the walk ends on it.)
    virtual void groupReached(std::size_t /*group*/, const QString& /*destinationFolder*/) {}
    // The group's run has ended; membersDone members went through to the end (all of them
    // unless the run stopped).
    virtual void groupEnded(std::size_t /*group*/, qsizetype /*membersDone*/) {}
};

}  // namespace kurumu::transfer
