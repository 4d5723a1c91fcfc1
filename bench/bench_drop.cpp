// A drop of paths (100,000, or as many as the first argument says) onto the real window
// until the judged list is shown: offscreen, or on the display that QT_QPA_PLATFORM names
// (xvfb-run -a env QT_QPA_PLATFORM=xcb bench_drop 20000), timed from the window's mapping.
#include "window/MessageBox.h"
#include "window/frmMatome.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeView>
#include <QWindow>

#include <cstdio>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const QApplication application(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    const QTemporaryDir work;
    QDir::setCurrent(work.path());
    QStringList paths;
    for (int i = count; i > 0; --i)
        paths.append(QStringLiteral("/data/photos/trip (%1) 写真_%2.jpg").arg(i % 97).arg(i));

    kurumu::window::frmMatome window;
    window.show();
    while (window.windowHandle() == nullptr || !window.windowHandle()->isExposed()) QApplication::processEvents();
    QApplication::processEvents();
    auto* list = window.findChild<QTreeView*>(QStringLiteral("lstFolderlist"));
    QElapsedTimer timer;
    timer.start();
    window.dropPaths(paths);
    QApplication::processEvents();
    list->viewport()->repaint();  // the rows in view drawn
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    // The lines the list shows: each group's leader and its members.
    const QAbstractItemModel* model = list->model();
    int lines = model->rowCount();
    for (int group = 0; group < model->rowCount(); ++group) lines += model->rowCount(model->index(group, 0));
    std::printf("drop of %d paths until the judged list is shown (%s): %.0f ms (%d lines)\n", count,
                qPrintable(QGuiApplication::platformName()), ms, lines);
    return lines == count ? 0 : 1;
}
