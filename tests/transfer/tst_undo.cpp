// The journal and undo: any run can be taken back, whatever it did, also after a crash;
// what changed since is left and reported.
#include "platform/AppendLog.h"
#include "platform/FileServices.h"
#include "session/Session.h"
#include "support/Faults.h"
#include "support/RecordingHost.h"
#include "support/TestFiles.h"
#include "transfer/Execute.h"
#include "transfer/Journal.h"
#include "transfer/JournaledRun.h"
#include "transfer/Undo.h"
#include "transfer/UndoDecision.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kurumu;

namespace {

// A place for trees and one for journals.
struct Scene {
    QTemporaryDir dir;
    QString root = dir.path() + "/tree/";
    QString journals = dir.path() + "/runs";
    platform::StateFolder state = platform::StateFolder::openAt(dir.path()).value;
    test::RecordingHost host;

    Scene() { test::makeFolder(root); }

    QString make(const QString& relative, const QByteArray& data = "data") {
        return test::makeFileWithFolders(root + relative, data);
    }

    // One journaled Execute, as the window and the batch mode run it.
    bool run(const transfer::RunOptions& options, const std::vector<transfer::Group>& groups) {
        transfer::RunVariables variables;
        const auto finished = session::run(variables, host, state, {"test", {}, {}, options, {}}, groups, {});
        if (!finished.ok()) qFatal("no journal");
        return finished.value.finished;
    }

    // Runs the groups through a journal opened before, as a second run at once would.
    static bool runInto(transfer::Journal& journal, const std::vector<transfer::Group>& groups) {
        const auto disk = platform::diskServices(transfer::copyCheck(false));
        transfer::JournalingServices files(*disk, journal);
        transfer::RunVariables variables;
        test::RecordingHost quiet;
        const bool finished = transfer::Execute(variables, quiet, files, {}, groups);
        journal.finish(finished ? "finished" : "stopped");
        return finished;
    }

    // A journal as a kill leaves it: one operation begun and never done, no last line.
    void leaveKilledJournal(const transfer::JournalHeader& header, transfer::journal::Operation operation) const {
        QString path;
        {
            auto killed = transfer::Journal::open(state, header);
            if (!killed.ok()) qFatal("no journal");
            // The folders it uses are noted first, as a run notes them.
            for (const QString& used : {operation.from, operation.to, operation.keeper}) {
                const QString folder = transfer::folderOf(used);
                const auto held = platform::realFileServices().heldFolder(folder);
                if (!used.isEmpty() && held.ok())
                    killed.value->note(
                        transfer::journal::seenLine({folder, held.value.identity, held.value.modifiedNs}));
            }
            if (!killed.value->begin(operation).ok()) qFatal("no journal");
            if (operation.inPlace) killed.value->note(operation.createdLine());
            path = killed.value->path();
        }
        QByteArray bytes = test::readFile(path);
        bytes.truncate(bytes.lastIndexOf("{\"end\""));
        QFile::remove(path);
        test::writeFile(path, bytes);
    }

    // An undo of the run killed in the middle of one operation.
    void leaveKilledUndo(const QString& runId, const transfer::journal::Operation& operation) const {
        transfer::JournalHeader header;
        header.kind = "undo";
        header.undoOf = runId;
        leaveKilledJournal(header, operation);
    }

