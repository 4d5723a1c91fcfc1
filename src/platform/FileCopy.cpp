// Moving and copying files so that no data is ever lost: nothing is replaced, a copy is
// published complete or not at all, and a source is removed only after its copy is
// flushed and the source, set aside, is proved to be the file that was copied.
#include "platform/FileDescriptor.h"
#include "platform/FileOperations.h"

#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include <fcntl.h>

#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace kurumu::platform::detail {

namespace {

using sys::os;
using sys::retry;

constexpr std::size_t kBufferSize = std::size_t{1} << 20;
// A read of a copy straight from the device: larger blocks keep the device streaming, and
// the memory is aligned as such reads need.
constexpr std::size_t kDirectBlock = std::size_t{4} << 20;
constexpr std::size_t kDirectAlignment = 4096;
// The register a checksum starts from (a CRC-32's).
constexpr quint32 kChecksumStart = 0xFFFFFFFFu;

PlaceResult placed() {
    return {PlaceOutcome::Placed, {}};
}
PlaceResult occupied() {
    return {PlaceOutcome::Occupied, {}};
}
PlaceResult abandoned() {
    return {PlaceOutcome::Abandoned, {}};
}
PlaceResult failed(int error) {
    return {PlaceOutcome::Failed, Status{error}};
}
PlaceResult failed(const Status& status) {
    return {PlaceOutcome::Failed, status};
}
PlaceResult failedWithErrno() {
    return failed(errno);
}

bool unsupported(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// What a file system answers for an attribute it has no place for.
bool cannotStore(int error) {
    return error == ENOSYS || error == EOPNOTSUPP;
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The same file with the same length and modification time. A rename changes only the
// status change time, so this is what survives setting a file aside.
bool sameState(const struct stat& a, const struct stat& b) {
    return identityOf(a) == identityOf(b) && a.st_size == b.st_size && sameTime(a.st_mtim, b.st_mtim);
}

// Not written to, in any way, between the two looks: every write sets the status change
// time, which no program can set back.
bool untouched(const struct stat& before, const struct stat& now) {
    return sameState(before, now) && sameTime(before.st_ctim, now.st_ctim);
}

// The entry at a place as the file system says it is now, not as the kernel remembers
// it: through FUSE, a name just renamed away may still answer from the kernel's cache of
// names for a while, under a spelling that the disk folds onto it.
Status freshStatus(const Place& place, struct stat& info) {
    struct statx fresh {};
    if (os().statx(place.folder, place.c(), AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC, STATX_BASIC_STATS, &fresh) != 0)
        return lastError();
    info = {};
    info.st_dev = makedev(fresh.stx_dev_major, fresh.stx_dev_minor);
    info.st_ino = fresh.stx_ino;
    info.st_mode = fresh.stx_mode;
    info.st_nlink = fresh.stx_nlink;
    info.st_uid = fresh.stx_uid;
    info.st_gid = fresh.stx_gid;
    info.st_size = static_cast<off_t>(fresh.stx_size);
    info.st_mtim = {fresh.stx_mtime.tv_sec, fresh.stx_mtime.tv_nsec};
    info.st_ctim = {fresh.stx_ctime.tv_sec, fresh.stx_ctime.tv_nsec};
    return {};
}

// A hidden name of this process beside the place.
Place hiddenSibling(const Place& place, const char* prefix) {
    return place.sibling(hiddenName(prefix));
}

// An empty file made under a name that must be free, for the run's own use. It is closed
// before its name is removed or renamed over: a FUSE file system keeps a file removed while
// open under a hidden name of its own (".fuse_hidden…") until it is closed, one rename more
// on a disk that may do renames badly.
FileDescriptor createExclusive(const Place& place) {
    return FileDescriptor(
        retry([&] { return os().openat(place.folder, place.c(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600); }));
}

// The mount a folder is on, told apart from a later mount given the same number (a stick
// swapped for another) by its device.
struct MountKey {
    quint64 mount = 0;
    dev_t device = 0;
    bool operator==(const MountKey&) const = default;
};

std::optional<MountKey> mountOfFolder(const Place& place) {
    const Result<EntryInfo> folder = place.folder == AT_FDCWD ? entryAt(AT_FDCWD, place.folderPath.constData(), 0)
                                                              : entryAt(place.folder, "", AT_EMPTY_PATH);
    if (!folder.ok() || folder.value.mount == 0) return std::nullopt;
    return MountKey{folder.value.mount, folder.value.identity.device};
}

// What a mount does for a name that must not be replaced. A FAT or exFAT stick through
// FUSE does neither: its copies are written straight under their names (see PendingCopy).
struct MountAbilities {
    bool known = false;                    // learned; unknown where not even a hidden file could be made
    bool renamesWithoutReplacing = false;  // renameat2 with RENAME_NOREPLACE
    bool hardLinks = false;
    bool publishesInPlace() const { return known && !renamesWithoutReplacing && !hardLinks; }
};

// Tries the calls on hidden files of this run, made for the purpose in the folder that the
// run is writing to and removed at once; no user file is ever tried.
MountAbilities tryAbilities(const Place& place) {
    const Place first = hiddenSibling(place, kUnpublishedPrefix);
    const Place second = hiddenSibling(place, kUnpublishedPrefix);
    const Place third = hiddenSibling(place, kUnpublishedPrefix);
    if (!createExclusive(first).valid()) return {};
    MountAbilities can;
    can.known = true;
    can.renamesWithoutReplacing =
        os().renameat2(first.folder, first.c(), second.folder, second.c(), RENAME_NOREPLACE) == 0;
    const Place& named = can.renamesWithoutReplacing ? second : first;
    can.hardLinks = os().linkat(named.folder, named.c(), third.folder, third.c(), 0) == 0;
    if (can.hardLinks) os().unlinkat(third.folder, third.c(), 0);
    os().unlinkat(named.folder, named.c(), 0);
    return can;
}

struct LearnedMounts {
    std::mutex guard;
    std::vector<std::pair<MountKey, MountAbilities>> mounts;
};

LearnedMounts& learnedMounts() {
    static LearnedMounts learned;
    return learned;
}

// Learned once per mount, the first time a call the mount may lack is refused there.
MountAbilities abilitiesAt(const Place& place) {
    LearnedMounts& learned = learnedMounts();
    const std::optional<MountKey> key = mountOfFolder(place);
    if (key) {
        const std::lock_guard<std::mutex> lock(learned.guard);
        for (const auto& [mount, abilities] : learned.mounts)
            if (mount == *key) return abilities;
    }
    const MountAbilities can = tryAbilities(place);
    if (key && can.known) {
        const std::lock_guard<std::mutex> lock(learned.guard);
        learned.mounts.emplace_back(*key, can);
    }
    return can;
}

// Why a write of size bytes was refused. A FUSE file system may say EPERM of a disk that
// has no room left (FAT through FUSE): that is told as what it is.
Status writeRefusal(int fd, std::size_t size) {
    const Status refused = lastError();
    struct statfs disk {};
    if (refused.error == EPERM && os().fstatfs(fd, &disk) == 0 &&
        static_cast<unsigned long long>(disk.f_bavail) * static_cast<unsigned long long>(disk.f_bsize) < size)
        return Status{ENOSPC};
    return refused;
}

Status writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t wrote = retry([&] { return os().write(fd, data, size); });
        if (wrote < 0) return writeRefusal(fd, size);
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return {};
}

// Memory for reads in blocks, left as it comes (every byte used is read into first);
// aligned for reads straight from the device.
class ReadBuffer {
public:
    explicit ReadBuffer(std::size_t size, std::size_t alignment = 1)
        : m_memory(std::make_unique_for_overwrite<char[]>(size + alignment - 1)) {
        void* start = m_memory.get();
        std::size_t room = size + alignment - 1;
        m_block = {static_cast<char*>(std::align(alignment, size, start, room)), size};
    }
    std::span<char> block() const { return m_block; }

private:
    std::unique_ptr<char[]> m_memory;
    std::span<char> m_block;
};

// An input/output error while a checked copy is written, flushed or read back: the disk did
// not keep what was given to it, a write error like a copy that reads back otherwise.
Status writeError(const Status& status) {
    return status.error == EIO ? Status{kCopyNotVerified} : status;
}

// One pass over a file's bytes, read in blocks from offset to end: a checksum carried over
// them where a check is given, each block written to a copy where one is given.
struct BlockPass {
    int fd = -1;
    off_t offset = 0;
    off_t end = 0;
    std::span<char> buffer{};
    const CopyCheck* check = nullptr;
    quint32 sum = kChecksumStart;
    int copy = -1;
    bool handOver = false;     // each block written is handed to the device at once (the copy is to be flushed)
    bool wholeBlocks = false;  // every read asks for a whole block, as reads straight from the device must
    bool readingBack = false;  // the file is a copy, which must hold every byte written to it
};

// The checksum at the end of the pass (the one it started from without a check).
Result<quint32> readBlocks(BlockPass pass, Pacer& pacer) {
    // Only the bytes a pass writes are counted: the others were counted as they were copied.
    const bool counted = pass.copy >= 0;
    while (pass.offset < pass.end) {
        if (!pacer.keepGoing(counted ? pass.offset : -1)) return {0, Status{ECANCELED}};
        const auto left = static_cast<std::size_t>(std::min<off_t>(pass.end - pass.offset, std::ssize(pass.buffer)));
        const std::size_t want = pass.wholeBlocks ? pass.buffer.size() : counted ? std::min(left, pacer.chunk()) : left;
        ssize_t got = retry([&] { return os().pread(pass.fd, pass.buffer.data(), want, pass.offset); });
        if (got < 0) return {0, lastError()};
        got = std::min(got, static_cast<ssize_t>(left));
        // A source that shrank is found out by the lengths; a copy shorter than written is none.
        if (got == 0)
            return pass.readingBack ? Result<quint32>{0, Status{kCopyNotVerified}} : Result<quint32>{pass.sum, {}};
        const auto size = static_cast<std::size_t>(got);
        if (pass.check != nullptr)
            pass.sum = pass.check->checksum(pass.sum, reinterpret_cast<const std::byte*>(pass.buffer.data()), size);
        if (pass.copy >= 0) {
            if (const Status status = writeAll(pass.copy, pass.buffer.data(), size); !status.ok())
                return {0, pass.check != nullptr ? writeError(status) : status};
            if (pass.handOver) os().sync_file_range(pass.copy, pass.offset, got, SYNC_FILE_RANGE_WRITE);
        }
        pass.offset += got;
    }
    return {pass.sum, {}};
}

// Copies every byte of one open file of the given length into another, in the kernel
// where it can (through a buffer where the file systems refuse), asking whether to go on
// between chunks. With a check, the source's bytes are read as well, each chunk once it is
// copied: the checksum of the bytes read is given. A copy that is to be flushed is handed
// to the device chunk by chunk as it is made, so that the flush at the end finds it
// mostly written.
Result<quint32> copyData(int from, int to, off_t length, Pacer& pacer, const CopyCheck* check, bool flush) {
    std::optional<ReadBuffer> buffer;  // made only when the bytes are read here
    BlockPass source{.fd = from, .check = check};
    const auto readSource = [&] {
        if (!buffer) source.buffer = buffer.emplace(kBufferSize).block();
        return readBlocks(source, pacer);
    };
    while (source.offset < length) {
        if (!pacer.keepGoing(source.offset)) return {0, Status{ECANCELED}};
        const auto chunk = static_cast<std::size_t>(std::min<off_t>(length - source.offset, off_t(pacer.chunk())));
        const ssize_t moved = retry([&] { return os().copy_file_range(from, nullptr, to, nullptr, chunk, 0); });
        if (moved < 0 && (unsupported(errno) || errno == EXDEV)) {
            // Both descriptors stand where the kernel left off.
            source.end = length;
            source.copy = to;
            source.handOver = flush;
            return readSource();
        }
        if (moved < 0) return {0, lastError()};
        if (moved == 0) break;
        if (flush) os().sync_file_range(to, source.offset, moved, SYNC_FILE_RANGE_WRITE);
        source.end = source.offset + moved;
        if (check != nullptr) {
            const Result<quint32> read = readSource();
            if (!read.ok()) return read;
            source.sum = read.value;
        }
        source.offset = source.end;
    }
    return {source.sum, {}};
}

// False where the destination has no place for extended attributes at all.
bool copyExtendedAttributes(int from, int to) {
    const ssize_t size = os().flistxattr(from, nullptr, 0);
    if (size <= 0) return true;
    std::vector<char> names(static_cast<std::size_t>(size));
    const ssize_t listed = os().flistxattr(from, names.data(), names.size());
    if (listed <= 0) return true;
    bool kept = true;
    for (const char* name = names.data(); name < names.data() + listed; name += std::strlen(name) + 1) {
        const ssize_t length = os().fgetxattr(from, name, nullptr, 0);
        if (length < 0) continue;
        std::vector<char> value(static_cast<std::size_t>(length));
        const ssize_t got = os().fgetxattr(from, name, value.data(), value.size());
        // What the destination cannot hold (another file system, a name reserved to the
        // system) is passed over, as cp -a does.
        if (got >= 0 && os().fsetxattr(to, name, value.data(), static_cast<std::size_t>(got), 0) != 0 &&
            cannotStore(errno))
            kept = false;
    }
    return kept;
}

// Owner and group where the process may set them (otherwise set-user-ID and set-group-ID
// are dropped, so a copy never carries them for another owner), extended attributes,
// permission bits, then the times, last, since the other steps may touch them.
// A disk that cannot store some of them (a FAT stick through FUSE says ENOSYS) still takes
// the bytes, which are what count, as cp -a goes on; what it did not keep is in unkept.
Status copyMetadata(int from, const struct stat& source, int to, unsigned& unkept) {
    mode_t mode = source.st_mode & 07777;
    if (os().fchown(to, source.st_uid, source.st_gid) != 0) {
        if (cannotStore(errno)) unkept |= kOwnerNotKept;
        mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    }
    if (!copyExtendedAttributes(from, to)) unkept |= kExtendedAttributesNotKept;
    if (os().fchmod(to, mode) != 0) {
        if (!cannotStore(errno)) return lastError();
        unkept |= kModeNotKept;
    }
    const std::array<struct timespec, 2> times{source.st_atim, source.st_mtim};
    if (os().futimens(to, times.data()) != 0) {
        if (!cannotStore(errno)) return lastError();
        unkept |= kTimesNotKept;
    }
    return {};
}

// A copy being written: an unnamed file in the destination folder; where the file system
// has none, a hidden name there; where the mount can neither rename without replacing nor
// link (a FAT stick through FUSE), the destination name itself, created exclusively, so
// that nothing is ever put over a name. Gone without a trace unless published, but for a
// copy made in place and cut short by a kill or a power cut.
class PendingCopy {
public:
    PendingCopy(const PendingCopy&) = delete;
    PendingCopy& operator=(const PendingCopy&) = delete;
    // The moved-from copy no longer owns a name to discard.
    PendingCopy(PendingCopy&& other) noexcept
        : m_fd(std::move(other.m_fd)),
          m_destination(std::move(other.m_destination)),
          m_method(other.m_method),
          m_temporary(std::exchange(other.m_temporary, std::nullopt)),
          m_made(std::exchange(other.m_made, std::nullopt)),
          m_source(other.m_source) {}
    PendingCopy& operator=(PendingCopy&&) = delete;
    ~PendingCopy() { discard(); }

    // EEXIST when the copy is made in place and the name is taken.
    static Result<PendingCopy> create(const Place& destination, const CreatedHandler& created) {
        // Opened for reading too, so that the copy can be read back before it is published.
        int fd = retry([&] { return openFolderOf(destination, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); });
        if (fd >= 0) return {PendingCopy(fd, destination, Method::Unnamed), {}};
        if (!unsupported(errno) && errno != EISDIR) return {PendingCopy(-1, destination, Method::Unnamed), lastError()};
        if (abilitiesAt(destination).publishesInPlace()) return createInPlace(destination, created);
        Place temporary = hiddenSibling(destination, kUnpublishedPrefix);
        fd = retry(
            [&] { return os().openat(temporary.folder, temporary.c(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600); });
        if (fd < 0) return {PendingCopy(-1, destination, Method::Unnamed), lastError()};
        return {PendingCopy(fd, destination, Method::Hidden, std::move(temporary)), {}};
    }

    int fd() const { return m_fd.get(); }

    // The file being copied, held open: a copy made in place outlives it (see discard).
    void copying(int source) { m_source = source; }

    // A copy made in place is read back through a descriptor of its own, opened on its
    // name once the writing one is closed: a FUSE file system may give back what it was
    // written through the writing one only once that is closed.
    Status openForReadBack() {
        if (m_method != Method::InPlace) return {};
        if (const Status closed = m_fd.close(); !closed.ok()) return closed;
        m_fd = FileDescriptor(retry([&] {
            return os().openat(m_destination.folder, m_destination.c(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
        }));
        struct stat opened {};
        if (!m_fd.valid() || os().fstat(m_fd.get(), &opened) != 0) return lastError();
        return identityOf(opened) == *m_made ? Status{} : Status{EBUSY};
    }

    // Gives the finished copy (whose status is made) its name; Occupied when the name was
    // taken meanwhile.
    PlaceResult publish(const struct stat& made) {
        switch (m_method) {
            case Method::Unnamed:
                return publishUnnamed(made);
            case Method::Hidden:
                return publishHidden();
            case Method::InPlace:
                return publishInPlace(made);
        }
        return failed(EINVAL);
    }

private:
    enum class Method { Unnamed, Hidden, InPlace };

    PendingCopy(int fd, Place destination, Method method, std::optional<Place> temporary = std::nullopt)
        : m_fd(fd), m_destination(std::move(destination)), m_method(method), m_temporary(std::move(temporary)) {}

    static Result<PendingCopy> createInPlace(const Place& destination, const CreatedHandler& created) {
        // Told first, so that a kill just after the create leaves a record that there may be
        // a file of this run's under the name.
        if (created) {
            if (const Status told = created(std::nullopt); !told.ok())
                return {PendingCopy(-1, destination, Method::Unnamed), told};
        }
        const int fd = retry([&] {
            return os().openat(destination.folder, destination.c(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        });
        if (fd < 0) return {PendingCopy(-1, destination, Method::Unnamed), createError(destination)};
        PendingCopy copy(fd, destination, Method::InPlace);
        struct stat made {};
        if (os().fstat(fd, &made) != 0) return {std::move(copy), lastError()};
        copy.m_made = identityOf(made);
        if (created) {
            // Told before a byte is written, so that a kill leaves a record of the file.
            if (const Status told = created(entryInfoOf(made)); !told.ok()) return {std::move(copy), told};
        }
        return {std::move(copy), {}};
    }

    // Why a name could not be created: a file system that refuses a name says EINVAL, or
    // through FUSE EPERM (FAT) or ENOENT (exFAT), where a hidden name of this run as long
    // is still taken in the same folder (a full folder refuses that too).
    static Status createError(const Place& destination) {
        const Status refused = lastError();
        if (refused.error != EINVAL && refused.error != EPERM && refused.error != ENOENT) return refused;
        QByteArray name = hiddenName(kUnpublishedPrefix);
        const qsizetype length = destination.name.size() - (destination.name.lastIndexOf('/') + 1);
        if (name.size() < length) name += QByteArray(length - name.size(), 'x');
        const Place probe = destination.sibling(name);
        if (!createExclusive(probe).valid()) return refused;
        os().unlinkat(probe.folder, probe.c(), 0);
        return Status{kNameRefused};
    }

    PlaceResult publishUnnamed(const struct stat& written) {
        // Linking the descriptor itself needs a capability; the /proc link works for everyone.
        int linked = os().linkat(m_fd.get(), "", m_destination.folder, m_destination.c(), AT_EMPTY_PATH);
        if (linked != 0 && errno != EEXIST) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd.get());
            linked =
                os().linkat(AT_FDCWD, self.constData(), m_destination.folder, m_destination.c(), AT_SYMLINK_FOLLOW);
        }
        if (linked != 0) return errno == EEXIST ? occupied() : failedWithErrno();
        if (const Status closed = m_fd.close(); !closed.ok()) {
            // The data may not have reached the disk: the name goes, if it is still ours.
            m_made = identityOf(written);
            m_method = Method::InPlace;
            return failed(closed);
        }
        return placed();
    }

    PlaceResult publishHidden() {
        if (const Status closed = m_fd.close(); !closed.ok()) return failed(closed);
        const Status renamed = renameNoReplace(*m_temporary, m_destination);
        if (renamed.error == EEXIST) return occupied();
        if (!renamed.ok()) return failed(renamed);
        m_temporary.reset();
        return placed();
    }

    // The name must still hold the very file written through the descriptor.
    PlaceResult publishInPlace(const struct stat& made) {
        if (!holdsCopy()) {
            m_made.reset();  // not ours any more: left alone
            return failed(EBUSY);
        }
        if (!(identityOf(made) == *m_made)) return failed(EBUSY);
        if (const Status closed = m_fd.close(); !closed.ok()) return failed(closed);
        m_made.reset();
        return placed();
    }

    bool holdsCopy() const {
        struct stat named {};
        return m_made && os().fstatat(m_destination.folder, m_destination.c(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
               identityOf(named) == *m_made;
    }

    void discard() {
        m_fd.close();
        if (m_temporary) os().unlinkat(m_temporary->folder, m_temporary->c(), 0);
        m_temporary.reset();
        if (m_method == Method::InPlace && holdsCopy() && sourceStays())
            os().unlinkat(m_destination.folder, m_destination.c(), 0);
        m_made.reset();
    }

    // A copy in place is seen under its name before it is finished: another run may have
    // taken it for the file's and deleted the file. It then stays, whatever became of it.
    bool sourceStays() const {
        struct stat source {};
        return m_source < 0 || (os().fstat(m_source, &source) == 0 && source.st_nlink > 0);
    }

    FileDescriptor m_fd;
    Place m_destination;
    Method m_method;
    std::optional<Place> m_temporary;  // the hidden name while unpublished
    std::optional<Identity> m_made;    // the file under the destination name while it may have to go
    int m_source = -1;
};

PlaceResult copySymlink(const Place& source, const Place& destination, const struct stat& link) {
    std::vector<char> target(static_cast<std::size_t>(std::max<off_t>(link.st_size, 255)) + 2);
    const ssize_t length = os().readlinkat(source.folder, source.c(), target.data(), target.size() - 1);
    if (length < 0) return failedWithErrno();
    if (static_cast<std::size_t>(length) >= target.size() - 1) return failed(ENAMETOOLONG);  // grew meanwhile
    target[static_cast<std::size_t>(length)] = '\0';
    if (os().symlinkat(target.data(), destination.folder, destination.c()) != 0)
        return errno == EEXIST ? occupied() : failedWithErrno();
    os().fchownat(destination.folder, destination.c(), link.st_uid, link.st_gid, AT_SYMLINK_NOFOLLOW);
    const std::array<struct timespec, 2> times{link.st_atim, link.st_mtim};
    os().utimensat(destination.folder, destination.c(), times.data(), AT_SYMLINK_NOFOLLOW);
    PlaceResult result = placed();
    struct stat made {};
    if (os().fstatat(destination.folder, destination.c(), &made, AT_SYMLINK_NOFOLLOW) == 0)
        result.placed = entryInfoOf(made);
    return result;
}

// The source of a copy as it was copied, held open so that its inode cannot be freed and
// given to another file before a move has checked it.
struct CopiedSource {
    struct stat state {};
    FileDescriptor pin;
};

// The checksum of a file read straight from the device, past the system's cache; EINVAL
// where the file system does not read so.
Result<quint32> checksumDirect(int fd, off_t length, Pacer& pacer, const CopyCheck& check) {
    const int flags = os().fcntl(fd, F_GETFL, 0);
    if (flags < 0 || os().fcntl(fd, F_SETFL, flags | O_DIRECT) != 0) return {0, Status{EINVAL}};
    const ReadBuffer buffer(kDirectBlock, kDirectAlignment);
    const Result<quint32> sum = readBlocks(
        {.fd = fd, .end = length, .buffer = buffer.block(), .check = &check, .wholeBlocks = true, .readingBack = true},
        pacer);
    os().fcntl(fd, F_SETFL, flags);
    return sum;
}

// The checksum of a copy as the file system gives it back from the device once flushed:
// read past the system's cache where the file system allows it, otherwise with the cached
// pages dropped first. (A drive's own cache may still answer.)
Result<quint32> checksumReadBack(int fd, off_t length, Pacer& pacer, const CopyCheck& check) {
    if (retry([&] { return os().fdatasync(fd); }) != 0) return {0, writeError(lastError())};
    if (const Result<quint32> direct = checksumDirect(fd, length, pacer, check); direct.status.error != EINVAL)
        return {direct.value, writeError(direct.status)};
    os().posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    const ReadBuffer buffer(kBufferSize);
    const Result<quint32> readBack =
        readBlocks({.fd = fd, .end = length, .buffer = buffer.block(), .check = &check, .readingBack = true}, pacer);
    return {readBack.value, writeError(readBack.status)};
}

// Copies a file (a link as the link). With flush set, the copy is on the disk and of the
// source's length before it is published; with a check, it reads back as it was written.
PlaceResult copyOneFile(const Place& source, const Place& destination, bool flush, const KeepGoing& keepGoing,
                        CopiedSource& copied, const CopyCheck* check, const CreatedHandler& created) {
    struct stat& state = copied.state;
    if (os().fstatat(source.folder, source.c(), &state, AT_SYMLINK_NOFOLLOW) != 0) return failedWithErrno();
    if (S_ISLNK(state.st_mode)) {
        copied.pin = FileDescriptor(os().openat(source.folder, source.c(), O_PATH | O_NOFOLLOW | O_CLOEXEC, 0));
        if (!copied.pin.valid() || os().fstat(copied.pin.get(), &state) != 0) return failedWithErrno();
        return copySymlink(source, destination, state);
    }
    if (S_ISDIR(state.st_mode)) return failed(EISDIR);
    // A fifo, socket or device is never opened: opening a fifo would wait for a writer.
    if (!S_ISREG(state.st_mode)) return failed(EINVAL);
    copied.pin = FileDescriptor(retry(
        [&] { return os().openat(source.folder, source.c(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0); }));
    const int from = copied.pin.get();
    if (from < 0) return failedWithErrno();
    if (os().fstat(from, &state) != 0) return failedWithErrno();
    if (!S_ISREG(state.st_mode)) return failed(EINVAL);  // replaced meanwhile
    Result<PendingCopy> copy = PendingCopy::create(destination, created);
    copy.value.copying(from);
    if (copy.status.error == EEXIST) return occupied();
    if (!copy.ok()) return failed(copy.status);
    Pacer pacer(keepGoing, state.st_size);
    const Result<quint32> data =
        copyData(from, copy.value.fd(), state.st_size, pacer, check, flush || check != nullptr);
    if (!data.ok()) return data.status.error == ECANCELED ? abandoned() : failed(data.status);
    std::optional<quint32> written;
    if (check != nullptr) written = data.value;
    // Written to while it was copied: the copy may be torn, so it is not published. (Only
    // deleted meanwhile, the file was copied whole.)
    struct stat after {};
    if (os().fstat(from, &after) != 0) return failedWithErrno();
    if (!sameState(state, after) || (after.st_nlink > 0 && !untouched(state, after))) return failed(EBUSY);
    unsigned unkept = 0;
    if (const Status status = copyMetadata(from, state, copy.value.fd(), unkept); !status.ok()) return failed(status);
    if (flush || written) {
        struct stat flushed {};
        if (retry([&] { return os().fdatasync(copy.value.fd()); }) != 0)
            return failed(written ? writeError(lastError()) : lastError());
        if (os().fstat(copy.value.fd(), &flushed) != 0) return failedWithErrno();
        if (flushed.st_size != state.st_size) return failed(EIO);
    }
    // A copy that does not read back as it was written is withdrawn, never published.
    if (written) {
        if (const Status opened = copy.value.openForReadBack(); !opened.ok()) return failed(opened);
        const Result<quint32> readBack = checksumReadBack(copy.value.fd(), state.st_size, pacer, *check);
        if (!readBack.ok()) return readBack.status.error == ECANCELED ? abandoned() : failed(readBack.status);
        if (readBack.value != *written) return failed(kCopyNotVerified);
    }
    struct stat made {};
    if (os().fstat(copy.value.fd(), &made) != 0) return failedWithErrno();
    PlaceResult published = copy.value.publish(made);
    if (published.outcome == PlaceOutcome::Placed) {
        published.placed = entryInfoOf(made);
        published.checksum = written;
        published.unkept = unkept;
    }
    return published;
}

// Removes the copy just published, but only while the name still holds it.
void withdrawCopy(const Place& destination, const struct stat& copy) {
    struct stat now {};
    if (os().fstatat(destination.folder, destination.c(), &now, AT_SYMLINK_NOFOLLOW) == 0 && sameState(now, copy))
        os().unlinkat(destination.folder, destination.c(), 0);
}

// A move between file systems: copy, flush, publish, make the folder entry durable, then
// remove the source once it is proved to be the file that was copied, untouched.
PlaceResult moveAcrossFileSystems(const Place& source, const Place& destination, const KeepGoing& keepGoing,
                                  const CopyCheck& check, const CreatedHandler& created) {
    CopiedSource copied;
    const PlaceResult copy =
        copyOneFile(source, destination, true, keepGoing, copied, check.checksum ? &check : nullptr, created);
    if (copy.outcome != PlaceOutcome::Placed) return copy;
    struct stat published {};
    if (os().fstatat(destination.folder, destination.c(), &published, AT_SYMLINK_NOFOLLOW) != 0)
        return failedWithErrno();
    if (const Status synced = syncFolderOf(destination); !synced.ok()) {
        withdrawCopy(destination, published);
        return failed(synced);
    }
    struct stat now {};
    if (os().fstat(copied.pin.get(), &now) != 0) return failedWithErrno();
    // Deleted by another program meanwhile: the copy holds the only bytes left.
    if (now.st_nlink == 0) return copy;
    // Written to since it was copied (the inode held open is still that file): the source
    // holds the newer bytes and stays, the stale copy goes.
    if (!sameState(copied.state, now)) {
        withdrawCopy(destination, published);
        return failed(EBUSY);
    }
    // Touched in some other way (renamed, or written with its time set back): both stay.
    if (!untouched(copied.state, now)) return failed(EBUSY);
    // Its bytes read again prove it the file copied, where they are what the copy was
    // proved to hold.
    // (Read through the name it was set aside under: through sshfs the descriptor held since
    // the copy may still read a file that another has since taken the place of.)
    const auto sameBytesAsCopy = [&](const Place& aside) {
        if (!copy.checksum || !check.checksum) return Status{EBUSY};
        const FileDescriptor reading(
            retry([&] { return os().openat(aside.folder, aside.c(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0); }));
        if (!reading.valid()) return lastError();
        Pacer pacer(keepGoing);
        const ReadBuffer buffer(kBufferSize);
        const Result<quint32> read = readBlocks(
            {.fd = reading.get(), .end = copied.state.st_size, .buffer = buffer.block(), .check = &check}, pacer);
        if (!read.ok()) return read.status;
        return read.value == *copy.checksum ? Status{} : Status{EBUSY};
    };
    const Status removed = removeCheckedAside(
        source,
        [&copied](const struct stat& aside) { return sameState(aside, copied.state) ? Status{} : Status{EBUSY}; },
        {copied.pin.get(), identityOf(copied.state), sameBytesAsCopy});
    if (removed.ok()) return copy;
    struct stat stayed {};
    const bool stays = os().fstatat(source.folder, source.c(), &stayed, AT_SYMLINK_NOFOLLOW) == 0;
    // Gone meanwhile (another program took it): the copy may be the only one left.
    if (!stays && removed.error == ENOENT) return copy;
    // Still under its name, as copied (its folder refuses the removal, or it is a mount
    // point): the copy goes again, so that a failed move leaves the file in one place.
    // Another file under the source's name: both stay.
    if (stays && sameState(stayed, copied.state)) withdrawCopy(destination, published);
    return failed(removed);
}

Result<EntryInfo> heldState(int fd) {
    struct statx info {};
    if (os().statx(fd, "", AT_EMPTY_PATH, kStatxMask, &info) != 0) return {{}, lastError()};
    return {entryInfoOf(info), {}};
}

// The file set aside is the one held when it shows the numbers the held file shows now;
// it is then taken under the numbers it had before.
Status takenAsHeld(struct stat& aside, const HeldFile& held) {
    struct stat now {};
    if (os().fstat(held.fd, &now) != 0) return lastError();
    if (!(identityOf(now) == identityOf(aside))) return Status{EBUSY};
    aside.st_dev = static_cast<dev_t>(held.before.device);
    aside.st_ino = static_cast<ino_t>(held.before.inode);
    return {};
}

struct Renamed {
    Status status;
    std::optional<PlaceResult::Renumbered> renumbered;
};

// Renames; on an overlay, the numbers the rename gave the file are read from the file
// itself, held across the rename, never predicted.
Renamed renameReadingNumbers(const Place& source, const Place& destination) {
    if (!source.onOverlay) return {renameNoReplace(source, destination), std::nullopt};
    const FileDescriptor held(os().openat(source.folder, source.c(), O_PATH | O_NOFOLLOW | O_CLOEXEC, 0));
    const Result<EntryInfo> before = held.valid() ? heldState(held.get()) : Result<EntryInfo>{{}, Status{EBADF}};
    const Status status = renameNoReplace(source, destination);
    if (!status.ok() || !before.ok()) return {status, std::nullopt};
    const Result<EntryInfo> after = heldState(held.get());
    if (!after.ok() || after.value.identity == before.value.identity) return {status, std::nullopt};
    return {status, PlaceResult::Renumbered{before.value.identity, after.value}};
}

}  // namespace

Status syncFolderOf(const Place& entry) {
    const FileDescriptor fd(retry([&] { return openFolderOf(entry, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); }));
    if (!fd.valid()) return lastError();
    return statusOf(retry([&] { return os().fsync(fd.get()); }));
}

Status renameNoReplace(const Place& from, const Place& to) {
    if (os().renameat2(from.folder, from.c(), to.folder, to.c(), RENAME_NOREPLACE) == 0) return {};
    const int refused = errno;
    if (!unsupported(refused)) return Status{refused};
    const MountAbilities can = abilitiesAt(to);
    // EINVAL is also what a file system says of a name it does not accept; where the flag
    // works, that is what it meant.
    if (refused == EINVAL && can.renamesWithoutReplacing) return Status{kNameRefused};
    // Neither the flag nor links: no rename there can be proved not to replace, so a file
    // goes there as between file systems.
    if (can.publishesInPlace()) return Status{EXDEV};
    // Without the flag, a hard link is the test: it fails on an existing name.
    if (os().linkat(from.folder, from.c(), to.folder, to.c(), 0) != 0) return lastError();
    if (os().unlinkat(from.folder, from.c(), 0) != 0) {
        const Status failure = lastError();
        os().unlinkat(to.folder, to.c(), 0);
        return failure;
    }
    return {};
}

void forgetMountAbilities() {
    LearnedMounts& learned = learnedMounts();
    const std::lock_guard<std::mutex> lock(learned.guard);
    learned.mounts.clear();
}

Status renameOntoOwnName(const Place& from, const Place& to) {
    const Status renamed = renameNoReplace(from, to);
    if (renamed.error != EXDEV || !abilitiesAt(to).publishesInPlace()) return renamed;
    // The name is first taken by an empty file made for it, exclusively; the file is then
    // renamed over that while the name still holds it, and nothing else.
    struct stat made {};
    {
        const FileDescriptor placeholder = createExclusive(to);
        if (!placeholder.valid()) return lastError();
        if (os().fstat(placeholder.get(), &made) != 0) return lastError();
    }
    struct stat named {};
    const bool ours = os().fstatat(to.folder, to.c(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                      identityOf(made) == identityOf(named) && named.st_size == 0;
    if (!ours) return Status{EEXIST};
    if (os().renameat2(from.folder, from.c(), to.folder, to.c(), 0) == 0) return {};
    const Status failure = lastError();
    if (os().fstatat(to.folder, to.c(), &named, AT_SYMLINK_NOFOLLOW) == 0 && identityOf(made) == identityOf(named))
        os().unlinkat(to.folder, to.c(), 0);
    return failure;
}

namespace {

bool isEmptyFolder(int folder) {
    const int fd = retry([&] { return os().openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (fd < 0) return false;
    DIR* const listing = os().fdopendir(fd);
    if (listing == nullptr) {
        os().close(fd);
        return false;
    }
    bool empty = true;
    while (const dirent* entry = os().readdir(listing)) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") empty = false;
    }
    os().closedir(listing);
    return empty;
}

}  // namespace

Result<FileDescriptor> openMadeFolder(const Place& path) {
    Result<FileDescriptor> made;
    made.value = FileDescriptor(
        retry([&] { return os().openat(path.folder, path.c(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0); }));
    if (!made.value.valid()) return {FileDescriptor(), lastError()};
    const Result<EntryInfo> folder = entryAt(made.value.get(), "", AT_EMPTY_PATH);
    const Result<EntryInfo> parent = path.folder == AT_FDCWD ? entryAt(AT_FDCWD, path.folderPath.constData(), 0)
                                                             : entryAt(path.folder, "", AT_EMPTY_PATH);
    if (!folder.ok() || !parent.ok()) return {FileDescriptor(), folder.ok() ? parent.status : folder.status};
    // A folder's link count tells nothing: many file systems give every folder one.
    const bool another = folder.value.mountRoot || folder.value.mount != parent.value.mount ||
                         folder.value.owner != os().geteuid() || !isEmptyFolder(made.value.get());
    if (another) return {FileDescriptor(), Status{kFolderReplaced}};
    return made;
}

Status makeFolderAt(const Place& path, mode_t mode) {
    if (os().mkdirat(path.folder, path.c(), mode) == 0) return {};
    // A folder has no flags to refuse: EINVAL is the name.
    return errno == EINVAL ? Status{kNameRefused} : lastError();
}

Result<FileDescriptor> createFolderLike(const Place& path, const Place& model) {
    const FileDescriptor from(
        retry([&] { return os().openat(model.folder, model.c(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); }));
    struct stat like {};
    if (!from.valid() || os().fstat(from.get(), &like) != 0) like.st_mode = 0755;
    // Made private first, so that nothing can look into it before it has its own bits.
    if (const Status made = makeFolderAt(path, 0700); !made.ok()) return {FileDescriptor(), made};
    Result<FileDescriptor> made = openMadeFolder(path);
    if (!made.ok()) return made;
    mode_t mode = (like.st_mode & 07777) | S_IRWXU;
    const int fd = made.value.get();
    if (from.valid()) {
        if (os().fchown(fd, like.st_uid, like.st_gid) != 0) mode &= ~static_cast<mode_t>(S_ISGID);
        copyExtendedAttributes(from.get(), fd);
    }
    // A disk with no place for a mode (a FAT stick through FUSE) still takes the folder.
    if (os().fchmod(fd, mode) != 0 && !cannotStore(errno)) return {FileDescriptor(), lastError()};
    return made;
}

Status restoreAttributesOf(int held, const Identity& expected, const Attributes& attributes) {
    struct stat info {};
    if (os().fstat(held, &info) != 0) return lastError();
    if (S_ISLNK(info.st_mode)) return Status{EINVAL};
    const Result<EntryInfo> entry = entryAt(held, "", AT_EMPTY_PATH);
    if (!entry.ok()) return entry.status;
    if (!(entry.value.identity == expected)) return Status{EBUSY};
    const qint64 modifiedNs = static_cast<qint64>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    if (attributes.notModifiedAfterNs != 0 && modifiedNs > attributes.notModifiedAfterNs) return Status{EBUSY};
    // The descriptor's own name in /proc reaches the held inode itself.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(held);
    if (!attributes.keepMode) {
        quint32 mode = attributes.mode;
        if (os().fchownat(held, "", attributes.owner, attributes.group, AT_EMPTY_PATH) != 0)
            mode &= ~static_cast<quint32>(S_ISUID | S_ISGID);
        if (os().fchmodat(AT_FDCWD, self.constData(), mode, 0) != 0 && !cannotStore(errno)) return lastError();
    }
    // Seconds rounded down, so that a time before 1970 keeps its fraction as a positive part.
    const auto timeOf = [](qint64 ns) {
        constexpr qint64 kSecond = 1'000'000'000;
        if (ns == 0) return timespec{0, UTIME_OMIT};
        const qint64 seconds = ns / kSecond - (ns % kSecond < 0 ? 1 : 0);
        return timespec{static_cast<time_t>(seconds), static_cast<long>(ns - seconds * kSecond)};
    };
    const std::array<struct timespec, 2> times{timeOf(attributes.accessedNs), timeOf(attributes.modifiedNs)};
    // A disk with no place for them (a FAT stick through FUSE) keeps the bytes, which count.
    if (os().utimensat(AT_FDCWD, self.constData(), times.data(), 0) != 0 && !cannotStore(errno)) return lastError();
    return {};
}

// An entry held by an O_PATH descriptor, with the mount it is seen through.
Result<EntryInfo> heldEntry(const FileDescriptor& held) {
    if (!held.valid()) return {{}, lastError()};
    Result<EntryInfo> entry = heldState(held.get());
    entry.value.onOverlay = entry.ok() && isOverlay(held.get());
    return entry;
}

// The keeper's bytes and its name on the disk: a source deleted as its duplicate must not
// outlive it through a power cut (another program may have written it just before, and
// left it unflushed). A link's target is in its folder. A file system that cannot flush
// (EINVAL) keeps it as it does.
Status keepOnDisk(const Place& keeper, const struct stat& expected) {
    if (S_ISLNK(expected.st_mode)) {
        const Status synced = syncFolderOf(keeper);
        return synced.error == EINVAL ? Status{} : synced;
    }
    const FileDescriptor fd(retry(
        [&] { return os().openat(keeper.folder, keeper.c(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0); }));
    if (!fd.valid()) return lastError();
    struct stat info {};
    if (os().fstat(fd.get(), &info) != 0) return lastError();
    if (!(identityOf(info) == identityOf(expected))) return Status{EBUSY};
    if (retry([&] { return os().fdatasync(fd.get()); }) != 0 && errno != EINVAL) return lastError();
    const Status synced = syncFolderOf(keeper);
    return synced.error == EINVAL ? Status{} : synced;
}

Result<DuplicateProof> deleteDuplicate(const Place& source, const Place& keeper, const KeepGoing& keepGoing,
                                       const CopyCheck& summed, const ProofHandler& proved) {
    const FileDescriptor heldSource(os().openat(source.folder, source.c(), O_PATH | O_NOFOLLOW | O_CLOEXEC, 0));
    const Result<EntryInfo> sourceSeen = heldEntry(heldSource);
    if (!sourceSeen.ok()) return {{}, sourceSeen.status};
    const FileDescriptor heldKeeper(os().openat(keeper.folder, keeper.c(), O_PATH | O_NOFOLLOW | O_CLOEXEC, 0));
    const Result<EntryInfo> keeperSeen = heldEntry(heldKeeper);
    if (!keeperSeen.ok()) return {{}, keeperSeen.status};
    if (!mountsLetDuplicateGo(sourceSeen.value, keeperSeen.value)) return {{}, Status{EBUSY}};
    struct stat sourceBefore {};
    struct stat keeperBefore {};
    if (os().fstat(heldSource.get(), &sourceBefore) != 0) return {{}, lastError()};
    if (os().fstat(heldKeeper.get(), &keeperBefore) != 0) return {{}, lastError()};
    Result<DuplicateProof> proof;
    const Result<bool> same = compareContents(source, keeper, keepGoing, &summed, &proof.value);
    if (!same.ok()) return {{}, same.status};
    if (!same.value) return {{}, Status{EBUSY}};
    struct stat sourceNow {};
    if (os().fstatat(source.folder, source.c(), &sourceNow, AT_SYMLINK_NOFOLLOW) != 0) return {{}, lastError()};
    if (!untouched(sourceBefore, sourceNow)) return {{}, Status{EBUSY}};
    if (const Status kept = keepOnDisk(keeper, keeperBefore); !kept.ok()) return {{}, kept};
    if (proved) {
        if (const Status told = proved(proof.value); !told.ok()) return {{}, told};
    }
    const auto keeperStays = [&](const struct stat& aside) {
        if (!sameState(aside, sourceBefore)) return Status{EBUSY};
        // Asked of the disk itself: a keeper that was the source under another spelling (a
        // folder that folds names) is gone with it.
        struct stat kept {};
        if (const Status seen = freshStatus(keeper, kept); !seen.ok())
            return seen.error == ENOENT ? Status{kSameEntry} : seen;
        // Two names of one file: removing one keeps the bytes under the other. (On an
        // overlay the rename aside may have copied the source up, apart from the keeper:
        // what it is now tells.)
        // (Through sshfs, whose rename is a link and a removal, the source held by its path
        // is gone stale: the file set aside, proved by its bytes, is what it is now.)
        struct stat now {};
        const bool gone = os().fstat(heldSource.get(), &now) != 0;
        if (gone && errno != ESTALE) return lastError();
        if (gone) now = aside;
        if (identityOf(kept) == identityOf(now)) return now.st_nlink >= 2 ? Status{} : Status{EBUSY};
        return untouched(keeperBefore, kept) ? Status{} : Status{EBUSY};
    };
    const auto stillSameBytes = [&](const Place& aside) {
        const Result<bool> again = compareContents(aside, keeper, keepGoing, nullptr, nullptr);
        if (!again.ok()) return again.status;
        return again.value ? Status{} : Status{EBUSY};
    };
    proof.status =
        removeCheckedAside(source, keeperStays, {heldSource.get(), identityOf(sourceBefore), stillSameBytes});
    // The keeper is back with the source under its own name: it was the source. Otherwise
    // it is gone.
    struct stat back {};
    if (proof.status.error == kSameEntry && !freshStatus(keeper, back).ok()) proof.status = Status{ENOENT};
    return proof;
}

// Whether the rename aside changed nothing but the numbers: length, mode and time stay.
bool sameShape(const struct stat& before, const struct stat& aside) {
    return before.st_size == aside.st_size && before.st_mode == aside.st_mode &&
           sameTime(before.st_mtim, aside.st_mtim);
}

// Whether the rename aside changed nothing but the times, as a file system that dates the
// entries it renames does.
bool onlyTimesSet(const struct stat& before, const struct stat& aside) {
    return identityOf(before) == identityOf(aside) && before.st_size == aside.st_size &&
           before.st_mode == aside.st_mode && !sameTime(before.st_mtim, aside.st_mtim);
}

// Whether the folder of a place is on a disk whose numbers need not last.
bool looseAt(const Place& place) {
    if (place.folder != AT_FDCWD) return hasLooseIdentities(place.folder);
    const FileDescriptor folder(os().openat(AT_FDCWD, place.folderPath.constData(), O_PATH | O_CLOEXEC, 0));
    return folder.valid() && hasLooseIdentities(folder.get());
}

// Gives a file held by a descriptor the times it had before, where only they changed.
void keepTimesOf(int held, const struct stat& before) {
    struct stat now {};
    if (os().fstat(held, &now) != 0 || !onlyTimesSet(before, now)) return;
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(held);
    const std::array<struct timespec, 2> times{before.st_atim, before.st_mtim};
    os().utimensat(AT_FDCWD, self.constData(), times.data(), 0);
}

Status removeCheckedAside(const Place& path, const AsideCheck& check, const HeldFile& held) {
    struct stat beforeRename {};
    const bool seenBefore = held.fd >= 0 && os().fstat(held.fd, &beforeRename) == 0;
    const bool provable = seenBefore && held.proveBytes;
    const Place aside = hiddenSibling(path, kSetAsidePrefix);
    if (const Status renamed = renameOntoOwnName(path, aside); !renamed.ok()) return renamed;
    struct stat info {};
    Status verdict = os().fstatat(aside.folder, aside.c(), &info, AT_SYMLINK_NOFOLLOW) == 0 ? Status{} : lastError();
    // Dated by the rename itself (fusefat dates every entry it renames), as seen at once.
    const bool datedByRename = verdict.ok() && seenBefore && onlyTimesSet(beforeRename, info);
    bool byBytes = false;  // proved the file checked by its bytes, where its numbers or times say nothing
    if (verdict.ok() && held.fd >= 0) {
        verdict = takenAsHeld(info, held);
        if (verdict.error == ESTALE) verdict = Status{EBUSY};  // held by its path, renumbered by the rename
        // A disk whose numbers need not last (sshfs gives a file new ones as it gets a
        // name) shows the file under other numbers: it is the one held while its length,
        // time and mode say so, and its bytes.
        if (verdict.error == EBUSY && provable && looseAt(aside) && sameShape(beforeRename, info)) {
            info.st_dev = static_cast<dev_t>(held.before.device);
            info.st_ino = static_cast<ino_t>(held.before.inode);
            verdict = {};
            byBytes = true;
        }
    }
    if (verdict.ok()) {
        verdict = check(info);
        if (verdict.error == EBUSY && provable && onlyTimesSet(beforeRename, info)) {
            struct stat asBefore = info;
            asBefore.st_mtim = beforeRename.st_mtim;
            asBefore.st_ctim = beforeRename.st_ctim;
            verdict = check(asBefore);
            byBytes = true;
        }
        if (verdict.ok() && byBytes) verdict = held.proveBytes(aside);
    }
    if (verdict.ok() && os().unlinkat(aside.folder, aside.c(), 0) != 0) verdict = lastError();
    // Put back under its own name; should that name have been taken meanwhile, the file
    // stays whole under the hidden one. One that the rename dated has been dated twice: it
    // gets its times back.
    if (!verdict.ok()) {
        renameOntoOwnName(aside, path);
        if (datedByRename) keepTimesOf(held.fd, beforeRename);
    }
    return verdict;
}

Status removePartialCopy(const Place& copy, const Place& source, const Identity& made) {
    const FileDescriptor held(os().openat(copy.folder, copy.c(), O_PATH | O_NOFOLLOW | O_CLOEXEC, 0));
    struct stat before {};
    if (!held.valid() || os().fstat(held.get(), &before) != 0) return lastError();
    if (!S_ISREG(before.st_mode) || !(identityOf(before) == made)) return Status{EBUSY};
    const auto beginsSource = [&](const Place& at) {
        const Result<bool> prefix = isPrefixOf(at, source, {});
        if (!prefix.ok()) return prefix.status;
        return prefix.value ? Status{} : Status{EBUSY};
    };
    if (const Status proved = beginsSource(copy); !proved.ok()) return proved;
    return removeCheckedAside(
        copy, [&before](const struct stat& aside) { return sameState(before, aside) ? Status{} : Status{EBUSY}; },
        {held.get(), made, beginsSource});
}

PlaceResult moveFileNoReplace(const Place& source, const Place& destination, const KeepGoing& keepGoing,
                              const CopyCheck& check, const CreatedHandler& created) {
    const auto [renamed, renumbered] = renameReadingNumbers(source, destination);
    if (renamed.ok()) {
        PlaceResult result = placed();
        result.renumbered = renumbered;
        return result;
    }
    if (renamed.error == EEXIST) return occupied();
    if (renamed.error == EXDEV) return moveAcrossFileSystems(source, destination, keepGoing, check, created);
    return failed(renamed);
}

PlaceResult copyFileNoReplace(const Place& source, const Place& destination, const KeepGoing& keepGoing,
                              const CopyCheck& check, const CreatedHandler& created) {
    CopiedSource copied;
    const bool verified = check.everyCopy && check.checksum;
    return copyOneFile(source, destination, false, keepGoing, copied, verified ? &check : nullptr, created);
}

}  // namespace kurumu::platform::detail
