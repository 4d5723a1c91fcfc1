// The file services on the real disk.
#include "platform/BytesHash.h"
#include "platform/FileDescriptor.h"
#include "platform/FileOperations.h"
#include "platform/FileSystem.h"
#include "platform/Folding.h"
#include "platform/HeldFolders.h"
#include "platform/Paths.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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
    if ((info.stx_mask & (STATX_MNT_ID | kStatxMountUnique)) != 0) entry.mount = info.stx_mnt_id;
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
    return {folder, folder == AT_FDCWD ? folderPath + '/' + otherName : otherName, folderPath, onOverlay};
}

bool isOverlay(int fd) {
    constexpr long kOverlayMagic = 0x794c7630;
    struct statfs system {};
    return sys::os().fstatfs(fd, &system) == 0 && system.f_type == kOverlayMagic;
}

bool hasLooseIdentities(int fd) {
    struct statfs system {};
    if (sys::os().fstatfs(fd, &system) != 0) return false;
    // (SMB without serverino makes its numbers up.)
    const long type = static_cast<long>(system.f_type);
    return type == kFuseMagic || type == kCifsMagic || type == kSmb2Magic;
}

bool onOverlayMount(quint64 mount, int at, const char* name, int flags) {
    static std::mutex guard;
    static QHash<quint64, bool> overlays;
    const auto learn = [&] {
        if (*name == '\0') return isOverlay(at);
        const int follow = (flags & AT_SYMLINK_FOLLOW) != 0 ? 0 : O_NOFOLLOW;
        const FileDescriptor fd(sys::os().openat(at, name, O_PATH | follow | O_CLOEXEC, 0));
        return fd.valid() && isOverlay(fd.get());
    };
    if (mount == 0) return learn();
    // The mount asked for last, as this thread learned it, again without the lock.
    thread_local quint64 lastMount = 0;
    thread_local bool lastOverlay = false;
    if (mount == lastMount) return lastOverlay;
    const std::lock_guard<std::mutex> lock(guard);
    const auto known = overlays.constFind(mount);
    const bool overlay = known != overlays.constEnd() ? *known : learn();
    if (known == overlays.constEnd()) overlays.insert(mount, overlay);
    lastMount = mount;
    lastOverlay = overlay;
    return overlay;
}

Identity folderIdentity(int at, const char* name, int flags, const struct statx& info) {
    const EntryInfo numbers = entryInfoOf(info);
    const int follow = *name != '\0' && (flags & AT_SYMLINK_NOFOLLOW) == 0 ? AT_SYMLINK_FOLLOW : 0;
    if (!onOverlayMount(numbers.mount, at, name, follow)) return numbers.identity;
    constexpr int kHandleFid = 0x200;  // AT_HANDLE_FID: a handle to tell the object by, not to open it
    constexpr std::size_t kHead = offsetof(struct file_handle, f_handle);
    alignas(struct file_handle) std::array<unsigned char, kHead + MAX_HANDLE_SZ> buffer{};
    auto* const handle = reinterpret_cast<struct file_handle*>(buffer.data());
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mountOfHandle = 0;
    const int handleFlags = kHandleFid | follow | (*name == '\0' ? AT_EMPTY_PATH : 0);
    if (sys::os().name_to_handle_at(at, name, handle, &mountOfHandle, handleFlags) != 0) return numbers.identity;
    // FNV-1a over the handle's type and bytes: the same handle gives the same digest in
    // every process.
    quint64 digest = 14695981039346656037ULL;
    const auto mix = [&digest](unsigned char byte) { digest = (digest ^ byte) * 1099511628211ULL; };
    const auto type = static_cast<quint32>(handle->handle_type);
    for (int shift = 0; shift < 32; shift += 8) mix(static_cast<unsigned char>(type >> shift));
    const std::size_t length = std::min<std::size_t>(handle->handle_bytes, MAX_HANDLE_SZ);
    for (std::size_t i = 0; i < length; ++i) mix(buffer[kHead + i]);
    return {numbers.identity.device, digest};
}

