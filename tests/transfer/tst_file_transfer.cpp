#include "checksum/GetCRC.h"
#include "platform/FileServices.h"
#include "support/Faults.h"
#include "support/RecordingHost.h"
#include "support/TestFiles.h"
#include "transfer/SameFile.h"
#include "transfer/Transfer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace kurumu;

namespace {

// A source folder and a destination folder, with a host and the run variables.
struct Scene {
    QTemporaryDir dir;
    QString in = dir.filePath("in") + '/';
    QString out = dir.filePath("out") + '/';
    test::RecordingHost host;
    transfer::RunVariables vars;
    transfer::RunOptions options;
    std::unique_ptr<platform::FileServices> files = platform::diskServices();

    transfer::Transfer transfer() { return {vars, host, *files, options}; }

    Scene() {
        test::makeFolder(in);
        test::makeFolder(out);
    }
    QString source(const QString& name, const QByteArray& data) {
        test::writeFile(in + name, data);
        return in + name;
    }
    void existing(const QString& name, const QByteArray& data) { test::writeFile(out + name, data); }
    QStringList logLines() const { return vars.strLog.split("\r\n", Qt::SkipEmptyParts); }
    QStringList outNames() const { return QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
};

}  // namespace

class TestFileTransfer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sameFolder() {
        for (const auto& family : {transfer::kMove, transfer::kCopy2}) {
            Scene s;
            const QString file = s.source("a.txt", "a");
            s.transfer().transferFile(family, file, s.in);
            const QString suffix =
                family.operation == transfer::Operation::Move ? "…移動元と移動先が同じ" : "…コピー元とコピー先が同じ";
            QCOMPARE(s.logLines(), QStringList{s.in + "a.txt" + suffix});
            QCOMPARE(s.host.statuses, s.logLines());
            QCOMPARE(test::readFile(file), QByteArray("a"));
        }
    }

    void freeName() {
        Scene s;
        s.transfer().FileMove2(s.source("a.txt", "a"), s.out);
        QCOMPARE(s.vars.strLog, "\r\n" + s.in + "a.txt…Move");
        QCOMPARE(s.outNames(), QStringList{"a.txt"});
        QVERIFY(!test::exists(s.in + "a.txt"));
        Scene c;
        c.transfer().FileCopy(c.source("a.txt", "a"), c.out);
        QCOMPARE(c.logLines(), QStringList{c.in + "a.txt…Copy"});
        QCOMPARE(test::readFile(c.in + "a.txt"), QByteArray("a"));
        QCOMPARE(test::readFile(c.out + "a.txt"), QByteArray("a"));
        QVERIFY(c.host.warnings.isEmpty());
    }

    void numberedNames_data() {
        QTest::addColumn<bool>("afterName");
        QTest::addColumn<bool>("checkAll");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("stored");
        QTest::newRow("before extension") << false << false << QStringList{"photo.jpg"} << "photo_000.jpg";
        QTest::newRow("after name") << true << false << QStringList{"photo.jpg"} << "photo.jpg_000";
        QTest::newRow("000 taken too") << false << false << QStringList{"photo.jpg", "photo_000.jpg"}
                                       << "photo_001.jpg";
        QTest::newRow("every number tested")
            << false << true << QStringList{"photo.jpg", "photo_000.jpg", "photo_001.jpg"} << "photo_002.jpg";
    }

    void numberedNames() {
        QFETCH(bool, afterName);
        QFETCH(bool, checkAll);
        QFETCH(QStringList, taken);
        QFETCH(QString, stored);
        Scene s;
        s.options.checkAllNumbers = checkAll;
        for (const QString& name : taken) s.existing(name, "other length");
        s.transfer().transferFile(afterName ? transfer::kMove : transfer::kMove2, s.source("photo.jpg", "new"), s.out);
        QCOMPARE(s.logLines(), QStringList{s.in + stored + "…Rename後Move"});
        QCOMPARE(test::readFile(s.out + stored), QByteArray("new"));
        for (const QString& name : taken) QCOMPARE(test::readFile(s.out + name), QByteArray("other length"));
    }

