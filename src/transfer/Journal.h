#pragma once

#include "platform/AppendLog.h"
#include "platform/FileServices.h"
#include "platform/StateFolder.h"
#include "transfer/JournalFormat.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

// The run journal: one file per run under the state folder's "runs" (its lines are told in
// JournalFormat.h). Every operation's line is written before the operation is tried, so
// that a run killed at any moment leaves a journal that says which operations may have
// happened; the writer holds a lock on the file while it writes, so that a journal still
// being written is known for a run still going.
namespace kurumu::transfer {

using JournalHeader = journal::Header;
using JournalLine = journal::Line;

class Journal {
public:
    // Opens a new journal in the folder, after removing all but the most recent journals
    // (never one named in keep, never one still being written).
    static platform::Result<std::unique_ptr<Journal>> open(const platform::StateFolder& state, JournalHeader header,
                                                           const QStringList& keep = {});
    Journal(platform::AppendLog log, QString id, QString kind)
        : m_log(std::move(log)), m_id(std::move(id)), m_kind(std::move(kind)) {}
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;
    ~Journal();

    const QString& id() const { return m_id; }
    const QString& path() const { return m_log.path(); }

    // Numbers the operation and writes its line; the error that kept it from being written
    // (then the operation must not be tried).
    platform::Status begin(journal::Operation& operation);
    // Writes the operation's done line, with the time now; the error that kept it out.
    platform::Status done(journal::Operation& operation);
    // A line that is no operation, such as what a folder was like before the run changed it;
    // the error that kept it out.
    platform::Status note(const JournalLine& line);
    // The last line: how the run ended ("stopped" once a line could not be written, since
    // the journal then no longer tells all the run did), and the journal flushed: the
    // error that kept it from the disk.
    platform::Status finish(const QString& end);

private:
    platform::Status written(const platform::Status& status);
    // Appends a line, after the journal's mark where the line begins a page.
    // A line, with room kept after it for the journal's last line (end, not keeping any).
    platform::Status append(journal::Line line, bool end = false);

    platform::AppendLog m_log;
    QString m_id;
    QString m_kind;
    qint64 m_markedPage = -1;
    qint64 m_last = 0;
    bool m_finished = false;
    bool m_lineLost = false;
};

// How many journals are kept; older ones are removed when a run starts.
inline constexpr int kJournalsKept = 50;

// Whether a name in the journals' folder is of the form a journal is given.
bool isJournalName(const QString& name);

// The real file services with every change recorded in the journal first: what it acts on
// (its identity and state), and what it made. Should the journal not take a line, the
// operation is not tried: it fails with ECANCELED, once journalFailed was told why.
class JournalingServices final : public platform::FileServices {
public:
    using FailureHandler = std::function<void(const platform::Status&)>;
    JournalingServices(platform::FileServices& disk, Journal& journal, FailureHandler journalFailed = {})
        : m_disk(disk), m_journal(journal), m_journalFailed(std::move(journalFailed)) {}

    platform::Result<platform::EntryInfo> probe(const platform::Path& path) override;
    platform::Result<QList<platform::Identity>> folderChain(const platform::Path& path) override {
        return m_disk.folderChain(path);
    }
    platform::Result<QString> realFolder(const platform::Path& path) override { return m_disk.realFolder(path); }
    platform::Result<platform::EntryInfo> heldFolder(const platform::Path& path) override {
        return m_disk.heldFolder(path);
    }
    platform::Result<platform::FolderListing> listFolder(const platform::Path& path) override;
    platform::Result<bool> sameContents(const platform::Path& first, const platform::Path& second,
                                        const platform::KeepGoing& keepGoing) override {
        return m_disk.sameContents(first, second, keepGoing);
    }
    platform::Status createFolder(const platform::Path& path, const platform::Path& model,
                                  platform::FolderUse use) override;
    platform::Status removeEmptyFolder(const platform::Path& path) override;
    platform::PlaceResult moveFile(const platform::Path& source, const platform::Path& destination,
                                   const platform::KeepGoing& keepGoing,
                                   const platform::CreatedHandler& created = {}) override;
    platform::PlaceResult copyFile(const platform::Path& source, const platform::Path& destination,
                                   const platform::KeepGoing& keepGoing,
                                   const platform::CreatedHandler& created = {}) override;
    platform::PlaceResult linkFile(const platform::Path& existing, const platform::Path& destination) override;
    platform::Result<platform::DuplicateProof> deleteDuplicate(const platform::Path& source,
                                                               const platform::Path& keeper,
                                                               const platform::KeepGoing& keepGoing,
                                                               const platform::ProofHandler& proved) override;
    platform::Status removePartialCopy(const platform::Path& copy, const platform::Path& source,
                                       const platform::Identity& made) override {
        return m_disk.removePartialCopy(copy, source, made);
    }
    platform::Status restoreAttributes(const platform::Path& path, const platform::Identity& expected,
                                       const platform::Attributes& attributes) override {
        return m_disk.restoreAttributes(path, expected, attributes);
    }
    platform::Status keepNamesOf(const platform::Path& path) override { return m_disk.keepNamesOf(path); }

private:
    // Writes the operation's line, tries it, writes its done line.
    template <typename Act>
    platform::Status recorded(journal::Operation& operation, const Act& act);
    template <typename Act>
    platform::PlaceResult placed(journal::Operation& operation, const Act& act);
    platform::PlaceResult transferred(journal::Kind kind, const platform::Path& source,
                                      const platform::Path& destination, const platform::KeepGoing& keepGoing);
    platform::Status begin(journal::Operation& operation);
    journal::ObjectState stateOf(const platform::Path& path);
    // Notes the identity of the folder that holds a path, the first time the run uses it,
    // so that an undo can tell it from another folder or a link put under its name since.
    platform::Status noteFolderOf(const QString& path);
    platform::Status noteFoldersOf(const QString& path, const QString& other);
    void remember(const QString& folder);
    void forgetNoted(const platform::Path& folder);
    void tellFailure(const platform::Status& status) const;

    platform::FileServices& m_disk;
    Journal& m_journal;
    FailureHandler m_journalFailed;
    QSet<QString> m_notedFolders;            // forgotten when the run makes or removes the folder
    std::array<QString, 2> m_recentlyNoted;  // of those, the last two asked for
    // The entries the run looked at since its last change: a file it then moves is recorded
    // as it saw it, without asking the disk again.
    struct Probed {
        platform::Path path;
        platform::EntryInfo info;
    };
    std::array<Probed, 2> m_probed;
    std::size_t m_nextProbed = 0;
};

}  // namespace kurumu::transfer
