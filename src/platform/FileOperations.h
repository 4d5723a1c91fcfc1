#pragma once

#include "platform/FileDescriptor.h"
#include "platform/FileServices.h"

#include <QByteArray>

#include <fcntl.h>
#include <sys/stat.h>

// The operations behind the real file services, on encoded paths. Internal to platform/.
namespace kurumu::platform::detail {

Status lastError();
Status statusOf(int returnValue);

// What statx is asked for: the basic status and the mount, by the number that is never
// given to another mount where the kernel has one (STATX_MNT_ID_UNIQUE, Linux 6.8).
inline constexpr unsigned kStatxMountUnique = 0x4000U;
inline constexpr unsigned kStatxMask = STATX_BASIC_STATS | STATX_MNT_ID | kStatxMountUnique;

EntryInfo entryInfoOf(const struct stat& info);
EntryInfo entryInfoOf(const struct statx& info);
Identity identityOf(const struct stat& info);

// The folder part of an encoded path ("." for a bare name) and its last component.
QByteArray folderOf(const QByteArray& path);
QByteArray nameOf(const QByteArray& path);

// An entry named relative to an open folder, so that a call need not walk its whole path
// again; or, where no folder is open, by its full path relative to AT_FDCWD.
struct Place {
    int folder = AT_FDCWD;
    QByteArray name;         // in the folder, or the full path
    QByteArray folderPath;   // the folder, as a path
    bool onOverlay = false;  // the folder is known to be on an overlay

