#include "transfer/RunDriver.h"

#include "platform/TimeOfDay.h"
#include "transfer/Transfer.h"

namespace kurumu::transfer {

qsizetype MatomeJikkou(RunVariables& variables, RunHost& host, platform::FileServices& files, const RunOptions& options,
                       const RunItems& run) {
    variables.strLog.clear();
    const QString startTime = platform::timeOfDayText();
    host.runStarted(startTime, static_cast<qint32>(run.items.size()));
    variables.varNameCount.reset();

    const auto stop = [&](bool numberBeforeExtension) {
        variables.intCancel = 0;
        host.runEnded(
            {true, variables.strLog + kRunStopped, startTime, platform::timeOfDayText(), numberBeforeExtension});
    };
    if (variables.intCancel == kStopRequested) {
        stop(false);
        return 0;
    }

    host.logged({kRunStart, Outcome::Started, {}, {}});
    variables.strLog = kRunStart;
    Transfer transfer(variables, host, files, options);
    const bool numberBeforeExtension = options.family.numberPlace == NumberPlace::BeforeExtension;
    for (qsizetype i = 0; i < run.items.size(); ++i) {
        host.itemStarted(static_cast<qint32>(i + 1));
        transfer.transferItem(run.items[i], run.destinationFolder);
        if (variables.intCancel == kStopRequested) {
            stop(numberBeforeExtension);
            return i;
        }
    }
    host.runEnded(
        {false, variables.strLog + QStringLiteral("\r\n") + kRunFinished, startTime, platform::timeOfDayText(), true});
    return run.items.size();
}

}  // namespace kurumu::transfer
