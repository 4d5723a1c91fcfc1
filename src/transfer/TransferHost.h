#pragma once

#include <QString>

// What the transfer routines ask of the program that hosts them: the window binds each
// request to its controls, the batch mode to its standard streams, the tests to a recorder.
namespace kurumu::transfer {

class TransferHost {
public:
    TransferHost() = default;
    TransferHost(const TransferHost&) = delete;
    TransferHost& operator=(const TransferHost&) = delete;
    virtual ~TransferHost() = default;

    // A modal warning with an OK button, brought to the front; detail names the file and
    // the system's reason, beside the warning's own text.
    virtual void showWarning(const QString& title, const QString& text, const QString& detail = {}) = 0;
    // An item failed (its path and why), whether a warning was shown for it or not.
    virtual void itemFailed(const QString& detail) { (void)detail; }
    // The one-line status of the file being handled.
    virtual void showStatus(const QString& line) = 0;
    // Lets the host handle its pending events once (a click on Stop, for instance).
    virtual void processEvents() = 0;
};

}  // namespace kurumu::transfer
