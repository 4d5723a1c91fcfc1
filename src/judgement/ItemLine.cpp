#include "judgement/ItemLine.h"

#include "platform/Paths.h"

#include <algorithm>

namespace kurumu::judgement {

bool isMarked(QStringView line) {
    return !line.isEmpty() && line.front() == kMark;
}

QStringView withoutMark(QStringView line) {
    return isMarked(line) ? line.sliced(1) : line;
}

QString marked(const QString& line) {
    return kMark + line;
}

QString toggledMark(const QString& line) {
    return isMarked(line) ? line.mid(1) : marked(line);
}

QStringView nameOf(QStringView line) {
    const qsizetype end = line.indexOf(kNameEnd);
    return end < 0 ? line : line.first(end);
}

QStringView parentOf(QStringView line) {
    const qsizetype end = line.indexOf(kNameEnd);
    return end < 0 ? QStringView() : line.sliced(end + 1);
}

QString storedLineForPath(const QString& path) {
    const QString trimmed = platform::withoutTrailingSeparator(path);
    const QString parent = platform::withTrailingSeparator(platform::GetParentfolderName(trimmed));
    const QString name = trimmed.right(std::max<qsizetype>(0, trimmed.size() - parent.size()));
    return name + kNameEnd + parent;
}

QString ParseListLine(QStringView line) {
    const QStringView name = withoutMark(nameOf(line));
    return parentOf(line).toString() + name;
}

void sortStoredLines(QStringList& lines) {
    std::stable_sort(lines.begin(), lines.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
}

}  // namespace kurumu::judgement
