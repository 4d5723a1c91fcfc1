#include "judgement/ItemLine.h"

#include "platform/Paths.h"

#include <algorithm>
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
    struct Keyed {
        QString line;
        Item item;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(static_cast<std::size_t>(items.size()));
    for (Item& item : items) keyed.push_back({item.storedLine(), std::move(item)});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return QString::compare(a.line, b.line, Qt::CaseInsensitive) < 0;
    });
    for (qsizetype i = 0; i < items.size(); ++i) items[i] = std::move(keyed[static_cast<std::size_t>(i)].item);
}

}  // namespace kurumu::judgement
