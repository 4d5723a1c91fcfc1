#pragma once

#include <QObject>

class QSocketNotifier;

namespace kurumu::platform {

// Turns SIGTERM, SIGINT and SIGHUP into the Qt signal closeRequested(), delivered on the
// event loop through a self-pipe: the signal handler itself only writes one byte.
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

}  // namespace kurumu::platform
