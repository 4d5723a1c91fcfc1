#pragma once

#include <QHashFunctions>
#include <QtGlobal>

#include <cerrno>
#include <cstddef>

// What a file or folder is and what it is like, as values: what the file services report
// and what a journal records, with no call to the system.
namespace kurumu::platform {

// What a folder or file is, whatever path spells it: device and inode.
struct Identity {
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const Identity&) const = default;
};
inline size_t qHash(const Identity& identity, size_t seed = 0) {
    return qHashMulti(seed, identity.device, identity.inode);
}

enum class EntryKind {
    Missing,  // nothing of that name
    File,     // a regular file
    Link,     // a symbolic link (the link itself, whatever it points to)
    Folder,
    Special,  // a fifo, socket or device: never opened for reading
};

// An entry as lstat sees it.
struct EntryInfo {
    EntryKind kind = EntryKind::Missing;
    qint64 length = 0;
    Identity identity;
    qint64 modifiedNs = 0;  // modification time, nanoseconds since the epoch
    qint64 changedNs = 0;   // status change time, which no program can set
    qint64 accessedNs = 0;  // access time
    quint32 mode = 0;       // permission bits with set-user-ID, set-group-ID and sticky
    quint32 owner = 0;
    quint32 group = 0;
    bool mountRoot = false;  // the root of a mounted file system (or of a bind mount)
    // The mount it is reached through, as long as that stays mounted; 0 where the system
    // does not say. Unlike the device, it is one for everything seen through an overlay.
    quint64 mount = 0;
    bool onOverlay = false;  // seen through an overlay
    // On a disk whose numbers need not last (any FUSE mount: sshfs gives a file new ones as
    // it gets a name, a stick plugged in again gives all new ones): only a folder says.
    bool identityLoose = false;

    bool exists() const { return kind != EntryKind::Missing; }
};

// What a file or folder had, to give back: permission bits, owner and group (kKeepId
// leaves them), times (0 leaves them).
struct Attributes {
    static constexpr quint32 kKeepId = 0xFFFFFFFFu;
    Attributes(quint32 mode_ = 0, quint32 owner_ = kKeepId, quint32 group_ = kKeepId, qint64 accessedNs_ = 0,
               qint64 modifiedNs_ = 0)
        : mode(mode_), owner(owner_), group(group_), accessedNs(accessedNs_), modifiedNs(modifiedNs_) {}
    quint32 mode;
    quint32 owner;
    quint32 group;
    qint64 accessedNs;
    qint64 modifiedNs;
    // With a time, the attributes are given only while the entry's modification time is
    // not later (a folder whose entries someone changed since keeps its own: EBUSY).
    qint64 notModifiedAfterNs = 0;
    bool keepMode = false;  // the permission bits stay as they are
};

// Whether the mounts let a source go as a duplicate of a keeper. Through an overlay, a file
// may show bytes that another file system keeps for it (a lower layer's file, maybe the
// source itself reached directly), so where either is seen through an overlay both must
// be seen through the same overlay mount: the removal is then the overlay's own (an upper
// unlink or a whiteout) and never touches a layer.
inline bool mountsLetDuplicateGo(const EntryInfo& source, const EntryInfo& keeper) {
    if (!source.onOverlay && !keeper.onOverlay) return true;
    return source.onOverlay && keeper.onOverlay && source.mount != 0 && source.mount == keeper.mount;
}

// The error of a path that leads through a folder that is no longer the one recorded for
// it: another folder, a link or a mount under its name.
inline constexpr int kFolderReplaced = ESTALE;

}  // namespace kurumu::platform
