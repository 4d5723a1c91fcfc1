// Moving and copying files so that no data is ever lost: nothing is replaced, a copy is
// published complete or not at all, and a source is removed only after its copy is
// flushed and checked.
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <array>
#include <cerrno>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kurumu::platform {

namespace {

// A file descriptor closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now and reports the outcome, as a write-back error shows only here.
    Status close() {
        const int fd = std::exchange(m_fd, -1);
        return ::close(fd) == 0 ? Status{} : Status{errno};
    }

private:
    int m_fd;
};

PlaceResult placed() {
    return {PlaceOutcome::Placed, {}};
}
PlaceResult occupied() {
    return {PlaceOutcome::Occupied, {}};
}
PlaceResult failed(int error) {
    return {PlaceOutcome::Failed, Status{error}};
}
PlaceResult failedWithErrno() {
    return failed(errno);
}

int renameNoReplace(const QByteArray& from, const QByteArray& to) {
    return static_cast<int>(
        ::syscall(SYS_renameat2, AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE));
}

bool sameIdentity(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

Status writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t wrote = ::write(fd, data, size);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) return Status{errno};
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return {};
}

Status copyByReadWrite(int from, int to, off_t offset) {
    constexpr std::size_t kBuffer = 256 * 1024;
    std::vector<char> buffer(kBuffer);
    for (;;) {
        const ssize_t got = ::pread(from, buffer.data(), buffer.size(), offset);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Status{errno};
        if (got == 0) return {};
        if (const Status status = writeAll(to, buffer.data(), static_cast<std::size_t>(got)); !status.ok())
            return status;
        offset += got;
    }
}

// Copies every byte of one open file of the given length into another, in the kernel
// where it can. A source that shrinks meanwhile ends the copy early; the caller checks.
Status copyData(int from, int to, off_t length) {
    off_t copied = 0;
    while (copied < length) {
        const ssize_t moved =
            ::copy_file_range(from, nullptr, to, nullptr, static_cast<std::size_t>(length - copied), 0);
        if (moved < 0 && errno == EINTR) continue;
        if (moved < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) && copied == 0) {
            return copyByReadWrite(from, to, 0);
        }
        if (moved < 0) return Status{errno};
        if (moved == 0) break;
        copied += moved;
    }
    return {};
}

// An unnamed file in the destination folder, or, where O_TMPFILE is missing, a file
// created exclusively under the destination name and removed again unless published.
class PendingCopy {
public:
    PendingCopy(const PendingCopy&) = delete;
    PendingCopy& operator=(const PendingCopy&) = delete;
    ~PendingCopy() { discard(); }

    static PendingCopy create(const QByteArray& destination, PlaceResult& outcome) {
        const QByteArray folder = encodePath(GetParentfolderName(QString::fromUtf8(destination)));
        const QByteArray folderOrHere = folder.isEmpty() ? QByteArrayLiteral(".") : folder;
        int fd = ::open(folderOrHere.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) return PendingCopy(fd, destination, true);
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            outcome = failedWithErrno();
            return PendingCopy(-1, destination, true);
        }
        fd = ::open(destination.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0) outcome = errno == EEXIST ? occupied() : failedWithErrno();
        return PendingCopy(fd, destination, false);
    }

    int fd() const { return m_fd.get(); }
    bool valid() const { return m_fd.valid(); }

    // Gives the finished copy its name; fails with EEXIST when the name was taken meanwhile.
    PlaceResult publish() {
        if (m_anonymous) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd.get());
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, m_destination.constData(), AT_SYMLINK_FOLLOW) != 0)
                return errno == EEXIST ? occupied() : failedWithErrno();
        }
        m_named = true;
        if (const Status closed = m_fd.close(); !closed.ok()) {
            ::unlink(m_destination.constData());
            m_named = false;
            return {PlaceOutcome::Failed, closed};
        }
        m_published = true;
        return placed();
    }

    void discard() {
        if (m_published) return;
        if (m_fd.valid()) m_fd.close();
        if (!m_anonymous || m_named) ::unlink(m_destination.constData());
        m_published = true;
    }

