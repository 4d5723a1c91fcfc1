#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

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

}  // namespace

class TestBatch : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
        const Outcome help = runKurumu(dir.path(), {"--help"});
        QCOMPARE(help.exitCode, 0);
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
        QTest::qWait(1500);  // the signal handlers are installed right after the file is written
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        const QString saved = QStringDecoder("Shift_JIS").decode(test::readFile(settings));
        QVERIFY(saved.contains("最初の括弧基準で自動まとめ=ON\r\n最後の括弧基準で自動まとめ=OFF\r\n"));
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
