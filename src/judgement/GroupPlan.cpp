#include "judgement/GroupPlan.h"

#include "judgement/ItemLine.h"

namespace kurumu::judgement {

std::vector<Group> groupsOf(const QStringList& lines) {
    std::vector<Group> groups;
    for (qsizetype row = 0; row < lines.size(); ++row) {
        const QString& line = lines[row];
        if (row > 0 && isMarked(line)) {
            groups.back().memberPaths.append(ParseListLine(line));
        } else {
            groups.push_back({row, ParseListLine(line), {}});
        }
    }
    return groups;
}

}  // namespace kurumu::judgement
