#include "judgement/GroupPlan.h"

namespace kurumu::judgement {

std::vector<Group> groupsOf(const QList<Line>& lines) {
    std::vector<Group> groups;
    for (qsizetype row = 0; row < lines.size(); ++row) {
        const Line& line = lines[row];
        if (row > 0 && line.marked) {
            groups.back().memberPaths.append(line.item.path());
        } else {
            groups.push_back({row, line.item.path(), {}});
        }
    }
    return groups;
}

}  // namespace kurumu::judgement
