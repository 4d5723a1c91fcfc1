#pragma once

#include <QString>

// What the transfer routines ask of the program that hosts them: the window binds each
// request to its controls, the batch mode to its arguments and standard streams, the
// tests to a recorder.
namespace kurumu::transfer {

// The options the transfer reads, each at the moment it needs it.
enum class Option {
    NumberAfterExtension,  // the collision number follows the extension
    Crc32,                 // equal length is not enough: the checksums must agree
    CheckAllNumbers,       // every numbered name is tested from 000 on each collision
    KeepStructure,         // folder trees are rebuilt below the destination
    IgnoreOtherErrors,     // errors outside the write errors pass silently
};

class TransferHost {
public:
    TransferHost() = default;
    TransferHost(const TransferHost&) = delete;
    TransferHost& operator=(const TransferHost&) = delete;
    virtual ~TransferHost() = default;

    virtual bool option(Option option) = 0;
    // A modal warning with an OK button, brought to the front.
    virtual void showWarning(const QString& title, const QString& text) = 0;
    // The one-line status of the file being handled.
    virtual void showStatus(const QString& line) = 0;
    // Lets the host handle its pending events once (a click on Stop, for instance).
    virtual void processEvents() = 0;
};

}  // namespace kurumu::transfer
