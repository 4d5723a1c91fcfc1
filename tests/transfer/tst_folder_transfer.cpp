#include "support/RecordingHost.h"
#include "support/TestFiles.h"
#include "transfer/RunDriver.h"
#include "transfer/Transfer.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace kurumu;

namespace {

struct Scene {
    QTemporaryDir dir;
    QString root = dir.path() + '/';
    test::RecordingHost host;
    transfer::RunVariables vars;
    transfer::RunOptions options;
    std::unique_ptr<platform::FileServices> files = platform::diskServices();

    transfer::Transfer transfer() { return {vars, host, *files, options}; }

    QString make(const QString& relative, const QByteArray& data = "data") {
        return test::makeFileWithFolders(root + relative, data);
    }
    QString folder(const QString& relative) {
        test::makeFolder(root + relative);
        return root + relative;
    }
    QStringList logLines() const { return vars.strLog.split("\r\n", Qt::SkipEmptyParts); }
};

}  // namespace

class TestFolderTransfer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void flatten() {
        Scene s;
        s.make("A/x.txt", "x");
        s.make("A/B/y.txt", "y");
        s.folder("G");
        s.transfer().FolderMove2(s.root + "A", s.root + "G/");
        QCOMPARE(test::snapshot(s.root + "G"), (QMap<QString, QByteArray>{{"x.txt", "x"}, {"y.txt", "y"}}));
        QVERIFY(!test::exists(s.root + "A"));
        QCOMPARE(s.logLines(), (QStringList{s.root + "A/x.txt…Move", s.root + "A/B/y.txt…Move"}));
    }

    void keepStructure() {
        Scene s;
        s.options.keepStructure = true;
        s.make("A/x.txt", "x");
        s.make("A/B/y.txt", "y");
        s.folder("G");
        s.transfer().FolderMove(s.root + "A", s.root + "G/");
        QCOMPARE(test::snapshot(s.root + "G"), (QMap<QString, QByteArray>{{"A/x.txt", "x"}, {"A/B/y.txt", "y"}}));
        QVERIFY(!test::exists(s.root + "A"));
    }

    // A folder rebuilt below the destination keeps its owner's privacy: the permission bits
    // (the owner's always on), and the owner where the process may set it.
    void rebuiltFoldersKeepPermissions() {
        Scene s;
        s.options.keepStructure = true;
        s.make("A/private/x", "x");
        QCOMPARE(::chmod(QFile::encodeName(s.root + "A/private").constData(), 0750), 0);
        QCOMPARE(::chmod(QFile::encodeName(s.root + "A").constData(), 0500), 0);
        if (test::isRoot()) QCOMPARE(::chown(QFile::encodeName(s.root + "A/private").constData(), 65534, 65534), 0);
        s.folder("G");
        s.transfer().FolderCopy2(s.root + "A", s.root + "G/");
        struct stat made {};
        QCOMPARE(::stat(QFile::encodeName(s.root + "G/A/private").constData(), &made), 0);
        QCOMPARE(made.st_mode & 07777, 0750u);
        if (test::isRoot()) QCOMPARE(made.st_uid, 65534u);
        QCOMPARE(::stat(QFile::encodeName(s.root + "G/A").constData(), &made), 0);
        QCOMPARE(made.st_mode & 07777, 0700u);  // the owner may still write into it
        QCOMPARE(test::readFile(s.root + "G/A/private/x"), QByteArray("x"));
        QCOMPARE(::chmod(QFile::encodeName(s.root + "A").constData(), 0700), 0);
    }

    void copyLeavesTheSource() {
        for (const bool keep : {false, true}) {
            Scene s;
            s.options.keepStructure = keep;
            s.make("A/x.txt", "x");
            s.make("A/B/y.txt", "y");
            s.folder("G");
            const auto before = test::snapshot(s.root + "A");
            s.transfer().FolderCopy2(s.root + "A", s.root + "G/");
            QCOMPARE(test::snapshot(s.root + "A"), before);
            QCOMPARE(test::snapshot(s.root + "G").size(), 2);
        }
    }

    void leaderIsItsOwnDestination() {
        for (const auto& family : {transfer::kMove, transfer::kMove2, transfer::kCopy, transfer::kCopy2}) {
            Scene s;
            s.make("G/x");
            s.transfer().transferFolder(family, s.root + "G", s.root + "G/");
            const QString suffix =
                family.operation == transfer::Operation::Move ? "…移動元と移動先が同じ" : "…コピー元とコピー先が同じ";
            QCOMPARE(s.logLines(), QStringList{s.root + "G" + suffix});
            QCOMPARE(s.host.statuses, QStringList{s.root + "G" + suffix});
            QVERIFY(test::exists(s.root + "G/x"));
        }
    }

    void destinationInsideTheSource() {
        Scene s;
        s.make("A/x", "x");
        s.folder("A/B");
        s.transfer().FolderMove2(s.root + "A", s.root + "A/B/");
        QCOMPARE(test::snapshot(s.root + "A"), (QMap<QString, QByteArray>{{"B/x", "x"}}));
        QCOMPARE(s.logLines(), (QStringList{s.root + "A/x…Move", s.root + "A/B…移動元と移動先が同じ"}));
    }

    // Keeping the structure inside the source must not walk into the folders it creates.
    void destinationInsideTheSourceKeepingStructure() {
        for (const auto& family : {transfer::kMove2, transfer::kCopy2}) {
            Scene s;
            s.options.keepStructure = true;
            s.make("A/x", "x");
            s.make("A/B/y", "y");
            s.transfer().transferFolder(family, s.root + "A", s.root + "A/B/");
            QVERIFY(test::exists(s.root + "A/B/A/x"));
            QVERIFY(!test::exists(s.root + "A/B/A/B"));
            QCOMPARE(test::readFile(s.root + "A/B/y"), QByteArray("y"));
            QVERIFY(s.host.warnings.isEmpty());
        }
    }

    // An entry that stays behind keeps its folder and every folder above it.
    void leftoversKeepTheirFolders() {
        Scene s;
        s.make("A/B/ok", "ok");
        const QByteArray bad = QFile::encodeName(s.root) + "A/B/bad\xff";
        QFile badFile(QFile::decodeName(bad));
        test::writeFile(s.root + "placeholder", "");
        QVERIFY(::rename(QFile::encodeName(s.root + "placeholder").constData(), bad.constData()) == 0);
        s.folder("G");
        s.transfer().FolderMove2(s.root + "A", s.root + "G/");
        QVERIFY(test::exists(s.root + "G/ok"));
        QVERIFY(test::exists(s.root + "A/B"));
        QStringList lines = s.logLines();
        QCOMPARE(lines.takeLast(), s.root + "A…削除しない(フォルダが空ではない)");
        QCOMPARE(lines.takeLast(), s.root + "A/B…削除しない(フォルダが空ではない)");
        QVERIFY(lines.first().endsWith("…名前を扱えないため残す"));
    }

    // An empty folder that could not be moved is still an entry: nothing is removed by force.
    void emptyFolderLeftKeepsItsParent() {
        Scene s;
        s.options.keepStructure = true;
        s.options.ignoreOtherErrors = true;
        s.make("A/x", "x");
        s.folder("A/B");
        s.make("G/A/B", "a file where the folder B should go");
        s.transfer().FolderMove2(s.root + "A", s.root + "G/");
        QVERIFY(test::exists(s.root + "A/B"));
        QCOMPARE(test::readFile(s.root + "G/A/x"), QByteArray("x"));
        QCOMPARE(s.logLines().last(), s.root + "A…削除しない(フォルダが空ではない)");
    }

    void stopDuringAFolder() {
        Scene s;
        for (int i = 0; i < 5; ++i) s.make(QString("A/f%1").arg(i));
        s.make("A/sub/g");
        s.folder("G");
        s.host.onProcessEvents = [&s] {
            if (s.host.eventsProcessed == 3) s.vars.intCancel = 1;  // the folder, then file 1, then file 2
        };
        s.transfer().FolderMove2(s.root + "A", s.root + "G/");
        QCOMPARE(test::snapshot(s.root + "G").size(), 1);
        QCOMPARE(test::snapshot(s.root + "A").size(), 5);
        QVERIFY(test::exists(s.root + "A/sub/g"));
    }

    void vanishedSource() {
        for (const bool ignore : {false, true}) {
            Scene s;
            s.options.ignoreOtherErrors = ignore;
            s.folder("G");
            s.transfer().FolderMove2(s.root + "gone", s.root + "G/");
            QCOMPARE(s.host.warningTexts(), ignore ? QStringList{} : QStringList{"詳細不明なエラー(76)"});
            if (!ignore) QCOMPARE(s.host.warnings[0].title, "kurumu");
            QCOMPARE(s.vars.intCancel, ignore ? 0 : 1);
        }
    }

    void linkToAFolderIsALink() {
        Scene s;
        s.make("outside/keep", "k");
        s.make("A/x");
        QVERIFY(QFile::link(s.root + "outside", s.root + "A/link"));
        s.folder("G");
        s.transfer().FolderMove2(s.root + "A", s.root + "G/");
        QCOMPARE(QFileInfo(s.root + "G/link").symLinkTarget(), s.root + "outside");
        QCOMPARE(test::readFile(s.root + "outside/keep"), QByteArray("k"));
        QVERIFY(!test::exists(s.root + "A"));
    }

    // Random trees with colliding names, moved with checksums on: every file's contents
    // end up at the destination or stay at the source, and nothing else changes.
    void randomTreesLoseNothing() {
        QRandomGenerator random(20261207);
        for (int round = 0; round < 40; ++round) {
            Scene s;
            s.options.keepStructure = round % 2 == 1;
            s.options.checkAllNumbers = round % 4 >= 2;
            const QStringList names{"a.txt", "b", "a_000.txt", "c.dat"};
            const QStringList folders{"", "s/", "s/t/", "u/"};
            const QList<QByteArray> contents{"", "one", "two", "same", "ones"};
            for (int i = 0; i < 12; ++i) {
                const QString at = folders[random.bounded(folders.size())] + names[random.bounded(names.size())];
                if (!test::exists(s.root + "src/" + at)) s.make("src/" + at, contents[random.bounded(contents.size())]);
            }
            for (int i = 0; i < 4; ++i) {
                const QString at = names[random.bounded(names.size())];
                if (!test::exists(s.root + "dst/" + at)) s.make("dst/" + at, contents[random.bounded(contents.size())]);
            }
            s.make("outside/sentinel", "untouched");
            const auto source = test::snapshot(s.root + "src");
            const auto destination = test::snapshot(s.root + "dst");
            s.transfer().FolderMove2(s.root + "src", s.root + "dst/");

            QVERIFY(s.host.warnings.isEmpty());
            const auto afterSource = test::snapshot(s.root + "src");
            const auto afterDestination = test::snapshot(s.root + "dst");
            for (auto it = destination.begin(); it != destination.end(); ++it)
                QCOMPARE(afterDestination.value(it.key()), it.value());
            const QList<QByteArray> arrived = afterDestination.values();
            for (auto it = source.begin(); it != source.end(); ++it) {
                const bool stayed = afterSource.value(it.key(), "<gone>") == it.value();
                QVERIFY2(stayed || arrived.contains(it.value()), qPrintable(it.key()));
            }
            QVERIFY(afterSource.isEmpty());  // every file moved or was a duplicate
            QCOMPARE(test::snapshot(s.root + "outside"), (QMap<QString, QByteArray>{{"sentinel", "untouched"}}));
        }
    }

    void runDriver() {
        Scene s;
        const QString leader = s.folder("G");
        const QStringList items{leader, s.make("a"), s.make("b"), s.make("c")};
        QCOMPARE(transfer::MatomeJikkou(s.vars, s.host, *s.files, s.options, {items, leader + '/'}), items.size());
        QCOMPARE(s.host.itemCount, 4);
        QCOMPARE(s.host.progress, (QList<qint32>{1, 2, 3, 4}));
        QCOMPARE(s.host.ends.size(), 1);
        const transfer::RunEnd& end = s.host.ends[0];
        QVERIFY(!end.stopped);
        QCOMPARE(end.resultText, "処理開始\r\n" + leader + "…移動元と移動先が同じ\r\n" + s.root + "a…Move\r\n" +
                                     s.root + "b…Move\r\n" + s.root + "c…Move\r\n処理終了");
        QCOMPARE(test::snapshot(leader).size(), 3);
        QCOMPARE(s.host.statuses.first(), "処理開始");
    }

    void runDriverStops() {
        Scene s;
        const QString leader = s.folder("G");
        QStringList items{leader};
        for (int i = 0; i < 4; ++i) items.append(s.make(QString("f%1").arg(i)));
        // Stop is pressed while item 2 is being handled, as the window's button would.
        s.host.onProcessEvents = [&s] {
            if (s.host.progress.size() == 2 && s.vars.intCancel == 0) {
                s.vars.intCancel = 1;
                s.vars.strLog += "\r\n";
            }
        };
        QCOMPARE(transfer::MatomeJikkou(s.vars, s.host, *s.files, s.options, {items, leader + '/'}), 1);
        QCOMPARE(s.vars.intCancel, 0);
        QCOMPARE(s.host.ends.size(), 1);
        QVERIFY(s.host.ends[0].stopped);
        QVERIFY(s.host.ends[0].resultText.endsWith("\r\n処理中止"));
        QCOMPARE(test::snapshot(leader).size(), 0);
        for (int i = 0; i < 4; ++i) QVERIFY(test::exists(s.root + QString("f%1").arg(i)));

        // A stop requested before the run: nothing but "処理中止".
        transfer::RunVariables cancelled;
        cancelled.intCancel = 1;
        test::RecordingHost host;
        QCOMPARE(transfer::MatomeJikkou(cancelled, host, *platform::diskServices(), {}, {items, leader + '/'}), 0);
        QCOMPARE(host.ends[0].resultText, "処理中止");
    }
};

QTEST_GUILESS_MAIN(TestFolderTransfer)
#include "tst_folder_transfer.moc"
