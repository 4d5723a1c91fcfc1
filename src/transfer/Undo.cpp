#include "transfer/Undo.h"

#include "platform/AppendLog.h"
#include "platform/FileServices.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "transfer/Journal.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

namespace kurumu::transfer {

namespace {

using platform::EntryInfo;
using platform::EntryKind;
using platform::PlaceOutcome;
using platform::Status;

constexpr qint64 kJournalLimit = qint64{1} << 31;

// One operation of a journal, with the outcome its second line gave (none when the run
// was killed before it).
struct Operation {
    QJsonObject line;
    std::optional<QString> outcome;
    qint64 doneNs = 0;  // when it was done; 0 when the run was killed before it said

    QString text(const char* key) const { return line.value(QLatin1String(key)).toString(); }
    qint64 number(const char* key) const { return line.value(QLatin1String(key)).toInteger(); }
};

struct ReadJournal {
    QJsonObject header;
    QList<Operation> operations;
    QString end;
    qsizetype damaged = 0;                     // lines that do not read as what the program wrote
    bool headerDamaged = false;                // the first line among them
    QHash<QString, QJsonObject> folderBefore;  // each folder's times when the run first listed it
};

// An operation with the identities of the folders of its paths, as the run saw them
// when it was tried.
QJsonObject withFolders(QJsonObject line, const QHash<QString, QString>& seen) {
    const auto add = [&](const char* path, const char* key) {
        const QString folder = seen.value(folderOf(line.value(QLatin1String(path)).toString()));
        if (!folder.isEmpty()) line.insert(QLatin1String(key), folder);
    };
    add("from", "fromFolder");
    add("to", "toFolder");
    return line;
}

// Reads a journal line by line up to its end, or to where a killed run left off: a line
// that a kill cut short has no line end. A whole line that does not read is counted as
// damaged and passed over.
std::optional<ReadJournal> readJournal(const QString& path) {
    const platform::Result<QByteArray> bytes = platform::readFileStart(path, kJournalLimit);
    if (!bytes.ok()) return std::nullopt;
    ReadJournal journal;
    QHash<qint64, qsizetype> byNumber;
    QHash<QString, QString> seen;                       // each folder's identity as the run last noted it
    const qsizetype zeros = bytes.value.indexOf('\0');  // the unwritten end of a killed run's journal
    QList<QByteArray> texts = (zeros < 0 ? bytes.value : bytes.value.first(zeros)).split('\n');
    // After the last line end: nothing, or a line that a kill cut short (the zeros follow
    // it); a file that ends in the middle of a line without them was cut by other means.
    if (!texts.takeLast().isEmpty() && zeros < 0) ++journal.damaged;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const QJsonObject line = QJsonDocument::fromJson(texts[i]).object();
        if (i == 0) {
            // The first line says what the journal is; without it, it is taken for a run's,
            // named by its file.
            journal.headerDamaged = !line.contains(QLatin1String("kurumu"));
            journal.header = journal.headerDamaged ? QJsonObject{{QStringLiteral("kurumu"), QStringLiteral("run")},
                                                                 {QStringLiteral("id"), platform::GetBaseName(path)}}
                                                   : line;
            if (journal.headerDamaged) ++journal.damaged;
            continue;
        }
        if (line.isEmpty()) {
            ++journal.damaged;
            continue;
        }
        if (line.contains(QLatin1String("op"))) {
            byNumber.insert(line.value(QLatin1String("n")).toInteger(), journal.operations.size());
            journal.operations.append({withFolders(line, seen), std::nullopt});
        } else if (line.contains(QLatin1String("done"))) {
            const auto found = byNumber.constFind(line.value(QLatin1String("done")).toInteger());
            if (found != byNumber.constEnd()) {
                journal.operations[*found].outcome = line.value(QLatin1String("outcome")).toString();
                journal.operations[*found].doneNs = line.value(QLatin1String("time")).toInteger();
            }
        } else if (line.contains(QLatin1String("folder"))) {
            const QString folder = line.value(QLatin1String("folder")).toString();
            if (!journal.folderBefore.contains(folder)) journal.folderBefore.insert(folder, line);
        } else if (line.contains(QLatin1String("seen"))) {
            seen.insert(line.value(QLatin1String("seen")).toString(), line.value(QLatin1String("id")).toString());
        } else if (line.contains(QLatin1String("end"))) {
            journal.end = line.value(QLatin1String("end")).toString();
        }
    }
    if (journal.header.isEmpty()) return std::nullopt;
    return journal;
}

RunSummary summaryOf(const QString& path, const ReadJournal& journal) {
    RunSummary run;
    run.path = path;
    run.id = journal.header.value(QLatin1String("id")).toString();
    run.start = journal.header.value(QLatin1String("start")).toString();
    run.origin = journal.header.value(QLatin1String("origin")).toString();
    run.kind = journal.header.value(QLatin1String("kurumu")).toString();
    run.undoOf = journal.header.value(QLatin1String("undoOf")).toString();
    run.items = journal.header.value(QLatin1String("items")).toInteger();
    run.operations = journal.operations.size();
    run.end = journal.end;
    run.damaged = journal.headerDamaged;
    return run;
}

// What an undo knows besides the journal it takes back.
struct UndoContext {
    QHash<QString, bool> givenBack;  // names earlier undos of the run gave back -> that undo was killed
    QSet<QString> beingRemoved;      // files earlier undos were removing when they were killed
    // Files that other runs kept as the same as one they deleted -> the run and its deletion.
    QMultiHash<QString, std::pair<QString, Operation>> keptByOthers;
};

// Works through one journal backwards, leaving what changed since the run.
class Undoer {
public:
    Undoer(platform::FileServices& files, UndoReport& report, UndoContext context, const ReadJournal& journal)
        : m_files(files), m_report(report), m_context(std::move(context)), m_folderBefore(journal.folderBefore) {
        for (const Operation& operation : journal.operations) {
            if (operation.text("op") == QLatin1String("rmdir"))
                m_removedFolders.insert(platform::withoutTrailingSeparator(operation.text("path")));
        }
    }

