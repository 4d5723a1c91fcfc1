#include "transfer/RunDriver.h"

#include "platform/FileSystem.h"
#include "platform/TimeOfDay.h"
#include "transfer/Transfer.h"

namespace kurumu::transfer {

namespace {

void transferItem(Transfer& transfer, RunHost& host, const QString& item, bool numberAfterExtension) {
    const Family family = familyFor(host.operationMode(), numberAfterExtension);
    const QString destination = host.destinationFolder();
    if (platform::FileExists(item)) {
        transfer.transferFile(family, item, destination);
    } else {
        transfer.transferFolder(family, item, destination);
    }
}

}  // namespace

bool MatomeJikkou(RunVariables& variables, RunHost& host, const QStringList& items) {
    variables.strLog.clear();
    const QString startTime = platform::timeOfDayText();
    host.runStarted(startTime, static_cast<qint32>(items.size()));
    variables.varNameCount.reset();

    const auto stop = [&](bool afterNumberBeforeExtension) {
        variables.intCancel = 0;
        host.runEnded(
            {true, variables.strLog + kRunStopped, startTime, platform::timeOfDayText(), afterNumberBeforeExtension});
        return false;
    };
    if (variables.intCancel == kStopRequested) return stop(false);

    host.showStatus(kRunStart);
    variables.strLog = kRunStart;
    const bool numberAfterExtension = host.option(Option::NumberAfterExtension);
    Transfer transfer(variables, host);
    for (qsizetype i = 0; i < items.size(); ++i) {
        host.itemStarted(static_cast<qint32>(i + 1));
        transferItem(transfer, host, items[i], numberAfterExtension);
        if (variables.intCancel == kStopRequested) return stop(!numberAfterExtension);
    }
    host.runEnded(
        {false, variables.strLog + QStringLiteral("\r\n") + kRunFinished, startTime, platform::timeOfDayText(), true});
    return true;
}

}  // namespace kurumu::transfer
