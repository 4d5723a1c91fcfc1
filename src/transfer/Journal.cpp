#include "transfer/Journal.h"

#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDateTime>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>

namespace kurumu::transfer {

namespace {

using platform::PlaceOutcome;
using platform::PlaceResult;
using platform::Status;

bool needsEscape(char byte) {
    return byte == '"' || byte == '\\' || static_cast<unsigned char>(byte) < 0x20;
}

void appendEscaped(QByteArray& out, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    out += '"';
    if (std::none_of(bytes.cbegin(), bytes.cend(), needsEscape)) {
        out += bytes;  // the usual path: nothing to escape
    } else {
        for (const char byte : bytes) {
            const auto code = static_cast<unsigned char>(byte);
            if (code < 0x20) {
                out += "\\u00";
                out += "0123456789abcdef"[code >> 4];
                out += "0123456789abcdef"[code & 15];
                continue;
            }
            if (needsEscape(byte)) out += '\\';
            out += byte;
        }
    }
    out += '"';
}

const char* outcomeName(PlaceOutcome outcome) {
    switch (outcome) {
        case PlaceOutcome::Placed:
            return "done";
        case PlaceOutcome::Occupied:
            return "occupied";
        case PlaceOutcome::Abandoned:
            return "abandoned";
        case PlaceOutcome::Failed:
            break;
    }
    return "failed";
}

// The time of day in nanoseconds, as the file system stamps a status change.
qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

QString familyName(const Family& family) {
    return family.operation == Operation::Move ? QStringLiteral("move") : QStringLiteral("copy");
}

}  // namespace

void JournalLine::key(const char* name) {
    if (m_bytes.size() > 1) m_bytes += ',';
    m_bytes += '"';
    m_bytes += name;
    m_bytes += "\":";
}

JournalLine& JournalLine::text(const char* name, const QString& value) {
    key(name);
    appendEscaped(m_bytes, value);
    return *this;
}

JournalLine& JournalLine::number(const char* name, qint64 value) {
    key(name);
    std::array<char, 24> digits{};
    const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    m_bytes.append(digits.data(), written.ptr - digits.data());
    return *this;
}

JournalLine& JournalLine::flag(const char* name, bool value) {
    key(name);
    m_bytes += value ? "true" : "false";
    return *this;
}

JournalLine& JournalLine::list(const char* name, const QStringList& values) {
    key(name);
    m_bytes += '[';
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0) m_bytes += ',';
        appendEscaped(m_bytes, values[i]);
    }
    m_bytes += ']';
    return *this;
}

QString identityText(const platform::Identity& identity) {
    return QString::number(identity.device) + u':' + QString::number(identity.inode);
}

QString folderOf(const QString& path) {
    return platform::withoutTrailingSeparator(platform::GetParentfolderName(platform::withoutTrailingSeparator(path)));
}

QString journalFolder() {
    return platform::stateFolder() + QStringLiteral("/runs");
}

platform::Result<std::unique_ptr<Journal>> Journal::open(const QString& folder, const JournalHeader& header) {
    QStringList older = platform::filesIn(folder);
    // The journals an undo reads stay, however old: an undo killed on the way is finished
    // from them.
    qsizetype keptAside = 0;
    for (const QString& id : header.keptJournals) keptAside += older.removeOne(id + u".jsonl") ? 1 : 0;
    while (older.size() + keptAside >= kJournalsKept) platform::removeFile(folder + u'/' + older.takeFirst());
    // Named by the time in UTC, so that the names sort as the runs happened, whatever the
    // time zone or a clock put back for daylight saving time.
    QDateTime now = QDateTime::currentDateTimeUtc();
    const auto nameAt = [](const QDateTime& time) -> QString {
        return time.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + u'-' +
               QString::number(QCoreApplication::applicationPid());
    };
    QString id = nameAt(now);
    platform::Result<platform::AppendLog> log = platform::AppendLog::create(folder + u'/' + id + u".jsonl");
    // Two runs of one process within one millisecond: the second is named a millisecond
    // later, so that it still sorts after the first (a suffix would sort before it).
    while (!log.ok() && log.status.error == EEXIST) {
        now = now.addMSecs(1);
        id = nameAt(now);
        log = platform::AppendLog::create(folder + u'/' + id + u".jsonl");
    }
    if (!log.ok()) return {nullptr, log.status};
    auto journal = std::make_unique<Journal>(std::move(log.value), id);
    JournalLine first;
    first.text("kurumu", header.kind)
        .text("id", id)
        .text("start", now.toOffsetFromUtc(now.toLocalTime().offsetFromUtc()).toString(Qt::ISODateWithMs))
        .text("version", QCoreApplication::applicationVersion())
        .text("origin", header.origin)
        .list("arguments", header.arguments)
        .text("operation", familyName(header.options.family))
        .flag("numberAfterExtension", header.options.family.numberPlace == NumberPlace::AfterName)
        .flag("checkAllNumbers", header.options.checkAllNumbers)
        .flag("keepStructure", header.options.keepStructure)
        .flag("ignoreOtherErrors", header.options.ignoreOtherErrors)
        .number("items", header.items);
    if (!header.undoOf.isEmpty()) first.text("undoOf", header.undoOf);
    if (const Status written = journal->m_log.append(first.finished()); !written.ok()) return {nullptr, written};
    return {std::move(journal), {}};
}

Journal::~Journal() {
    if (!m_finished) finish(QStringLiteral("closed"));
}

