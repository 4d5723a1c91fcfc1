#include "platform/Settings.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace kurumu;
using platform::OptionStates;

namespace {

QByteArray sjis(const QString& text) {
    return QStringEncoder("Shift_JIS").encode(text);
}

QByteArray fileOf(const QStringList& lines, const QByteArray& end = "\r\n") {
    QByteArray bytes;
    for (const QString& line : lines) bytes += sjis(line) + end;
    return bytes;
}

const QStringList kDefaultLines{"連番位置=TOP",
                                "CRC32=OFF",
                                "全同名ファイルのチェック=OFF",
                                "フォルダ構造維持=OFF",
                                "動作モード=move",
                                "実行ボタン=使う",
                                "書き込みエラー以外無視=OFF",
                                "作るフォルダ名を一致した文字数分とする=OFF",
                                "自動まとめ判定しない=OFF",
                                "最初の括弧基準で自動まとめ=OFF",
                                "最後の括弧基準で自動まとめ=ON",
                                "最後のof基準で自動まとめ=ON",
                                "括弧基準ではない自動まとめ=OFF"};

QByteArray joined(const QList<QByteArray>& lines) {
    QByteArray bytes;
    for (const QByteArray& line : lines) bytes += line + "\r\n";
    return bytes;
}

OptionStates load(const QByteArray& bytes) {
    return platform::applySettingsFile(bytes, OptionStates::startUp());
}

// The states of a file that is empty or cannot be read.
OptionStates allOff() {
    OptionStates states = OptionStates::startUp();
    states.useExecuteButton = false;
    states.rules = {};
    states.countBoxEnabled = false;
    return states;
}

}  // namespace

class TestSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void defaultFileBytes() {
        const QByteArray bytes = joined(platform::defaultSettingsLines());
        QCOMPARE(bytes, fileOf(kDefaultLines));
        QVERIFY(bytes.startsWith(QByteArray::fromHex("9841 94D4 88CA 9275 3D54 4F50 0D0A")));  // 連番位置=TOP
        QCOMPARE(bytes.count("\r\n"), 13);
        QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    }

    void startUpStateIsWrittenBack() {
        QStringList expected = kDefaultLines;
        expected[9] = "最初の括弧基準で自動まとめ=ON";
        expected[10] = "最後の括弧基準で自動まとめ=OFF";
        expected[11] = "最後のof基準で自動まとめ=OFF";
        QCOMPARE(joined(platform::settingsLines(OptionStates::startUp())), fileOf(expected));
    }

    void readingTheDefaultFile() {
        const OptionStates states = load(fileOf(kDefaultLines));
        QCOMPARE(states.rules, (std::array<bool, 5>{false, false, true, true, false}));
        QVERIFY(!states.countBoxEnabled);
        QVERIFY(states.useExecuteButton);
        QCOMPARE(states.operationMode, platform::kMoveMode);
    }

    void tails_data() {
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("on");
        QTest::newRow("CRC32 on") << 1 << "CRC32=ON" << true;
        QTest::newRow("lower case on") << 1 << "CRC32=on" << false;
        QTest::newRow("trailing blank") << 1 << "CRC32=ON " << false;
        QTest::newRow("key ignored") << 1 << "anything ON" << true;
        QTest::newRow("only ON") << 1 << "ON" << true;
        QTest::newRow("bottom") << 0 << "連番位置=BOTTOM" << true;
        QTest::newRow("copy") << 4 << "動作モード=copy" << true;
        QTest::newRow("not copy") << 4 << "動作モード=COPY" << false;
        QTest::newRow("use button") << 5 << "実行ボタン=使う" << true;
        QTest::newRow("do not use button") << 5 << "実行ボタン=使わない" << false;
    }

    void tails() {
        QFETCH(int, line);
        QFETCH(QString, text);
        QFETCH(bool, on);
        QStringList lines = kDefaultLines;
        lines[line] = text;
        const OptionStates states = load(fileOf(lines));
        const std::array<bool, 6> values{states.numberAfterExtension,
                                         states.crc32,
                                         states.checkAllNumbers,
                                         states.folderKeep == 1,
                                         states.operationMode == platform::kCopyMode,
                                         states.useExecuteButton};
        QCOMPARE(values[static_cast<std::size_t>(line)], on);
    }

    void fixedCountWithAnotherRule() {
        QStringList lines = kDefaultLines;
        lines[8] = "自動まとめ判定しない=ON";
        lines[11] = "最後のof基準で自動まとめ=OFF";
        const OptionStates states = load(fileOf(lines));
        QCOMPARE(states.rules, (std::array<bool, 5>{true, false, true, false, false}));
        QVERIFY(!states.countBoxEnabled);
        lines[10] = "最後の括弧基準で自動まとめ=OFF";
        QVERIFY(load(fileOf(lines)).countBoxEnabled);
    }

    void shortFiles() {
        QCOMPARE(load({}), allOff());
        OptionStates bottom = allOff();
        bottom.numberAfterExtension = true;
        QCOMPARE(load(sjis("連番位置=BOTTOM")), bottom);
        QCOMPARE(load(sjis("連番位置=BOTTOM") + "\r\n"), bottom);
        // Every later test sees the last line that was read.
        OptionStates on = allOff();
        on.crc32 = on.checkAllNumbers = on.ignoreOtherErrors = on.folderNameByCount = true;
        on.folderKeep = 1;
        on.rules = {true, true, true, true, true};
        QCOMPARE(load("x\r\nON\r\n"), on);
    }

    void bareLineFeedsReadTheSame() {
        QCOMPARE(load(fileOf(kDefaultLines, "\n")), load(fileOf(kDefaultLines)));
        QStringList lines = kDefaultLines;
        lines.append("extra line after the thirteenth=OFF");
        QCOMPARE(load(fileOf(lines)), load(fileOf(kDefaultLines)));
    }

    void savingWritesTheControls() {
        OptionStates states = OptionStates::startUp();
        states.operationMode = QString();
        states.folderKeep = 2;
        const QList<QByteArray> lines = platform::settingsLines(states);
        QCOMPARE(lines[4], sjis("動作モード=copy"));
        QCOMPARE(lines[3], sjis("フォルダ構造維持=OFF"));
        states.operationMode = platform::kMoveMode;
        QCOMPARE(platform::settingsLines(states)[4], sjis("動作モード=move"));
    }

    // Any bytes load into a valid state, and saving that state reads back to it.
    void anyBytesLoad() {
        QRandomGenerator random(42);
        const QList<QByteArray> pieces{"ON",         "OFF",  "\r\n",     "\n", "\r", "BOTTOM",           "copy",
                                       sjis("使う"), "\x81", "\xff\xfe", "=",  " ",  QByteArray(1, '\0')};
        for (int round = 0; round < 3000; ++round) {
            QByteArray bytes;
            const int parts = random.bounded(60);
            for (int i = 0; i < parts; ++i) {
                if (random.bounded(3) == 0) {
                    bytes += static_cast<char>(random.bounded(256));
                } else {
                    bytes += pieces[random.bounded(pieces.size())];
                }
            }
            const OptionStates states = load(bytes);
            QVERIFY(states.folderKeep == 0 || states.folderKeep == 1);
            QVERIFY(states.operationMode == platform::kMoveMode || states.operationMode == platform::kCopyMode);
            QCOMPARE(load(joined(platform::settingsLines(states))), states);
        }
        QCOMPARE(load(QByteArray(10 * 1024 * 1024, 'O') + "N"), load("ON"));
    }

    void startUpWithoutAFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("kurumu.ini");
        QCOMPARE(platform::loadSettingsFile(path), OptionStates::startUp());
        QCOMPARE(test::readFile(path), fileOf(kDefaultLines));
        QCOMPARE(platform::loadSettingsFile(path), load(fileOf(kDefaultLines)));
    }

    // A settings file that is a link (as dotfile managers make it) is read through the
    // link, and saving rewrites the file it points to: the link stays a link.
    void settingsFileIsALink() {
        QTemporaryDir dir;
        const QString target = dir.filePath("dotfiles/kurumu.ini");
        test::makeFileWithFolders(target, fileOf(kDefaultLines));
        const QString path = dir.filePath("kurumu.ini");
        QVERIFY(QFile::link(target, path));
        QCOMPARE(platform::loadSettingsFile(path), load(fileOf(kDefaultLines)));
        OptionStates states = OptionStates::startUp();
        states.crc32 = true;
        QCOMPARE(platform::saveSettingsFile(path, states), platform::SaveFailure::None);
        QCOMPARE(QFileInfo(path).symLinkTarget(), target);
        QVERIFY(platform::loadSettingsFile(path).crc32);
        QCOMPARE(QDir(dir.filePath("dotfiles")).entryList(QDir::Files | QDir::Hidden), QStringList{"kurumu.ini"});
    }

    // A fifo in its place never blocks: it reads as a file that cannot be opened.
    void settingsFileIsAFifo() {
        QTemporaryDir dir;
        const QString path = dir.filePath("kurumu.ini");
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        QCOMPARE(platform::loadSettingsFile(path), load({}));
        QCOMPARE(platform::saveSettingsFile(path, OptionStates::startUp()), platform::SaveFailure::Unknown);
    }

    // Only the start of a huge file is read.
    void hugeSettingsFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("kurumu.ini");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(fileOf(kDefaultLines));
        QVERIFY(file.resize(qint64{4} << 30));  // sparse
        file.close();
        QCOMPARE(platform::loadSettingsFile(path), load(fileOf(kDefaultLines)));
    }

    void folderNamedLikeTheFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("kurumu.ini");
        test::makeFolder(path);
        QCOMPARE(platform::loadSettingsFile(path), OptionStates::startUp());
        QCOMPARE(platform::saveSettingsFile(path, OptionStates::startUp()), platform::SaveFailure::Unknown);
        QVERIFY(QFileInfo(path).isDir());
    }

    void fileDeletedWhileRunning() {
        QTemporaryDir dir;
        const QString path = dir.filePath("kurumu.ini");
        QCOMPARE(platform::saveSettingsFile(path, OptionStates::startUp()), platform::SaveFailure::Unknown);
        QVERIFY(!test::exists(path));
        QCOMPARE(platform::saveFailureMessage(platform::SaveFailure::Unknown), "不明なエラー");
    }

    void readOnlyFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("kurumu.ini");
        test::writeFile(path, fileOf(kDefaultLines));
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        QCOMPARE(platform::saveSettingsFile(path, OptionStates::startUp()), platform::SaveFailure::WriteRefused);
        QCOMPARE(test::readFile(path), fileOf(kDefaultLines));
        QCOMPARE(platform::saveFailureMessage(platform::SaveFailure::WriteRefused), "設定ファイルの書き込みに失敗");
    }

    void readOnlyFolder() {
        KURUMU_REQUIRE_ROOT();
        QTemporaryDir dir;
        const QString folder = dir.filePath("cwd");
        test::makeFolder(folder);
        test::writeFile(folder + "/kurumu.ini", fileOf(kDefaultLines));
        const QString view = dir.filePath("view");
        {
            test::ReadOnlyView readOnly(folder, view);
            if (!readOnly.mounted()) QSKIP("cannot make a read-only bind mount here");
            QCOMPARE(platform::loadSettingsFile(view + "/kurumu.ini"), load(fileOf(kDefaultLines)));
            QCOMPARE(platform::saveSettingsFile(view + "/kurumu.ini", OptionStates::startUp()),
                     platform::SaveFailure::WriteRefused);
        }
        QFile::remove(folder + "/kurumu.ini");
        test::ReadOnlyView empty(folder, view);
        QVERIFY(empty.mounted());
        QCOMPARE(platform::loadSettingsFile(view + "/kurumu.ini"), OptionStates::startUp());  // silently
        QCOMPARE(platform::saveSettingsFile(view + "/kurumu.ini", OptionStates::startUp()),
                 platform::SaveFailure::Unknown);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
