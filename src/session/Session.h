#pragma once

#include "judgement/Editing.h"
#include "judgement/GroupPlan.h"
#include "platform/Errors.h"
#include "platform/FileServices.h"
#include "platform/StateFolder.h"
#include "transfer/RunHost.h"
#include "transfer/RunOptions.h"
#include "transfer/RunRecords.h"
#include "transfer/RunVariables.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
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
    QStringList after;  // the folder creations (their journals) that the run builds on
};

// The services a dry run goes through, its C.F. and its Execute alike: they look at the
// disk and only remember what they would change.
class DryRun {
public:
    DryRun();
    DryRun(const DryRun&) = delete;
    DryRun& operator=(const DryRun&) = delete;
    ~DryRun();
    platform::FileServices& services() { return *m_services; }

private:
    std::unique_ptr<platform::FileServices> m_disk;
    std::unique_ptr<platform::FileServices> m_services;
};

// What an Execute came to: whether every group ran to its end, and the run's journal (none
// for a dry run).
struct RunOutcome {
    bool finished = false;
    QString journal;
};
// Execute over the groups: journaled in the state folder, or through the dry run given.
// A journal that stops taking lines stops the Execute as the Stop button does, its message
// shown first; a journal whose end did not reach the disk makes the run fail, and says
// so. The journal's error when it cannot be opened (nothing done). The request is let go
// once its journal is written.
platform::Result<RunOutcome> run(transfer::RunVariables& variables, transfer::RunHost& host,
                                 const platform::StateFolder& state, Request request,
                                 const std::vector<transfer::Group>& groups, const QSet<platform::Identity>& made,
                                 DryRun* dryRun = nullptr);

// The message for a journal that cannot be opened (its folder refused, too), or that
// stopped taking lines (midRun).
QString journalUnwritableText(const platform::StateFolder& state, const platform::Status& status, bool midRun);
// Why the journal of a run that was done did not reach the disk whole.
QString journalNotKeptText(const platform::StateFolder& state, const platform::Status& status);

// The runs kept, oldest first, and the one an undo would take back now.
QList<transfer::RunSummary> history(const platform::StateFolder& state);
platform::Result<transfer::RunSummary> runToUndo(const platform::StateFolder& state);

// Whether a folder the run (its journal id names) gathered a group into is still there as the
// run's journal recorded it: a folder with that identity under that path. EPERM when the
// journal is not the user's own, ENOENT when it does not record the folder, EBUSY when
// the path no longer holds it.
platform::Status gatheredFolderIsThere(const platform::StateFolder& state, const QString& journal,
                                       const QString& folder);

// How C.F. names the gathering folders, which leaders get one, and whom it tells of a
// folder it could not make.
struct FolderMaking {
    std::int32_t count = 0;
    bool byCount = false;
    judgement::LeaderFilter only;  // every leader when empty
    std::function<void(const QString& path, const platform::Status& status)> notMade;
};
struct FoldersMade {
    judgement::GatheredLines gathered;
    // The journal they were made under (none for a dry run); its error when it could not
    // be opened, and then nothing was made.
    platform::Result<transfer::JournaledOutcome> journal;
};
// Makes the gathering folders of the judged lines (C.F.): through the dry run's services
// when given, which only remember them; otherwise under a journal of their own, which the
// run after it names. Each folder made is added to made: a run never walks it.
FoldersMade makeGatheringFolders(const platform::StateFolder& state, const Request& request,
                                 const QList<judgement::Line>& lines, const FolderMaking& how,
                                 QSet<platform::Identity>& made, DryRun* dryRun = nullptr);

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

// A host that tells a run as text: every log line as it is reported, the run's end
// ("処理終了" or "処理中止") and every message, each handed on as it happens. The batch mode
// prints them; the window's preview collects them.
class TextHost final : public transfer::RunHost {
public:
    using Sink = std::function<void(const QString&)>;
    // stopAsked, asked whenever the run lets its host handle events, stops the run as the
    // Stop button does when it answers true.
    TextHost(transfer::RunVariables& variables, Sink lines, Sink messages, std::function<bool()> stopAsked = {})
        : m_variables(variables),
          m_lines(std::move(lines)),
          m_messages(std::move(messages)),
          m_stopAsked(std::move(stopAsked)) {}

    void showWarning(const QString& title, const QString& text, const QString& detail) override {
        m_messages(title + u": " + text + (detail.isEmpty() ? QString() : u' ' + detail));
    }
    void logged(const transfer::LogLine& line) override { m_lines(line.text); }
    void processEvents() override {
        if (m_stopAsked && m_stopAsked()) m_variables.requestStop();
    }
    void runEnded(const transfer::RunEnd& end) override {
        m_lines(end.stopped ? transfer::kRunStopped : transfer::kRunFinished);
    }

private:
    transfer::RunVariables& m_variables;
    Sink m_lines;
    Sink m_messages;
    std::function<bool()> m_stopAsked;
};

}  // namespace kurumu::session
