#include "judgement/ItemLine.h"

#include "platform/Paths.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace kurumu::judgement {

QStringView withoutMark(QStringView text) {
    return !text.isEmpty() && text.front() == kMark ? text.sliced(1) : text;
}

namespace {

// The item of a path whose parent folder may be known already (that of the item before
// it, in a list): the known string is then shared rather than made again.
Item itemIn(const QString& path, const QString& knownParent) {
    const QString trimmed = platform::withoutTrailingSeparator(path);
    const qsizetype slash = platform::lastSeparator(trimmed);
    if (slash < 0) return {trimmed.right(std::max<qsizetype>(0, trimmed.size() - 1)), QString(platform::kSeparator)};
    const QStringView parent = QStringView(trimmed).first(slash + 1);
    return {trimmed.mid(slash + 1), parent == knownParent ? knownParent : parent.toString(), trimmed};
}

}  // namespace

Item itemForPath(const QString& path) {
    return itemIn(path, {});
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

namespace {

// An item's line ("name/parent") as the sort compares it: composed and case-folded, kept
// as its two parts. A name that folding leaves alone is the item's own string; the parent
// is told by its place among the folded parents, each folded once for its folder.
struct SortKey {
    QString name;
    std::size_t parent = 0;
};

// The order of the lines name + "/" + parent, without building them: a name never holds
// "/", so where one name is the start of the other, "/" meets the longer name's next
// character.
bool lineBefore(const SortKey& a, const SortKey& b, const std::vector<QString>& parents) {
    const qsizetype common = std::min(a.name.size(), b.name.size());
    const auto [left, right] = std::mismatch(a.name.cbegin(), a.name.cbegin() + common, b.name.cbegin());
    if (left != a.name.cbegin() + common) return *left < *right;
    if (a.name.size() == b.name.size()) return a.parent != b.parent && parents[a.parent] < parents[b.parent];
    return a.name.size() < b.name.size() ? kNameEnd < b.name[common] : a.name[common] < kNameEnd;
}

// The entries of the lists that hold items: items themselves, or lines.
const Item& itemOf(const Item& item) {
    return item;
}
const Item& itemOf(const Line& line) {
    return line.item;
}
Item& itemOf(Item& item) {
    return item;
}
Item& itemOf(Line& line) {
    return line.item;
}

// Entries for dropped paths, in their order; items in one folder share one copy of its
// path, so that a long list holds each folder once.
template <typename T>
QList<T> forPaths(const QStringList& paths) {
    QList<T> entries;
    entries.reserve(paths.size());
    for (const QString& path : paths)
        entries.append(T{itemIn(path, entries.isEmpty() ? QString() : itemOf(entries.back()).parent)});
    return entries;
}

template <typename T>
void sortByItem(QList<T>& items) {
    // Sorted as positions, each compared by its key made once: the sort moves numbers, not
    // strings.
    std::vector<SortKey> keys;
    std::vector<QString> parents;
    keys.reserve(static_cast<std::size_t>(items.size()));
    for (const T& entry : items) {
        const Item& item = itemOf(entry);
        const bool sameFolder =
            !keys.empty() && itemOf(items[static_cast<qsizetype>(keys.size()) - 1]).parent == item.parent;
        if (!sameFolder) parents.push_back(comparable(item.parent).toCaseFolded());
        keys.push_back({comparable(item.name).toCaseFolded(), parents.size() - 1});
    }
    std::vector<qsizetype> order(keys.size());
    std::iota(order.begin(), order.end(), qsizetype{0});
    const auto before = [&](qsizetype a, qsizetype b) {
        return lineBefore(keys[static_cast<std::size_t>(a)], keys[static_cast<std::size_t>(b)], parents);
    };
    // Items given in order already (a shell's expansion, as a rule) are left as they are,
    // after one comparison each rather than a sort.
    if (std::is_sorted(order.cbegin(), order.cend(), before)) return;
    std::stable_sort(order.begin(), order.end(), before);
    keys = {};
    // The items put in that order where they are: each cycle of the order followed once.
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (order[start] < 0) continue;
        T held = std::move(items[static_cast<qsizetype>(start)]);
        std::size_t place = start;
        while (true) {
            const auto from = static_cast<std::size_t>(order[place]);
            order[place] = -1;
            if (from == start) break;
            items[static_cast<qsizetype>(place)] = std::move(items[static_cast<qsizetype>(from)]);
            place = from;
        }
        items[static_cast<qsizetype>(place)] = std::move(held);
    }
}

}  // namespace

QList<Item> itemsForPaths(const QStringList& paths) {
    return forPaths<Item>(paths);
}

void sortItems(QList<Item>& items) {
    sortByItem(items);
}

QList<Line> sortedLinesForPaths(const QStringList& paths) {
    QList<Line> lines = forPaths<Line>(paths);
    sortByItem(lines);
    return lines;
}

}  // namespace kurumu::judgement
