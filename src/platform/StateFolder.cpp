#include "platform/StateFolder.h"

#include "platform/FileOperations.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

namespace kurumu::platform {

namespace {

using sys::os;
using sys::retry;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Why a folder of the state cannot be used.
struct Refused {
    QString folder;
    std::optional<uid_t> owner;  // another user's; none for a link or a file
    bool above = false;          // a folder above the state folder, beneath which nothing is made
};

QString refusalText(const Refused& refused) {
    if (refused.owner)
        return QStringLiteral("記録のフォルダの持ち主が別のユーザー(%1)のため、使いません: %2")
            .arg(userName(*refused.owner), refused.folder);
    return QStringLiteral("記録のフォルダがリンクか、フォルダではないため、使いません: %1").arg(refused.folder);
}

// A held folder checked to be a real folder of the effective user's, made private where
// others could write it; what refuses it otherwise.
std::optional<Refused> checked(const FileDescriptor& folder, const QString& path) {
    struct stat info {};
    if (os().fstat(folder.get(), &info) != 0 || !S_ISDIR(info.st_mode)) return Refused{path, std::nullopt};
    if (info.st_uid != os().geteuid()) return Refused{path, info.st_uid};
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) os().fchmod(folder.get(), 0700);
    return std::nullopt;
}

struct Opened {
    FileDescriptor fd;
    std::optional<Refused> refused;
    int error = 0;  // ENOENT: missing, and nothing was to be made
};

Opened failed(int error) {
    return {FileDescriptor(), std::nullopt, error};
}

Opened refusedAs(Refused refused) {
    return {FileDescriptor(), std::move(refused), 0};
}

// Puts the names in a folder held on the disk; a file system that cannot flush a folder
// (EINVAL) keeps them as it does.
int syncNames(int folder) {
    return retry([&] { return os().fsync(folder); }) == 0 || errno == EINVAL ? 0 : errno;
}

// Opens a folder beneath one held, never through a link, making it (private) where it is
// missing and making is asked for; checked either way.
Opened openBeneath(int parent, const QByteArray& name, const QString& path, bool make) {
    FileDescriptor fd(retry([&] { return os().openat(parent, name.constData(), kFolderFlags, 0); }));
    if (!fd.valid() && errno == ENOENT && make) {
        if (os().mkdirat(parent, name.constData(), 0700) != 0 && errno != EEXIST) return failed(errno);
        if (const int error = syncNames(parent); error != 0) return failed(error);
        fd = FileDescriptor(retry([&] { return os().openat(parent, name.constData(), kFolderFlags, 0); }));
    }
    if (!fd.valid() && (errno == ELOOP || errno == ENOTDIR)) return refusedAs(Refused{path, std::nullopt});
    if (!fd.valid()) return failed(errno);
    std::optional<Refused> refused = checked(fd, path);
    return {std::move(fd), std::move(refused), 0};
}

// The state folder at its path: the nearest folder above it that exists is held (it may
// be reached through links: it is the user's home or a folder the user named), and what
// is missing beneath it is made there, only where the effective user owns it (and only
// where making is asked for: otherwise it is missing, ENOENT).
Opened openStateFolder(const QString& path, bool make) {
    const QByteArray encoded = encodePath(path);
    FileDescriptor whole(retry([&] { return os().openat(AT_FDCWD, encoded.constData(), kFolderFlags, 0); }));
    if (whole.valid()) {
        std::optional<Refused> refused = checked(whole, path);
        return {std::move(whole), std::move(refused), 0};
    }
    if (errno == ELOOP || errno == ENOTDIR) return refusedAs(Refused{path, std::nullopt});
    if (errno != ENOENT) return failed(errno);
    std::vector<QByteArray> missing{detail::nameOf(encoded)};
    QByteArray above = detail::folderOf(encoded);
    FileDescriptor held;
    for (;;) {
        held = FileDescriptor(
            retry([&] { return os().openat(AT_FDCWD, above.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); }));
        if (held.valid() || errno != ENOENT || above == "/" || above == ".") break;
        missing.push_back(detail::nameOf(above));
        above = detail::folderOf(above);
    }
    if (!held.valid()) return failed(errno);
    struct stat info {};
    if (os().fstat(held.get(), &info) != 0) return failed(errno);
    if (info.st_uid != os().geteuid()) return refusedAs(Refused{QFile::decodeName(above), info.st_uid, true});
    if (!make) return failed(ENOENT);
    QByteArray reached = above;
    for (auto name = missing.crbegin(); name != missing.crend(); ++name) {
        reached += (reached.endsWith('/') ? "" : "/") + *name;
        Opened next = openBeneath(held.get(), *name, QFile::decodeName(reached), true);
        if (!next.fd.valid() || next.refused) return next;
        held = std::move(next.fd);
    }
    return {std::move(held), {}, 0};
}

QString ownStateFolder() {
    const passwd* const user = os().getpwuid(os().geteuid());
    if (user == nullptr || user->pw_dir == nullptr || *user->pw_dir != '/') return {};
    return QFile::decodeName(user->pw_dir) + QStringLiteral("/.local/state/kurumu");
}

QString environmentStateFolder() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base + QStringLiteral("/kurumu"));
}

