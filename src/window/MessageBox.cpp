#include "window/MessageBox.h"

#include <QMessageBox>

#include <utility>

namespace kurumu::window {

namespace {

MessageBoxHook& hook() {
    static MessageBoxHook current;
    return current;
}

}  // namespace

void showMessageBox(QWidget* parent, const QString& title, MessageIcon icon, const QString& text) {
    if (hook()) {
        hook()({title, icon, text});
        return;
    }
    QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, title, text,
                    QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
}

MessageBoxHook setMessageBoxHook(MessageBoxHook replacement) {
    return std::exchange(hook(), std::move(replacement));
}

}  // namespace kurumu::window
