#pragma once

#include "judgement/ItemLine.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>

// The user's corrections of a judged list: gathering folders for the groups.
namespace kurumu::judgement {

// The name of the gathering folder for a leader's name: its base name (cut to the first
// count characters when byCount is set), the first count characters of the name when
// that gives the name itself, with trailing half- and full-width spaces removed. A cut
// never splits a character that takes two UTF-16 units: it falls before it.
QString gatheringFolderName(const QString& leaderName, std::int32_t count, bool byCount);

// True for a name that names one folder directly inside its parent: not empty, not "."
// or "..", without "/".
bool namesAFolderInside(const QString& name);

// Makes sure that a folder exists at the path; false after the failure was reported.
using EnsureFolder = std::function<bool(const QString& folderPath)>;

struct GatheredLines {
    QList<Line> lines;
    QList<Item> refused;  // leaders whose folder name would name no folder beside them
};

// Which leaders get a folder; every one when empty.
using LeaderFilter = std::function<bool(const Item& leader)>;

// Puts a folder line in front of every leader (every one that only accepts) and marks the
// old leader as its member. A group whose folder could not be made, or whose folder name
// names no folder directly in the leader's own folder, keeps its lines unchanged.
GatheredLines withGatheringFolders(const QList<Line>& lines, std::int32_t count, bool byCount,
                                   const EnsureFolder& ensureFolder, const LeaderFilter& only = {});

// The one message that names the refused leaders, one path a line.
QString refusedFoldersText(const QList<Item>& refused);

}  // namespace kurumu::judgement