// A regular file in the folder, opened for reading without following a link and without
// ever opening anything else that is planted under its name (a fifo, a device).
FileDescriptor openRegular(int folder, const QByteArray& name) {
    struct stat seen {};
    if (os().fstatat(folder, name.constData(), &seen, AT_SYMLINK_NOFOLLOW) != 0) return FileDescriptor();
    if (!S_ISREG(seen.st_mode)) {
        errno = EINVAL;
        return FileDescriptor();
    }
    FileDescriptor fd(retry(
        [&] { return os().openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0); }));
    struct stat opened {};
    if (!fd.valid() || os().fstat(fd.get(), &opened) != 0) return FileDescriptor();
    if (opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino) {
        errno = EBUSY;
        return FileDescriptor();
    }
    return fd;
}

}  // namespace

Result<StateFolder> StateFolder::openAt(const QString& path, Making making) {
    const bool make = making == Making::Missing;
    Result<StateFolder> state;
    state.value.m_path = path;
    Opened folder = openStateFolder(path, make);
    if (folder.refused) {
        state.value.m_refusal = refusalText(*folder.refused);
        if (folder.refused->above) state.value.m_foreignAbove = {folder.refused->folder, *folder.refused->owner};
        return {std::move(state.value), Status{EPERM}};
    }
    if (!folder.fd.valid()) return {std::move(state.value), folder.error == ENOENT ? Status{} : Status{folder.error}};
    state.value.m_state = std::move(folder.fd);
    Opened runs = openBeneath(state.value.m_state.get(), "runs", state.value.runsPath(), make);
    if (runs.refused) {
        state.value.m_refusal = refusalText(*runs.refused);
        return {std::move(state.value), Status{EPERM}};
    }
    if (!runs.fd.valid() && runs.error != ENOENT) return {std::move(state.value), Status{runs.error}};
    state.value.m_runs = std::move(runs.fd);
    return state;
}

Result<StateFolder> StateFolder::open(Making making) {
    const QString wanted = environmentStateFolder();
    Result<StateFolder> state = openAt(wanted, making);
    // Only a folder above that is not the user's sends the state elsewhere: a link, or
    // another user's state folder itself, is refused.
    const std::optional<ForeignFolder> above = state.value.m_foreignAbove;
    const QString own = ownStateFolder();
    if (state.ok() || !above || own.isEmpty() || own == wanted) return state;
    Result<StateFolder> instead = openAt(own, making);
    if (!instead.ok()) return state;
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        instead.value.m_note = QStringLiteral("%1 は別のユーザー(%2)のフォルダのため、記録は %3 に置きます")
                                   .arg(above->folder, userName(above->owner), own);
    return instead;
}

Result<AppendLog> StateFolder::createRunFile(const QString& name) const {
    if (!m_runs.valid()) return {{}, Status{ENOENT}};
    Result<AppendLog> log = AppendLog::createAt(m_runs.get(), encodePath(name), runsPath() + u'/' + name);
    // Its name on the disk before the run changes anything: a power cut after the run must
    // not take the record of it away.
    if (const int error = log.ok() ? syncNames(m_runs.get()) : 0; error != 0) log.status = Status{error};
    return log;
}

