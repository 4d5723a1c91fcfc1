#include "judgement/ItemLine.h"

#include "platform/Paths.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace kurumu::judgement {

QStringView withoutMark(QStringView text) {
    return !text.isEmpty() && text.front() == kMark ? text.sliced(1) : text;
}

Item itemForPath(const QString& path) {
    const QString trimmed = platform::withoutTrailingSeparator(path);
    const QString parent = platform::withTrailingSeparator(platform::GetParentfolderName(trimmed));
    const QString name = trimmed.right(std::max<qsizetype>(0, trimmed.size() - parent.size()));
    return {name, parent};
}

QString comparable(const QString& text) {
    // Below U+0300 no character composes with another: most names need no work.
    const bool plain = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x300; });
    return plain ? text : text.normalized(QString::NormalizationForm_C);
}

QString leadingCharacters(const QString& name, qsizetype count) {
    qsizetype end = std::clamp<qsizetype>(count, 0, name.size());
    if (comparable(name) != name) {
        end = 0;
        while (end < name.size() && comparable(name.left(end + 1)).size() <= count) ++end;
    }
    // A cut never splits a character that takes two UTF-16 units: it falls before it; nor
    // does it part a character from its combining marks.
    if (end > 0 && end < name.size() && name[end - 1].isHighSurrogate()) --end;
    while (end > 0 && end < name.size() && name[end].isMark()) ++end;
    return name.left(end);
}

void sortItems(QList<Item>& items) {
    // Sorted as positions, each compared by its line made once: the sort moves numbers,
    // not three strings an item.
    // Each line folded once, so that the sort compares code units (letter case ignored).
    std::vector<QString> lines;
    lines.reserve(static_cast<std::size_t>(items.size()));
    for (const Item& item : items) lines.push_back(comparable(item.storedLine()).toCaseFolded());
    std::vector<qsizetype> order(lines.size());
    std::iota(order.begin(), order.end(), qsizetype{0});
    std::stable_sort(order.begin(), order.end(), [&lines](qsizetype a, qsizetype b) {
        return lines[static_cast<std::size_t>(a)] < lines[static_cast<std::size_t>(b)];
    });
    QList<Item> sorted;
    sorted.reserve(items.size());
    for (const qsizetype position : order) sorted.append(std::move(items[position]));
    items = std::move(sorted);
}

}  // namespace kurumu::judgement
