#include "judgement/Editing.h"

#include "platform/Paths.h"

#include <algorithm>

namespace kurumu::judgement {

QString gatheringFolderName(const QString& leaderName, std::int32_t count, bool byCount) {
    QString folder = platform::GetBaseName(leaderName);
    if (byCount) folder = leadingCharacters(folder, count);
    if (folder == leaderName) folder = leadingCharacters(leaderName, count);
    while (folder.endsWith(u' ') || folder.endsWith(u'\u3000')) folder.chop(1);
    return folder;
}

bool namesAFolderInside(const QString& name) {
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(platform::kSeparator);
}

GatheredLines withGatheringFolders(const QList<Line>& lines, std::int32_t count, bool byCount,
                                   const EnsureFolder& ensureFolder, const LeaderFilter& only) {
    GatheredLines result;
    result.lines.reserve(lines.size() * 2);
    for (const Line& line : lines) {
        if (line.marked || (only && !only(line.item))) {
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
