#pragma once

#include "platform/FileServices.h"

#include <QByteArray>

#include <fcntl.h>
#include <sys/stat.h>

// The operations behind the real file services, on encoded paths. Internal to platform/.
namespace kurumu::platform::detail {

Status lastError();
Status statusOf(int returnValue);

// What statx is asked for: the basic status and the mount.
inline constexpr unsigned kStatxMask = STATX_BASIC_STATS | STATX_MNT_ID;

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

// Opens the folder that holds the entry.
int openFolderOf(const Place& entry, int flags, mode_t mode);

// Renames without ever replacing: renameat2 with RENAME_NOREPLACE, or a hard link and
// an unlink where the file system lacks it. EEXIST when the name is taken.
Status renameNoReplace(const Place& from, const Place& to);

// Removes a file that must still be the one described: it is first renamed aside to a
// hidden name in its folder, checked there, and only then unlinked; if the check fails
// it is renamed back. ENOENT when nothing is at the path any more.
// Given the file held open before, what is set aside must be that very file (whatever
// numbers an overlay's copy-up gave it), and it is checked under the numbers it had then.
using AsideCheck = std::function<Status(const struct stat& aside)>;
struct HeldFile {
    int fd = -1;
    Identity before;
};
Status removeCheckedAside(const Place& path, const AsideCheck& check, const HeldFile& held = {});

// Deletes the source as a duplicate of the keeper: their bytes are compared, the source
// is set aside, and it is unlinked only while the keeper is still there, untouched since
// the comparison, and another file than the source (not the source itself seen through a
// second mount, which the rename aside would have changed or taken away).
Status deleteDuplicate(const Place& source, const Place& keeper, const KeepGoing& keepGoing);

// Creates a folder like the model: its owner and group where the process may set them,
// its extended attributes, and its permission bits with the owner's always on.
Status createFolderLike(const Place& path, const Place& model);

// Gives the entry held by an O_PATH descriptor its attributes, while it is the one expected.
Status restoreAttributesOf(int held, const Identity& expected, const Attributes& attributes);

PlaceResult moveFileNoReplace(const Place& source, const Place& destination, const KeepGoing& keepGoing,
                              const CopyCheck& check);
PlaceResult copyFileNoReplace(const Place& source, const Place& destination, const KeepGoing& keepGoing,
                              const CopyCheck& check);

// Compares two files byte for byte: true only for two regular files of equal length and
// equal bytes, or two links to the same text. The first and the last blocks are compared first, so that most different
// files are told apart after a few kilobytes.
Result<bool> compareContents(const Place& first, const Place& second, const KeepGoing& keepGoing);

// Calls keepGoing at most every tenth of a second; remembers a "no".
class Pacer {
public:
    explicit Pacer(const KeepGoing& keepGoing);
    bool keepGoing();

private:
    const KeepGoing& m_keepGoing;
    qint64 m_lastAskedNs;
    bool m_stopped = false;
};

}  // namespace kurumu::platform::detail
