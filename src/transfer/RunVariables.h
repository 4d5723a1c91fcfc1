#pragma once

#include "platform/FileServices.h"
#include "transfer/NameCounter.h"

#include <QSet>

#include <QString>

#include <cstdint>

namespace kurumu::transfer {

inline constexpr std::int16_t kStopRequested = 1;

// The variables that the run driver, the transfer routines and the Stop button share.
struct RunVariables {
    QString strLog;  // the run log, each line after "\r\n"
    // Off where each line goes out as it comes and nothing shows the whole log afterwards
    // (the batch mode): a long run then keeps no copy of its lines.
    bool keepLog = true;
    std::int16_t intCancel = 0;  // 1 = stop requested
    // Stop, a signal or a journal that cannot be written: the whole Execute ends, where an
    // error ends only its group's run.
    bool endExecute = false;
    NameCounter varNameCount;  // the sequence numbers handed out per file name
    // The folders that this Execute made (with those that folder creation made for it):
    // they hold only what the run put there, and are never walked.
    QSet<platform::Identity> madeFolders;

    // Asks the run under way to stop as the Stop button does: the file under way is
    // finished or abandoned whole, and no further group of the Execute runs.
    void requestStop() {
        intCancel = kStopRequested;
        strLog += QStringLiteral("\r\n");
        endExecute = true;
    }
};

}  // namespace kurumu::transfer
