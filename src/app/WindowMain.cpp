#include "app/WindowMain.h"

#include "platform/Paths.h"
#include "platform/SignalCloser.h"
#include "window/frmMatome.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace kurumu::app {

namespace {

bool hasDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
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
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kurumu"));
    QApplication::setApplicationVersion(QStringLiteral("0.1.3.15"));

    window::frmMatome window;
    platform::SignalCloser closer;
    QObject::connect(&closer, &platform::SignalCloser::closeRequested, &window, &QWidget::close);
    window.show();

    QStringList paths;
    const QStringList arguments = QApplication::arguments();
    const QString workingFolder = platform::workingFolder();
    for (qsizetype i = 1; i < arguments.size(); ++i) paths.append(platform::absolutePath(arguments[i], workingFolder));
    if (!paths.isEmpty()) QTimer::singleShot(0, &window, [&window, paths] { window.dropPaths(paths); });
    return QApplication::exec();
}

}  // namespace kurumu::app
