#include "transfer/JournalFormat.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Process.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace kurumu::transfer::journal {

namespace {

// The largest journal an undo reads.
constexpr qint64 kJournalLimit = qint64{1} << 31;

// The keys of an object's state, in an operation's line or, prefixed, for its keeper.
struct StateKeys {
    std::string_view id;
    std::string_view size;
    std::string_view mtime;
    std::string_view atime;
    std::string_view mode;
    std::string_view owner;
    std::string_view group;
};
constexpr StateKeys kObject{"id", "size", "mtime", "atime", "mode", "owner", "group"};
constexpr StateKeys kKeeper{"keeperId",   "keeperSize",  "keeperMtime", "keeperAtime",
                            "keeperMode", "keeperOwner", "keeperGroup"};
constexpr qsizetype kLongestStateKey = [] {
    std::size_t longest = 0;
    for (const StateKeys& keys : {kObject, kKeeper}) {
        for (const std::string_view key :
             {keys.id, keys.size, keys.mtime, keys.atime, keys.mode, keys.owner, keys.group})
            longest = std::max(longest, key.size());
    }
    return static_cast<qsizetype>(longest);
}();

struct KindName {
    Kind kind;
    const char* name;
};
constexpr std::array kKindNames{KindName{Kind::Move, "move"},        KindName{Kind::Copy, "copy"},
                                KindName{Kind::Link, "link"},        KindName{Kind::Duplicate, "duplicate"},
                                KindName{Kind::MakeFolder, "mkdir"}, KindName{Kind::RemoveFolder, "rmdir"}};

const char* nameOf(Kind kind) {
    for (const KindName& known : kKindNames) {
        if (known.kind == kind) return known.name;
    }
    return "unknown";
}

Kind kindNamed(const QString& name) {
    for (const KindName& known : kKindNames) {
        if (name == QLatin1String(known.name)) return known.kind;
    }
    return Kind::Unknown;
}

bool needsEscape(char byte) {
    return byte == '"' || byte == '\\' || static_cast<unsigned char>(byte) < 0x20;
}

// Eight bytes at a time: whether any is below 0x20 or is a quote or a backslash. The last
// eight bytes of a text as long as that are read as one more word, however they overlap.
bool anyNeedsEscape(const char* begin, const char* end) {
    if (end - begin < 8) return std::any_of(begin, end, [](char byte) { return needsEscape(byte); });
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    const auto anyBelow = [](std::uint64_t word, std::uint64_t limit) {
        return (word - kOnes * limit) & ~word & kHighs;
    };
    const auto wordNeeds = [&](const char* at) {
        std::uint64_t word = 0;
        std::memcpy(&word, at, sizeof word);
        return (anyBelow(word, 0x20) | anyBelow(word ^ (kOnes * '"'), 1) | anyBelow(word ^ (kOnes * '\\'), 1)) != 0;
    };
    for (; end - begin > 8; begin += 8) {
        if (wordNeeds(begin)) return true;
    }
    return wordNeeds(end - 8);
}

QString text(const QJsonObject& line, std::string_view key) {
    return line.value(QLatin1String(key.data(), static_cast<qsizetype>(key.size()))).toString();
}
qint64 number(const QJsonObject& line, std::string_view key) {
    return line.value(QLatin1String(key.data(), static_cast<qsizetype>(key.size()))).toInteger();
}

std::optional<platform::Identity> identityFrom(const QString& text) {
    const qsizetype colon = text.indexOf(u':');
    bool deviceOk = false;
    bool inodeOk = false;
    const platform::Identity identity{text.left(colon).toULongLong(&deviceOk),
                                      text.mid(colon + 1).toULongLong(&inodeOk)};
    if (colon < 0 || !deviceOk || !inodeOk) return std::nullopt;
    return identity;
}

// A copy's checksum, or a deleted duplicate's proof.
void writeProof(Line& line, const Operation& operation) {
    if (operation.checksum)
        line.text("crc32",
                  QStringLiteral("%1").arg(*operation.checksum ^ 0xFFFFFFFFu, 8, 16, QLatin1Char('0')).toUpper());
    if (operation.sameFile) line.flag("sameFile", true);
}

void readProof(const QJsonObject& line, Operation& operation) {
    bool crcOk = false;
    const quint32 crc = text(line, "crc32").toUInt(&crcOk, 16);
    if (crcOk) operation.checksum = crc ^ 0xFFFFFFFFu;
    operation.sameFile = operation.sameFile || line.value(QLatin1String("sameFile")).toBool();
}

ObjectState readState(const QJsonObject& line, const StateKeys& keys) {
    ObjectState state;
    const std::optional<platform::Identity> identity = identityFrom(text(line, keys.id));
    state.known = identity.has_value();
    if (identity) state.id = *identity;
    state.size = number(line, keys.size);
    state.mtime = number(line, keys.mtime);
    state.atime = number(line, keys.atime);
    state.mode = static_cast<quint32>(number(line, keys.mode));
    // Format 1 lines may lack the owner: kept as it is then.
    state.owner = line.contains(QLatin1String(keys.owner)) ? static_cast<quint32>(number(line, keys.owner))
                                                           : platform::Attributes::kKeepId;
    state.group = line.contains(QLatin1String(keys.group)) ? static_cast<quint32>(number(line, keys.group))
                                                           : platform::Attributes::kKeepId;
    return state;
}

Operation operationOf(const QJsonObject& line) {
    Operation operation;
    operation.number = number(line, "n");
    operation.kind = kindNamed(text(line, "op"));
    const bool folder = operation.kind == Kind::MakeFolder || operation.kind == Kind::RemoveFolder;
    operation.from = platform::withoutTrailingSeparator(text(line, folder ? "path" : "from"));
    operation.to = text(line, "to");
    operation.keeper = text(line, "keeper");
    operation.object = readState(line, kObject);
    operation.keeperState = readState(line, kKeeper);
    operation.keeperCtimeNs = number(line, "keeperCtime");
    return operation;
}

// A line of format 2 says what it touched; one that does not was not written by a run.
bool complete(const Operation& operation, int format) {
    if (operation.kind == Kind::Unknown) return false;
    if (format < kIdentityFormat) return true;
    switch (operation.kind) {
        case Kind::Move:
        case Kind::RemoveFolder:
            return operation.object.known;
        case Kind::Duplicate:
            return operation.object.known && operation.keeperState.known;
        default:
            return true;
    }
}

RunOptions optionsOf(const QJsonObject& line) {
    RunOptions options;
    options.family = familyFor(text(line, "operation") == QLatin1String("move") ? QStringLiteral("移動") : QString(),
                               line.value(QLatin1String("numberAfterExtension")).toBool());
    options.checkAllNumbers = line.value(QLatin1String("checkAllNumbers")).toBool();
    options.keepStructure = line.value(QLatin1String("keepStructure")).toBool();
    options.ignoreOtherErrors = line.value(QLatin1String("ignoreOtherErrors")).toBool();
    return options;
}

QStringList textsOf(const QJsonObject& line, const char* key) {
    QStringList texts;
    const QJsonArray values = line.value(QLatin1String(key)).toArray();
    for (const auto& value : values) texts.append(value.toString());
    return texts;
}

Header headerOf(const QJsonObject& line) {
    Header header;
    header.kind = text(line, "kurumu");
    header.format = line.contains(QLatin1String("format")) ? static_cast<int>(number(line, "format")) : 1;
    header.id = text(line, "id");
    header.start = text(line, "start");
    header.origin = text(line, "origin");
    header.arguments = textsOf(line, "arguments");
    header.paths = textsOf(line, "paths");
    header.options = optionsOf(line);
    header.items = number(line, "items");
    header.undoOf = text(line, "undoOf");
    header.boot = text(line, "boot");
    header.after = textsOf(line, "after");
    // Journals before the key carry the process's number at the end of their name.
    header.pid = line.contains(QLatin1String("pid")) ? number(line, "pid")
                                                     : header.id.mid(header.id.lastIndexOf(u'-') + 1).toLongLong();
    return header;
}

}  // namespace

