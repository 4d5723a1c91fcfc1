// A drop of 100,000 paths onto the real window (offscreen) until the judged list is shown.
#include "window/MessageBox.h"
#include "window/frmMatome.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QApplication application(argc, argv);
    const QTemporaryDir work;
    QDir::setCurrent(work.path());
    QStringList paths;
    const int count = 100000;
    for (int i = count; i > 0; --i)
        paths.append(QStringLiteral("/data/photos/trip (%1) 写真_%2.jpg").arg(i % 97).arg(i));

    kurumu::window::frmMatome window;
    window.show();
    QApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    window.dropPaths(paths);
    QApplication::processEvents();
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    // The lines the list shows: each group's leader and its members.
    const auto* list = window.findChild<QTreeView*>(QStringLiteral("lstFolderlist"));
    const QAbstractItemModel* model = list->model();
    int lines = model->rowCount();
    for (int group = 0; group < model->rowCount(); ++group) lines += model->rowCount(model->index(group, 0));
    std::printf("drop of %d paths until the judged list is shown: %.0f ms (%d lines)\n", count, ms, lines);
    return lines == count ? 0 : 1;
}