    void undo(const Operation& operation) {
        // An operation the run found refused, or gave up, changed nothing.
        if (operation.outcome && *operation.outcome != QLatin1String("done")) return;
        const QString kind = operation.text("op");
        if (kind == QLatin1String("move")) undoMove(operation);
        if (kind == QLatin1String("copy")) undoCopy(operation);
        if (kind == QLatin1String("duplicate")) undoDuplicate(operation);
        if (kind == QLatin1String("rmdir")) undoRemovedFolder(operation);
        if (kind == QLatin1String("mkdir")) undoCreatedFolder(operation);
        // A run killed while a source stood aside under a hidden name leaves it there: it
        // goes back under its name, or goes once its name holds the same bytes again.
        if (!operation.outcome && (kind == QLatin1String("move") || kind == QLatin1String("duplicate")))
            clearAside(operation);
    }

private:
    std::optional<EntryInfo> entry(const QString& path) {
        const platform::Result<EntryInfo> info = m_files.probe(path);
        if (!info.ok() || !info.value.exists()) return std::nullopt;
        return info.value;
    }

    // Nothing has changed the entry since the operation put it there: any change of its
    // bytes or its attributes sets its status change time, which no program can set back.
    static bool unchangedSince(const EntryInfo& info, const Operation& operation) {
        return operation.doneNs == 0 || info.changedNs <= operation.doneNs;
    }

    void restored(const QString& path) { m_report.lines.append({path, true, {}}); }
    void left(const QString& path, const QString& reason) {
        m_report.lines.append({path, false, reason});
        m_report.everything = false;
    }
    void leftAfter(const QString& path, const Status& status) {
        left(path, status.error == EEXIST ? QStringLiteral("名前が使われている")
                                          : QStringLiteral("エラー(%1)").arg(status.code()));
    }

    // The files in a folder under the hidden name of a file set aside.
    QStringList filesSetAsideIn(const QString& folder) {
        const platform::Result<platform::FolderListing> listing = m_files.listFolder(folder);
        if (!listing.ok()) return {};
        QStringList aside = listing.value.files;
        aside.removeIf([](const QString& file) {
            return !platform::GetFileName(file).startsWith(QLatin1String(platform::kSetAsidePrefix));
        });
        return aside;
    }

    // A source set aside by a run killed in the middle of removing it, found by its
    // hidden name and by holding the bytes of the file the operation put in its place.
    std::optional<QString> setAside(const QString& path, const QString& placed) {
        for (const QString& candidate : filesSetAsideIn(folderOf(path))) {
            const platform::Result<bool> same = m_files.sameContents(candidate, placed, {});
            if (same.ok() && same.value) return candidate;
        }
        return std::nullopt;
    }

