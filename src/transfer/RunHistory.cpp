#include "transfer/RunHistory.h"

#include "platform/Paths.h"
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

namespace {

// The files that other runs, not taken back, kept as the same as a file they deleted: an
// undo of such a run makes its file again from them.
QMultiHash<QString, undo::KeptByOther> keptByOtherRuns(const platform::StateFolder& state,
                                                       const QList<RunSummary>& runs, const QStringList& ids) {
    QMultiHash<QString, undo::KeptByOther> kept;
    for (const RunSummary& run : runs) {
        if (run.kind != QLatin1String("run") || run.undone || ids.contains(run.id)) continue;
        const std::optional<journal::Journal> other = journal::read(state, platform::GetFileName(run.path));
        if (!other) continue;
        for (const journal::Operation& operation : other->operations) {
            if (operation.kind == journal::Kind::Duplicate && operation.mayHaveHappened())
                kept.insert(operation.keeper, {run.id, operation});
        }
    }
    return kept;
}

}  // namespace

platform::Result<JournalsToUndo> journalsToUndo(const platform::StateFolder& state, const QList<RunSummary>& runs,
                                                const RunSummary& run) {
    std::optional<journal::Journal> taken = journal::read(state, platform::GetFileName(run.path));
    if (!taken) return {{}, Status{EIO}};
    JournalsToUndo journals;
    journals.run = std::move(*taken);
    for (const QString& id : run.after) {
        std::optional<journal::Journal> made = journal::read(state, id + u".jsonl");
        if (made && made->header.kind == QLatin1String("run")) journals.folderRuns.append(std::move(*made));
    }
    const QStringList together = takenBackTogether(run);
    for (const RunSummary& earlier : runs) {
        if (!isUndoOf(earlier, together)) continue;
        if (std::optional<journal::Journal> undo = journal::read(state, platform::GetFileName(earlier.path)))
            journals.undos.append({earlier.path, std::move(*undo)});
    }
    const bool untrusted =
        journals.run.untrusted ||
        std::any_of(journals.folderRuns.cbegin(), journals.folderRuns.cend(),
                    [](const auto& j) { return j.untrusted; }) ||
        std::any_of(journals.undos.cbegin(), journals.undos.cend(), [](const auto& u) { return u.second.untrusted; });
    if (untrusted) return {{}, Status{EPERM}};
    journals.keptByOthers = keptByOtherRuns(state, runs, together);
    return {std::move(journals), {}};
}

QString UndoLine::text() const {
    switch (kind) {
        case Kind::Restored:
            return path + QStringLiteral("…元に戻した");
        case Kind::Note:
            return path + QStringLiteral("…") + reason;
        case Kind::Left:
            break;
    }
    return path + QStringLiteral("…戻せない(") + reason + u')';
}

}  // namespace kurumu::transfer
