#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

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

void makeFolder(const QString& path) {
    QVERIFY2(QDir().mkpath(path), qPrintable(path));
}

QString makeFileWithFolders(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).path());
    writeFile(path, contents);
    return path;
}

bool isRoot() {
    return ::geteuid() == 0;
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