    // The folder that holds a path is the one the run saw there, or one made again in place of
    // a folder the run removed; never another folder or a link put under its name since.
    bool inRunsFolder(const Operation& operation, const char* key, const QString& path) {
        const QString recorded = operation.text(key);
        if (recorded.isEmpty()) return true;  // a journal that does not say
        const QString folder = folderOf(path);
        const std::optional<EntryInfo> named = entry(folder);
        if (!named) return false;
        if (m_removedFolders.contains(folder)) return named->kind == EntryKind::Folder && !named->mountRoot;
        // The folder itself, also where its name is a link to it, as the run noted it.
        const platform::Result<QString> real = m_files.realFolder(folder);
        const std::optional<EntryInfo> now = real.ok() ? entry(real.value) : std::nullopt;
        return now && now->kind == EntryKind::Folder && identityText(now->identity) == recorded;
    }

    // The keeper of a deleted duplicate holds the very bytes that were compared only while
    // nothing has changed it since: no change of its bytes or attributes leaves its status
    // change time.
    static bool keeperUntouched(const EntryInfo& kept, const Operation& duplicate) {
        const QString identity = duplicate.text("keeperId");
        if (!identity.isEmpty() && identity != identityText(kept.identity)) return false;
        return kept.kind == EntryKind::File && kept.length == duplicate.number("size") &&
               kept.modifiedNs == duplicate.number("keeperMtime") && kept.changedNs == duplicate.number("keeperCtime");
    }

    // A file that another run, not taken back, deleted a file as the same as: it stays
    // while that run's file is not back and could still be made again from it.
    bool keptByAnother(const QString& path, const EntryInfo& there) {
        for (auto other = m_context.keptByOthers.constFind(path);
             other != m_context.keptByOthers.constEnd() && other.key() == path; ++other) {
            const auto& [run, duplicate] = *other;
            if (entry(duplicate.text("from")) || !keeperUntouched(there, duplicate)) continue;
            left(path, QStringLiteral("実行 %1 が同じ内容のファイルとして残している").arg(run));
            return true;
        }
        return false;
    }

    // An earlier undo killed while it removed a file (a copy, or a moved file's second
    // copy) left it aside under a hidden name beside it: it goes once it is proved to hold
    // the bytes of the file it was a copy of.
    void clearUndosAside(const QString& path, const QString& original) {
        if (!m_context.beingRemoved.contains(path)) return;
        const std::optional<QString> aside = setAside(path, original);
        if (!aside) return reportHidden(folderOf(path));
        const Status removed = m_files.deleteDuplicate(*aside, original, {});
        if (removed.ok()) return restored(path);
        leftAfter(*aside, removed);
    }

    // Files under a hidden name that no longer hold their original's bytes are left, and
    // named, once each.
    void reportHidden(const QString& folder) {
        for (const QString& candidate : filesSetAsideIn(folder)) {
            if (m_reportedHidden.contains(candidate)) continue;
            m_reportedHidden.insert(candidate);
            left(candidate, QStringLiteral("隠し名のまま残した(元のファイルと同じ内容ではない)"));
        }
    }

    // The file whose bytes the source held: where the operation put them.
    static QString placedOf(const Operation& operation) {
        return operation.text("op") == QLatin1String("duplicate") ? operation.text("keeper") : operation.text("to");
    }

    // Once the source is back under its name, a copy of it still aside is a duplicate of it;
    // while it is not, the copy aside is what goes back.
    void clearAside(const Operation& operation) {
        const QString source = operation.text("from");
        if (!inRunsFolder(operation, "fromFolder", source)) return left(source, kFolderReplaced);
        for (int turn = 0; turn < 8; ++turn) {
            const bool back = entry(source).has_value();
            const std::optional<QString> aside = setAside(source, back ? source : placedOf(operation));
            if (!aside) return;
            if (!back) {
                moveBack(*aside, source);
            } else if (!m_files.deleteDuplicate(*aside, source, {}).ok()) {
                return left(*aside, QStringLiteral("名前が使われている"));
            }
        }
    }

    // Puts a file back under its name, from where it is now.
    void moveBack(const QString& from, const QString& to) {
        const platform::PlaceResult placed = m_files.moveFile(from, to, {});
        if (placed.outcome == PlaceOutcome::Placed) return restored(to);
        leftAfter(from, placed.outcome == PlaceOutcome::Occupied ? Status{EEXIST} : placed.status);
    }

