#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

// The items of both item lists and the lines that show them. A line reads: an optional
// mark "└", the item's name, "/", and the full path of the folder that holds it, ending
// in "/". The line is only ever shown: what a command acts on is the item it was made
// from, so that a name which itself begins with "└" is never mistaken for a mark.
namespace kurumu::judgement {

inline constexpr QChar kMark = u'\u2514';
inline constexpr QChar kNameEnd = u'/';

// A dropped file or folder: its name and the folder that holds it.
struct Item {
    QString name;
    QString parent;  // ends in "/"
    // The path as it was dropped, when it reads parent + name: its path is then that very
    // string, not a copy, so that a long list holds each path once.
    QString given = {};

    // Otherwise built at its exact length (a QString + QString would leave room to grow).
    QString path() const { return given.isEmpty() ? parent + QStringView(name) : given; }
    // The unmarked line: name, "/", parent.
    QString storedLine() const { return name + kNameEnd + parent; }
    bool operator==(const Item& other) const { return name == other.name && parent == other.parent; }
};

// One line of the judged list: an item, and whether it is marked as a member of the
// group above.
struct Line {
    Item item;
    bool marked = false;

    QString text() const { return marked ? kMark + item.storedLine() : item.storedLine(); }
    bool operator==(const Line&) const = default;
};

// The text with one leading mark removed, if it has one.
QStringView withoutMark(QStringView text);

// The item of a dropped path: its last component and its parent folder ending in "/".
Item itemForPath(const QString& path);
// The items of dropped paths, in their order; items in one folder share one copy of its
// path, so that a long list holds each folder once.
QList<Item> itemsForPaths(const QStringList& paths);

// A name as the judgement compares it: composed (NFC), so that a name spelled with
// combining marks (NFD, as some systems write names) reads as its composed twin. The
// files themselves keep their own names.
QString comparable(const QString& text);

// The first count characters of a name as comparable() counts them, taken from the
// name's own spelling, never cut between a character and its combining marks.
QString leadingCharacters(const QString& name, qsizetype count);

// Sorts items by their stored lines as comparable() reads them, ascending, ignoring
// letter case, keeping equal lines in their order.
void sortItems(QList<Item>& items);
// The unmarked lines of dropped paths, their items sorted so: a long drop held in one
// list rather than as items and then as lines.
QList<Line> sortedLinesForPaths(const QStringList& paths);

}  // namespace kurumu::judgement
