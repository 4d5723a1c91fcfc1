// The file services on the real disk.
#include "platform/FileDescriptor.h"
#include "platform/FileOperations.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace kurumu::platform {

namespace detail {

Status lastError() {
    return Status{errno};
}

Status statusOf(int returnValue) {
    return returnValue == 0 ? Status{} : lastError();
}

Identity identityOf(const struct stat& info) {
    return {static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino)};
}

namespace {

qint64 nanoseconds(const struct timespec& time) {
    return static_cast<qint64>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

EntryKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::File;
    if (S_ISLNK(mode)) return EntryKind::Link;
    if (S_ISDIR(mode)) return EntryKind::Folder;
    return EntryKind::Special;
}

}  // namespace

EntryInfo entryInfoOf(const struct stat& info) {
    return {kindOf(info.st_mode),      static_cast<qint64>(info.st_size), identityOf(info),
            nanoseconds(info.st_mtim), nanoseconds(info.st_ctim),         static_cast<quint32>(info.st_mode & 07777)};
}

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) return QByteArrayLiteral(".");
    if (slash == 0) return QByteArrayLiteral("/");
    return path.left(slash);
}

QByteArray nameOf(const QByteArray& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

}  // namespace detail

namespace {

using detail::lastError;
using sys::os;
using sys::retry;

// True when the bytes decode as UTF-8 and encode back to the same bytes, so that a
// QString made of them names exactly that entry.
bool isRepresentable(const QByteArray& name) {
    return QFile::encodeName(QFile::decodeName(name)) == name;
}

// A folder listing's stream of entries, closed when it goes out of scope.
struct FolderStreamCloser {
    void operator()(DIR* folder) const { os().closedir(folder); }
};
using FolderStream = std::unique_ptr<DIR, FolderStreamCloser>;

bool isFolderEntry(int folder, const struct dirent& entry) {
    if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
    struct stat info {};
    return os().fstatat(folder, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
}

class RealFileServices final : public FileServices {
public:
    Result<EntryInfo> probe(const QString& path) override {
        struct stat info {};
        if (os().fstatat(AT_FDCWD, encodePath(path).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0)
            return {detail::entryInfoOf(info), {}};
        if (errno == ENOENT || errno == ENOTDIR) return {};  // nothing at that path
        return {{}, lastError()};
    }

    Result<QList<Identity>> folderChain(const QString& path) override {
        constexpr int kDeepest = 4096;
        Result<QList<Identity>> chain;
        FileDescriptor folder(retry(
            [&] { return os().openat(AT_FDCWD, encodePath(path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0); }));
        for (int depth = 0; depth < kDeepest; ++depth) {
            struct stat info {};
            if (!folder.valid() || os().fstat(folder.get(), &info) != 0) return {{}, lastError()};
            const Identity identity = detail::identityOf(info);
            if (!chain.value.isEmpty() && chain.value.last() == identity) break;  // the root is its own parent
            chain.value.append(identity);
            folder = FileDescriptor(
                retry([&] { return os().openat(folder.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC, 0); }));
        }
        return chain;
    }

    Result<QString> realFolder(const QString& path) override {
        std::array<char, PATH_MAX> resolved{};
        if (::realpath(encodePath(path).constData(), resolved.data()) == nullptr) return {{}, lastError()};
        struct stat info {};
        if (os().fstatat(AT_FDCWD, resolved.data(), &info, 0) != 0) return {{}, lastError()};
        if (!S_ISDIR(info.st_mode)) return {{}, Status{ENOTDIR}};
        const QByteArray bytes(resolved.data());
        if (!isRepresentable(bytes)) return {{}, Status{EILSEQ}};
        return {withTrailingSeparator(QFile::decodeName(bytes)), {}};
    }

    Result<FolderListing> listFolder(const QString& path) override {
        const QByteArray encoded = encodePath(path);
        const int fd = retry([&] {
            return os().openat(AT_FDCWD, encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
        });
        if (fd < 0) return {{}, lastError()};
        const FolderStream stream(os().fdopendir(fd));
        if (!stream) {
            const Status failure = lastError();
            os().close(fd);
            return {{}, failure};
        }
        std::vector<std::pair<QByteArray, bool>> entries;
        for (;;) {
            errno = 0;
            const struct dirent* entry = os().readdir(stream.get());
            if (entry == nullptr) break;
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
            entries.emplace_back(QByteArray(entry->d_name), isFolderEntry(fd, *entry));
        }
        if (errno != 0) return {{}, lastError()};
        std::sort(entries.begin(), entries.end());
        Result<FolderListing> result;
        const QString folder = withTrailingSeparator(path);
        for (const auto& [name, isFolder] : entries) {
            if (!isRepresentable(name)) {
                result.value.undecodableNames.append(name);
                continue;
            }
            (isFolder ? result.value.subfolders : result.value.files).append(folder + QFile::decodeName(name));
        }
        return result;
    }

    Status createFolder(const QString& path, const QString& model) override {
        if (model.isEmpty()) return detail::statusOf(os().mkdirat(AT_FDCWD, encodePath(path).constData(), 0777));
        return detail::createFolderLike(encodePath(path), encodePath(model));
    }

    Status removeEmptyFolder(const QString& path) override {
        return detail::statusOf(os().unlinkat(AT_FDCWD, encodePath(path).constData(), AT_REMOVEDIR));
    }

    PlaceResult moveFile(const QString& source, const QString& destination, const KeepGoing& keepGoing) override {
        return detail::moveFileNoReplace(encodePath(source), encodePath(destination), keepGoing);
    }

    PlaceResult copyFile(const QString& source, const QString& destination, const KeepGoing& keepGoing) override {
        return detail::copyFileNoReplace(encodePath(source), encodePath(destination), keepGoing);
    }

    Result<bool> sameContents(const QString& first, const QString& second, const KeepGoing& keepGoing) override {
        return detail::compareContents(encodePath(first), encodePath(second), keepGoing);
    }

    Status deleteDuplicate(const QString& source, const QString& keeper, const KeepGoing& keepGoing) override {
        return detail::deleteDuplicate(encodePath(source), encodePath(keeper), keepGoing);
    }
};

}  // namespace

FileServices& realFileServices() {
    static RealFileServices services;
    return services;
}

}  // namespace kurumu::platform
