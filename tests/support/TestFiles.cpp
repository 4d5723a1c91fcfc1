#include "support/TestFiles.h"

#include "checksum/GetCRC.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace kurumu::test {

void writeFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(contents), contents.size());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QByteArrayLiteral("<missing>");
    return file.readAll();
}

bool exists(const QString& path) {
    return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
}

QStringList namesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

void makeFolder(const QString& path) {
    QVERIFY2(QDir().mkpath(path), qPrintable(path));
}

QString makeFileWithFolders(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).path());
    writeFile(path, contents);
    return path;
}

namespace {

QByteArray describe(const QString& path, const struct stat& status, Snapshot detail) {
    QByteArray what;
    const QByteArray modified = QByteArray::number(static_cast<qint64>(status.st_mtim.tv_sec)) + '.' +
                                QByteArray::number(static_cast<qint64>(status.st_mtim.tv_nsec)) + ' ';
    if (detail == Snapshot::Everything) {
        what = QByteArray::number(status.st_mode, 8) + ' ' + QByteArray::number(status.st_uid) + ':' +
               QByteArray::number(status.st_gid) + ' ';
    }
    if (S_ISLNK(status.st_mode)) return what + "link:" + QFile::encodeName(QFileInfo(path).symLinkTarget());
    if (S_ISDIR(status.st_mode)) return what + (detail == Snapshot::Everything ? modified : QByteArray()) + "<folder>";
    if (!S_ISREG(status.st_mode)) return what + "<special>";
    if (detail == Snapshot::Everything) what += modified;
    return what + readFile(path);
}

}  // namespace

QMap<QString, QByteArray> snapshot(const QString& folder, Snapshot detail) {
    QMap<QString, QByteArray> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0) continue;  // gone while listed
        if (S_ISDIR(status.st_mode) && detail == Snapshot::Files) continue;
        entries.insert(QDir(folder).relativeFilePath(path), describe(path, status, detail));
    }
    return entries;
}

