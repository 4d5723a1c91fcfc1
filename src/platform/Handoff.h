#pragma once

#include "platform/Errors.h"
#include "platform/FileDescriptor.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

// A start of the window hands its paths to the window already open for the same settings
// file on the same display, of the same user, over a Unix socket in the user's runtime
// folder. Which start becomes that window is decided by a lock on a file beside the
// socket: whoever holds it listens; a socket left by a window that died is removed only
// under the lock.
//
// The start sends its paths; the window answers whether it takes them; a start told yes
// confirms, and only then does the window take them. A start that gave up waiting (and
// opens a window of its own) never confirms: no drop is ever taken by two windows.
namespace kurumu::platform {

// What one message on the socket is: the paths of a start, or the window's answer.
enum class HandoffKind : char {
    Paths = 'P',      // absolute paths, valid UTF-8, each ended by a NUL
    Accepted = 'A',   // taken as one drop
    Refused = 'R',    // not taken; the body says why, in UTF-8
    Confirmed = 'C',  // the start heard the yes and leaves its paths to the window
};
// The largest body a message may have: some hundred thousand paths.
inline constexpr std::size_t kHandoffLimit = std::size_t{16} << 20;

// A message as bytes: a mark and version, its kind, its body's length, its body.
QByteArray handoffMessage(HandoffKind kind, QByteArrayView body);
// The body of a start's paths; nothing when a path is not absolute, holds a NUL, or the
// whole is larger than the limit.
std::optional<QByteArray> pathsBody(const QStringList& paths);
// The paths of a body, each checked again: EILSEQ where one is not valid UTF-8 or not
// absolute, or the body is not ended by a NUL.
Result<QStringList> pathsOfBody(QByteArrayView body);

// What the head of a message says of the message. EPROTO for another mark or version,
// EMSGSIZE for a body larger than the limit given.
struct HandoffHead {
    HandoffKind kind = HandoffKind::Paths;
    std::size_t length = 0;
};
inline constexpr std::size_t kHandoffHeadSize = 10;
Result<HandoffHead> handoffHead(QByteArrayView head, std::size_t limit);

// The user's runtime folder ($XDG_RUNTIME_DIR), only when it is a folder (not a link) of
// this user's that no one else may enter (mode 0700): EPERM otherwise, ENOENT when unset.
Result<QString> runtimeFolder();
// The socket's name for a settings file (resolved to its canonical path) and a display:
// the same for every start that shares both.
QString handoffSocketName(const QString& settingsFile, const QString& display);
// The display a window opens on, as the environment names it.
QString displayName();

// The window's end of the handoff: it holds the lock and listens while it lives.
class HandoffReceiver {
public:
    // Asked whether the window takes the paths a start hands over (nothing when it does, the
    // reason otherwise), and told to take them once the start has confirmed.
    struct Taker {
        std::function<std::optional<QString>(const QStringList& paths)> refusal;
        std::function<void(const QStringList& paths)> take;
    };

    // Made only by become, which holds what it is given.
    class Held {
        friend class HandoffReceiver;
        Held() = default;
    };
    HandoffReceiver(Held, FileDescriptor lock, FileDescriptor socket, QByteArray path);
    HandoffReceiver(const HandoffReceiver&) = delete;
    HandoffReceiver& operator=(const HandoffReceiver&) = delete;
    ~HandoffReceiver();

    // Becomes the receiver at the socket's path in the folder: EWOULDBLOCK when another
    // process holds the lock (a window is open, or starting).
    static Result<std::unique_ptr<HandoffReceiver>> become(const QString& folder, const QString& name);

    // The listening socket, readable when a start waits.
    int socket() const { return m_socket.get(); }
    // Answers each start that waits now: another user's is closed unanswered, a message
    // that is not whole within the time, or malformed, or too large, is refused. A start
    // is given the time for each message it sends: its paths, then its confirmation.
    void answerWaiting(const Taker& taker, std::chrono::milliseconds timeout = std::chrono::milliseconds(500));

private:
    FileDescriptor m_lock;
    FileDescriptor m_socket;
    QByteArray m_path;
};

// What a start heard from the window it handed its paths to.
struct HandoffAnswer {
    enum class Heard { Accepted, Refused, NoAnswer };
    Heard heard = Heard::NoAnswer;
    QString text;  // why it was refused, or why there was no answer
};
// Hands the paths to the window listening at the socket's path in the folder, waiting for
// its answer at most the time given (a window still starting gets that time to listen).
HandoffAnswer handOff(const QString& folder, const QString& name, const QStringList& paths,
                      std::chrono::milliseconds timeout);

}  // namespace kurumu::platform
