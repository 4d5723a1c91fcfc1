#pragma once

#include "platform/Errors.h"
#include "platform/FileServices.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>

// Single file-system questions and the small files the program keeps (its settings).
// Paths are QString with "/" separators, turned into the bytes of the local encoding
// (UTF-8) at this boundary. A run's work goes through FileServices instead.
namespace kurumu::platform {

QByteArray encodePath(const QString& path);
// True when the text is exactly the bytes it was decoded from, so that it names that
// path and no other.
bool isFaithfulPath(QByteArrayView bytes);

// True when something that is not a folder exists at the path: a symbolic link is a
// file (the link itself), whatever it points to.
bool FileExists(const QString& path);
// True when anything (a link included) exists at the path.
bool PathExists(const QString& path);
// Whether anything exists at each path, as PathExists tells; many paths in one folder are
// looked up in one listing of it rather than one by one.
QList<bool> pathsExist(const QStringList& paths);
// True when a folder (not a link to one) exists at the path.
bool FolderExists(const QString& path);

// Reads a file from its start to its end in blocks, handing each to the consumer. Only a
// regular file is read; a fifo or device is refused (EINVAL) without waiting on it.
Status readFileBlocks(const QString& path, const std::function<void(const std::byte*, std::size_t)>& consume);

// The first bytes (at most limit) of a regular file, links followed, opened without ever
// waiting: anything but a regular file is refused (EINVAL).
Result<QByteArray> readFileStart(const QString& path, qint64 limit);
// Up to size bytes read from the descriptor's position: fewer where the file ends first.
Result<QByteArray> readStart(int fd, qint64 size);

// Writes lines to a stream, each write ending at a line end: a kill between two writes
// leaves whole lines. Into a pipe a write carries at most PIPE_BUF bytes, which the pipe
// takes whole, where the lines allow (a longer line goes in a write of its own).
Status writeWholeLines(int fd, QByteArrayView lines);

// Creates a file that must not exist yet, never through a link, holding the bytes.
Status createFileWith(const QString& path, const QByteArray& bytes);

// Replaces the bytes of an existing regular file. Links are followed, so a link stays a
// link; the bytes are written whole to a hidden file beside the target and renamed over
// it, so a crash leaves the old file or the new one, never a part. A file its owner may
// not write is refused (EACCES), as the desktop the program was designed for refuses a
// read-only file; ENOENT when there is no file.
Status replaceFile(const QString& path, const QByteArray& bytes);

// True when the entry at the path (never followed if a link) belongs to the user the
// process acts as and no one else may write to it: what such a user may trust.
bool privateToUser(const QString& path);

}  // namespace kurumu::platform
