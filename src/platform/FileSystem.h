#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>

// The file-system services. Every call the program makes to the operating system for
// files and folders is here; paths are QString with "/" separators, turned into the
// bytes of the local encoding (UTF-8) at this boundary.
namespace kurumu::platform {

QByteArray encodePath(const QString& path);

// True when something that is not a folder exists at the path: a symbolic link is a
// file (the link itself), whatever it points to.
bool FileExists(const QString& path);
// True when anything (a link included) exists at the path.
bool PathExists(const QString& path);
// True when a folder (not a link to one) exists at the path.
bool FolderExists(const QString& path);
// Creates one folder whose parent exists.
Status CreateFolder(const QString& path);

struct FileInfo {
    qint64 length = 0;
    bool isSymlink = false;
    bool isRegular = false;
    quint64 device = 0;
    quint64 inode = 0;
};
// The length and identity of the entry at the path, without following a link.
Result<FileInfo> fileInfo(const QString& path);
// True when the two paths name one and the same file (same device and inode).
bool isSameFile(const QString& first, const QString& second);
// The target text of a symbolic link.
Result<QByteArray> linkTarget(const QString& path);

// The entries directly in a folder, listed completely before any is used. Names that are
// not valid UTF-8 cannot be represented in a QString; they are kept apart, as bytes.
struct FolderListing {
    QStringList files;       // Full paths of every entry that is not a folder.
    QStringList subfolders;  // Full paths of the folders (links to folders are files).
    QList<QByteArray> undecodableNames;
};
Result<FolderListing> listFolder(const QString& path);

// Removes a folder only when it holds nothing at all; ENOTEMPTY otherwise.
Status removeEmptyFolder(const QString& path);

// Deletes a file. Without force a file that its owner may not write is refused with
// EACCES, as a read-only file is on the desktop the program was designed for.
Status DeleteFile(const QString& path, bool force);

// What became of an attempt to put a file under a new name that must not be replaced.
enum class PlaceOutcome { Placed, Occupied, Failed };
struct PlaceResult {
    PlaceOutcome outcome = PlaceOutcome::Failed;
    Status status;
};

// Moves a file (a link as the link) to a name that must be free: never replaces an
// existing file. Across file systems it copies, flushes, checks and then removes the
// source; on any failure the copy is removed and the source stays.
PlaceResult moveFileNoReplace(const QString& source, const QString& destination);
// Copies a file to a name that must be free, published complete or not at all, keeping
// the source's modification time and permission bits.
PlaceResult copyFileNoReplace(const QString& source, const QString& destination);

// Reads a file from its start to its end in blocks, handing each to the consumer.
Status readFileBlocks(const QString& path, const std::function<void(const std::byte*, std::size_t)>& consume);

// Reads a whole (small) file.
Result<QByteArray> readWholeFile(const QString& path);

// A text file written line by line; closed when it goes out of scope.
class TextFileWriter {
public:
    TextFileWriter() = default;
    TextFileWriter(const TextFileWriter&) = delete;
    TextFileWriter& operator=(const TextFileWriter&) = delete;
    ~TextFileWriter();

    // Creates (or empties) the file.
    Status create(const QString& path);
    // Writes the bytes followed by CR LF.
    Status writeLine(const QByteArray& line);
    Status close();

private:
    int m_fd = -1;
};

}  // namespace kurumu::platform
