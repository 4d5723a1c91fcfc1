#pragma once

#include "platform/AppendLog.h"
#include "platform/FileServices.h"
#include "transfer/RunOptions.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

// The run journal: one file per run under the state folder's "runs", in JSON Lines. Its
// first line tells the run (its start, where it came from, its arguments and options);
// then every operation has a line written before it is tried and a line once it is done,
// with the time it was done: a file whose status changed after that time has been changed
// since the run, and an undo leaves it. What an undo must restore that the disk no longer
// holds (a duplicate's own mode and times, a removed folder's mode) is in the first line.
// A run killed at any moment leaves a journal that says which operations may have happened.
namespace kurumu::transfer {

// One line of the journal, built field by field.
class JournalLine {
public:
    JournalLine& text(const char* key, const QString& value);
    JournalLine& number(const char* key, qint64 value);
    JournalLine& flag(const char* key, bool value);
    JournalLine& list(const char* key, const QStringList& values);
    QByteArray finished() const { return m_bytes + "}\n"; }

private:
    void key(const char* name);
    QByteArray m_bytes = initial();
    static QByteArray initial() {
        QByteArray bytes;
        bytes.reserve(512);
        bytes += '{';
        return bytes;
    }
};

// What the first line tells of a run.
struct JournalHeader {
    QString kind = QStringLiteral("run");  // "run", or "undo" of the run named in undoOf
    QString origin;                        // "window" or "batch"
    QStringList arguments;
    RunOptions options;
    qsizetype items = 0;
    QString undoOf;
    QStringList keptJournals;  // not removed to make room: an undo's run and its earlier undos (not written)
};

class Journal {
public:
    // Opens a new journal in the folder, after removing all but the most recent journals.
    static platform::Result<std::unique_ptr<Journal>> open(const QString& folder, const JournalHeader& header);
    explicit Journal(platform::AppendLog log, QString id) : m_log(std::move(log)), m_id(std::move(id)) {}
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;
    ~Journal();

    const QString& id() const { return m_id; }
    const QString& path() const { return m_log.path(); }

    // Writes the line of an operation about to be tried; its number, or the error that
    // kept it from being written (then the operation must not be tried).
    platform::Result<qint64> begin(JournalLine operation);
    void done(qint64 number, const char* outcome, int error = 0);
    // A line that is no operation, such as what a folder was like before the run changed it.
    void note(const JournalLine& line);
    // The last line: how the run ended.
    void finish(const QString& end);

private:
    platform::AppendLog m_log;
    QString m_id;
    qint64 m_last = 0;
    bool m_finished = false;
};

// How many journals are kept; older ones are removed when a run starts.
inline constexpr int kJournalsKept = 50;

// The folder of the journals: the state folder's "runs".
QString journalFolder();

// A file's or folder's identity as a journal writes it: "device:inode".
QString identityText(const platform::Identity& identity);
// The folder that holds a path, without a trailing separator.
QString folderOf(const QString& path);

// The real file services with every change recorded in the journal first.
class JournalingServices final : public platform::FileServices {
public:
    JournalingServices(platform::FileServices& disk, Journal& journal) : m_disk(disk), m_journal(journal) {}

    platform::Result<platform::EntryInfo> probe(const QString& path) override { return m_disk.probe(path); }
    platform::Result<QList<platform::Identity>> folderChain(const QString& path) override {
        return m_disk.folderChain(path);
    }
    platform::Result<QString> realFolder(const QString& path) override { return m_disk.realFolder(path); }
    platform::Result<platform::FolderListing> listFolder(const QString& path) override;
    platform::Result<bool> sameContents(const QString& first, const QString& second,
                                        const platform::KeepGoing& keepGoing) override {
        return m_disk.sameContents(first, second, keepGoing);
    }
    platform::Status createFolder(const QString& path, const QString& model) override;
    platform::Status removeEmptyFolder(const QString& path) override;
    platform::PlaceResult moveFile(const QString& source, const QString& destination,
                                   const platform::KeepGoing& keepGoing) override;
    platform::PlaceResult copyFile(const QString& source, const QString& destination,
                                   const platform::KeepGoing& keepGoing) override;
    platform::Status deleteDuplicate(const QString& source, const QString& keeper,
                                     const platform::KeepGoing& keepGoing) override;

private:
    platform::PlaceResult place(const char* operation, const QString& source, const QString& destination,
                                const platform::KeepGoing& keepGoing);
    platform::Status recorded(JournalLine operation, const std::function<platform::Status()>& act);
    // Notes the identity of the folder that holds a path, the first time the run uses it,
    // so that an undo can tell it from another folder or a link put under its name since.
    void noteFolderOf(const QString& path);

    platform::FileServices& m_disk;
    Journal& m_journal;
    QSet<QString> m_notedFolders;  // forgotten when the run makes or removes the folder
};

}  // namespace kurumu::transfer