    transfer::UndoReport undo(const QString& runId = {}) {
        const auto report = transfer::undoRun(state, runId, "test");
        if (!report.ok()) qFatal("no undo");
        return report.value;
    }
};

// An operation as the journal tells it, of a file as it is now.
transfer::journal::Operation operation(transfer::journal::Kind kind, const QString& from, const QString& to = {},
                                       const QString& keeper = {}) {
    transfer::journal::Operation made;
    made.kind = kind;
    made.from = from;
    made.to = to;
    made.keeper = keeper;
    made.object = transfer::journal::ObjectState::of(platform::realFileServices().probe(from).value);
    if (!keeper.isEmpty())
        made.keeperState = transfer::journal::ObjectState::of(platform::realFileServices().probe(keeper).value);
    return made;
}

// The hidden name a file is set aside under by this process.
QString asideName() {
    return ".kurumu-aside-" + QString::number(QCoreApplication::applicationPid()) + "-1";
}

// A folder's identity as the journal writes it.
QByteArray folderIdentity(const QString& path) {
    const platform::Result<platform::EntryInfo> folder = platform::realFileServices().heldFolder(path);
    if (!folder.ok()) return {};
    return QByteArray::number(folder.value.identity.device) + ':' + QByteArray::number(folder.value.identity.inode);
}

QStringList texts(const transfer::UndoReport& report) {
    QStringList lines;
    for (const transfer::UndoLine& line : report.lines) lines.append(line.text());
    return lines;
}

// The undo's decision from a table: one operation of a run, what the journals say of it,
// what is seen now, and what the undo does.
namespace table {

using transfer::journal::Kind;
using transfer::journal::ObjectState;
using transfer::journal::Operation;
using transfer::undo::Act;
using transfer::undo::Look;

constexpr quint32 kUser = 1000;
constexpr qint64 kRunDone = 100;  // when the run did its operations; a later change is another's

platform::EntryInfo file(quint64 inode, qint64 changedNs = kRunDone) {
    platform::EntryInfo entry;
    entry.kind = platform::EntryKind::File;
    entry.length = 4;
    entry.identity = {1, inode};
    entry.modifiedNs = 10;
    entry.changedNs = changedNs;
    entry.mode = 0644;
    entry.owner = entry.group = kUser;
    return entry;
}
platform::EntryInfo folder(quint64 inode) {
    platform::EntryInfo entry = file(inode);
    entry.kind = platform::EntryKind::Folder;
    entry.mode = 0755;
    return entry;
}
Look at(const platform::EntryInfo& entry) {
    return {entry, 0};
}

Operation operation(Kind kind, const QString& from, const QString& to, const platform::EntryInfo& object,
                    bool done = true) {
    Operation made;
    made.kind = kind;
    made.from = from;
    made.to = to;
    made.object = ObjectState::of(object);
    if (done) made.outcome = "done";
    made.doneNs = done ? kRunDone : 0;
    return made;
}
// A duplicate deleted as the same as its keeper, proved by a checksum.
Operation duplicate(const platform::EntryInfo& keeper, bool done = true) {
    Operation deleted = operation(Kind::Duplicate, "/s/d", {}, file(2), done);
    deleted.keeper = QStringLiteral("/G/d");
    deleted.keeperState = ObjectState::of(keeper);
    if (done) deleted.checksum = 0x1234;
    return deleted;
}
// As a journal that did not record identities or checksums is read: a format 1 journal,
// or one whose header is damaged and its marks unknown.
Operation unrecorded(Operation old) {
    old.identitiesRecorded = old.checksumsRecorded = false;
    old.object.known = old.keeperState.known = old.placed.known = false;
    return old;
}

struct Row {
    const char* name;
    Operation operation;
    QHash<QString, Look> seen;  // anything else: nothing there
    QString decided;            // as described below
    QHash<QString, QList<transfer::undo::HiddenFile>> aside = {};
    QList<QPair<QString, QString>> sameBytes = {};
    quint32 user = kUser;
    std::function<void(transfer::undo::Reading&)> alsoRead = {};
};

QString describe(const transfer::undo::Step& step) {
    static const QStringList names{"Nothing",          "Leave",          "PutBack",        "RemoveSecondCopy",
                                   "RemoveRunCopy",    "DropHiddenCopy", "GiveAttributes", "FinishFolder",
                                   "MakeFolder",       "RemoveFolder",   "MakeAgain",      "NameAgain",
                                   "RemovePartialCopy"};
    QString text = names.value(static_cast<int>(step.act)) + ' ' + step.path;
    if (!step.other.isEmpty()) text += " " + step.other;
    if (!step.reason.isEmpty()) text += ": " + step.reason;
    if (!step.reasonIfNot.isEmpty()) text += " (or: " + step.reasonIfNot + ")";
    if (step.expected.dated) text += " (by its bytes)";
    return text.trimmed();
}
// "Act path [other][: reason]" for each step tried, then " then …" and " else …" where
// there is more than nothing.
QString describe(const transfer::undo::Decision& decision) {
    QStringList tries;
    for (const transfer::undo::Step& step : decision.tries) tries.append(describe(step));
    QString text = tries.isEmpty() ? "Nothing" : tries.join(" | ");
    if (decision.then.act != Act::Nothing) text += " then " + describe(decision.then);
    if (decision.otherwise.act != Act::Nothing) text += " else " + describe(decision.otherwise);
    return text;
}

// Decides the row, answering every question from it; a question asked twice would never end.
QString decide(const Row& row) {
    transfer::journal::Journal run;
    run.operations.append(row.operation);
    transfer::undo::Reading reading;
    reading.addRun(run);
    reading.startNs = 1000;
    if (row.alsoRead) row.alsoRead(reading);
    transfer::undo::SeenNow seen;
    seen.user = row.user;
    seen.looks = row.seen;
    seen.setAside = row.aside;
    for (int asked = 0; asked < 50; ++asked) {
        const transfer::undo::Decision decision = transfer::undo::decide(row.operation, reading, seen);
        if (!decision.question) return describe(decision);
        const transfer::undo::Question& question = *decision.question;
        switch (question.kind) {
            case transfer::undo::Question::Kind::Look:
                for (const QString& path : QStringList{question.path} + question.morePaths) {
                    if (seen.looks.contains(path)) return "asked again: " + path;
                    seen.looks.insert(path, {});
                }
                break;
            case transfer::undo::Question::Kind::SetAside:
                if (seen.setAside.contains(question.path)) return "asked again: " + question.path;
                seen.setAside.insert(question.path, {});
                break;
            case transfer::undo::Question::Kind::Compare:
                seen.compared.append(
                    {question.path, question.other, row.sameBytes.contains({question.path, question.other})});
                break;
            case transfer::undo::Question::Kind::PrimaryGroup:
                seen.primaryGroups.insert(question.user, kUser);
                break;
        }
    }
    return "never decided";
}

QList<Row> rows() {
    const platform::EntryInfo a = file(7);
    platform::EntryInfo chmodded = a;
    chmodded.mode = 0600;
    chmodded.changedNs = 200;
    platform::EntryInfo link = file(9);
    link.kind = platform::EntryKind::Link;
    platform::EntryInfo longer = file(8);
    longer.length = 9;
    platform::EntryInfo overlaid = file(8);
    overlaid.onOverlay = true;
    overlaid.mount = 5;
    platform::EntryInfo keeperRewritten = file(3);
    keeperRewritten.modifiedNs = 20;
    platform::EntryInfo othersWrite = file(3);
    othersWrite.mode = 0666;
    platform::EntryInfo theirs = file(3);
    theirs.owner = theirs.group = 65534;
    platform::EntryInfo mounted = folder(31);
    platform::EntryInfo mountedFile = a;
    mountedFile.mountRoot = true;
    mounted.mountRoot = true;

    const Operation move = operation(Kind::Move, "/s/a", "/G/a", a);
    Operation copy = operation(Kind::Copy, "/s/c", "/G/c", file(3));
    copy.placed = ObjectState::of(file(8));
    // Killed while written under its name, on a disk with no other way to publish.
    Operation copyInPlace = operation(Kind::Copy, "/s/c", "/G/c", {}, false);
    copyInPlace.createdInPlace = file(8).identity;
    Operation moveInPlace = operation(Kind::Move, "/s/a", "/G/a", a, false);
    moveInPlace.createdInPlace = file(12).identity;
    // Killed between the exclusive create and the line that says which file it made.
    Operation copyMaybeInPlace = operation(Kind::Copy, "/s/c", "/G/c", {}, false);
    copyMaybeInPlace.inPlace = true;
    Operation moveMaybeInPlace = operation(Kind::Move, "/s/a", "/G/a", a, false);
    moveMaybeInPlace.inPlace = true;
    // Set aside on a disk that dates every rename: the very file, another time.
    platform::EntryInfo dated = file(2);
    dated.modifiedNs = 500;
    const transfer::undo::HiddenFile datedAside{"/s/.kurumu-aside-4-1", at(dated)};
    platform::EntryInfo onStick = file(12);  // a disk that keeps no modes
    onStick.mode = 0700;
    Operation movedOntoStick = operation(Kind::Move, "/s/a", "/G/a", a);
    movedOntoStick.placed = ObjectState::of(onStick);
    platform::EntryInfo copiedOffStick = onStick;  // by an undo killed before it gave the mode back
    copiedOffStick.identity = {2, 13};
    const transfer::undo::HiddenFile copiedBack{"/s/.kurumu-aside-5-undo-1", at(copiedOffStick)};
    Operation madeFolder = operation(Kind::MakeFolder, "/G", {}, {});
    madeFolder.placed = ObjectState::of(folder(20));
    Operation mountedOn = madeFolder;
    mountedOn.outcome = "failed";
    mountedOn.error = platform::kFolderReplaced;
    const Operation removedFolder = operation(Kind::RemoveFolder, "/s/sub", {}, folder(30));
    Operation sameFile = duplicate(file(3));
    sameFile.checksum.reset();
    sameFile.sameFile = true;
    Operation unproved = duplicate(file(3), false);
    Operation oldDuplicate = unrecorded(duplicate(file(3)));
    oldDuplicate.keeperState.mtime = 10;
    oldDuplicate.keeperCtimeNs = kRunDone;
    const transfer::undo::HiddenFile setAside{"/s/.kurumu-aside-4-1", at(a)};

    return {
        {"moved, unchanged", move, {{"/G/a", at(a)}}, "PutBack /G/a /s/a"},
        {"moved back by hand", move, {{"/s/a", at(a)}}, "Nothing"},
        {"moved twice", move, {}, "Leave /G/a: 見つからない"},
        {"moved twice, another file at the old name", move, {{"/s/a", at(file(11))}}, "Leave /G/a: 見つからない"},
        {"chmod", move, {{"/G/a", at(chmodded)}}, "Leave /G/a: 変更されている"},
        {"touched by another after the run", move, {{"/G/a", at(file(7, 200))}}, "Leave /G/a: 変更されている"},
        {"a link planted at the name", move, {{"/G/a", at(link)}}, "Leave /G/a: 記録とは別のファイル"},
        {"a link planted above the name",
         move,
         {{"/G/a", {std::nullopt, platform::kFolderReplaced}}},
         "Leave /G/a: フォルダが置き換えられている"},
        {"the old name's folder replaced by a file",
         move,
         {{"/G/a", at(a)}, {"/s/a", {std::nullopt, platform::kFolderReplaced}}},
         "Leave /G/a: フォルダが置き換えられている"},
        {"a name taken at the old name",
         move,
         {{"/G/a", at(a)}, {"/s/a", at(file(11))}},
         "Leave /G/a: 名前が使われている"},
        {"set aside by a killed run",
         operation(Kind::Move, "/s/a", "/G/a", a, false),
         {},
         "PutBack /s/.kurumu-aside-4-1 /s/a else Leave /G/a: 見つからない",
         {{"/s", {setAside}}}},
        {"a killed move's copy, its source gone",
         operation(Kind::Move, "/s/a", "/G/a", a, false),
         {{"/G/a", at(file(12))}},
         "PutBack /G/a /s/a"},
        {"a killed move's copy, its source there",
         operation(Kind::Move, "/s/a", "/G/a", a, false),
         {{"/G/a", at(file(12))}, {"/s/a", at(a)}},
         "RemoveSecondCopy /G/a /s/a"},
        {"a killed move's copy, another file at the source",
         operation(Kind::Move, "/s/a", "/G/a", a, false),
         {{"/G/a", at(file(12))}, {"/s/a", at(file(11))}},
         "Leave /G/a: 名前が使われている"},
        {"a killed move's copy, a file mounted at the source",
         operation(Kind::Move, "/s/a", "/G/a", a, false),
         {{"/G/a", at(file(12))}, {"/s/a", at(mountedFile)}},
         "Leave /G/a: 名前が使われている"},
        {"a killed copy's partial file",
         copyInPlace,
         {{"/G/c", at(file(8))}, {"/s/c", at(file(3))}},
         "RemovePartialCopy /G/c /s/c"},
        {"a killed copy's name taken by another file",
         copyInPlace,
         {{"/G/c", at(file(9))}, {"/s/c", at(file(3))}},
         "Nothing"},
        {"a killed move's partial file, its source there",
         moveInPlace,
         {{"/G/a", at(file(12))}, {"/s/a", at(a)}},
         "RemovePartialCopy /G/a /s/a"},
        {"a killed copy's name, maybe its empty file",
         copyMaybeInPlace,
         {{"/G/c", at(file(9))}, {"/s/c", at(file(3))}},
         "RemoveRunCopy /G/c /s/c else Leave /G/c: " + transfer::undo::kMaybePartial},
        {"a killed move's name, maybe its empty file, its source there",
         moveMaybeInPlace,
         {{"/G/a", at(file(12))}, {"/s/a", at(a)}},
         "RemoveSecondCopy /G/a /s/a (or: " + transfer::undo::kMaybePartial + ")"},
        {"copied back off a disk without modes by a killed undo",
         movedOntoStick,
         {},
         "PutBack /s/.kurumu-aside-5-undo-1 /s/a else Leave /G/a: 見つからない",
         {{"/s", {copiedBack}}}},
        {"put back off a disk without modes by an undo killed before it gave the mode back",
         movedOntoStick,
         {{"/s/a", at(copiedOffStick)}},
         "GiveAttributes /s/a",
         {},
         {},
         kUser,
         [copiedOffStick](transfer::undo::Reading& reading) {
             reading.givenBack.insert("/s/a", {{}, true, ObjectState::of(copiedOffStick)});
         }},
        {"a killed move's whole copy on a disk without modes, its source gone",
         moveInPlace,
         {{"/G/a", at(onStick)}},
         "PutBack /G/a /s/a"},
        {"copy, unchanged", copy, {{"/G/c", at(file(8))}, {"/s/c", at(file(3))}}, "RemoveRunCopy /G/c /s/c"},
        {"copy changed", copy, {{"/G/c", at(longer)}, {"/s/c", at(file(3))}}, "Leave /G/c: 変更されている"},
        {"copy across an overlay's edge",
         copy,
         {{"/G/c", at(overlaid)}, {"/s/c", at(file(3))}},
         "Leave /G/c: オーバーレイの内と外にあるため消せない"},
        {"copy whose original is gone", copy, {{"/G/c", at(file(8))}}, "Leave /G/c: 元のファイルが見つからない"},
        {"copy another run keeps as a keeper",
         copy,
         {{"/G/c", at(file(8))}, {"/s/c", at(file(3))}},
         "Leave /G/c: 実行 R2 が同じ内容のファイルとして残している",
         {},
         {},
         kUser,
         [](transfer::undo::Reading& reading) {
             Operation kept = duplicate(file(8));
             kept.from = QStringLiteral("/o/d");
             reading.keptByOthers.insert("/G/c", {"R2", kept});
         }},
        {"duplicate, keeper unchanged", duplicate(file(3)), {{"/G/d", at(file(3))}}, "MakeAgain /s/d"},
        {"hard links: another name of the keeper's file", sameFile, {{"/G/d", at(file(3))}}, "NameAgain /s/d"},
        {"keeper changed",
         duplicate(file(3)),
         {{"/G/d", at(keeperRewritten)}},
         "Leave /s/d: 同じ内容のファイルが変更されている"},
        {"keeper gone", duplicate(file(3)), {}, "Leave /s/d: 同じ内容のファイルが見つからない"},
        {"set aside by a killed run on a disk that dates renames, the bytes kept",
         duplicate(file(3), false),
         {{"/G/d", at(file(3))}},
         "PutBack /s/.kurumu-aside-4-1 /s/d (by its bytes) else Leave /s/d: 同じ内容か確かめられない",
         {{"/s", {datedAside}}},
         {{"/s/.kurumu-aside-4-1", "/G/d"}}},
        {"set aside by a killed run on a disk that dates renames, other bytes",
         duplicate(file(3), false),
         {{"/G/d", at(file(3))}},
         "PutBack /s/.kurumu-aside-4-1 /s/d else Leave /s/d: 同じ内容か確かめられない",
         {{"/s", {datedAside}}}},
        {"keeper not proved: killed before the checksum",
         unproved,
         {{"/G/d", at(file(3))}},
         "Leave /s/d: 同じ内容か確かめられない"},
        {"keeper others may write, undoing as root",
         duplicate(othersWrite),
         {{"/G/d", at(othersWrite)}},
         "Leave /s/d: 同じ内容のファイルを他のユーザーが書き換えられる",
         {},
         {},
         0},
        {"keeper another user's, undoing as root",
         duplicate(theirs),
         {{"/G/d", at(theirs)}},
         "Leave /s/d: 同じ内容のファイルを他のユーザーが書き換えられる",
         {},
         {},
         0},
        {"keeper its owner's alone, undoing as root",
         duplicate(file(3)),
         {{"/G/d", at(file(3))}},
         "MakeAgain /s/d",
         {},
         {},
         0},
        {"a name taken where the duplicate was",
         duplicate(file(3)),
         {{"/s/d", at(file(11))}},
         "Leave /s/d: 名前が使われている"},
        {"folder the run made, still its own", madeFolder, {{"/G", at(folder(20))}}, "RemoveFolder /G"},
        {"folder the run made, another folder there",
         madeFolder,
         {{"/G", at(folder(21))}},
         "Leave /G: 名前が使われている"},
        {"a folder the run made, found mounted on",
         mountedOn,
         {{"/G", at(folder(20))}},
         "Leave /G: フォルダが置き換えられている"},
        {"removed folder, still gone", removedFolder, {}, "MakeFolder /s/sub"},
        {"a mount at a removed folder's name",
         removedFolder,
         {{"/s/sub", at(mounted)}},
         "Leave /s/sub: 名前が使われている"},
        {"a folder made again by someone else",
         removedFolder,
         {{"/s/sub", at(folder(32))}},
         "Leave /s/sub: 名前が使われている"},
        {"a file where a removed folder was",
         removedFolder,
         {{"/s/sub", at(file(33))}},
         "Leave /s/sub: 名前が使われている"},
        {"a damaged header's unknowns: a killed move's two names",
         unrecorded(operation(Kind::Move, "/s/a", "/G/a", a, false)),
         {{"/G/a", at(file(40))}, {"/s/a", at(file(41))}},
         "RemoveSecondCopy /G/a /s/a"},
        {"a damaged header's unknowns: any file is the one moved",
         unrecorded(move),
         {{"/G/a", at(file(40))}},
         "PutBack /G/a /s/a"},
        {"a damaged header's unknowns: a keeper known by its times",
         oldDuplicate,
         {{"/G/d", at(file(3))}},
         "MakeAgain /s/d"},
        {"a damaged header's unknowns: the same bytes back already",
         oldDuplicate,
         {{"/s/d", at(file(11))}, {"/G/d", at(file(3))}},
         "Nothing",
         {},
         {{"/s/d", "/G/d"}}},
        {"a damaged header's unknowns: other bytes at the name",
         oldDuplicate,
         {{"/s/d", at(file(11))}, {"/G/d", at(file(3))}},
         "Leave /s/d: 名前が使われている"},
    };
}

}  // namespace table

}  // namespace