    // Without the extension the log keeps the dot of the pattern; the file has none.
    void numberWithoutExtension() {
        Scene s;
        s.existing("readme", "xx");
        s.transfer().FileCopy2(s.source("readme", "y"), s.out);
        QCOMPARE(s.logLines(), QStringList{s.in + "readme_000.…Rename後Copy"});
        QCOMPARE(s.outNames(), (QStringList{"readme", "readme_000"}));
        QCOMPARE(transfer::numberedCandidate("a_000.txt", 0, transfer::NumberPlace::BeforeExtension).diskName,
                 "a_000_000.txt");
        QCOMPARE(transfer::numberedCandidate("x.txt", 1234, transfer::NumberPlace::AfterName).logText, "x.txt_1234");
    }

    // Identity is proved by the bytes: an equal length is never enough, in either mode or
    // numbering place.
    void sameLength_data() {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("afterName");
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("outNames");
        QTest::addColumn<bool>("sourceStays");
        QTest::newRow("move, same bytes")
            << true << false << QByteArray("abc") << "a.txt…Delete" << QStringList{"a.txt"} << false;
        QTest::newRow("copy, same bytes")
            << false << false << QByteArray("abc") << "a.txt…同一ファイルあり" << QStringList{"a.txt"} << true;
        QTest::newRow("move, other bytes") << true << false << QByteArray("xyz") << "a_000.txt…Rename後Move"
                                           << QStringList{"a.txt", "a_000.txt"} << false;
        QTest::newRow("copy, other bytes") << false << false << QByteArray("xyz") << "a_000.txt…Rename後Copy"
                                           << QStringList{"a.txt", "a_000.txt"} << true;
        QTest::newRow("move, other bytes, number after the name")
            << true << true << QByteArray("abd") << "a.txt_000…Rename後Move" << QStringList{"a.txt", "a.txt_000"}
            << false;
        QTest::newRow("copy, same bytes, number after the name")
            << false << true << QByteArray("abc") << "a.txt…同一ファイルあり" << QStringList{"a.txt"} << true;
    }

    void sameLength() {
        QFETCH(bool, move);
        QFETCH(bool, afterName);
        QFETCH(QByteArray, existing);
        QFETCH(QString, line);
        QFETCH(QStringList, outNames);
        QFETCH(bool, sourceStays);
        Scene s;
        s.existing("a.txt", existing);
        const transfer::Family family{
            move ? transfer::Operation::Move : transfer::Operation::Copy,
            afterName ? transfer::NumberPlace::AfterName : transfer::NumberPlace::BeforeExtension};
        s.transfer().transferFile(family, s.source("a.txt", "abc"), s.out);
        QCOMPARE(s.logLines(), QStringList{s.in + line});
        QCOMPARE(s.outNames(), outNames);
        QCOMPARE(test::readFile(s.out + "a.txt"), existing);  // never replaced
        QCOMPARE(test::exists(s.in + "a.txt"), sourceStays);
        for (const QString& name : outNames) {
            if (name != "a.txt") QCOMPARE(test::readFile(s.out + name), QByteArray("abc"));
        }
    }

    // Large files that differ only in their last byte, or only in the middle, are other files.
    void differentBytesFarFromTheEdges() {
        for (const qsizetype at : {qsizetype(0), qsizetype(300 * 1024), qsizetype(1024 * 1024 - 1)}) {
            Scene s;
            QByteArray data(1024 * 1024, 'd');
            s.existing("big.bin", data);
            data[at] = 'e';
            s.transfer().FileMove2(s.source("big.bin", data), s.out);
            QCOMPARE(s.logLines(), QStringList{s.in + "big_000.bin…Rename後Move"});
            QCOMPARE(test::readFile(s.out + "big_000.bin"), data);
        }
    }

    // Four bytes chosen to restore the CRC-32 give another file the same length and
    // checksum: it is still another file.
    void forgedChecksumCollision() {
        const QByteArray original = "the original text of a file.";
        QByteArray forged = "THE FORGED TEXT OF A FILE...";
        forged.chop(4);
        const auto crcOf = [](const QByteArray& bytes) {
            return checksum::CalcCRC(std::as_bytes(std::span(bytes.constData(), bytes.size())));
        };
        forged += test::crcForgingSuffix(forged, crcOf(original));
        QCOMPARE(forged.size(), original.size());
        QCOMPARE(crcOf(forged), crcOf(original));
        Scene s;
        s.existing("a.txt", original);
        s.transfer().FileMove2(s.source("a.txt", forged), s.out);
        QCOMPARE(s.logLines(), QStringList{s.in + "a_000.txt…Rename後Move"});
        QCOMPARE(test::readFile(s.out + "a.txt"), original);
        QCOMPARE(test::readFile(s.out + "a_000.txt"), forged);
    }