Result<EntryInfo> entryAt(int at, const char* name, int flags) {
    struct statx info {};
    if (sys::os().statx(at, name, flags, kStatxMask, &info) != 0) return {{}, lastError()};
    EntryInfo entry = entryInfoOf(info);
    if (entry.kind == EntryKind::Folder) entry.identity = folderIdentity(at, name, flags, info);
    return {entry, {}};
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

// The path's bytes without separators at their end; the root stays the root.
QByteArray plainBytes(const Path& path) {
    const QByteArray& bytes = path.bytes();
    qsizetype end = bytes.size();
    while (end > 1 && bytes[end - 1] == '/') --end;
    return end == bytes.size() ? bytes : bytes.first(end);
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

using detail::BytesHash;
using detail::viewOf;

// The names of one folder, kept as hashes in an open table (one probe of memory, not a
// node per name: a folder that receives 100,000 files is asked 100,000 times). A name whose
// hash is not there is surely not in the folder; one whose hash is there is only probably
// there, and is asked of the disk: two names that share a hash cost a lookup, never a wrong
// answer. A name that leaves the folder stays in the table, and is asked of the disk too.
class NameSet {
public:
    void insert(std::string_view name) {
        if (2 * (m_count + 1) > m_slots.size()) grow();
        if (place(m_slots, hashOf(name))) ++m_count;
    }
    bool surelyAbsent(std::string_view name) const {
        if (m_slots.empty()) return true;
        const std::uint64_t hash = hashOf(name);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            if (m_slots[slot] == hash) return false;
            if (m_slots[slot] == kEmpty) return true;
        }
    }

private:
    static constexpr std::uint64_t kEmpty = 0;
    static std::uint64_t hashOf(std::string_view name) {
        const std::uint64_t hash = BytesHash{}(name);
        return hash == kEmpty ? 1 : hash;
    }
    // Puts the hash in the table (a power of two, at most half full); false when it is there.
    static bool place(std::vector<std::uint64_t>& slots, std::uint64_t hash) {
        const std::size_t mask = slots.size() - 1;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            if (slots[slot] == hash) return false;
            if (slots[slot] == kEmpty) {
                slots[slot] = hash;
                return true;
            }
        }
    }
    void grow() {
        constexpr std::size_t kSmallest = 64;
        std::vector<std::uint64_t> larger(std::max(kSmallest, 2 * m_slots.size()), kEmpty);
        for (const std::uint64_t hash : m_slots) {
            if (hash != kEmpty) place(larger, hash);
        }
        m_slots = std::move(larger);
    }

    std::vector<std::uint64_t> m_slots;
    std::size_t m_count = 0;
};

// The names of the folders where the run keeps looking for names that are not there (a
// destination that receives many files): after enough such lookups the folder is listed
// once, and from then on a name not in the list is answered missing without asking the
// disk. The run's own operations add the names they take (a name that leaves a folder is
// asked of the disk again when next looked up). A name that another program
// takes meanwhile is met by the no-replace operation itself, which never replaces it. A
// folder that folds names is never answered for: only the disk knows which of its names
// are one.
class KnownNames {
public:
    // Whether the name is known to be free in the folder: false when the folder is not
    // known, or the name may be there.
    bool surelyFree(const QByteArray& folder, const QByteArray& name) {
        const NameSet* names = namesOf(folder);
        return names != nullptr && names->surelyAbsent(viewOf(name));
    }

    // A lookup in the folder found nothing; often enough, and the folder is listed.
    void missed(const QByteArray& folder, int fd) {
        constexpr int kListAfter = 64;
        auto misses = m_misses.find(viewOf(folder));
        if (misses == m_misses.end()) misses = m_misses.emplace(std::string(viewOf(folder)), 0).first;
        if (++misses->second != kListAfter) return;
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
        if (errno != 0 || detail::foldsNames(detail::foldingFactsOf(listing, &names))) return;
        NameSet known;
        for (const QByteArray& name : std::as_const(names)) known.insert(viewOf(name));
        m_names.insert_or_assign(std::string(viewOf(folder)), std::move(known));
        m_recent = {};
    }

