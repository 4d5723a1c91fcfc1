#pragma once

#include "platform/FileServices.h"
#include "transfer/Journal.h"
#include "transfer/RunRecords.h"

#include <QSet>
#include <QString>

#include <functional>

// The one way every door (the window, the batch mode) turns its work into a journaled run:
// the journal opened first (or nothing done), the work done through services that record
// every change before making it, the journal finished as the work ended.
namespace kurumu::transfer {

// Does the work through journaled real services. The error when the journal cannot be
// opened: then nothing is done. Should the journal not take a line during the work,
// journalFailed is told, and no operation is tried after it. The header is let go once
// written (a long run's item list is not kept through it).
platform::Result<JournaledOutcome> runJournaled(const platform::StateFolder& state, JournalHeader header,
                                                const std::function<bool(platform::FileServices&)>& work,
                                                const JournalingServices::FailureHandler& journalFailed = {});

// Makes sure that a gathering folder exists at the path, made through the services when
// missing (its identity added to made, so that no run walks it); the error when it
// cannot be made.
platform::Status ensureFolder(platform::FileServices& files, const QString& path, QSet<platform::Identity>& made);

}  // namespace kurumu::transfer