namespace {

// The room a list takes where its texts take a byte a character, as the usual names do.
qsizetype roomForList(const QStringList& values) {
    qsizetype most = 2;
    for (const QString& value : values) most += value.size() + 3;
    return most;
}

}  // namespace

// A long line (a run's first, with every path given) grows by an eighth, not doubled.
void Line::grow(qsizetype n) {
    m_bytes.resize(std::max(m_bytes.size() + m_bytes.size() / 8, m_size + n));
}

void Line::put(std::string_view bytes) {
    char* const at = room(static_cast<qsizetype>(bytes.size()));
    std::memcpy(at, bytes.data(), bytes.size());
    wrote(at + bytes.size());
}

QByteArrayView Line::closed() {
    if (!m_closed) put("}\n");
    m_closed = true;
    return {m_bytes.constData(), m_size};
}

namespace {

// Eight decimal digits of a value below 10^8, leading zeros included, two at a time.
inline char* eightDigits(char* at, quint32 value) {
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    const auto pair = [&](quint32 twoDigits) {
        std::memcpy(at, kPairs + std::size_t{2} * twoDigits, 2);
        at += 2;
    };
    pair(value / 1000000);
    pair(value / 10000 % 100);
    pair(value / 100 % 100);
    pair(value % 100);
    return at;
}

// The cursor writers below write at a place with room enough (kMostNumber bytes for a
// number), and return where they stopped.
constexpr qsizetype kMostNumber = 20;

// Most numbers of a line are times in nanoseconds, of nineteen digits: written as a head
// and eight digits at a time.
char* decimal(char* at, quint64 value) {
    constexpr quint64 kEight = 100000000;
    char* const limit = at + kMostNumber;
    if (value < kEight) return std::to_chars(at, limit, static_cast<quint32>(value)).ptr;
    const quint64 head = value / kEight;
    char* const end = head < kEight ? std::to_chars(at, limit, static_cast<quint32>(head)).ptr
                                    : eightDigits(std::to_chars(at, limit, static_cast<quint32>(head / kEight)).ptr,
                                                  static_cast<quint32>(head % kEight));
    return eightDigits(end, static_cast<quint32>(value % kEight));
}

char* signedDecimal(char* at, qint64 value) {
    if (value < 0) *at++ = '-';
    return decimal(at, value < 0 ? 0 - static_cast<quint64>(value) : static_cast<quint64>(value));
}

// `"name":`, after a comma unless it is the first (room for the name and four more).
char* keyAt(char* at, std::string_view name, bool first) {
    if (!first) *at++ = ',';
    *at++ = '"';
    for (const char c : name) *at++ = c;  // a few letters: no call for them
    *at++ = '"';
    *at++ = ':';
    return at;
}

}  // namespace

