#include "session/Session.h"

#include "platform/Paths.h"
#include "transfer/DryRun.h"
#include "transfer/Execute.h"
#include "transfer/JournalFormat.h"
#include "transfer/JournaledRun.h"
#include "transfer/Undo.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

namespace kurumu::session {

namespace {

const QString kAppTitle = QStringLiteral("kurumu");

transfer::JournalHeader headerOf(Request request) {
    transfer::JournalHeader header;
    header.origin = std::move(request.origin);
    header.arguments = std::move(request.arguments);
    header.items = request.paths.size();
    header.paths = std::move(request.paths);
    header.options = request.options;
    header.after = std::move(request.after);
    return header;
}

}  // namespace

std::vector<transfer::Group> runGroupsOf(const std::vector<judgement::Group>& groups) {
    std::vector<transfer::Group> runs;
    runs.reserve(groups.size());
    for (const judgement::Group& group : groups) runs.push_back({group.leaderPath, group.memberPaths});
    return runs;
}

DryRun::DryRun() : m_disk(platform::diskServices()), m_services(std::make_unique<transfer::DryRunServices>(*m_disk)) {}

DryRun::~DryRun() = default;

platform::Result<RunOutcome> run(transfer::RunVariables& variables, transfer::RunHost& host,
                                 const platform::StateFolder& state, Request request,
                                 const std::vector<transfer::Group>& groups, const QSet<platform::Identity>& made,
                                 DryRun* dryRun) {
    const transfer::RunOptions options = request.options;
    if (dryRun != nullptr)
        return {{transfer::Execute(variables, host, dryRun->services(), options, groups, made), {}}, {}};
    // The journal's own failure ends the Execute: told once, then as a stop.
    const auto journalFailed = [&](const platform::Status& status) {
        if (variables.intCancel == transfer::kStopRequested) return;
        host.showWarning(kAppTitle, journalUnwritableText(state, status, true));
        variables.requestStop();
    };
    const platform::Result<transfer::JournaledOutcome> outcome = transfer::runJournaled(
        state, headerOf(std::move(request)),
        [&](platform::FileServices& files) { return transfer::Execute(variables, host, files, options, groups, made); },
        journalFailed);
    // Done, but not on the disk as a whole: the run may not be taken back, and it says so.
    if (outcome.ok() && !outcome.value.kept.ok()) {
        host.showWarning(kAppTitle, journalNotKeptText(state, outcome.value.kept));
        return {{false, outcome.value.id}, {}};
    }
    return {{outcome.value.finished, outcome.value.id}, outcome.status};
}

QString journalUnwritableText(const platform::StateFolder& state, const platform::Status& status, bool midRun) {
    const QString what = midRun ? QStringLiteral("実行の記録を続けられないため、中止しました。")
                                : QStringLiteral("実行の記録を書けないため、何もしませんでした。");
    if (!state.refusal().isEmpty()) return what + state.refusal();
    const QString full = status.errorClass() == platform::ErrorClass::VolumeFull
                             ? QStringLiteral("記録のフォルダの容量が不足しています")
                             : QStringLiteral("記録を書き込めません(%1)").arg(status.code());
    return what + full + QStringLiteral(":\n") + state.runsPath();
}

QString journalNotKeptText(const platform::StateFolder& state, const platform::Status& status) {
    const QString why = status.errorClass() == platform::ErrorClass::VolumeFull
                            ? QStringLiteral("(記録のフォルダの容量が不足しています)")
                            : QStringLiteral("(%1)").arg(status.code());
    return QStringLiteral("実行の記録を最後まで書き込めませんでした") + why +
           QStringLiteral("。この実行は元に戻せないことがあります:\n") + state.runsPath();
}

QList<transfer::RunSummary> history(const platform::StateFolder& state) {
    return transfer::runHistory(state);
}

platform::Result<transfer::RunSummary> runToUndo(const platform::StateFolder& state) {
    return transfer::runToUndo(transfer::runHistory(state), {});
}

platform::Status gatheredFolderIsThere(const platform::StateFolder& state, const QString& journal,
                                       const QString& folder) {
    const std::optional<transfer::journal::Journal> read = transfer::journal::read(state, journal + u".jsonl");
    if (!read) return platform::Status{ENOENT};
    if (read->untrusted) return platform::Status{EPERM};
    const QString path = platform::withoutTrailingSeparator(folder);
    const auto recorded = std::find_if(read->seen.cbegin(), read->seen.cend(),
                                       [&](const transfer::journal::Seen& seen) { return seen.path == path; });
    if (recorded == read->seen.cend()) return platform::Status{ENOENT};
    const platform::Result<platform::EntryInfo> now = platform::realFileServices().heldFolder(path);
    const bool there = now.ok() && now.value.kind == platform::EntryKind::Folder && now.value.identity == recorded->id;
    return there ? platform::Status{} : platform::Status{EBUSY};
}

FoldersMade makeGatheringFolders(const platform::StateFolder& state, const Request& request,
                                 const QList<judgement::Line>& lines, const FolderMaking& how,
                                 QSet<platform::Identity>& made, DryRun* dryRun) {
    FoldersMade result{{lines, {}}, {}};
    const auto makeThrough = [&](platform::FileServices& files) {
        result.gathered = judgement::withGatheringFolders(
            lines, how.count, how.byCount,
            [&](const QString& path) {
                const platform::Status created = transfer::ensureFolder(files, path, made);
                if (!created.ok() && how.notMade) how.notMade(path, created);
                return created.ok();
            },
            how.only);
        return true;
    };
    if (dryRun != nullptr) {
        makeThrough(dryRun->services());
        return result;
    }
    // A journal of folders alone: it moves no item, and builds on no earlier folder making
    // (each is taken back with the run that names it, or alone).
    transfer::JournalHeader header = headerOf(request);
    header.items = 0;
    header.after = {};
    result.journal = transfer::runJournaled(state, std::move(header), makeThrough);
    return result;
}

UndoStatus undoStatusOf(const platform::Status& status, const QString& named) {
    switch (status.error) {
        case 0:
            return UndoStatus::Done;
        case ENOENT:
            return UndoStatus::NoSuchRun;
        case EINVAL:
            return UndoStatus::UndoOfAnUndo;
        case EBUSY:
            return named.isEmpty() ? UndoStatus::AnotherUndo : UndoStatus::RunStillGoing;
        case EPERM:
            return UndoStatus::NotTrusted;
        case ELOOP:
            return UndoStatus::LockIsLink;
        default:
            return UndoStatus::NotJournaled;
    }
}

UndoOutcome undo(const platform::StateFolder& state, const QString& run, const QString& origin) {
    UndoOutcome outcome;
    outcome.report = transfer::undoRun(state, run, origin);
    outcome.status = undoStatusOf(outcome.report.status, run.isEmpty() ? outcome.report.value.run.id : run);
    return outcome;
}

}  // namespace kurumu::session
