#pragma once

#include "platform/FileServices.h"
#include "transfer/Execute.h"
#include "transfer/Journal.h"

#include <QSet>
#include <QString>

#include <functional>
#include <vector>

// The one way every door (the window, the batch mode) turns its work into a journaled run:
// the journal opened first (or nothing done), the work done through services that record
// every change before making it, the journal finished as the work ended.
namespace kurumu::transfer {

struct JournaledOutcome {
    QString id;             // the journal's
    bool finished = false;  // the work went to its end
    platform::Status kept;  // what kept the journal's end from the disk, if anything did
};

// Does the work through journaled real services. The error when the journal cannot be
// opened: then nothing is done. Should the journal not take a line during the work,
// journalFailed is told, and no operation is tried after it. The header is let go once
// written (a long run's item list is not kept through it).
platform::Result<JournaledOutcome> runJournaled(const platform::StateFolder& state, JournalHeader header,
                                                const std::function<bool(platform::FileServices&)>& work,
                                                const JournalingServices::FailureHandler& journalFailed = {});

// The message for a journal that cannot be opened (its folder refused, too), or that
// stopped taking lines.
QString journalUnwritableText(const platform::StateFolder& state, const platform::Status& status, bool midRun);
// Why the journal of a run that was done did not reach the disk whole.
QString journalNotKeptText(const platform::StateFolder& state, const platform::Status& status);

// An Execute as every door runs it: through a dry run's services when given (nothing is
// journaled, nothing changed), otherwise journaled in the state folder's runs, with header
// naming the run. A journal
// that stops taking lines stops the Execute as the Stop button does, its message shown
// first. The error when the journal cannot be opened (nothing done); otherwise whether
// every group ran to its end.
platform::Result<bool> executeRun(RunVariables& variables, ExecuteHost& host, const platform::StateFolder& state,
                                  JournalHeader header, const std::vector<Group>& groups,
                                  const QSet<platform::Identity>& madeFolders,
                                  platform::FileServices* dryRun = nullptr);

// Makes sure that a gathering folder exists at the path, made through the services when
// missing (its identity added to made, so that no run walks it); the error when it
// cannot be made.
platform::Status ensureFolder(platform::FileServices& files, const QString& path, QSet<platform::Identity>& made);

}  // namespace kurumu::transfer
