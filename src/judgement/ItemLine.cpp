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

void sortItems(QList<Item>& items) {
    // Sorted as positions, each compared by its line made once: the sort moves numbers,
    // not three strings an item.
    std::vector<QString> lines;
    lines.reserve(static_cast<std::size_t>(items.size()));
    for (const Item& item : items) lines.push_back(item.storedLine());
    std::vector<qsizetype> order(lines.size());
    std::iota(order.begin(), order.end(), qsizetype{0});
    std::stable_sort(order.begin(), order.end(), [&lines](qsizetype a, qsizetype b) {
        return QString::compare(lines[static_cast<std::size_t>(a)], lines[static_cast<std::size_t>(b)],
                                Qt::CaseInsensitive) < 0;
    });
    QList<Item> sorted;
    sorted.reserve(items.size());
    for (const qsizetype position : order) sorted.append(std::move(items[position]));
    items = std::move(sorted);
}

}  // namespace kurumu::judgement
