#pragma once

#include "judgement/ItemLine.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

// Reading a judged item list as the groups of an Execute run.
namespace kurumu::judgement {

// One group of the judged list: its leader's line and the member lines below it.
struct Group {
    qsizetype leaderRow = 0;
    QString leaderPath;
    QStringList memberPaths;

    bool runs() const { return !memberPaths.isEmpty(); }
};

// The groups of a judged list in order: line 0 and every unmarked line lead one.
std::vector<Group> groupsOf(const QList<Line>& lines);

}  // namespace kurumu::judgement
