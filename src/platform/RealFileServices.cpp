// The file services on the real disk.
#include "platform/FileDescriptor.h"
#include "platform/FileOperations.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <sys/sysmacros.h>

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
    EntryInfo entry;
    entry.kind = kindOf(info.st_mode);
    entry.length = static_cast<qint64>(info.st_size);
    entry.identity = identityOf(info);
    entry.modifiedNs = nanoseconds(info.st_mtim);
    entry.changedNs = nanoseconds(info.st_ctim);
    entry.accessedNs = nanoseconds(info.st_atim);
    entry.mode = static_cast<quint32>(info.st_mode & 07777);
    entry.owner = info.st_uid;
    entry.group = info.st_gid;
    return entry;
}

EntryInfo entryInfoOf(const struct statx& info) {
    const auto time = [](const struct statx_timestamp& stamp) {
        return static_cast<qint64>(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
    };
    EntryInfo entry;
    entry.kind = kindOf(info.stx_mode);
    entry.length = static_cast<qint64>(info.stx_size);
    entry.identity = {::makedev(info.stx_dev_major, info.stx_dev_minor), info.stx_ino};
    entry.modifiedNs = time(info.stx_mtime);
    entry.changedNs = time(info.stx_ctime);
    entry.accessedNs = time(info.stx_atime);
    entry.mode = static_cast<quint32>(info.stx_mode & 07777);
    entry.owner = info.stx_uid;
    entry.group = info.stx_gid;
    entry.mountRoot =
        (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 && (info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    return entry;
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

Place Place::sibling(const QByteArray& otherName) const {
    return {folder, folder == AT_FDCWD ? folderPath + '/' + otherName : otherName, folderPath};
}

Place Place::ofPath(const QByteArray& path) {
    return {AT_FDCWD, path, folderOf(path)};
}

int openFolderOf(const Place& entry, int flags, mode_t mode) {
    if (entry.folder == AT_FDCWD) return sys::os().openat(AT_FDCWD, entry.folderPath.constData(), flags, mode);
    return sys::os().openat(entry.folder, ".", flags, mode);
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

// The folders a run is working in, kept open from their first use, so that each call
// names its entry relative to an open folder instead of walking the whole path again.
class FolderCache {
public:
    int descriptor(const QByteArray& folder) {
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->path != folder) continue;
            std::rotate(it, it + 1, m_entries.end());  // the most recent last
            return m_entries.back().fd.get();
        }
        FileDescriptor fd(
            retry([&] { return os().openat(AT_FDCWD, folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0); }));
        if (!fd.valid()) return -1;
        if (m_entries.size() == kCapacity) m_entries.erase(m_entries.begin());
        m_entries.push_back({folder, std::move(fd)});
        return m_entries.back().fd.get();
    }

    // Keeps a folder the run has opened itself, in place of any opened by its path.
    void adopt(const QByteArray& folder, FileDescriptor fd) {
        std::erase_if(m_entries, [&](const Entry& entry) { return entry.path == folder; });
        if (m_entries.size() == kCapacity) m_entries.erase(m_entries.begin());
        m_entries.push_back({folder, std::move(fd)});
    }

    // The folder and every folder below it, once removed, are opened anew when next named.
    void forget(const QByteArray& folder) {
        const QByteArray below = folder + '/';
        std::erase_if(m_entries,
                      [&](const Entry& entry) { return entry.path == folder || entry.path.startsWith(below); });
    }

private:
    static constexpr std::size_t kCapacity = 64;
    struct Entry {
        QByteArray path;
        FileDescriptor fd;
    };

    std::vector<Entry> m_entries;
};

// The names of the folders where the run keeps looking for names that are not there (a
// destination that receives many files): after enough such lookups the folder is listed
// once, and from then on a name not in the list is answered missing without asking the
// disk. The run's own operations keep the lists up to date. A name that another program
// takes meanwhile is met by the no-replace operation itself, which never replaces it.
class KnownNames {
public:
    // Whether the name is known to be free in the folder; nothing when the folder is not known.
    std::optional<bool> free(const QByteArray& folder, const QByteArray& name) const {
        const auto names = m_names.constFind(folder);
        if (names == m_names.constEnd()) return std::nullopt;
        return !names->contains(name);
    }

    // A lookup in the folder found nothing; often enough, and the folder is listed.
    void missed(const QByteArray& folder, int fd) {
        constexpr int kListAfter = 64;
        if (++m_misses[folder] != kListAfter) return;
        const int listing = retry([&] { return os().openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
        if (listing < 0) return;
        const FolderStream stream(os().fdopendir(listing));
        if (!stream) {
            os().close(listing);
            return;
        }
        QSet<QByteArray> names;
        errno = 0;
        while (const struct dirent* entry = os().readdir(stream.get())) names.insert(QByteArray(entry->d_name));
        if (errno == 0) m_names.insert(folder, names);
    }

    void added(const QByteArray& folder, const QByteArray& name) {
        if (const auto names = m_names.find(folder); names != m_names.end()) names->insert(name);
    }
    void removed(const QByteArray& folder, const QByteArray& name) {
        if (const auto names = m_names.find(folder); names != m_names.end()) names->remove(name);
    }
    void forget(const QByteArray& folder) {
        m_names.remove(folder);
        m_misses.remove(folder);
    }

private:
    QHash<QByteArray, QSet<QByteArray>> m_names;
    QHash<QByteArray, int> m_misses;
};

class RealFileServices final : public FileServices {
public:
    explicit RealFileServices(bool keepFoldersOpen) : m_keepFoldersOpen(keepFoldersOpen) {}

    Result<EntryInfo> probe(const QString& path) override {
        struct statx info {};
        const detail::Place entry = placeOf(path);
        const bool relative = entry.folder != AT_FDCWD;
        if (relative && m_names.free(entry.folderPath, entry.name).value_or(false)) return {};
        if (os().statx(entry.folder, entry.c(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &info) == 0)
            return {detail::entryInfoOf(info), {}};
        if (errno == ENOENT || errno == ENOTDIR) {
            if (relative && errno == ENOENT) m_names.missed(entry.folderPath, entry.folder);
            return {};  // nothing at that path
        }
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
        // Opened relative to its parent as the run already holds it, never through a link:
        // a folder on the way turned into a link meanwhile cannot lead the walk elsewhere.
        // The folder stays open for the files the run then takes out of it.
        const detail::Place place = placeOf(withoutTrailingSeparator(path));
        FileDescriptor opened(retry(
            [&] { return os().openat(place.folder, place.c(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0); }));
        struct stat info {};
        if (!opened.valid() || os().fstat(opened.get(), &info) != 0) return {{}, lastError()};
        if (!S_ISDIR(info.st_mode)) return {{}, Status{ENOTDIR}};
        const int fd = retry([&] { return os().openat(opened.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
        if (fd < 0) return {{}, lastError()};
        if (m_keepFoldersOpen) m_folders.adopt(encodePath(withoutTrailingSeparator(path)), std::move(opened));
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
        const detail::Place folder = placeOf(path);
        m_names.added(folder.folderPath, folder.name);  // taken, whether by this call or another program
        if (model.isEmpty()) return detail::statusOf(os().mkdirat(folder.folder, folder.c(), 0777));
        return detail::createFolderLike(folder, placeOf(model));
    }

    Status removeEmptyFolder(const QString& path) override {
        const QByteArray encoded = encodePath(withoutTrailingSeparator(path));
        m_folders.forget(encoded);
        m_names.forget(encoded);
        const detail::Place folder = placeOf(path);
        const Status removed = detail::statusOf(os().unlinkat(folder.folder, folder.c(), AT_REMOVEDIR));
        if (removed.ok()) m_names.removed(folder.folderPath, folder.name);
        return removed;
    }

    PlaceResult moveFile(const QString& source, const QString& destination, const KeepGoing& keepGoing) override {
        const detail::Place from = placeOf(source);
        const detail::Place to = placeOf(destination);
        const PlaceResult placed = detail::moveFileNoReplace(from, to, keepGoing);
        if (placed.outcome != PlaceOutcome::Failed) m_names.added(to.folderPath, to.name);
        if (placed.outcome == PlaceOutcome::Placed) m_names.removed(from.folderPath, from.name);
        return placed;
    }

    PlaceResult copyFile(const QString& source, const QString& destination, const KeepGoing& keepGoing) override {
        const detail::Place to = placeOf(destination);
        const PlaceResult placed = detail::copyFileNoReplace(placeOf(source), to, keepGoing);
        if (placed.outcome != PlaceOutcome::Failed) m_names.added(to.folderPath, to.name);
        return placed;
    }

    Result<bool> sameContents(const QString& first, const QString& second, const KeepGoing& keepGoing) override {
        return detail::compareContents(placeOf(first), placeOf(second), keepGoing);
    }

    Status deleteDuplicate(const QString& source, const QString& keeper, const KeepGoing& keepGoing) override {
        const detail::Place from = placeOf(source);
        const Status deleted = detail::deleteDuplicate(from, placeOf(keeper), keepGoing);
        if (deleted.ok()) m_names.removed(from.folderPath, from.name);
        return deleted;
    }

private:
    // The entry named relative to its open folder; by its full path where the folder
    // cannot be opened, so that the call itself reports what is wrong.
    detail::Place placeOf(const QString& path) {
        const QByteArray encoded = encodePath(path);
        const qsizetype slash = encoded.lastIndexOf('/');
        if (!m_keepFoldersOpen || slash < 0 || slash == encoded.size() - 1) return detail::Place::ofPath(encoded);
        const QByteArray folder = slash == 0 ? QByteArrayLiteral("/") : encoded.left(slash);
        const int fd = m_folders.descriptor(folder);
        if (fd < 0) return detail::Place::ofPath(encoded);
        return {fd, encoded.mid(slash + 1), folder};
    }

    bool m_keepFoldersOpen;
    FolderCache m_folders;
    KnownNames m_names;
};

}  // namespace

std::unique_ptr<FileServices> diskServices() {
    return std::make_unique<RealFileServices>(true);
}

FileServices& realFileServices() {
    static RealFileServices services(false);
    return services;
}

}  // namespace kurumu::platform