    void undoMove(const Operation& operation) {
        const QString source = operation.text("from");
        const QString destination = operation.text("to");
        const std::optional<EntryInfo> there = entry(destination);
        const std::optional<EntryInfo> back = entry(source);
        if (!there) {
            // Never moved by a killed run, or given back by an earlier undo; otherwise the
            // file is gone, and whatever holds its old name now is another file.
            if (!back || (operation.outcome && !m_context.givenBack.contains(source)))
                left(destination, QStringLiteral("見つからない"));
            if (back) clearUndosAside(destination, source);
            return;
        }
        if (!inRunsFolder(operation, "toFolder", destination)) return left(destination, kFolderReplaced);
        if (!unchangedSince(*there, operation)) return left(destination, QStringLiteral("変更されている"));
        if (keptByAnother(destination, *there)) return;
        if (!back) {
            if (!inRunsFolder(operation, "fromFolder", source)) return left(destination, kFolderReplaced);
            return moveBack(destination, source);
        }
        // Both there: a run killed between copying across file systems and removing the
        // source. The copy goes once it is proved to hold the source's bytes.
        const Status removed = m_files.deleteDuplicate(destination, source, {});
        if (removed.ok()) return restored(source);
        left(destination, QStringLiteral("名前が使われている"));
    }

    void undoCopy(const Operation& operation) {
        const QString source = operation.text("from");
        const QString copy = operation.text("to");
        const std::optional<EntryInfo> there = entry(copy);
        if (!there) return clearUndosAside(copy, source);
        if (!inRunsFolder(operation, "toFolder", copy)) return left(copy, kFolderReplaced);
        if (!unchangedSince(*there, operation)) return left(copy, QStringLiteral("変更されている"));
        if (keptByAnother(copy, *there)) return;
        if (!entry(source)) return left(copy, QStringLiteral("元のファイルが見つからない"));
        // Removed only when it still holds the bytes of its original, proved byte for byte.
        const Status removed = m_files.deleteDuplicate(copy, source, {});
        if (removed.ok()) return restored(copy);
        left(copy, removed.error == EBUSY ? QStringLiteral("変更されている")
                                          : QStringLiteral("エラー(%1)").arg(removed.code()));
    }

    static platform::Attributes duplicateAttributes(const Operation& operation) {
        return {static_cast<quint32>(operation.number("mode")), static_cast<quint32>(operation.number("owner")),
                static_cast<quint32>(operation.number("group")), operation.number("atime"), operation.number("mtime")};
    }

    // Gives an entry this undo (or an earlier one of the same run) made its attributes.
    bool giveAttributes(const QString& path, const platform::Attributes& attributes) {
        const std::optional<EntryInfo> made = entry(path);
        const Status given = made ? platform::restoreAttributes(path, made->identity, attributes) : Status{ENOENT};
        if (!given.ok()) left(path, QStringLiteral("属性を戻せない(%1)").arg(given.code()));
        return given.ok();
    }

    void undoDuplicate(const Operation& operation) {
        const QString source = operation.text("from");
        const QString keeper = operation.text("keeper");
        if (const std::optional<EntryInfo> there = entry(source)) {
            const platform::Result<bool> same = m_files.sameContents(source, keeper, {});
            const bool sameBytes = there->kind == EntryKind::File && same.ok() && same.value;
            // Made again by an earlier undo (whose keeper may be back under its own name since);
            // one killed may not have set its attributes.
            if (there->kind == EntryKind::File && m_context.givenBack.contains(source)) {
                if (m_context.givenBack.value(source) && giveAttributes(source, duplicateAttributes(operation)))
                    restored(source);
                return;
            }
            // Never deleted by a killed run, or back with its bytes; otherwise another file
            // took the name.
            if (operation.outcome && !sameBytes) left(source, QStringLiteral("名前が使われている"));
            return;
        }
        if (!inRunsFolder(operation, "fromFolder", source)) return left(source, kFolderReplaced);
        if (const auto aside = setAside(source, keeper)) return moveBack(*aside, source);
        const std::optional<EntryInfo> kept = entry(keeper);
        if (!kept || kept->kind != EntryKind::File)
            return left(source, QStringLiteral("同じ内容のファイルが見つからない"));
        if (!keeperUntouched(*kept, operation))
            return left(source, QStringLiteral("同じ内容のファイルが変更されている"));
        const platform::PlaceResult made = m_files.copyFile(keeper, source, {});
        if (made.outcome != PlaceOutcome::Placed)
            return leftAfter(source, made.outcome == PlaceOutcome::Occupied ? Status{EEXIST} : made.status);
        if (giveAttributes(source, duplicateAttributes(operation))) restored(source);
    }

