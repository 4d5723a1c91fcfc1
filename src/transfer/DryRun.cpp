#include "transfer/DryRun.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace kurumu::transfer {

namespace {

using platform::EntryInfo;
using platform::EntryKind;
using platform::PlaceOutcome;
using platform::PlaceResult;
using platform::Result;
using platform::Status;

// Folders that exist only in the dry run's memory live on a device no disk has.
constexpr quint64 kRememberedDevice = ~quint64{0};

QString parentOf(const QString& key) {
    return platform::GetParentfolderName(key);
}

PlaceResult failed(int error) {
    return {PlaceOutcome::Failed, Status{error}};
}

// Sorted as the disk's listing is: by the bytes of the names.
void sortByName(QList<platform::Path>& paths) {
    const auto nameOf = [](const platform::Path& path) {
        return QByteArrayView(path.bytes()).sliced(path.bytes().lastIndexOf('/') + 1);
    };
    std::sort(paths.begin(), paths.end(),
              [&](const platform::Path& a, const platform::Path& b) { return nameOf(a) < nameOf(b); });
}

}  // namespace

// A path is remembered under the real path of its folder, so that one file named through a
// link, "." or "//" is one entry, as it is on the disk.
QString DryRunServices::keyOf(const QString& path) const {
    QString plain = platform::withoutTrailingSeparator(path);
    const QString folder = parentOf(plain);
    if (folder.isEmpty() || folder == plain) return plain;
    return platform::withTrailingSeparator(realFolderOf(folder)) + platform::GetFileName(plain);
}

// The real path of a folder as far as the disk knows it; below that, as it is spelled.
QString DryRunServices::realFolderOf(const QString& folder) const {
    if (const auto known = m_realFolders.constFind(folder); known != m_realFolders.constEnd()) return *known;
    const Result<QString> real = m_disk.realFolder(folder);
    QString key = real.ok() ? platform::withoutTrailingSeparator(real.value) : keyOf(folder);
    m_realFolders.insert(folder, key);
    return key;
}

const DryRunServices::Remembered* DryRunServices::remembered(const QString& path) const {
    const auto found = m_paths.constFind(keyOf(path));
    return found == m_paths.constEnd() ? nullptr : &*found;
}

const DryRunServices::Remembered* DryRunServices::rememberedAbove(const QString& path) const {
    for (QString folder = parentOf(keyOf(path)); !folder.isEmpty(); folder = parentOf(folder)) {
        if (const Remembered* above = remembered(folder)) return above;
        if (folder == QString(platform::kSeparator)) break;
    }
    return nullptr;
}

QString DryRunServices::bytesOf(const QString& path) const {
    const Remembered* known = remembered(path);
    return known != nullptr && known->kind == Remembered::Kind::File ? known->bytesAt : path;
}

platform::Identity DryRunServices::newIdentity() {
    return {kRememberedDevice, ++m_lastInode};
}

Result<EntryInfo> DryRunServices::probe(const platform::Path& path) {
    if (const Remembered* known = remembered(path)) {
        if (known->kind == Remembered::Kind::Gone) return {};
        return {known->info, {}};
    }
    if (rememberedAbove(path) != nullptr) return {};  // inside a remembered folder, or below a gone one
    return m_disk.probe(path);
}

Result<QList<platform::Identity>> DryRunServices::folderChain(const platform::Path& path) {
    const Remembered* known = remembered(path);
    if (known == nullptr) {
        if (rememberedAbove(path) != nullptr) return {{}, Status{ENOENT}};
        return m_disk.folderChain(path);
    }
    if (known->kind != Remembered::Kind::Folder)
        return {{}, Status{known->kind == Remembered::Kind::Gone ? ENOENT : ENOTDIR}};
    Result<QList<platform::Identity>> chain = folderChain(parentOf(keyOf(path)));
    if (chain.ok()) chain.value.prepend(known->info.identity);
    return chain;
}

Result<QString> DryRunServices::realFolder(const platform::Path& path) {
    const Remembered* known = remembered(path);
    if (known == nullptr && rememberedAbove(path) == nullptr) return m_disk.realFolder(path);
    if (known == nullptr || known->kind != Remembered::Kind::Folder) return {{}, Status{ENOENT}};
    return {platform::withTrailingSeparator(keyOf(path)), {}};
}