    void emptyFilesAreTheSame() {
        Scene s;
        s.existing("e", {});
        s.transfer().FileMove(s.source("e", {}), s.out);
        QCOMPARE(s.logLines(), QStringList{s.in + "e…Delete"});
        QVERIFY(!test::exists(s.in + "e"));
        QVERIFY(test::exists(s.out + "e"));
    }

    // Without checking every number the counter goes on from the last number handed out,
    // past an identical file at 000; checking every number finds it.
    void counterVersusEveryNumber() {
        for (const bool checkAll : {false, true}) {
            Scene s;
            s.options.checkAllNumbers = checkAll;
            s.existing("p.jpg", "AAAA");
            transfer::Transfer transfer = s.transfer();
            transfer.FileMove2(s.source("p.jpg", "BBBB"), s.out);  // stored as p_000.jpg
            test::makeFolder(s.in + "second");
            test::writeFile(s.in + "second/p.jpg", "BBBB");
            transfer.FileMove2(s.in + "second/p.jpg", s.out);
            const QString second = s.logLines().last();
            if (checkAll) {
                QCOMPARE(second, s.in + "second/p_000.jpg…Delete");
                QCOMPARE(s.outNames(), (QStringList{"p.jpg", "p_000.jpg"}));
            } else {
                QCOMPARE(second, s.in + "second/p_001.jpg…Rename後Move");
                QCOMPARE(s.outNames(), (QStringList{"p.jpg", "p_000.jpg", "p_001.jpg"}));
            }
        }
    }

    void stopAlreadyRequested() {
        Scene s;
        s.vars.intCancel = 1;
        s.transfer().FileMove(s.source("a", "a"), s.out);
        QVERIFY(s.vars.strLog.isEmpty());
        QVERIFY(s.host.statuses.isEmpty());
        QCOMPARE(s.host.eventsProcessed, 1);
        QVERIFY(test::exists(s.in + "a"));
    }

    void missingDestination() {
        Scene s;
        s.transfer().FileMove2(s.source("a.txt", "a"), s.out + "missing/");
        QCOMPARE(s.logLines(), QStringList{s.in + "a.txt…Move"});
        QCOMPARE(s.host.warnings.size(), 1);
        QCOMPARE(s.host.warnings[0].title, "くるみ");
        QCOMPARE(s.host.warnings[0].text, "指定されたパスが見つからない。");
        QCOMPARE(s.vars.intCancel, 1);
        QVERIFY(test::exists(s.in + "a.txt"));
    }

    // A file leader: the destination names a file, not a folder.
    void destinationIsAFile() {
        Scene s;
        const QString leader = s.source("leader.txt", "l");
        s.transfer().FileMove(leader, leader + '/');
        QCOMPARE(s.host.warningTexts(), QStringList{"指定されたパスが見つからない。"});
        QCOMPARE(test::readFile(leader), QByteArray("l"));
    }

    void otherErrorsAndTheirOption() {
        for (const bool ignore : {false, true}) {
            Scene s;
            s.options.ignoreOtherErrors = ignore;
            // A destination behind a link to itself: an error outside the three classes (ELOOP).
            QVERIFY(QFile::link(s.out + "loop", s.out + "loop"));
            s.transfer().FileCopy(s.source("a", "x"), s.out + "loop/");
            QCOMPARE(s.host.warningTexts(), ignore ? QStringList{} : QStringList{"詳細不明なエラー(40)"});
            QCOMPARE(s.vars.intCancel, ignore ? 0 : 1);
        }
    }

