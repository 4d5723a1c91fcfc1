#include "platform/Errors.h"
#include "platform/FileServices.h"
#include "platform/FileSystem.h"
#include "platform/Folding.h"
#include "platform/Handoff.h"
#include "platform/Paths.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>

using namespace kurumu;
using platform::PlaceOutcome;

namespace {

platform::FileServices& files() {
    return platform::realFileServices();
}

// A start that speaks to the socket at the path in bytes of its own: what it heard back
// (empty when the socket closed unanswered), or nothing when it could not connect.
std::optional<QByteArray> rawStart(const QString& socketPath, const QByteArray& bytes) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socketPath);
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    (void)::send(fd, bytes.constData(), std::size_t(bytes.size()), MSG_NOSIGNAL);
    std::array<char, 256> answer{};
    const ssize_t got = ::recv(fd, answer.data(), answer.size(), MSG_WAITALL);
    ::close(fd);
    return QByteArray(answer.data(), std::max<ssize_t>(got, 0));
}

// A socket at the path that nobody listens on, as a window that died leaves it.
void leaveStaleSocket(const QString& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socketPath);
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
}

}  // namespace

class TestPlatform : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pathParts_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("extension");
        const auto row = [](const char* name, const char* path, const char* parent, const char* file, const char* base,
                            const char* extension) {
            QTest::newRow(name) << QString::fromUtf8(path) << QString::fromUtf8(parent) << QString::fromUtf8(file)
                                << QString::fromUtf8(base) << QString::fromUtf8(extension);
        };
        row("file", "/in/photo.jpg", "/in", "photo.jpg", "photo", "jpg");
        row("in root", "/a.txt", "/", "a.txt", "a", "txt");
        row("root", "/", "", "", "", "");
        row("no extension", "/in/readme", "/in", "readme", "readme", "");
        row("double extension", "/in/a.tar.gz", "/in", "a.tar.gz", "a.tar", "gz");
        row("dotfile", "/in/.profile", "/in", ".profile", "", "profile");
        row("dotted folder", "/in/notes.old/", "/in", "notes.old", "notes", "old");
    }

    void pathParts() {
        QFETCH(QString, path);
        QFETCH(QString, parent);
        QFETCH(QString, name);
        QFETCH(QString, base);
        QFETCH(QString, extension);
        QCOMPARE(platform::GetParentfolderName(path), parent);
        QCOMPARE(platform::GetFileName(path), name);
        QCOMPARE(platform::GetBaseName(path), base);
        QCOMPARE(platform::GetExtensionName(path), extension);
    }

    // A ".." is resolved on the disk, after the link before it; "." and "//" as text.
    void absolutePaths() {
        QTemporaryDir dir;
        test::makeFolder(dir.filePath("other/sub"));
        QVERIFY(QFile::link(dir.filePath("other/sub"), dir.filePath("lnk")));
        const QString real = QFileInfo(dir.path()).canonicalFilePath();
        QCOMPARE(platform::absolutePath("lnk/../g1", dir.path()), real + "/other/g1");
        QCOMPARE(platform::absolutePath("lnk/..", dir.path()), real + "/other");
        QCOMPARE(platform::absolutePath("./a//b/", dir.path()), dir.path() + "/a/b");
        QCOMPARE(platform::absolutePath("/x/./y", dir.path()), "/x/y");
    }

    void errorTable() {
        QCOMPARE(platform::shownCode(ENOSPC), -2147024784LL);
        QCOMPARE(platform::shownCode(EDQUOT), -2147024784LL);
        for (const int error : {EACCES, EPERM, EROFS, ETXTBSY, EBUSY}) QCOMPARE(platform::shownCode(error), 70LL);
        for (const int error : {ENOENT, ENOTDIR}) QCOMPARE(platform::shownCode(error), 76LL);
        QCOMPARE(platform::shownCode(EEXIST), static_cast<qint64>(EEXIST));
        QCOMPARE(platform::classify(0), platform::ErrorClass::None);
        QCOMPARE(platform::systemRoot(), QStringLiteral("/"));
    }

    // Whether a folder is taken as folding names: by its file system, its case-fold flag,
    // a case-swapped look-up; and, when nothing tells, folding.
    void foldingFromWhatTheDiskSays() {
        using platform::detail::FoldingFacts;
        constexpr long kExt4 = 0xEF53;
        constexpr long kFuse = 0x65735546;
        constexpr long kVfat = 0x4d44;
        constexpr unsigned kCaseFold = 0x40000000;
        const struct {
            FoldingFacts facts;
            bool folds;
        } rows[] = {
            {{kExt4, 0u, {}}, false},   {{kExt4, kCaseFold, {}}, true}, {{kVfat, {}, false}, true},
            {{kFuse, 0u, false}, true},  // whatever is behind it
            {{0x1234, {}, true}, true}, {{0x1234, {}, false}, false},   {{0x1234, {}, {}}, true},  // unsure
        };
        for (const auto& row : rows) QCOMPARE(platform::detail::foldsNames(row.facts), row.folds);
    }

    void existenceIsLstat() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("f"));
        const QString folder = dir.filePath(QStringLiteral("d"));
        const QString linkToFolder = dir.filePath(QStringLiteral("l"));
        test::writeFile(file, "x");
        test::makeFolder(folder);
        QVERIFY(QFile::link(folder, linkToFolder));
        QVERIFY(platform::FileExists(file));
        QVERIFY(!platform::FolderExists(file));
        QVERIFY(platform::FolderExists(folder));
        QVERIFY(!platform::FileExists(folder));
        QVERIFY(platform::FileExists(linkToFolder));  // a link is a file, never a folder to walk
        QVERIFY(!platform::FolderExists(linkToFolder));
        const auto listing = files().listFolder(dir.path());
        QVERIFY(listing.ok());
        QCOMPARE(listing.value.files.size(), 2);
        QCOMPARE(listing.value.subfolders.size(), 1);
        QCOMPARE(listing.value.subfolders.constFirst().text(), folder);
    }

    // Many paths in one folder are answered from one listing; the answers must be the ones
    // looked up singly: a dangling link exists, a missing name does not, "." and a name
    // with a trailing separator are looked up on disk.
    void manyPathsExistAsSinglePathsDo() {
        QTemporaryDir dir;
        QStringList paths;
        for (int i = 0; i < 40; ++i) {
            paths.append(dir.filePath(QStringLiteral("f%1").arg(i)));
            test::writeFile(paths.last(), "x");
        }
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), dir.filePath(QStringLiteral("dangling"))));
        test::makeFolder(dir.filePath(QStringLiteral("d")));
        paths << dir.filePath(QStringLiteral("dangling")) << dir.filePath(QStringLiteral("missing"))
              << dir.filePath(QStringLiteral(".")) << dir.filePath(QStringLiteral("d/"))
              << dir.filePath(QStringLiteral("f0/")) << dir.filePath(QStringLiteral("elsewhere/f1"));
        const QList<bool> there = platform::pathsExist(paths);
        QCOMPARE(there.size(), paths.size());
        for (qsizetype i = 0; i < paths.size(); ++i) QCOMPARE(there[i], platform::PathExists(paths[i]));
        QVERIFY(there[40]);
        QVERIFY(!there[41]);
    }

    // Attributes are given only to the entry expected: never through a link put under its
    // name, never to another file that took the name.
    void attributesOnlyForTheEntryExpected() {
        QTemporaryDir dir;
        const QString victim = dir.filePath(QStringLiteral("victim"));
        const QString name = dir.filePath(QStringLiteral("made"));
        test::writeFile(victim, "secret");
        QVERIFY(QFile::setPermissions(victim, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        test::writeFile(name, "made");
        const platform::Identity made = files().probe(name).value.identity;
        const platform::Attributes open{0666};
        QVERIFY(files().restoreAttributes(name, made, open).ok());
        QCOMPARE(QFileInfo(name).permissions() & QFileDevice::WriteOther, QFileDevice::WriteOther);
        QVERIFY(QFile::remove(name));
        QVERIFY(QFile::link(victim, name));
        QCOMPARE(files().restoreAttributes(name, made, open).error, EINVAL);
        QVERIFY(QFile::remove(name));
        QVERIFY(QFile::rename(victim, name));
        QCOMPARE(files().restoreAttributes(name, made, open).error, EBUSY);
        QCOMPARE(QFileInfo(name).permissions() & QFileDevice::WriteOther, QFileDevice::Permissions{});
    }

    void undecodableNamesAreKeptApart() {
        QTemporaryDir dir;
        const QByteArray bad = QFile::encodeName(dir.path()) + "/bad\xff\xfe";
        const int fd = ::open(bad.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        const auto listing = files().listFolder(dir.path());
        QVERIFY(listing.value.files.isEmpty());
        QCOMPARE(listing.value.undecodableNames, QList<QByteArray>{QByteArray("bad\xff\xfe")});
    }

    // The settings file is replaced whole: a read-only file is refused as a write error,
    // a missing one as a missing path, and a link stays a link to its rewritten target.
    void replacingAFile() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("ro"));
        test::writeFile(file, "x");
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner));
        QCOMPARE(platform::replaceFile(file, "new").code(), 70);
        QCOMPARE(test::readFile(file), QByteArray("x"));
        QCOMPARE(platform::replaceFile(dir.filePath(QStringLiteral("missing")), "new").code(), 76);
        QVERIFY(!test::exists(dir.filePath(QStringLiteral("missing"))));

        const QString target = dir.filePath(QStringLiteral("target"));
        const QString link = dir.filePath(QStringLiteral("link"));
        test::writeFile(target, "old");
        QVERIFY(QFile::link(target, link));
        QVERIFY(platform::replaceFile(link, "new").ok());
        QCOMPARE(QFileInfo(link).symLinkTarget(), target);
        QCOMPARE(test::readFile(target), QByteArray("new"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 3);  // nothing left over

        QVERIFY(!platform::createFileWith(target, "again").ok());  // never over an existing file
        QCOMPARE(test::readFile(target), QByteArray("new"));
    }

    // Only a regular file is read, never waiting on a fifo, and never more than asked.
    void readingTheStartOfAFile() {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        QCOMPARE(platform::readFileStart(fifo, 100).status.error, EINVAL);
        const QString file = dir.filePath(QStringLiteral("f"));
        test::writeFile(file, QByteArray(1000, 'f'));
        QCOMPARE(platform::readFileStart(file, 100).value, QByteArray(100, 'f'));
    }

    void moveNeverReplaces() {
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("s"));
        const QString taken = dir.filePath(QStringLiteral("t"));
        test::writeFile(source, "source");
        test::writeFile(taken, "taken");
        QCOMPARE(files().moveFile(source, taken, {}).outcome, PlaceOutcome::Occupied);
        QCOMPARE(test::readFile(taken), QByteArray("taken"));
        QCOMPARE(test::readFile(source), QByteArray("source"));
        QCOMPARE(files().copyFile(source, taken, {}).outcome, PlaceOutcome::Occupied);
        QCOMPARE(test::readFile(taken), QByteArray("taken"));

        const QString free = dir.filePath(QStringLiteral("free"));
        QCOMPARE(files().moveFile(source, free, {}).outcome, PlaceOutcome::Placed);
        QVERIFY(!test::exists(source));
        QCOMPARE(test::readFile(free), QByteArray("source"));

        const auto missing = files().moveFile(free, dir.filePath(QStringLiteral("no/where")), {});
        QCOMPARE(missing.outcome, PlaceOutcome::Failed);
        QCOMPARE(missing.status.code(), 76);
    }

    void copyKeepsTimeAndMode() {
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("s"));
        test::writeFile(source, QByteArray(300000, 'q'));
        QVERIFY(QFile::setPermissions(source, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup));
        const std::array<struct timespec, 2> times{{{1000000000, 0}, {1000000000, 123456789}}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(source).constData(), times.data(), 0), 0);

        const QString copy = dir.filePath(QStringLiteral("c"));
        QCOMPARE(files().copyFile(source, copy, {}).outcome, PlaceOutcome::Placed);
        QCOMPARE(test::readFile(copy), QByteArray(300000, 'q'));
        struct stat a {
        }, b{};
        ::stat(QFile::encodeName(source).constData(), &a);
        ::stat(QFile::encodeName(copy).constData(), &b);
        QCOMPARE(b.st_mode & 07777, a.st_mode & 07777);
        QCOMPARE(b.st_mtim.tv_sec, a.st_mtim.tv_sec);
        QCOMPARE(b.st_mtim.tv_nsec, a.st_mtim.tv_nsec);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);  // no leftover
    }

    void linksAreTransferredAsLinks() {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("target"));
        const QString link = dir.filePath(QStringLiteral("link"));
        test::writeFile(target, "data");
        QVERIFY(QFile::link(target, link));
        const QString copy = dir.filePath(QStringLiteral("copy"));
        QCOMPARE(files().copyFile(link, copy, {}).outcome, PlaceOutcome::Placed);
        QCOMPARE(QFileInfo(copy).symLinkTarget(), target);
        const QString moved = dir.filePath(QStringLiteral("moved"));
        QCOMPARE(files().moveFile(link, moved, {}).outcome, PlaceOutcome::Placed);
        QCOMPARE(QFileInfo(moved).symLinkTarget(), target);
        QCOMPARE(test::readFile(target), QByteArray("data"));
    }

    // tmpfs to disk and back: the contents arrive whole, the source goes only after.
    void moveAcrossFileSystems() {
        KURUMU_REQUIRE_ROOT();
        QTemporaryDir dir;
        test::Tmpfs tmpfs(dir.filePath(QStringLiteral("mnt")), QStringLiteral("4m"));
        if (!tmpfs.mounted()) QSKIP("cannot mount a tmpfs here");
        const QByteArray data(1024 * 1024 + 17, 'z');
        const QString onTmpfs = tmpfs.path() + QStringLiteral("/f");
        const QString onDisk = dir.filePath(QStringLiteral("f"));
        test::writeFile(onTmpfs, data);
        QCOMPARE(files().moveFile(onTmpfs, onDisk, {}).outcome, PlaceOutcome::Placed);
        QVERIFY(!test::exists(onTmpfs));
        QCOMPARE(test::readFile(onDisk), data);
        QCOMPARE(files().moveFile(onDisk, onTmpfs, {}).outcome, PlaceOutcome::Placed);
        QVERIFY(!test::exists(onDisk));
        QCOMPARE(test::readFile(onTmpfs), data);

        // A link crosses as the link, its target untouched.
        const QString link = tmpfs.path() + "/link";
        QVERIFY(QFile::link(onTmpfs, link));
        QCOMPARE(files().moveFile(link, dir.filePath("link"), {}).outcome, PlaceOutcome::Placed);
        QVERIFY(!test::exists(link));
        QCOMPARE(QFileInfo(dir.filePath("link")).symLinkTarget(), onTmpfs);
        QCOMPARE(test::readFile(onTmpfs), data);
    }

    // A volume too small: the move fails as "volume full", no partial copy is left, and
    // the source stays whole.
    void fullVolume() {
        KURUMU_REQUIRE_ROOT();
        QTemporaryDir dir;
        test::Tmpfs tmpfs(dir.filePath(QStringLiteral("mnt")), QStringLiteral("256k"));
        if (!tmpfs.mounted()) QSKIP("cannot mount a tmpfs here");
        const QByteArray data(600 * 1024, 'f');
        const QString source = dir.filePath(QStringLiteral("big"));
        test::writeFile(source, data);
        const QString target = tmpfs.path() + QStringLiteral("/big");
        for (const bool move : {true, false}) {
            const auto result = move ? files().moveFile(source, target, {}) : files().copyFile(source, target, {});
            QCOMPARE(result.outcome, PlaceOutcome::Failed);
            QCOMPARE(result.status.errorClass(), platform::ErrorClass::VolumeFull);
            QVERIFY(!test::exists(target));
            QVERIFY(QDir(tmpfs.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());
            QCOMPARE(test::readFile(source), data);
        }
    }

    void readOnlyMountRefuses() {
        KURUMU_REQUIRE_ROOT();
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("ro"));
        test::makeFolder(folder);
        test::writeFile(folder + QStringLiteral("/x"), "x");
        test::ReadOnlyView view(folder, dir.filePath(QStringLiteral("view")));
        if (!view.mounted()) QSKIP("cannot make a read-only bind mount here");
        const QString source = dir.filePath(QStringLiteral("s"));
        test::writeFile(source, "s");
        const auto copied = files().copyFile(source, dir.filePath(QStringLiteral("view/s")), {});
        QCOMPARE(copied.status.code(), 70);
        QCOMPARE(platform::replaceFile(dir.filePath(QStringLiteral("view/x")), "y").code(), 70);
        QCOMPARE(files().createFolder(dir.filePath(QStringLiteral("view/d")), {}).code(), 70);
    }

    void emptyFolderRemoval() {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("d"));
        test::makeFolder(folder + QStringLiteral("/sub"));
        QCOMPARE(files().removeEmptyFolder(folder).error, ENOTEMPTY);
        QVERIFY(files().removeEmptyFolder(folder + QStringLiteral("/sub")).ok());
        QVERIFY(files().removeEmptyFolder(folder).ok());
    }
    // What a start's message may hold, and the head of any message.
    void handoffMessages_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("error");
        QTest::newRow("two paths") << QByteArray("/a/b\0/c\0", 8) << 0;
        QTest::newRow("no path: the window comes to the front") << QByteArray() << 0;
        QTest::newRow("relative") << QByteArray("a/b\0", 4) << EILSEQ;
        QTest::newRow("not valid UTF-8") << QByteArray("/a\xff\0", 4) << EILSEQ;
        QTest::newRow("not ended") << QByteArray("/a") << EILSEQ;
        QTest::newRow("an empty path") << QByteArray("/a\0\0", 4) << EILSEQ;
    }
    void handoffMessages() {
        QFETCH(QByteArray, body);
        QFETCH(int, error);
        const platform::Result<QStringList> paths = platform::pathsOfBody(body);
        QCOMPARE(paths.status.error, error);
        if (error == 0) QCOMPARE(platform::pathsBody(paths.value), body);

        const QByteArray message = platform::handoffMessage(platform::HandoffKind::Paths, body);
        const auto head = [&](QByteArray bytes, std::size_t limit = platform::kHandoffLimit) {
            return platform::handoffHead(QByteArrayView(bytes).first(platform::kHandoffHeadSize), limit).status.error;
        };
        QCOMPARE(head(message), 0);
        QCOMPARE(platform::handoffHead(QByteArrayView(message).first(10), 16).value.length, std::size_t(body.size()));
        QCOMPARE(head(QByteArray(message).replace(0, 1, "X")), EPROTO);
        QCOMPARE(head(QByteArray(message).replace(4, 1, "\2")), EPROTO);
        QCOMPARE(head(QByteArray(message).replace(5, 1, "Z")), EPROTO);
        if (!body.isEmpty()) QCOMPARE(head(message, std::size_t(body.size()) - 1), EMSGSIZE);
        QVERIFY(!platform::pathsBody({"relative"}));
    }

    // The window's end keeps to itself: one receiver per lock, a stale socket replaced,
    // another user, an oversized or slow message and a runtime folder others may enter all
    // refused; and a start with no window listening hears no answer in time.
    void handoffRefusals() {
        QTemporaryDir runtime;
        QVERIFY(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString folder = runtime.path();
        const QString name = "kurumu-test";
        const auto send = [&](const QStringList& paths, int ms = 2000) {
            return platform::handOff(folder, name, paths, std::chrono::milliseconds(ms));
        };
        using Heard = platform::HandoffAnswer::Heard;

        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
        QCOMPARE(platform::runtimeFolder().value, folder);
        QVERIFY(QFile::setPermissions(
            folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup));
        QCOMPARE(platform::runtimeFolder().status.error, EPERM);
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(platform::runtimeFolder().status.error, ENOENT);

        // A socket left by a window that died, and nobody listening on it.
        const QString socketPath = folder + '/' + name + ".socket";
        leaveStaleSocket(socketPath);
        QCOMPARE(send({"/x"}, 200).heard, Heard::NoAnswer);
        auto first = platform::HandoffReceiver::become(folder, name);
        QVERIFY2(first.ok(), qPrintable(platform::reasonText(first.status.error)));
        QCOMPARE(platform::HandoffReceiver::become(folder, name).status.error, EWOULDBLOCK);
        // A window that takes no start: once its queue is full, a start still gives up in time.
        for (int start = 0; start < 20; ++start) QCOMPARE(send({"/queued"}, 100).heard, Heard::NoAnswer);

        // A start is answered only once the window looks at its socket, and its paths are
        // taken only once it has confirmed.
        QStringList taken;
        const platform::HandoffReceiver::Taker take{[](const QStringList& paths) {
                                                        return paths.contains("/busy") ? std::optional<QString>("busy")
                                                                                       : std::nullopt;
                                                    },
                                                    [&](const QStringList& paths) { taken += paths; }};
        const auto answered = [&](const std::function<platform::HandoffAnswer()>& start) {
            std::optional<platform::HandoffAnswer> answer;
            std::thread starting([&] { answer = start(); });
            for (int i = 0; i < 200 && !answer; ++i) {
                first.value->answerWaiting(take, std::chrono::milliseconds(300));
                QThread::msleep(10);
            }
            starting.join();
            return *answer;
        };
        QCOMPARE(answered([&] { return send({"/a b", "/日本"}); }).heard, Heard::Accepted);
        QCOMPARE(taken, QStringList({"/a b", "/日本"}));
        const platform::HandoffAnswer busy = answered([&] { return send({"/busy"}); });
        QCOMPARE(busy.heard, Heard::Refused);
        QCOMPARE(busy.text, "busy");

        // Raw starts: a head that claims too much, a message that never arrives whole, an answer
        // where paths were due. Each is refused; none reaches the window, nor do the paths of
        // a start told yes that never confirms (it gave up, and opens a window of its own).
        const auto answeredRaw = [&](const QByteArray& bytes) {
            std::optional<QByteArray> heard;
            std::thread starting([&] { heard = rawStart(socketPath, bytes); });
            for (int i = 0; i < 30 && !heard; ++i) {
                first.value->answerWaiting(take, std::chrono::milliseconds(300));
                QThread::msleep(20);
            }
            starting.join();
            return heard && heard->size() >= 10 ? heard->at(5) : '\0';
        };
        taken.clear();
        QByteArray huge = platform::handoffMessage(platform::HandoffKind::Paths, "/a");
        huge.replace(6, 4, QByteArray("\x7f\xff\xff\xff", 4));
        QCOMPARE(answeredRaw(huge), 'R');
        QCOMPARE(answeredRaw(platform::handoffMessage(platform::HandoffKind::Paths, QByteArray("/a\0", 3)).chopped(2)),
                 'R');
        QCOMPARE(answeredRaw(platform::handoffMessage(platform::HandoffKind::Accepted, {})), 'R');
        QCOMPARE(answeredRaw(platform::handoffMessage(platform::HandoffKind::Paths, QByteArray("/a\0", 3))), 'A');
        QVERIFY(taken.isEmpty());

        // Another user's start is closed unanswered; another user's window is not spoken to.
        if (test::isRoot()) {
            QVERIFY(QFile::setPermissions(folder,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther));
            QVERIFY(QFile::setPermissions(socketPath,
                                          QFile::ReadOther | QFile::WriteOther | QFile::ReadOwner | QFile::WriteOwner));
            const pid_t child = fork();
            if (child == 0) {
                if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                    setresuid(65534, 65534, 65534) != 0)
                    _exit(2);
                const std::optional<QByteArray> heard =
                    rawStart(socketPath, platform::handoffMessage(platform::HandoffKind::Paths, QByteArray("/b\0", 3)));
                if (!heard || !heard->isEmpty()) _exit(3);
                _exit(send({"/from another"}, 1000).heard == Heard::NoAnswer ? 0 : 4);
            }
            int status = 0;
            for (int i = 0; i < 300 && waitpid(child, &status, WNOHANG) == 0; ++i) {
                first.value->answerWaiting(take, std::chrono::milliseconds(300));
                QThread::msleep(10);
            }
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status), 0);
            QVERIFY(taken.isEmpty());
        }

        // A window that died leaves its lock free and its socket behind, for the next.
        first.value.reset();
        QVERIFY(!test::exists(folder + '/' + name + ".socket"));
        QVERIFY(platform::HandoffReceiver::become(folder, name).ok());
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