Result<EntryInfo> DryRunServices::heldFolder(const platform::Path& path) {
    const Remembered* known = remembered(path);
    if (known == nullptr && rememberedAbove(path) == nullptr) return m_disk.heldFolder(path);
    if (known == nullptr || known->kind != Remembered::Kind::Folder) return {{}, Status{ENOENT}};
    return {known->info, {}};
}

Result<platform::FolderListing> DryRunServices::listFolder(const platform::Path& path) {
    const QString key = keyOf(path);
    const Remembered* known = remembered(key);
    Result<platform::FolderListing> listing;
    if (known != nullptr && known->kind != Remembered::Kind::Folder)
        return {{}, Status{known->kind == Remembered::Kind::Gone ? ENOENT : ENOTDIR}};
    if (known == nullptr) {
        if (rememberedAbove(key) != nullptr) return {{}, Status{ENOENT}};
        listing = m_disk.listFolder(path);
        if (!listing.ok()) return listing;
    }
    platform::FolderListing& entries = listing.value;
    // What is on the disk, less what the run would have changed...
    const auto changed = [this](const platform::Path& entry) { return remembered(entry) != nullptr; };
    entries.files.removeIf(changed);
    entries.subfolders.removeIf(changed);
    // ...and with what the run would have there now.
    const QString spelled = platform::withoutTrailingSeparator(path);
    const QString prefix = platform::withTrailingSeparator(spelled);
    for (const QString& child : m_children.value(realFolderOf(spelled))) {
        const Remembered* now = remembered(child);
        if (now == nullptr || now->kind == Remembered::Kind::Gone) continue;
        const QString full = prefix + platform::GetFileName(child);
        (now->kind == Remembered::Kind::Folder ? entries.subfolders : entries.files).append(full);
    }
    sortByName(entries.files);
    sortByName(entries.subfolders);
    return listing;
}

void DryRunServices::remember(const QString& path, const Remembered& what) {
    const QString key = keyOf(path);
    m_children[parentOf(key)].insert(key);
    m_paths.insert(key, what);
}

Status DryRunServices::createFolder(const platform::Path& path, const platform::Path&, platform::FolderUse) {
    const Result<EntryInfo> existing = probe(path);
    if (!existing.ok()) return existing.status;
    if (existing.value.exists()) return Status{EEXIST};
    const Result<EntryInfo> parent = probe(parentOf(keyOf(path)));
    if (!parent.ok()) return parent.status;
    if (!parent.value.exists()) return Status{ENOENT};
    if (parent.value.kind != EntryKind::Folder) return Status{ENOTDIR};
    EntryInfo made;
    made.kind = EntryKind::Folder;
    made.identity = newIdentity();
    made.mount = parent.value.mount;
    made.onOverlay = parent.value.onOverlay;
    made.mode = 0755;
    remember(path, {Remembered::Kind::Folder, {}, made});
    return {};
}

Status DryRunServices::removeEmptyFolder(const platform::Path& path) {
    const Result<platform::FolderListing> listing = listFolder(path);
    if (!listing.ok()) return listing.status;
    const platform::FolderListing& entries = listing.value;
    if (!entries.files.isEmpty() || !entries.subfolders.isEmpty() || !entries.undecodableNames.isEmpty())
        return Status{ENOTEMPTY};
    remember(path, {});
    return {};
}

// The folder as the disk or the memory has it, links followed.
EntryInfo DryRunServices::folderAt(const QString& folder) {
    const Result<QString> real = realFolder(folder);
    if (!real.ok()) return {};
    const Result<EntryInfo> info = probe(platform::withoutTrailingSeparator(real.value));
    return info.ok() ? info.value : EntryInfo{};
}

// A rename works within one mount: a file is moved by renaming where it and the folder it
// goes into are reached through the same mount. (Their devices may differ on an overlay,
// and agree across two mounts of one file system, where a rename fails all the same.)
bool DryRunServices::sameMount(const EntryInfo& entry, const EntryInfo& folder) {
    if (entry.mount != 0 && folder.mount != 0) return entry.mount == folder.mount;
    return entry.identity.device == folder.identity.device;
}

