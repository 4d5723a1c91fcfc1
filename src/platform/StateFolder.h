#pragma once

#include "platform/AppendLog.h"
#include "platform/Errors.h"
#include "platform/FileDescriptor.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The folder where the program keeps its state ($XDG_STATE_HOME/kurumu, or
// ~/.local/state/kurumu) and its "runs" folder of journals. Both are held open from the
// moment they are checked (real folders, not links, owned by the effective user), and
// everything in them is reached through those descriptors: a name swapped for a link
// afterwards leads nowhere else.
namespace kurumu::platform {

class StateFolder {
public:
    enum class Making {
        Missing,  // what is missing is made (a run, an undo)
        Nothing,  // a missing folder is an empty one (the history)
    };

    // The folder of the environment. Where a missing folder would have to be made beneath
    // a folder that is not the effective user's (root with a user's environment), the
    // effective user's own state folder is used instead, and note() says so. EPERM when
    // a folder is refused: a link, or another user's (refusal() names it and its owner).
    static Result<StateFolder> open(Making making = Making::Missing);
    // The folder given, as the state folder.
    static Result<StateFolder> openAt(const QString& path, Making making = Making::Missing);

    StateFolder() = default;

    const QString& path() const { return m_path; }
    QString runsPath() const { return m_path + QStringLiteral("/runs"); }
    // Why the folder was refused, naming it and its owner; empty when it was not.
    const QString& refusal() const { return m_refusal; }
    // Said once per process: the folder used is not the environment's.
    const QString& note() const { return m_note; }

    // A new file in runs, which must not exist yet.
    Result<AppendLog> createRunFile(const QString& name) const;
    // The regular files in runs, by name, oldest name first.
    QStringList runFiles() const;
    // A run file's first bytes, up to limit; private tells whether only this user could
    // have written it (owned by the effective user, writable by nobody else).
    Result<QByteArray> readRunFile(const QString& name, qint64 limit, bool& privateToUser) const;
    // True while a writer, in this process or another, has the run file open.
    bool runFileWritten(const QString& name) const;
    // Removes a run file: only a regular file (never a link), and never one still written.
    Status removeRunFile(const QString& name) const;
    // The lock of the name in the state folder itself (made when missing).
    Result<FileLock> lock(const QString& name) const;
    // A small file of the state folder itself (the window's place): its first bytes, up to
    // limit. Only a regular file, never through a link.
    Result<QByteArray> readStateFile(const QString& name, qint64 limit) const;
    // Replaces a small file of the state folder itself whole: written beside it under a
    // hidden name, then renamed over it, so that a reader meets the old bytes or the new.
    Status replaceStateFile(const QString& name, const QByteArray& bytes) const;

private:
    struct ForeignFolder {
        QString folder;
        quint32 owner = 0;
    };

    QString m_path;
    std::optional<ForeignFolder> m_foreignAbove;  // refused: the folder above, beneath which nothing is made
    QString m_refusal;
    QString m_note;
    FileDescriptor m_state;
    FileDescriptor m_runs;  // not held when it is missing and nothing was to be made
};

// The user's name, or the number where the password database has none.
QString userName(quint32 uid);
// The user's primary group; none when the password database does not know the user.
std::optional<quint32> primaryGroupOf(quint32 uid);

}  // namespace kurumu::platform