    // Another program takes the name between the test and the copy: it is not overwritten.
    // (A move has no such gap: its no-replace rename is the test.)
    void nameTakenMeanwhile() {
        Scene s;
        s.host.onStatus = [&s](const QString& line) {
            if (line.endsWith("a.txt…Copy")) s.existing("a.txt", "raced");
        };
        s.transfer().FileCopy2(s.source("a.txt", "mine"), s.out);
        QCOMPARE(test::readFile(s.out + "a.txt"), QByteArray("raced"));
        QCOMPARE(test::readFile(s.out + "a_000.txt"), QByteArray("mine"));
        QCOMPARE(s.logLines().last(), s.in + "a_000.txt…Rename後Copy");
        // The line whose name was taken is never told as done.
        QCOMPARE(s.host.carried.size(), 1);
        QCOMPARE(s.host.carried[0].outcome, transfer::Outcome::CopiedNumbered);
        QCOMPARE(s.host.carried[0].destination, s.out + "a_000.txt");
    }

    // A name taken before the move is tried: it is compared, then numbered, never replaced.
    void moveMeetsAnOccupiedName() {
        Scene s;
        s.host.onProcessEvents = [&s] { s.existing("a.txt", "there first"); };
        s.transfer().FileMove2(s.source("a.txt", "mine"), s.out);
        QCOMPARE(test::readFile(s.out + "a.txt"), QByteArray("there first"));
        QCOMPARE(test::readFile(s.out + "a_000.txt"), QByteArray("mine"));
        QCOMPARE(s.logLines(), QStringList{s.in + "a_000.txt…Rename後Move"});
    }

    // The destination names the source folder by another spelling: the file is found as
    // itself and never deleted.
    void destinationIsTheSourceByALink() {
        Scene s;
        const QString link = s.dir.filePath("link");
        QVERIFY(QFile::link(s.in, link));
        s.transfer().FileMove(s.source("a.txt", "a"), link + '/');
        QCOMPARE(s.logLines(), QStringList{s.in + "a.txt…移動元と移動先が同じ"});
        QCOMPARE(test::readFile(s.in + "a.txt"), QByteArray("a"));
    }

    // A link and a plain file of one length are never the same file.
    void linkIsNotTheFileOfItsLength() {
        Scene s;
        const QString target = s.dir.filePath("t");
        test::writeFile(target, "t");
        QVERIFY(QFile::link(target, s.in + "x"));
        s.existing("x", QByteArray(target.toUtf8().size(), 'p'));
        s.transfer().FileMove2(s.in + "x", s.out);
        QCOMPARE(s.logLines(), QStringList{s.in + "x_000.…Rename後Move"});
        QCOMPARE(QFileInfo(s.out + "x_000").symLinkTarget(), target);
        QCOMPARE(test::readFile(s.out + "x"), QByteArray(target.toUtf8().size(), 'p'));
    }

    // A folder that holds the name: the file is numbered, and only one line is reported.
    void folderHoldsTheName() {
        for (const auto& family : {transfer::kMove2, transfer::kCopy2}) {
            Scene s;
            test::makeFolder(s.out + "a.txt");
            s.transfer().transferFile(family, s.source("a.txt", "a"), s.out);
            const QString suffix = family.operation == transfer::Operation::Move ? "…Rename後Move" : "…Rename後Copy";
            QCOMPARE(s.logLines(), QStringList{s.in + "a_000.txt" + suffix});
            QCOMPARE(test::readFile(s.out + "a_000.txt"), QByteArray("a"));
            QVERIFY(QFileInfo(s.out + "a.txt").isDir());
        }
    }

    // A fifo is never opened for reading: a move within one file system renames it, a copy
    // reports it as a file that cannot be read and leaves it; nothing waits for a writer.
    void fifoNeverBlocks() {
        Scene s;
        QCOMPARE(::mkfifo(QFile::encodeName(s.in + "pipe").constData(), 0644), 0);
        s.transfer().FileCopy2(s.in + "pipe", s.out);
        QCOMPARE(s.logLines(), QStringList{s.in + "pipe…Copy"});
        QCOMPARE(s.host.warningTexts(), QStringList{QString("詳細不明なエラー(%1)").arg(EINVAL)});
        QVERIFY(s.outNames().isEmpty());
        s.vars.intCancel = 0;
        s.transfer().FileMove2(s.in + "pipe", s.out);
        QVERIFY(QFileInfo(s.out + "pipe").exists());
        QVERIFY(!test::exists(s.in + "pipe"));
    }

