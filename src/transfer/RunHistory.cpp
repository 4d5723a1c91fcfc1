#include "transfer/RunHistory.h"

#include "transfer/Journal.h"
#include "transfer/JournalFormat.h"

#include <algorithm>
#include <cerrno>
#include <optional>

namespace kurumu::transfer {

using platform::Status;

namespace {

RunSummary summaryOf(const platform::StateFolder& state, const QString& name, const journal::Journal& journal) {
    RunSummary run;
    run.path = state.runsPath() + u'/' + name;
    run.id = journal.header.id;
    run.start = journal.header.start;
    run.origin = journal.header.origin;
    run.kind = journal.header.kind;
    run.undoOf = journal.header.undoOf;
    run.after = journal.header.after;
    run.paths = journal.header.paths;
    run.items = journal.header.items;
    run.format = journal.header.format;
    run.operations = journal.operations.size();
    run.end = journal.end;
    run.damaged = journal.headerDamaged;
    run.running = journal.end.isEmpty() && state.runFileWritten(name);
    return run;
}

}  // namespace

QStringList takenBackTogether(const RunSummary& run) {
    return QStringList{run.id} + run.after;
}

bool isUndoOf(const RunSummary& undo, const QStringList& ids) {
    if (undo.kind != QLatin1String("undo")) return false;
    return ids.contains(undo.undoOf) ||
           std::any_of(undo.after.cbegin(), undo.after.cend(), [&](const QString& id) { return ids.contains(id); });
}

QList<RunSummary> runHistory(const platform::StateFolder& state) {
    QList<RunSummary> runs;
    for (const QString& name : state.runFiles()) {
        if (!isJournalName(name)) continue;
        if (const std::optional<journal::Journal> journal = journal::read(state, name))
            runs.append(summaryOf(state, name, *journal));
    }
    for (const RunSummary& undo : std::as_const(runs)) {
        if (undo.kind != QLatin1String("undo") || undo.end.isEmpty()) continue;
        for (RunSummary& run : runs) {
            if (run.id != undo.undoOf && !undo.after.contains(run.id)) continue;
            run.undoFinished = true;
            run.undone = run.undone || undo.end == QLatin1String("undone");
        }
    }
    return runs;
}

platform::Result<RunSummary> runToUndo(const QList<RunSummary>& runs, const QString& runId) {
    // The last run not taken back yet; a journal that does not say what it was stops the
    // search, as it may be that run; so does a run still going.
    const auto chosen = std::find_if(runs.rbegin(), runs.rend(), [&](const RunSummary& run) {
        if (!runId.isEmpty()) return run.id == runId;
        if (run.running && run.kind == QLatin1String("run")) return true;
        // Once an undo named it and went to its end, it no longer stops the search.
        if (run.damaged) return !run.undoFinished;
        return run.kind == QLatin1String("run") && !run.undone;
    });
    if (chosen == runs.rend()) return {{}, Status{ENOENT}};
    if (chosen->kind == QLatin1String("undo")) return {*chosen, Status{EINVAL}};  // an undo is not taken back
    const QStringList together = takenBackTogether(*chosen);
    const bool busy = std::any_of(runs.cbegin(), runs.cend(), [&](const RunSummary& run) {
        return run.running && (together.contains(run.id) || isUndoOf(run, together));
    });
    if (busy) return {*chosen, Status{EBUSY}};
    return {*chosen, {}};
}

}  // namespace kurumu::transfer
