#pragma once

#include "platform/StateFolder.h"
#include "transfer/JournalRecords.h"
#include "transfer/RunOptions.h"
#include "transfer/RunRecords.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The journal's lines, each kind written and read side by side, so that what an undo reads
// is what a run wrote. A journal is JSON Lines: its first line tells the run; then every
// operation has a line written before it is tried and a "done" line once it is done, with
// the time it was done and what it made; "seen" lines give a folder's identity and its
// modification time the first time the run uses it (again after the run made or removed
// it); "folder" lines give a source folder's times before the run listed it; the last line
// says how the run ended.
namespace kurumu::transfer::journal {

// What the first line tells of a run.
struct Header {
    QString kind = QStringLiteral("run");  // "run", or "undo" of the run named in undoOf; empty when unknown
    int format = kFormat;                  // 0 when unknown
    QString id;
    qint64 pid = 0;  // the process that ran it, whose number its hidden names carry
    QString start;
    QString origin;  // "window" or "batch"
    QString boot;    // the boot of the system it ran in
    QStringList arguments;
    QStringList paths;  // the items of the run, as the user gave them
    RunOptions options;
    qsizetype items = 0;
    QString undoOf;
    QStringList after;  // the runs of folder creation that this run builds on, taken back with it

    Line line() const;
};

// Lines that are no operation.
Line seenLine(const Seen& seen);
Line folderTimesLine(const QString& folder, const platform::EntryInfo& info);
Line endLine(const QString& end);
// What the journal is, repeated on every page it fills, so that a page lost with its
// header still leaves the kind and format of the journal to be read.
Line markLine(const QString& kind);

struct Journal {
    Header header;
    qint64 startNs = 0;  // the header's start, in nanoseconds since the epoch
    QList<Operation> operations;
    QList<Seen> seen;                                 // in the order written
    QHash<QString, platform::EntryInfo> folderTimes;  // source folders' times when first listed
    QString end;                                      // empty when the run was killed
    qsizetype damaged = 0;                            // lines that do not read, and stretches lost to a torn page
    bool headerDamaged = false;  // the first line among them: its kind and format are read from the marks
    bool untrusted = false;      // owned by another user, or writable by others
};

// A journal's bytes read line by line up to their end, or to where a killed run left off;
// zeros with written bytes after them are a torn page: the lines they cut are damaged,
// and the reading goes on after them. Nothing when no line was written. The id is the
// file's name without its extension.
std::optional<Journal> parse(QByteArrayView bytes, const QString& id);
// The journal named in the state folder's runs; nothing when it cannot be read.
std::optional<Journal> read(const platform::StateFolder& state, const QString& name);

}  // namespace kurumu::transfer::journal
