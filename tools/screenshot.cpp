// Draws the window offscreen, with a judged sample list, into docs/: once plain and once
// with the options popup open over it.
#include "window/MessageBox.h"
#include "window/frmMatome.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QApplication application(argc, argv);
    const QString docs = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    const QString output = QDir(docs).absolutePath();

    const QTemporaryDir work;
    QDir::setCurrent(work.path());
    QStringList paths;
    for (const char* name :
         {"写真（１）.jpg", "写真（２）.jpg", "写真（３）.jpg", "trip (1).mp4", "trip (2).mp4", "memo.txt"}) {
        const QString path = work.filePath(QString::fromUtf8(name));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) return 1;
        paths.append(path);
    }

    kurumu::window::frmMatome window;
    window.show();
    window.dropPaths(paths);
    QApplication::processEvents();
    const QPixmap plain = window.grab();
    if (!plain.save(output + QStringLiteral("/window.png"))) return 1;

    auto* popup = window.findChild<QMenu*>(QStringLiteral("mnuPopup"));
    popup->setEnabled(true);
    popup->popup(window.mapToGlobal(QPoint(20, 60)));
    auto* rules = window.findChild<QMenu*>(QStringLiteral("mnuMatomeAuto"));
    const QPoint submenuAt = popup->mapToGlobal(popup->actionGeometry(rules->menuAction()).topRight());
    rules->popup(submenuAt);
    QApplication::processEvents();
    const QPixmap menu = popup->grab();
    const QPixmap submenu = rules->grab();
    const QPoint menuAt = window.mapFromGlobal(popup->pos());
    const QPoint subAt = window.mapFromGlobal(rules->pos());
    QPixmap composed(std::max(plain.width(), subAt.x() + submenu.width()),
                     std::max(plain.height(), std::max(menuAt.y() + menu.height(), subAt.y() + submenu.height())));
    composed.fill(Qt::white);
    QPainter painter(&composed);
    painter.drawPixmap(0, 0, plain);
    painter.drawPixmap(menuAt, menu);
    painter.drawPixmap(subAt, submenu);
    painter.end();
    return composed.save(output + QStringLiteral("/window-options-popup.png")) ? 0 : 1;
}
