#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QProcess;

// Real files for the tests, and the real faults this machine can make.
namespace kurumu::test {

void writeFile(const QString& path, const QByteArray& contents);
QByteArray readFile(const QString& path);
bool exists(const QString& path);
// The regular files directly in a folder, by name, in order.
QStringList namesIn(const QString& folder);
void makeFolder(const QString& path);
// Writes a file, creating the folders above it first; returns its path.
QString makeFileWithFolders(const QString& path, const QByteArray& contents);

// What a snapshot of a folder records of each entry below it. Links are never followed
// and nothing but a regular file is ever opened (a fifo would hang the test).
enum class Snapshot {
    Files,       // every entry that is not a folder: a file by its bytes, a link by its target
    Everything,  // also the folders, and every entry's mode, owner and group; files and folders also by their
                 // modification times
};
// Every entry below a folder, by path relative to it.
QMap<QString, QByteArray> snapshot(const QString& folder, Snapshot detail = Snapshot::Files);

// Four bytes that, appended to the data, give the CRC-32 of the target text (eight
// hexadecimal digits): another file with the same length and checksum as a given one.
QByteArray crcForgingSuffix(const QByteArray& data, const QString& targetCrc);

// True when the test runs as the machine's root, which can mount file systems.
bool isRoot();

// A small tmpfs mounted for one test and unmounted after it; empty when it cannot be made.
class Tmpfs {
public:
    static std::optional<QString> skipReason();
    explicit Tmpfs(const QString& mountPoint, const QString& size);
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    ~Tmpfs();
    bool mounted() const { return m_mounted; }
    const QString& path() const { return m_path; }

private:
    QString m_path;
    bool m_mounted = false;
};

// A mount for one test, unmounted after it: the arguments of mount(8), the mount point last.
class Mount {
public:
    explicit Mount(const QStringList& arguments);
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    ~Mount();
    bool mounted() const { return m_mounted; }

private:
    QString m_path;
    bool m_mounted = false;
};

// A read-only bind mount of a folder for one test.
class ReadOnlyView {
public:
    ReadOnlyView(const QString& folder, const QString& mountPoint);
    ReadOnlyView(const ReadOnlyView&) = delete;
    ReadOnlyView& operator=(const ReadOnlyView&) = delete;
    ~ReadOnlyView();
    bool mounted() const { return m_mounted; }

private:
    QString m_path;
    bool m_bound = false;    // the bind mount exists
    bool m_mounted = false;  // and is read-only
};

// A disk through FUSE for one test, mounted at folder/disk and unmounted after it: a FAT or
// exFAT stick as a desktop without the kernel's drivers mounts one (an image file in the
// folder, through fusefat or exfat-fuse), a folder shared over SFTP (sshfs talking to
// sftp-server over a socket pair: no daemon, nothing listening), or a folder passed through
// a file system of our own that damages every write or writes at 5 MB/s (faulty_fs.py).
// The folder a shared or passed-through disk shows is backing().
class FuseDisk {
public:
    enum class Kind { Fat, ExFat, Sftp, Damaging, Slow };
    static constexpr double kSlowRate = 5e6;  // bytes a second
    FuseDisk(Kind kind, const QString& folder);
    FuseDisk(const FuseDisk&) = delete;
    FuseDisk& operator=(const FuseDisk&) = delete;
    ~FuseDisk();
    // Why it could not be mounted; none once it is.
    const std::optional<QString>& skipReason() const { return m_skipReason; }
    const QString& path() const { return m_path; }
    QString backing() const { return m_folder + QStringLiteral("/shared"); }
    // Unmounted and mounted again, as a stick unplugged and plugged in again.
    bool remount();

private:
    bool mount();

    Kind m_kind;
    QString m_folder;
    QString m_path;
    QString m_loopDevice;                // exFAT through FUSE wants a block device
    std::unique_ptr<QProcess> m_server;  // the SFTP share's or our file system's, while mounted
    std::optional<QString> m_skipReason;
};

}  // namespace kurumu::test

// Skips the calling test with a reason when root is not available for a mount.
#define KURUMU_REQUIRE_ROOT()                                                         \
    do {                                                                              \
        if (!kurumu::test::isRoot()) QSKIP("needs root to mount a file system here"); \
    } while (false)
