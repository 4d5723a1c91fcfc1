#include "transfer/JournaledRun.h"

#include <cerrno>

namespace kurumu::transfer {

platform::Result<JournaledOutcome> runJournaled(const platform::StateFolder& state, JournalHeader header,
                                                const std::function<bool(platform::FileServices&)>& work,
                                                const JournalingServices::FailureHandler& journalFailed) {
    const bool verifyEveryCopy = header.options.verifyEveryCopy;
    platform::Result<std::unique_ptr<Journal>> journal = Journal::open(state, std::move(header));
    if (!journal.ok()) return {{}, journal.status};
    const auto disk = platform::diskServices(copyCheck(verifyEveryCopy));
    JournalingServices files(*disk, *journal.value, journalFailed);
    const bool finished = work(files);
    const platform::Status kept =
        journal.value->finish(finished ? QStringLiteral("finished") : QStringLiteral("stopped"));
    return {{journal.value->id(), finished, kept}, {}};
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
    return QStringLiteral("実行の記録を最後まで書き込めませんでした(%1)。この実行は元に戻せないことがあります:\n")
               .arg(status.code()) +
           state.runsPath();
}

platform::Result<bool> executeRun(RunVariables& variables, ExecuteHost& host, const platform::StateFolder& state,
                                  JournalHeader header, const std::vector<Group>& groups,
                                  const QSet<platform::Identity>& madeFolders, platform::FileServices* dryRun) {
    const RunOptions options = header.options;
    if (dryRun != nullptr) return {Execute(variables, host, *dryRun, options, groups, madeFolders), {}};
    // The journal's own failure ends the Execute: told once, then as a stop.
    const auto journalFailed = [&](const platform::Status& status) {
        if (variables.intCancel == kStopRequested) return;
        host.showWarning(QStringLiteral("kurumu"), journalUnwritableText(state, status, true));
        requestStop(variables);
    };
    const platform::Result<JournaledOutcome> outcome = runJournaled(
        state, std::move(header),
        [&](platform::FileServices& files) { return Execute(variables, host, files, options, groups, madeFolders); },
        journalFailed);
    // Done, but not on the disk as a whole: the run may not be taken back, and it says so.
    if (outcome.ok() && !outcome.value.kept.ok()) {
        host.showWarning(QStringLiteral("kurumu"), journalNotKeptText(state, outcome.value.kept));
        return {false, {}};
    }
    return {outcome.value.finished, outcome.status};
}

platform::Status ensureFolder(platform::FileServices& files, const QString& path, QSet<platform::Identity>& made) {
    const platform::Result<platform::EntryInfo> existing = files.probe(path);
    if (existing.ok() && existing.value.kind == platform::EntryKind::Folder) return {};
    if (const platform::Status created = files.createFolder(path, {}); !created.ok()) return created;
    if (const auto folder = files.probe(path); folder.ok()) made.insert(folder.value.identity);
    return {};
}

}  // namespace kurumu::transfer
