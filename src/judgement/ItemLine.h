#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// The item line, the text unit of both item lists: an optional mark "└", the item's
// name, "/", and the full path of the folder that holds it, ending in "/".
namespace kurumu::judgement {

inline constexpr QChar kMark = u'\u2514';
inline constexpr QChar kNameEnd = u'/';

bool isMarked(QStringView line);
// The line with one leading mark removed, if it has one.
QStringView withoutMark(QStringView line);
QString marked(const QString& line);
// Adds the mark to an unmarked line and removes it from a marked one.
QString toggledMark(const QString& line);

// The text before the first "/" (the mark, if any, included).
QStringView nameOf(QStringView line);
// The text after the first "/".
QStringView parentOf(QStringView line);

// The stored line of a dropped path: name, "/", and the parent folder ending in "/".
QString storedLineForPath(const QString& path);
// The item's full path: the parent folder followed by the name, without the mark.
QString ParseListLine(QStringView line);

// Sorts lines ascending, ignoring letter case, keeping equal lines in their order.
void sortStoredLines(QStringList& lines);

}  // namespace kurumu::judgement