    // A removed folder is made again with its owner and group, open to its owner until its
    // files are back; its mode and times follow at the end (see finishFolders).
    void undoRemovedFolder(const Operation& operation) {
        const QString folder = operation.text("path");
        if (const std::optional<EntryInfo> there = entry(folder)) {
            if (there->kind != EntryKind::Folder || there->mountRoot)
                return left(folder, QStringLiteral("名前が使われている"));
            // Made again by an earlier undo that was killed before it could finish it.
            if (m_context.givenBack.value(folder) && openFolder(operation)) m_madeAgain.append(&operation);
            return;
        }
        const Status made = m_files.createFolder(folder, {});
        if (!made.ok()) return leftAfter(folder, made);
        if (!openFolder(operation)) return;
        m_madeAgain.append(&operation);
        restored(folder);
    }

    bool openFolder(const Operation& operation) {
        const auto id = [&](const char* key) {
            return operation.line.contains(QLatin1String(key)) ? static_cast<quint32>(operation.number(key))
                                                               : platform::Attributes::kKeepId;
        };
        return giveAttributes(operation.text("path"),
                              {static_cast<quint32>(operation.number("mode")) | 0700u, id("owner"), id("group")});
    }

public:
    // The mode and times a folder made again had before the run listed it (those of its
    // removal where the journal does not have them), set once its files are back.
    void finishFolders() {
        for (const Operation* operation : std::as_const(m_madeAgain)) {
            const QString folder = operation->text("path");
            const QJsonObject before = m_folderBefore.value(folder, operation->line);
            giveAttributes(folder, {static_cast<quint32>(operation->number("mode")), platform::Attributes::kKeepId,
                                    platform::Attributes::kKeepId, before.value(QLatin1String("atime")).toInteger(),
                                    before.value(QLatin1String("mtime")).toInteger()});
        }
    }

private:
    void undoCreatedFolder(const Operation& operation) {
        const QString folder = operation.text("path");
        const std::optional<EntryInfo> there = entry(folder);
        if (!there) return;
        // Not a folder: the run was killed before it made one, or another entry took the name.
        if (there->kind != EntryKind::Folder) {
            if (operation.outcome) left(folder, QStringLiteral("名前が使われている"));
            return;
        }
        const Status removed = m_files.removeEmptyFolder(folder);
        if (removed.ok()) return restored(folder);
        if (removed.error == ENOTEMPTY || removed.error == EEXIST)
            return left(folder, QStringLiteral("フォルダが空ではない"));
        leftAfter(folder, removed);
    }

    static inline const QString kFolderReplaced = QStringLiteral("フォルダが置き換えられている");

    platform::FileServices& m_files;
    UndoReport& m_report;
    const UndoContext m_context;
    const QHash<QString, QJsonObject>& m_folderBefore;
    QSet<QString> m_removedFolders;       // folders the run removed: made again, they are others
    QSet<QString> m_reportedHidden;       // files left under a hidden name, named once
    QList<const Operation*> m_madeAgain;  // removed folders made again, to get their times back
};

}  // namespace

QString UndoLine::text() const {
    if (restored) return path + QStringLiteral("…元に戻した");
    return path + QStringLiteral("…戻せない(") + reason + u')';
}

QList<RunSummary> runHistory(const QString& folder) {
    QList<RunSummary> runs;
    for (const QString& name : platform::filesIn(folder)) {
        const QString path = folder + u'/' + name;
        if (const std::optional<ReadJournal> journal = readJournal(path)) runs.append(summaryOf(path, *journal));
    }
    for (const RunSummary& undo : runs) {
        if (undo.kind != QLatin1String("undo") || undo.end.isEmpty()) continue;
        for (RunSummary& run : runs) {
            if (run.id != undo.undoOf) continue;
            run.undoFinished = true;
            run.undone = run.undone || undo.end == QLatin1String("undone");
        }
    }
    return runs;
}

