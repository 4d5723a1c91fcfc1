#pragma once

#include "platform/FileServices.h"

#include <QByteArray>

#include <sys/stat.h>

// The operations behind the real file services, on encoded paths. Internal to platform/.
namespace kurumu::platform::detail {

Status lastError();
Status statusOf(int returnValue);

EntryInfo entryInfoOf(const struct stat& info);
Identity identityOf(const struct stat& info);

// The folder part of an encoded path ("." for a bare name) and its last component.
QByteArray folderOf(const QByteArray& path);
QByteArray nameOf(const QByteArray& path);

// Renames without ever replacing: renameat2 with RENAME_NOREPLACE, or a hard link and
// an unlink where the file system lacks it. EEXIST when the name is taken.
Status renameNoReplace(const QByteArray& from, const QByteArray& to);

// Removes a file that must still be the one described: it is first renamed aside to a
// hidden name in its folder, checked there, and only then unlinked; if the check fails
// it is renamed back. ENOENT when nothing is at the path any more.
using AsideCheck = std::function<Status(const QByteArray& asidePath, const struct stat& aside)>;
Status removeCheckedAside(const QByteArray& path, const AsideCheck& check);

// Deletes the source as a duplicate of the keeper: their bytes are compared, the source
// is set aside, and it is unlinked only while the keeper is still there, untouched since
// the comparison, and another file than the source (not the source itself seen through a
// second mount, which the rename aside would have changed or taken away).
Status deleteDuplicate(const QByteArray& source, const QByteArray& keeper, const KeepGoing& keepGoing);

// Creates a folder like the model: its owner and group where the process may set them,
// its extended attributes, and its permission bits with the owner's always on.
Status createFolderLike(const QByteArray& path, const QByteArray& model);

PlaceResult moveFileNoReplace(const QByteArray& source, const QByteArray& destination, const KeepGoing& keepGoing);
PlaceResult copyFileNoReplace(const QByteArray& source, const QByteArray& destination, const KeepGoing& keepGoing);

// Compares two files byte for byte: true only for two regular files of equal length and
// equal bytes. The first and the last blocks are compared first, so that most different
// files are told apart after a few kilobytes.
Result<bool> compareContents(const QByteArray& first, const QByteArray& second, const KeepGoing& keepGoing);

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
