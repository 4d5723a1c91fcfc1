// The dry run against the real run on the same trees: the same lines, the same messages,
// the same outcome, and not one byte changed by the dry run.
#include "platform/FileServices.h"
#include "support/RecordingHost.h"
#include "support/TestFiles.h"
#include "transfer/DryRun.h"
#include "transfer/Execute.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace kurumu;

namespace {

struct Outcome {
    bool finished = false;
    QString log;
    QStringList warnings;
};

Outcome execute(platform::FileServices& files, const transfer::RunOptions& options,
                const std::vector<transfer::Group>& groups, const QStringList& foldersFirst = {}) {
    transfer::RunVariables variables;
    test::RecordingHost host;
    Outcome outcome;
    for (const QString& folder : foldersFirst) {
        const platform::Status made = files.createFolder(folder, {});
        outcome.log += QString("mkdir %1 %2\n").arg(folder).arg(made.error);
    }
    outcome.finished = transfer::Execute(variables, host, files, options, groups);
    for (const transfer::RunEnd& end : host.ends) outcome.log += end.resultText + '\n';
    outcome.warnings = host.warningTexts();
    return outcome;
}

// Runs the groups dry, checks that nothing changed, then for real, and compares.
void compareDryAndReal(const QString& root, const transfer::RunOptions& options,
                       const std::vector<transfer::Group>& groups, const QStringList& foldersFirst = {}) {
    const auto before = test::snapshot(root, test::Snapshot::Everything);
    const auto disk = platform::diskServices();
    transfer::DryRunServices dry(*disk);
    const Outcome preview = execute(dry, options, groups, foldersFirst);
    QCOMPARE(test::snapshot(root, test::Snapshot::Everything), before);
    const Outcome real = execute(*platform::diskServices(), options, groups, foldersFirst);
    QCOMPARE(preview.log, real.log);
    QCOMPARE(preview.warnings, real.warnings);
    QCOMPARE(preview.finished, real.finished);
}

}  // namespace