private:
    PendingCopy(int fd, QByteArray destination, bool anonymous)
        : m_fd(fd), m_destination(std::move(destination)), m_anonymous(anonymous), m_published(fd < 0) {}

    FileDescriptor m_fd;
    QByteArray m_destination;
    bool m_anonymous;
    bool m_named = false;
    bool m_published;
};

PlaceResult copySymlink(const QByteArray& source, const QByteArray& destination) {
    std::array<char, 4096> target{};
    const ssize_t length = ::readlink(source.constData(), target.data(), target.size() - 1);
    if (length < 0) return failedWithErrno();
    if (::symlink(target.data(), destination.constData()) != 0) return errno == EEXIST ? occupied() : failedWithErrno();
    return placed();
}

// Copies a file (a link as the link); with flush set the copy is on the disk and of the source's
// length before it is published. The source's identity at the time of the copy is
// given back so that a move can check it before removing the source.
PlaceResult copyOneFile(const QByteArray& source, const QByteArray& destination, bool flush, struct stat& copied) {
    const FileDescriptor from(::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!from.valid() && errno == ELOOP) {
        // A symbolic link is copied as the link itself.
        if (::lstat(source.constData(), &copied) != 0) return failedWithErrno();
        return copySymlink(source, destination);
    }
    if (!from.valid()) return failedWithErrno();
    if (::fstat(from.get(), &copied) != 0) return failedWithErrno();
    if (!S_ISREG(copied.st_mode)) return failed(EINVAL);
    PlaceResult outcome = placed();
    PendingCopy copy = PendingCopy::create(destination, outcome);
    if (!copy.valid()) return outcome;
    if (const Status status = copyData(from.get(), copy.fd(), copied.st_size); !status.ok())
        return {PlaceOutcome::Failed, status};
    const std::array<struct timespec, 2> times{copied.st_atim, copied.st_mtim};
    if (::fchmod(copy.fd(), copied.st_mode & 07777) != 0 || ::futimens(copy.fd(), times.data()) != 0)
        return failedWithErrno();
    if (flush) {
        struct stat written {};
        if (::fdatasync(copy.fd()) != 0 || ::fstat(copy.fd(), &written) != 0) return failedWithErrno();
        if (written.st_size != copied.st_size) return failed(EIO);
    }
    return copy.publish();
}

// A move between file systems: copy, flush, check, then remove the source.
PlaceResult moveAcrossFileSystems(const QByteArray& source, const QByteArray& destination) {
    struct stat copied {};
    const PlaceResult copy = copyOneFile(source, destination, true, copied);
    if (copy.outcome != PlaceOutcome::Placed) return copy;
    struct stat now {};
    const bool unchanged = ::lstat(source.constData(), &now) == 0 && sameIdentity(now, copied);
    if (!unchanged || ::unlink(source.constData()) != 0) {
        const int error = unchanged ? errno : EBUSY;
        ::unlink(destination.constData());
        return failed(error);
    }
    return placed();
}

// Where renameat2 is not supported: a hard link fails on an existing name as well.
PlaceResult moveByLink(const QByteArray& source, const QByteArray& destination) {
    if (::link(source.constData(), destination.constData()) != 0) {
        if (errno == EEXIST) return occupied();
        if (errno == EXDEV) return moveAcrossFileSystems(source, destination);
        return failedWithErrno();
    }
    if (::unlink(source.constData()) != 0) {
        const int error = errno;
        ::unlink(destination.constData());
        return failed(error);
    }
    return placed();
}

}  // namespace

PlaceResult moveFileNoReplace(const QString& source, const QString& destination) {
    const QByteArray from = encodePath(source);
    const QByteArray to = encodePath(destination);
    if (renameNoReplace(from, to) == 0) return placed();
    switch (errno) {
        case EEXIST:
            return occupied();
        case EXDEV:
            return moveAcrossFileSystems(from, to);
        case EINVAL:
        case ENOSYS:
        case EOPNOTSUPP:
            return moveByLink(from, to);
        default:
            return failedWithErrno();
    }
}

PlaceResult copyFileNoReplace(const QString& source, const QString& destination) {
    struct stat copied {};
    return copyOneFile(encodePath(source), encodePath(destination), false, copied);
}

}  // namespace kurumu::platform
