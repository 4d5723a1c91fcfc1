// The file services under faults injected through the system-call seam: the paths that
// this machine never takes for real (no unnamed files, no renameat2, a failing close, a
// volume that fills in the middle of a copy, a source replaced before it is removed).
#include "platform/FileOperations.h"
#include "platform/FileServices.h"
#include "support/Faults.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <cstring>

#include <sys/stat.h>

#include <fcntl.h>

using namespace kurumu;
using platform::PlaceOutcome;

namespace {

// A checksum of the bytes as read, for services that prove their copies (any sum does).
platform::CopyCheck summingCheck() {
    return {[](quint32 sum, const std::byte* data, std::size_t size) {
                for (std::size_t i = 0; i < size; ++i) sum = sum * 31 + static_cast<quint32>(data[i]);
                return sum;
            },
            true};
}

platform::FileServices& files() {
    return platform::realFileServices();
}

// True when the path (full, or relative to an open folder) names an entry of that name.
bool names(const char* path, const char* name) {
    const char* slash = std::strrchr(path, '/');
    return std::strcmp(slash == nullptr ? path : slash + 1, name) == 0;
}

// Every name in a folder, hidden ones included.
QStringList namesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden | QDir::System, QDir::Name);
}

// A renameat2 and a link that report another file system, so that a move takes the
// copy-and-remove road inside one temporary folder.
void pretendAnotherFileSystem(test::InjectedFaults& faults, const char* destinationName) {
    faults.renameat2 = [destinationName](const char*, const char* to, unsigned) -> std::optional<int> {
        if (names(to, destinationName)) return EXDEV;
        return std::nullopt;
    };
    faults.linkat = [destinationName](const char* from, const char* to) -> std::optional<int> {
        if (names(to, destinationName) && !QByteArray(from).startsWith("/proc/") && std::strlen(from) > 0) return EXDEV;
        return std::nullopt;
    };
}

}  // namespace

class TestInjectedFaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // What a test's faults taught of the temporary folder's mount is no truth for the next.
    void init() { platform::detail::forgetMountAbilities(); }

    // Without unnamed files the copy is written under a hidden name and published by a
    // no-replace rename: the real name never holds a partial file.
    void injectedNoUnnamedFiles() {
        QTemporaryDir dir;
        const QString source = test::makeFileWithFolders(dir.filePath("s"), QByteArray(100000, 's'));
        const QString destination = dir.filePath("out/d");
        test::makeFolder(dir.filePath("out"));
        test::InjectedFaults faults;
        bool partialUnderTheRealName = false;
        faults.openat = [](const char*, int flags) -> std::optional<int> {
            if ((flags & O_TMPFILE) == O_TMPFILE) return EOPNOTSUPP;
            return std::nullopt;
        };
        faults.copyFileRange = [&](int, int) -> std::optional<int> {
            partialUnderTheRealName = partialUnderTheRealName || test::exists(destination);
            return std::nullopt;
        };
        QCOMPARE(files().copyFile(source, destination, {}).outcome, PlaceOutcome::Placed);
        QVERIFY(!partialUnderTheRealName);
        QCOMPARE(test::readFile(destination), QByteArray(100000, 's'));
        QCOMPARE(namesIn(dir.filePath("out")), QStringList{"d"});

        // A taken name: the hidden copy goes, the name keeps its file.
        test::writeFile(dir.filePath("out/taken"), "taken");
        QCOMPARE(files().copyFile(source, dir.filePath("out/taken"), {}).outcome, PlaceOutcome::Occupied);
        QCOMPARE(test::readFile(dir.filePath("out/taken")), QByteArray("taken"));
        QCOMPARE(namesIn(dir.filePath("out")), (QStringList{"d", "taken"}));
    }

    // A copy that does not read back as it was written (a disk that damages what it stores):
    // a move across file systems keeps its source and publishes no copy, a checked copy
    // publishes none either, and it is a write error; read back right, the copy is placed
    // with its checksum. The copy is read straight from the device, or, where the file
    // system refuses that, through the cache once its pages are dropped.
    void injectedCopyThatDoesNotReadBack_data() {
        QTest::addColumn<bool>("directRefused");
        QTest::newRow("straight from the device") << false;
        QTest::newRow("through the cache") << true;
    }
    void injectedCopyThatDoesNotReadBack() {
        QFETCH(bool, directRefused);
        QTemporaryDir dir;
        const QByteArray bytes(300000, 'v');
        const QString source = test::makeFileWithFolders(dir.filePath("s"), bytes);
        test::makeFolder(dir.filePath("out"));
        const auto disk = platform::diskServices(summingCheck());
        test::InjectedFaults faults;
        pretendAnotherFileSystem(faults, "d");
        bool askedDirect = false;
        faults.setFlags = [directRefused, &askedDirect](int, int flags) -> std::optional<int> {
            if ((flags & O_DIRECT) == 0) return std::nullopt;
            askedDirect = true;
            return directRefused ? std::optional<int>(EINVAL) : std::nullopt;
        };
        faults.alterRead = [](int fd, char* read, ssize_t) {
            struct stat info {};
            if (::fstat(fd, &info) == 0 && info.st_nlink == 0) read[0] ^= 1;  // the unpublished copy
        };
        const platform::PlaceResult moved = disk->moveFile(source, dir.filePath("out/d"), {});
        QCOMPARE(moved.outcome, PlaceOutcome::Failed);
        QCOMPARE(moved.status.error, platform::kCopyNotVerified);
        QCOMPARE(moved.status.code(), 70);  // a write error
        const platform::PlaceResult copied = disk->copyFile(source, dir.filePath("out/c"), {});
        QCOMPARE(copied.status.error, platform::kCopyNotVerified);
        QCOMPARE(test::readFile(source), bytes);
        QVERIFY(namesIn(dir.filePath("out")).isEmpty());
        // A disk that fails to give the copy back at all: a write error too, not one to pass over.
        faults.alterRead = {};
        faults.read = [](int fd) -> std::optional<int> {
            struct stat info {};
            if (::fstat(fd, &info) == 0 && info.st_nlink == 0) return EIO;
            return std::nullopt;
        };
        QCOMPARE(disk->moveFile(source, dir.filePath("out/d"), {}).status.error, platform::kCopyNotVerified);
        QCOMPARE(test::readFile(source), bytes);
        faults.read = {};
        const platform::PlaceResult placed = disk->moveFile(source, dir.filePath("out/d"), {});
        QCOMPARE(placed.outcome, PlaceOutcome::Placed);
        QVERIFY(placed.checksum.has_value());
        QCOMPARE(test::readFile(dir.filePath("out/d")), bytes);
        QVERIFY(!test::exists(source));
        QVERIFY(askedDirect);
    }

    // A copy written under its name (a disk with neither a no-replace rename nor links) is
    // seen before it is finished. Failed once another run has taken it for the file's and
    // deleted the file, it stays: it may hold the only bytes left.
    void injectedCopyInPlaceOutlivesItsSource() {
        QTemporaryDir dir;
        const QByteArray bytes(20 << 20, 'b');
        const QString source = test::makeFileWithFolders(dir.filePath("s"), bytes);
        const QString destination = dir.filePath("out/d");
        test::makeFolder(dir.filePath("out"));
        test::InjectedFaults faults;
        faults.openat = [](const char*, int flags) -> std::optional<int> {
            if ((flags & O_TMPFILE) == O_TMPFILE) return EOPNOTSUPP;
            return std::nullopt;
        };
        faults.renameat2 = [](const char*, const char*, unsigned) -> std::optional<int> { return EINVAL; };
        faults.linkat = [](const char*, const char*) -> std::optional<int> { return EPERM; };
        int chunks = 0;
        faults.copyFileRange = [&](int, int) -> std::optional<int> {
            if (++chunks < 2) return std::nullopt;
            QFile::remove(source);  // by another run
            return EIO;
        };
        QCOMPARE(files().copyFile(source, destination, {}).outcome, PlaceOutcome::Failed);
        QVERIFY(test::exists(destination));
        QVERIFY(bytes.startsWith(test::readFile(destination)));
    }

    // On a disk whose numbers need not last (seen as FUSE), another file of the same length,
    // time and mode takes the source's place while it is copied, and the descriptor held
    // since the copy still reads the old one (as through sshfs, which answers for the
    // name): read through the name it is set aside under, its bytes tell it apart, and it
    // stays where it is.
    void injectedSourceReplacedOnADiskWithoutLastingNumbers() {
        QTemporaryDir dir;
        const QString source = test::makeFileWithFolders(dir.filePath("in/a"), "the original");
        const QString newcomer = test::makeFileWithFolders(dir.filePath("newcomer"), "the newcomer");
        const std::array<timespec, 2> times{timespec{1577934245, 0}, timespec{1577934245, 0}};
        for (const QString& file : {source, newcomer})
            ::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times.data(), 0);
        const test::Tmpfs elsewhere(dir.filePath("out"), "4m");
        if (!elsewhere.mounted()) QSKIP("cannot mount a tmpfs here");
        struct stat original {};
        QCOMPARE(::stat(QFile::encodeName(source).constData(), &original), 0);
        test::InjectedFaults faults;
        faults.fileSystem = [](int) -> std::optional<long> { return 0x65735546; };
        faults.alterStat = [&](int, struct stat* info) {
            if (info->st_ino != original.st_ino || info->st_nlink != 0) return;
            info->st_nlink = 1;  // what it says of the name
            info->st_ctim = original.st_ctim;
        };
        faults.copyFileRange = [&](int, int) -> std::optional<int> {
            if (test::exists(newcomer))
                ::rename(QFile::encodeName(newcomer).constData(), QFile::encodeName(source).constData());
            return std::nullopt;
        };
        QVERIFY(platform::diskServices(summingCheck())->moveFile(source, dir.filePath("out/a"), {}).outcome !=
                PlaceOutcome::Placed);
        QCOMPARE(test::readFile(source), QByteArray("the newcomer"));
    }

    // Without renameat2 a hard link is the no-replace test.
    void injectedNoRenameat2() {
        QTemporaryDir dir;
        const QString source = test::makeFileWithFolders(dir.filePath("s"), "source");
        test::writeFile(dir.filePath("taken"), "taken");
        test::InjectedFaults faults;
        faults.renameat2 = [](const char*, const char*, unsigned) -> std::optional<int> { return EINVAL; };
        QCOMPARE(files().moveFile(source, dir.filePath("taken"), {}).outcome, PlaceOutcome::Occupied);
        QCOMPARE(test::readFile(dir.filePath("taken")), QByteArray("taken"));
        QCOMPARE(files().moveFile(source, dir.filePath("free"), {}).outcome, PlaceOutcome::Placed);
        QCOMPARE(test::readFile(dir.filePath("free")), QByteArray("source"));
        QVERIFY(!test::exists(source));
    }

    // A close that reports a write-back error: the copy is not published, the source stays.
    void injectedCloseFailsWithEio() {
        QTemporaryDir dir;
        const QString source = test::makeFileWithFolders(dir.filePath("s"), "source");
        test::makeFolder(dir.filePath("out"));
        test::InjectedFaults faults;
        int copyFd = -1;
        faults.openat = [&copyFd](const char*, int flags) -> std::optional<int> {
            if ((flags & O_TMPFILE) == O_TMPFILE) copyFd = -2;  // the next descriptor opened for writing
            return std::nullopt;
        };
        faults.copyFileRange = [&copyFd](int, int to) -> std::optional<int> {
            if (copyFd == -2) copyFd = to;
            return std::nullopt;
        };
        faults.close = [&copyFd](int fd) -> std::optional<int> {
            if (fd == copyFd) return EIO;
            return std::nullopt;
        };
        const auto result = files().copyFile(source, dir.filePath("out/d"), {});
        QCOMPARE(result.outcome, PlaceOutcome::Failed);
        QCOMPARE(result.status.error, EIO);
        QVERIFY(namesIn(dir.filePath("out")).isEmpty());
        QCOMPARE(test::readFile(source), QByteArray("source"));
    }

    // The volume fills in the middle of a copy: the half copy goes, the source stays.
    void injectedVolumeFullMidCopy() {
        QTemporaryDir dir;
        const QByteArray data(20 * 1024 * 1024, 'v');
        const QString source = test::makeFileWithFolders(dir.filePath("s"), data);
        test::makeFolder(dir.filePath("out"));
        test::InjectedFaults faults;
        pretendAnotherFileSystem(faults, "d");
        int calls = 0;
        faults.copyFileRange = [&calls](int, int) -> std::optional<int> {
            if (++calls == 2) return ENOSPC;
            return std::nullopt;
        };
        for (const bool move : {true, false}) {
            calls = 0;
            const auto result = move ? files().moveFile(source, dir.filePath("out/d"), {})
                                     : files().copyFile(source, dir.filePath("out/d"), {});
            QCOMPARE(result.outcome, PlaceOutcome::Failed);
            QCOMPARE(result.status.errorClass(), platform::ErrorClass::VolumeFull);
            QVERIFY(namesIn(dir.filePath("out")).isEmpty());
            QCOMPARE(test::readFile(source), data);
        }
    }

    // Interrupted calls are repeated, not reported.
    void injectedInterruptedCalls() {
        QTemporaryDir dir;
        const QByteArray data(300000, 'i');
        const QString source = test::makeFileWithFolders(dir.filePath("s"), data);
        test::InjectedFaults faults;
        int interruptions = 0;
        const auto interruptEveryOther = [&interruptions](auto...) -> std::optional<int> {
            if (++interruptions % 2 == 1) return EINTR;
            return std::nullopt;
        };
        faults.copyFileRange = interruptEveryOther;
        faults.read = interruptEveryOther;
        faults.openat = [&](const char*, int) { return interruptEveryOther(); };
        QCOMPARE(files().copyFile(source, dir.filePath("c"), {}).outcome, PlaceOutcome::Placed);
        QCOMPARE(test::readFile(dir.filePath("c")), data);
        test::writeFile(dir.filePath("other"), QByteArray(300000, 'j'));
        const auto same = files().sameContents(source, dir.filePath("c"), {});
        QVERIFY(same.ok() && same.value);
        QVERIFY(interruptions > 4);
    }

    // Between the copy and the removal the source changes. Deleted and replaced by another
    // file, or taken away: the copy stays, since it may hold the only bytes left. Changed
    // in place: the source keeps the newer bytes, the stale copy goes. Written with its
    // modification time set back: both stay.
    void injectedSourceChangesBeforeItIsRemoved_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("placed");
        QTest::addColumn<QByteArray>("atSource");
        QTest::addColumn<QByteArray>("atDestination");
        QTest::newRow("replaced") << "replace" << true << QByteArray("new file") << QByteArray("original");
        QTest::newRow("written, its time set back")
            << "rewrite" << false << QByteArray("ORIGINAL") << QByteArray("original");
        QTest::newRow("changed in place") << "append" << false << QByteArray("original+") << QByteArray("<missing>");
        QTest::newRow("taken away") << "remove" << true << QByteArray("<missing>") << QByteArray("original");
    }

    void injectedSourceChangesBeforeItIsRemoved() {
        QFETCH(QString, change);
        QFETCH(bool, placed);
        QFETCH(QByteArray, atSource);
        QFETCH(QByteArray, atDestination);
        QTemporaryDir dir;
        const QString source = test::makeFileWithFolders(dir.filePath("s"), "original");
        test::makeFolder(dir.filePath("out"));
        test::InjectedFaults faults;
        pretendAnotherFileSystem(faults, "d");
        bool changed = false;
        faults.fsync = [&](int) -> std::optional<int> {  // the destination folder's sync, after publishing
            if (changed) return std::nullopt;
            changed = true;
            if (change == "remove" || change == "replace") QFile::remove(source);
            if (change == "replace") test::writeFile(source, "new file");
            if (change == "rewrite") {
                struct stat before {};
                ::stat(QFile::encodeName(source).constData(), &before);
                test::writeFile(source, "ORIGINAL");
                const std::array<struct timespec, 2> times{before.st_atim, before.st_mtim};
                ::utimensat(AT_FDCWD, QFile::encodeName(source).constData(), times.data(), 0);
            }
            if (change == "append") {
                QFile file(source);
                file.open(QIODevice::Append);
                file.write("+");
            }
            return std::nullopt;
        };
        const auto result = files().moveFile(source, dir.filePath("out/d"), {});
        QVERIFY(changed);
        QCOMPARE(result.outcome == PlaceOutcome::Placed, placed);
        QCOMPARE(test::readFile(source), atSource);
        QCOMPARE(test::readFile(dir.filePath("out/d")), atDestination);
        QCOMPARE(namesIn(dir.path()).filter(".kurumu").size(), 0);  // nothing left aside
    }

    // The source's folder refuses its removal once the copy is published: the copy goes
    // again, so that the failed move leaves the file in one place, under its own name.
    void injectedSourceThatCannotBeRemoved() {
        QTemporaryDir dir;
        const QString source = test::makeFileWithFolders(dir.filePath("s"), "original");
        test::makeFolder(dir.filePath("out"));
        test::InjectedFaults faults;
        pretendAnotherFileSystem(faults, "d");
        faults.renameat2 = [](const char*, const char* to, unsigned) -> std::optional<int> {
            if (names(to, "d")) return EXDEV;
            if (QByteArray(to).contains(".kurumu-aside")) return EACCES;
            return std::nullopt;
        };
        const auto result = files().moveFile(source, dir.filePath("out/d"), {});
        QCOMPARE(result.outcome, PlaceOutcome::Failed);
        QCOMPARE(result.status.error, EACCES);
        QCOMPARE(test::readFile(source), QByteArray("original"));
        QCOMPARE(namesIn(dir.filePath("out")), QStringList{});
    }

    // The source is cut short in the middle of a copy: the torn copy is never published.
    void injectedSourceTruncatedDuringACopy() {
        QTemporaryDir dir;
        const QByteArray data(20 * 1024 * 1024, 't');
        const QString source = test::makeFileWithFolders(dir.filePath("s"), data);
        test::makeFolder(dir.filePath("out"));
        test::InjectedFaults faults;
        pretendAnotherFileSystem(faults, "d");
        int calls = 0;
        faults.copyFileRange = [&](int, int) -> std::optional<int> {
            if (++calls == 2) QFile::resize(source, 1000);
            return std::nullopt;
        };
        for (const bool move : {false, true}) {
            calls = 0;
            test::writeFile(source, data);
            const auto result = move ? files().moveFile(source, dir.filePath("out/d"), {})
                                     : files().copyFile(source, dir.filePath("out/d"), {});
            QCOMPARE(result.outcome, PlaceOutcome::Failed);
            QCOMPARE(result.status.error, EBUSY);
            QVERIFY(namesIn(dir.filePath("out")).isEmpty());
            QCOMPARE(test::readFile(source).size(), 1000);
        }
    }

    // Deleting a duplicate: once the source is set aside, the keeper is gone. The source
    // comes back and nothing is deleted.
    void injectedKeeperGoneAfterTheSourceIsSetAside() {
        QTemporaryDir dir;
        const QString source = test::makeFileWithFolders(dir.filePath("in/a"), "same");
        const QString keeper = test::makeFileWithFolders(dir.filePath("out/a"), "same");
        test::InjectedFaults faults;
        faults.renameat2 = [&](const char* from, const char*, unsigned) -> std::optional<int> {
            if (names(from, "a")) QFile::remove(keeper);
            return std::nullopt;
        };
        const platform::Status deleted = files().deleteDuplicate(source, keeper, {}).status;
        QCOMPARE(deleted.error, ENOENT);
        QCOMPARE(test::readFile(source), QByteArray("same"));
        QCOMPARE(namesIn(dir.filePath("in")), QStringList{"a"});
    }

    // A folder made for moves is synced into its parent before the call returns, so that
    // nothing moved into it can outlive, on the disk, the folder's own name; one made for
    // copies alone, whose sources stay, is not.
    void injectedFolderMadeIsSyncedIntoItsParent() {
        QTemporaryDir dir;
        QStringList synced;
        test::InjectedFaults faults;
        faults.fsync = [&](int fd) -> std::optional<int> {
            synced.append(QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(fd)).symLinkTarget());
            return std::nullopt;
        };
        QVERIFY(files().createFolder(dir.filePath("made"), {}).ok());
        QCOMPARE(synced, QStringList{QFileInfo(dir.path()).canonicalFilePath()});
        QVERIFY(files().createFolder(dir.filePath("for copies"), {}, platform::FolderUse::Copies).ok());
        QCOMPARE(synced.size(), 1);
    }

    // The keeper is changed in the moment the source is set aside: no deletion either.
    void injectedKeeperChangedAfterTheSourceIsSetAside() {
        QTemporaryDir dir;
        const QString source = test::makeFileWithFolders(dir.filePath("in/a"), "same");
        const QString keeper = test::makeFileWithFolders(dir.filePath("out/a"), "same");
        test::InjectedFaults faults;
        faults.renameat2 = [&](const char* from, const char*, unsigned) -> std::optional<int> {
            if (names(from, "a")) test::writeFile(keeper, "diff");
            return std::nullopt;
        };
        QVERIFY(!files().deleteDuplicate(source, keeper, {}).ok());
        QCOMPARE(test::readFile(source), QByteArray("same"));
        QCOMPARE(test::readFile(keeper), QByteArray("diff"));
    }
};

QTEST_GUILESS_MAIN(TestInjectedFaults)
#include "tst_faults.moc"
