#pragma once

#include "platform/Entry.h"
#include "transfer/JournalRecords.h"
#include "transfer/UndoReading.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What an undo does with each operation of a run, decided from what the journals say (the
// reading) and what is seen now, without a call to the system: when the decision needs to
// see more, it asks a question, the undo answers it, and the decision is made again. The
// acting loop then carries out the steps decided, re-checking as it acts.
namespace kurumu::transfer::undo {

// What is at a path, as the undo's services reach it: nothing there, an entry, or the
// error of the look.
struct Look {
    std::optional<platform::EntryInfo> entry;
    int error = 0;

    bool replaced() const { return error == platform::kFolderReplaced; }
};

// A name of the run's (or an undo's) processes that sets a file aside, with what it holds.
struct HiddenFile {
    QString path;
    Look look;
};

// Two files whose bytes were compared.
struct Comparison {
    QString first;
    QString second;
    bool same = false;
};

// What is seen now, as far as the decision asked.
struct SeenNow {
    QHash<QString, Look> looks;
    QHash<QString, QList<HiddenFile>> setAside;  // by folder
    QList<Comparison> compared;
    QHash<quint32, std::optional<quint32>> primaryGroups;  // by user
    quint32 user = 0;                                      // the undo's effective user
};

// What the decision needs to see before it can decide.
struct Question {
    enum class Kind {
        Look,          // the entry at path
        SetAside,      // the set-aside names of the run's processes in the folder path
        Compare,       // whether path and other hold the same bytes
        PrimaryGroup,  // the primary group of the user
    };
    Kind kind = Kind::Look;
    QString path;
    QString other;
    quint32 user = 0;
    QStringList morePaths;  // Look: others to look at with it
};

// What a file is expected to be where it waits before it gets its name back: the very
// object (identity) when it was renamed there, what a copy has of it when it came across
// file systems.
struct Expected {
    std::optional<platform::Identity> identity;  // none: any object that looks like the state
    journal::ObjectState state;
    bool copy = false;  // a copy of the object, not the object itself
    bool identitiesRecorded = true;
    bool dated = false;  // renamed on a disk that dates every rename: its bytes were proved, not its time
};

enum class Act {
    Nothing,
    Leave,              // report path as left, for reason
    PutBack,            // rename path back to other, staged and checked against expected
    RemoveSecondCopy,   // path goes once proved to hold other's bytes; other is restored (say)
    RemoveRunCopy,      // the run's copy at path goes once proved to hold other's bytes
    DropHiddenCopy,     // a hidden copy at path goes once proved to hold other's bytes
    GiveAttributes,     // a file an earlier undo made again at path (identity) gets its attributes
    FinishFolder,       // a folder an earlier undo made again at path (identity) is opened to its owner
    MakeFolder,         // the removed folder at path is made again
    RemoveFolder,       // the folder the run made at path (identity) goes while empty
    MakeAgain,          // the deleted duplicate at path is copied again from its keeper
    NameAgain,          // the deleted duplicate at path is named again from its keeper's file
    RemovePartialCopy,  // the run's copy at path (identity), made in place, goes while its bytes begin other's
};

// One thing to do, with the identities it was decided on.
struct Step {
    Act act = Act::Nothing;
    QString path;
    QString other;
    QString reason;     // Leave
    Expected expected;  // PutBack
    platform::Identity identity;
    QString reasonIfNot;        // RemoveSecondCopy: why it stays, where it cannot be proved
    bool say = true;            // RemoveSecondCopy, RemovePartialCopy: report other as restored
    bool quietIfOther = false;  // RemoveRunCopy: another file at path is no fault (a killed run's name)
    bool quiet = false;         // RemovePartialCopy: the program's own leftover, which says nothing either way
};

// The decision: a question to answer first, or steps tried in order until one is done,
// then one more step (then) or, when none was done, another (otherwise).
struct Decision {
    std::optional<Question> question;
    QList<Step> tries;
    Step then;
    Step otherwise;
};

// Why an undo leaves something, in the words of its report.
inline const QString kFolderReplaced = QStringLiteral("フォルダが置き換えられている");
inline const QString kNameTaken = QStringLiteral("名前が使われている");
inline const QString kChanged = QStringLiteral("変更されている");
inline const QString kAnotherFile = QStringLiteral("記録とは別のファイル");
inline const QString kMaybePartial = QStringLiteral("作りかけのコピーかもしれない(確かめられない)");
QString errorReason(int error);

// What to do with one operation of the run, taken back in reverse order.
Decision decide(const journal::Operation& operation, const Reading& reading, const SeenNow& seen);

// What to do, before the run's operations, with a copy that an earlier undo was writing
// under a name itself when it was killed (a disk that publishes no other way): it goes
// while its bytes begin those of the file it copied, so that that file can have the name.
Decision decideKilledUndoCopy(const journal::Operation& operation, const SeenNow& seen);

// The two kinds of hidden names the run's processes give: a file set aside, and a copy
// not yet published (or a file made to learn what a disk can do), never a user's file.
enum class HiddenKind { SetAside, Unpublished };

// What to do with a hidden name of the run's processes left in a folder it used, among
// the operations taken back.
Decision decideHidden(const QString& hidden, HiddenKind kind, const QList<const journal::Operation*>& operations,
                      const SeenNow& seen);

// A folder whose modification time goes back, while no name in it changed after a time.
struct FolderTime {
    QString path;
    platform::Identity identity;
    qint64 modifiedNs = 0;
    qint64 notModifiedAfterNs = 0;
};
// The folders the run changed, each once whatever paths name it, with the time it had when
// the run first used it; held holds what each seen path reaches now (none where it fails).
QList<FolderTime> folderTimesToGiveBack(const Reading& reading, const QHash<QString, platform::Identity>& held);

// The mode and times a folder made again had before the run listed it (those of its
// removal where the journal does not have them), given once its files are back.
platform::Attributes finishedFolderAttributes(const journal::Operation& removal, const Reading& reading);

}  // namespace kurumu::transfer::undo
