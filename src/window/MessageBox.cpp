#include "window/MessageBox.h"

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include <optional>
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

OpenFolderHook& openFolderHook() {
    static OpenFolderHook current;
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

// Swallows what reaches a question too soon: every key and button event in its first moments,
// and every repeat of a key held down from before. Installed on the application for the
// question's lifetime.
class QuestionGuard final : public QObject {
public:
    explicit QuestionGuard(QWidget* box) : m_box(box) {
        m_shown.start();
        QApplication::instance()->installEventFilter(this);
    }
    QuestionGuard(const QuestionGuard&) = delete;
    QuestionGuard& operator=(const QuestionGuard&) = delete;
    ~QuestionGuard() override { QApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!isInside(watched)) return false;
        switch (event->type()) {
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
                if (static_cast<QKeyEvent*>(event)->isAutoRepeat()) return true;
                return tooSoon();
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
                return tooSoon();
            default:
                return false;
        }
    }

private:
    bool tooSoon() const { return !m_shown.hasExpired(kQuestionGuardMs); }
    bool isInside(QObject* watched) const {
        for (QObject* object = watched; object != nullptr; object = object->parent())
            if (object == m_box) return true;
        return false;
    }

    QWidget* m_box;
    QElapsedTimer m_shown;
};

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

bool askQuestion(QWidget* parent, const QString& title, const QString& text, Asking asking) {
    if (questionHook()) return questionHook()({title, MessageIcon::Question, text, {}});
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setObjectName(QStringLiteral("dlgQuestion"));
    box.setDefaultButton(asking.yesByDefault ? QMessageBox::Yes : QMessageBox::No);
    box.setWindowModality(Qt::ApplicationModal);
    std::optional<QuestionGuard> guard;
    if (asking.guarded) guard.emplace(&box);
    return box.exec() == QMessageBox::Yes;
}

QWidget* askWithoutWaiting(QWidget* parent, const QString& title, const QString& text, const QString& first,
                           const QString& second, const std::function<void(bool)>& answered) {
    if (questionHook()) {
        answered(questionHook()({title, MessageIcon::Question, text, {}}));
        return nullptr;
    }
    auto* box = new QMessageBox(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    box->setObjectName(QStringLiteral("dlgQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* yes = box->addButton(first, QMessageBox::AcceptRole);
    box->setDefaultButton(box->addButton(second, QMessageBox::RejectRole));
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [answered, yes](QAbstractButton* clicked) { answered(clicked == yes); });
    box->open();
    return box;
}

QStringList chooseItems(QWidget* parent, bool folder) {
    if (chooseHook()) return chooseHook()(folder);
    if (folder) {
        const QString chosen = QFileDialog::getExistingDirectory(parent, QStringLiteral("フォルダを追加"));
        return chosen.isEmpty() ? QStringList{} : QStringList{chosen};
    }
    return QFileDialog::getOpenFileNames(parent, QStringLiteral("ファイルを追加"));
}

bool openFolder(const QString& folder) {
    const QUrl url = QUrl::fromLocalFile(folder);
    if (openFolderHook()) return openFolderHook()(url);
    return QDesktopServices::openUrl(url);
}

OpenFolderHook setOpenFolderHook(OpenFolderHook replacement) {
    return std::exchange(openFolderHook(), std::move(replacement));
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
