#include "judgement/Rules.h"

#include "judgement/ItemLine.h"

#include <cmath>
#include <limits>

namespace kurumu::judgement {

namespace {

// Folds a character as the desktop's text search does: full-width forms to their
// ASCII counterparts, then ASCII letters to lower case. Only ASCII results are ever
// compared, so other characters need no case folding.
char16_t folded(QChar c) {
    constexpr char16_t kFullWidthFirst = 0xFF01;
    constexpr char16_t kFullWidthLast = 0xFF5E;
    constexpr char16_t kFullWidthOffset = 0xFF01 - 0x21;
    char16_t code = c.unicode();
    if (code >= kFullWidthFirst && code <= kFullWidthLast) code -= kFullWidthOffset;
    if (code >= u'A' && code <= u'Z') code += u'a' - u'A';
    return code;
}

// 1-based position of the first occurrence of the ASCII character in text under folding; 0 if none.
qsizetype findFolded(QStringView text, QChar wanted) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (folded(text[i]) == wanted) return i + 1;
    }
    return 0;
}

// 1-based position of the last "of" under folding, searching on after each hit; 0 if none.
qsizetype findLastOf(QStringView text) {
    qsizetype last = 0;
    for (qsizetype i = 0; i + 1 < text.size();) {
        if (folded(text[i]) == u'o' && folded(text[i + 1]) == u'f') {
            last = i + 1;
            i += 2;
        } else {
            ++i;
        }
    }
    return last;
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Left(prev, p) equals Left(cur, p), with Left giving the whole text when it is shorter.
bool leftEqual(QStringView prev, QStringView cur, qsizetype p) {
    return prev.left(p) == cur.left(p);
}

// The position p with the digits at positions p, p - 1, ... of text walked back over.
std::int32_t withoutTrailingDigits(QStringView text, std::int32_t p) {
    while (p > 0 && p <= text.size() && isDigit(text[p - 1])) --p;
    return p;
}

bool firstBracketMatches(QStringView prev, QStringView cur) {
    qsizetype p = findFolded(prev, u'(');
    if (p == 0) p = findFolded(prev, u'[');
    return p != 0 && leftEqual(prev, cur, p);
}

bool lastBracketMatches(QStringView prev, QStringView cur) {
    for (qsizetype p = prev.size(); p > 0; --p) {
        const QChar c = prev[p - 1];
        if (c == u'(' || c == u'[') return leftEqual(prev, cur, p);
    }
    return false;
}

bool lastOfMatches(QStringView prev, QStringView cur) {
    const qsizetype q = findLastOf(prev);
    if (q == 0) return false;
    qsizetype k = q - 1;
    while (k > 0 && (isDigit(prev[k - 1]) || prev[k - 1] == u' ')) --k;
    if (k == 0) return false;
    return leftEqual(prev, cur, k) && q + 1 <= cur.size() && cur[q - 1].toLower() == u'o' && cur[q].toLower() == u'f';
}

}  // namespace

RuleSet RuleSet::only(Rule rule, std::int32_t count) {
    RuleSet rules;
    rules.checked[static_cast<std::size_t>(rule)] = true;
    rules.count = count;
    return rules;
}

std::int32_t ItchiMojisuu(QStringView a, QStringView b) {
    qsizetype count = 0;
    while (count < a.size() && count < b.size() && a[count] == b[count]) ++count;
    return static_cast<std::int32_t>(std::min<qsizetype>(count, std::numeric_limits<std::int32_t>::max()));
}

std::int32_t characterCount(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    const qsizetype start = i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
    const qsizetype digitsStart = i;
    while (i < text.size() && isDigit(text[i])) ++i;
    bool hasDigits = i > digitsStart;
    if (i < text.size() && text[i] == u'.') {
        const qsizetype fractionStart = ++i;
        while (i < text.size() && isDigit(text[i])) ++i;
        hasDigits = hasDigits || i > fractionStart;
    }
    if (!hasDigits) return 0;
    const double value = text.sliced(start, i - start).toDouble();
    const double rounded = std::nearbyint(value);  // the default rounding: halves to even
    if (!(rounded > 0)) return 0;
    if (rounded >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(rounded);
}

bool Judge::matches(QStringView prev, QStringView cur) {
    bool any = false;
    // Every checked rule is evaluated, so that the numbering rule's reference length
    // follows every pair as it does when that rule alone is checked.
    for (const Rule rule : kAllRules) {
        if (m_rules.isChecked(rule) && matches(rule, prev, cur)) any = true;
    }
    return any;
}

bool Judge::matches(Rule rule, QStringView prev, QStringView cur) {
    switch (rule) {
        case Rule::FixedCount:
            return leftEqual(prev, cur, m_rules.count);
        case Rule::FirstBracket:
            return firstBracketMatches(prev, cur);
        case Rule::LastBracket:
            return lastBracketMatches(prev, cur);
        case Rule::LastOf:
            return lastOfMatches(prev, cur);
        case Rule::Numbering: {
            if (prev.size() != cur.size()) {
                m_referenceLength = 0;
                return false;
            }
            const std::int32_t common = ItchiMojisuu(prev, cur);
            if (m_referenceLength == 0) m_referenceLength = withoutTrailingDigits(prev, common);
            const std::int32_t p = withoutTrailingDigits(prev, common);
            return p != 0 && p == m_referenceLength;
        }
    }
    return false;
}

QList<Line> judgeItems(const QList<Item>& items, const RuleSet& rules) {
    QList<Line> judged;
    judged.reserve(items.size());
    for (const Item& item : items) judged.append({item});
    judgeLines(judged, rules);
    return judged;
}

void judgeLines(QList<Line>& lines, const RuleSet& rules) {
    Judge judge(rules);
    QString above;
    for (qsizetype row = 0; row < lines.size(); ++row) {
        // The name above as its line reads, one mark taken off: a name that itself begins
        // with the mark loses it here, as it always has.
        QString name = comparable(lines[row].item.name);
        lines[row].marked =
            row > 0 && judge.matches(lines[row - 1].marked ? QStringView(above) : withoutMark(above), name);
        above = std::move(name);
    }
}

}  // namespace kurumu::judgement
