#include "platform/Handoff.h"

#include "platform/FileOperations.h"
#include "platform/FileSystem.h"
#include "platform/SystemCalls.h"
#include "platform/TimeOfDay.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStringDecoder>

#include <array>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace kurumu::platform {

namespace {

using detail::lastError;
using sys::os;
using sys::retry;

constexpr std::array<char, 4> kMark{'K', 'R', 'M', 'U'};
constexpr char kVersion = 1;
// An answer is one short sentence.
constexpr std::size_t kAnswerLimit = std::size_t{64} << 10;

QByteArray pathIn(const QString& folder, const QString& name, const char* suffix) {
    return QFile::encodeName(folder + u'/' + name) + suffix;
}

// The socket's address; ENAMETOOLONG where the path does not fit one.
Result<sockaddr_un> addressOf(const QByteArray& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Never the abstract namespace: the path begins with "/" and is ended by a NUL.
    if (path.isEmpty() || path.front() != '/' || std::size_t(path.size()) >= sizeof(address.sun_path))
        return {address, Status{ENAMETOOLONG}};
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    return {address, {}};
}

bool isOwnUser(int socket) {
    ucred peer{};
    socklen_t size = sizeof(peer);
    return os().getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof(peer) &&
           peer.uid == os().geteuid();
}

// Waits until the socket is ready for the events, at most until the deadline.
bool waitFor(int socket, short events, qint64 deadlineNs) {
    for (;;) {
        const qint64 left = deadlineNs - steadyClockNs();
        if (left <= 0) return false;
        pollfd watched{socket, events, 0};
        const int ready = os().poll(&watched, 1, static_cast<int>(left / 1'000'000 + 1));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

// Reads exactly size bytes by the deadline: ETIMEDOUT otherwise, ECONNRESET at an early end.
Status readExactly(int socket, char* into, std::size_t size, qint64 deadlineNs) {
    while (size > 0) {
        if (!waitFor(socket, POLLIN, deadlineNs)) return Status{ETIMEDOUT};
        const ssize_t got = os().recv(socket, into, size, MSG_DONTWAIT);
        if (got == 0) return Status{ECONNRESET};
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (got < 0) return lastError();
        into += got;
        size -= std::size_t(got);
    }
    return {};
}

Status writeExactly(int socket, QByteArrayView bytes, qint64 deadlineNs) {
    while (!bytes.isEmpty()) {
        if (!waitFor(socket, POLLOUT, deadlineNs)) return Status{ETIMEDOUT};
        const ssize_t sent = os().send(socket, bytes.data(), std::size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (sent < 0) return lastError();
        bytes = bytes.sliced(sent);
    }
    return {};
}

struct Message {
    HandoffKind kind = HandoffKind::Paths;
    QByteArray body;
};

Result<Message> readMessage(int socket, std::size_t limit, qint64 deadlineNs) {
    std::array<char, kHandoffHeadSize> head{};
    if (const Status read = readExactly(socket, head.data(), head.size(), deadlineNs); !read.ok()) return {{}, read};
    const Result<HandoffHead> told = handoffHead(QByteArrayView(head.data(), head.size()), limit);
    if (!told.ok()) return {{}, told.status};
    Message message{told.value.kind, QByteArray(qsizetype(told.value.length), Qt::Uninitialized)};
    const Status read = readExactly(socket, message.body.data(), told.value.length, deadlineNs);
    return {std::move(message), read};
}

QString refusalOf(const Status& status) {
    switch (status.error) {
        case EMSGSIZE:
            return QStringLiteral("渡された項目が多すぎて受け取れませんでした。");
        case ETIMEDOUT:
            return QStringLiteral("渡された項目が時間内に届きませんでした。");
        default:
            return QStringLiteral("渡されたものを項目として読めませんでした。");
    }
}

// The settings file as every start names it: its own path with every link resolved, or,
// not made yet, its folder's.
QString canonicalSettingsFile(const QString& settingsFile) {
    const auto resolved = [](const QString& path) -> QString {
        std::array<char, PATH_MAX> buffer{};
        if (os().realpath(QFile::encodeName(path).constData(), buffer.data()) == nullptr) return {};
        return QFile::decodeName(buffer.data());
    };
    if (QString file = resolved(settingsFile); !file.isEmpty()) return file;
    const qsizetype slash = settingsFile.lastIndexOf(u'/');
    const QString folder = resolved(slash < 0 ? QStringLiteral(".") : settingsFile.left(std::max<qsizetype>(slash, 1)));
    return folder + u'/' + settingsFile.mid(slash + 1);
}

}  // namespace

QByteArray handoffMessage(HandoffKind kind, QByteArrayView body) {
    QByteArray message(kMark.data(), kMark.size());
    message += kVersion;
    message += static_cast<char>(kind);
    const auto length = static_cast<quint32>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8) message += static_cast<char>((length >> shift) & 0xFF);
    message += body;
    return message;
}

std::optional<QByteArray> pathsBody(const QStringList& paths) {
    QByteArray body;
    for (const QString& path : paths) {
        if (!path.startsWith(u'/') || path.contains(QChar(0))) return std::nullopt;
        body += path.toUtf8();
        body += '\0';
        if (std::size_t(body.size()) > kHandoffLimit) return std::nullopt;
    }
    return body;
}

Result<QStringList> pathsOfBody(QByteArrayView body) {
    if (body.isEmpty()) return {};
    if (!body.endsWith('\0')) return {{}, Status{EILSEQ}};
    QStringList paths;
    for (QByteArrayView rest = body; !rest.isEmpty();) {
        const qsizetype end = rest.indexOf('\0');
        const QByteArrayView bytes = rest.first(end);
        rest = rest.sliced(end + 1);
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        QString path = utf8(bytes);
        if (utf8.hasError() || !bytes.startsWith('/') || !isFaithfulPath(bytes)) return {{}, Status{EILSEQ}};
        paths.append(std::move(path));
    }
    return {paths, {}};
}

Result<HandoffHead> handoffHead(QByteArrayView head, std::size_t limit) {
    if (head.size() != qsizetype(kHandoffHeadSize) || !head.startsWith(QByteArrayView(kMark.data(), kMark.size())) ||
        head[4] != kVersion)
        return {{}, Status{EPROTO}};
    const auto kind = static_cast<HandoffKind>(head[5]);
    if (kind != HandoffKind::Paths && kind != HandoffKind::Accepted && kind != HandoffKind::Refused &&
        kind != HandoffKind::Confirmed)
        return {{}, Status{EPROTO}};
    std::size_t length = 0;
    for (qsizetype i = 6; i < 10; ++i) length = (length << 8) | static_cast<unsigned char>(head[i]);
    if (length > limit) return {{}, Status{EMSGSIZE}};
    return {{kind, length}, {}};
}

Result<QString> runtimeFolder() {
    const QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty()) return {{}, Status{ENOENT}};
    struct stat info {};
    if (!folder.startsWith(u'/') ||
        os().fstatat(AT_FDCWD, QFile::encodeName(folder).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(info.st_mode) || info.st_uid != os().geteuid() || (info.st_mode & 07777) != 0700)
        return {{}, Status{EPERM}};
    return {folder, {}};
}

QString handoffSocketName(const QString& settingsFile, const QString& display) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(canonicalSettingsFile(settingsFile).toUtf8());
    hash.addData(QByteArrayView("\0", 1));
    hash.addData(display.toUtf8());
    return QStringLiteral("kurumu-") + QString::fromLatin1(hash.result().toHex().left(32));
}

QString displayName() {
    QStringList parts;
    for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY", "QT_QPA_PLATFORM"})
        parts.append(QString::fromLatin1(name) + u'=' + qEnvironmentVariable(name));
    return parts.join(u'\n');
}

HandoffReceiver::HandoffReceiver(Held, FileDescriptor lock, FileDescriptor socket, QByteArray path)
    : m_lock(std::move(lock)), m_socket(std::move(socket)), m_path(std::move(path)) {}

HandoffReceiver::~HandoffReceiver() {
    // Still under the lock: no other start can have put its socket at the name.
    os().unlinkat(AT_FDCWD, m_path.constData(), 0);
}

Result<std::unique_ptr<HandoffReceiver>> HandoffReceiver::become(const QString& folder, const QString& name) {
    const QByteArray lockPath = pathIn(folder, name, ".lock");
    FileDescriptor lock(retry(
        [&] { return os().openat(AT_FDCWD, lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600); }));
    struct stat info {};
    if (!lock.valid() || os().fstat(lock.get(), &info) != 0) return {nullptr, lastError()};
    if (!S_ISREG(info.st_mode) || info.st_uid != os().geteuid()) return {nullptr, Status{EPERM}};
    if (retry([&] { return os().flock(lock.get(), LOCK_EX | LOCK_NB); }) != 0) return {nullptr, lastError()};

    const QByteArray socketPath = pathIn(folder, name, ".socket");
    const Result<sockaddr_un> address = addressOf(socketPath);
    if (!address.ok()) return {nullptr, address.status};
    FileDescriptor socket(os().socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.valid()) return {nullptr, lastError()};
    // A socket left at the name by a window that died: only the lock's holder removes it.
    if (os().unlinkat(AT_FDCWD, socketPath.constData(), 0) != 0 && errno != ENOENT) return {nullptr, lastError()};
    if (os().bind(socket.get(), reinterpret_cast<const sockaddr*>(&address.value), sizeof(sockaddr_un)) != 0 ||
        os().listen(socket.get(), 16) != 0)
        return {nullptr, lastError()};
    return {std::make_unique<HandoffReceiver>(Held(), std::move(lock), std::move(socket), socketPath), {}};
}

void HandoffReceiver::answerWaiting(const Taker& taker, std::chrono::milliseconds timeout) {
    const auto deadline = [&] { return steadyClockNs() + std::chrono::nanoseconds(timeout).count(); };
    // A few at a time, so that a flood of starts cannot hold the window.
    for (int waiting = 0; waiting < 16; ++waiting) {
        const FileDescriptor start(retry([&] { return os().accept4(m_socket.get(), nullptr, nullptr, SOCK_CLOEXEC); }));
        if (!start.valid()) return;
        if (!isOwnUser(start.get())) continue;
        const Result<Message> message = readMessage(start.get(), kHandoffLimit, deadline());
        Result<QStringList> paths{{}, message.status};
        if (message.ok() && message.value.kind != HandoffKind::Paths) paths.status = Status{EPROTO};
        if (paths.ok()) paths = pathsOfBody(message.value.body);
        const std::optional<QString> refused = paths.ok() ? taker.refusal(paths.value) : refusalOf(paths.status);
        // Each answer has its own time: a start too slow to send is still told why.
        if (refused) {
            (void)writeExactly(start.get(), handoffMessage(HandoffKind::Refused, refused->toUtf8()), deadline());
            continue;
        }
        if (!writeExactly(start.get(), handoffMessage(HandoffKind::Accepted, {}), deadline()).ok()) continue;
        const Result<Message> confirmed = readMessage(start.get(), 0, deadline());
        if (confirmed.ok() && confirmed.value.kind == HandoffKind::Confirmed) taker.take(paths.value);
    }
}

HandoffAnswer handOff(const QString& folder, const QString& name, const QStringList& paths,
                      std::chrono::milliseconds timeout) {
    using Heard = HandoffAnswer::Heard;
    const std::optional<QByteArray> body = pathsBody(paths);
    if (!body) return {Heard::NoAnswer, QStringLiteral("too many paths to hand over at once")};
    const Result<sockaddr_un> address = addressOf(pathIn(folder, name, ".socket"));
    if (!address.ok()) return {Heard::NoAnswer, QStringLiteral("the runtime folder's path is too long for a socket")};
    const qint64 deadline = steadyClockNs() + std::chrono::nanoseconds(timeout).count();
    // A window that holds the lock but is not listening yet is still starting.
    FileDescriptor socket;
    for (;;) {
        // Not blocking: a window whose queue of starts is full answers EAGAIN, never a wait.
        socket = FileDescriptor(os().socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!socket.valid()) return {Heard::NoAnswer, QString::fromLocal8Bit(std::strerror(errno))};
        if (retry([&] {
                return os().connect(socket.get(), reinterpret_cast<const sockaddr*>(&address.value),
                                    sizeof(sockaddr_un));
            }) == 0)
            break;
        if ((errno != ENOENT && errno != ECONNREFUSED && errno != EAGAIN) || steadyClockNs() >= deadline)
            return {Heard::NoAnswer, QStringLiteral("the window open for these settings is not listening")};
        std::array<pollfd, 0> none{};
        os().poll(none.data(), 0, 20);  // a fiftieth of a second before the next try
    }
    if (!isOwnUser(socket.get())) return {Heard::NoAnswer, QStringLiteral("the socket is another user's")};
    if (!writeExactly(socket.get(), handoffMessage(HandoffKind::Paths, *body), deadline).ok())
        return {Heard::NoAnswer, QStringLiteral("the window open for these settings took nothing in time")};
    const Result<Message> answer = readMessage(socket.get(), kAnswerLimit, deadline);
    if (!answer.ok() || (answer.value.kind != HandoffKind::Accepted && answer.value.kind != HandoffKind::Refused))
        return {Heard::NoAnswer, QStringLiteral("the window open for these settings did not answer in time")};
    if (answer.value.kind == HandoffKind::Refused) return {Heard::Refused, QString::fromUtf8(answer.value.body)};
    // Once confirmed, the paths are the window's: this start opens no window of its own. A
    // window gone before it could hear the confirmation has not taken them.
    if (!writeExactly(socket.get(), handoffMessage(HandoffKind::Confirmed, {}), deadline).ok())
        return {Heard::NoAnswer, QStringLiteral("the window open for these settings went away before taking them")};
    return {Heard::Accepted, {}};
}

}  // namespace kurumu::platform
