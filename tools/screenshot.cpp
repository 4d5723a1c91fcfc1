// Draws the window offscreen into docs/: the judged list, the options popup, the list
// popup opened from the keyboard over a selection, the log dialog after a run, the label
// of a run that stopped, a long copy's progress and the history of the runs.
#include "window/MessageBox.h"
#include "window/frmMatome.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

namespace {

// The window with popups or dialogs drawn over it where they stand.
QPixmap composed(QWidget& window, const QList<QWidget*>& over) {
    const QPixmap plain = window.grab();
    QRect area(QPoint(0, 0), plain.size());
    for (const QWidget* widget : over) area |= QRect(window.mapFromGlobal(widget->pos()), widget->size());
    QPixmap picture(area.size());
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawPixmap(-area.topLeft(), plain);
    for (QWidget* widget : over)
        painter.drawPixmap(window.mapFromGlobal(widget->pos()) - area.topLeft(), widget->grab());
    return picture;
}

QString makeFile(const QTemporaryDir& work, const char* name) {
    const QString path = work.filePath(QString::fromUtf8(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) std::abort();
    file.write(name);
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QApplication application(argc, argv);
    const QString output = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs")).absolutePath();
    const QTemporaryDir work;
    const QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    QDir::setCurrent(work.path());
    kurumu::window::setMessageBoxHook([](const kurumu::window::MessageRecord&) {});
    kurumu::window::setQuestionHook([](const kurumu::window::MessageRecord&) { return false; });

    QStringList paths;
    for (const char* name : {"写真（１）.jpg", "写真（２）.jpg", "写真（３）.jpg", "trip (1).mp4", "trip (2).mp4",
                             "invoice_2024_001.pdf", "invoice_2024_002.pdf", "memo.txt"})
        paths.append(makeFile(work, name));
    kurumu::window::frmMatome window;
    window.show();
    window.dropPaths(paths);
    QApplication::processEvents();
    bool saved = window.grab().save(output + QStringLiteral("/window.png"));

    auto* popup = window.findChild<QMenu*>(QStringLiteral("mnuPopup"));
    popup->setEnabled(true);
    popup->popup(window.mapToGlobal(QPoint(20, 60)));
    auto* rules = window.findChild<QMenu*>(QStringLiteral("mnuMatomeAuto"));
    rules->popup(popup->mapToGlobal(popup->actionGeometry(rules->menuAction()).topRight()));
    QApplication::processEvents();
    saved = composed(window, {popup, rules}).save(output + QStringLiteral("/window-options-popup.png")) && saved;
    rules->hide();
    popup->hide();

    // The list popup opened from the keyboard, at the current line.
    auto* list = window.findChild<QTreeView*>(QStringLiteral("lstFolderlist"));
    list->setFocus();
    list->setCurrentIndex(list->model()->index(2, 0));
    QTest::keyClick(list, Qt::Key_Menu);
    auto* listMenu = window.findChild<QMenu*>(QStringLiteral("mnuListProcess"));
    QTest::keyClick(listMenu, Qt::Key_Down);
    QApplication::processEvents();
    saved = composed(window, {listMenu}).save(output + QStringLiteral("/window-keyboard-popup.png")) && saved;
    listMenu->hide();

    // A run, and its log.
    window.findChild<QPushButton*>(QStringLiteral("cmdCF"))->click();
    window.findChild<QPushButton*>(QStringLiteral("cmdEXEC"))->click();
    window.findChild<QAction*>(QStringLiteral("mnuShowLog"))->trigger();
    auto* log = window.findChild<QDialog*>(QStringLiteral("dlgLog"));
    log->resize(560, 260);
    log->move(window.mapToGlobal(QPoint(30, 40)));
    QApplication::processEvents();
    saved = composed(window, {log}).save(output + QStringLiteral("/window-log.png")) && saved;
    log->close();

    // A run that stops: the leader is a file.
    window.dropPaths({makeFile(work, "note (1).txt"), makeFile(work, "note (2).txt")});
    window.findChild<QPushButton*>(QStringLiteral("cmdEXEC"))->click();
    QApplication::processEvents();
    saved = window.grab().save(output + QStringLiteral("/window-stopped.png")) && saved;

    // A long copy, drawn once its bar shows the file's rate and time left.
    const QString big = work.filePath(QStringLiteral("video_1.mkv"));
    {
        QFile file(big);
        if (!file.open(QIODevice::WriteOnly)) std::abort();
        const QByteArray block(1 << 20, 'v');
        for (int i = 0; i < 768; ++i) file.write(block);
    }
    QDir(work.path()).mkdir(QStringLiteral("video"));
    window.findChild<QComboBox*>(QStringLiteral("cmbMorC"))->setCurrentText(QStringLiteral("コピー"));
    window.findChild<QAction*>(QStringLiteral("mnuCRC32"))->setChecked(true);
    window.findChild<QAction*>(QStringLiteral("mnuMatomeAutoNone"))->trigger();
    window.findChild<QLineEdit*>(QStringLiteral("txtMojisuu"))->setText(QStringLiteral("5"));
    window.dropPaths({work.filePath(QStringLiteral("video")), big});
    auto* bar = window.findChild<QProgressBar*>(QStringLiteral("prgbShinkou"));
    bool drawn = false;
    window.setProcessEventsHook([&] {
        if (drawn || !bar->isTextVisible() || bar->value() % 1000 < 300) return;
        drawn = window.grab().save(output + QStringLiteral("/window-long-copy.png"));
    });
    window.findChild<QPushButton*>(QStringLiteral("cmdEXEC"))->click();
    window.setProcessEventsHook({});
    if (!drawn)
        qWarning("%s", qPrintable(window.findChild<QPlainTextEdit*>(QStringLiteral("rtfMatomefile"))->toPlainText()));
    saved = drawn && saved;

    // The runs kept, the last chosen.
    window.findChild<QAction*>(QStringLiteral("mnuHistory"))->trigger();
    auto* history = window.findChild<QDialog*>(QStringLiteral("dlgHistory"));
    history->resize(620, 200);
    history->move(window.mapToGlobal(QPoint(30, 40)));
    QApplication::processEvents();
    saved = composed(window, {history}).save(output + QStringLiteral("/window-history.png")) && saved;
    history->close();
    return saved ? 0 : 1;
}