void Line::key(std::string_view name) {
    wrote(keyAt(room(static_cast<qsizetype>(name.size()) + 4), name, m_size == 1));
}

// Bytes of UTF-8, quoted, escaped only where they need it.
void Line::escaped(QByteArrayView utf8) {
    if (!anyNeedsEscape(utf8.cbegin(), utf8.cend())) {
        char* at = room(utf8.size() + 2);
        *at++ = '"';
        at = std::copy(utf8.cbegin(), utf8.cend(), at);
        *at++ = '"';
        wrote(at);
        return;
    }
    char* at = room(6 * utf8.size() + 2);  // at most \u00XX for each byte
    *at++ = '"';
    for (const char byte : utf8) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x20) {
            at = std::copy_n("\\u00", 4, at);
            *at++ = "0123456789abcdef"[code >> 4];
            *at++ = "0123456789abcdef"[code & 15];
            continue;
        }
        if (needsEscape(byte)) *at++ = '\\';
        *at++ = byte;
    }
    *at++ = '"';
    wrote(at);
}

// The text in UTF-8, quoted, encoded straight into the line (escaped where it needs it).
// Text of ASCII alone (most paths) takes a byte a character, and no more room than that.
void Line::escaped(QStringView text) {
    QStringEncoder utf8;  // only for text beyond ASCII
    const bool ascii = platform::isAscii(text);
    if (!ascii) utf8 = QStringEncoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    char* const quote = room((ascii ? text.size() : utf8.requiredSpace(text.size())) + 2);
    char* const end = ascii ? platform::copyAscii(text, quote + 1) : utf8.appendToBuffer(quote + 1, text);
    if (!anyNeedsEscape(quote + 1, end)) {
        *quote = '"';
        *end = '"';
        wrote(end + 1);
        return;
    }
    const QByteArray bytes(quote + 1, end - quote - 1);
    escaped(QByteArrayView(bytes));
}

Line& Line::text(std::string_view name, const QString& value) {
    key(name);
    escaped(QStringView(value));
    return *this;
}

Line& Line::path(std::string_view name, const platform::Path& value) {
    key(name);
    escaped(QByteArrayView(value.bytes()));
    return *this;
}

Line& Line::word(std::string_view name, const char* value) {
    const std::string_view word(value);
    return raw(static_cast<qsizetype>(name.size() + word.size()) + 6, [&](char* at, bool first) {
        at = keyAt(at, name, first);
        *at++ = '"';
        at = std::copy(word.cbegin(), word.cend(), at);
        *at++ = '"';
        return at;
    });
}

