#include "platform/FileSystem.h"

#include "platform/FileDescriptor.h"
#include "platform/FileOperations.h"

#include <QFile>

#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kurumu::platform {

namespace {

using detail::lastError;
using sys::os;
using sys::retry;

bool lstatPath(const QString& path, struct stat& info) {
    const QByteArray bytes = encodePath(path);
    return !bytes.isEmpty() && os().fstatat(AT_FDCWD, bytes.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

Status writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = retry(
            [&] { return os().write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done)); });
        if (wrote < 0) return lastError();
        done += wrote;
    }
    return {};
}

}  // namespace

QByteArray encodePath(const QString& path) {
    return QFile::encodeName(path);
}

bool isFaithfulPath(const QByteArray& bytes) {
    return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
}

bool FileExists(const QString& path) {
    struct stat info {};
    return lstatPath(path, info) && !S_ISDIR(info.st_mode);
}

bool PathExists(const QString& path) {
    struct stat info {};
    return lstatPath(path, info);
}

bool FolderExists(const QString& path) {
    struct stat info {};
    return lstatPath(path, info) && S_ISDIR(info.st_mode);
}

Status DeleteFile(const QString& path, bool force) {
    struct stat info {};
    if (!lstatPath(path, info)) return lastError();
    if (S_ISDIR(info.st_mode)) return Status{ENOENT};  // No file of that name.
    if (!force && !S_ISLNK(info.st_mode) && (info.st_mode & S_IWUSR) == 0) return Status{EACCES};
    return detail::statusOf(os().unlinkat(AT_FDCWD, encodePath(path).constData(), 0));
}

Status readFileBlocks(const QString& path, const std::function<void(const std::byte*, std::size_t)>& consume) {
    const FileDescriptor fd(retry([&] {
        return os().openat(AT_FDCWD, encodePath(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
    }));
    if (!fd.valid()) return lastError();
    struct stat info {};
    if (os().fstat(fd.get(), &info) != 0) return lastError();
    if (!S_ISREG(info.st_mode)) return Status{EINVAL};  // a fifo or device is never read
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    // A block that stays in the processor cache between the read and its consumer.
    constexpr std::size_t kBlock = 128 * 1024;
    std::vector<std::byte> buffer(kBlock);
    for (;;) {
        const ssize_t got = retry([&] { return os().read(fd.get(), buffer.data(), buffer.size()); });
        if (got < 0) return lastError();
        if (got == 0) return {};
        consume(buffer.data(), static_cast<std::size_t>(got));
    }
}

Result<QByteArray> readWholeFile(const QString& path) {
    Result<QByteArray> result;
    result.status = readFileBlocks(path, [&result](const std::byte* data, std::size_t size) {
        result.value.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    });
    return result;
}

TextFileWriter::~TextFileWriter() {
    if (m_fd >= 0) os().close(m_fd);
}

Status TextFileWriter::create(const QString& path) {
    m_fd = retry([&] {
        return os().openat(AT_FDCWD, encodePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    });
    return m_fd < 0 ? lastError() : Status{};
}

Status TextFileWriter::writeLine(const QByteArray& line) {
    return writeAll(m_fd, line + QByteArrayLiteral("\r\n"));
}

Status TextFileWriter::close() {
    return FileDescriptor(std::exchange(m_fd, -1)).close();
}

}  // namespace kurumu::platform