QStringList StateFolder::runFiles() const {
    if (!m_runs.valid()) return {};
    const int fd = retry([&] { return os().openat(m_runs.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (fd < 0) return {};
    DIR* const folder = os().fdopendir(fd);
    if (folder == nullptr) {
        os().close(fd);
        return {};
    }
    QStringList names;
    while (const dirent* entry = os().readdir(folder)) {
        struct stat info {};
        if (entry->d_name[0] == '.') continue;
        if (os().fstatat(m_runs.get(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            continue;
        names.append(QFile::decodeName(entry->d_name));
    }
    os().closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

Result<QByteArray> StateFolder::readRunFile(const QString& name, qint64 limit, bool& privateToUser) const {
    privateToUser = false;
    if (!m_runs.valid()) return {{}, Status{ENOENT}};
    const FileDescriptor fd = openRegular(m_runs.get(), encodePath(name));
    if (!fd.valid()) return {{}, detail::lastError()};
    struct stat info {};
    if (os().fstat(fd.get(), &info) != 0) return {{}, detail::lastError()};
    privateToUser = info.st_uid == os().geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    return readStart(fd.get(), std::min<qint64>(limit, info.st_size));
}

bool StateFolder::runFileWritten(const QString& name) const {
    if (!m_runs.valid()) return false;
    const FileDescriptor fd = openRegular(m_runs.get(), encodePath(name));
    return fd.valid() && AppendLog::heldByWriter(fd.get());
}

Status StateFolder::removeRunFile(const QString& name) const {
    if (!m_runs.valid()) return Status{ENOENT};
    const QByteArray encoded = encodePath(name);
    // Held and locked while it goes: a writer that holds it keeps it.
    const FileDescriptor fd = openRegular(m_runs.get(), encoded);
    struct stat info {};
    if (!fd.valid() || os().fstat(fd.get(), &info) != 0) return detail::lastError();
    if (retry([&] { return os().flock(fd.get(), LOCK_EX | LOCK_NB); }) != 0) return Status{EBUSY};
    struct stat there {};
    if (os().fstatat(m_runs.get(), encoded.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0) return detail::lastError();
    if (there.st_dev != info.st_dev || there.st_ino != info.st_ino) return Status{EBUSY};
    return detail::statusOf(os().unlinkat(m_runs.get(), encoded.constData(), 0));
}

Result<FileLock> StateFolder::lock(const QString& name) const {
    if (!m_state.valid()) return {{}, Status{ENOENT}};
    return FileLock::takeAt(m_state.get(), encodePath(name));
}

Result<QByteArray> StateFolder::readStateFile(const QString& name, qint64 limit) const {
    if (!m_state.valid()) return {{}, Status{ENOENT}};
    const FileDescriptor fd = openRegular(m_state.get(), encodePath(name));
    struct stat info {};
    if (!fd.valid() || os().fstat(fd.get(), &info) != 0) return {{}, detail::lastError()};
    return readStart(fd.get(), std::min<qint64>(limit, info.st_size));
}

Status StateFolder::replaceStateFile(const QString& name, const QByteArray& bytes) const {
    if (!m_state.valid()) return Status{ENOENT};
    const QByteArray encoded = encodePath(name);
    const QByteArray staged = '.' + encoded + ".new";
    FileDescriptor fd(retry([&] {
        return os().openat(m_state.get(), staged.constData(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    }));
    if (!fd.valid()) return detail::lastError();
    Status status;
    for (qsizetype written = 0; written < bytes.size() && status.ok();) {
        const ssize_t step = retry([&] {
            return os().write(fd.get(), bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        });
        if (step < 0) status = detail::lastError();
        written += std::max<ssize_t>(step, 0);
    }
    if (const Status closed = fd.close(); status.ok()) status = closed;
    if (status.ok())
        status =
            detail::statusOf(os().renameat2(m_state.get(), staged.constData(), m_state.get(), encoded.constData(), 0));
    if (!status.ok()) os().unlinkat(m_state.get(), staged.constData(), 0);  // nothing half written is left
    return status;
}

QString userName(quint32 uid) {
    if (const passwd* const user = os().getpwuid(uid); user != nullptr && user->pw_name != nullptr)
        return QString::fromLocal8Bit(user->pw_name);
    return QString::number(uid);
}

std::optional<quint32> primaryGroupOf(quint32 uid) {
    const passwd* const user = os().getpwuid(uid);
    if (user == nullptr) return std::nullopt;
    return user->pw_gid;
}

}  // namespace kurumu::platform
