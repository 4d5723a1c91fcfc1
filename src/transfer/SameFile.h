#pragma once

#include "platform/Errors.h"

#include <QString>

#include <cstdint>

// The decisions of a name collision that need no window: whether a name is free, the
// numbered names, and whether two files count as the same file.
namespace kurumu::transfer {

// What holds a proposed destination name.
enum class Presence : std::int16_t {
    Free = 0,         // no file of that name
    OtherLength = 1,  // a file of another length
    SameLength = 2,   // a file of the same length
};

// Tests the destination path against the source file; the lengths are 64-bit.
platform::Result<Presence> FileHikaku(const QString& source, const QString& destinationPath);

// Where a collision number goes.
enum class NumberPlace {
    AfterName,        // photo.jpg_000
    BeforeExtension,  // photo_000.jpg
};

// A proposed name: as the log shows it, and as it is tried on the disk. They differ only
// for a numbered name without extension placed before it ("readme_000." in the log,
// "readme_000" on the disk), since a name cannot end in the dot there.
struct Candidate {
    QString logText;
    QString diskName;
};

Candidate plainCandidate(const QString& name);
// The numbered name for a number, at least three digits, zero-padded.
Candidate numberedCandidate(const QString& name, qint64 number, NumberPlace place);

// Whether two files of equal name and length count as the same file: symbolic links only
// when both are links to the same target; with checksums, when the CRC-32 texts agree.
platform::Result<bool> sameContents(const QString& source, const QString& destinationPath, bool compareChecksums);

}  // namespace kurumu::transfer
