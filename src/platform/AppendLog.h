#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <utility>

// A file written only at its end, through a shared mapping of the part being written: every appended byte is in the
// system's cache the moment it is appended, without a system call, so that a process
// killed at any moment leaves every record it had written. After a kill the file may end
// in zero bytes, which a reader stops at. The writer holds a lock on the file (flock) from
// its creation until it is closed or its process ends, however it ends.
namespace kurumu::platform {

class AppendLog {
public:
    AppendLog() = default;
    // Creates the file, which must not exist yet, in the folder held (never through a
    // link); path names it in messages.
    static Result<AppendLog> createAt(int folder, const QByteArray& name, const QString& path);
    AppendLog(AppendLog&& other) noexcept;
    AppendLog& operator=(AppendLog&& other) noexcept;
    AppendLog(const AppendLog&) = delete;
    AppendLog& operator=(const AppendLog&) = delete;
    ~AppendLog();

    // The bytes at the end of the file, whole or not at all. Where spare is given, the file
    // keeps room for that many more after them, or the bytes are refused: what is kept is
    // for a last record that must still fit when the volume is full.
    Status append(QByteArrayView bytes, qint64 spare = 0);
    // Cuts the file to what was written and makes it durable.
    Status close();
    const QString& path() const { return m_path; }
    qint64 length() const { return m_length; }

    // True while a writer, in this process or another, has the open file open.
    static bool heldByWriter(int fd);

private:
    Status reserve(qint64 end);
    Status mapAt(qint64 start);
    void unmap();

    QString m_path;
    int m_fd = -1;
    char* m_map = nullptr;  // the part of the file being written: from m_mapStart, m_mapSize bytes
    qint64 m_mapStart = 0;
    qint64 m_mapSize = 0;
    qint64 m_capacity = 0;  // the file's length, with the blocks it has been given
    qint64 m_length = 0;
};

// A lock held while one process does what no other may do at the same time (take runs
// back), released when it goes out of scope or its process ends, however it ends.
class FileLock {
public:
    // Takes the lock of the file in the folder held (made when missing, never through a
    // link); EBUSY while another holds it.
    static Result<FileLock> takeAt(int folder, const QByteArray& name);
    FileLock() = default;
    FileLock(FileLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileLock& operator=(FileLock&&) = delete;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

private:
    int m_fd = -1;
};

}  // namespace kurumu::platform
