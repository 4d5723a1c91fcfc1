#include "platform/FileSystem.h"

#include "platform/Paths.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kurumu::platform {

namespace {

Status lastError() {
    return Status{errno};
}

Status statusOf(int returnValue) {
    return returnValue == 0 ? Status{} : lastError();
}

bool lstatPath(const QString& path, struct stat& info) {
    const QByteArray bytes = encodePath(path);
    return !bytes.isEmpty() && ::lstat(bytes.constData(), &info) == 0;
}

// True when the bytes decode as UTF-8 and encode back to the same bytes, so that a
// QString made of them names exactly that entry.
bool isRepresentable(const std::string& name) {
    const QByteArray bytes = QByteArray::fromStdString(name);
    return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
}

}  // namespace

QByteArray encodePath(const QString& path) {
    return QFile::encodeName(path);
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

Status CreateFolder(const QString& path) {
    return statusOf(::mkdir(encodePath(path).constData(), 0777));
}

Result<FileInfo> fileInfo(const QString& path) {
    struct stat info {};
    if (!lstatPath(path, info)) return {{}, lastError()};
    return {{static_cast<qint64>(info.st_size), S_ISLNK(info.st_mode), S_ISREG(info.st_mode),
             static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino)},
            {}};
}

bool isSameFile(const QString& first, const QString& second) {
    const Result<FileInfo> a = fileInfo(first);
    const Result<FileInfo> b = fileInfo(second);
    return a.ok() && b.ok() && a.value.device == b.value.device && a.value.inode == b.value.inode;
}

Result<QByteArray> linkTarget(const QString& path) {
    std::array<char, 4096> buffer{};
    const ssize_t length = ::readlink(encodePath(path).constData(), buffer.data(), buffer.size());
    if (length < 0) return {{}, lastError()};
    return {QByteArray(buffer.data(), length), {}};
}

Result<FolderListing> listFolder(const QString& path) {
    namespace fs = std::filesystem;
    Result<FolderListing> result;
    std::error_code error;
    fs::directory_iterator entries(fs::path(encodePath(path).toStdString()), error);
    const QString folder = withTrailingSeparator(path);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (!isRepresentable(name)) {
            result.value.undecodableNames.append(QByteArray::fromStdString(name));
            continue;
        }
        const QString full = folder + QFile::decodeName(QByteArray::fromStdString(name));
        std::error_code statusError;
        const bool isFolder = fs::is_directory(entries->symlink_status(statusError));
        (isFolder ? result.value.subfolders : result.value.files).append(full);
    }
    if (error) result.status = Status{error.value()};
    return result;
}

Status removeEmptyFolder(const QString& path) {
    return statusOf(::rmdir(encodePath(path).constData()));
}

Status DeleteFile(const QString& path, bool force) {
    struct stat info {};
    if (!lstatPath(path, info)) return lastError();
    if (S_ISDIR(info.st_mode)) return Status{ENOENT};  // No file of that name.
    if (!force && !S_ISLNK(info.st_mode) && (info.st_mode & S_IWUSR) == 0) return Status{EACCES};
    return statusOf(::unlink(encodePath(path).constData()));
}

Status readFileBlocks(const QString& path, const std::function<void(const std::byte*, std::size_t)>& consume) {
    const int fd = ::open(encodePath(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return lastError();
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // A block that stays in the processor cache between the read and its consumer.
    constexpr std::size_t kBlock = 128 * 1024;
    std::vector<std::byte> buffer(kBlock);
    Status status;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            status = lastError();
            break;
        }
        if (got == 0) break;
        consume(buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return status;
}

Result<QByteArray> readWholeFile(const QString& path) {
    Result<QByteArray> result;
    result.status = readFileBlocks(path, [&result](const std::byte* data, std::size_t size) {
        result.value.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    });
    return result;
}

TextFileWriter::~TextFileWriter() {
    if (m_fd >= 0) ::close(m_fd);
}

Status TextFileWriter::create(const QString& path) {
    m_fd = ::open(encodePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return m_fd < 0 ? lastError() : Status{};
}

Status TextFileWriter::writeLine(const QByteArray& line) {
    const QByteArray bytes = line + QByteArrayLiteral("\r\n");
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(m_fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) return lastError();
        done += wrote;
    }
    return {};
}

Status TextFileWriter::close() {
    const int fd = m_fd;
    m_fd = -1;
    return statusOf(::close(fd));
}

}  // namespace kurumu::platform