class TestUndo : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Random trees with collisions, identical files, nested folders, links, second names of
    // files and files moved twice, run in every family and both structure modes, then
    // undone: the tree is as it was, to the byte, the mode, the owner and the modification
    // times of files and folders.
    void randomRunsAreTakenBack() {
        QRandomGenerator random(7);
        const QStringList names{"a.txt", "b", "a_000.txt", "c.dat", ".h"};
        const QList<QByteArray> contents{"", "one", "two", "same", "ones"};
        const std::array families{transfer::kMove2, transfer::kCopy, transfer::kMove, transfer::kCopy2};
        for (int round = 0; round < 40; ++round) {
            Scene s;
            transfer::RunOptions options;
            options.family = families[random.bounded(4)];
            options.keepStructure = random.bounded(2) == 1;
            options.checkAllNumbers = random.bounded(3) == 0;
            const QStringList folders{"src/", "src/s/", "src/s/t/", "src/u/", "dst/", "dst/s/"};
            for (int i = 0; i < 20; ++i) {
                const QString at = folders[random.bounded(folders.size())] + names[random.bounded(names.size())];
                if (test::exists(s.root + at)) continue;
                s.make(at, contents[random.bounded(contents.size())]);
                QFile::setPermissions(s.root + at, random.bounded(2) ? QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                     : QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            }
            test::makeFolder(s.root + "dst");
            test::makeFolder(s.root + "src/u");
            QFile::link(s.root + "dst", s.root + "src/link");
            // A second name of a file, and files that the first group moves into a folder
            // that the second group then moves again.
            if (test::exists(s.root + "src/a.txt"))
                ::link(QFile::encodeName(s.root + "src/a.txt").constData(),
                       QFile::encodeName(s.root + "src/s/hard").constData());
            s.make("src/m1", "moved twice");
            s.make("src/u1", contents[random.bounded(contents.size())]);
            const auto before = test::snapshot(s.root, test::Snapshot::Everything);
            s.run(options,
                  {{s.root + "src/u", {s.root + "src/m1", s.root + "src/u1"}}, {s.root + "dst", {s.root + "src"}}});
            const transfer::UndoReport report = s.undo();
            QStringList lines;
            for (const transfer::UndoLine& line : report.lines) lines.append(line.text());
            QVERIFY2(report.everything, qPrintable(QString("round %1: %2").arg(round).arg(lines.join('\n'))));
            QCOMPARE(test::snapshot(s.root, test::Snapshot::Everything), before);
        }
    }

    // A file changed after the run is reported and kept; everything else goes back.
    void changedFilesAreLeft() {
        Scene s;
        s.make("G/.keep", "");
        s.make("a1", "moved");
        s.make("a2", "moved and changed");
        const auto before = test::snapshot(s.root, test::Snapshot::Everything);
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "a1", s.root + "a2"}}}));
        test::writeFile(s.root + "G/a2", "changed after the run");
        const transfer::UndoReport report = s.undo();
        QVERIFY(!report.everything);
        QCOMPARE(report.lines.size(), 2);
        QCOMPARE(report.lines[0].text(), s.root + "G/a2…戻せない(変更されている)");
        QCOMPARE(report.lines[1].text(), s.root + "a1…元に戻した");
        QCOMPARE(test::readFile(s.root + "a1"), QByteArray("moved"));
        QCOMPARE(test::readFile(s.root + "G/a2"), QByteArray("changed after the run"));
        QVERIFY(!test::exists(s.root + "a2"));
    }

    // A copy is removed only while it holds its original's bytes; a name taken since the
    // run keeps its new file.
    void copiesAndTakenNames() {
        Scene s;
        s.make("G/.keep", "");
        s.make("c1", "copied");
        s.make("c2", "copied, then the original changed");
        s.make("m1", "moved");
        transfer::RunOptions copy;
        copy.family = transfer::kCopy2;
        QVERIFY(s.run(copy, {{s.root + "G", {s.root + "c1", s.root + "c2"}}}));
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "m1"}}}));
        test::writeFile(s.root + "m1", "a new file under the old name");
        const transfer::UndoReport moved = s.undo();
        QCOMPARE(moved.lines.size(), 1);
        QCOMPARE(moved.lines[0].text(), s.root + "G/m1…戻せない(名前が使われている)");
        QCOMPARE(test::readFile(s.root + "G/m1"), QByteArray("moved"));

        test::writeFile(s.root + "c2", "the original, changed");
        const QList<transfer::RunSummary> runs = transfer::runHistory(s.state);
        const transfer::UndoReport copied = s.undo(runs.first().id);
        QCOMPARE(copied.lines.size(), 2);
        QCOMPARE(copied.lines[0].text(), s.root + "G/c2…戻せない(変更されている)");
        QCOMPARE(copied.lines[1].text(), s.root + "G/c1…元に戻した");
        QVERIFY(!test::exists(s.root + "G/c1"));
        QCOMPARE(test::readFile(s.root + "G/c2"), QByteArray("copied, then the original changed"));
    }

    // A source deleted as a duplicate comes back with its own mode and times (one of them
    // before 1970, with a fraction), made from the file that holds its bytes; an undo
    // repeated finds nothing left to do.
    void duplicatesComeBack() {
        Scene s;
        s.make("G/same.txt", "same bytes");
        s.make("src/same.txt", "same bytes");
        s.make("G/twin.txt", "one file, two names");
        QCOMPARE(::link(QFile::encodeName(s.root + "G/twin.txt").constData(),
                        QFile::encodeName(s.root + "src/twin.txt").constData()),
                 0);
        QVERIFY(QFile::setPermissions(s.root + "src/same.txt", QFileDevice::ReadOwner));
        const std::array<struct timespec, 2> times{{{1000000000, 5}, {-150000000, 250000000}}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(s.root + "src/same.txt").constData(), times.data(), 0), 0);
        const auto before = test::snapshot(s.root, test::Snapshot::Everything);
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "src"}}}));
        QVERIFY(!test::exists(s.root + "src"));
        const QString runId = transfer::runHistory(s.state).last().id;
        QVERIFY(s.undo().everything);
        QCOMPARE(test::snapshot(s.root, test::Snapshot::Everything), before);
        // Another name of one file comes back as that name again.
        struct stat twin {};
        struct stat kept {};
        QCOMPARE(::stat(QFile::encodeName(s.root + "src/twin.txt").constData(), &twin), 0);
        QCOMPARE(::stat(QFile::encodeName(s.root + "G/twin.txt").constData(), &kept), 0);
        QCOMPARE(twin.st_ino, kept.st_ino);
        const transfer::UndoReport again = s.undo(runId);
        QVERIFY(again.everything);
        QVERIFY(again.lines.isEmpty());
        QCOMPARE(test::snapshot(s.root, test::Snapshot::Everything), before);
        const QList<transfer::RunSummary> runs = transfer::runHistory(s.state);
        QCOMPARE(runs.size(), 3);
        QVERIFY(runs.first().undone);
        QCOMPARE(runs.last().kind, "undo");

        // Killed once the bytes were proved, before the journal said the file was gone.
        Scene k;
        k.make("G/d", "same");
        k.make("d", "same");
        QVERIFY(k.run({}, {{k.root + "G", {k.root + "d"}}}));
        const QString journal = k.journals + '/' + test::namesIn(k.journals).first();
        QByteArray killed = test::readFile(journal);
        killed.truncate(killed.indexOf("{\"done\":1,"));
        QVERIFY(killed.contains("{\"proof\":1,\"crc32\":\""));
        QVERIFY(QFile::remove(journal));
        test::writeFile(journal, killed);
        QFile::setPermissions(journal, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const transfer::UndoReport report = k.undo();
        QVERIFY2(report.everything, qPrintable(texts(report).join('\n')));
        QCOMPARE(test::readFile(k.root + "d"), QByteArray("same"));
    }

    // Whatever cannot come back is reported and the undo does not say it finished: a name
    // that another file took, a moved file that is gone, and a keeper that was written to
    // since (even with the same bytes: only the untouched keeper is proof of them).
    void whatCannotComeBackIsReported() {
        Scene s;
        s.make("G/d1", "same");
        s.make("G/d2", "same too");
        s.make("d1", "same");
        s.make("d2", "same too");
        s.make("m1", "moved");
        s.make("G/d3", "same again");
        s.make("d3", "same again");
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "d1", s.root + "d2", s.root + "d3", s.root + "m1"}}}));
        // Rewritten right after the run, its length kept and its time set back: within the
        // clock's tick its state shows nothing, its bytes do.
        struct stat kept {};
        QCOMPARE(::stat(QFile::encodeName(s.root + "G/d3").constData(), &kept), 0);
        {
            QFile rewritten(s.root + "G/d3");
            QVERIFY(rewritten.open(QIODevice::ReadWrite));
            QCOMPARE(rewritten.write("SAME AGAIN"), 10);
        }
        const std::array<struct timespec, 2> times{kept.st_atim, kept.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(s.root + "G/d3").constData(), times.data(), 0), 0);
        // A coarse clock could give the rewrite the time the run ended: so it is here.
        QCOMPARE(::stat(QFile::encodeName(s.root + "G/d3").constData(), &kept), 0);
        const qint64 rewritten = qint64{kept.st_ctim.tv_sec} * 1'000'000'000 + kept.st_ctim.tv_nsec;
        const QString journal = s.journals + '/' + test::namesIn(s.journals).first();
        QList<QByteArray> journalLines = test::readFile(journal).split('\n');
        const auto d3 = std::find_if(journalLines.cbegin(), journalLines.cend(), [&](const QByteArray& line) {
            return line.contains(QByteArray("\"from\":\"" + QFile::encodeName(s.root) + "d3\""));
        });
        QVERIFY(d3 != journalLines.cend());
        const QByteArray number = d3->mid(d3->lastIndexOf("\"n\":") + 4).chopped(1);
        for (QByteArray& line : journalLines) {
            if (!line.startsWith(QByteArray("{\"done\":" + number + ','))) continue;
            const qsizetype time = line.indexOf("\"time\":") + 7;
            line.replace(time, line.indexOf(',', time) - time, QByteArray::number(rewritten));
        }
        QVERIFY(QFile::remove(journal));
        test::writeFile(journal, journalLines.join('\n'));
        QFile::setPermissions(journal, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        test::writeFile(s.root + "d1", "another file under the name");
        test::writeFile(s.root + "m1", "another file again");  // made first: it cannot reuse the inode number
        QVERIFY(QFile::remove(s.root + "G/m1"));
        // Rewritten: the bytes are no longer proved. The file system's clock moves in ticks of
        // a few milliseconds; the rewrite is stamped a second on, as a user's would be later.
        test::writeFile(s.root + "G/d2", "same too");
        struct stat d2 {};
        QCOMPARE(::stat(QFile::encodeName(s.root + "G/d2").constData(), &d2), 0);
        d2.st_mtim.tv_sec += 1;
        const std::array<struct timespec, 2> later{d2.st_atim, d2.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(s.root + "G/d2").constData(), later.data(), 0), 0);
        const transfer::UndoReport report = s.undo();
        QVERIFY(!report.everything);
        QStringList lines;
        for (const transfer::UndoLine& line : report.lines) lines.append(line.text());
        QCOMPARE(lines, (QStringList{s.root + "G/m1…戻せない(見つからない)",
                                     s.root + "d3…戻せない(同じ内容のファイルが変更されている)",
                                     s.root + "d2…戻せない(同じ内容のファイルが変更されている)",
                                     s.root + "d1…戻せない(名前が使われている)"}));
        QVERIFY(!test::exists(s.root + "d3"));
        QCOMPARE(test::readFile(s.root + "G/d3"), QByteArray("SAME AGAIN"));
        QCOMPARE(test::readFile(s.root + "d1"), QByteArray("another file under the name"));
        QCOMPARE(test::readFile(s.root + "m1"), QByteArray("another file again"));
        QVERIFY(!test::exists(s.root + "d2"));
        QVERIFY(!transfer::runHistory(s.state).first().undone);
    }

    // A whole line of the journal that does not read is reported; the lines after it are
    // still undone, and the run is not taken for undone.
    void damagedJournalLinesAreReported() {
        Scene s;
        s.make("G/.keep", "");
        for (const char* name : {"a1", "a2", "a3"}) s.make(name, name);
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "a1", s.root + "a2", s.root + "a3"}}}));
        const QString journal = s.journals + '/' + test::namesIn(s.journals).first();
        QList<QByteArray> lines = test::readFile(journal).split('\n');
        const auto a2 = std::find_if(lines.begin(), lines.end(),
                                     [](const QByteArray& line) { return line.startsWith("{\"done\":2,"); });
        QVERIFY(a2 != lines.end());
        a2->replace("\"outcome\"", "\"outcome");  // the done line of a2's move
        QVERIFY(QFile::remove(journal));
        test::writeFile(journal, lines.join('\n'));
        const transfer::UndoReport report = s.undo();
        QVERIFY(!report.everything);
        QCOMPARE(report.lines.first().text(), journal + "…戻せない(記録が1行壊れている)");
        for (const char* name : {"a1", "a2", "a3"}) QCOMPARE(test::readFile(s.root + name), QByteArray(name));
        QVERIFY(!transfer::runHistory(s.state).first().undone);
    }

    // A source folder removed by the run comes back with its mode, owner, group and times,
    // the times set after its files have returned.
    void removedFoldersComeBackWhole() {
        Scene s;
        s.make("G/.keep", "");
        s.make("gx/gy/f", "f");
        const bool root = test::isRoot();
        if (root) QCOMPARE(::chown(QFile::encodeName(s.root + "gx/gy").constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(QFile::encodeName(s.root + "gx/gy").constData(), 0750), 0);
        const std::array<struct timespec, 2> times{{{1000000000, 0}, {1100000000, 0}}};
        for (const char* folder : {"gx", "gx/gy"})
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(s.root + folder).constData(), times.data(), 0), 0);
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "gx"}}}));
        QVERIFY(!test::exists(s.root + "gx"));
        QVERIFY(s.undo().everything);
        QCOMPARE(test::readFile(s.root + "gx/gy/f"), QByteArray("f"));
        for (const char* folder : {"gx", "gx/gy"}) {
            struct stat info {};
            QCOMPARE(::stat(QFile::encodeName(s.root + folder).constData(), &info), 0);
            QCOMPARE(static_cast<qint64>(info.st_mtim.tv_sec), qint64{1100000000});
            if (root && QByteArray(folder) == "gx/gy") QCOMPARE(info.st_uid, 65534u);
        }
    }

    // An undo killed after it made a deleted duplicate again, before it set its attributes,
    // is finished by the next undo: the file gets its own mode and times, and nothing is
    // reported as taken. So is one killed while it wrote a file back in place.
    void killedUndoIsFinished() {
        Scene s;
        s.make("G/d", "same");
        s.make("d", "same");
        QVERIFY(QFile::setPermissions(s.root + "d", QFileDevice::ReadOwner));
        const auto before = test::snapshot(s.root, test::Snapshot::Everything);
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "d"}}}));
        const QString runId = transfer::runHistory(s.state).last().id;
        s.leaveKilledUndo(runId, operation(transfer::journal::Kind::Copy, s.root + "G/d", s.root + "d"));
        QVERIFY(QFile::copy(s.root + "G/d", s.root + "d"));  // made, its attributes never set
        const transfer::UndoReport report = s.undo();
        QVERIFY(report.everything);
        QCOMPARE(test::snapshot(s.root, test::Snapshot::Everything), before);

        // Killed as it wrote a file back under its name itself (a disk with no other way to
        // publish), from where it had set it aside: the partial copy goes, and the file it
        // copied takes the name.
        Scene t;
        t.make("G/.keep", "");
        const QString source = t.make("a.txt", "the whole of the bytes");
        const auto whole = test::snapshot(t.root);
        QVERIFY(t.run({}, {{t.root + "G", {source}}}));
        QVERIFY(QFile::rename(t.root + "G/a.txt", t.root + asideName()));
        test::writeFile(source, "the whole");
        transfer::journal::Operation puttingBack =
            operation(transfer::journal::Kind::Move, t.root + asideName(), source);
        puttingBack.inPlace = true;
        puttingBack.createdInPlace = platform::realFileServices().probe(source).value.identity;
        t.leaveKilledUndo(transfer::runHistory(t.state).last().id, puttingBack);
        const transfer::UndoReport finished = t.undo();
        QVERIFY2(finished.everything, qPrintable(texts(finished).join('\n')));
        QCOMPARE(test::snapshot(t.root), whole);
    }

    // Journals that do not read as written: a first line that does not say what the
    // journal is stops a bare undo (it may be the last run) and is named; by its name, the
    // run is undone and the damage reported. A file cut in the middle of a line without
    // the zeros of a kill is damaged too. An undo itself is never taken back.
    void damagedJournalsAreNamed() {
        Scene s;
        s.make("G/.keep", "");
        s.make("a1", "a1");
        s.make("a2", "a2");
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "a1"}}}));
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "a2"}}}));
        const QString last = s.journals + '/' + test::namesIn(s.journals).last();
        QByteArray bytes = test::readFile(last);
        bytes.replace("\"kurumu\":\"run\"", "\"kurumu\":\"run");
        bytes.chop(3);  // and cut in the middle of its last line
        QVERIFY(QFile::remove(last));
        test::writeFile(last, bytes);
        const transfer::UndoReport stopped = s.undo();
        QVERIFY(!stopped.everything);
        QCOMPARE(stopped.lines.size(), 1);
        QCOMPARE(stopped.lines[0].path, last);
        QCOMPARE(test::readFile(s.root + "G/a1"), QByteArray("a1"));  // the older run is left alone
        const transfer::UndoReport named = s.undo(QFileInfo(last).completeBaseName());
        QVERIFY(!named.everything);
        QCOMPARE(named.lines.first().text(), last + "…戻せない(記録が2行壊れている)");
        QCOMPARE(test::readFile(s.root + "a2"), QByteArray("a2"));
        const QString undoId = transfer::runHistory(s.state).last().id;
        QCOMPARE(transfer::undoRun(s.state, undoId, "test").status.error, EINVAL);
        // Taken back by its name, it no longer stops a bare undo: the older run comes next;
        // a journal left empty by a process killed before its first line is no run at all.
        test::writeFile(s.journals + "/29991231-000000-000-1.jsonl", "");
        QVERIFY(s.undo().everything);
        QCOMPARE(test::readFile(s.root + "a1"), QByteArray("a1"));
    }

    // Zeros over a page of a finished journal, as a power cut can leave it, are damage, not
    // its end: in the body, the lines after them are still taken back; in the header, the
    // run still shows, of the kind its pages' marks tell, and is taken back by its name.
    // A run that never ended in an earlier boot may have lost its last lines so.
    void tornPagesAreDamage() {
        enum class Torn { Body, Header, End, EarlierBoot };
        for (const Torn torn : {Torn::Body, Torn::Header, Torn::End, Torn::EarlierBoot}) {
            const bool inHeader = torn == Torn::Header;
            Scene s;
            s.make("G/.keep", "");
            QStringList members;
            for (int i = 0; i < 300; ++i) members.append(s.make(QString("member-%1").arg(i, 3, 10, QChar('0')), "m"));
            QVERIFY(s.run({}, {{s.root + "G", members}}));
            const QString journal = s.journals + '/' + test::namesIn(s.journals).first();
            QByteArray bytes = test::readFile(journal);
            QVERIFY(bytes.size() > 8 * 4096);
            // The end of a journal cut to its length when it was closed, unlike a killed
            // run's, is no unwritten end.
            const qsizetype length = torn == Torn::Body ? 4096 : torn == Torn::Header ? 40 : 60;
            const qsizetype from = torn == Torn::Body ? 4 * 4096 : torn == Torn::Header ? 20 : bytes.size() - length;
            QVERIFY(bytes.size() % 4096 != 0);
            if (torn != Torn::EarlierBoot) bytes.replace(from, length, QByteArray(length, '\0'));
            if (torn == Torn::EarlierBoot) {
                bytes.truncate(bytes.lastIndexOf("{\"end\""));
                const qsizetype boot = bytes.indexOf("\"boot\":\"") + 8;
                QVERIFY(bytes.indexOf('"', boot) > boot + 30);  // the boot the run was written in
                bytes.replace(boot, bytes.indexOf('"', boot) - boot, "another boot");
            }
            QVERIFY(QFile::remove(journal));
            test::writeFile(journal, bytes);
            const transfer::RunSummary run = transfer::runHistory(s.state).first();
            QCOMPARE(run.damaged, inHeader);
            QCOMPARE(run.kind, "run");
            if (inHeader) QVERIFY(!s.undo().everything);  // a bare undo stops at it
            const transfer::UndoReport report = s.undo(run.id);
            QVERIFY(!report.everything);
            QVERIFY(texts(report).contains(journal +
                                           (torn == Torn::EarlierBoot
                                                ? "…戻せない(システムが止まった時の記録のため、最後の操作は分からない)"
                                                : "…戻せない(記録が1行壊れている)")));
            const auto back = std::count_if(members.cbegin(), members.cend(), test::exists);
            QVERIFY2(torn != Torn::Body ? back == 300 : back > 270 && back < 300, qPrintable(QString::number(back)));
            QCOMPARE(test::namesIn(s.root + "G").size(), 300 - back + 1);  // with .keep
            QVERIFY(!transfer::runHistory(s.state).first().undone);
        }
    }

    // A folder of the run that another folder or a link has taken the place of since is
    // never reached through: its files stay where the run put them, and what is in the
    // other folder is not taken for them.
    void replacedFoldersAreNotFollowed() {
        Scene s;
        s.make("G/.keep", "");
        s.make("gx/f1", "f1");
        s.make("gx/f2", "f2");
        test::makeFolder(s.root + "elsewhere");
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "gx"}}}));
        QVERIFY(QFile::link(s.root + "elsewhere", s.root + "gx"));
        const transfer::UndoReport linked = s.undo();
        QVERIFY(!linked.everything);
        QVERIFY(texts(linked).contains(s.root + "G/f1…戻せない(フォルダが置き換えられている)"));
        QCOMPARE(test::readFile(s.root + "G/f1"), QByteArray("f1"));
        QCOMPARE(test::readFile(s.root + "G/f2"), QByteArray("f2"));
        QVERIFY(QDir(s.root + "elsewhere").isEmpty());

        Scene t;
        t.make("G/.keep", "");
        t.make("a1", "the run's");
        QVERIFY(t.run({}, {{t.root + "G", {t.root + "a1"}}}));
        QVERIFY(QDir(t.root).rename("G", "archived"));
        t.make("G/a1", "another folder's");
        const transfer::UndoReport swapped = t.undo();
        QVERIFY(!swapped.everything);
        QCOMPARE(texts(swapped), QStringList{t.root + "G/a1…戻せない(フォルダが置き換えられている)"});
        QVERIFY(!test::exists(t.root + "a1"));
        QCOMPARE(test::readFile(t.root + "G/a1"), QByteArray("another folder's"));
        QCOMPARE(test::readFile(t.root + "archived/a1"), QByteArray("the run's"));
    }

    // The same through a link the run went through, a keeper's folder, and a mount put
    // where a removed folder was.
    void replacedFoldersAreNotFollowedEither() {
        Scene s;
        s.make("G/.keep", "");
        s.make("real/a1", "a1");
        test::makeFolder(s.root + "other");
        QVERIFY(QFile::link(s.root + "real", s.root + "lnk"));
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "lnk/a1"}}}));
        QVERIFY(QFile::remove(s.root + "lnk"));
        QVERIFY(QFile::link(s.root + "other", s.root + "lnk"));
        QCOMPARE(texts(s.undo()), QStringList{s.root + "G/a1…戻せない(フォルダが置き換えられている)"});
        QVERIFY(QDir(s.root + "other").isEmpty());

        Scene k;
        k.make("K/d", "ORIGINAL");
        k.make("decoy/d", "IMPOSTOR");
        k.make("d", "ORIGINAL");
        QVERIFY(k.run({}, {{k.root + "K", {k.root + "d"}}}));
        QVERIFY(!test::exists(k.root + "d"));  // deleted as the same as K/d
        QVERIFY(QDir(k.root).rename("K", "K.old"));
        QVERIFY(QDir(k.root).rename("decoy", "K"));
        QVERIFY(!k.undo().everything);
        QVERIFY(test::readFile(k.root + "d") != "IMPOSTOR");

        KURUMU_REQUIRE_ROOT();
        Scene m;
        m.make("G/.keep", "");
        m.make("gx/f1", "f1");
        test::makeFolder(m.root + "elsewhere");
        QVERIFY(m.run({}, {{m.root + "G", {m.root + "gx"}}}));
        test::makeFolder(m.root + "gx");
        const test::Mount bound({"--bind", m.root + "elsewhere", m.root + "gx"});
        QVERIFY(bound.mounted());
        QVERIFY(!m.undo().everything);
        QVERIFY(QDir(m.root + "elsewhere").isEmpty());
        QCOMPARE(test::readFile(m.root + "G/f1"), QByteArray("f1"));
    }

    // Links planted after a keep-structure move, where the run removed a source folder and
    // where it made one: the undo (as root, who could write anywhere) reports each name and
    // creates, moves or removes nothing through it, not even an empty folder of a name the
    // run made.
    void linksPlantedAfterTheRun() {
        KURUMU_REQUIRE_ROOT();
        Scene s;
        s.make("d/picsub/inner/p1.jpg", "p1");
        test::makeFolder(s.root + "pic");
        test::makeFolder(s.root + "elsewhere/inner");
        transfer::RunOptions keep;
        keep.keepStructure = true;
        QVERIFY(s.run(keep, {{s.root + "pic", {s.root + "d/picsub"}}}));
        QVERIFY(QFile::link(s.root + "elsewhere", s.root + "d/picsub"));
        const QStringList removedReplaced = texts(s.undo());
        QVERIFY(removedReplaced.contains(s.root + "d/picsub…戻せない(名前が使われている)"));
        QVERIFY(removedReplaced.contains(s.root + "pic/picsub/inner/p1.jpg…戻せない(フォルダが置き換えられている)"));
        QCOMPARE(test::snapshot(s.root + "elsewhere", test::Snapshot::Everything).keys(), QStringList{"inner"});
        QCOMPARE(test::readFile(s.root + "pic/picsub/inner/p1.jpg"), QByteArray("p1"));

        Scene m;
        m.make("d/picsub/inner/p1.jpg", "p1");
        test::makeFolder(m.root + "pic");
        test::makeFolder(m.root + "elsewhere/inner");
        QVERIFY(m.run(keep, {{m.root + "pic", {m.root + "d/picsub"}}}));
        QVERIFY(QDir(m.root + "pic").rename("picsub", "kept"));
        QVERIFY(QFile::link(m.root + "elsewhere", m.root + "pic/picsub"));
        QVERIFY(!m.undo().everything);
        QVERIFY(QFileInfo(m.root + "elsewhere/inner").isDir());
        QCOMPARE(test::readFile(m.root + "pic/kept/inner/p1.jpg"), QByteArray("p1"));
    }

    // Between the undo's look at a file and its move, another file takes the name; between
    // its look at a keeper and its copy, another file takes the keeper's: each waits under a
    // hidden name of the undo's own and is checked there, so the other file is found out,
    // put back where it was and reported, and never takes the run's name.
    void swapsDuringTheUndoAreCaught() {
        Scene s;
        s.make("G/.keep", "");
        s.make("a1", "the run's");
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "a1"}}}));
        {
            test::InjectedFaults faults;
            faults.renameat2 = [&](const char*, const char* to, unsigned) -> std::optional<int> {
                if (QByteArray(to).contains("-undo-") && test::exists(s.root + "G/a1")) {
                    QFile::rename(s.root + "G/a1", s.root + "G/kept");
                    test::writeFile(s.root + "G/a1", "another's");
                }
                return std::nullopt;
            };
            QVERIFY(!s.undo().everything);
        }
        QCOMPARE(test::readFile(s.root + "G/a1"), QByteArray("another's"));
        QCOMPARE(test::readFile(s.root + "G/kept"), QByteArray("the run's"));
        QVERIFY(!test::exists(s.root + "a1"));

        KURUMU_REQUIRE_ROOT();
        Scene d;
        d.make("K/d", "same");
        d.make("d", "same");
        QVERIFY(d.run({}, {{d.root + "K", {d.root + "d"}}}));
        {
            test::InjectedFaults faults;
            bool swapped = false;
            faults.openat = [&](const char* path, int flags) -> std::optional<int> {
                if (QByteArray(path) == "d" && (flags & O_NONBLOCK) != 0 && !std::exchange(swapped, true)) {
                    QFile::rename(d.root + "K/d", d.root + "K/kept");
                    test::writeFile(d.root + "K/d", "evil");
                    (void)::chown(QFile::encodeName(d.root + "K/d").constData(), 65534, 65534);
                }
                return std::nullopt;
            };
            QVERIFY(!d.undo().everything);
        }
        QVERIFY(!test::exists(d.root + "d"));
        QCOMPARE(test::snapshot(d.root), (QMap<QString, QByteArray>{{"K/d", "evil"}, {"K/kept", "same"}}));

        // A folder mounted on one the undo has just made again: nothing goes into the mount.
        Scene m;
        m.make("G/.keep", "");
        m.make("gx/d1/f1", "f1");
        m.make("gx/d1/f2", "f2");
        test::makeFolder(m.root + "other");
        transfer::RunOptions keep;
        keep.keepStructure = true;
        QVERIFY(m.run(keep, {{m.root + "G", {m.root + "gx"}}}));
        const QByteArray made = QFile::encodeName(m.root + "gx/d1");
        bool mounted = false;
        const auto unmount = qScopeGuard([&] {
            if (mounted) ::umount2(made.constData(), MNT_DETACH);
        });
        {
            test::InjectedFaults faults;
            faults.openat = [&](const char* path, int flags) -> std::optional<int> {
                if (QByteArray(path) == "d1" && (flags & O_PATH) == 0 && (flags & O_DIRECTORY) != 0 &&
                    test::exists(m.root + "gx/d1") && !mounted)
                    mounted = ::mount(QFile::encodeName(m.root + "other").constData(), made.constData(), nullptr,
                                      MS_BIND, nullptr) == 0;
                return std::nullopt;
            };
            const transfer::UndoReport report = m.undo();
            QVERIFY(!report.everything);
            if (mounted) QVERIFY(texts(report).contains(m.root + "gx/d1…戻せない(フォルダが置き換えられている)"));
        }
        QVERIFY(mounted);
        QVERIFY(QDir(m.root + "other").isEmpty());
        QCOMPARE(test::readFile(m.root + "G/gx/d1/f1"), QByteArray("f1"));
        QCOMPARE(test::readFile(m.root + "G/gx/d1/f2"), QByteArray("f2"));
        // Once the mount is gone, the folder the undo made there is its own again.
        QCOMPARE(::umount2(made.constData(), MNT_DETACH), 0);
        mounted = false;
        const transfer::UndoReport again = m.undo();
        QVERIFY2(again.everything, qPrintable(texts(again).join('\n')));
        QCOMPARE(test::readFile(m.root + "gx/d1/f1"), QByteArray("f1"));
    }

    // A run still going holds its journal: neither it nor (by a bare undo) a run before it
    // is taken back; once it has ended, it is.
    void runningRunsAreNotTakenBack() {
        Scene s;
        s.make("G/.keep", "");
        s.make("a1", "a1");
        s.make("a2", "a2");
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "a1"}}}));
        auto going = transfer::Journal::open(s.state, {});
        QVERIFY(going.ok());
        const QString older = transfer::runHistory(s.state).first().id;
        QCOMPARE(transfer::undoRun(s.state, {}, "test").status.error, EBUSY);
        QCOMPARE(transfer::undoRun(s.state, going.value->id(), "test").status.error, EBUSY);
        QVERIFY(transfer::runHistory(s.state).last().running);
        QVERIFY(Scene::runInto(*going.value, {{s.root + "G", {s.root + "a2"}}}));
        QVERIFY(s.undo().everything);
        QVERIFY(s.undo(older).everything);
        QCOMPARE(test::readFile(s.root + "a2"), QByteArray("a2"));
        QCOMPARE(test::readFile(s.root + "a1"), QByteArray("a1"));
    }

    // A line added to a journal that names what the run never touched does nothing: a
    // file of another identity, a folder the run never made, a line without identities.
    // Journals that others may write are not trusted at all.
    void forgedLinesDoNothing() {
        Scene s;
        s.make("G/.keep", "");
        s.make("a1", "a1");
        s.make("victim", "the user's");
        test::makeFolder(s.root + "empty");
        test::makeFolder(s.root + "outside");
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "a1"}}}));
        const QString journal = transfer::runHistory(s.state).last().path;
        QByteArray bytes = test::readFile(journal);
        transfer::journal::Operation stolen =
            operation(transfer::journal::Kind::Move, s.root + "outside/stolen", s.root + "victim");
        stolen.object = transfer::journal::ObjectState::of(platform::realFileServices().probe(s.root + "victim").value);
        stolen.object.id = {1, 2};
        stolen.number = 90;
        stolen.outcome = "done";
        transfer::journal::Operation made = operation(transfer::journal::Kind::MakeFolder, s.root + "empty");
        made.number = 91;
        made.outcome = "done";
        made.placed = made.object;
        made.placed.id = {1, 3};
        const QByteArray forged = stolen.line().finished() + stolen.doneLine().finished() + made.line().finished() +
                                  made.doneLine().finished() + "{\"op\":\"move\",\"from\":\"" +
                                  QFile::encodeName(s.root) + "outside/x\",\"to\":\"" + QFile::encodeName(s.root) +
                                  "victim\",\"n\":92}\n";
        bytes.insert(bytes.lastIndexOf("{\"end\""), forged);
        QVERIFY(QFile::remove(journal));
        test::writeFile(journal, bytes);
        QFile::setPermissions(journal, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        // A journals' folder that others could write, as a umask of 002 made it once, is
        // made private again before anything in it is read.
        QCOMPARE(::chmod(QFile::encodeName(s.journals).constData(), 0775), 0);
        s.state = platform::StateFolder::openAt(s.dir.path()).value;
        QCOMPARE(QFileInfo(s.journals).permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther),
                 QFileDevice::Permissions{});
        const transfer::UndoReport report = s.undo();
        QVERIFY(!report.everything);
        QCOMPARE(texts(report),
                 (QStringList{journal + "…戻せない(記録が1行壊れている)", s.root + "empty…戻せない(名前が使われている)",
                              s.root + "victim…戻せない(記録とは別のファイル)", s.root + "a1…元に戻した"}));
        QCOMPARE(test::readFile(s.root + "victim"), QByteArray("the user's"));
        QVERIFY(QFileInfo(s.root + "empty").isDir());
        QVERIFY(QDir(s.root + "outside").isEmpty());
    }

    // A journal that cannot grow in the middle of a run (its volume full) stops the run as
    // the Stop button does, with a message that names the journal's folder; nothing is
    // done that the journal does not hold, so the undo takes all of it back.
    void fullJournalStopsTheRun() {
        Scene s;
        s.make("G/.keep", "");
        QStringList members;
        for (int i = 0; i < 4000; ++i) members.append(s.make(QString("a-member-with-a-long-name-%1").arg(i), "m"));
        const auto before = test::snapshot(s.root);
        transfer::RunVariables variables;
        platform::Result<session::RunOutcome> finished;
        {
            test::InjectedFaults faults;
            int grown = 0;
            faults.fallocate = [&](int) -> std::optional<int> {
                return ++grown > 1 ? std::optional(ENOSPC) : std::nullopt;
            };
            finished =
                session::run(variables, s.host, s.state, {"test", {}, {}, {}, {}}, {{s.root + "G", members}}, {});
        }
        QVERIFY(finished.ok() && !finished.value.finished);
        QCOMPARE(s.host.warnings.size(), 1);
        QCOMPARE(s.host.warnings[0].text,
                 "実行の記録を続けられないため、中止しました。記録のフォルダの容量が不足しています:\n" + s.journals);
        QVERIFY(s.host.ends.last().stopped);
        QVERIFY(test::exists(s.root + "a-member-with-a-long-name-3999"));  // never moved
        const auto report = transfer::undoRun(s.state, {}, "test");
        QVERIFY(report.ok() && report.value.everything);
        QCOMPARE(test::snapshot(s.root), before);
    }

    // A line the journal cannot take whole is not in it at all, and the journal says so: a
    // first line that does not fit leaves no journal (no run for a bare undo to trip on); a
    // line whose mapping fails part-way is taken back; a done line refused ends the journal
    // as "stopped", never "finished".
    void journalLinesAreWholeOrNone() {
        Scene s;
        test::InjectedFaults faults;
        int calls = 0;
        const auto afterTheFirst = [&](int error) {
            return [&calls, error](int) { return ++calls > 1 ? std::optional(error) : std::nullopt; };
        };
        faults.fallocate = afterTheFirst(ENOSPC);
        transfer::JournalHeader big;
        big.paths = QStringList(3000, s.root + QString(400, u'p'));
        QVERIFY(!transfer::Journal::open(s.state, big).ok());
        QVERIFY(QDir(s.journals).entryList(QDir::Files).isEmpty());

        faults.fallocate = {};
        calls = 0;
        faults.mmap = afterTheFirst(ENOMEM);
        auto journal = transfer::Journal::open(s.state, {});
        QVERIFY(journal.ok());
        transfer::journal::Operation operation;
        operation.kind = transfer::journal::Kind::MakeFolder;
        operation.from = s.root + QString(3 << 19, u'f');  // longer than the part of the file mapped
        operation.to = s.root + "G/f";
        QVERIFY(!journal.value->begin(operation).ok());
        faults.mmap = {};
        operation.from = s.root + "f";
        QVERIFY(journal.value->begin(operation).ok());
        operation.outcome = QString(4 << 20, u'x');  // more than the file has room for
        faults.fallocate = [](int) { return std::optional(ENOSPC); };
        QVERIFY(!journal.value->done(operation).ok());
        faults.fallocate = {};
        journal.value->finish("finished");
        const std::optional<transfer::journal::Journal> read =
            transfer::journal::read(s.state, QFileInfo(journal.value->path()).fileName());
        QVERIFY(read);
        QCOMPARE(read->damaged, 0);
        QCOMPARE(read->operations.size(), 1);
        QCOMPARE(read->operations[0].from, s.root + "f");
        QCOMPARE(read->end, "stopped");

        // A volume that fills up still leaves the journal room for its end: a line that would
        // take that room is refused, and the end is written after it.
        calls = 0;
        faults.fallocate = afterTheFirst(ENOSPC);
        auto filling = transfer::Journal::open(s.state, {});
        QVERIFY(filling.ok());
        QVERIFY(filling.value->note(transfer::JournalLine().text("x", "y")).ok());  // the first page's mark with it
        QFile file(filling.value->path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const qsizetype written = file.readAll().indexOf('\0');
        const qsizetype kFilled = 1 << 20;  // what the journal was given before the volume filled
        const qsizetype kLineAround = 9;    // {"x":""} and its newline
        const transfer::JournalLine filler =
            transfer::JournalLine().text("x", QString(kFilled - written - kLineAround - 4, u'y'));
        QVERIFY(!filling.value->note(filler).ok());
        faults.fallocate = [](int) { return std::optional(ENOSPC); };  // the end takes no more than it kept
        filling.value->finish("finished");
        faults.fallocate = {};
        const std::optional<transfer::journal::Journal> ended =
            transfer::journal::read(s.state, QFileInfo(filling.value->path()).fileName());
        QVERIFY(ended);
        QCOMPARE(ended->end, "stopped");

        // A folder's seen line that cannot be written: the move in that folder is not tried.
        auto empty = transfer::Journal::open(s.state, {});
        empty.value->finish("x");
        const qint64 bare = QFileInfo(empty.value->path()).size() - QByteArray(R"({"end":"x"})"
                                                                               "\n")
                                                                        .size();
        transfer::JournalHeader filled;
        filled.paths = {QString((1 << 20) - 20 - bare - 2, u'p')};  // the next line crosses into the next MiB
        calls = 0;
        faults.mmap = afterTheFirst(ENOMEM);
        auto crossing = transfer::Journal::open(s.state, filled);
        QVERIFY(crossing.ok());
        s.make("G/.keep", "");
        const QString source = s.make("stays", "x");
        QStringList told;
        const auto disk = platform::diskServices(transfer::copyCheck(false));
        transfer::JournalingServices files(*disk, *crossing.value, [&](const platform::Status& status) {
            told.append(QString::number(status.error));
        });
        QCOMPARE(files.moveFile(source, s.root + "G/stays", {}).outcome, platform::PlaceOutcome::Failed);
        QCOMPARE(told.size(), 1);
        QVERIFY(test::exists(source) && !test::exists(s.root + "G/stays"));
    }

    // An undo killed while it removed a copy left the copy aside under a hidden name; the
    // next undo removes it, proved equal to its original, and leaves nothing behind.
    void killedUndoLeavesNothingAside() {
        Scene s;
        s.make("G/.keep", "");
        s.make("c1", "copied");
        transfer::RunOptions copy;
        copy.family = transfer::kCopy2;
        QVERIFY(s.run(copy, {{s.root + "G", {s.root + "c1"}}}));
        s.leaveKilledUndo(transfer::runHistory(s.state).last().id,
                          operation(transfer::journal::Kind::Duplicate, s.root + "G/c1", {}, s.root + "c1"));
        QVERIFY(QDir(s.root + "G").rename("c1", asideName()));
        test::writeFile(s.root + "c1", "changed since");
        const transfer::UndoReport changed = s.undo();
        QVERIFY(!changed.everything);
        QCOMPARE(texts(changed), QStringList{s.root + "G/" + asideName() +
                                             "…戻せない(隠し名のまま残した(元のファイルと同じ内容ではない))"});
        test::writeFile(s.root + "c1", "copied");
        const transfer::UndoReport report = s.undo();
        QVERIFY(report.everything);
        QCOMPARE(test::snapshot(s.root), (QMap<QString, QByteArray>{{"G/.keep", ""}, {"c1", "copied"}}));
    }

    // An undo repeated after one that went to its end, and an undo of a run killed before
    // it made a folder whose name another entry holds: nothing is left, nothing reported.
    void repeatedUndosFindNothingWrong() {
        Scene s;
        s.make("G/.keep", "");
        s.make("a1", "one");
        s.make("sub/a1", "one");
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "a1", s.root + "sub"}}}));
        const QString runId = transfer::runHistory(s.state).last().id;
        const auto before = test::snapshot(s.root, test::Snapshot::Everything);
        QVERIFY(s.undo().everything);
        const transfer::UndoReport again = s.undo(runId);
        QVERIFY(again.everything);
        QCOMPARE(texts(again), QStringList{});

        Scene k;
        k.leaveKilledJournal({}, operation(transfer::journal::Kind::MakeFolder, k.root + "a1"));
        k.make("a1", "the user's own file");
        QVERIFY(k.undo().everything);
        QCOMPARE(test::readFile(k.root + "a1"), QByteArray("the user's own file"));
    }

    // Two runs at once: the run whose journal is named first deleted a file as the same as
    // one that the other run put in place. Taking the other run back first leaves that
    // file, naming the run that relies on it, so that both can be taken back in turn.
    void anotherRunsKeeperStays() {
        Scene s;
        s.make("G/.keep", "");
        s.make("x/g1", "same bytes");
        s.make("y/g1", "same bytes");
        auto first = transfer::Journal::open(s.state, {});
        auto second = transfer::Journal::open(s.state, {});
        QVERIFY(first.ok() && second.ok());
        QVERIFY(Scene::runInto(*second.value, {{s.root + "G", {s.root + "y/g1"}}}));
        QVERIFY(Scene::runInto(*first.value, {{s.root + "G", {s.root + "x/g1"}}}));
        QVERIFY(!test::exists(s.root + "x/g1"));  // deleted as the same as G/g1
        const transfer::UndoReport blocked = s.undo();
        QCOMPARE(texts(blocked), QStringList{s.root + "G/g1…戻せない(実行 " + first.value->id() +
                                             " が同じ内容のファイルとして残している)"});
        QVERIFY(s.undo(first.value->id()).everything);
        QVERIFY(s.undo().everything);
        QCOMPARE(test::snapshot(s.root),
                 (QMap<QString, QByteArray>{{"G/.keep", ""}, {"x/g1", "same bytes"}, {"y/g1", "same bytes"}}));

        // Two runs kept the same file: it stays while either of them still needs it.
        Scene both;
        both.make("G/.keep", "");
        both.make("a1", "same");
        both.make("d1/a1", "same");
        both.make("d2/a1", "same");
        both.make("d2/b1", "moved, then changed");
        const auto lastId = [&] { return transfer::runHistory(both.state).last().id; };
        QVERIFY(both.run({}, {{both.root + "G", {both.root + "a1"}}}));
        const QString placing = lastId();
        QVERIFY(both.run({}, {{both.root + "G", {both.root + "d1/a1"}}}));
        const QString firstKeeping = lastId();
        QVERIFY(both.run({}, {{both.root + "G", {both.root + "d2/a1", both.root + "d2/b1"}}}));
        test::writeFile(both.root + "G/b1", "changed");
        QVERIFY(!both.undo(lastId()).everything);  // its file is back, the run only partly taken back
        QCOMPARE(test::readFile(both.root + "d2/a1"), QByteArray("same"));
        QCOMPARE(texts(both.undo(placing)), QStringList{both.root + "G/a1…戻せない(実行 " + firstKeeping +
                                                        " が同じ内容のファイルとして残している)"});

        // A file put under a keeper's name after the keeper was gone is no keeper.
        Scene t;
        t.make("G/g1", "kept");
        t.make("x/g1", "kept");
        QVERIFY(t.run({}, {{t.root + "G", {t.root + "x/g1"}}}));
        QVERIFY(QFile::remove(t.root + "G/g1"));
        t.make("z/g1", "another");
        QVERIFY(t.run({}, {{t.root + "G", {t.root + "z/g1"}}}));
        QVERIFY(t.undo().everything);
        QCOMPARE(test::readFile(t.root + "z/g1"), QByteArray("another"));
    }

    // The journal of the run an undo takes back is never the one that makes room for the
    // undo's own, however old it is.
    void theRunTakenBackKeepsItsJournal() {
        Scene s;
        s.make("G/.keep", "");
        s.make("a", "a");
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "a"}}}));
        const QString oldest = transfer::runHistory(s.state).first().id;
        for (int i = 1; i < transfer::kJournalsKept; ++i) s.run({}, {});
        QVERIFY(s.undo(oldest).everything);
        QVERIFY(test::namesIn(s.journals).contains(oldest + ".jsonl"));
        QCOMPARE(test::namesIn(s.journals).size(), transfer::kJournalsKept);
        QCOMPARE(test::readFile(s.root + "a"), QByteArray("a"));
    }

    // Each case decides what its row says, asking only what it needs, each thing once.
    void decisionsFromTheTable() {
        for (const table::Row& row : table::rows()) {
            const QString decided = table::decide(row);
            QVERIFY2(decided == row.decided, qPrintable(QString(row.name) + ": " + decided));
        }
        // A hidden name that many operations' files look like is decided after one look at
        // all their sources, not one look per decision made again.
        const platform::EntryInfo empty = table::file(7);
        QList<transfer::journal::Operation> moves;
        for (int i = 0; i < 200; ++i)
            moves.append(table::operation(transfer::journal::Kind::Move, "/s/" + QString::number(i), "/G/a", empty));
        QList<const transfer::journal::Operation*> operations;
        for (const auto& move : std::as_const(moves)) operations.append(&move);
        transfer::undo::SeenNow seen;
        seen.looks.insert("/G/.kurumu-aside-4-1", table::at(empty));
        int asked = 0;
        const auto aside = transfer::undo::HiddenKind::SetAside;
        for (transfer::undo::Decision decision =
                 transfer::undo::decideHidden("/G/.kurumu-aside-4-1", aside, operations, seen);
             decision.question;
             decision = transfer::undo::decideHidden("/G/.kurumu-aside-4-1", aside, operations, seen)) {
            QVERIFY(++asked < 3);
            for (const QString& path : QStringList{decision.question->path} + decision.question->morePaths)
                seen.looks.insert(path, {});
        }
        QCOMPARE(transfer::undo::decideHidden("/G/.kurumu-aside-4-1", aside, operations, seen).tries.size(), 200);
        // A copy never published, or a file made to learn what the disk can do: it goes
        // while its bytes begin those of a file the run used beside it.
        const transfer::journal::Operation copied =
            table::operation(transfer::journal::Kind::Copy, "/s/c", "/G/c", empty);
        seen.looks.insert("/G/.kurumu-part-4-2", table::at(table::file(8)));
        seen.looks.insert("/s/c", table::at(empty));
        seen.looks.insert("/G/c", {});
        QCOMPARE(table::describe(transfer::undo::decideHidden(
                     "/G/.kurumu-part-4-2", transfer::undo::HiddenKind::Unpublished, {&copied}, seen)),
                 "RemovePartialCopy /G/.kurumu-part-4-2 /s/c else Leave /G/.kurumu-part-4-2: "
                 "隠し名のまま残した(記録にないファイル)");
        // So does an empty file under a set-aside name that no operation's file can be: the
        // placeholder of a set-aside that a kill cut short.
        platform::EntryInfo placeholder = table::file(9);
        placeholder.length = 0;
        seen.looks.insert("/G/.kurumu-aside-4-3", table::at(placeholder));
        QCOMPARE(table::describe(transfer::undo::decideHidden("/G/.kurumu-aside-4-3", aside, {&copied}, seen)),
                 "RemovePartialCopy /G/.kurumu-aside-4-3 /s/c else Leave /G/.kurumu-aside-4-3: "
                 "隠し名のまま残した(記録にないファイル)");
    }

    // Journals of every format are taken back, each with the checks of its time: format 1
    // without identities (a keeper known by its times), format 2 without checksums (a
    // keeper known by its identity and state), format 3 with both.
    void everyFormatIsTakenBack_data() {
        QTest::addColumn<int>("format");
        for (const int format : {1, 2, 3}) QTest::addRow("format %d", format) << format;
    }

    void everyFormatIsTakenBack() {
        QFETCH(const int, format);
        Scene s;
        s.make("G/d", "same");
        s.make("d", "same");
        s.make("m", "moved");
        const auto before = test::snapshot(s.root);
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "d", s.root + "m"}}}));
        struct stat keeper {};
        QCOMPARE(::stat(QFile::encodeName(s.root + "G/d").constData(), &keeper), 0);
        const QString journal = s.journals + '/' + test::namesIn(s.journals).first();
        QByteArray older;
        for (const QByteArray& text : test::readFile(journal).split('\n')) {
            QJsonObject line = QJsonDocument::fromJson(text).object();
            if (line.isEmpty() || (format < 3 && line.contains("journal")) || (format < 2 && line.contains("seen")))
                continue;
            if (line.contains("kurumu")) line.insert("format", format);
            if (line.contains("kurumu") && format < 2) line.remove("format");
            if (format < 3) line.remove("crc32");
            if (format < 2) {
                for (const char* key : {"id", "keeperId", "owner", "group", "keeperOwner", "keeperGroup"})
                    line.remove(key);
                if (line.value("op") == "duplicate")
                    line.insert("keeperCtime", qint64{keeper.st_ctim.tv_sec} * 1'000'000'000 + keeper.st_ctim.tv_nsec);
            }
            older += QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
        }
        QVERIFY(QFile::remove(journal));
        test::writeFile(journal, older);
        QFile::setPermissions(journal, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(transfer::runHistory(s.state).first().format, format);
        const transfer::UndoReport report = s.undo();
        QVERIFY2(report.everything, qPrintable(texts(report).join('\n')));
        QCOMPARE(test::snapshot(s.root), before);
    }

    // A run killed in the middle of a move across file systems, at each moment where a
    // file may be in two places: the copy published beside the source, or the source
    // already set aside under a hidden name. The undo puts everything right.
    void killedMovesArePutRight_data() {
        QTest::addColumn<bool>("sourceAside");
        QTest::newRow("copy published, source still there") << false;
        QTest::newRow("copy published, source set aside") << true;
    }

    void killedMovesArePutRight() {
        QFETCH(bool, sourceAside);
        Scene s;
        s.make("G/.keep", "");
        const QString source = s.make("a.txt", "the bytes");
        const auto before = test::snapshot(s.root, test::Snapshot::Everything);
        s.leaveKilledJournal({}, operation(transfer::journal::Kind::Move, source, s.root + "G/a.txt"));
        QVERIFY(QFile::copy(source, s.root + "G/a.txt"));
        if (sourceAside) QVERIFY(QFile::rename(source, s.root + asideName()));
        const transfer::UndoReport report = s.undo();
        QVERIFY2(report.everything, qPrintable(texts(report).join('\n')));
        QCOMPARE(test::snapshot(s.root, test::Snapshot::Everything).keys(), before.keys());
        QCOMPARE(test::readFile(source), QByteArray("the bytes"));
    }

    // The journal is written before each operation: its lines say what the run did, in
    // order, and the folder keeps only the most recent journals.
    void journalFormatAndRetention() {
        Scene s;
        s.make("G/.keep", "");
        s.make("a", "x");
        QVERIFY(s.run({}, {{s.root + "G", {s.root + "a"}}}));
        const QString journal = s.journals + '/' + test::namesIn(s.journals).first();
        QList<QByteArray> lines = test::readFile(journal).trimmed().split('\n');
        QCOMPARE(lines.size(), 7);
        QVERIFY(lines[0].startsWith("{\"kurumu\":\"run\",\"format\":3,"));
        // Every page the journal fills begins with what the journal is.
        QCOMPARE(lines[1], "{\"journal\":\"run\",\"format\":3}");
        lines.removeAt(1);
        const QByteArray root = QFile::encodeName(s.root);
        // The folders are noted once, before the first operation that uses them, with the
        // time the run then changes; the operation, with what it moves.
        QVERIFY(lines[1].startsWith(
            QByteArray("{\"seen\":\"" + root.chopped(1) + "\",\"id\":\"" + folderIdentity(s.root) + "\",\"mtime\":")));
        QVERIFY(lines[2].startsWith(
            QByteArray("{\"seen\":\"" + root + "G\",\"id\":\"" + folderIdentity(s.root + "G") + "\",")));
        QVERIFY(lines[3].startsWith(QByteArray("{\"op\":\"move\",\"from\":\"" + root + "a\",\"to\":\"" + root +
                                               "G/a\",\"id\":\"" + folderIdentity(s.root + "G/a") + "\",\"size\":1,")));
        QVERIFY(lines[3].endsWith(",\"n\":1}"));
        QVERIFY(lines[4].startsWith("{\"done\":1,\"outcome\":\"done\",\"time\":"));
        QCOMPARE(lines[5], "{\"end\":\"finished\"}");
        // Numbers at each edge of the way they are written, and texts with what needs an
        // escape at each place of the words they are looked at in, read back as they were.
        for (const qint64 value : {qint64{0}, qint64{99999999}, qint64{100000000}, qint64{1000000000000000},
                                   qint64{9999999999999999}, qint64{10000000000000000}, qint64{1796940538901958096},
                                   std::numeric_limits<qint64>::max(), qint64{-1}, std::numeric_limits<qint64>::min()})
            QCOMPARE(transfer::journal::Line().number("n", value).finished(),
                     "{\"n\":" + QByteArray::number(value) + "}\n");
        for (const QString& text :
             {QStringLiteral("\"2345678"), QStringLiteral("1234567\\"), QStringLiteral("12345678\n"),
              QStringLiteral("123456789abcdef\x01"), QStringLiteral("a\u3042\"")}) {
            const QJsonObject read =
                QJsonDocument::fromJson(transfer::journal::Line().text("t", text).finished()).object();
            QCOMPARE(read.value(QLatin1String("t")).toString(), text);
        }
        // Only journals go: never a user's file in the folder, never a link.
        test::writeFile(s.journals + "/notes.txt", "the user's");
        test::writeFile(s.dir.path() + "/outside", "the user's too");
        QCOMPARE(::symlink(QFile::encodeName(s.dir.path() + "/outside").constData(),
                           QFile::encodeName(s.journals + "/00000000-000000-000-1.jsonl").constData()),
                 0);
        for (int i = 0; i < transfer::kJournalsKept + 3; ++i) s.run({}, {});
        QCOMPARE(test::namesIn(s.journals).size(), transfer::kJournalsKept + 2);
        QCOMPARE(test::readFile(s.journals + "/notes.txt"), QByteArray("the user's"));
        QCOMPARE(test::readFile(s.journals + "/00000000-000000-000-1.jsonl"), QByteArray("the user's too"));
        // The oldest run stays while an undo of it that may not have finished does.
        const QString oldest = transfer::runHistory(s.state)[1].id;  // the oldest once the undo's journal is open
        s.leaveKilledUndo(oldest, operation(transfer::journal::Kind::MakeFolder, s.root + "never"));
        for (int i = 0; i < 3; ++i) s.run({}, {});
        QCOMPARE(transfer::runHistory(s.state).first().id, oldest);
        // and the two go together, so that the run never stands without what took it back.
        for (int i = 0; i < transfer::kJournalsKept; ++i) {
            s.run({}, {});
            const QList<transfer::RunSummary> runs = transfer::runHistory(s.state);
            const auto named = [&](const transfer::RunSummary& run) { return run.id == oldest; };
            const auto undoing = [&](const transfer::RunSummary& run) { return run.undoOf == oldest; };
            QCOMPARE(std::any_of(runs.cbegin(), runs.cend(), named), std::any_of(runs.cbegin(), runs.cend(), undoing));
        }
    }

    // Journals opened one after another, many within one millisecond, sort in the order
    // they were opened: the last one is the last run.
    void journalsSortAsTheyWereOpened() {
        const QTemporaryDir dir;
        const auto state = platform::StateFolder::openAt(dir.path());
        QStringList opened;
        for (int i = 0; i < 40; ++i) {
            auto journal = transfer::Journal::open(state.value, {});
            QVERIFY(journal.ok());
            opened.append(journal.value->id() + ".jsonl");
        }
        QCOMPARE(test::namesIn(dir.path() + "/runs"), opened);
    }
};

QTEST_GUILESS_MAIN(TestUndo)
#include "tst_undo.moc"
