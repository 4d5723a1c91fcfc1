#include "transfer/JournaledRun.h"

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

platform::Status ensureFolder(platform::FileServices& files, const QString& path, QSet<platform::Identity>& made) {
    const platform::Result<platform::EntryInfo> existing = files.probe(path);
    if (existing.ok() && existing.value.kind == platform::EntryKind::Folder) return {};
    if (const platform::Status created = files.createFolder(path, {}); !created.ok()) return created;
    if (const auto folder = files.probe(path); folder.ok()) made.insert(folder.value.identity);
    return {};
}

}  // namespace kurumu::transfer
