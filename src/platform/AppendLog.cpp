#include "platform/AppendLog.h"

#include "platform/FileDescriptor.h"
#include "platform/FileOperations.h"
#include "platform/FileSystem.h"

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

// The file grows, and the mapping moves along it, by at least this much at a time. Only
// the part being written is mapped, so that a long run's journal does not stay in the
// process's memory.
constexpr qint64 kGrowth = 1 << 20;

qint64 pageSize() {
    static const qint64 size = os().sysconf(_SC_PAGESIZE);
    return size;
}

}  // namespace

Result<AppendLog> AppendLog::createAt(int folder, const QByteArray& name, const QString& path) {
    Result<AppendLog> log;
    log.value.m_fd = retry([&] {
        return os().openat(folder, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    });
    if (log.value.m_fd < 0) return {{}, detail::lastError()};
    // Held while the file is written: a reader tells a live writer's file from one whose
    // writer is gone (a kill releases the lock with the process).
    if (retry([&] { return os().flock(log.value.m_fd, LOCK_EX | LOCK_NB); }) != 0) return {{}, detail::lastError()};
    log.value.m_path = path;
    log.status = log.value.reserve(kGrowth);
    if (log.status.ok()) log.status = log.value.mapAt(0);
    return log;
}

AppendLog::AppendLog(AppendLog&& other) noexcept
    : m_path(std::move(other.m_path)),
      m_fd(std::exchange(other.m_fd, -1)),
      m_map(std::exchange(other.m_map, nullptr)),
      m_mapStart(std::exchange(other.m_mapStart, 0)),
      m_mapSize(std::exchange(other.m_mapSize, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)),
      m_length(std::exchange(other.m_length, 0)) {}

AppendLog& AppendLog::operator=(AppendLog&& other) noexcept {
    if (this != &other) {
        close();
        m_path = std::move(other.m_path);
        m_fd = std::exchange(other.m_fd, -1);
        m_map = std::exchange(other.m_map, nullptr);
        m_mapStart = std::exchange(other.m_mapStart, 0);
        m_mapSize = std::exchange(other.m_mapSize, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_length = std::exchange(other.m_length, 0);
    }
    return *this;
}

AppendLog::~AppendLog() {
    close();
}

// Gives the file its blocks up to end at least, so that a full volume shows here and not
// as a fault when the mapping is written to.
Status AppendLog::reserve(qint64 end) {
    if (end <= m_capacity) return {};
    const qint64 capacity = (std::max(end, m_capacity + kGrowth) + pageSize() - 1) / pageSize() * pageSize();
    if (const int error = os().posix_fallocate(m_fd, m_capacity, capacity - m_capacity); error != 0)
        return Status{error};
    m_capacity = capacity;
    return {};
}

// Maps the file from start (a page boundary) for up to kGrowth bytes of the blocks it has.
// The pages left behind stay in the system's cache, written.
Status AppendLog::mapAt(qint64 start) {
    const qint64 size = std::min(kGrowth, m_capacity - start);
    void* map = os().mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, start);
    // The pages made writable now, in one call, rather than one fault at a time while the
    // run writes its lines (a hint: kernels without it fault as before). Before the part
    // left behind goes to the disk: made writable while that part's blocks are being
    // written, they wait for them.
    if (map != MAP_FAILED) os().madvise(map, static_cast<std::size_t>(size), MADV_POPULATE_WRITE);
    // The pages written before the new part are handed to the disk now, while the writer
    // goes on, so that the flush at the end has only the last part left to wait for (a
    // hint: the pages stay in the cache, written, whatever it answers).
    if (m_map != nullptr && start > m_mapStart)
        os().sync_file_range(m_fd, m_mapStart, start - m_mapStart, SYNC_FILE_RANGE_WRITE);
    unmap();
    if (map == MAP_FAILED) return detail::lastError();
    m_map = static_cast<char*>(map);
    m_mapStart = start;
    m_mapSize = size;
    return {};
}

void AppendLog::unmap() {
    if (m_map != nullptr) os().munmap(m_map, static_cast<std::size_t>(m_mapSize));
    m_map = nullptr;
    m_mapSize = 0;
}

Status AppendLog::append(QByteArrayView bytes, qint64 spare) {
    if (m_fd < 0) return Status{EBADF};
    // The blocks of the whole line first: a full volume refuses it whole, never half of it.
    if (const Status reserved = reserve(m_length + bytes.size() + spare); !reserved.ok()) return reserved;
    // A line longer than the mapping is copied as the mapping moves along it; should the
    // mapping fail on the way, the line is taken back whole: the next one is written in its
    // place, and the file is cut after that one when it is closed.
    const qint64 start = m_length;
    qint64 copied = 0;
    while (copied < bytes.size()) {
        if (m_map == nullptr || m_length < m_mapStart || m_length >= m_mapStart + m_mapSize) {
            if (const Status moved = mapAt(m_length / pageSize() * pageSize()); !moved.ok()) {
                m_length = start;
                return moved;
            }
        }
        const qint64 part = std::min(m_mapStart + m_mapSize - m_length, bytes.size() - copied);
        std::memcpy(m_map + (m_length - m_mapStart), bytes.constData() + copied, static_cast<std::size_t>(part));
        m_length += part;
        copied += part;
    }
    return {};
}

Status AppendLog::close() {
    if (m_fd < 0) return {};
    unmap();
    Status status = os().ftruncate(m_fd, m_length) == 0 ? Status{} : detail::lastError();
    if (status.ok() && retry([&] { return os().fsync(m_fd); }) != 0) status = detail::lastError();
    FileDescriptor(std::exchange(m_fd, -1)).close();
    return status;
}

Result<FileLock> FileLock::takeAt(int folder, const QByteArray& name) {
    Result<FileLock> lock;
    lock.value.m_fd =
        retry([&] { return os().openat(folder, name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600); });
    if (lock.value.m_fd < 0) return {{}, detail::lastError()};
    if (retry([&] { return os().flock(lock.value.m_fd, LOCK_EX | LOCK_NB); }) != 0)
        lock.status = errno == EWOULDBLOCK ? Status{EBUSY} : detail::lastError();
    return lock;
}

FileLock::~FileLock() {
    if (m_fd >= 0) os().close(m_fd);
}

bool AppendLog::heldByWriter(int fd) {
    // A shared lock taken (and released with the descriptor's last close) is no writer's.
    if (retry([&] { return os().flock(fd, LOCK_SH | LOCK_NB); }) == 0) {
        retry([&] { return os().flock(fd, LOCK_UN); });
        return false;
    }
    return errno == EWOULDBLOCK;
}

}  // namespace kurumu::platform