platform::Result<qint64> Journal::begin(JournalLine operation) {
    const qint64 number = ++m_last;
    const QByteArray line = operation.number("n", number).finished();
    if (const Status written = m_log.append(line); !written.ok()) return {0, written};
    return {number, {}};
}

void Journal::done(qint64 number, const char* outcome, int error) {
    JournalLine line;
    line.number("done", number).text("outcome", QString::fromLatin1(outcome)).number("time", nowNs());
    if (error != 0) line.number("error", error);
    (void)m_log.append(line.finished());
}

void Journal::note(const JournalLine& line) {
    (void)m_log.append(line.finished());
}

void Journal::finish(const QString& end) {
    m_finished = true;
    (void)m_log.append(JournalLine().text("end", end).finished());
    (void)m_log.close();
}

Status JournalingServices::recorded(JournalLine operation, const std::function<Status()>& act) {
    const platform::Result<qint64> number = m_journal.begin(std::move(operation));
    if (!number.ok()) return number.status;  // nothing is done that the journal does not know of
    const Status status = act();
    m_journal.done(number.value, status.ok() ? "done" : "failed", status.error);
    return status;
}

// A folder's times as they were before the run took anything out of it, for an undo
// that has to make it again.
platform::Result<platform::FolderListing> JournalingServices::listFolder(const QString& path) {
    if (const platform::Result<platform::EntryInfo> folder = m_disk.probe(path); folder.ok() && folder.value.exists()) {
        m_journal.note(JournalLine()
                           .text("folder", path)
                           .number("atime", folder.value.accessedNs)
                           .number("mtime", folder.value.modifiedNs));
    }
    return m_disk.listFolder(path);
}

void JournalingServices::noteFolderOf(const QString& path) {
    const QString folder = folderOf(path);
    if (m_notedFolders.contains(folder)) return;
    // The folder itself, also where its name is a link to it.
    const platform::Result<QString> real = m_disk.realFolder(folder);
    if (!real.ok()) return;
    const platform::Result<platform::EntryInfo> info = m_disk.probe(real.value);
    if (!info.ok() || info.value.kind != platform::EntryKind::Folder) return;
    m_journal.note(JournalLine().text("seen", folder).text("id", identityText(info.value.identity)));
    m_notedFolders.insert(folder);
}

Status JournalingServices::createFolder(const QString& path, const QString& model) {
    m_notedFolders.remove(platform::withoutTrailingSeparator(path));
    return recorded(JournalLine().text("op", QStringLiteral("mkdir")).text("path", path),
                    [&] { return m_disk.createFolder(path, model); });
}

Status JournalingServices::removeEmptyFolder(const QString& path) {
    m_notedFolders.remove(platform::withoutTrailingSeparator(path));
    const platform::Result<platform::EntryInfo> folder = m_disk.probe(path);
    return recorded(JournalLine()
                        .text("op", QStringLiteral("rmdir"))
                        .text("path", path)
                        .number("mode", folder.value.mode)
                        .number("owner", folder.value.owner)
                        .number("group", folder.value.group)
                        .number("atime", folder.value.accessedNs)
                        .number("mtime", folder.value.modifiedNs),
                    [&] { return m_disk.removeEmptyFolder(path); });
}

PlaceResult JournalingServices::place(const char* operation, const QString& source, const QString& destination,
                                      const platform::KeepGoing& keepGoing) {
    noteFolderOf(source);
    noteFolderOf(destination);
    const platform::Result<qint64> number = m_journal.begin(
        JournalLine().text("op", QString::fromLatin1(operation)).text("from", source).text("to", destination));
    if (!number.ok()) return {PlaceOutcome::Failed, number.status};
    const bool move = operation[0] == 'm';
    const PlaceResult placed =
        move ? m_disk.moveFile(source, destination, keepGoing) : m_disk.copyFile(source, destination, keepGoing);
    m_journal.done(number.value, outcomeName(placed.outcome), placed.status.error);
    return placed;
}

PlaceResult JournalingServices::moveFile(const QString& source, const QString& destination,
                                         const platform::KeepGoing& keepGoing) {
    return place("move", source, destination, keepGoing);
}

PlaceResult JournalingServices::copyFile(const QString& source, const QString& destination,
                                         const platform::KeepGoing& keepGoing) {
    return place("copy", source, destination, keepGoing);
}

Status JournalingServices::deleteDuplicate(const QString& source, const QString& keeper,
                                           const platform::KeepGoing& keepGoing) {
    // What it takes to make the source again from the keeper: the source's own mode,
    // owner and times, and the keeper as it is now, whose status change time tells later
    // whether it still holds the very bytes.
    const platform::EntryInfo file = m_disk.probe(source).value;
    const platform::EntryInfo kept = m_disk.probe(keeper).value;
    noteFolderOf(source);
    return recorded(JournalLine()
                        .text("op", QStringLiteral("duplicate"))
                        .text("from", source)
                        .text("keeper", keeper)
                        .number("size", file.length)
                        .number("mtime", file.modifiedNs)
                        .number("atime", file.accessedNs)
                        .number("mode", file.mode)
                        .number("owner", file.owner)
                        .number("group", file.group)
                        .text("keeperId", identityText(kept.identity))
                        .number("keeperMtime", kept.modifiedNs)
                        .number("keeperCtime", kept.changedNs),
                    [&] { return m_disk.deleteDuplicate(source, keeper, keepGoing); });
}

}  // namespace kurumu::transfer
