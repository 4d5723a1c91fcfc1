#include "judgement/Editing.h"

#include "platform/Paths.h"

#include <algorithm>

namespace kurumu::judgement {

namespace {

// The first count characters, one fewer where the cut would split a surrogate pair.
QString firstCharacters(const QString& text, std::int32_t count) {
    qsizetype length = std::min<qsizetype>(std::max(count, 0), text.size());
    if (length > 0 && length < text.size() && text[length - 1].isHighSurrogate()) --length;
    return text.left(length);
}

}  // namespace

QString gatheringFolderName(const QString& leaderName, std::int32_t count, bool byCount) {
    QString folder = platform::GetBaseName(leaderName);
    if (byCount) folder = firstCharacters(folder, count);
    if (folder == leaderName) folder = firstCharacters(leaderName, count);
    while (folder.endsWith(u' ') || folder.endsWith(u'\u3000')) folder.chop(1);
    return folder;
}

bool namesAFolderInside(const QString& name) {
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(platform::kSeparator);
}

GatheredLines withGatheringFolders(const QList<Line>& lines, std::int32_t count, bool byCount,
                                   const EnsureFolder& ensureFolder) {
    GatheredLines result;
    result.lines.reserve(lines.size() * 2);
    for (const Line& line : lines) {
        if (line.marked) {
            result.lines.append(line);
            continue;
        }
        const Item folder{gatheringFolderName(line.item.name, count, byCount), line.item.parent};
        if (!namesAFolderInside(folder.name)) {
            result.refused.append(line.item);
            result.lines.append(line);
            continue;
        }
        if (!ensureFolder(folder.path())) {
            result.lines.append(line);
            continue;
        }
        result.lines.append({folder, false});
        result.lines.append({line.item, true});
    }
    return result;
}

QString refusedFoldersText(const QList<Item>& refused) {
    QString text = QStringLiteral(
        "次の項目は、名前から同じ場所に作るフォルダの名前が決まらないため、まとめるフォルダを作りませんでした:");
    for (const Item& item : refused) text += u'\n' + item.path();
    return text;
}

}  // namespace kurumu::judgement
