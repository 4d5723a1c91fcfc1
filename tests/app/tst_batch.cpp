#include "support/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>

using namespace kurumu;

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the program in a working directory with the arguments.
Outcome runKurumu(const QString& directory, const QStringList& arguments) {
    QProcess process;
    process.setWorkingDirectory(directory);
    process.start(qEnvironmentVariable("KURUMU_BINARY"), arguments);
    process.waitForFinished(60000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// Every entry below a folder with its contents (folders as "<folder>").
QMap<QString, QByteArray> tree(const QString& folder) {
    QMap<QString, QByteArray> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        entries.insert(path, QFileInfo(path).isDir() ? QByteArray("<folder>") : test::readFile(path));
    }
    return entries;
}

}  // namespace

class TestBatch : public QObject {
    Q_OBJECT

    QTemporaryDir m_state;  // the journals of every run of these tests

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path())); }

    void judgePrintsTheList() {
        QTemporaryDir dir;
        const QString in = dir.filePath("in") + '/';
        test::makeFolder(in);
        for (const char* name : {"Chapter 2 of 3.txt", "Chapter 1 of 3.txt", "other.txt"})
            test::writeFile(in + QString::fromUtf8(name), "x");
        const Outcome judged = runKurumu(dir.path(), {"--judge", "--rule", "last-of", in + "other.txt",
                                                      in + "Chapter 2 of 3.txt", in + "Chapter 1 of 3.txt"});
        QCOMPARE(judged.exitCode, 0);
        QCOMPARE(judged.out, "Chapter 1 of 3.txt/" + in + "\n└Chapter 2 of 3.txt/" + in + "\nother.txt/" + in + "\n");
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());  // no settings file written

        const Outcome counted = runKurumu(
            dir.path(), {"--judge", "--rule", "count", "--count", "1", in + "other.txt", in + "Chapter 1 of 3.txt"});
        QCOMPARE(counted.out, "Chapter 1 of 3.txt/" + in + "\nother.txt/" + in + "\n");
    }

    void judgeReadsTheSettingsFile() {
        QTemporaryDir dir;
        test::writeFile(dir.filePath("a (1)"), "");
        test::writeFile(dir.filePath("a (2)"), "");
        // No file: the start-up state, whose rule is the first bracket.
        QCOMPARE(runKurumu(dir.path(), {"--judge", "a (1)", "a (2)"}).out.count(u'└'), 1);
        QByteArray numbering;
        for (int line = 0; line < 12; ++line) numbering += "x=OFF\r\n";
        numbering += "x=ON\r\n";
        test::writeFile(dir.filePath("kurumu.ini"), numbering);
        QCOMPARE(runKurumu(dir.path(), {"--judge", "a (1)", "a (2)"}).out.count(u'└'), 1);
        QCOMPARE(test::readFile(dir.filePath("kurumu.ini")), numbering);
    }

    void badArguments() {
        QTemporaryDir dir;
        for (const QStringList& arguments :
             {QStringList{"--judge", "/no/such/path"}, QStringList{"--judge", "--rule", "bogus", "/"},
              QStringList{"--judge"}, QStringList{"--judge", "--count", "x", "/"}, QStringList{"--run", "--judge", "/"},
              QStringList{"--run", "--unknown", "/"}}) {
            const Outcome outcome = runKurumu(dir.path(), arguments);
            QVERIFY2(outcome.exitCode == 2, qPrintable(arguments.join(' ')));
            QVERIFY(!outcome.err.isEmpty());
        }
        const Outcome helpAll = runKurumu(dir.path(), {"--help-all"});
        QVERIFY2(helpAll.exitCode == 0 && helpAll.out.startsWith("Usage: "), qPrintable(helpAll.err));
        const Outcome help = runKurumu(dir.path(), {"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.startsWith("Usage: " + qEnvironmentVariable("KURUMU_BINARY") + ' '), qPrintable(help.out));
        for (const char* option : {"--judge", "--run", "--rule", "--count", "--copy", "--move", "--keep-structure",
                                   "--crc32", "--number-after-ext", "--check-all-numbers", "--ignore-other-errors",
                                   "--folder-name-by-count", "--create-folders"})
            QVERIFY2(help.out.contains(QString::fromLatin1(option)), option);
    }

    void runGathers() {
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        test::writeFile(root + "trip (1).mp4", "1");
        test::writeFile(root + "trip (2).mp4", "22");
        test::writeFile(root + "solo.txt", "s");
        const Outcome outcome =
            runKurumu(dir.path(), {"--run", "--create-folders", "--copy", "trip (1).mp4", "trip (2).mp4", "solo.txt"});
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(test::readFile(root + "trip (1)/trip (1).mp4"), QByteArray("1"));
        QCOMPARE(test::readFile(root + "trip (1)/trip (2).mp4"), QByteArray("22"));
        QCOMPARE(test::readFile(root + "solo/solo.txt"), QByteArray("s"));
        QVERIFY(test::exists(root + "trip (1).mp4"));  // copied, not moved
        QVERIFY(outcome.out.startsWith("処理開始\n"));
        QVERIFY(outcome.out.contains(root + "trip (2).mp4…Copy\n"));
        QVERIFY(outcome.out.endsWith("処理終了\n"));
    }

    void runToAFullVolume() {
        KURUMU_REQUIRE_ROOT();
        QTemporaryDir dir;
        test::Tmpfs tmpfs(dir.filePath("full"), "256k");
        if (!tmpfs.mounted()) QSKIP("cannot mount a tmpfs here");
        const QString group = tmpfs.path() + "/big";
        test::makeFolder(group);
        const QByteArray data(500 * 1024, 'b');
        test::writeFile(dir.filePath("bigfile.bin"), data);
        const Outcome outcome =
            runKurumu(dir.path(), {"--run", "--rule", "count", "--count", "3", group, dir.filePath("bigfile.bin")});
        QCOMPARE(outcome.exitCode, 1);
        QVERIFY(outcome.err.contains("書き込み先の容量不足。"));
        QVERIFY(outcome.out.endsWith("処理中止\n"));
        QCOMPARE(test::readFile(dir.filePath("bigfile.bin")), data);
        QVERIFY(QDir(group).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());
    }

    // Leaders whose gathering folder would be named "", "." or "..": the group is left as
    // it was and the user told; nothing of the home folder around them is touched.
    void createFoldersNeverLeavesTheLeadersFolder() {
        QTemporaryDir dir;
        const QString home = dir.filePath("home") + '/';
        test::makeFileWithFolders(home + ".config/app/settings", "s");
        test::makeFileWithFolders(home + ".config2/x", "x");
        test::makeFileWithFolders(home + "projA/README", "readme");
        test::makeFileWithFolders(home + "projB/README", "readme");
        test::makeFileWithFolders(home + "projB/src/main.c", "int main;");
        test::makeFileWithFolders(home + "...a/f", "f");
        test::makeFileWithFolders(home + "...b/g", "g");
        test::writeFile(home + "abc.txt", "abc");
        test::writeFile(home + "abd.txt", "abd");
        const auto before = tree(home);
        const QList<QStringList> runs{
            {"--run", "--create-folders", home + ".config"},
            {"--run", "--create-folders", home + ".config", home + ".config2"},
            {"--run", "--create-folders", "--rule", "count", "--count", "4", home + "...a", home + "...b"},
            {"--run", "--create-folders", "--rule", "count", "--count", "0", "--folder-name-by-count",
             home + "abc.txt"},
        };
        for (const QStringList& arguments : runs) {
            const Outcome outcome = runKurumu(dir.path(), arguments);
            QVERIFY2(outcome.err.contains("まとめるフォルダを作りませんでした"), qPrintable(arguments.join(' ')));
            QCOMPARE(tree(home), before);
        }
    }

    // A name that begins with "└" is moved as itself; its namesake without it stays.
    void nameBeginningWithTheMark() {
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        test::makeFolder(root + "notes");
        test::writeFile(root + "└notes.txt", "marked");
        test::writeFile(root + "notes.txt", "plain");
        const Outcome outcome =
            runKurumu(dir.path(), {"--run", "--rule", "count", "--count", "0", "notes", "└notes.txt"});
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(test::readFile(root + "notes/└notes.txt"), QByteArray("marked"));
        QCOMPARE(test::readFile(root + "notes.txt"), QByteArray("plain"));
    }

    // A path whose bytes are not UTF-8 is refused before anything happens: it would
    // otherwise be decoded into its namesake with U+FFFD.
    void pathThatIsNotUtf8() {
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        test::makeFolder(root + "G");
        test::writeFile(root + "G\uFFFD.txt", "namesake");
        QVERIFY(QFile::rename(root + "G\uFFFD.txt", root + "keep"));
        test::writeFile(root + "G\uFFFD.txt", "namesake");
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        shell.start("bash", {"-c",
                             "printf raw > \"$(printf 'G\\377.txt')\"; \"$0\" --run --rule count --count 1 G "
                             "\"$(printf 'G\\377.txt')\"",
                             qEnvironmentVariable("KURUMU_BINARY")});
        QVERIFY(shell.waitForFinished(20000));
        QCOMPARE(shell.exitCode(), 2);
        QVERIFY(QString::fromUtf8(shell.readAllStandardError()).contains("UTF-8"));
        QCOMPARE(test::readFile(root + "G\uFFFD.txt"), QByteArray("namesake"));
        QVERIFY(QDir(root + "G").isEmpty());
    }

    // A closed pipe ends the output, not the run: every file is still moved, and the
    // exit status tells how the run ended.
    void closedPipeEndsTheOutputOnly() {
        QTemporaryDir dir;
        test::makeFolder(dir.filePath("g"));
        for (int i = 0; i < 5000; ++i) test::writeFile(dir.filePath(QString("g%1").arg(i, 4, 10, QChar('0'))), "x");
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        shell.start("bash", {"-c",
                             "\"$0\" --run --rule count --count 1 g g0* g1* g2* g3* g4* | head -n 2 >/dev/null; "
                             "exit ${PIPESTATUS[0]}",
                             qEnvironmentVariable("KURUMU_BINARY")});
        QVERIFY(shell.waitForFinished(60000));
        QCOMPARE(shell.exitCode(), 0);
        QCOMPARE(QDir(dir.filePath("g")).entryList(QDir::Files).size(), 5000);
    }

    // Every log line is written out as it happens, also into a file: a message on the
    // error stream follows the log lines before it when both go into one file. A group
    // whose run ends in an error ("処理中止") does not keep the next group from running; the
    // exit status says that one did not end.
    void outputIntoOneFileKeepsItsOrder() {
        QTemporaryDir dir;
        test::makeFolder(dir.filePath("b"));
        for (const char* name : {"a1", "a2", "b1"}) test::writeFile(dir.filePath(name), name);
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        shell.start("bash", {"-c", "\"$0\" --run --rule count --count 1 a1 a2 b b1 > log 2>&1",
                             qEnvironmentVariable("KURUMU_BINARY")});
        QVERIFY(shell.waitForFinished(20000));
        QCOMPARE(shell.exitCode(), 1);
        const QStringList log = QString::fromUtf8(test::readFile(dir.filePath("log"))).split('\n');
        const qsizetype moved = log.indexOf(dir.filePath("a1") + "…Move");
        QVERIFY2(moved > 0, qPrintable(log.join('\n')));
        // The message, then the file and the system's reason.
        QCOMPARE(log.value(moved + 1), "くるみ: 指定されたパスが見つからない。 " + dir.filePath("a1") +
                                           ": 途中の名前がフォルダではありません(書き込み先: " + dir.filePath("a1") +
                                           "/)");
        QCOMPARE(log.mid(moved + 2, 5),
                 (QStringList{"処理中止", "処理開始", dir.filePath("b") + "…移動元と移動先が同じ",
                              dir.filePath("b1") + "…Move", "処理終了"}));
        QCOMPARE(test::readFile(dir.filePath("b/b1")), QByteArray("b1"));
    }

    // The settings file is read through a link, and a fifo in its place reads as a file
    // that cannot be opened, at once.
    void settingsFileThroughALinkOrAFifo() {
        QTemporaryDir dir;
        test::writeFile(dir.filePath("a (1)"), "");
        test::writeFile(dir.filePath("a (2)"), "");
        QByteArray numbering;
        for (int line = 0; line < 12; ++line) numbering += "x=OFF\r\n";
        numbering += "x=ON\r\n";
        test::writeFile(dir.filePath("dotfiles-kurumu.ini"), numbering);
        QVERIFY(QFile::link(dir.filePath("dotfiles-kurumu.ini"), dir.filePath("kurumu.ini")));
        QCOMPARE(runKurumu(dir.path(), {"--judge", "a (1)", "a (2)"}).out.count(u'└'), 1);  // the numbering rule
        QFile::remove(dir.filePath("kurumu.ini"));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("kurumu.ini")).constData(), 0644), 0);
        const Outcome outcome = runKurumu(dir.path(), {"--judge", "a (1)", "a (2)"});
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.out.count(u'└'), 0);  // no rule on: nothing joins
    }

    // Two runs at once move the same file across file systems into the same folder: the
    // file always ends up whole somewhere, never deleted by both.
    void twoRunsAtOnceAcrossFileSystems() {
        KURUMU_REQUIRE_ROOT();
        QTemporaryDir dir;
        test::Tmpfs tmpfs(dir.filePath("other"), "64m");
        if (!tmpfs.mounted()) QSKIP("cannot mount a tmpfs here");
        const QByteArray data(2 * 1024 * 1024, 'r');
        for (int round = 0; round < 12; ++round) {
            const QString group = tmpfs.path() + QString("/a%1").arg(round);
            test::makeFolder(group);
            const QString file = dir.filePath(QString("ab%1.bin").arg(round));
            test::writeFile(file, data);
            const QStringList arguments{"--run", "--rule", "count", "--count", "1", group, file};
            QProcess first;
            QProcess second;
            for (QProcess* process : {&first, &second}) {
                process->setWorkingDirectory(dir.path());
                process->start(qEnvironmentVariable("KURUMU_BINARY"), arguments);
            }
            QVERIFY(first.waitForFinished(60000) && second.waitForFinished(60000));
            int whole = test::readFile(file) == data ? 1 : 0;
            for (const QString& name : QDir(group).entryList(QDir::Files | QDir::Hidden)) {
                QCOMPARE(test::readFile(group + '/' + name), data);
                ++whole;
            }
            QVERIFY2(whole >= 1, qPrintable(QString("round %1: the file is gone").arg(round)));
        }
    }

    // SIGTERM while a duplicate is being verified stops the run as Stop does: the source is
    // put back under its own name, nothing is left aside, and the run ends "処理中止".
    void terminationDuringAVerification() {
        QTemporaryDir dir;
        for (const char* folder : {"big", "big1"}) {
            test::makeFolder(dir.filePath(folder));
            QFile file(dir.filePath(QString(folder) + "/data.bin"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64{3} << 30));  // sparse: fast to read
        }
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(qEnvironmentVariable("KURUMU_BINARY"),
                      {"--run", "--rule", "count", "--count", "3", "big", "big1"});
        QByteArray out;
        while (!out.contains("…Delete") && process.waitForReadyRead(60000)) out += process.readAllStandardOutput();
        QVERIFY2(out.contains("…Delete"), out.constData());
        QVERIFY(process.processId() > 0);
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(20000));
        out += process.readAllStandardOutput();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(out.endsWith("処理中止\n"));
        QCOMPARE(QDir(dir.filePath("big1")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
                 QStringList{"data.bin"});
    }

    // The dry run prints exactly what the run then prints, exits as it does, and changes
    // nothing: no folder made, not even by --create-folders, no settings file written.
    void dryRunPrintsWhatTheRunDoes() {
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        test::writeFile(root + "trip (1).mp4", "1");
        test::writeFile(root + "trip (2).mp4", "22");
        test::makeFileWithFolders(root + "trip (1)/trip (2).mp4", "other");
        test::makeFileWithFolders(root + "trip (3)/inner.txt", "in");
        test::writeFile(root + "solo.txt", "s");
        test::writeFile(root + "fifo-free.txt", "f");
        const QStringList arguments{"--create-folders", "trip (1).mp4", "trip (2).mp4", "trip (3)", "solo.txt"};
        const auto before = tree(root);
        const Outcome preview = runKurumu(dir.path(), QStringList{"--run", "--dry-run"} + arguments);
        QCOMPARE(tree(root), before);
        const Outcome real = runKurumu(dir.path(), QStringList{"--run"} + arguments);
        QCOMPARE(preview.out, real.out);
        QCOMPARE(preview.err, real.err);
        QCOMPARE(preview.exitCode, real.exitCode);
        QVERIFY(real.out.contains("trip (2)_000.mp4…Rename後Move"));
        QVERIFY(QFileInfo(root + "solo").isDir());
    }

    // A run, then --history and --undo: everything is back; the undo itself is a run of
    // the history. Without a writable journal, a run does not start.
    void historyAndUndo() {
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        test::makeFolder(root + "g");
        test::writeFile(root + "g1", "1");
        test::makeFileWithFolders(root + "g2/inner", "2");
        const auto before = tree(root);
        QCOMPARE(runKurumu(dir.path(), {"--run", "--rule", "count", "--count", "1", "g", "g1", "g2"}).exitCode, 0);
        QVERIFY(tree(root) != before);
        const Outcome history = runKurumu(dir.path(), {"--history"});
        QVERIFY(history.out.trimmed().split('\n').last().contains("not undone"));
        const Outcome undone = runKurumu(dir.path(), {"--undo"});
        QCOMPARE(undone.exitCode, 0);
        QVERIFY(undone.out.contains(root + "g1…元に戻した"));
        QCOMPARE(tree(root), before);
        QVERIFY(runKurumu(dir.path(), {"--history"}).out.contains("undo of "));
        QCOMPARE(runKurumu(dir.path(), {"--undo", "no-such-run"}).exitCode, 2);

        QTemporaryDir readOnly;
        QVERIFY(QFile::setPermissions(readOnly.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QProcess process;
        process.setWorkingDirectory(dir.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_STATE_HOME", readOnly.path() + "/state");
        process.setProcessEnvironment(environment);
        process.start("setpriv",
                      {"--reuid=nobody", "--regid=nogroup", "--clear-groups", qEnvironmentVariable("KURUMU_BINARY"),
                       "--run", "--rule", "count", "--count", "1", "/nonexistent-but-checked-later"});
        QVERIFY(process.waitForFinished(20000));
        if (test::isRoot()) QCOMPARE(process.exitCode(), 2);  // arguments are checked before the journal
        const Outcome refused = [&] {
            QProcess run;
            run.setWorkingDirectory(dir.path());
            run.setProcessEnvironment(environment);
            QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                  QFileDevice::ReadOther | QFileDevice::ExeOther);
            run.start("setpriv",
                      {"--reuid=nobody", "--regid=nogroup", "--clear-groups", qEnvironmentVariable("KURUMU_BINARY"),
                       "--run", "--rule", "count", "--count", "1", root + "g", root + "g1"});
            run.waitForFinished(20000);
            return Outcome{run.exitCode(), QString::fromUtf8(run.readAllStandardOutput()),
                           QString::fromUtf8(run.readAllStandardError())};
        }();
        if (test::isRoot()) {
            QCOMPARE(refused.exitCode, 1);
            QVERIFY2(refused.err.contains("記録のフォルダを開けません") && refused.err.contains(readOnly.path()),
                     qPrintable(refused.err));
            QVERIFY(refused.out.isEmpty());
            QCOMPARE(tree(root), before);
        }
    }

    // The last run is the last one made, whatever the time zone each run was started in.
    // The state folder is used only as a real folder of the user's: a link as its runs,
    // or another user's state folder (root with a user's environment), stops a run, an
    // undo and the history before anything is touched, through a link neither. Where the
    // folder would have to be made beneath another user's, the user's own is used.
    void stateFolderIsTheUsersOwn() {
        QTemporaryDir dir;
        test::makeFolder(dir.filePath("g"));
        test::writeFile(dir.filePath("g1"), "1");
        const auto before = tree(dir.path());
        QTemporaryDir states;
        test::makeFolder(states.filePath("linked/kurumu"));
        for (int i = 0; i < 60; ++i) test::makeFileWithFolders(states.filePath("documents/%1.odt").arg(i), "doc");
        QCOMPARE(::symlink(QFile::encodeName(states.filePath("documents")).constData(),
                           QFile::encodeName(states.filePath("linked/kurumu/runs")).constData()),
                 0);
        const auto runWith = [&](const QString& state, const QStringList& arguments) {
            qputenv("XDG_STATE_HOME", QFile::encodeName(state));
            const Outcome outcome = runKurumu(dir.path(), arguments);
            qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path()));
            return outcome;
        };
        const Outcome linked =
            runWith(states.filePath("linked"), {"--run", "--rule", "count", "--count", "1", "g", "g1"});
        QCOMPARE(linked.exitCode, 1);
        QVERIFY2(
            linked.err.contains("リンクか、フォルダではないため、使いません: " + states.filePath("linked/kurumu/runs")),
            qPrintable(linked.err));
        QCOMPARE(tree(dir.path()), before);
        QCOMPARE(QDir(states.filePath("documents")).entryList(QDir::Files).size(), 60);
        QCOMPARE(runWith(states.filePath("linked"), {"--history"}).exitCode, 1);

        KURUMU_REQUIRE_ROOT();
        test::makeFolder(states.filePath("foreign/kurumu/runs"));
        test::writeFile(states.filePath("victim"), "victim");
        QCOMPARE(::symlink(QFile::encodeName(states.filePath("victim")).constData(),
                           QFile::encodeName(states.filePath("foreign/kurumu/undo.lock")).constData()),
                 0);
        for (const char* folder : {"foreign/kurumu", "foreign/kurumu/runs"})
            QCOMPARE(::chown(QFile::encodeName(states.filePath(folder)).constData(), 65534, 65534), 0);
        const Outcome foreign = runWith(states.filePath("foreign"), {"--undo"});
        QCOMPARE(foreign.exitCode, 1);
        QVERIFY2(foreign.err.contains("持ち主が別のユーザー(nobody)のため、使いません: " +
                                      states.filePath("foreign/kurumu")),
                 qPrintable(foreign.err));
        QCOMPARE(test::readFile(states.filePath("victim")), QByteArray("victim"));
        QVERIFY(QDir(states.filePath("foreign/kurumu/runs")).isEmpty());

        test::makeFolder(states.filePath("another"));
        QCOMPARE(::chown(QFile::encodeName(states.filePath("another")).constData(), 65534, 65534), 0);
        const Outcome instead = runWith(states.filePath("another"), {"--history"});
        QCOMPARE(instead.exitCode, 0);
        QVERIFY2(instead.err.contains(states.filePath("another") + " は別のユーザー(nobody)のフォルダのため、記録は "),
                 qPrintable(instead.err));
        QVERIFY(QDir(states.filePath("another")).isEmpty());
    }

    void lastRunAcrossTimeZones() {
        QTemporaryDir dir;
        QTemporaryDir state;
        const QString root = dir.path() + '/';
        for (const char* folder : {"a", "b"}) test::makeFolder(root + folder);
        test::writeFile(root + "a1", "a");
        test::writeFile(root + "b1", "b");
        const auto runIn = [&](const char* zone, const QStringList& arguments) {
            QProcess process;
            process.setWorkingDirectory(dir.path());
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("TZ", zone);
            environment.insert("XDG_STATE_HOME", state.path());
            process.setProcessEnvironment(environment);
            process.start(qEnvironmentVariable("KURUMU_BINARY"), arguments);
            process.waitForFinished(20000);
            return process.exitCode();
        };
        QCOMPARE(runIn("Asia/Tokyo", {"--run", "--rule", "count", "--count", "1", "a", "a1"}), 0);
        QCOMPARE(runIn("America/New_York", {"--run", "--rule", "count", "--count", "1", "b", "b1"}), 0);
        QCOMPARE(runIn("Asia/Tokyo", {"--undo"}), 0);
        QCOMPARE(test::readFile(root + "b1"), QByteArray("b"));
        QCOMPARE(test::readFile(root + "a/a1"), QByteArray("a"));
    }

    // A run across file systems killed at random moments, then undos killed at random
    // moments in their turn, then one to the end: the tree is as it was, whatever the
    // moments.
    void killedRunsAreUndone() {
        KURUMU_REQUIRE_ROOT();
        QTemporaryDir dir;
        // The files have a file system of their own and go onto another one, whatever disk
        // the tests run on (an overlay would keep duplicates apart from what is outside it).
        test::Tmpfs items(dir.path() + "/items", "64m");
        const QString root = items.path() + '/';
        test::Tmpfs tmpfs(root + "g", "64m");
        if (!items.mounted() || !tmpfs.mounted()) QSKIP("cannot mount a tmpfs here");
        QRandomGenerator random(2000);
        for (int round = 0; round < 4; ++round) {
            QStringList arguments{"--run", "--rule", "count", "--count", "1", root + "g"};
            for (int i = 0; i < 2000; ++i) {
                const QString name = QString("g%1-%2").arg(round).arg(i, 4, 10, QChar('0'));
                test::writeFile(root + name, QByteArray(1000 + i, 'k'));
                arguments.append(root + name);
            }
            const auto before = tree(root);
            const QTemporaryDir state;  // this round's journals alone
            qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
            QProcess process;
            process.setWorkingDirectory(dir.path());
            process.start(qEnvironmentVariable("KURUMU_BINARY"), arguments);
            QVERIFY(process.waitForStarted());
            QTest::qWait(50 + random.bounded(1000));
            const qint64 pid = process.processId();  // 0 once it has ended: nothing to kill then
            if (pid > 0) ::kill(static_cast<pid_t>(pid), SIGKILL);
            process.waitForFinished(20000);
            // Killed, it leaves whole lines on its output.
            const QByteArray output = process.readAllStandardOutput();
            QVERIFY2(output.isEmpty() || output.endsWith('\n'), output.right(300).constData());
            const bool journaled = !runKurumu(dir.path(), {"--history"}).out.trimmed().isEmpty();
            // Undos killed in their turn, then one that goes to its end.
            for (int killed = random.bounded(3); killed > 0; --killed) {
                QProcess undo;
                undo.setWorkingDirectory(dir.path());
                undo.start(qEnvironmentVariable("KURUMU_BINARY"), {"--undo"});
                QVERIFY(undo.waitForStarted());
                QTest::qWait(5 + random.bounded(300));
                if (undo.processId() > 0) ::kill(static_cast<pid_t>(undo.processId()), SIGKILL);
                undo.waitForFinished(20000);
            }
            const Outcome undone = runKurumu(dir.path(), {"--undo"});
            const bool takenBackAlready =
                undone.exitCode == 2 && runKurumu(dir.path(), {"--history"}).out.contains("  undone\n");
            QVERIFY2(undone.exitCode == (journaled ? 0 : 2) || takenBackAlready,
                     qPrintable(undone.out.right(600) + undone.err));
            qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path()));
            QCOMPARE(tree(root), before);
            for (const QString& name : QDir(root).entryList(QDir::Files)) QFile::remove(root + name);
        }
    }

    // A run on an overlay over files of its lower layer, with a duplicate, a taken name, a
    // folder kept whole and a file with a second name there (whose copy-up by the rename
    // gives it other numbers), is taken back exactly: also when it was killed at any moment,
    // and when the kernel forgot the folders in between (whose inode numbers then change
    // where the layers lie on two file systems without xino).
    void runsOnLowerFilesAreTakenBack_data() {
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("twoFileSystems");
        QTest::addColumn<bool>("killed");
        QTest::addColumn<bool>("forgotten");
        for (const bool killed : {false, true}) {
            const char* const end = killed ? ", killed" : "";
            QTest::addRow("one file system%s", end) << QString() << false << killed << false;
            QTest::addRow("two file systems%s", end) << ",xino=off" << true << killed << false;
            QTest::addRow("two file systems, own inode numbers%s", end) << ",xino=on" << true << killed << false;
        }
        QTest::addRow("two file systems, folders forgotten") << ",xino=off" << true << false << true;
    }

    void runsOnLowerFilesAreTakenBack() {
        QFETCH(QString, options);
        QFETCH(bool, twoFileSystems);
        QFETCH(bool, killed);
        QFETCH(bool, forgotten);
        KURUMU_REQUIRE_ROOT();
        QTemporaryDir dir;
        test::Tmpfs first(dir.path() + "/first", "64m");
        test::Tmpfs second(dir.path() + "/second", "64m");
        if (!first.mounted() || !second.mounted()) QSKIP("cannot mount a tmpfs here");
        const QString lower = first.path() + "/lower/";
        const QString layers = (twoFileSystems ? second : first).path();
        QStringList items{"pic", "pic1.txt", "pic2.txt", "pic3.txt", "picsub"};
        test::makeFileWithFolders(lower + "pic/pic1.txt", "same");
        test::makeFileWithFolders(lower + "pic/pic2.txt", "old");
        test::makeFileWithFolders(lower + "picsub/pic4.txt", "four");
        test::writeFile(lower + "pic1.txt", "same");
        test::writeFile(lower + "pic2.txt", "new");
        test::writeFile(lower + "pic3.txt", "three");
        QCOMPARE(::link(QFile::encodeName(lower + "pic3.txt").constData(),
                        QFile::encodeName(lower + "other-name").constData()),
                 0);
        for (int i = 0; i < 600; ++i) {
            const QString name = QString("picz-%1.txt").arg(i, 4, 10, QChar('0'));
            test::writeFile(lower + name, QByteArray(100 + i, 'p'));
            items.append(name);
        }
        const std::array<struct timespec, 2> times{{{1500000000, 0}, {1600000000, 250}}};
        QDirIterator it(lower, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(it.next()).constData(), times.data(), AT_SYMLINK_NOFOLLOW),
                     0);
        for (const char* folder : {"/upper", "/work"}) test::makeFolder(layers + folder);
        const QString merged = dir.path() + "/merged";
        test::makeFolder(merged);
        test::Mount overlay(
            {"-t", "overlay", "overlay", "-o",
             "lowerdir=" + lower + ",upperdir=" + layers + "/upper,workdir=" + layers + "/work" + options, merged});
        if (!overlay.mounted()) QSKIP("cannot mount this overlay here");
        const auto before = test::snapshot(merged, test::Snapshot::Everything);
        const QTemporaryDir state;  // this run's journal alone
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        const auto journals = qScopeGuard([&] { qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path())); });
        QProcess process;
        process.setWorkingDirectory(merged);
        process.start(qEnvironmentVariable("KURUMU_BINARY"),
                      QStringList{"--run", "--move", "--keep-structure", "--rule", "count", "--count", "3"} + items);
        QVERIFY(process.waitForStarted());
        if (killed) {
            QTest::qWait(static_cast<int>(QRandomGenerator::global()->bounded(40)));
            if (process.processId() > 0) ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        }
        process.waitForFinished(20000);
        if (!killed) {
            QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
            QVERIFY(!test::exists(merged + "/pic1.txt"));
            QCOMPARE(test::readFile(merged + "/pic/pic2_000.txt"), QByteArray("new"));
        }
        const bool journaled = !runKurumu(merged, {"--history"}).out.trimmed().isEmpty();
        if (forgotten) {
            ::sync();
            QFile caches("/proc/sys/vm/drop_caches");
            QVERIFY(caches.open(QIODevice::WriteOnly) && caches.write("2\n") == 2);
        }
        const Outcome undone = runKurumu(merged, {"--undo"});
        QVERIFY2(undone.exitCode == (journaled ? 0 : 2), qPrintable(undone.out.right(600) + undone.err));
        QCOMPARE(test::snapshot(merged, test::Snapshot::Everything), before);
    }

    // On an overlay over two file systems without xino, a folder mounted again may get the
    // inode number that another folder had before: a folder put in the place of the one the
    // run took a file from, and then the overlay mounted again, is still told apart.
    void aFolderReplacedOnAnOverlayMountedAgainIsNotTakenForIt() {
        KURUMU_REQUIRE_ROOT();
        QTemporaryDir dir;
        test::Tmpfs first(dir.path() + "/first", "8m");
        test::Tmpfs second(dir.path() + "/second", "8m");
        if (!first.mounted() || !second.mounted()) QSKIP("cannot mount a tmpfs here");
        test::makeFolder(first.path() + "/lower/x/pic_a");
        test::makeFileWithFolders(first.path() + "/lower/y/pic_b.txt", "b");
        for (const char* folder : {"/upper", "/work"}) test::makeFolder(second.path() + folder);
        const QString merged = dir.path() + "/merged";
        test::makeFolder(merged);
        const QStringList mount{"-t",
                                "overlay",
                                "overlay",
                                "-o",
                                "lowerdir=" + first.path() + "/lower,upperdir=" + second.path() +
                                    "/upper,workdir=" + second.path() + "/work,xino=off",
                                merged};
        const QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        const auto journals = qScopeGuard([&] { qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path())); });
        {
            test::Mount overlay(mount);
            if (!overlay.mounted()) QSKIP("cannot mount this overlay here");
            tree(merged);  // every folder looked up, as a file manager would
            QCOMPARE(runKurumu(dir.path(), {"--run", "--rule", "count", "--count", "3", merged + "/x/pic_a",
                                            merged + "/y/pic_b.txt"})
                         .exitCode,
                     0);
            QVERIFY(QDir(merged).rmdir("y") && QDir(merged).mkdir("y"));  // another program replaces it
        }
        test::Mount again(mount);
        QVERIFY(again.mounted());
        tree(merged);
        const Outcome undone = runKurumu(dir.path(), {"--undo"});
        QCOMPARE(undone.exitCode, 1);
        QVERIFY(undone.out.contains("フォルダが置き換えられている"));
        QVERIFY(!test::exists(merged + "/y/pic_b.txt"));
        QCOMPARE(test::readFile(merged + "/x/pic_a/pic_b.txt"), QByteArray("b"));
    }

    // A first start in an empty folder writes the default file; SIGTERM closes the window
    // as its close box does, which writes the start-up state.
    void terminationSavesTheSettings() {
        QTemporaryDir dir;
        QProcess process;
        process.setWorkingDirectory(dir.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.start(qEnvironmentVariable("KURUMU_BINARY"), {});
        QVERIFY(process.waitForStarted());
        const QString settings = dir.filePath("kurumu.ini");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(settings).size() > 0, 10000);
        const QString first = QStringDecoder("Shift_JIS").decode(test::readFile(settings));
        QVERIFY(first.contains("最後の括弧基準で自動まとめ=ON"));
        QVERIFY(process.processId() > 0);
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        const QString saved = QStringDecoder("Shift_JIS").decode(test::readFile(settings));
        QVERIFY(saved.contains("最初の括弧基準で自動まとめ=ON\r\n最後の括弧基準で自動まとめ=OFF\r\n"));

        // Started from the desktop, whose working directory is the home folder: the settings
        // live in the configuration folder, made on first use and given a copy of the file
        // an earlier start left in the home folder; nothing new is written in the home folder.
        QTemporaryDir home;
        test::writeFile(home.filePath("kurumu.ini"), test::readFile(settings));
        const QByteArray earlier = test::readFile(home.filePath("kurumu.ini"));
        QProcess desktop;
        desktop.setWorkingDirectory(home.path());
        environment.insert("HOME", home.path());
        environment.remove("XDG_CONFIG_HOME");
        desktop.setProcessEnvironment(environment);
        desktop.start(qEnvironmentVariable("KURUMU_BINARY"), {"--from-desktop"});
        QVERIFY(desktop.waitForStarted());
        const QString configured = home.filePath(".config/kurumu/kurumu.ini");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(configured).size() > 0, 10000);
        ::kill(static_cast<pid_t>(desktop.processId()), SIGTERM);
        QVERIFY(desktop.waitForFinished(10000));
        QCOMPARE(test::readFile(configured), earlier);
        QCOMPARE(test::readFile(home.filePath("kurumu.ini")), earlier);
    }

    // A disk that damages what it stores (a file system that flips a byte of every write):
    // a move onto it keeps its source, and so does a copy checked with --crc32; each says
    // why, and the run ends stopped. Both stay with the good bytes where they were.
    void damagingDiskKeepsTheSource() {
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        const test::FuseDisk disk(test::FuseDisk::Kind::Damaging, dir.path());
        if (disk.skipReason()) QSKIP(qPrintable(*disk.skipReason()));
        test::makeFolder(root + "disk/g");
        const QByteArray bytes = QByteArray(3 << 20, 'd');
        test::writeFile(root + "g_1.bin", bytes);
        for (const QStringList& mode : {QStringList{"--move"}, QStringList{"--copy", "--crc32"}}) {
            const Outcome outcome = runKurumu(dir.path(), QStringList{"--run", "--rule", "count", "--count", "1"} +
                                                              mode + QStringList{root + "disk/g", root + "g_1.bin"});
            QCOMPARE(outcome.exitCode, 1);
            QVERIFY2(outcome.err.contains("ファイル書き込みエラー。 " + root + "g_1.bin: 書き込んだ内容を読み返すと"),
                     qPrintable(outcome.err));
            QCOMPARE(test::readFile(root + "g_1.bin"), bytes);
            QVERIFY(QDir(disk.backing() + "/g").isEmpty());
        }
    }

    void sticks_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("FAT through FUSE") << static_cast<int>(test::FuseDisk::Kind::Fat);
        QTest::newRow("exFAT through FUSE") << static_cast<int>(test::FuseDisk::Kind::ExFat);
    }

    // A stick as a desktop without the kernel's drivers mounts it: no no-replace rename, no
    // hard links, names it refuses, and (FAT) no mode or times. Moves and copies onto it and
    // moves within it number and recognise as on ext4, and are taken back exactly.
    void sticks() {
        KURUMU_REQUIRE_ROOT();
        QFETCH(int, kind);
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        const test::FuseDisk stick(static_cast<test::FuseDisk::Kind>(kind), dir.path());
        if (stick.skipReason()) QSKIP(qPrintable(*stick.skipReason()));
        const QString group = stick.path() + "/g";
        test::makeFileWithFolders(group + "/g_1.txt", "on the stick");
        test::writeFile(group + "/g_2.txt", "the same");
        // The computer's files on a file system of their own: on an overlay, a copy from
        // inside it onto the stick would rightly not be taken back.
        const test::Tmpfs computer(root + "pc", "256m");
        if (!computer.mounted()) QSKIP("cannot mount a tmpfs here");
        const QString pc = computer.path() + '/';
        test::makeFileWithFolders(pc + "g_1.txt", "from the computer");
        test::writeFile(pc + "g_2.txt", "the same");
        QByteArray big(3 << 20, '\0');
        QRandomGenerator(29).fillRange(reinterpret_cast<quint32*>(big.data()), big.size() / 4);
        test::writeFile(pc + "g_3.bin", big);
        ::chmod(QFile::encodeName(pc + "g_3.bin").constData(), 0640);
        const std::array<timespec, 2> old{timespec{1577934245, 123456789}, timespec{1577934245, 123456789}};
        ::utimensat(AT_FDCWD, QFile::encodeName(pc + "g_3.bin").constData(), old.data(), 0);
        const auto stickBefore = test::snapshot(stick.path());
        const auto pcBefore = test::snapshot(pc, test::Snapshot::Everything);
        const QStringList gather{"--run", "--rule", "count", "--count", "1", group};
        for (const QString& mode : {QString("--copy"), QString("--move")}) {
            const Outcome run =
                runKurumu(root, gather + QStringList{mode, pc + "g_1.txt", pc + "g_2.txt", pc + "g_3.bin"});
            QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
            // What the stick has no place for is said once in the run (FAT keeps no mode).
            const qsizetype notes = run.out.count("…保存されない属性(");
            QVERIFY2(notes == (kind == static_cast<int>(test::FuseDisk::Kind::Fat) ? 1 : 0), qPrintable(run.out));
            const QMap<QString, QByteArray> arrived{{"g/g_1.txt", "on the stick"},
                                                    {"g/g_1_000.txt", "from the computer"},
                                                    {"g/g_2.txt", "the same"},
                                                    {"g/g_3.bin", big}};
            QCOMPARE(test::snapshot(stick.path()), arrived);  // nothing replaced, nothing hidden left
            const Outcome undone = runKurumu(root, {"--undo"});
            QVERIFY2(undone.exitCode == 0, qPrintable(undone.out + undone.err));
            QCOMPARE(test::snapshot(stick.path()), stickBefore);
            QCOMPARE(test::snapshot(pc, test::Snapshot::Everything), pcBefore);  // modes and times as recorded
        }

        // Within the stick: a move is a copy and a removal there, a duplicate recognised.
        test::makeFileWithFolders(stick.path() + "/in/g_4.txt", "moved within");
        test::writeFile(stick.path() + "/in/g_2.txt", "the same");
        const auto stickWithin = test::snapshot(stick.path());
        const Outcome within =
            runKurumu(root, gather + QStringList{stick.path() + "/in/g_2.txt", stick.path() + "/in/g_4.txt"});
        QVERIFY2(within.exitCode == 0, qPrintable(within.out + within.err));
        const QMap<QString, QByteArray> gathered{
            {"g/g_1.txt", "on the stick"}, {"g/g_2.txt", "the same"}, {"g/g_4.txt", "moved within"}};
        QCOMPARE(test::snapshot(stick.path()), gathered);
        QCOMPARE(runKurumu(root, {"--undo"}).exitCode, 0);
        QCOMPARE(test::snapshot(stick.path()), stickWithin);

        // The stick's file deleted as the same as one on the computer: the undo makes it
        // again on the stick, which shows a mode of its own.
        test::makeFileWithFolders(pc + "k/k_1.txt", "kept");
        test::writeFile(stick.path() + "/k_1.txt", "kept");
        const Outcome deleted =
            runKurumu(root, {"--run", "--rule", "count", "--count", "1", pc + "k", stick.path() + "/k_1.txt"});
        QVERIFY2(deleted.exitCode == 0 && deleted.out.contains("k_1.txt…Delete"), qPrintable(deleted.out));
        const Outcome remade = runKurumu(root, {"--undo"});
        QVERIFY2(remade.exitCode == 0, qPrintable(remade.out + remade.err));
        QCOMPARE(test::readFile(stick.path() + "/k_1.txt"), QByteArray("kept"));
        QVERIFY(QFile::remove(stick.path() + "/k_1.txt"));

        // Many names arriving, then one that the stick folds onto a name it holds: asked of
        // the disk, not of what the run has seen there, it is the same file. (Not on FAT
        // through fusefat, which damages a folder of that many names when a file in it is
        // renamed to a longer name, as any program's rename does.)
        if (kind == static_cast<int>(test::FuseDisk::Kind::ExFat)) {
            test::writeFile(group + "/g_Z.TXT", "folded");
            test::writeFile(group + "/g_ZZ.TXT", "held");
            const auto beforeMany = test::snapshot(stick.path());
            QStringList many = gather;
            for (int i = 0; i < 70; ++i)
                many.append(test::makeFileWithFolders(pc + QString("many/g_y%1.txt").arg(i), "y"));
            many.append(test::makeFileWithFolders(pc + "many/g_z.txt", "folded"));
            many.append(test::makeFileWithFolders(pc + "many/g_zz.txt", "other bytes"));
            const Outcome folded = runKurumu(root, many);
            QVERIFY2(folded.exitCode == 0 && folded.out.contains("g_z.txt…Delete"),
                     qPrintable(folded.out + folded.err));
            const auto afterMany = test::snapshot(stick.path());
            QCOMPARE(afterMany.value("g/g_Z.TXT"), QByteArray("folded"));
            QCOMPARE(afterMany.value("g/g_ZZ.TXT"), QByteArray("held"));  // never replaced
            QCOMPARE(afterMany.value("g/g_zz_000.txt"), QByteArray("other bytes"));
            QCOMPARE(afterMany.size(), beforeMany.size() + 71);
            QCOMPARE(runKurumu(root, {"--undo"}).exitCode, 0);
            QCOMPARE(test::snapshot(stick.path()), beforeMany);
            QCOMPARE(test::readFile(pc + "many/g_z.txt"), QByteArray("folded"));
            QVERIFY(QFile::remove(group + "/g_Z.TXT") && QFile::remove(group + "/g_ZZ.TXT"));
        }

        // A folder that folds names, named by another spelling: the file reached through it
        // is the same file, never its own duplicate.
        test::makeFileWithFolders(stick.path() + "/h/H_1.txt", "one file");
        ::utimensat(AT_FDCWD, QFile::encodeName(stick.path() + "/h/H_1.txt").constData(), old.data(), 0);
        const auto oneFile = test::snapshot(stick.path());
        const QDateTime written = QFileInfo(stick.path() + "/h/H_1.txt").lastModified();
        const Outcome spelled = runKurumu(
            root, {"--run", "--rule", "count", "--count", "1", stick.path() + "/H", stick.path() + "/h/H_1.txt"});
        QVERIFY2(spelled.exitCode == 0 && spelled.out.contains("H_1.txt…移動元と移動先が同じ"),
                 qPrintable(spelled.out + spelled.err));
        QCOMPARE(test::snapshot(stick.path()), oneFile);
        QCOMPARE(QFileInfo(stick.path() + "/h/H_1.txt").lastModified(), written);  // FAT dates what it renames
        QVERIFY(QDir(stick.path() + "/h").removeRecursively());

        // A name the stick refuses: its message, nothing left behind; with the other errors
        // ignored, the rest of the run arrives.
        test::writeFile(pc + "g_0:b.txt", "refused");
        test::writeFile(pc + "g_5.txt", "after it");
        const QStringList refusedFirst{pc + "g_0:b.txt", pc + "g_5.txt"};
        const Outcome refused = runKurumu(root, gather + refusedFirst);
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains("詳細不明なエラー(22) " + pc +
                                      "g_0:b.txt: "
                                      "書き込み先のファイルシステムがこの名前を受け付けません(書き込み先: " +
                                      group + "/)"),
                 qPrintable(refused.err));
        QCOMPARE(test::snapshot(stick.path()), stickWithin);
        const Outcome ignored = runKurumu(root, gather + QStringList{"--ignore-other-errors"} + refusedFirst);
        QVERIFY2(ignored.exitCode == 0 && ignored.err.isEmpty(), qPrintable(ignored.err));
        QCOMPARE(test::readFile(group + "/g_5.txt"), QByteArray("after it"));
        QCOMPARE(test::readFile(pc + "g_0:b.txt"), QByteArray("refused"));
        QCOMPARE(runKurumu(root, {"--undo"}).exitCode, 0);
        QCOMPARE(test::readFile(pc + "g_5.txt"), QByteArray("after it"));

        // A copy killed while it is written under its name: the undo takes the partial file.
        QByteArray large(40 << 20, '\0');
        QRandomGenerator(30).fillRange(reinterpret_cast<quint32*>(large.data()), large.size() / 4);
        test::writeFile(pc + "g_6.bin", large);
        QProcess copying;
        copying.setWorkingDirectory(root);
        copying.start(qEnvironmentVariable("KURUMU_BINARY"), gather + QStringList{"--copy", pc + "g_6.bin"});
        QVERIFY(copying.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(group + "/g_6.bin").size() > 0 || copying.state() == QProcess::NotRunning,
                                 20000);
        if (copying.processId() > 0) ::kill(static_cast<pid_t>(copying.processId()), SIGKILL);
        copying.waitForFinished(20000);
        const Outcome afterKill = runKurumu(root, {"--undo"});
        QVERIFY2(afterKill.exitCode == 0, qPrintable(afterKill.out + afterKill.err));
        QCOMPARE(test::snapshot(stick.path()), stickWithin);
        QCOMPARE(test::readFile(pc + "g_6.bin"), large);

        // A file larger than the room left (FAT through FUSE says EPERM of it): the stick is
        // named as full, and nothing is left on it.
        QFile tooLarge(pc + "g_7.bin");
        QVERIFY(tooLarge.open(QIODevice::WriteOnly) && tooLarge.resize(qint64{100} << 20));
        tooLarge.close();
        const Outcome full = runKurumu(root, gather + QStringList{"--copy", pc + "g_7.bin"});
        QCOMPARE(full.exitCode, 1);
        QVERIFY2(full.err.contains("書き込み先の容量不足") && full.err.contains("(書き込み先: " + group + "/)"),
                 qPrintable(full.err));
        QCOMPARE(test::snapshot(stick.path()), stickWithin);
    }

    void numbersThatDoNotLast_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("a folder shared over SFTP") << static_cast<int>(test::FuseDisk::Kind::Sftp);
        QTest::newRow("a FAT stick plugged in again") << static_cast<int>(test::FuseDisk::Kind::Fat);
        QTest::newRow("an exFAT stick plugged in again") << static_cast<int>(test::FuseDisk::Kind::ExFat);
    }

    // Disks whose inode numbers need not last: sshfs gives a file new ones as it gets a
    // name, and a stick plugged in again gives new ones to everything. Mounted again
    // between the run and the undo, the undo knows the run's files there by their paths,
    // lengths, times and bytes, and takes everything back.
    void numbersThatDoNotLast() {
        KURUMU_REQUIRE_ROOT();
        QFETCH(int, kind);
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        test::FuseDisk disk(static_cast<test::FuseDisk::Kind>(kind), dir.path());
        if (disk.skipReason()) QSKIP(qPrintable(*disk.skipReason()));
        const test::Tmpfs computer(root + "pc", "16m");
        if (!computer.mounted()) QSKIP("cannot mount a tmpfs here");
        const QString pc = computer.path() + '/';
        const QString group = disk.path() + "/g";
        test::makeFileWithFolders(group + "/g_3.txt", "the same");
        test::makeFileWithFolders(disk.path() + "/in/g_4.txt", "moved within");
        test::writeFile(pc + "g_1.txt", "from the computer");
        test::writeFile(pc + "g_3.txt", "the same");
        const auto diskBefore = test::snapshot(disk.path());
        const auto pcBefore = test::snapshot(pc, test::Snapshot::Everything);
        const Outcome run = runKurumu(root, {"--run", "--rule", "count", "--count", "1", group, pc + "g_1.txt",
                                             pc + "g_3.txt", disk.path() + "/in/g_4.txt"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QCOMPARE(test::readFile(group + "/g_1.txt"), QByteArray("from the computer"));
        QVERIFY(disk.remount());
        const Outcome undone = runKurumu(root, {"--undo"});
        QVERIFY2(undone.exitCode == 0, qPrintable(undone.out + undone.err));
        QCOMPARE(test::snapshot(disk.path()), diskBefore);
        QCOMPARE(test::snapshot(pc, test::Snapshot::Everything), pcBefore);
    }

    // An ext4 folder that folds names (+F), where the kernel can mount one: a name that the
    // folder folds onto one it holds, by case or by Unicode normalisation, is that name.
    void caseFoldedExt4() {
        KURUMU_REQUIRE_ROOT();
        QTemporaryDir dir;
        const QString root = dir.path() + '/';
        QFile image(root + "fold.img");
        QVERIFY(image.open(QIODevice::WriteOnly) && image.resize(qint64{64} << 20));
        image.close();
        if (QProcess::execute("mkfs.ext4", {"-q", "-O", "casefold", image.fileName()}) != 0)
            QSKIP("mkfs.ext4 cannot make an image with case folding here");
        test::makeFolder(root + "disk");
        const test::Mount disk({"-o", "loop", image.fileName(), root + "disk"});
        if (!disk.mounted()) QSKIP("this kernel cannot mount ext4 with case folding (it lacks CONFIG_UNICODE)");
        const QString group = root + "disk/g";
        test::makeFolder(group);
        QCOMPARE(QProcess::execute("chattr", {"+F", group}), 0);
        test::writeFile(group + "/g_A.txt", "held");
        test::writeFile(group + QString::fromUtf8("/g_\u00e9.txt"), "held e");  // composed
        const test::Tmpfs computer(root + "pc", "16m");
        if (!computer.mounted()) QSKIP("cannot mount a tmpfs here");
        const QString pc = computer.path() + '/';
        test::writeFile(pc + "g_a.txt", "other");
        test::writeFile(pc + QString::fromUtf8("g_e\u0301.txt"), "held e");  // decomposed
        const auto before = test::snapshot(group);
        const Outcome run = runKurumu(root, {"--run", "--rule", "count", "--count", "1", group, pc + "g_a.txt",
                                             pc + QString::fromUtf8("g_e\u0301.txt")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        QCOMPARE(test::readFile(group + "/g_A.txt"), QByteArray("held"));
        QCOMPARE(test::readFile(group + "/g_a_000.txt"), QByteArray("other"));
        QVERIFY2(run.out.contains(QString::fromUtf8("g_e\u0301.txt…Delete")), qPrintable(run.out));
        QCOMPARE(runKurumu(root, {"--undo"}).exitCode, 0);
        QCOMPARE(test::snapshot(group), before);
        QCOMPARE(test::readFile(pc + "g_a.txt"), QByteArray("other"));
        QCOMPARE(test::readFile(pc + QString::fromUtf8("g_e\u0301.txt")), QByteArray("held e"));
    }

    void noDisplaySaysSo() {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(name);
        process.setProcessEnvironment(environment);
        process.start(qEnvironmentVariable("KURUMU_BINARY"), {});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains("xvfb-run"));
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