QByteArray crcForgingSuffix(const QByteArray& data, const QString& targetCrc) {
    const auto& table = checksum::kCrcTableConstants;
    // Walk back from the wanted register: each step's table entry is told by the top byte.
    std::uint32_t wanted = ~targetCrc.toUInt(nullptr, 16);
    std::array<std::uint8_t, 4> indices{};
    for (int k = 3; k >= 0; --k) {
        std::size_t entry = 0;
        while ((table[entry] >> 24) != (wanted >> 24)) ++entry;
        indices[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(entry);
        wanted = (wanted ^ table[entry]) << 8;
    }
    // Then forward from the register after the data, choosing the byte that picks each entry.
    std::uint32_t crcRegister = checksum::crc32Update(
        checksum::kCrcInitial, std::as_bytes(std::span(data.constData(), data.size())), checksum::CrcMethod::Reference);
    QByteArray suffix;
    for (const std::uint8_t index : indices) {
        suffix.append(static_cast<char>((crcRegister ^ index) & 0xFF));
        crcRegister = (crcRegister >> 8) ^ table[index];
    }
    return suffix;
}

// Root of the machine's own user namespace: root mapped in a namespace of its own may not
// mount most file systems or give files to other users.
bool isRoot() {
    QFile map(QStringLiteral("/proc/self/uid_map"));
    if (::geteuid() != 0 || !map.open(QIODevice::ReadOnly)) return false;
    return map.readAll().simplified() == "0 0 4294967295";
}

namespace {

bool run(const QStringList& command) {
    return QProcess::execute(command.front(), command.mid(1)) == 0;
}

}  // namespace

Tmpfs::Tmpfs(const QString& mountPoint, const QString& size) : m_path(mountPoint) {
    QDir().mkpath(mountPoint);
    m_mounted =
        isRoot() && run({QStringLiteral("mount"), QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                         QStringLiteral("size=") + size, QStringLiteral("tmpfs"), mountPoint});
}

Tmpfs::~Tmpfs() {
    if (m_mounted) run({QStringLiteral("umount"), QStringLiteral("-l"), m_path});
}

Mount::Mount(const QStringList& arguments) : m_path(arguments.last()) {
    m_mounted = isRoot() && run(QStringList{QStringLiteral("mount")} + arguments);
}

Mount::~Mount() {
    if (m_mounted) run({QStringLiteral("umount"), QStringLiteral("-l"), m_path});
}

namespace {

constexpr char kSftpServer[] = "/usr/lib/openssh/sftp-server";

bool onFuse(const QString& path) {
    constexpr long kFuseMagic = 0x65735546;
    struct statfs disk {};
    return ::statfs(QFile::encodeName(path).constData(), &disk) == 0 && disk.f_type == kFuseMagic;
}

}  // namespace

FuseDisk::FuseDisk(Kind kind, const QString& folder)
    : m_kind(kind), m_folder(folder), m_path(folder + QStringLiteral("/disk")) {
    const QStringList tools = kind == Kind::Fat ? QStringList{QStringLiteral("mkfs.vfat"), QStringLiteral("fusefat")}
                              : kind == Kind::ExFat
                                  ? QStringList{QStringLiteral("mkfs.exfat"), QStringLiteral("mount.exfat-fuse")}
                              : kind == Kind::Sftp ? QStringList{QStringLiteral("sshfs")}
                                                   : QStringList{QStringLiteral("python3")};
    for (const QString& tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty() &&
            QStandardPaths::findExecutable(tool, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")}).isEmpty()) {
            m_skipReason = tool + QStringLiteral(" is missing (scripts/setup.sh --test installs it)");
            return;
        }
    }
    if (kind == Kind::Sftp && !QFileInfo::exists(QLatin1String(kSftpServer))) {
        m_skipReason = QStringLiteral("sftp-server is missing (scripts/setup.sh --test installs it)");
        return;
    }
    const bool ours = kind == Kind::Damaging || kind == Kind::Slow;
    if (ours && QProcess::execute(QStringLiteral("/usr/bin/python3"),
                                  {QStringLiteral("-c"), QStringLiteral("import fusepy")}) != 0) {
        m_skipReason = QStringLiteral("python3-fusepy is missing (scripts/setup.sh --test installs it)");
        return;
    }
    if (!isRoot() || !QFileInfo::exists(QStringLiteral("/dev/fuse"))) {
        m_skipReason = QStringLiteral("needs root and /dev/fuse to mount a disk through FUSE");
        return;
    }
    QDir().mkpath(m_path);
    if (kind == Kind::Sftp || ours) {
        QDir().mkpath(backing());
    } else {
        QFile image(folder + QStringLiteral("/disk.img"));
        constexpr qint64 kImageSize = qint64{96} << 20;
        if (!image.open(QIODevice::WriteOnly) || !image.resize(kImageSize)) {
            m_skipReason = QStringLiteral("cannot make the disk's image");
            return;
        }
        image.close();
        if (!run({tools.front(), image.fileName()})) {
            m_skipReason = tools.front() + QStringLiteral(" failed");
            return;
        }
    }
    if (kind == Kind::ExFat) {
        QProcess losetup;
        losetup.start(QStringLiteral("losetup"),
                      {QStringLiteral("-f"), QStringLiteral("--show"), folder + QStringLiteral("/disk.img")});
        losetup.waitForFinished();
        m_loopDevice = QString::fromUtf8(losetup.readAllStandardOutput()).trimmed();
        if (losetup.exitCode() != 0 || m_loopDevice.isEmpty()) {
            m_loopDevice.clear();
            m_skipReason = QStringLiteral("no loop device for the exFAT image");
            return;
        }
    }
    if (!mount()) m_skipReason = tools.back() + QStringLiteral(" could not mount the disk");
}

bool FuseDisk::mount() {
    switch (m_kind) {
        case Kind::Fat:
            return run({QStringLiteral("fusefat"), QStringLiteral("-o"), QStringLiteral("rw+"),
                        m_folder + QStringLiteral("/disk.img"), m_path});
        case Kind::ExFat:
            // Writable by its owner alone, as a desktop mounts a stick for the user who plugged it in.
            return run({QStringLiteral("mount.exfat-fuse"), QStringLiteral("-o"), QStringLiteral("umask=0022"),
                        m_loopDevice, m_path});
        case Kind::Sftp:
        case Kind::Damaging:
        case Kind::Slow:
            break;
    }
    m_server = std::make_unique<QProcess>();
    if (m_kind == Kind::Sftp) {
        m_server->start(QStringLiteral("/usr/bin/python3"),
                        {QFINDTESTDATA("sftp_mount.py"), QLatin1String(kSftpServer), backing(), m_path});
    } else {
        m_server->start(
            QStringLiteral("/usr/bin/python3"),
            {QFINDTESTDATA("faulty_fs.py"), backing(), m_path,
             m_kind == Kind::Slow ? QStringLiteral("slow") : QStringLiteral("damage"), QString::number(kSlowRate)});
    }
    for (int tries = 0; tries < 100 && !onFuse(m_path); ++tries) QTest::qWait(50);
    return onFuse(m_path);
}

bool FuseDisk::remount() {
    if (!run({QStringLiteral("umount"), m_path})) return false;
    if (m_server) m_server->waitForFinished(10000);
    return mount();
}

FuseDisk::~FuseDisk() {
    if (!m_skipReason || !m_loopDevice.isEmpty()) run({QStringLiteral("umount"), QStringLiteral("-l"), m_path});
    if (m_server) m_server->waitForFinished(10000);
    if (!m_loopDevice.isEmpty()) run({QStringLiteral("losetup"), QStringLiteral("-d"), m_loopDevice});
}

ReadOnlyView::ReadOnlyView(const QString& folder, const QString& mountPoint) : m_path(mountPoint) {
    QDir().mkpath(mountPoint);
    m_bound = isRoot() && run({QStringLiteral("mount"), QStringLiteral("--bind"), folder, mountPoint});
    m_mounted =
        m_bound && run({QStringLiteral("mount"), QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), mountPoint});
}

ReadOnlyView::~ReadOnlyView() {
    if (m_bound) run({QStringLiteral("umount"), QStringLiteral("-l"), m_path});
}

}  // namespace kurumu::test
