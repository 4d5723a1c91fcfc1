#include "transfer/Journal.h"

#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/TimeOfDay.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>

namespace kurumu::transfer {

namespace {

using platform::PlaceOutcome;
using platform::PlaceResult;
using platform::Status;

QString outcomeName(PlaceOutcome outcome) {
    switch (outcome) {
        case PlaceOutcome::Placed:
            return QStringLiteral("done");
        case PlaceOutcome::Occupied:
            return QStringLiteral("occupied");
        case PlaceOutcome::Abandoned:
            return QStringLiteral("abandoned");
        case PlaceOutcome::Failed:
            break;
    }
    return QStringLiteral("failed");
}

// The runs an undo's journal names: read from its first line, which an undo keeps short.
QStringList runsTakenBackBy(const platform::StateFolder& state, const QString& name) {
    constexpr qint64 kUndoHeader = 4096;
    bool privateToUser = false;
    const platform::Result<QByteArray> start = state.readRunFile(name, kUndoHeader, privateToUser);
    const qsizetype end = start.value.indexOf('\n');
    if (!start.ok() || end < 0) return {};
    const std::optional<journal::Journal> head = journal::parse(QByteArrayView(start.value).first(end + 1), {});
    if (!head || head->headerDamaged || head->header.kind != QLatin1String("undo")) return {};
    return QStringList{head->header.undoOf} + head->header.after;
}

// The journals as the units that are kept or removed together: a run with its undos
// (an undo goes with the runs it names, which it may not have taken back wholly, and they
// with it), each unit as old as its newest journal, the oldest unit first.
QList<QStringList> unitsOf(const platform::StateFolder& state, const QStringList& names) {
    QHash<QString, qsizetype> unitOf;  // by id
    QList<QStringList> units;
    for (const QString& name : names) {
        const QString id = platform::GetBaseName(name);
        const QStringList runs = runsTakenBackBy(state, name);
        qsizetype unit = units.size();
        for (const QString& run : runs) {
            if (const auto found = unitOf.constFind(run); found != unitOf.constEnd()) unit = std::min(unit, *found);
        }
        if (unit == units.size()) units.append(QStringList());
        // The units this undo joins become one, under the oldest of their numbers.
        for (const QString& run : runs) {
            const auto found = unitOf.constFind(run);
            if (found == unitOf.constEnd() || *found == unit) continue;
            const qsizetype other = *found;
            for (const QString& member : std::as_const(units[other]))
                unitOf.insert(platform::GetBaseName(member), unit);
            units[unit] += units[other];
            units[other].clear();
        }
        units[unit].append(name);
        unitOf.insert(id, unit);
    }
    units.removeIf([](const QStringList& unit) { return unit.isEmpty(); });
    // Names sort as the journals were opened: a unit is as old as its newest.
    std::sort(units.begin(), units.end(), [](const QStringList& a, const QStringList& b) {
        return *std::max_element(a.cbegin(), a.cend()) < *std::max_element(b.cbegin(), b.cend());
    });
    return units;
}

// Removes the oldest journals until one more fits within those kept, a run with its undos
// together; never one named in keep (an undo's run and its earlier undos, finished from
// them), never one still written, and nothing but a journal.
void makeRoom(const platform::StateFolder& state, const QStringList& keep) {
    QStringList names = state.runFiles();
    names.removeIf([](const QString& name) { return !isJournalName(name); });
    qsizetype count = names.size();
    if (count < kJournalsKept) return;  // room enough: no journal need be read to choose
    for (const QStringList& unit : unitsOf(state, names)) {
        if (count < kJournalsKept) return;
        const bool stays = std::any_of(unit.cbegin(), unit.cend(), [&](const QString& name) {
            return keep.contains(platform::GetBaseName(name)) || state.runFileWritten(name);
        });
        if (stays) continue;
        for (const QString& name : unit) state.removeRunFile(name);
        count -= unit.size();
    }
}

}  // namespace

QStringView folderViewOf(QStringView path) {
    const QStringView trimmed = platform::withoutTrailingSeparators(path);
    const qsizetype slash = platform::lastSeparator(trimmed);
    if (slash < 0 || trimmed.size() == 1) return {};
    if (slash == 0) return trimmed.first(1);
    return platform::withoutTrailingSeparators(trimmed.first(slash));
}

QString folderOf(const QString& path) {
    return folderViewOf(path).toString();
}

bool isJournalName(const QString& name) {
    static const QRegularExpression form(QStringLiteral("^[0-9]{8}-[0-9]{6}-[0-9]{3}-[0-9]+\\.jsonl$"));
    return form.match(name).hasMatch();
}

// Room kept at the end of the file for the line that says how the run ended, with the
// page mark before it: a volume that fills up still leaves the journal its end.
constexpr qint64 kEndRoom = 256;

platform::Result<std::unique_ptr<Journal>> Journal::open(const platform::StateFolder& state, JournalHeader header,
                                                         const QStringList& keep) {
    makeRoom(state, keep);
    // Named by the time in UTC, so that the names sort as the runs happened, whatever the
    // time zone or a clock put back for daylight saving time.
    QDateTime now = QDateTime::fromMSecsSinceEpoch(platform::wallClockNs() / 1'000'000, Qt::UTC);
    const qint64 pid = platform::processId();
    const auto nameAt = [pid](const QDateTime& time) -> QString {
        return time.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + u'-' + QString::number(pid);
    };
    QString id = nameAt(now);
    platform::Result<platform::AppendLog> log = state.createRunFile(id + u".jsonl");
    // Two runs of one process within one millisecond: the second is named a millisecond
    // later, so that it still sorts after the first (a suffix would sort before it).
    while (!log.ok() && log.status.error == EEXIST) {
        now = now.addMSecs(1);
        id = nameAt(now);
        log = state.createRunFile(id + u".jsonl");
    }
    if (!log.ok()) return {nullptr, log.status};
    header.id = id;
    header.pid = pid;
    header.boot = QString::fromLatin1(platform::bootId());
    header.start = now.toOffsetFromUtc(now.toLocalTime().offsetFromUtc()).toString(Qt::ISODateWithMs);
    auto journal = std::make_unique<Journal>(std::move(log.value), id, header.kind);
    if (const Status written = journal->m_log.append(header.line().closed(), kEndRoom); !written.ok()) {
        // A journal without its first line tells of no run: it goes, rather than stand
        // as the last run for the next undo.
        journal->m_finished = true;
        (void)journal->m_log.close();
        (void)state.removeRunFile(id + u".jsonl");
        return {nullptr, written};
    }
    return {std::move(journal), {}};
}

Journal::~Journal() {
    if (!m_finished) (void)finish(QStringLiteral("closed"));
}

// Pages are marked as small as any system's, so that whatever a power cut leaves of a page
// takes no more than that page's mark with it.
constexpr qint64 kMarkedPage = 4096;

Status Journal::append(journal::Line line, bool end) {
    const qint64 spare = end ? 0 : kEndRoom;
    if (const qint64 page = m_log.length() / kMarkedPage; page != m_markedPage) {
        if (const Status marked = m_log.append(journal::markLine(m_kind).closed(), spare); !marked.ok()) return marked;
        m_markedPage = page;
    }
    return m_log.append(line.closed(), spare);
}

Status Journal::begin(journal::Operation& operation) {
    operation.number = m_last + 1;
    if (const Status written = append(operation.line()); !written.ok()) return written;
    ++m_last;
    return {};
}

Status Journal::done(journal::Operation& operation) {
    operation.doneNs = platform::wallClockNs();
    return written(append(operation.doneLine()));
}

Status Journal::note(const JournalLine& line) {
    return written(append(line));
}

Status Journal::written(const Status& status) {
    if (!status.ok()) m_lineLost = true;
    return status;
}

Status Journal::finish(const QString& end) {
    m_finished = true;
    const Status ended = append(journal::endLine(m_lineLost ? QStringLiteral("stopped") : end), true);
    const Status closed = m_log.close();
    return ended.ok() ? closed : ended;
}

Status JournalingServices::begin(journal::Operation& operation) {
    m_probed = {};  // what was seen before a change may be changed by it
    const Status written = m_journal.begin(operation);
    if (written.ok()) return {};
    // Nothing is done that the journal does not know of.
    tellFailure(written);
    return Status{ECANCELED};
}

// A line the journal did not take: the run stops (its handler says so), as for an
// operation's own line.
void JournalingServices::tellFailure(const Status& status) const {
    if (!status.ok() && m_journalFailed) m_journalFailed(status);
}

template <typename Act>
Status JournalingServices::recorded(journal::Operation& operation, const Act& act) {
    if (const Status written = begin(operation); !written.ok()) return written;
    const Status status = act();
    operation.outcome = status.ok() ? QStringLiteral("done") : QStringLiteral("failed");
    operation.error = status.error;
    tellFailure(m_journal.done(operation));
    return status;
}

template <typename Act>
PlaceResult JournalingServices::placed(journal::Operation& operation, const Act& act) {
    if (const Status written = begin(operation); !written.ok()) return {PlaceOutcome::Failed, written, {}};
    const PlaceResult result = act();
    operation.outcome = outcomeName(result.outcome);
    operation.error = result.status.error;
    operation.placed = journal::ObjectState::of(result.placed);
    // Renamed on an overlay, and given other numbers by it: what stands there is the
    // object under the numbers read from it after the rename.
    if (result.renumbered && result.renumbered->before == operation.object.id)
        operation.placed = journal::ObjectState::of(result.renumbered->after);
    operation.checksum = result.checksum;
    tellFailure(m_journal.done(operation));
    return result;
}

platform::Result<platform::EntryInfo> JournalingServices::probe(const platform::Path& path) {
    const platform::Result<platform::EntryInfo> entry = m_disk.probe(path);
    if (entry.ok()) {
        m_probed[m_nextProbed] = {path, entry.value};
        m_nextProbed = (m_nextProbed + 1) % m_probed.size();
    }
    return entry;
}

journal::ObjectState JournalingServices::stateOf(const platform::Path& path) {
    for (const Probed& probed : m_probed) {
        if (probed.path == path) return journal::ObjectState::of(probed.info);
    }
    const platform::Result<platform::EntryInfo> entry = m_disk.probe(path);
    return entry.ok() ? journal::ObjectState::of(entry.value) : journal::ObjectState{};
}

// A folder's times as they were before the run took anything out of it, for an undo
// that has to make it again.
platform::Result<platform::FolderListing> JournalingServices::listFolder(const platform::Path& path) {
    if (const platform::Result<platform::EntryInfo> folder = m_disk.probe(path); folder.ok() && folder.value.exists())
        tellFailure(m_journal.note(journal::folderTimesLine(path, folder.value)));
    return m_disk.listFolder(path);
}

// ECANCELED when the line could not be written: then the operation in that folder is not
// tried, since an undo would not find its way to it.
Status JournalingServices::noteFolderOf(const QString& path) {
    const QStringView folderView = folderViewOf(path);
    // The folders noted last, a run's source and destination, are the ones most often asked for.
    if (std::find(m_recentlyNoted.cbegin(), m_recentlyNoted.cend(), folderView) != m_recentlyNoted.cend()) return {};
    const QString folder = folderView.toString();
    if (m_notedFolders.contains(folder)) {
        remember(folder);
        return {};
    }
    // The folder itself, also where its name is a link to it, as the services hold it.
    const platform::Result<platform::EntryInfo> info = m_disk.heldFolder(folder);
    if (!info.ok() || info.value.kind != platform::EntryKind::Folder) return {};
    if (const Status written = m_journal.note(
            journal::seenLine({folder, info.value.identity, info.value.modifiedNs, info.value.identityLoose}));
        !written.ok()) {
        tellFailure(written);
        return Status{ECANCELED};
    }
    m_notedFolders.insert(folder);
    remember(folder);
    return {};
}

void JournalingServices::remember(const QString& folder) {
    std::shift_right(m_recentlyNoted.begin(), m_recentlyNoted.end(), 1);
    m_recentlyNoted.front() = folder;
}

void JournalingServices::forgetNoted(const platform::Path& folder) {
    m_notedFolders.remove(platform::withoutTrailingSeparator(folder));
    m_recentlyNoted = {};
}

Status JournalingServices::noteFoldersOf(const QString& path, const QString& other) {
    if (const Status noted = noteFolderOf(path); !noted.ok()) return noted;
    return noteFolderOf(other);
}

Status JournalingServices::createFolder(const platform::Path& path, const platform::Path& model,
                                        platform::FolderUse use) {
    if (const Status noted = noteFolderOf(path); !noted.ok()) return noted;
    forgetNoted(path);
    journal::Operation operation;
    operation.kind = journal::Kind::MakeFolder;
    operation.from = platform::withoutTrailingSeparator(path);
    return recorded(operation, [&] {
        const Status made = m_disk.createFolder(path, model, use);
        if (made.ok()) {
            const platform::Result<platform::EntryInfo> folder = m_disk.heldFolder(path);
            if (folder.ok()) operation.placed = journal::ObjectState::of(folder.value);
        }
        return made;
    });
}

Status JournalingServices::removeEmptyFolder(const platform::Path& path) {
    if (const Status noted = noteFolderOf(path); !noted.ok()) return noted;
    forgetNoted(path);
    journal::Operation operation;
    operation.kind = journal::Kind::RemoveFolder;
    operation.from = platform::withoutTrailingSeparator(path);
    operation.object = stateOf(path);
    return recorded(operation, [&] { return m_disk.removeEmptyFolder(path); });
}

PlaceResult JournalingServices::moveFile(const platform::Path& source, const platform::Path& destination,
                                         const platform::KeepGoing& keepGoing, const platform::CreatedHandler&) {
    return transferred(journal::Kind::Move, source, destination, keepGoing);
}

PlaceResult JournalingServices::copyFile(const platform::Path& source, const platform::Path& destination,
                                         const platform::KeepGoing& keepGoing, const platform::CreatedHandler&) {
    return transferred(journal::Kind::Copy, source, destination, keepGoing);
}

// A new name records what it names (in its done line).
PlaceResult JournalingServices::linkFile(const platform::Path& existing, const platform::Path& destination) {
    if (const Status noted = noteFoldersOf(existing, destination); !noted.ok())
        return {PlaceOutcome::Failed, noted, {}};
    journal::Operation operation;
    operation.kind = journal::Kind::Link;
    operation.from = existing;
    operation.to = destination;
    return placed(operation, [&] { return m_disk.linkFile(existing, destination); });
}

// A move records the file it moves; a copy, what it made (in its done line).
PlaceResult JournalingServices::transferred(journal::Kind kind, const platform::Path& source,
                                            const platform::Path& destination, const platform::KeepGoing& keepGoing) {
    if (const Status noted = noteFoldersOf(source, destination); !noted.ok()) return {PlaceOutcome::Failed, noted, {}};
    journal::Operation operation;
    operation.kind = kind;
    operation.from = source;
    operation.to = destination;
    const bool move = kind == journal::Kind::Move;
    if (move) operation.object = stateOf(source);
    // A copy written under its destination name itself: that it is about to be made, then
    // which file it is, before a byte is written, so that an undo after a kill knows the
    // partial file for the run's, or says that one may be there.
    const platform::CreatedHandler recordCreated = [&](const std::optional<platform::EntryInfo>& made) {
        operation.inPlace = true;
        if (made) operation.createdInPlace = made->identity;
        const Status written = m_journal.note(operation.createdLine());
        if (!written.ok()) tellFailure(written);
        return written.ok() ? Status{} : Status{ECANCELED};
    };
    return placed(operation, [&] {
        return move ? m_disk.moveFile(source, destination, keepGoing, recordCreated)
                    : m_disk.copyFile(source, destination, keepGoing, recordCreated);
    });
}

platform::Result<platform::DuplicateProof> JournalingServices::deleteDuplicate(const platform::Path& source,
                                                                               const platform::Path& keeper,
                                                                               const platform::KeepGoing& keepGoing,
                                                                               const platform::ProofHandler&) {
    // What it takes to make the source again from the keeper: the source's own mode, owner
    // and times, the keeper as it is now, and the checksum of the bytes compared (in a line
    // of its own before the source goes, so that a kill leaves it too), which tell later
    // whether the keeper still holds the very bytes.
    if (const Status noted = noteFoldersOf(source, keeper); !noted.ok()) return {{}, noted};
    journal::Operation operation;
    operation.kind = journal::Kind::Duplicate;
    operation.from = source;
    operation.keeper = keeper;
    operation.object = stateOf(source);
    operation.keeperState = stateOf(keeper);
    platform::Result<platform::DuplicateProof> proof;
    const auto recordProof = [&](const platform::DuplicateProof& found) {
        operation.checksum = found.checksum;
        operation.sameFile = found.sameFile;
        const Status written = m_journal.note(operation.proofLine());
        if (!written.ok()) tellFailure(written);
        return written.ok() ? Status{} : Status{ECANCELED};
    };
    proof.status = recorded(operation, [&] {
        proof = m_disk.deleteDuplicate(source, keeper, keepGoing, recordProof);
        operation.checksum = proof.value.checksum;
        operation.sameFile = proof.value.sameFile;
        return proof.status;
    });
    return proof;
}

}  // namespace kurumu::transfer
