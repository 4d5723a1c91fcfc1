#pragma once

#include "judgement/ItemLine.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <cstdint>

// The grouping judgement: each line of the stored list is compared with the line above
// it, and marked as a member of the group above when the active rule says they match.
namespace kurumu::judgement {

// The five rules, in the order in which they are evaluated.
enum class Rule {
    FixedCount,    // the first N characters
    FirstBracket,  // up to the first "(" (or, without one, the first "[")
    LastBracket,   // up to the last "(" or "["
    LastOf,        // up to the last "of", less the digits and spaces before it
    Numbering,     // names that differ only in a number
};
inline constexpr std::array kAllRules{Rule::FixedCount, Rule::FirstBracket, Rule::LastBracket, Rule::LastOf,
                                      Rule::Numbering};

// Which rules are checked (normally exactly one) and the character count N.
struct RuleSet {
    std::array<bool, kAllRules.size()> checked{};
    std::int32_t count = 30;

    bool isChecked(Rule rule) const { return checked[static_cast<std::size_t>(rule)]; }
    static RuleSet only(Rule rule, std::int32_t count = 30);
};

// The number of leading positions at which a and b hold the same character, at most the
// length of a.
std::int32_t ItchiMojisuu(QStringView a, QStringView b);

// The character count N of the count box's text: the decimal number it begins with,
// rounded half to even; 0 when it begins with no number. A negative number counts as 0
// (every name matches) and one beyond the 32-bit range as the largest 32-bit count
// (whole names must be equal).
std::int32_t characterCount(QStringView text);

// Compares each name with the one above it under a rule set. The numbering rule keeps
// its reference length from one pair to the next, so one judge serves one judgement.
class Judge {
public:
    explicit Judge(const RuleSet& rules) : m_rules(rules) {}

    // True when cur joins the group of prev under any checked rule.
    bool matches(QStringView prev, QStringView cur);

private:
    bool matches(Rule rule, QStringView prev, QStringView cur);

    RuleSet m_rules;
    std::int32_t m_referenceLength = 0;
};

// The judged item list of the stored items: every line that matches the line above it is
// marked once; line 0 never is.
QList<Line> judgeItems(const QList<Item>& items, const RuleSet& rules);
// The same, on lines already in their order: each is marked, or not, where it stands.
void judgeLines(QList<Line>& lines, const RuleSet& rules);

}  // namespace kurumu::judgement