namespace {

// What earlier undos of a run may have given back (whether they said so or were killed
// first): the names of files moved back or made again, and of folders made again, each
// with whether that undo was killed before it finished; and their journals with damaged
// lines.
struct EarlierUndos {
    UndoContext context;
    QList<std::pair<QString, qsizetype>> damaged;
};

EarlierUndos earlierUndos(const QList<RunSummary>& runs, const QString& runId) {
    EarlierUndos earlier;
    for (const RunSummary& run : runs) {
        if (run.kind != QLatin1String("undo") || run.undoOf != runId) continue;
        const std::optional<ReadJournal> undo = readJournal(run.path);
        if (!undo) continue;
        if (undo->damaged > 0) earlier.damaged.append({run.path, undo->damaged});
        for (const Operation& operation : undo->operations) {
            const QString kind = operation.text("op");
            if (!operation.outcome && kind == QLatin1String("duplicate"))
                earlier.context.beingRemoved.insert(operation.text("from"));
            if (operation.outcome && *operation.outcome != QLatin1String("done")) continue;
            const bool killed = undo->end.isEmpty();
            if (kind == QLatin1String("move") || kind == QLatin1String("copy"))
                earlier.context.givenBack.insert(operation.text("to"), killed);
            if (kind == QLatin1String("mkdir")) earlier.context.givenBack.insert(operation.text("path"), killed);
        }
    }
    return earlier;
}

// The files that other runs, not taken back, kept as the same as a file they deleted: an
// undo of such a run makes its file again from them.
QMultiHash<QString, std::pair<QString, Operation>> keptByOtherRuns(const QList<RunSummary>& runs,
                                                                   const QString& runId) {
    QMultiHash<QString, std::pair<QString, Operation>> kept;
    for (const RunSummary& run : runs) {
        if (run.kind != QLatin1String("run") || run.undone || run.id == runId) continue;
        const std::optional<ReadJournal> other = readJournal(run.path);
        if (!other) continue;
        for (const Operation& operation : other->operations) {
            const bool mayHaveDeleted = !operation.outcome || *operation.outcome == QLatin1String("done");
            if (operation.text("op") == QLatin1String("duplicate") && mayHaveDeleted)
                kept.insert(operation.text("keeper"), {run.id, operation});
        }
    }
    return kept;
}

}  // namespace

platform::Result<UndoReport> undoRun(const QString& folder, const QString& runId, const QString& origin) {
    const QList<RunSummary> runs = runHistory(folder);
    // The last run not taken back yet; a journal that does not say what it was stops the
    // search, as it may be that run.
    const auto chosen = std::find_if(runs.rbegin(), runs.rend(), [&](const RunSummary& run) {
        if (!runId.isEmpty()) return run.id == runId;
        // Once an undo named it and went to its end, it no longer stops the search.
        if (run.damaged) return !run.undoFinished;
        return run.kind == QLatin1String("run") && !run.undone;
    });
    if (chosen == runs.rend()) return {{}, Status{ENOENT}};
    if (chosen->kind == QLatin1String("undo")) return {{}, Status{EINVAL}};  // an undo is not taken back
    UndoReport report;
    report.run = *chosen;
    if (runId.isEmpty() && chosen->damaged) {
        report.lines.append({chosen->path, false, QStringLiteral("記録の先頭が壊れている。実行を指定すること")});
        report.everything = false;
        return {std::move(report), {}};
    }
    const std::optional<ReadJournal> journal = readJournal(chosen->path);
    if (!journal) return {{}, Status{EIO}};
    JournalHeader header;
    header.kind = QStringLiteral("undo");
    header.origin = origin;
    header.undoOf = chosen->id;
    header.keptJournals.append(chosen->id);
    for (const RunSummary& run : runs) {
        if (run.undoOf == chosen->id) header.keptJournals.append(run.id);
    }
    header.items = journal->operations.size();
    platform::Result<std::unique_ptr<Journal>> own = Journal::open(folder, header);
    if (!own.ok()) return {{}, own.status};
    report.journal = own.value->path();
    // What damaged lines said cannot be known: the undo does the rest and says so.
    EarlierUndos earlier = earlierUndos(runs, chosen->id);
    earlier.context.keptByOthers = keptByOtherRuns(runs, chosen->id);
    if (journal->damaged > 0) earlier.damaged.prepend({chosen->path, journal->damaged});
    for (const auto& [path, lines] : std::as_const(earlier.damaged)) {
        report.lines.append({path, false, QStringLiteral("記録が%1行壊れている").arg(lines)});
        report.everything = false;
    }
    const auto disk = platform::diskServices();
    JournalingServices files(*disk, *own.value);
    Undoer undoer(files, report, std::move(earlier.context), *journal);
    for (auto operation = journal->operations.crbegin(); operation != journal->operations.crend(); ++operation)
        undoer.undo(*operation);
    undoer.finishFolders();
    own.value->finish(report.everything ? QStringLiteral("undone") : QStringLiteral("partly undone"));
    return {std::move(report), {}};
}

}  // namespace kurumu::transfer
