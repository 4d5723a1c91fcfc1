#pragma once

#include "platform/Entry.h"
#include "platform/Path.h"
#include "transfer/RunRecords.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>

#include <optional>
#include <string_view>

// What a journal records of each operation, as values: the records a run writes and an
// undo decides on.
namespace kurumu::transfer {

// The folder that holds a path, without a trailing separator.
QString folderOf(const QString& path);
QStringView folderViewOf(QStringView path);

}  // namespace kurumu::transfer

namespace kurumu::transfer::journal {

// One line of the journal, built field by field.
class Line {
public:
    Line() { m_bytes[0] = '{'; }
    Line& text(std::string_view key, const QString& value);
    // A path, as its bytes.
    Line& path(std::string_view key, const platform::Path& value);
    Line& word(std::string_view key, const char* value);  // ASCII that needs no escape
    Line& number(std::string_view key, qint64 value);
    Line& identity(std::string_view key, const platform::Identity& identity);  // "device:inode"
    Line& flag(std::string_view key, bool value);
    Line& list(std::string_view key, const QStringList& values);
    QByteArray finished() const& { return Line(*this).finished(); }
    QByteArray finished() && { return closed().toByteArray(); }
    // The line ended (once), as bytes that last as long as the line.
    QByteArrayView closed();

    // Room for a line of that many bytes, taken at once before a long line is written: a
    // line that grows field by field is copied, and held twice while it is, at each step.
    void reserve(qsizetype bytes) { room(bytes - m_size); }
    // Bytes that need no escape, written straight into the line: write is given where to
    // write (with room for at most bytes) and whether it writes the first field, and
    // returns where it stopped.
    template <typename Write>
    Line& raw(qsizetype bytes, const Write& write) {
        wrote(write(room(bytes), m_size == 1));
        return *this;
    }

private:
    // Room for n more bytes at the end of the line, where the caller writes them, then
    // says where it stopped (wrote).
    char* room(qsizetype n) {
        if (m_size + n > m_bytes.size()) grow(n);
        return m_bytes.data() + m_size;
    }
    void grow(qsizetype n);
    void wrote(const char* end) { m_size = end - m_bytes.constData(); }
    void put(std::string_view bytes);
    void key(std::string_view name);
    void escaped(QByteArrayView utf8);
    void escaped(QStringView text);

    // The line is the first m_size bytes, the rest room to write in. Most lines fit in the
    // room kept in the line itself, which costs no allocation and is not cleared.
    QVarLengthArray<char, 512> m_bytes = QVarLengthArray<char, 512>(512);
    qsizetype m_size = 1;
    bool m_closed = false;
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
    // The same object, but for its modification time: what a disk that dates every rename
    // (FAT through FUSE) leaves of it once renamed.
    bool matchesButModified(const platform::EntryInfo& entry) const;
    // All but the identity: what a disk whose numbers need not last keeps of it.
    bool matchesButIdentity(const platform::EntryInfo& entry) const;
    // What a copy of the object made by this process has of it: its length, modification
    // time and permission bits, and its owner where the process could give it (a copy the
    // process could not give the owner belongs to the process's effective user).
    // A disk that dates every rename leaves no time to compare (anyTime).
    bool copiedInto(const platform::EntryInfo& copy, quint32 processUser, bool anyTime = false) const;
    platform::Attributes attributes() const { return {mode, owner, group, atime, mtime}; }
};

enum class Kind { Move, Copy, Link, Duplicate, MakeFolder, RemoveFolder, Unknown };

// One operation: its line and its done line.
struct Operation {
    qint64 number = 0;
    Kind kind = Kind::Unknown;
    platform::Path from;       // the file moved, copied or deleted; the folder made or removed
    platform::Path to;         // where a file was moved, copied or given another name
    platform::Path keeper;     // the file a deleted duplicate had the bytes of
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
    // A copy created under its destination name itself (a disk that can publish no other
    // way without replacing): that it was to be, and the file made, told before its bytes
    // were written.
    bool inPlace = false;
    std::optional<platform::Identity> createdInPlace;

    // What the journal could record, by its format: older journals were read into these
    // records with what they did not record unknown.
    bool identitiesRecorded = true;  // the identity of everything touched
    bool checksumsRecorded = true;   // the checksum of a deleted duplicate's bytes

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
    // A copy created in place: about to be (without an identity), then made, before its
    // bytes are written.
    Line createdLine() const;
};

// A folder as the run first used it.
struct Seen {
    QString path;
    platform::Identity id;
    qint64 mtime = 0;
    bool loose = false;  // on a disk whose numbers need not last: what is in it is known by what it holds
};

}  // namespace kurumu::transfer::journal
