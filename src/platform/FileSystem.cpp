#include "platform/FileSystem.h"

#include "platform/BytesHash.h"

#include "platform/FileDescriptor.h"
#include "platform/FileOperations.h"
#include "platform/Paths.h"
#include "platform/Process.h"

#include <QByteArrayView>
#include <QFile>
#include <QHash>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kurumu::platform {

QByteArray hiddenName(const QByteArray& prefix, const QByteArray& tag) {
    static std::atomic<unsigned> counter{0};
    return prefix + QByteArray::number(processId()) + '-' + tag + QByteArray::number(++counter);
}

std::optional<qint64> hiddenNameOwner(const QString& name) {
    for (const char* prefix : {kSetAsidePrefix, kUnpublishedPrefix}) {
        const QLatin1String start(prefix);
        if (!name.startsWith(start)) continue;
        const QString rest = name.mid(start.size());
        bool ok = false;
        const qint64 pid = rest.left(rest.indexOf(u'-')).toLongLong(&ok);
        if (ok) return pid;
    }
    return std::nullopt;
}

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

// The names looked for in one folder, in an open table of their indexes: one probe of
// memory for each name the folder's listing holds, and no allocation a name.
class SoughtNames {
public:
    explicit SoughtNames(const std::vector<std::string_view>& names) : m_names(names) {
        std::size_t size = 64;
        while (size < 2 * names.size()) size *= 2;
        m_slots.assign(size, kEmpty);
        m_found.assign(size, false);
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::size_t slot = slotOf(names[i]);
            if (m_slots[slot] == kEmpty) m_slots[slot] = static_cast<std::uint32_t>(i);
        }
    }
    void mark(std::string_view name) {
        const std::size_t slot = slotOf(name);
        if (m_slots[slot] != kEmpty) m_found[slot] = true;
    }
    bool found(std::string_view name) const { return m_found[slotOf(name)]; }

private:
    static constexpr std::uint32_t kEmpty = UINT32_MAX;
    // The slot that holds the name, or the empty one where it would go.
    std::size_t slotOf(std::string_view name) const {
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t slot = detail::BytesHash{}(name)&mask;; slot = (slot + 1) & mask) {
            if (m_slots[slot] == kEmpty || m_names[m_slots[slot]] == name) return slot;
        }
    }

    const std::vector<std::string_view>& m_names;
    std::vector<std::uint32_t> m_slots;
    std::vector<bool> m_found;
};

