#include "app/WindowMain.h"

#include "platform/FileSystem.h"
#include "platform/Handoff.h"
#include "platform/Paths.h"
#include "platform/SignalCloser.h"
#include "platform/Version.h"
#include "window/MessageBox.h"
#include "window/frmMatome.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QSessionManager>
#include <QTimer>
#include <QTranslator>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace kurumu::app {

namespace {

bool hasDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

// Long enough for a window that is still starting to listen, or busy with a large file
// between two looks at its events.
constexpr std::chrono::milliseconds kHandoffWait{5000};

struct StartPaths {
    QStringList paths;
    QStringList refused;  // whose bytes do not survive decoding: they would name other files
};

StartPaths startPaths(int argc, char** argv) {
    StartPaths start;
    const QString workingFolder = platform::workingFolder();
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        if (bytes == kFromDesktop) continue;
        const QString path = QFile::decodeName(bytes);
        const QString absolute = platform::absolutePath(path, workingFolder);
        if (platform::isFaithfulPath(bytes) && !absolute.isEmpty()) {
            start.paths.append(absolute);
        } else {
            start.refused.append(path);
        }
    }
    return start;
}

void say(const QString& text) {
    std::fputs((QStringLiteral("kurumu: ") + text + u'\n').toLocal8Bit().constData(), stderr);
}

// The window already open for these settings on this display takes the paths: the exit
// status of this start once it has answered; nothing when this start opens the window
// (and then, where it can, listens for the starts after it).
std::optional<int> handOver(const StartPaths& start, std::unique_ptr<platform::HandoffReceiver>& receiver) {
    const platform::Result<QString> folder = platform::runtimeFolder();
    if (!folder.ok()) return std::nullopt;
    const QString name = platform::handoffSocketName(platform::settingsFilePath(), platform::displayName());
    auto became = platform::HandoffReceiver::become(folder.value, name);
    if (became.ok()) receiver = std::move(became.value);
    if (became.status.error != EWOULDBLOCK) return std::nullopt;
    const platform::HandoffAnswer answer = platform::handOff(folder.value, name, start.paths, kHandoffWait);
    using Heard = platform::HandoffAnswer::Heard;
    if (answer.heard == Heard::NoAnswer) {
        say(answer.text + QStringLiteral("; opening a window of its own"));
        return std::nullopt;
    }
    for (const QString& path : start.refused) say(QStringLiteral("not taken, its name is not UTF-8: ") + path);
    if (answer.heard == Heard::Refused) say(answer.text);
    return answer.heard == Heard::Accepted ? 0 : 1;
}

}  // namespace

int runWindow(int argc, char** argv) {
    if (!hasDisplay()) {
        std::fputs(
            "kurumu: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
            "Run it on a desktop, or under a virtual display: xvfb-run -a ./build/kurumu\n"
            "The batch modes need no display: kurumu --help\n",
            stderr);
        return 1;
    }
    platform::catchCloseSignals();
    // Started from the desktop (told so on the command line, never guessed), the window
    // keeps its settings in the user's configuration folder, never in the home folder that
    // is then its working directory.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    const bool fromDesktop = arguments.contains(QLatin1String(kFromDesktop));
    if (fromDesktop) platform::keepSettingsInConfigFolder();
    const StartPaths start = startPaths(argc, argv);
    std::unique_ptr<platform::HandoffReceiver> receiver;
    if (const std::optional<int> handedOver = handOver(start, receiver)) return *handedOver;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kurumu"));
    QApplication::setApplicationVersion(platform::programVersion());
    platform::SignalCloser closer;
    // Qt's own texts (dialog buttons, standard menus) in Japanese, as the rest of the window.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    window::frmMatome window;
    QObject::connect(&closer, &platform::SignalCloser::closeRequested, &window, &window::frmMatome::closeWithoutAsking);
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.closeWithoutAsking(); });
    window.show();
    if (receiver) window.receiveHandoffs(*receiver);

    if (!start.refused.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, refused = start.refused] {
            window::showMessageBox(
                &window, QStringLiteral("kurumu"), window::MessageIcon::Warning,
                QStringLiteral("名前が UTF-8 でないため、正しく扱えない項目は受け取りませんでした:\n") +
                    refused.join(u'\n'));
        });
    }
    if (!start.paths.isEmpty())
        QTimer::singleShot(0, &window, [&window, paths = start.paths] { window.dropPaths(paths); });
    return QApplication::exec();
}

}  // namespace kurumu::app
