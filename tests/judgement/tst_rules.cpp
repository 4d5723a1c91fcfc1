#include "judgement/ItemLine.h"
#include "judgement/Rules.h"

#include <QTest>

using namespace kurumu::judgement;

Q_DECLARE_METATYPE(Rule)

namespace {

// Stored items for names in one folder, in the order given.
QList<Item> linesFor(const QStringList& names) {
    QList<Item> items;
    for (const QString& name : names) items.append({name, QStringLiteral("p/")});
    return items;
}

// The judged list as marks: "L" for a leader, "M" for a member.
QString shape(const QList<Line>& judged) {
    QString marks;
    for (const Line& line : judged) marks += line.marked ? u'M' : u'L';
    return marks;
}

// The judged list as it is shown.
QStringList texts(const QList<Line>& judged) {
    QStringList shown;
    for (const Line& line : judged) shown.append(line.text());
    return shown;
}

}  // namespace

class TestRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rules_data() {
        QTest::addColumn<Rule>("rule");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("expected");

        const auto row = [](const char* name, Rule rule, int count, const QStringList& names, const char* expected) {
            QTest::newRow(name) << rule << count << names << QString::fromLatin1(expected);
        };
        using R = Rule;
        row("count 3", R::FixedCount, 3, {"abcX.txt", "abcY.txt", "abd.txt"}, "LML");
        row("count 5 example", R::FixedCount, 5,
            {"photo_001.jpg", "photo_002.jpg", "photos", "trip (1).mp4", "trip (2).mp4"}, "LMMLM");
        row("count grows a chain", R::FixedCount, 1, {"a1", "a2", "a3"}, "LMM");
        row("count is exact in case", R::FixedCount, 3, {"ABC.txt", "abc.txt"}, "LL");
        row("count 0 joins everything", R::FixedCount, 0, {"x", "y", "z"}, "LMM");
        row("short names must be equal", R::FixedCount, 30, {"ab", "ab", "abc"}, "LML");
        row("first bracket", R::FirstBracket, 30, {"Song (demo).mp3", "Song (live).mp3"}, "LM");
        row("round wins over square", R::FirstBracket, 30, {"[x] a (1).txt", "[x] a (2).txt", "[x] b (1).txt"}, "LML");
        row("square when no round", R::FirstBracket, 30, {"[x] b.txt", "[y] c.txt"}, "LM");
        row("no bracket no match", R::FirstBracket, 30, {"plain", "plain"}, "LL");
        row("full-width bracket found", R::FirstBracket, 30,
            {QStringLiteral("写真（１）.jpg"), QStringLiteral("写真（２）.jpg")}, "LM");
        row("full-width square found", R::FirstBracket, 30,
            {QStringLiteral("［a］x.txt"), QStringLiteral("［b］y.txt")}, "LM");
        row("bracket text compared exactly", R::FirstBracket, 30,
            {QStringLiteral("写真（１）.jpg"), QStringLiteral("写真(２).jpg")}, "LL");
        row("last bracket", R::LastBracket, 30, {"A (x) [1].txt", "A (x) [2].txt", "A (y) [1].txt"}, "LML");
        row("last bracket is exact", R::LastBracket, 30,
            {QStringLiteral("写真（１）.jpg"), QStringLiteral("写真（２）.jpg")}, "LL");
        row("last of", R::LastOf, 30, {"Chapter 1 of 10.txt", "Chapter 2 of 10.txt"}, "LM");
        row("of words", R::LastOf, 30, {"Book of Eli", "Book of Life"}, "LM");
        row("of walk reaches 0", R::LastOf, 30, {"1 of 3.txt", "2 of 3.txt"}, "LL");
        row("of opening the name", R::LastOf, 30, {"of a", "of b"}, "LL");
        row("of in capitals and full width", R::LastOf, 30,
            {QStringLiteral("Part 1 ＯＦ 2"), QStringLiteral("Part 2 of 2")}, "LM");
        row("cur needs its own of", R::LastOf, 30, {"Part 1 of 2", "Part 2 xx 2"}, "LL");
        row("numbering", R::Numbering, 30, {"abc01.txt", "abc02.txt", "abc03.txt"}, "LMM");
        row("numbering all digits", R::Numbering, 30, {"01 song.mp3", "02 song.mp3"}, "LL");
        row("numbering lengths differ", R::Numbering, 30, {"a1.txt", "a10.txt", "a11.txt"}, "LLM");
        // The reference length comes from the first equal-length pair and holds until a
        // pair of unequal lengths: "a11" and "a12" share "a", not the "ab" of the first pair.
        row("numbering reference holds", R::Numbering, 30, {"ab1", "ab2", "a11", "a12"}, "LMLL");
        row("numbering reference resets", R::Numbering, 30, {"ab1", "ab2", "abcd1", "abcd2"}, "LMLM");
        // A name spelled with combining marks (NFD) is its composed twin (NFC) to every rule.
        row("decomposed as composed", R::FixedCount, 1,
            {QStringLiteral("が1.txt"), QStringLiteral("か\u30992.txt"), QStringLiteral("か3.txt")}, "LML");
        row("decomposed numbering", R::Numbering, 30,
            {QStringLiteral("ガイド01.pdf"), QStringLiteral("カ\u3099イド02.pdf")}, "LM");
    }

    void rules() {
        QFETCH(Rule, rule);
        QFETCH(int, count);
        QFETCH(QStringList, names);
        QFETCH(QString, expected);
        QCOMPARE(shape(judgeItems(linesFor(names), RuleSet::only(rule, count))), expected);
    }

    void markedLinesKeepTheirText() {
        const QList<Line> judged = judgeItems(linesFor({"x (1).txt", "x (2).txt"}), RuleSet::only(Rule::FirstBracket));
        QCOMPARE(texts(judged), (QStringList{QStringLiteral("x (1).txt/p/"), QStringLiteral("└x (2).txt/p/")}));
        QVERIFY(judgeItems({}, RuleSet::only(Rule::FixedCount)).isEmpty());
        QCOMPARE(texts(judgeItems(linesFor({"one"}), RuleSet::only(Rule::FixedCount, 0))), QStringList{"one/p/"});
    }

    // A name that begins with the mark loses it as the line above, like a marked line;
    // the item keeps its whole name.
    void nameBeginningWithMark() {
        const QList<Line> judged =
            judgeItems(linesFor({QStringLiteral("└ab"), QStringLiteral("ab")}), RuleSet::only(Rule::FixedCount, 2));
        QCOMPARE(shape(judged), QStringLiteral("LM"));
        QCOMPARE(texts(judged), (QStringList{QStringLiteral("└ab/p/"), QStringLiteral("└ab/p/")}));  // alike as shown
        QCOMPARE(judged[0].item.path(), QStringLiteral("p/└ab"));
        QCOMPARE(judged[1].item.path(), QStringLiteral("p/ab"));
    }

    // Several rules checked (only a settings file does this): one mark at the most.
    void severalRulesGiveOneMark() {
        RuleSet rules = RuleSet::only(Rule::FixedCount, 0);
        rules.checked[static_cast<std::size_t>(Rule::LastBracket)] = true;
        const QList<Line> judged = judgeItems(linesFor({"a (1)", "a (2)", "b"}), rules);
        QCOMPARE(judged[1].text(), QStringLiteral("└a (2)/p/"));
        QCOMPARE(judged[2].text(), QStringLiteral("└b/p/"));
        RuleSet none;
        QCOMPARE(shape(judgeItems(linesFor({"a", "a"}), none)), QStringLiteral("LL"));
    }

    void characterCount_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::newRow("30") << QStringLiteral("30") << 30;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("letters") << QStringLiteral("abc") << 0;
        QTest::newRow("leading number") << QStringLiteral("12abc") << 12;
        QTest::newRow("leading blanks") << QStringLiteral("  7") << 7;
        QTest::newRow("half to even down") << QStringLiteral("2.5") << 2;
        QTest::newRow("half to even up") << QStringLiteral("3.5") << 4;
        QTest::newRow("fraction") << QStringLiteral("4.6") << 5;
        QTest::newRow("negative counts as 0") << QStringLiteral("-5") << 0;
        QTest::newRow("beyond 32 bits") << QStringLiteral("99999999999999999999") << 2147483647;
        QTest::newRow("full-width digits are no number") << QStringLiteral("３") << 0;
    }

    void characterCount() {
        QFETCH(QString, text);
        QFETCH(int, count);
        QCOMPARE(kurumu::judgement::characterCount(text), count);
    }

    void extremeCountsJudgeSafely() {
        const QList<Item> lines = linesFor({"same", "same", "other"});
        QCOMPARE(shape(judgeItems(
                     lines, RuleSet::only(Rule::FixedCount, kurumu::judgement::characterCount(QStringLiteral("-9"))))),
                 QStringLiteral("LMM"));
        QCOMPARE(shape(judgeItems(lines, RuleSet::only(Rule::FixedCount, kurumu::judgement::characterCount(
                                                                             QStringLiteral("99999999999999999999"))))),
                 QStringLiteral("LML"));
    }

    void itchiMojisuu() {
        QCOMPARE(ItchiMojisuu(u"", u""), 0);
        QCOMPARE(ItchiMojisuu(u"", u"abc"), 0);
        QCOMPARE(ItchiMojisuu(u"abc", u"abc"), 3);
        QCOMPARE(ItchiMojisuu(u"abc", u"abcd"), 3);
        QCOMPARE(ItchiMojisuu(u"abcd", u"abc"), 3);
        QCOMPARE(ItchiMojisuu(u"abc01", u"abc02"), 4);
    }

    void storedLines() {
        QCOMPARE(itemForPath(QStringLiteral("/in/b.txt")).storedLine(), QStringLiteral("b.txt//in/"));
        QCOMPARE(itemForPath(QStringLiteral("/a.txt")).storedLine(), QStringLiteral("a.txt//"));
        QCOMPARE(itemForPath(QStringLiteral("/in/folder/")).storedLine(), QStringLiteral("folder//in/"));
        QCOMPARE(itemForPath(QStringLiteral("/in/.config")).path(), QStringLiteral("/in/.config"));
        QCOMPARE((Line{itemForPath(QStringLiteral("/data/x (1).txt")), true}.text()),
                 QStringLiteral("└x (1).txt//data/"));

        QList<Item> items{itemForPath("/in/b.txt"), itemForPath("/in/C.txt"), itemForPath("/in/a.txt"),
                          itemForPath("/in/A.txt"), itemForPath("/in/a"),     itemForPath("/in/a b"),
                          itemForPath("/A/a.txt")};
        sortItems(items);
        QStringList lines;
        for (const Item& item : items) lines.append(item.storedLine());
        QCOMPARE(lines, (QStringList{"a b//in/", "a.txt//A/", "a.txt//in/", "A.txt//in/", "a//in/", "b.txt//in/",
                                     "C.txt//in/"}));
    }

    void largeListHasNoSixteenBitLimit() {
        QStringList names;
        for (int i = 0; i < 100000; ++i) names.append(QStringLiteral("photo_%1.jpg").arg(i, 6, 10, QLatin1Char('0')));
        const QList<Line> judged = judgeItems(linesFor(names), RuleSet::only(Rule::Numbering));
        QCOMPARE(judged.size(), 100000);
        QVERIFY(judged.back().marked);
        QVERIFY(!judged.front().marked);
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
