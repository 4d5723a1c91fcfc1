#pragma once

#include "platform/FileServices.h"
#include "transfer/RunOptions.h"

#include <QString>

// The decisions of a name collision: what holds a proposed name, and the numbered names.
namespace kurumu::transfer {

// What holds a proposed destination name.
enum class Presence {
    Free,       // nothing of that name
    OtherFile,  // anything but a file with the source's bytes: the source is numbered
    SameBytes,  // a regular file of equal length and equal bytes: the same file
};

// Tests the proposed destination path against the source. Identity is proved by the
// bytes: equal length alone, or equal names, never make two files the same.
platform::Result<Presence> FileHikaku(platform::FileServices& files, const platform::Path& source,
                                      const platform::Path& destinationPath, const platform::KeepGoing& keepGoing);

// A proposed name: as the log shows it, and as it is tried on the disk. They differ only
// for a numbered name without extension placed before it ("readme_000." in the log,
// "readme_000" on the disk), since a name cannot end in the dot there.
struct Candidate {
    QString logText;
    QString diskName;
};

// The numbered name for a number, at least three digits, zero-padded.
Candidate numberedCandidate(const QString& name, qint64 number, NumberPlace place);

}  // namespace kurumu::transfer