class TestDryRun : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Collisions of names: other bytes numbered, equal bytes recognised, numbers taken by
    // earlier files of the same run, in every family.
    void collisions_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<bool>("checkAll");
        QTest::newRow("move, numbers before the extension") << 0 << false;
        QTest::newRow("copy, numbers after the name") << 1 << false;
        QTest::newRow("move, every number checked") << 2 << true;
        QTest::newRow("copy, every number checked") << 3 << true;
    }

    void collisions() {
        QFETCH(int, family);
        QFETCH(bool, checkAll);
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        const std::array families{transfer::kMove2, transfer::kCopy, transfer::kMove, transfer::kCopy2};
        transfer::RunOptions options;
        options.family = families[static_cast<std::size_t>(family)];
        options.checkAllNumbers = checkAll;
        test::makeFileWithFolders(root + "G/p.jpg", "old");
        test::makeFileWithFolders(root + "G/p_000.jpg", "same");
        for (const char* folder : {"a", "b", "c", "d"}) {
            test::makeFileWithFolders(root + folder + "/p.jpg", folder == QString("c") ? "old" : "same");
            test::makeFileWithFolders(root + folder + "/q.txt", folder);
        }
        compareDryAndReal(root, options, {{root + "G", {root + "a", root + "b", root + "c", root + "d"}}});
    }

    // Trees with the structure kept, a destination inside the source, folders emptied and
    // removed, a folder that cannot be emptied, a fifo copied, and folders made first.
    void trees_data() {
        QTest::addColumn<bool>("keep");
        QTest::addColumn<bool>("move");
        QTest::newRow("flatten, move") << false << true;
        QTest::newRow("flatten, copy") << false << false;
        QTest::newRow("keep, move") << true << true;
        QTest::newRow("keep, copy") << true << false;
    }

    void trees() {
        QFETCH(bool, keep);
        QFETCH(bool, move);
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        transfer::RunOptions options;
        options.keepStructure = keep;
        options.family = move ? transfer::kMove2 : transfer::kCopy2;
        for (const char* path : {"A/x", "A/B/y", "A/B/C/z", "A/B/C/D/w", "A/E/x", "A/E/F/x", "S/x", "S/T/x"})
            test::makeFileWithFolders(root + path, path);
        QFile::link(root + "A/B", root + "A/link");
        QCOMPARE(::mkfifo(QFile::encodeName(root + "S/T/pipe").constData(), 0644), 0);
        test::makeFileWithFolders(root + "leftover/keep", "k");
        compareDryAndReal(root, options,
                          {{root + "A/B/C/D", {root + "A"}}, {root + "made", {root + "S", root + "leftover/keep"}}},
                          {root + "made", root + "made"});
    }

    // Random trees with name collisions, identical files, both structure modes, both
    // numbering places, move and copy: the dry run says what the run then does.
    // One file named twice (through a link to its folder), and group leaders that are a
    // dangling link, a link to a file or a fifo: the dry run meets them as the run does.
    void namesThatAreNotWhatTheySeem() {
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        test::makeFolder(root + "g");
        test::writeFile(root + "g1", "a");
        test::writeFile(root + "g2", "b");
        QVERIFY(QFile::link(".", root + "lnk"));
        compareDryAndReal(root, {}, {{root + "g", {root + "g1", root + "lnk/g1", root + "g2"}}});
        for (const char* target : {"nowhere", "g2"}) {
            QVERIFY(QFile::link(target, root + "h"));
            test::writeFile(root + "h1", "c");
            compareDryAndReal(root, {}, {{root + "h", {root + "h1"}}});
            QVERIFY(QFile::remove(root + "h"));
        }
        // A fifo as a leader, in every family, other errors ignored or not.
        QCOMPARE(::mkfifo(QFile::encodeName(root + "f").constData(), 0644), 0);
        test::writeFile(root + "f1", "d");
        for (const transfer::Family& family : {transfer::kMove2, transfer::kCopy, transfer::kMove, transfer::kCopy2}) {
            for (const bool ignore : {false, true}) {
                transfer::RunOptions options;
                options.family = family;
                options.ignoreOtherErrors = ignore;
                compareDryAndReal(root, options, {{root + "f", {root + "f1"}}});
            }
        }
    }

    // A file that is a bind mount cannot be moved away, nor set aside as a duplicate; the
    // dry run says so as the run does.
    void fileThatIsAMountPoint() {
        KURUMU_REQUIRE_ROOT();
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        test::makeFolder(root + "g");
        test::writeFile(root + "elsewhere", "mounted");
        test::makeFileWithFolders(root + "gf/ga", "a");
        test::writeFile(root + "gf/gb", "");
        const test::Mount bound({"--bind", root + "elsewhere", root + "gf/gb"});
        QVERIFY(bound.mounted());
        compareDryAndReal(root, {}, {{root + "g", {root + "gf"}}});
    }

    void randomTrees() {
        QRandomGenerator random(1207);
        const QStringList names{"a.txt", "b", "a_000.txt", "c.dat", "d", ".h"};
        const QList<QByteArray> contents{"", "one", "two", "same", "ones"};
        for (int round = 0; round < 60; ++round) {
            QTemporaryDir dir;
            const QString root = dir.path() + '/';
            transfer::RunOptions options;
            const std::array families{transfer::kMove2, transfer::kCopy, transfer::kMove, transfer::kCopy2};
            options.family = families[random.bounded(4)];
            options.keepStructure = random.bounded(2) == 1;
            options.checkAllNumbers = random.bounded(3) == 0;
            const QStringList folders{"src/", "src/s/", "src/s/t/", "src/u/", "two/", "two/s/", "dst/", "dst/s/"};
            for (int i = 0; i < 25; ++i) {
                const QString at = folders[random.bounded(folders.size())] + names[random.bounded(names.size())];
                if (!QFileInfo::exists(root + at)) test::makeFileWithFolders(root + at, contents[random.bounded(5)]);
            }
            test::makeFolder(root + "dst");
            std::vector<transfer::Group> groups{{root + "dst", {root + "src", root + "two"}}};
            if (random.bounded(3) == 0) groups.front().members.append(root + "src/s");  // inside another member
            compareDryAndReal(root, options, groups);
            if (QTest::currentTestFailed()) qWarning("round %d", round);
        }
    }
};

QTEST_GUILESS_MAIN(TestDryRun)
#include "tst_dry_run.moc"