PlaceResult DryRunServices::place(const QString& source, const QString& destination, bool move) {
    const Result<EntryInfo> from = probe(source);
    if (!from.ok()) return {PlaceOutcome::Failed, from.status};
    if (!from.value.exists()) return failed(ENOENT);
    if (from.value.kind == EntryKind::Folder) return failed(EISDIR);
    if (move && from.value.mountRoot) return failed(EBUSY);  // a mount point stays where it is
    const Result<EntryInfo> to = probe(destination);
    if (!to.ok()) return {PlaceOutcome::Failed, to.status};
    if (to.value.exists()) return {PlaceOutcome::Occupied, {}};
    const QString folder = parentOf(keyOf(destination));
    const Result<EntryInfo> into = probe(folder);
    if (!into.ok()) return {PlaceOutcome::Failed, into.status};
    if (!into.value.exists()) return failed(ENOENT);
    if (into.value.kind != EntryKind::Folder && into.value.kind != EntryKind::Link) return failed(ENOTDIR);
    if (into.value.kind == EntryKind::Link) {  // only a link to a folder holds files
        const Result<QString> real = realFolder(folder);
        if (!real.ok()) return {PlaceOutcome::Failed, real.status};
    }
    const EntryInfo target = folderAt(folder);
    const bool byRename = target.exists() && sameMount(from.value, target);
    // A fifo, socket or device is never read: it can only be renamed where it is.
    if (from.value.kind == EntryKind::Special && (!move || !byRename)) return failed(EINVAL);
    EntryInfo arrived = from.value;
    const bool newFile = !move || !byRename;
    if (newFile) {
        arrived.identity = newIdentity();
        arrived.mount = target.mount;
        arrived.onOverlay = target.onOverlay;
    }
    remember(destination, {Remembered::Kind::File, bytesOf(source), arrived});
    if (move) remember(source, {});
    return {PlaceOutcome::Placed, {}, newFile ? arrived : EntryInfo{}};
}

PlaceResult DryRunServices::moveFile(const platform::Path& source, const platform::Path& destination,
                                     const platform::KeepGoing&, const platform::CreatedHandler&) {
    return place(source, destination, true);
}

PlaceResult DryRunServices::copyFile(const platform::Path& source, const platform::Path& destination,
                                     const platform::KeepGoing&, const platform::CreatedHandler&) {
    return place(source, destination, false);
}

PlaceResult DryRunServices::linkFile(const platform::Path& existing, const platform::Path& destination) {
    const EntryInfo file = probe(existing).value;
    if (file.kind != EntryKind::File) return failed(EINVAL);
    if (probe(destination).value.exists()) return {PlaceOutcome::Occupied, {}};
    if (!sameMount(file, folderAt(parentOf(keyOf(destination))))) return failed(EXDEV);
    remember(destination, {Remembered::Kind::File, bytesOf(existing), file});
    return {PlaceOutcome::Placed, {}, file};
}

Result<bool> DryRunServices::sameContents(const platform::Path& first, const platform::Path& second,
                                          const platform::KeepGoing& keepGoing) {
    for (const QString& path : {first, second}) {
        const Result<EntryInfo> info = probe(path);
        if (!info.ok()) return {false, info.status};
        if (!info.value.exists()) return {false, Status{ENOENT}};
        if (info.value.kind != EntryKind::File) return {false, {}};
    }
    return m_disk.sameContents(bytesOf(first), bytesOf(second), keepGoing);
}

Result<platform::DuplicateProof> DryRunServices::deleteDuplicate(const platform::Path& source,
                                                                 const platform::Path& keeper,
                                                                 const platform::KeepGoing& keepGoing,
                                                                 const platform::ProofHandler&) {
    const Result<bool> same = sameContents(source, keeper, keepGoing);
    if (!same.ok()) return {{}, same.status};
    if (!same.value) return {{}, Status{EBUSY}};
    const EntryInfo going = probe(source).value;
    if (going.mountRoot) return {{}, Status{EBUSY}};  // a mount point cannot be set aside
    if (!platform::mountsLetDuplicateGo(going, probe(keeper).value)) return {{}, Status{EBUSY}};
    remember(source, {});
    return {};
}

}  // namespace kurumu::transfer