Line& Line::number(std::string_view name, qint64 value) {
    return raw(static_cast<qsizetype>(name.size()) + 5 + kMostNumber,
               [&](char* at, bool first) { return signedDecimal(keyAt(at, name, first), value); });
}

namespace {

char* identityAt(char* at, const platform::Identity& identity) {
    *at++ = '"';
    at = decimal(at, identity.device);
    *at++ = ':';
    at = decimal(at, identity.inode);
    *at++ = '"';
    return at;
}
constexpr qsizetype kMostIdentity = 2 * kMostNumber + 3;

}  // namespace

Line& Line::identity(std::string_view name, const platform::Identity& identity) {
    return raw(static_cast<qsizetype>(name.size()) + 4 + kMostIdentity,
               [&](char* at, bool first) { return identityAt(keyAt(at, name, first), identity); });
}

namespace {

void writeState(Line& line, const ObjectState& state, const StateKeys& keys) {
    if (!state.known) return;
    // One look for room for the whole state: its keys, an identity and six numbers.
    constexpr qsizetype kMostState = 7 * (kLongestStateKey + 4) + kMostIdentity + 6 * (kMostNumber + 1);
    line.raw(kMostState, [&](char* at, bool first) {
        at = identityAt(keyAt(at, keys.id, first), state.id);
        at = signedDecimal(keyAt(at, keys.size, false), state.size);
        at = signedDecimal(keyAt(at, keys.mtime, false), state.mtime);
        at = signedDecimal(keyAt(at, keys.atime, false), state.atime);
        at = decimal(keyAt(at, keys.mode, false), state.mode);
        at = decimal(keyAt(at, keys.owner, false), state.owner);
        return decimal(keyAt(at, keys.group, false), state.group);
    });
}

}  // namespace

Line& Line::flag(std::string_view name, bool value) {
    key(name);
    put(value ? "true" : "false");
    return *this;
}

Line& Line::list(std::string_view name, const QStringList& values) {
    key(name);
    // Room for the list at once, so that a long list is not copied as it grows.
    room(roomForList(values));
    put("[");
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0) put(",");
        escaped(QStringView(values[i]));
    }
    put("]");
    return *this;
}

ObjectState ObjectState::of(const platform::EntryInfo& entry) {
    return {entry.identity, entry.length, entry.modifiedNs, entry.accessedNs,
            entry.mode,     entry.owner,  entry.group,      entry.exists()};
}

bool ObjectState::matches(const platform::EntryInfo& entry) const {
    return matchesButModified(entry) && entry.modifiedNs == mtime;
}

bool ObjectState::matchesButModified(const platform::EntryInfo& entry) const {
    return known && entry.exists() && entry.kind != platform::EntryKind::Folder && entry.identity == id &&
           entry.length == size && entry.mode == mode && entry.owner == owner;
}

bool ObjectState::matchesButIdentity(const platform::EntryInfo& entry) const {
    return known && entry.exists() && entry.kind != platform::EntryKind::Folder && entry.length == size &&
           entry.modifiedNs == mtime && entry.mode == mode && entry.owner == owner;
}

bool ObjectState::copiedInto(const platform::EntryInfo& copy, quint32 processUser, bool anyTime) const {
    constexpr quint32 kPermissions = 0777;
    return known && copy.kind == platform::EntryKind::File && copy.length == size &&
           (anyTime || copy.modifiedNs == mtime) && (copy.mode & kPermissions) == (mode & kPermissions) &&
           (copy.owner == owner || copy.owner == processUser);
}

Line Operation::line() const {
    Line line;
    line.word("op", nameOf(kind));
    switch (kind) {
        case Kind::MakeFolder:
        case Kind::RemoveFolder:
            line.path("path", from);
            break;
        case Kind::Duplicate:
            line.path("from", from).path("keeper", keeper);
            break;
        default:
            line.path("from", from).path("to", to);
            break;
    }
    writeState(line, object, kObject);
    writeState(line, keeperState, kKeeper);
    line.number("n", number);
    return line;
}

Line Operation::doneLine() const {
    Line line;
    line.number("done", number).text("outcome", outcome.value_or(QString())).number("time", doneNs);
    if (error != 0) line.number("error", error);
    writeState(line, placed, kObject);
    writeProof(line, *this);
    return line;
}

Line Operation::proofLine() const {
    Line line;
    line.number("proof", number);
    writeProof(line, *this);
    return line;
}

Line Operation::createdLine() const {
    Line line;
    line.number("created", number);
    if (createdInPlace) line.identity("id", *createdInPlace);
    return line;
}