// Marks which of the names sought the folder holds, in one listing of it; false when it
// cannot be listed whole.
bool markListed(const QString& folder, SoughtNames& names) {
    const int fd = retry(
        [&] { return os().openat(AT_FDCWD, encodePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (fd < 0) return false;
    DIR* stream = os().fdopendir(fd);
    if (stream == nullptr) {
        os().close(fd);
        return false;
    }
    errno = 0;
    while (const struct dirent* entry = os().readdir(stream)) names.mark(std::string_view(entry->d_name));
    const bool complete = errno == 0;
    os().closedir(stream);
    return complete;
}

}  // namespace

Status writeWholeLines(int fd, QByteArrayView lines) {
    struct stat info {};
    // A write of at most PIPE_BUF bytes reaches a pipe whole, even when its writer is killed.
    const qsizetype limit = os().fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode) ? PIPE_BUF : lines.size();
    while (!lines.isEmpty()) {
        qsizetype size = lines.size();
        if (size > limit) {
            // The lines that fit; a single longer line goes alone.
            const qsizetype end = lines.first(limit).lastIndexOf('\n');
            const qsizetype longLine = lines.indexOf('\n', limit);
            size = end >= 0 ? end + 1 : (longLine >= 0 ? longLine + 1 : lines.size());
        }
        qsizetype done = 0;
        while (done < size) {
            const ssize_t wrote =
                retry([&] { return os().write(fd, lines.data() + done, static_cast<std::size_t>(size - done)); });
            if (wrote < 0) return lastError();
            done += wrote;
        }
        lines = lines.sliced(size);
    }
    return {};
}

QByteArray encodePath(const QString& path) {
    return QFile::encodeName(path);
}

// Decoding takes a byte-order mark at the start away, and turns bytes that are not UTF-8
// into replacement characters.
bool isFaithfulPath(QByteArrayView bytes) {
    return bytes.isValidUtf8() && !bytes.startsWith("\xEF\xBB\xBF");
}

bool FileExists(const QString& path) {
    struct stat info {};
    return lstatPath(path, info) && !S_ISDIR(info.st_mode);
}

bool PathExists(const QString& path) {
    struct stat info {};
    return lstatPath(path, info);
}

namespace {

// Where the last component of a path starts, for a path whose last component is a plain
// name in a folder below the root; -1 for the root, a bare name, a path that ends in "/",
// and "." and "..", which are looked up each.
qsizetype plainNameStart(QStringView path) {
    if (path.endsWith(kSeparator)) return -1;
    const qsizetype slash = lastSeparator(path);
    if (slash <= 0) return -1;
    const QStringView name = path.sliced(slash + 1);
    return name == u"." || name == u".." ? -1 : slash + 1;
}

// Whether each of the paths (given by their indexes, all with a plain name in the folder)
// is there, from one listing of the folder; false when it cannot be listed whole. The
// names are encoded into one block, which the looked-up keys view.
bool listedInFolder(QStringView folder, const QStringList& paths, const std::vector<qsizetype>& nameStarts,
                    const QList<qsizetype>& indexes, QList<bool>& there) {
    const auto nameOf = [&](qsizetype i) {
        return QStringView(paths[i]).sliced(nameStarts[static_cast<std::size_t>(i)]);
    };
    qsizetype room = 0;
    for (const qsizetype i : indexes) room += 3 * nameOf(i).size();
    QByteArray block(room, Qt::Uninitialized);
    std::vector<std::string_view> names;
    names.reserve(static_cast<std::size_t>(indexes.size()));
    QStringEncoder utf8(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    char* end = block.data();
    for (const qsizetype i : indexes) {
        char* const start = end;
        end = utf8.appendToBuffer(start, nameOf(i));
        names.emplace_back(start, static_cast<std::size_t>(end - start));
    }
    SoughtNames sought(names);
    if (!markListed(folder.toString(), sought)) return false;
    for (std::size_t k = 0; k < names.size(); ++k) there[indexes[static_cast<qsizetype>(k)]] = sought.found(names[k]);
    return true;
}

}  // namespace

QList<bool> pathsExist(const QStringList& paths) {
    constexpr qsizetype kListFrom = 32;  // below that many, looking each up costs less
    QList<bool> there(paths.size(), false);
    QHash<QStringView, QList<qsizetype>> byFolder;
    // Paths come mostly folder by folder: the last folder's list is taken again unhashed.
    QStringView lastFolder;
    QList<qsizetype>* lastList = nullptr;
    std::vector<qsizetype> nameStarts(static_cast<std::size_t>(paths.size()));
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const qsizetype name = plainNameStart(paths[i]);
        nameStarts[static_cast<std::size_t>(i)] = name;
        if (name < 0) {
            there[i] = PathExists(paths[i]);
            continue;
        }
        const QStringView folder = QStringView(paths[i]).first(name - 1);
        if (lastList == nullptr || folder != lastFolder) {
            lastFolder = folder;
            lastList = &byFolder[folder];
        }
        lastList->append(i);
    }
    for (auto folder = byFolder.cbegin(); folder != byFolder.cend(); ++folder) {
        if (folder->size() >= kListFrom && listedInFolder(folder.key(), paths, nameStarts, *folder, there)) continue;
        for (const qsizetype i : *folder) there[i] = PathExists(paths[i]);
    }
    return there;
}

bool FolderExists(const QString& path) {
    struct stat info {};
    return lstatPath(path, info) && S_ISDIR(info.st_mode);
}

Status readFileBlocks(const QString& path, const std::function<void(const std::byte*, std::size_t)>& consume) {
    const FileDescriptor fd(retry([&] {
        return os().openat(AT_FDCWD, encodePath(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
    }));
    if (!fd.valid()) return lastError();
    struct stat info {};
    if (os().fstat(fd.get(), &info) != 0) return lastError();
    if (!S_ISREG(info.st_mode)) return Status{EINVAL};  // a fifo or device is never read
    os().posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    // A block that stays in the processor cache between the read and its consumer.
    constexpr std::size_t kBlock = std::size_t{128} * 1024;
    std::vector<std::byte> buffer(kBlock);
    for (;;) {
        const ssize_t got = retry([&] { return os().read(fd.get(), buffer.data(), buffer.size()); });
        if (got < 0) return lastError();
        if (got == 0) return {};
        consume(buffer.data(), static_cast<std::size_t>(got));
    }
}

Result<QByteArray> readStart(int fd, qint64 size) {
    Result<QByteArray> result;
    result.value.resize(static_cast<qsizetype>(size));
    qsizetype done = 0;
    while (done < result.value.size()) {
        const ssize_t got = retry([&] {
            return os().read(fd, result.value.data() + done, static_cast<std::size_t>(result.value.size() - done));
        });
        if (got < 0) return {{}, lastError()};
        if (got == 0) break;
        done += got;
    }
    result.value.truncate(done);
    return result;
}

Result<QByteArray> readFileStart(const QString& path, qint64 limit) {
    const FileDescriptor fd(retry(
        [&] { return os().openat(AT_FDCWD, encodePath(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0); }));
    if (!fd.valid()) return {{}, lastError()};
    struct stat info {};
    if (os().fstat(fd.get(), &info) != 0) return {{}, lastError()};
    if (!S_ISREG(info.st_mode)) return {{}, Status{EINVAL}};
    return readStart(fd.get(), std::min<qint64>(limit, info.st_size));
}

Status createFileWith(const QString& path, const QByteArray& bytes) {
    FileDescriptor fd(retry([&] {
        return os().openat(AT_FDCWD, encodePath(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           0666);
    }));
    if (!fd.valid()) return lastError();
    if (const Status written = writeAll(fd.get(), bytes); !written.ok()) return written;
    return fd.close();
}

bool privateToUser(const QString& path) {
    struct stat info {};
    return lstatPath(path, info) && !S_ISLNK(info.st_mode) && info.st_uid == os().geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

Status replaceFile(const QString& path, const QByteArray& bytes) {
    std::array<char, PATH_MAX> resolved{};
    if (os().realpath(encodePath(path).constData(), resolved.data()) == nullptr) return lastError();
    const QByteArray target(resolved.data());
    struct stat old {};
    if (os().fstatat(AT_FDCWD, target.constData(), &old, 0) != 0) return lastError();
    if (!S_ISREG(old.st_mode)) return Status{EINVAL};
    if ((old.st_mode & S_IWUSR) == 0) return Status{EACCES};
    const QByteArray temporary = detail::folderOf(target) + '/' + hiddenName('.' + detail::nameOf(target) + '-');
    FileDescriptor fd(retry([&] {
        return os().openat(AT_FDCWD, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           old.st_mode & 07777);
    }));
    if (!fd.valid()) return lastError();
    os().fchown(fd.get(), old.st_uid, old.st_gid);  // kept where the process may
    Status status = writeAll(fd.get(), bytes);
    if (status.ok()) status = detail::statusOf(retry([&] { return os().fsync(fd.get()); }));
    if (const Status closed = fd.close(); status.ok()) status = closed;
    if (status.ok())
        status = detail::statusOf(os().renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(), 0));
    if (!status.ok()) os().unlinkat(AT_FDCWD, temporary.constData(), 0);
    return status;
}

}  // namespace kurumu::platform
