#include "judgement/Editing.h"

#include "judgement/ItemLine.h"
#include "platform/Paths.h"

namespace kurumu::judgement {

QString gatheringFolderName(const QString& leaderName, std::int32_t count, bool byCount) {
    QString folder = platform::GetBaseName(leaderName);
    if (byCount) folder = folder.left(count);
    if (folder == leaderName) folder = leaderName.left(count);
    while (folder.endsWith(u' ') || folder.endsWith(u'\u3000')) folder.chop(1);
    return folder;
}

QStringList withGatheringFolders(const QStringList& lines, std::int32_t count, bool byCount,
                                 const EnsureFolder& ensureFolder) {
    QStringList result;
    result.reserve(lines.size() * 2);
    for (const QString& line : lines) {
        if (isMarked(line)) {
            result.append(line);
            continue;
        }
        const QString parent = parentOf(line).toString();
        const QString folder = gatheringFolderName(nameOf(line).toString(), count, byCount);
        if (!ensureFolder(parent + folder)) {
            result.append(line);
            continue;
        }
        result.append(folder + kNameEnd + parent);
        result.append(marked(line));
    }
    return result;
}

}  // namespace kurumu::judgement
