#include "platform/HeldFolders.h"

#include "platform/FileOperations.h"

#include <algorithm>
#include <cstring>

#include <linux/openat2.h>
#include <sys/stat.h>

namespace kurumu::platform::detail {

namespace {

using sys::os;
using sys::retry;

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// The folder above a path: "/" above "/a"; nothing above "/" or a bare name.
QByteArray parentOf(const QByteArray& folder) {
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash < 0 || folder == "/") return {};
    return slash == 0 ? QByteArrayLiteral("/") : folder.left(slash);
}

Result<Identity> identityOfHeld(int fd) {
    const Result<EntryInfo> info = entryAt(fd, "", AT_EMPTY_PATH);
    if (!info.ok()) return {{}, info.status};
    if (info.value.kind != EntryKind::Folder) return {{}, Status{ENOTDIR}};
    return {info.value.identity, {}};
}

// One name below an open folder, as a folder: never a link, never the root of a mount.
Result<FileDescriptor> openComponent(int folder, const QByteArray& name) {
    if (name.isEmpty() || name == "." || name == "..") return {FileDescriptor(), Status{kFolderReplaced}};
    FileDescriptor fd(retry([&] { return os().openat(folder, name.constData(), kFolderFlags | O_NOFOLLOW, 0); }));
    if (!fd.valid()) return {FileDescriptor(), errno == ENOENT ? Status{ENOENT} : Status{kFolderReplaced}};
    struct statx info {};
    if (os().statx(fd.get(), "", AT_EMPTY_PATH, detail::kStatxMask, &info) != 0) return {FileDescriptor(), lastError()};
    if (entryInfoOf(info).mountRoot) return {FileDescriptor(), Status{kFolderReplaced}};
    return {std::move(fd), {}};
}

}  // namespace

const Identity* HeldFolders::recorded(const QByteArray& folder) const {
    const auto found = m_recorded.constFind(folder);
    return found == m_recorded.constEnd() ? nullptr : &*found;
}

Result<int> HeldFolders::descriptor(QByteArrayView folder) {
    // Most often the folder named last, or the one before it (a run's source and destination).
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        if (QByteArrayView(it->path) != folder) continue;
        std::rotate(it.base() - 1, it.base(), m_entries.end());
        return {m_entries.back().fd.get(), {}};
    }
    const QByteArray owned = folder.toByteArray();
    Result<FileDescriptor> opened = open(owned);
    if (!opened.ok()) return {-1, opened.status};
    return {keep(owned, std::move(opened.value)), {}};
}

Result<FileDescriptor> HeldFolders::open(const QByteArray& folder) {
    const Identity* expected = recorded(folder);
    if (expected == nullptr && m_unrecorded == Unrecorded::FromRecorded) {
        for (QByteArray above = parentOf(folder); !above.isEmpty(); above = parentOf(above)) {
            if (isRecorded(above)) return openBelow(above, folder);
        }
        return {FileDescriptor(), Status{kFolderReplaced}};  // below no folder that was recorded
    }
    // A folder removed: nothing is reached through its name until it is made again.
    if (expected != nullptr && *expected == Identity{}) return {FileDescriptor(), Status{kFolderReplaced}};
    // By its path, as it was reached when recorded: links on the way are followed.
    FileDescriptor fd(retry([&] { return os().openat(AT_FDCWD, folder.constData(), kFolderFlags, 0); }));
    if (!fd.valid()) return {FileDescriptor(), lastError()};
    const Result<Identity> identity = identityOfHeld(fd.get());
    if (!identity.ok()) return {FileDescriptor(), identity.status};
    // Taken by its path, a folder on a disk whose numbers need not last is still never one
    // that a link at its own name leads to.
    struct stat named {};
    const bool loose = m_loose.contains(folder) && hasLooseIdentities(fd.get()) &&
                       os().fstatat(AT_FDCWD, folder.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(named.st_mode);
    if (expected != nullptr && !(*expected == identity.value) && !loose)
        return {FileDescriptor(), Status{kFolderReplaced}};
    m_recorded.insert(folder, identity.value);
    return {std::move(fd), {}};
}

// A folder below a recorded one, reached one name at a time from it.
Result<FileDescriptor> HeldFolders::openBelow(const QByteArray& ancestor, const QByteArray& folder) {
    const Result<int> base = descriptor(ancestor);
    if (!base.ok()) return {FileDescriptor(), base.status};
    const QByteArray rest = folder.mid(ancestor == "/" ? 1 : ancestor.size() + 1);
    struct open_how how {};
    how.flags = kFolderFlags | O_NOFOLLOW;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_XDEV | RESOLVE_BENEATH;
    FileDescriptor fd(retry([&] {
        const int opened = os().openat2(base.value, rest.constData(), &how, sizeof how);
        if (opened < 0 && errno == EAGAIN) errno = EINTR;  // a rename elsewhere meanwhile: try again
        return opened;
    }));
    if (!fd.valid() && errno != ENOSYS)
        return {FileDescriptor(), errno == ENOENT ? Status{ENOENT} : Status{kFolderReplaced}};
    if (!fd.valid()) {
        // Without openat2: each name in turn, each checked.
        int at = base.value;
        for (const QByteArray& name : rest.split('/')) {
            Result<FileDescriptor> next = openComponent(at, name);
            if (!next.ok()) return next;
            fd = std::move(next.value);
            at = fd.get();
        }
    }
    const Result<Identity> identity = identityOfHeld(fd.get());
    if (!identity.ok()) return {FileDescriptor(), identity.status};
    m_recorded.insert(folder, identity.value);
    return {std::move(fd), {}};
}

int HeldFolders::keep(const QByteArray& folder, FileDescriptor fd) {
    std::erase_if(m_entries, [&](const Entry& entry) { return entry.path == folder; });
    if (m_entries.size() == kCapacity) m_entries.erase(m_entries.begin());
    const bool overlay = isOverlay(fd.get());
    m_entries.push_back({folder, std::move(fd), overlay});
    return m_entries.back().fd.get();
}

void HeldFolders::adopt(const QByteArray& folder, FileDescriptor fd) {
    const Result<Identity> identity = identityOfHeld(fd.get());
    if (!identity.ok()) return;
    m_recorded.insert(folder, identity.value);
    keep(folder, std::move(fd));
}

void HeldFolders::forget(const QByteArray& folder) {
    const QByteArray below = folder + '/';
    std::erase_if(m_entries, [&](const Entry& entry) { return entry.path == folder || entry.path.startsWith(below); });
    // What was below it is gone already: a folder is removed only once it is empty.
    m_recorded.remove(folder);
}

}  // namespace kurumu::platform::detail