    // A folder this process has just made holds nothing yet. (Should another program put a
    // name there meanwhile, the operation that takes the name finds it taken, as it would
    // after any look.)
    void madeEmpty(const QByteArray& folder, int made) {
        const FileDescriptor readable(
            retry([&] { return os().openat(made, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); }));
        if (!readable.valid() || detail::foldsNames(detail::foldingFactsOf(readable.get(), nullptr))) return;
        m_names.insert_or_assign(std::string(viewOf(folder)), NameSet());
        m_recent = {};
    }

    void added(const QByteArray& folder, const QByteArray& name) {
        if (NameSet* names = namesOf(folder)) names->insert(viewOf(name));
    }
    void forget(const QByteArray& folder) {
        m_recent = {};
        if (const auto names = m_names.find(viewOf(folder)); names != m_names.end()) m_names.erase(names);
        if (const auto misses = m_misses.find(viewOf(folder)); misses != m_misses.end()) m_misses.erase(misses);
    }

private:
    // The names known of a folder; nothing when none are. The two folders asked for last
    // (a run's source and destination) are found again by their bytes, without a hash.
    NameSet* namesOf(const QByteArray& folder) {
        for (const Recent& recent : m_recent) {
            if (recent.asked && recent.folder == folder) return recent.names;
        }
        const auto found = m_names.find(viewOf(folder));
        NameSet* const names = found == m_names.end() ? nullptr : &found->second;
        m_recent[1] = std::exchange(m_recent[0], Recent{true, folder, names});
        return names;
    }

    struct Recent {
        bool asked = false;
        QByteArray folder;
        NameSet* names = nullptr;  // into m_names, forgotten whenever m_names changes
    };

    std::unordered_map<std::string, NameSet, BytesHash, std::equal_to<>> m_names;
    std::unordered_map<std::string, int, BytesHash, std::equal_to<>> m_misses;
    std::array<Recent, 2> m_recent;
};

class RealFileServices final : public FileServices {
public:
    // Without held folders, every call walks its whole path.
    explicit RealFileServices(std::unique_ptr<detail::HeldFolders> folders = {}, CopyCheck check = {})
        : m_folders(std::move(folders)), m_check(std::move(check)) {}

    Result<EntryInfo> probe(const Path& path) override {
        const Result<detail::Place> entry = placeOf(path);
        if (!entry.ok()) return missingOr(entry.status);
        const detail::Place& place = entry.value;
        const bool relative = place.folder != AT_FDCWD;
        if (relative && m_names.surelyFree(place.folderPath, place.name)) return {};
        Result<EntryInfo> seen = detail::entryAt(place.folder, place.c(), AT_SYMLINK_NOFOLLOW);
        if (!seen.ok()) {
            if (relative && seen.status.error == ENOENT) m_names.missed(place.folderPath, place.folder);
            return missingOr(seen.status);
        }
        seen.value.onOverlay = detail::onOverlayMount(seen.value.mount, place.folder, place.c(), 0);
        return seen;
    }

