#include "platform/AppendLog.h"

#include "platform/FileDescriptor.h"
#include "platform/FileOperations.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kurumu::platform {

namespace {

using sys::os;
using sys::retry;

constexpr qint64 kGrowth = 1 << 20;

}  // namespace

Result<AppendLog> AppendLog::create(const QString& path) {
    Result<AppendLog> log;
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return {{}, Status{EACCES}};
    log.value.m_fd = retry([&] {
        return os().openat(AT_FDCWD, encodePath(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           0600);
    });
    if (log.value.m_fd < 0) return {{}, detail::lastError()};
    // Held while the file is written: a reader tells a live writer's file from one whose
    // writer is gone (a kill releases the lock with the process).
    if (retry([&] { return os().flock(log.value.m_fd, LOCK_EX | LOCK_NB); }) != 0) return {{}, detail::lastError()};
    log.value.m_path = path;
    log.status = log.value.grow(kGrowth);
    return log;
}

AppendLog::AppendLog(AppendLog&& other) noexcept
    : m_path(std::move(other.m_path)),
      m_fd(std::exchange(other.m_fd, -1)),
      m_map(std::exchange(other.m_map, nullptr)),
      m_capacity(std::exchange(other.m_capacity, 0)),
      m_length(std::exchange(other.m_length, 0)) {}

AppendLog& AppendLog::operator=(AppendLog&& other) noexcept {
    if (this != &other) {
        close();
        m_path = std::move(other.m_path);
        m_fd = std::exchange(other.m_fd, -1);
        m_map = std::exchange(other.m_map, nullptr);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_length = std::exchange(other.m_length, 0);
    }
    return *this;
}

AppendLog::~AppendLog() {
    close();
}

Status AppendLog::grow(qint64 atLeast) {
    const qint64 capacity = std::max(atLeast, m_capacity + kGrowth);
    // The file gets its blocks now, so that a full volume shows here and not as a fault
    // when the mapping is written to.
    if (const int error = os().posix_fallocate(m_fd, 0, capacity); error != 0) return Status{error};
    void* map =
        m_map == nullptr
            ? ::mmap(nullptr, static_cast<std::size_t>(capacity), PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0)
            : ::mremap(m_map, static_cast<std::size_t>(m_capacity), static_cast<std::size_t>(capacity), MREMAP_MAYMOVE);
    if (map == MAP_FAILED) return detail::lastError();
    // The new pages made writable now, in one call, rather than one fault at a time while
    // the run writes its lines (a hint: kernels without it fault as before).
    ::madvise(static_cast<char*>(map) + m_capacity, static_cast<std::size_t>(capacity - m_capacity),
              MADV_POPULATE_WRITE);
    m_map = static_cast<char*>(map);
    m_capacity = capacity;
    return {};
}

Status AppendLog::append(const QByteArray& bytes) {
    if (m_fd < 0) return Status{EBADF};
    if (m_length + bytes.size() > m_capacity) {
        if (const Status grown = grow(m_length + bytes.size()); !grown.ok()) return grown;
    }
    std::memcpy(m_map + m_length, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    m_length += bytes.size();
    return {};
}

Status AppendLog::close() {
    if (m_fd < 0) return {};
    if (m_map != nullptr) ::munmap(m_map, static_cast<std::size_t>(m_capacity));
    m_map = nullptr;
    Status status = os().ftruncate(m_fd, m_length) == 0 ? Status{} : detail::lastError();
    if (status.ok() && retry([&] { return os().fsync(m_fd); }) != 0) status = detail::lastError();
    FileDescriptor(std::exchange(m_fd, -1)).close();
    return status;
}

Result<FileLock> FileLock::take(const QString& path) {
    Result<FileLock> lock;
    lock.value.m_fd = retry([&] {
        return os().openat(AT_FDCWD, encodePath(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    });
    if (lock.value.m_fd < 0) return {{}, detail::lastError()};
    if (retry([&] { return os().flock(lock.value.m_fd, LOCK_EX | LOCK_NB); }) != 0)
        lock.status = errno == EWOULDBLOCK ? Status{EBUSY} : detail::lastError();
    return lock;
}

FileLock::~FileLock() {
    if (m_fd >= 0) os().close(m_fd);
}

bool AppendLog::heldByWriter(const QString& path) {
    const FileDescriptor fd(retry(
        [&] { return os().openat(AT_FDCWD, encodePath(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0); }));
    if (!fd.valid()) return false;
    if (retry([&] { return os().flock(fd.get(), LOCK_SH | LOCK_NB); }) == 0) return false;
    return errno == EWOULDBLOCK;
}

QString stateFolder() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/kurumu");
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

Status removeFile(const QString& path) {
    return detail::statusOf(os().unlinkat(AT_FDCWD, encodePath(path).constData(), 0));
}

}  // namespace kurumu::platform
