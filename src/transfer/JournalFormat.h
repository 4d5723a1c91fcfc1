#pragma once

#include "platform/FileServices.h"
#include "platform/StateFolder.h"
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

// One line of the journal, built field by field.
class Line {
public:
    Line& text(const char* key, const QString& value);
    Line& word(const char* key, const char* value);  // ASCII that needs no escape
    Line& number(const char* key, qint64 value);
    Line& identity(const char* key, const platform::Identity& identity);  // "device:inode"
    Line& flag(const char* key, bool value);
    Line& list(const char* key, const QStringList& values);
    QByteArray finished() const& { return m_bytes + "}\n"; }
    QByteArray finished() && {
        m_bytes += "}\n";
        return std::move(m_bytes);
    }

private:
    void key(const char* name);
    void digits(quint64 value);
    QByteArray m_bytes = initial();
    static QByteArray initial() {
        QByteArray bytes;
        bytes.reserve(512);
        bytes += '{';
        return bytes;
    }
};

// What a journal records of a file or folder: which one it is (device and inode) and what
// it was like. A status-change time is no part of it: no program can set one back, so a
// run's own later operation on the object would look like a change.
struct ObjectState {
    platform::Identity id;
    qint64 size = 0;
    qint64 mtime = 0;
    qint64 atime = 0;
    quint32 mode = 0;
    quint32 owner = 0;
    quint32 group = 0;
    bool known = false;  // the journal gave it

    static ObjectState of(const platform::EntryInfo& entry);
    // The same object, as it was recorded: its identity, length, modification time, mode
    // and owner.
    bool matches(const platform::EntryInfo& entry) const;
    // What a copy of the object made by this process has of it: its length, modification
    // time and permission bits, and its owner where the process could give it (a copy the
    // process could not give the owner belongs to the process).
    bool copiedInto(const platform::EntryInfo& copy) const;
    platform::Attributes attributes() const { return {mode, owner, group, atime, mtime}; }
};

enum class Kind { Move, Copy, Link, Duplicate, MakeFolder, RemoveFolder, Unknown };

// One operation: its line and its done line.
struct Operation {
    qint64 number = 0;
    Kind kind = Kind::Unknown;
    QString from;              // the file moved, copied or deleted; the folder made or removed
    QString to;                // where a file was moved, copied or given another name
    QString keeper;            // the file a deleted duplicate had the bytes of
    ObjectState object;        // what was moved, deleted or removed, before
    ObjectState keeperState;   // the keeper as it was compared
    qint64 keeperCtimeNs = 0;  // format 1 only: the keeper's status-change time then

    // From the done line; none when the run was killed before it said.
    std::optional<QString> outcome;
    qint64 doneNs = 0;
    int error = 0;
    ObjectState placed;               // what the operation made: a copy, a file moved across file systems, a folder
    std::optional<quint32> checksum;  // a copy's CRC-32 register, read back as written; a duplicate's, as compared
    bool sameFile = false;            // a duplicate that was another name of its keeper's file

    bool done() const { return outcome && *outcome == QLatin1String("done"); }
    bool mayHaveHappened() const { return !outcome || done(); }
    // What stands at the operation's destination once it is done.
    const ObjectState& result() const { return placed.known ? placed : object; }
    // The journal's line, written before the operation is tried.
    Line line() const;
    // Its done line.
    Line doneLine() const;
    // A deleted duplicate's proof, written before the source goes.
    Line proofLine() const;
};

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

// A folder as the run first used it.
struct Seen {
    QString path;
    platform::Identity id;
    qint64 mtime = 0;
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
