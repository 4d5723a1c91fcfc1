#pragma once

#include "platform/FileServices.h"
#include "transfer/RunOptions.h"
#include "transfer/RunVariables.h"
#include "transfer/TransferHost.h"

#include <QString>
#include <QStringList>

// The run driver: one run moves or copies a list of items into one destination folder.
namespace kurumu::transfer {

// How a run ended, for the host to show.
struct RunEnd {
    bool stopped = false;
    QString resultText;  // the log and "処理終了", or the log and "処理中止"
    QString startTime;
    QString endTime;
    bool disableCreateFolders = true;
};

// What the driver asks of its host beyond the transfer itself.
class RunHost : public TransferHost {
public:
    // The run has started at startTime with itemCount items: progress 0 of itemCount.
    virtual void runStarted(const QString& startTime, qint32 itemCount) = 0;
    // Item index (from 1) starts.
    virtual void itemStarted(qint32 index) = 0;
    virtual void runEnded(const RunEnd& end) = 0;
};

inline const QString kRunStart = QStringLiteral("処理開始");
inline const QString kRunFinished = QStringLiteral("処理終了");
inline const QString kRunStopped = QStringLiteral("処理中止");

// One run: the items (full paths of files and folders) in order, into the destination
// folder (ending in "/"). Returns the number of items it went through to the end (all
// of them when the run ended normally).
struct RunItems {
    QStringList items;
    QString destinationFolder;
};
qsizetype MatomeJikkou(RunVariables& variables, RunHost& host, platform::FileServices& files, const RunOptions& options,
                       const RunItems& run);

}  // namespace kurumu::transfer
