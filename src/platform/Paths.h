#pragma once

#include "platform/Path.h"

#include <QString>

// Text operations on paths, as the file-system object of the original desktop answered
// them, with "/" as the separator. None of them touches the disk.
namespace kurumu::platform {

inline constexpr QChar kSeparator = u'/';

// The folder part of a path, before its last separator; the root for a path directly
// below it, and the empty text for the root itself or a bare name.
QString GetParentfolderName(const QString& path);
// The last component of a path.
QString GetFileName(const QString& path);
// The same, as a view into the path.
QStringView fileNameIn(QStringView path);
// The last component without its extension (the text from its last ".").
QString GetBaseName(const QString& path);
// The text after the last "." of the last component; empty when there is none.
QString GetExtensionName(const QString& path);

// The path with one separator at its end (unchanged when it already ends in one).
QString withTrailingSeparator(const QString& path);
// The path without separators at its end; the root stays the root.
QString withoutTrailingSeparator(const QString& path);
QStringView withoutTrailingSeparators(QStringView path);

// The root of the file system, where a drop points the destination.
QString systemRoot();

}  // namespace kurumu::platform

namespace kurumu::platform {

// The process's working directory; empty when its name is not valid UTF-8, since a
// QString could not name it exactly.
QString workingFolder();
// The path made absolute against a folder. "." and repeated separators are dropped as
// text; a ".." is resolved by the file system, after the links before it, as the shell
// and every other program would resolve it.
// Empty for a relative path against an empty base.
QString absolutePath(const QString& path, const QString& base = workingFolder());

}  // namespace kurumu::platform
