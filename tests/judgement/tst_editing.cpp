#include "judgement/Editing.h"
#include "judgement/GroupPlan.h"
#include "judgement/ItemLine.h"

#include <QTest>

using namespace kurumu::judgement;

namespace {

// Lines of names in the folder /w/; a leading "└" stands for the mark.
QList<Line> lines(const QStringList& names) {
    QList<Line> result;
    for (const QString& name : names) {
        const bool marked = name.startsWith(kMark);
        result.append({{marked ? name.mid(1) : name, "/w/"}, marked});
    }
    return result;
}

QStringList texts(const QList<Line>& judged) {
    QStringList shown;
    for (const Line& line : judged) shown.append(line.text());
    return shown;
}

}  // namespace

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
        // The count is of composed characters, cut in the leader's own spelling.
        QTest::newRow("decomposed leader by count")
            << QStringLiteral("か\u3099くせい.txt") << 2 << true << QStringLiteral("か\u3099く");
        QTest::newRow("marks stay with their letter")
            << QStringLiteral("x\u0301yz") << 1 << false << QStringLiteral("x\u0301");
    }

    void folderNames() {
        QFETCH(QString, leader);
        QFETCH(int, count);
        QFETCH(bool, byCount);
        QFETCH(QString, folder);
        QCOMPARE(gatheringFolderName(leader, count, byCount), folder);
    }

    // A cut to N characters never splits a character of two UTF-16 units.
    void folderNamesKeepSurrogatePairs() {
        const QString leader = QStringLiteral("ab\U0001F600cd.txt");
        QCOMPARE(gatheringFolderName(leader, 3, true), QStringLiteral("ab"));
        QCOMPARE(gatheringFolderName(leader, 4, true), QStringLiteral("ab\U0001F600"));
        QCOMPARE(gatheringFolderName(QStringLiteral("\U0001F600"), 1, false), QString());
    }

    void foldersInFrontOfLeaders() {
        QStringList asked;
        const GatheredLines result =
            withGatheringFolders(lines({"a.txt", "b.txt", "c.txt"}), 30, false, [&asked](const QString& path) {
                asked.append(path);
                return true;
            });
        QCOMPARE(texts(result.lines),
                 (QStringList{"a//w/", "└a.txt//w/", "b//w/", "└b.txt//w/", "c//w/", "└c.txt//w/"}));
        QCOMPARE(asked, (QStringList{"/w/a", "/w/b", "/w/c"}));
        QVERIFY(result.refused.isEmpty());
    }

    void membersStayAndFailedFoldersKeepTheirGroup() {
        const GatheredLines result = withGatheringFolders(lines({"a.txt", "└a2.txt", "b.txt", "└b2.txt"}), 30, false,
                                                          [](const QString& path) { return !path.endsWith(u'a'); });
        QCOMPARE(texts(result.lines), (QStringList{"a.txt//w/", "└a2.txt//w/", "b//w/", "└b.txt//w/", "└b2.txt//w/"}));
    }

    // A folder name that names no folder beside the leader (empty, ".", "..") is refused:
    // the group stays as it was, and nothing is asked of the disk for it.
    void foldersThatNameNoFolderBesideTheLeader_data() {
        QTest::addColumn<QString>("leader");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("byCount");
        QTest::newRow("dot-name") << ".config" << 30 << false;
        QTest::newRow("count 0 by count") << "abc.txt" << 0 << true;
        QTest::newRow("grandparent") << "...a" << 30 << false;
        QTest::newRow("dot") << "..b" << 30 << false;
        QTest::newRow("root") << "" << 30 << false;
    }

    void foldersThatNameNoFolderBesideTheLeader() {
        QFETCH(QString, leader);
        QFETCH(int, count);
        QFETCH(bool, byCount);
        bool asked = false;
        QList<Line> judged{{{leader, "/w/"}, false}, {{"other.txt", "/w/"}, false}};
        const GatheredLines result = withGatheringFolders(judged, count, byCount, [&asked](const QString& path) {
            asked = asked || !path.endsWith("other");
            return true;
        });
        QVERIFY(!asked);
        QCOMPARE(result.refused.first(), (Item{leader, "/w/"}));
        QCOMPARE(result.lines.first(), (Line{{leader, "/w/"}, false}));
        QVERIFY(!namesAFolderInside(gatheringFolderName(leader, count, byCount)));
    }

    // A name that begins with "└" is an item like any other: marks are kept apart.
    void nameBeginningWithMarkIsAnItem() {
        const QList<Line> judged{{{"└notes.txt", "/w/"}, false}, {{"notes.txt", "/w/"}, true}};
        const GatheredLines result = withGatheringFolders(judged, 30, false, [](const QString&) { return true; });
        QCOMPARE(result.lines[0].item, (Item{"└notes", "/w/"}));
        QCOMPARE(result.lines[1].item, (Item{"└notes.txt", "/w/"}));
        QVERIFY(result.lines[1].marked);
        const std::vector<Group> groups = groupsOf(result.lines);
        QCOMPARE(groups.front().memberPaths, (QStringList{"/w/└notes.txt", "/w/notes.txt"}));
    }

    // Groups of sizes 3, 1 and 2: only the first and the last run.
    void groups() {
        const std::vector<Group> groups = groupsOf(lines({"g1", "└m1", "└m2", "g2", "g3", "└m3"}));
        QCOMPARE(groups.size(), std::size_t{3});
        QCOMPARE(groups[0].leaderPath, "/w/g1");
        QCOMPARE(groups[0].memberPaths, (QStringList{"/w/m1", "/w/m2"}));
        QVERIFY(!groups[1].runs());
        QCOMPARE(groups[1].leaderRow, 3);
        QCOMPARE(groups[2].memberPaths, QStringList{"/w/m3"});
        // Line 0 leads even when it is marked.
        QCOMPARE(groupsOf({{{"x", "/p/"}, true}}).front().leaderPath, "/p/x");
    }
};

QTEST_GUILESS_MAIN(TestEditing)
#include "tst_editing.moc"
