#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// The user's corrections of a judged list: gathering folders for the groups.
namespace kurumu::judgement {

// The name of the gathering folder for a leader's name: its base name (cut to the first
// count characters when byCount is set), the first count characters of the name when
// that gives the name itself, with trailing half- and full-width spaces removed.
QString gatheringFolderName(const QString& leaderName, std::int32_t count, bool byCount);

// Makes sure that a folder exists at the path; false after the failure was reported.
using EnsureFolder = std::function<bool(const QString& folderPath)>;

// Puts a folder line in front of every leader and marks the old leader as its member.
// A group whose folder could not be made keeps its lines unchanged.
QStringList withGatheringFolders(const QStringList& lines, std::int32_t count, bool byCount,
                                 const EnsureFolder& ensureFolder);

}  // namespace kurumu::judgement
