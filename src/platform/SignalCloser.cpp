#include "platform/SignalCloser.h"

#include "platform/SystemCalls.h"

#include <QSocketNotifier>

#include <array>
#include <csignal>

namespace kurumu::platform {

namespace {

std::array<int, 2> g_pipe{-1, -1};  // Read end, write end; one closer per process.

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

// Set by the handler, so that asking needs no system call until a signal came.
volatile std::sig_atomic_t g_caught = 0;

extern "C" void onSignal(int) {
    g_caught = 1;
    const int saved = errno;
    const char byte = 1;
    // The system's own table: a constant, read safely inside a handler.
    [[maybe_unused]] const ssize_t written = sys::systemCalls().write(g_pipe[1], &byte, 1);
    errno = saved;
}

void handleWith(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sys::os().sigaction(signal, &action, nullptr);
}

void handleCloseSignalsByDefault() {
    for (const int signal : kSignals) handleWith(signal, SIG_DFL);
}

}  // namespace

void catchCloseSignals() {
    if (g_pipe[0] >= 0 || sys::os().pipe2(g_pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) return;
    for (const int signal : kSignals) handleWith(signal, onSignal);
}

bool takeCloseRequest() {
    if (g_caught == 0 || g_pipe[0] < 0) return false;
    g_caught = 0;
    std::array<char, 64> bytes{};
    if (sys::os().read(g_pipe[0], bytes.data(), bytes.size()) <= 0) return false;
    handleCloseSignalsByDefault();
    return true;
}

SignalCloser::SignalCloser(QObject* parent) : QObject(parent) {
    catchCloseSignals();
    if (g_pipe[0] < 0) return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalCloser::drain);
    // A signal caught before the notifier existed is read at the first turn of the loop.
}

SignalCloser::~SignalCloser() {
    if (m_notifier == nullptr) return;
    handleCloseSignalsByDefault();
    sys::os().close(g_pipe[0]);
    sys::os().close(g_pipe[1]);
    g_pipe = {-1, -1};
}

void SignalCloser::drain() {
    std::array<char, 64> bytes{};
    while (sys::os().read(g_pipe[0], bytes.data(), bytes.size()) > 0) {
    }
    // A second signal ends the program at once, even while a box asks something on the way out.
    handleCloseSignalsByDefault();
    Q_EMIT closeRequested();
}

void ignoreClosedPipes() {
    handleWith(SIGPIPE, SIG_IGN);
}

}  // namespace kurumu::platform
