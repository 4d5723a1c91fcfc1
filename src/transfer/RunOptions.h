#pragma once

#include "platform/FileServices.h"
#include "platform/Settings.h"

#include <QString>

// What a run is told to do, as the options' controls (or the command line) hold it.
namespace kurumu::transfer {

enum class Operation { Move, Copy };

// Where a collision number goes.
enum class NumberPlace {
    AfterName,        // photo.jpg_000
    BeforeExtension,  // photo_000.jpg
};

// The variations of the one transfer algorithm: move or copy, and where numbers go.
struct Family {
    Operation operation = Operation::Move;
    NumberPlace numberPlace = NumberPlace::BeforeExtension;
};

inline constexpr Family kMove{Operation::Move, NumberPlace::AfterName};
inline constexpr Family kCopy{Operation::Copy, NumberPlace::AfterName};
inline constexpr Family kMove2{Operation::Move, NumberPlace::BeforeExtension};
inline constexpr Family kCopy2{Operation::Copy, NumberPlace::BeforeExtension};

// The family of a run: move when the mode text is exactly "移動", copy for any other
// text; numbers after the name when the numbering option is on.
Family familyFor(const QString& operationMode, bool numberAfterExtension);

struct RunOptions {
    Family family = kMove2;
    bool checkAllNumbers = false;    // every numbered name is tested from 000 on each collision
    bool keepStructure = false;      // folder trees are rebuilt below the destination
    bool ignoreOtherErrors = false;  // errors outside the write errors pass silently
    bool verifyEveryCopy = false;    // every copy read back and checked, as a move across file systems always is
};

// The file services' check of copies: the CRC-32 of the bytes read against that of the copy
// read back (every copy, or only those of moves across file systems).
platform::CopyCheck copyCheck(bool everyCopy);

// The run options that the options' controls (or the command line) hold.
RunOptions runOptionsOf(const platform::OptionStates& states);

}  // namespace kurumu::transfer