    Result<QList<Identity>> folderChain(const Path& path) override {
        constexpr int kDeepest = 4096;
        Result<QList<Identity>> chain;
        FileDescriptor folder(retry(
            [&] { return os().openat(AT_FDCWD, path.bytes().constData(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0); }));
        for (int depth = 0; depth < kDeepest; ++depth) {
            if (!folder.valid()) return {{}, lastError()};
            const Result<EntryInfo> info = detail::entryAt(folder.get(), "", AT_EMPTY_PATH);
            if (!info.ok()) return {{}, info.status};
            const Identity identity = info.value.identity;
            if (!chain.value.isEmpty() && chain.value.last() == identity) break;  // the root is its own parent
            chain.value.append(identity);
            folder = FileDescriptor(
                retry([&] { return os().openat(folder.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC, 0); }));
        }
        return chain;
    }

    Result<QString> realFolder(const Path& path) override {
        std::array<char, PATH_MAX> resolved{};
        if (sys::os().realpath(path.bytes().constData(), resolved.data()) == nullptr) return {{}, lastError()};
        struct stat info {};
        if (os().fstatat(AT_FDCWD, resolved.data(), &info, 0) != 0) return {{}, lastError()};
        if (!S_ISDIR(info.st_mode)) return {{}, Status{ENOTDIR}};
        const QByteArray bytes(resolved.data());
        if (!isRepresentable(bytes)) return {{}, Status{EILSEQ}};
        return {withTrailingSeparator(QFile::decodeName(bytes)), {}};
    }

    Result<EntryInfo> heldFolder(const Path& path) override {
        const QByteArray folder = plainBytes(path);
        if (!m_folders) return detail::entryAt(AT_FDCWD, folder.constData(), 0);
        const Result<int> fd = m_folders->descriptor(folder);
        if (!fd.ok()) return {{}, fd.status};
        Result<EntryInfo> held = detail::entryAt(fd.value, "", AT_EMPTY_PATH);
        held.value.identityLoose = held.ok() && detail::hasLooseIdentities(fd.value);
        return held;
    }

    Result<FolderListing> listFolder(const Path& path) override {
        // Opened in its folder as the services hold it, never through a link: a folder on
        // the way turned into a link meanwhile cannot lead the walk elsewhere. The folder
        // is then held for the files the run takes out of it.
        const QByteArray encoded = plainBytes(path);
        // A folder held already is listed through the descriptor that holds it.
        if (m_folders && m_folders->isRecorded(encoded)) {
            const Result<int> held = m_folders->descriptor(encoded);
            if (!held.ok()) return {{}, held.status};
            const int fd = retry([&] { return os().openat(held.value, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
            if (fd < 0) return {{}, lastError()};
            return listingOf(fd, path);
        }
        const Result<detail::Place> place = placeOf(path);
        if (!place.ok()) return {{}, place.status};
        FileDescriptor opened(retry([&] {
            return os().openat(place.value.folder, place.value.c(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
        }));
        struct stat info {};
        if (!opened.valid() || os().fstat(opened.get(), &info) != 0) return {{}, lastError()};
        if (!S_ISDIR(info.st_mode)) return {{}, Status{ENOTDIR}};
        const int fd = retry([&] { return os().openat(opened.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
        if (fd < 0) return {{}, lastError()};
        if (m_folders) m_folders->adopt(encoded, std::move(opened));
        return listingOf(fd, path);
    }

    Status createFolder(const Path& path, const Path& model, FolderUse use) override {
        const Result<detail::Place> place = placeOf(path);
        if (!place.ok()) return place.status;
        const detail::Place& folder = place.value;
        m_names.added(folder.folderPath, folder.name);  // taken, whether by this call or another program
        // Nothing goes into a folder put in its place or mounted on it since; held as
        // made, so that nothing put under its name later is taken for it.
        Result<FileDescriptor> made;
        if (model.isEmpty()) {
            if (const Status status = detail::makeFolderAt(folder, 0777); !status.ok()) return status;
            made = detail::openMadeFolder(folder);
        } else {
            const Result<detail::Place> like = placeOf(model);
            if (!like.ok()) return like.status;
            made = detail::createFolderLike(folder, like.value);
        }
        if (!made.ok()) return made.status;
        // Its name on the disk before anything goes into it: a power cut after a move into
        // it must not leave the moved file in a folder the disk never had.
        if (use == FolderUse::Moves) {
            if (const Status synced = detail::syncFolderOf(folder); !synced.ok()) return synced;
        }
        if (!m_folders) return {};
        const QByteArray encoded = plainBytes(path);
        m_names.madeEmpty(encoded, made.value.get());
        m_folders->adopt(encoded, std::move(made.value));
        return {};
    }

    Status removeEmptyFolder(const Path& path) override {
        const QByteArray encoded = plainBytes(path);
        const Result<detail::Place> place = placeOf(path);
        if (!place.ok()) return place.status;
        const detail::Place& folder = place.value;
        // Only the very folder recorded under the name: rmdir takes whatever folder is there.
        if (const Identity* expected = m_folders ? m_folders->recorded(encoded) : nullptr) {
            const Result<EntryInfo> there = detail::entryAt(folder.folder, folder.c(), AT_SYMLINK_NOFOLLOW);
            if (!there.ok()) return there.status;
            if (there.value.kind != EntryKind::Folder || !(*expected == there.value.identity))
                return Status{kFolderReplaced};
        }
        if (m_folders) m_folders->forget(encoded);
        m_names.forget(encoded);
        const Status removed = detail::statusOf(os().unlinkat(folder.folder, folder.c(), AT_REMOVEDIR));
        return removed;
    }

    PlaceResult moveFile(const Path& source, const Path& destination, const KeepGoing& keepGoing,
                         const CreatedHandler& created) override {
        const Result<detail::Place> from = placeOf(source);
        const Result<detail::Place> to = placeOf(destination);
        if (!from.ok() || !to.ok()) return {PlaceOutcome::Failed, from.ok() ? to.status : from.status, {}};
        const PlaceResult placed = detail::moveFileNoReplace(from.value, to.value, keepGoing, m_check, created);
        if (placed.outcome != PlaceOutcome::Failed) m_names.added(to.value.folderPath, to.value.name);
        return placed;
    }

    PlaceResult copyFile(const Path& source, const Path& destination, const KeepGoing& keepGoing,
                         const CreatedHandler& created) override {
        const Result<detail::Place> from = placeOf(source);
        const Result<detail::Place> to = placeOf(destination);
        if (!from.ok() || !to.ok()) return {PlaceOutcome::Failed, from.ok() ? to.status : from.status, {}};
        const PlaceResult placed = detail::copyFileNoReplace(from.value, to.value, keepGoing, m_check, created);
        if (placed.outcome != PlaceOutcome::Failed) m_names.added(to.value.folderPath, to.value.name);
        return placed;
    }

    Status removePartialCopy(const Path& copy, const Path& source, const Identity& made) override {
        const Result<detail::Place> at = placeOf(copy);
        const Result<detail::Place> from = placeOf(source);
        if (!at.ok() || !from.ok()) return at.ok() ? from.status : at.status;
        const Status removed = detail::removePartialCopy(at.value, from.value, made);
        return removed;
    }

    PlaceResult linkFile(const Path& existing, const Path& destination) override {
        const Result<detail::Place> from = placeOf(existing);
        const Result<detail::Place> to = placeOf(destination);
        if (!from.ok() || !to.ok()) return {PlaceOutcome::Failed, from.ok() ? to.status : from.status, {}};
        const Result<EntryInfo> file = detail::entryAt(from.value.folder, from.value.c(), AT_SYMLINK_NOFOLLOW);
        if (!file.ok()) return {PlaceOutcome::Failed, file.status, {}};
        if (file.value.kind != EntryKind::File) return {PlaceOutcome::Failed, Status{EINVAL}, {}};
        if (os().linkat(from.value.folder, from.value.c(), to.value.folder, to.value.c(), 0) != 0)
            return errno == EEXIST ? PlaceResult{PlaceOutcome::Occupied}
                                   : PlaceResult{PlaceOutcome::Failed, lastError()};
        m_names.added(to.value.folderPath, to.value.name);
        const Result<EntryInfo> linked = detail::entryAt(to.value.folder, to.value.c(), AT_SYMLINK_NOFOLLOW);
        return {PlaceOutcome::Placed, {}, linked.value};
    }

    Result<bool> sameContents(const Path& first, const Path& second, const KeepGoing& keepGoing) override {
        const Result<detail::Place> a = placeOf(first);
        const Result<detail::Place> b = placeOf(second);
        if (!a.ok() || !b.ok()) return {false, a.ok() ? b.status : a.status};
        return detail::compareContents(a.value, b.value, keepGoing);
    }

    Result<DuplicateProof> deleteDuplicate(const Path& source, const Path& keeper, const KeepGoing& keepGoing,
                                           const ProofHandler& proved) override {
        const Result<detail::Place> from = placeOf(source);
        const Result<detail::Place> kept = placeOf(keeper);
        if (!from.ok() || !kept.ok()) return {{}, from.ok() ? kept.status : from.status};
        const Result<DuplicateProof> deleted =
            detail::deleteDuplicate(from.value, kept.value, keepGoing, m_check, proved);
        return deleted;
    }

    Status keepNamesOf(const Path& path) override {
        const Result<detail::Place> place = placeOf(path);
        return place.ok() ? detail::syncFolderOf(place.value) : place.status;
    }

    Status restoreAttributes(const Path& path, const Identity& expected, const Attributes& attributes) override {
        // A folder held as such is given its attributes through the descriptor that holds it.
        const QByteArray encoded = plainBytes(path);
        if (m_folders && m_folders->isRecorded(encoded)) {
            const Result<int> folder = m_folders->descriptor(encoded);
            if (!folder.ok()) return folder.status;
            return detail::restoreAttributesOf(folder.value, expected, attributes);
        }
        const Result<detail::Place> place = placeOf(path);
        if (!place.ok()) return place.status;
        // Held by an O_PATH descriptor, the entry cannot be swapped for another while it is
        // changed; a link is held as itself and refused.
        const FileDescriptor held(retry(
            [&] { return os().openat(place.value.folder, place.value.c(), O_PATH | O_NOFOLLOW | O_CLOEXEC, 0); }));
        if (!held.valid()) return lastError();
        return detail::restoreAttributesOf(held.get(), expected, attributes);
    }

private:
    // A path that cannot be reached because a folder on its way is missing names nothing.
    static Result<EntryInfo> missingOr(const Status& status) {
        if (status.error == ENOENT || status.error == ENOTDIR) return {};
        return {{}, status};
    }

    // The folder's entries as paths below the folder's path, each name decoded once and its
    // bytes joined to the folder's as read.
    Result<FolderListing> listingOf(int fd, const Path& folder) {
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
        const QString folderText = withTrailingSeparator(folder.text());
        QByteArray folderBytes = folder.bytes();
        if (!folderBytes.endsWith('/')) folderBytes += '/';
        for (const auto& [name, isFolder] : entries) {
            const QString decoded = QFile::decodeName(name);
            if (QFile::encodeName(decoded) != name) {
                result.value.undecodableNames.append(name);
                continue;
            }
            (isFolder ? result.value.subfolders : result.value.files)
                .append(Path(folderText + decoded, folderBytes + name));
        }
        return result;
    }

    // The entry named relative to its held folder; by its full path where no folders are held.
    Result<detail::Place> placeOf(const Path& path) {
        // The path's own bytes, not a copy, unless separators are cut from their end.
        const QByteArray& given = path.bytes();
        const bool cut = given.size() > 1 && given.endsWith('/');
        const QByteArray trimmed = cut ? plainBytes(path) : QByteArray();
        const QByteArray& encoded = cut ? trimmed : given;
        const qsizetype slash = lastSeparator(encoded);
        if (!m_folders || slash < 0 || (slash == 0 && encoded.size() == 1)) return {detail::Place::ofPath(encoded), {}};
        const Result<int> fd = m_folders->descriptor(QByteArrayView(encoded).first(slash == 0 ? 1 : slash));
        if (!fd.ok()) return {{}, fd.status};
        // The name is the end of the path's own bytes (which end in a NUL), not a copy: a
        // place lives no longer than the call given its path.
        const QByteArray name =
            cut ? encoded.mid(slash + 1)
                : QByteArray::fromRawData(encoded.constData() + slash + 1, encoded.size() - slash - 1);
        return {{fd.value, name, m_folders->lastPath(), m_folders->lastOnOverlay()}, {}};
    }

    std::unique_ptr<detail::HeldFolders> m_folders;
    CopyCheck m_check;
    KnownNames m_names;
};

}  // namespace

std::unique_ptr<FileServices> diskServices(const CopyCheck& check) {
    return std::make_unique<RealFileServices>(
        std::make_unique<detail::HeldFolders>(detail::HeldFolders::Unrecorded::ByPath), check);
}

std::unique_ptr<FileServices> recordedFolderServices(const QHash<QString, Identity>& recorded, bool followUnrecorded,
                                                     const CopyCheck& check, const QSet<QString>& loose) {
    auto folders = std::make_unique<detail::HeldFolders>(
        followUnrecorded ? detail::HeldFolders::Unrecorded::ByPath : detail::HeldFolders::Unrecorded::FromRecorded);
    for (auto folder = recorded.cbegin(); folder != recorded.cend(); ++folder) {
        const QByteArray path = encodePath(withoutTrailingSeparator(folder.key()));
        folders->record(path, folder.value(), loose.contains(folder.key()));
    }
    return std::make_unique<RealFileServices>(std::move(folders), check);
}

FileServices& realFileServices() {
    static RealFileServices services;
    return services;
}

}  // namespace kurumu::platform
