#pragma once

#include "platform/FileServices.h"
#include "transfer/RunHost.h"
#include "transfer/RunOptions.h"
#include "transfer/RunVariables.h"

#include <QString>
#include <QStringList>

// The run driver: one run moves or copies a list of items into one destination folder.
namespace kurumu::transfer {

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