    void fifoAcrossFileSystems() {
        KURUMU_REQUIRE_ROOT();
        Scene s;
        test::Tmpfs tmpfs(s.dir.filePath("other"), "1m");
        if (!tmpfs.mounted()) QSKIP("cannot mount a tmpfs here");
        QCOMPARE(::mkfifo(QFile::encodeName(s.in + "pipe").constData(), 0644), 0);
        s.transfer().FileMove2(s.in + "pipe", tmpfs.path() + '/');
        QCOMPARE(s.host.warnings.size(), 1);
        QVERIFY(test::exists(s.in + "pipe"));
        QVERIFY(QDir(tmpfs.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());
    }

    // An identical file on another file system: the source is deleted as a duplicate
    // without any copy being made, so even a full volume is no obstacle. (The source has a
    // file system of its own, which no overlay the tests may run on lies over.)
    void identicalAcrossFileSystems() {
        KURUMU_REQUIRE_ROOT();
        Scene s;
        test::Tmpfs tmpfs(s.dir.filePath("full"), "64k");
        test::Tmpfs from(s.dir.filePath("from"), "1m");
        if (!tmpfs.mounted() || !from.mounted()) QSKIP("cannot mount a tmpfs here");
        const QByteArray data(40 * 1024, 'i');
        test::writeFile(tmpfs.path() + "/same.bin", data);
        const QString source = from.path() + "/same.bin";
        test::writeFile(source, data);
        s.transfer().FileMove2(source, tmpfs.path() + '/');
        QCOMPARE(s.logLines(), QStringList{source + "…Delete"});
        QVERIFY(s.host.warnings.isEmpty());
        QVERIFY(!test::exists(source));
        QCOMPARE(test::readFile(tmpfs.path() + "/same.bin"), data);
    }

    // Duplicates where an overlay is on either side. A source goes as a duplicate only where
    // both are seen through the same overlay mount (the removal is then a whiteout or an
    // upper unlink); where the keeper's bytes may be the source's own (a lower file seen
    // directly against its view, plain, with its own inode numbers or with metadata-only
    // copies), or the two are seen through different mounts, both stay. L is the lower
    // layer seen directly, M the overlay, N a second overlay on the same lower layer.
    void duplicatesAcrossAnOverlay_data() {
        QTest::addColumn<QString>("extra");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("into");
        QTest::addColumn<bool>("deleted");
        QTest::newRow("lower seen directly, keeper its view") << QString() << "L/g/x"
                                                              << "M/g/" << false;
        QTest::newRow("the same with own inode numbers") << ",xino=on"
                                                         << "L/g/x"
                                                         << "M/g/" << false;
        QTest::newRow("the same with metadata-only copies") << ",metacopy=on"
                                                            << "L/g/x"
                                                            << "M/g/" << false;
        QTest::newRow("a view, keeper its lower seen directly") << QString() << "M/g/x"
                                                                << "L/g/" << false;
        QTest::newRow("both in the upper layer") << QString() << "M/u/x"
                                                 << "M/v/" << true;
        QTest::newRow("both lower files seen through the overlay") << QString() << "M/a/x"
                                                                   << "M/b/" << true;
        QTest::newRow("two names of one lower file, seen through the overlay") << QString() << "M/h/x"
                                                                               << "M/g/" << true;
        QTest::newRow("two overlays sharing one lower folder") << QString() << "M/g/x"
                                                               << "N/g/" << false;
    }

    void duplicatesAcrossAnOverlay() {
        QFETCH(QString, extra);
        QFETCH(QString, source);
        QFETCH(QString, into);
        QFETCH(bool, deleted);
        KURUMU_REQUIRE_ROOT();
        Scene s;
        test::Tmpfs lower(s.dir.filePath("lower"), "1m");
        test::Tmpfs upper(s.dir.filePath("upper"), "1m");
        if (!lower.mounted() || !upper.mounted()) QSKIP("cannot mount a tmpfs here");
        const QByteArray data(100000, 'o');
        for (const char* file : {"/g/x", "/a/x", "/b/x"}) test::makeFileWithFolders(lower.path() + file, data);
        test::makeFolder(lower.path() + "/h");
        QCOMPARE(::link(QFile::encodeName(lower.path() + "/g/x").constData(),
                        QFile::encodeName(lower.path() + "/h/x").constData()),
                 0);
        const auto overlayAt = [&](const QString& name) {
            for (const QString& folder : QStringList{"/up-" + name, "/work-" + name})
                test::makeFolder(upper.path() + folder);
            test::makeFolder(s.dir.filePath(name));
            return std::make_unique<test::Mount>(QStringList{"-t", "overlay", "overlay", "-o",
                                                             "lowerdir=" + lower.path() + ",upperdir=" + upper.path() +
                                                                 "/up-" + name + ",workdir=" + upper.path() + "/work-" +
                                                                 name + extra,
                                                             s.dir.filePath(name)});
        };
        const auto first = overlayAt("M");
        const auto second = overlayAt("N");
        if (!first->mounted() || !second->mounted()) QSKIP("cannot mount this overlay here");
        const auto path = [&](const QString& spelled) -> QString {
            return (spelled.startsWith('L') ? lower.path() : s.dir.filePath(spelled.left(1))) + spelled.mid(1);
        };
        for (const char* file : {"/u/x", "/v/x"}) test::makeFileWithFolders(s.dir.filePath("M") + file, data);
        if (extra.contains("metacopy")) QCOMPARE(::chmod(QFile::encodeName(path("M/g/x")).constData(), 0600), 0);
        const QString keeper = path(into) + "x";
        s.transfer().FileMove2(path(source), path(into));
        QCOMPARE(s.host.warningTexts(), deleted ? QStringList{} : QStringList{"ファイル書き込みエラー。"});
        QCOMPARE(test::exists(path(source)), !deleted);
        QCOMPARE(test::readFile(keeper), data);
        for (const char* file : {"/g/x", "/a/x", "/b/x"}) QCOMPARE(test::readFile(lower.path() + file), data);
    }

    // Owner, group and set-user-ID travel with a copy made by root, as with cp -a.
    void ownerAndSetUidKept() {
        KURUMU_REQUIRE_ROOT();
        Scene s;
        const QString file = s.source("tool", "#!/bin/sh\n");
        const QByteArray path = QFile::encodeName(file);
        QCOMPARE(::chown(path.constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(path.constData(), 04755), 0);
        s.transfer().FileCopy2(file, s.out);
        struct stat copy {};
        QCOMPARE(::stat(QFile::encodeName(s.out + "tool").constData(), &copy), 0);
        QCOMPARE(copy.st_uid, 65534u);
        QCOMPARE(copy.st_gid, 65534u);
        QCOMPARE(copy.st_mode & 07777, 04755u);
    }

    // Where the owner cannot be kept (injected: the change of owner is refused), the copy
    // never carries set-user-ID or set-group-ID for its new owner.
    void injectedOwnerRefusedDropsSetUid() {
        Scene s;
        const QString file = s.source("tool", "x");
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), 06755), 0);
        test::InjectedFaults faults;
        faults.fchown = [](int) -> std::optional<int> { return EPERM; };
        s.transfer().FileCopy2(file, s.out);
        struct stat copy {};
        QCOMPARE(::stat(QFile::encodeName(s.out + "tool").constData(), &copy), 0);
        QCOMPARE(copy.st_mode & 07777, 0755u);
    }

    // Extended attributes on a copy and a move across file systems; a file's own access
    // list on a copy into a folder that has none to give it.
    void extendedAttributesKept() {
        Scene s;
        const auto setAttribute = [](const QString& path, const char* name, const QByteArray& value) {
            return ::setxattr(QFile::encodeName(path).constData(), name, value.constData(), value.size(), 0) == 0;
        };
        const auto attribute = [](const QString& path, const char* name) {
            char value[64] = {};
            const ssize_t length = ::getxattr(QFile::encodeName(path).constData(), name, value, sizeof value);
            return length < 0 ? QByteArray("<none>") : QByteArray(value, length);
        };
        // user::rw-, user:65534:rw-, group::r--, mask::rw-, other::r--, as the kernel stores it.
        const auto entry = [](quint16 tag, quint16 permissions, quint32 id) {
            QByteArray bytes;
            for (const quint32 part : {quint32{tag} | quint32{permissions} << 16, id})
                bytes.append(reinterpret_cast<const char*>(&part), 4);
            return bytes;
        };
        const QByteArray accessList = QByteArray("\x02\0\0\0", 4) + entry(0x01, 6, ~0u) + entry(0x02, 6, 65534) +
                                      entry(0x04, 4, ~0u) + entry(0x10, 6, ~0u) + entry(0x20, 4, ~0u);
        const QString file = s.source("a", "a");
        if (!setAttribute(file, "user.x", "value")) QSKIP("this file system holds no user attributes");
        const bool listed = setAttribute(file, "system.posix_acl_access", accessList);
        s.transfer().FileCopy2(file, s.out);
        QCOMPARE(attribute(s.out + "a", "user.x"), QByteArray("value"));
        if (listed) {
            QCOMPARE(attribute(s.out + "a", "system.posix_acl_access").toHex(), accessList.toHex());
            QCOMPARE(QFileInfo(s.out + "a").permissions(), QFileInfo(file).permissions());
        }
        if (!test::isRoot()) return;
        test::Tmpfs tmpfs(s.dir.filePath("other"), "1m");
        if (!tmpfs.mounted()) return;
        s.transfer().FileMove2(file, tmpfs.path() + '/');
        QVERIFY(!test::exists(file));
        QCOMPARE(attribute(tmpfs.path() + "/a", "user.x"), QByteArray("value"));
    }

    void counterBeyondSixteenBits() {
        transfer::NameCounter counter;
        for (qint64 i = 0; i < 40000; ++i) QCOMPARE(counter.GetRenban("n"), i);
        QCOMPARE(counter.GetRenban("N"), 0);
        counter.reset();
        QCOMPARE(counter.GetRenban("n"), 0);
    }

    void fullVolume() {
        KURUMU_REQUIRE_ROOT();
        Scene s;
        test::Tmpfs tmpfs(s.dir.filePath("full"), "256k");
        if (!tmpfs.mounted()) QSKIP("cannot mount a tmpfs here");
        const QByteArray data(700 * 1024, 'd');
        for (const auto& family : {transfer::kMove2, transfer::kCopy2}) {
            s.vars = {};
            s.host.warnings.clear();
            const QString file = s.source("big.bin", data);
            s.transfer().transferFile(family, file, tmpfs.path() + '/');
            QCOMPARE(s.host.warningTexts(), QStringList{"書き込み先の容量不足。"});
            QCOMPARE(s.vars.intCancel, 1);
            QVERIFY(QDir(tmpfs.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());
            QCOMPARE(test::readFile(file), data);
        }
    }

    void permissionDenied() {
        KURUMU_REQUIRE_ROOT();
        Scene s;
        test::ReadOnlyView view(s.out, s.dir.filePath("ro"));
        if (!view.mounted()) QSKIP("cannot make a read-only bind mount here");
        s.transfer().FileCopy2(s.source("a.txt", "a"), s.dir.filePath("ro") + '/');
        QCOMPARE(s.logLines(), QStringList{s.in + "a.txt…Copy"});
        QCOMPARE(s.host.warningTexts(), QStringList{"ファイル書き込みエラー。"});
        // Named with the folder it was going to: the source is not the one read-only.
        QVERIFY2(s.host.warnings.first().detail.endsWith("(書き込み先: " + s.dir.filePath("ro") + "/)"),
                 qPrintable(s.host.warnings.first().detail));
        QCOMPARE(s.vars.intCancel, 1);
    }

    void moveAcrossFileSystems() {
        KURUMU_REQUIRE_ROOT();
        Scene s;
        test::Tmpfs tmpfs(s.dir.filePath("other"), "8m");
        if (!tmpfs.mounted()) QSKIP("cannot mount a tmpfs here");
        const QByteArray data(3 * 1024 * 1024 + 5, 'm');
        s.transfer().FileMove2(s.source("m.bin", data), tmpfs.path() + '/');
        QVERIFY(s.host.warnings.isEmpty());
        QVERIFY(!test::exists(s.in + "m.bin"));
        QCOMPARE(test::readFile(tmpfs.path() + "/m.bin"), data);
        s.transfer().FileMove2(tmpfs.path() + "/m.bin", s.in);
        QCOMPARE(test::readFile(s.in + "m.bin"), data);
        QVERIFY(!test::exists(tmpfs.path() + "/m.bin"));
    }
};

QTEST_GUILESS_MAIN(TestFileTransfer)
#include "tst_file_transfer.moc"