Line Header::line() const {
    Line line;
    constexpr qsizetype kRestOfHeader = 1024;
    line.reserve(roomForList(arguments) + roomForList(paths) + roomForList(after) + kRestOfHeader);
    line.text("kurumu", kind)
        .number("format", format)
        .text("id", id)
        .number("pid", pid)
        .text("start", start)
        .text("version", QCoreApplication::applicationVersion())
        .text("origin", origin)
        .text("boot", boot)
        .list("arguments", arguments)
        .list("paths", paths)
        .text("operation",
              options.family.operation == transfer::Operation::Move ? QStringLiteral("move") : QStringLiteral("copy"))
        .flag("numberAfterExtension", options.family.numberPlace == NumberPlace::AfterName)
        .flag("checkAllNumbers", options.checkAllNumbers)
        .flag("keepStructure", options.keepStructure)
        .flag("ignoreOtherErrors", options.ignoreOtherErrors)
        .number("items", items);
    if (!undoOf.isEmpty()) line.text("undoOf", undoOf);
    if (!after.isEmpty()) line.list("after", after);
    return line;
}

Line seenLine(const Seen& seen) {
    Line line;
    line.text("seen", seen.path).identity("id", seen.id).number("mtime", seen.mtime);
    if (seen.loose) line.flag("loose", true);
    return line;
}

Line folderTimesLine(const QString& folder, const platform::EntryInfo& info) {
    return Line().text("folder", folder).number("atime", info.accessedNs).number("mtime", info.modifiedNs);
}

Line endLine(const QString& end) {
    return Line().text("end", end);
}

Line markLine(const QString& kind) {
    return Line().text("journal", kind).number("format", kFormat);
}

namespace {

// A journal's lines, and what torn pages cut out of them.
struct Lines {
    QList<QByteArrayView> lines;
    qsizetype cut = 0;       // stretches of zeros not at a killed run's end, and a cut last line
    bool firstCut = false;   // the first of them began on the first line
    bool killedEnd = false;  // the file ends in zeros: the unwritten end of a killed run's journal
};

Lines linesOf(QByteArrayView bytes) {
    Lines read;
    qsizetype end = bytes.size();
    while (end > 0 && bytes[end - 1] == '\0') --end;
    read.killedEnd = end < bytes.size();
    // A killed run's journal keeps the whole pages it was given; a journal cut to its
    // length when it was closed that ends in zeros lost them after.
    constexpr qsizetype kPage = 4096;
    if (read.killedEnd && bytes.size() % kPage != 0) ++read.cut;
    read.firstCut = read.killedEnd && bytes.size() % kPage != 0 && end == 0;
    bytes = bytes.first(end);
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype zero = bytes.indexOf('\0', at);
        const QByteArrayView whole = bytes.sliced(at, (zero < 0 ? bytes.size() : zero) - at);
        const qsizetype lastEnd = whole.lastIndexOf('\n');
        for (qsizetype start = 0; start <= lastEnd;) {
            const qsizetype lineEnd = whole.indexOf('\n', start);
            read.lines.append(whole.sliced(start, lineEnd - start));
            start = lineEnd + 1;
        }
        if (zero < 0) {
            // After the last line end: nothing, or a line that a kill cut short (zeros
            // follow it); a file that ends in the middle of a line without them was cut by
            // other means.
            if (lastEnd + 1 < whole.size() && !read.killedEnd) ++read.cut;
            break;
        }
        // A torn page: what precedes the zeros on their line, and what follows them up to
        // the next line end, are what is left of the lines it cut.
        read.firstCut = read.firstCut || (at == 0 && lastEnd < 0);
        ++read.cut;
        qsizetype after = zero;
        while (after < bytes.size() && bytes[after] == '\0') ++after;
        const qsizetype next = bytes.indexOf('\n', after);
        at = next < 0 ? bytes.size() : next + 1;
    }
    return read;
}

// The kind and format of a journal whose header was lost, from the marks on its pages;
// unknown (empty, 0) where no mark reads or two disagree.
void markedAs(Header& header, const QList<QJsonObject>& marks) {
    header.kind.clear();
    header.format = 0;
    for (const QJsonObject& mark : marks) {
        const QString kind = text(mark, "journal");
        const int format = static_cast<int>(number(mark, "format"));
        if (kind.isEmpty() || format < kFormat || (!header.kind.isEmpty() && kind != header.kind)) {
            header.kind.clear();
            header.format = 0;
            return;
        }
        header.kind = kind;
        header.format = format;
    }
}

}  // namespace

