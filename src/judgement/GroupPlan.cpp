#include "judgement/GroupPlan.h"

namespace kurumu::judgement {

namespace {

bool leads(const QList<Line>& lines, qsizetype row) {
    return row == 0 || !lines[row].marked;
}

}  // namespace

std::vector<Group> groupsOf(const QList<Line>& lines) {
    std::vector<Group> groups;
    for (qsizetype row = 0; row < lines.size(); ++row) {
        if (!leads(lines, row)) continue;
        qsizetype end = row + 1;
        while (end < lines.size() && !leads(lines, end)) ++end;
        Group group{row, lines[row].item.path(), {}};
        group.memberPaths.reserve(end - row - 1);
        for (qsizetype member = row + 1; member < end; ++member) group.memberPaths.append(lines[member].item.path());
        groups.push_back(std::move(group));
    }
    return groups;
}

}  // namespace kurumu::judgement
