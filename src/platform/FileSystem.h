#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <functional>

// Single file-system questions and the small files the program keeps (its settings).
// Paths are QString with "/" separators, turned into the bytes of the local encoding
// (UTF-8) at this boundary. A run's work goes through FileServices instead.
namespace kurumu::platform {

QByteArray encodePath(const QString& path);
// True when the text is exactly the bytes it was decoded from, so that it names that
// path and no other.
bool isFaithfulPath(const QByteArray& bytes);

// True when something that is not a folder exists at the path: a symbolic link is a
// file (the link itself), whatever it points to.
bool FileExists(const QString& path);
// True when anything (a link included) exists at the path.
bool PathExists(const QString& path);
// True when a folder (not a link to one) exists at the path.
bool FolderExists(const QString& path);

// Deletes a file. Without force a file that its owner may not write is refused with
// EACCES, as a read-only file is on the desktop the program was designed for.
Status DeleteFile(const QString& path, bool force);

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