std::optional<Journal> parse(QByteArrayView bytes, const QString& id) {
    const Lines read = linesOf(bytes);
    // Killed before it wrote its first line, it did nothing: no run to tell.
    if (read.lines.isEmpty() && read.cut == 0) return std::nullopt;
    Journal journal;
    journal.damaged = read.cut;
    QHash<qint64, qsizetype> byNumber;
    QList<QJsonObject> marks;
    qsizetype first = 0;
    const QJsonObject head = read.firstCut || read.lines.isEmpty()
                                 ? QJsonObject()
                                 : QJsonDocument::fromJson(read.lines.first().toByteArray()).object();
    journal.headerDamaged = !head.contains(QLatin1String("kurumu"));
    if (journal.headerDamaged) {
        // Named by its file; its kind and format as its marks say, its start unknown.
        journal.header.id = id;
        journal.header.pid = id.mid(id.lastIndexOf(u'-') + 1).toLongLong();
        journal.header.start.clear();
        if (!read.firstCut && !read.lines.isEmpty()) ++journal.damaged;
        first = read.firstCut ? 0 : 1;
    } else {
        journal.header = headerOf(head);
        journal.startNs =
            QDateTime::fromString(journal.header.start, Qt::ISODateWithMs).toMSecsSinceEpoch() * 1'000'000;
        first = 1;
    }
    for (qsizetype i = first; i < read.lines.size(); ++i) {
        const QJsonObject line = QJsonDocument::fromJson(read.lines[i].toByteArray()).object();
        if (line.contains(QLatin1String("journal"))) {
            marks.append(line);
        } else if (line.contains(QLatin1String("op"))) {
            const Operation operation = operationOf(line);
            if (!complete(operation, journal.headerDamaged ? kFormat : journal.header.format)) {
                ++journal.damaged;
                continue;
            }
            byNumber.insert(operation.number, journal.operations.size());
            journal.operations.append(operation);
        } else if (line.contains(QLatin1String("done"))) {
            const auto found = byNumber.constFind(number(line, "done"));
            if (found == byNumber.constEnd()) continue;
            Operation& operation = journal.operations[*found];
            operation.outcome = text(line, "outcome");
            operation.doneNs = number(line, "time");
            operation.error = static_cast<int>(number(line, "error"));
            operation.placed = readState(line, kObject);
            readProof(line, operation);
        } else if (line.contains(QLatin1String("proof"))) {
            const auto found = byNumber.constFind(number(line, "proof"));
            if (found != byNumber.constEnd()) readProof(line, journal.operations[*found]);
        } else if (line.contains(QLatin1String("created"))) {
            const auto found = byNumber.constFind(number(line, "created"));
            if (found == byNumber.constEnd()) continue;
            Operation& operation = journal.operations[*found];
            operation.inPlace = true;
            if (const auto made = identityFrom(text(line, "id"))) operation.createdInPlace = made;
        } else if (line.contains(QLatin1String("seen"))) {
            const std::optional<platform::Identity> identity = identityFrom(text(line, "id"));
            if (identity)
                journal.seen.append({text(line, "seen"), *identity, number(line, "mtime"),
                                     line.value(QLatin1String("loose")).toBool()});
        } else if (line.contains(QLatin1String("folder"))) {
            platform::EntryInfo times;
            times.accessedNs = number(line, "atime");
            times.modifiedNs = number(line, "mtime");
            if (!journal.folderTimes.contains(text(line, "folder")))
                journal.folderTimes.insert(text(line, "folder"), times);
        } else if (line.contains(QLatin1String("end"))) {
            journal.end = text(line, "end");
        } else {
            ++journal.damaged;
        }
    }
    if (journal.headerDamaged) markedAs(journal.header, marks);
    for (Operation& operation : journal.operations) {
        operation.identitiesRecorded = journal.header.format >= kIdentityFormat;
        operation.checksumsRecorded = journal.header.format >= kFormat;
    }
    return journal;
}

std::optional<Journal> read(const platform::StateFolder& state, const QString& name) {
    bool privateToUser = false;
    const platform::Result<QByteArray> bytes = state.readRunFile(name, kJournalLimit, privateToUser);
    if (!bytes.ok()) return std::nullopt;
    std::optional<Journal> journal = parse(bytes.value, platform::GetBaseName(name));
    if (journal) journal->untrusted = !privateToUser;
    return journal;
}

}  // namespace kurumu::transfer::journal