    const char* c() const { return name.constData(); }
    // Another entry in the same folder.
    Place sibling(const QByteArray& otherName) const;
    // An entry known only by its path.
    static Place ofPath(const QByteArray& path);
};

// True when the open file or folder is on an overlay, whose objects may be copied from a
// lower layer to the upper one by the first change (and then show other numbers).
bool isOverlay(int fd);

// True when the open file or folder is on a disk whose inode and device numbers need not
// last: every FUSE mount, whatever is behind it (a stick plugged in again renumbers even
// those that keep their numbers across a rename), and SMB shares.
bool hasLooseIdentities(int fd);

// Whether the mount is an overlay, learnt once a process for each mount from an entry in
// it (the name in the open folder, "" for the open folder itself; a link at the name is
// followed with AT_SYMLINK_FOLLOW in flags).
bool onOverlayMount(quint64 mount, int at, const char* name, int flags);

// The identity of a folder that statx described at the name. Where an overlay's layers lie
// on two file systems without xino, its folders' inode numbers last only while the kernel
// keeps them in memory; the overlay's handle of a folder, which names the layers' own
// folders, lasts. So on an overlay a folder is known by its device and a digest of that
// handle (where the kernel gives one, Linux 6.6 on), elsewhere by its device and inode.
// The flags are statx's.
Identity folderIdentity(int at, const char* name, int flags, const struct statx& info);

// The entry at the name (flags as statx takes them), a folder by the identity above.
Result<EntryInfo> entryAt(int at, const char* name, int flags);

// Opens the folder that holds the entry.
int openFolderOf(const Place& entry, int flags, mode_t mode);
// Makes the names in the folder of the entry durable (fsync of the folder).
Status syncFolderOf(const Place& entry);

// Renames without ever replacing: renameat2 with RENAME_NOREPLACE, or a hard link and
// an unlink where the file system lacks it. EEXIST when the name is taken, kNameRefused
// when the file system does not accept the new name, EXDEV where the mount has neither
// (what it can do is learned once per mount, on hidden files made for the purpose).
Status renameNoReplace(const Place& from, const Place& to);
// The same, for a hidden name of this run or the name a file had a moment before: where
// the mount has neither, the name is taken by an empty file made exclusively, and the file
// renamed over that while the name still holds it.
Status renameOntoOwnName(const Place& from, const Place& to);
// Forgets what was learned of the mounts (for tests that fake a mount's calls).
void forgetMountAbilities();

// Makes a folder (mkdirat); kNameRefused for a name the file system does not accept.
Status makeFolderAt(const Place& path, mode_t mode);

// Removes a file that must still be the one described: it is first renamed aside to a
// hidden name in its folder, checked there, and only then unlinked; if the check fails
// it is renamed back. ENOENT when nothing is at the path any more. Given the file held
// open before, what is set aside must be that very file (whatever numbers an overlay's
// copy-up gave it), and the check sees it under the numbers it had then.
using AsideCheck = std::function<Status(const struct stat& aside)>;
struct HeldFile {
    int fd = -1;
    Identity before;
    // Where the rename aside set the file's times itself (a FAT stick through FUSE dates
    // every entry it renames), what proves by the bytes of the file set aside that it is
    // still the file checked; the check then sees the times it had just before the rename.
    std::function<Status(const Place& aside)> proveBytes;
};
Status removeCheckedAside(const Place& path, const AsideCheck& check, const HeldFile& held = {});

// Deletes the source as a duplicate of the keeper: their bytes are compared, the source
// is set aside, and it is unlinked only while the keeper is still there, untouched since
// the comparison, and another file than the source (not the source itself seen through a
// second mount, which the rename aside would have changed or taken away).
Result<DuplicateProof> deleteDuplicate(const Place& source, const Place& keeper, const KeepGoing& keepGoing,
                                       const CopyCheck& summed, const ProofHandler& proved);

// Creates a folder like the model: its owner and group where the process may set them,
// its extended attributes, and its permission bits with the owner's always on; the folder
// made, held, and checked as openMadeFolder checks it.
Result<FileDescriptor> createFolderLike(const Place& path, const Place& model);
// The folder just made at the path, opened beneath the same folder without following a
// link, and taken for the one made only while it is on its parent's mount and no mount's
// root, the effective user's, and empty (kFolderReplaced otherwise).
Result<FileDescriptor> openMadeFolder(const Place& path);

// Gives the entry held by an O_PATH descriptor its attributes, while it is the one expected.
Status restoreAttributesOf(int held, const Identity& expected, const Attributes& attributes);

PlaceResult moveFileNoReplace(const Place& source, const Place& destination, const KeepGoing& keepGoing,
                              const CopyCheck& check, const CreatedHandler& created);
PlaceResult copyFileNoReplace(const Place& source, const Place& destination, const KeepGoing& keepGoing,
                              const CopyCheck& check, const CreatedHandler& created);

// Compares two files byte for byte: true only for two regular files of equal length and
// equal bytes, or two links to the same text. The first and the last blocks are compared first, so that most different
// files are told apart after a few kilobytes.
// With summed and proof, the proof of equal files is given: the checksum of their bytes,
// or that they are one file.
// Whether the first file's bytes are the second's first bytes (both regular files).
Result<bool> isPrefixOf(const Place& part, const Place& whole, const KeepGoing& keepGoing);

// Removes a copy cut short under its destination name: set aside, and unlinked only while
// it is the file made and its bytes are the source's first bytes (EBUSY otherwise).
Status removePartialCopy(const Place& copy, const Place& source, const Identity& made);

Result<bool> compareContents(const Place& first, const Place& second, const KeepGoing& keepGoing,
                             const CopyCheck* summed = nullptr, DuplicateProof* proof = nullptr);

// Calls keepGoing at most every tenth of a second, telling it how many of the file's bytes
// are done; remembers a "no". It also sizes the chunks of the work by the time the last one
// took, so that each takes about a tenth of a second on a fast disk and a slow stick alike.
class Pacer {
public:
    explicit Pacer(const KeepGoing& keepGoing, qint64 total = 0);
    // Asked before each chunk, with the bytes done so far; without them, for work on bytes
    // already counted (a checksum of what was just copied).
    bool keepGoing(qint64 done = -1);
    // The bytes the next chunk should take.
    std::size_t chunk() const { return m_chunk; }

private:
    const KeepGoing& m_keepGoing;
    qint64 m_total;
    qint64 m_done = 0;
    qint64 m_lastAskedNs;
    qint64 m_chunkStartNs;
    std::size_t m_chunk;
    bool m_stopped = false;
};

}  // namespace kurumu::platform::detail
