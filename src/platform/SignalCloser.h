#pragma once

#include <QObject>

class QSocketNotifier;

namespace kurumu::platform {

// Starts catching SIGTERM, SIGINT and SIGHUP into a self-pipe: the handler only writes
// one byte. Called first thing, so that a signal during start-up waits for the window
// instead of ending the program before it could save anything.
void catchCloseSignals();

// True once for a caught signal, for a program without an event loop (the batch modes),
// which asks now and then. After it, the signals take their default course again, so that
// a second one ends the program at once.
bool takeCloseRequest();

// Turns the caught signals into the Qt signal closeRequested(), delivered on the event loop.
class SignalCloser final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SignalCloser)

public:
    explicit SignalCloser(QObject* parent = nullptr);
    ~SignalCloser() override;

Q_SIGNALS:
    void closeRequested();

private:
    void drain();

    QSocketNotifier* m_notifier = nullptr;  // Owned by this object as its Qt child.
};

// A write to a pipe whose reader has gone fails with EPIPE instead of ending the process.
void ignoreClosedPipes();

}  // namespace kurumu::platform
