#pragma once

#include "judgement/GroupPlan.h"
#include "platform/Errors.h"
#include "platform/StateFolder.h"
#include "transfer/Execute.h"
#include "transfer/Journal.h"
#include "transfer/RunOptions.h"
#include "transfer/Undo.h"

#include <QString>
#include <QStringList>

#include <vector>

// The run session: what the window and the batch mode each ask of a run, an undo or the
// history, composed once above judgement and transfer. Each door words the outcomes in
// its own language; what they mean is decided here.
namespace kurumu::session {

// The judged groups as the runs take them: each leader with its members.
std::vector<transfer::Group> runGroupsOf(const std::vector<judgement::Group>& groups);

// Who asks for a run, and with what: the journal's header is made from it.
struct Request {
    QString origin;         // "window" or "batch"
    QStringList arguments;  // the command line, where there was one
    QStringList paths;      // the items as they were dropped (what an undo shows again)
    transfer::RunOptions options;
};
transfer::JournalHeader headerOf(const Request& request);

// What an undo came to. Each is worded once by each door, and no two share a message.
enum class UndoStatus {
    Done,           // taken back, wholly or in part (the report says which)
    NoSuchRun,      // no run of that name is kept
    UndoOfAnUndo,   // the run named is an undo: an undo is not taken back
    RunStillGoing,  // the run named is still going, or being taken back
    AnotherUndo,    // another undo holds the lock
    NotTrusted,     // the journals are not the user's own, or others may write them
    LockIsLink,     // the undo's lock file is a link
    NotJournaled,   // the undo's own journal cannot be written
};
struct UndoOutcome {
    UndoStatus status = UndoStatus::NotJournaled;
    platform::Result<transfer::UndoReport> report;
};
// Takes back the run named (or, unnamed, the last one).
UndoOutcome undo(const platform::StateFolder& state, const QString& run, const QString& origin);
// The meaning of the status an undo gave, for the run named (empty: the last one).
UndoStatus undoStatusOf(const platform::Status& status, const QString& named);

}  // namespace kurumu::session
