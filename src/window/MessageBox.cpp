#include "window/MessageBox.h"

#include <QFileDialog>
#include <QMessageBox>

#include <utility>

namespace kurumu::window {

namespace {

MessageBoxHook& hook() {
    static MessageBoxHook current;
    return current;
}

ChooseHook& chooseHook() {
    static ChooseHook current;
    return current;
}

QuestionHook& questionHook() {
    static QuestionHook current;
    return current;
}

QMessageBox::Icon iconOf(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void showMessageBox(QWidget* parent, const QString& title, MessageIcon icon, const QString& text,
                    const QString& detail) {
    if (hook()) {
        hook()({title, icon, text, detail});
        return;
    }
    QMessageBox box(iconOf(icon), title, text, QMessageBox::Ok, parent);
    box.setInformativeText(detail);
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
}

bool askQuestion(QWidget* parent, const QString& title, const QString& text) {
    if (questionHook()) return questionHook()({title, MessageIcon::Question, text, {}});
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Yes;
}

QStringList chooseItems(QWidget* parent, bool folder) {
    if (chooseHook()) return chooseHook()(folder);
    if (folder) {
        const QString chosen = QFileDialog::getExistingDirectory(parent, QStringLiteral("フォルダを追加"));
        return chosen.isEmpty() ? QStringList{} : QStringList{chosen};
    }
    return QFileDialog::getOpenFileNames(parent, QStringLiteral("ファイルを追加"));
}

ChooseHook setChooseHook(ChooseHook replacement) {
    return std::exchange(chooseHook(), std::move(replacement));
}

QuestionHook setQuestionHook(QuestionHook replacement) {
    return std::exchange(questionHook(), std::move(replacement));
}

MessageBoxHook setMessageBoxHook(MessageBoxHook replacement) {
    return std::exchange(hook(), std::move(replacement));
}

}  // namespace kurumu::window
