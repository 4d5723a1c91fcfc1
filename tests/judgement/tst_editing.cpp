#include "judgement/Editing.h"
#include "judgement/GroupPlan.h"
#include "judgement/ItemLine.h"

#include <QTest>

using namespace kurumu::judgement;

class TestEditing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void folderNames_data() {
        QTest::addColumn<QString>("leader");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("byCount");
        QTest::addColumn<QString>("folder");
        QTest::newRow("file") << QStringLiteral("report (1).txt") << 30 << false << QStringLiteral("report (1)");
        QTest::newRow("folder without dot") << QStringLiteral("photos") << 30 << false << QStringLiteral("photos");
        QTest::newRow("by count") << QStringLiteral("abcdef.txt") << 4 << true << QStringLiteral("abcd");
        QTest::newRow("trailing spaces") << QStringLiteral("abc .txt") << 30 << false << QStringLiteral("abc");
        QTest::newRow("trailing full-width spaces")
            << QStringLiteral("abc\u3000 \u3000.txt") << 30 << false << QStringLiteral("abc");
        QTest::newRow("dotted folder") << QStringLiteral("notes.old") << 30 << false << QStringLiteral("notes");
        QTest::newRow("no extension cut to count") << QStringLiteral("abcdefgh") << 3 << false << QStringLiteral("abc");
        QTest::newRow("count 0 by count") << QStringLiteral("abc.txt") << 0 << true << QString();
    }

    void folderNames() {
        QFETCH(QString, leader);
        QFETCH(int, count);
        QFETCH(bool, byCount);
        QFETCH(QString, folder);
        QCOMPARE(gatheringFolderName(leader, count, byCount), folder);
    }

    void foldersInFrontOfLeaders() {
        QStringList asked;
        const QStringList lines{QStringLiteral("a.txt//w/"), QStringLiteral("b.txt//w/"), QStringLiteral("c.txt//w/")};
        const QStringList result = withGatheringFolders(lines, 30, false, [&asked](const QString& path) {
            asked.append(path);
            return true;
        });
        QCOMPARE(result,
                 (QStringList{QStringLiteral("a//w/"), QStringLiteral("└a.txt//w/"), QStringLiteral("b//w/"),
                              QStringLiteral("└b.txt//w/"), QStringLiteral("c//w/"), QStringLiteral("└c.txt//w/")}));
        QCOMPARE(asked, (QStringList{QStringLiteral("/w/a"), QStringLiteral("/w/b"), QStringLiteral("/w/c")}));
    }

    void membersStayAndFailedFoldersKeepTheirGroup() {
        const QStringList lines{QStringLiteral("a.txt//w/"), QStringLiteral("└a2.txt//w/"), QStringLiteral("b.txt//w/"),
                                QStringLiteral("└b2.txt//w/")};
        const QStringList result =
            withGatheringFolders(lines, 30, false, [](const QString& path) { return !path.endsWith(u'a'); });
        QCOMPARE(result,
                 (QStringList{QStringLiteral("a.txt//w/"), QStringLiteral("└a2.txt//w/"), QStringLiteral("b//w/"),
                              QStringLiteral("└b.txt//w/"), QStringLiteral("└b2.txt//w/")}));
    }

    void toggle() {
        QCOMPARE(toggledMark(QStringLiteral("a//w/")), QStringLiteral("└a//w/"));
        QCOMPARE(toggledMark(toggledMark(QStringLiteral("└a//w/"))), QStringLiteral("└a//w/"));
    }

    // Groups of sizes 3, 1 and 2: only the first and the last run.
    void groups() {
        const QStringList lines{QStringLiteral("g1//p/"), QStringLiteral("└m1//p/"), QStringLiteral("└m2//p/"),
                                QStringLiteral("g2//p/"), QStringLiteral("g3//p/"),  QStringLiteral("└m3//q/")};
        const std::vector<Group> groups = groupsOf(lines);
        QCOMPARE(groups.size(), std::size_t{3});
        QCOMPARE(groups[0].leaderPath, QStringLiteral("/p/g1"));
        QCOMPARE(groups[0].memberPaths, (QStringList{QStringLiteral("/p/m1"), QStringLiteral("/p/m2")}));
        QVERIFY(!groups[1].runs());
        QCOMPARE(groups[1].leaderRow, 3);
        QCOMPARE(groups[2].memberPaths, QStringList{QStringLiteral("/q/m3")});
        // Line 0 leads even when it begins with the mark.
        QCOMPARE(groupsOf({QStringLiteral("└x//p/")}).front().leaderPath, QStringLiteral("/p/x"));
    }
};

QTEST_GUILESS_MAIN(TestEditing)
#include "tst_editing.moc"
