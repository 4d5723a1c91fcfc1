#include "app/WindowMain.h"

#include "platform/FileSystem.h"
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
    platform::catchCloseSignals();
    // Started from the desktop (told so on the command line, never guessed), the window
    // keeps its settings in the user's configuration folder, never in the home folder that
    // is then its working directory.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    const bool fromDesktop = arguments.contains(QLatin1String(kFromDesktop));
    if (fromDesktop) platform::keepSettingsInConfigFolder();
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

    // Paths whose bytes do not survive decoding would name other files: they are refused
    // with a message, and the others are taken as one drop.
    QStringList paths;
    QStringList refused;
    const QString workingFolder = platform::workingFolder();
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        if (bytes == kFromDesktop) continue;
        const QString path = QFile::decodeName(bytes);
        const QString absolute = platform::absolutePath(path, workingFolder);
        if (platform::isFaithfulPath(bytes) && !absolute.isEmpty()) {
            paths.append(absolute);
        } else {
            refused.append(path);
        }
    }
    if (!refused.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, refused] {
            window::showMessageBox(
                &window, QStringLiteral("kurumu"), window::MessageIcon::Warning,
                QStringLiteral("名前が UTF-8 でないため、正しく扱えない項目は受け取りませんでした:\n") +
                    refused.join(u'\n'));
        });
    }
    if (!paths.isEmpty()) QTimer::singleShot(0, &window, [&window, paths] { window.dropPaths(paths); });
    return QApplication::exec();
}

}  // namespace kurumu::app
