#include "window/TextDialog.h"

#include "platform/FileSystem.h"
#include "window/MessageBox.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kurumu::window {

TextDialog::TextDialog(QWidget* parent, const QString& name, const QString& title, const QString& text, bool canSave)
    : QDialog(parent) {
    setObjectName(name);
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    m_text = new QPlainTextEdit(text, this);
    m_text->setObjectName(QStringLiteral("txtText"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setAccessibleName(title);
    auto* buttons = m_buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (canSave) {
        QPushButton* saveButton = buttons->addButton(QStringLiteral("保存…"), QDialogButtonBox::ActionRole);
        saveButton->setObjectName(QStringLiteral("cmdSave"));
        saveButton->setToolTip(QStringLiteral("この内容を UTF-8 のテキストファイルに保存します"));
        connect(saveButton, &QPushButton::clicked, this, &TextDialog::save);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    resize(640, 400);
}

QPushButton* TextDialog::addButton(const QString& name, const QString& text) {
    QPushButton* button = m_buttons->addButton(text, QDialogButtonBox::ActionRole);
    button->setObjectName(name);
    return button;
}

void TextDialog::save() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("ログを保存"), QStringLiteral("kurumu-log.txt"), QStringLiteral("テキスト (*.txt)"));
    if (path.isEmpty()) return;
    const QByteArray bytes = m_text->toPlainText().toUtf8() + '\n';
    const platform::Status saved =
        platform::FileExists(path) ? platform::replaceFile(path, bytes) : platform::createFileWith(path, bytes);
    if (!saved.ok())
        showMessageBox(this, QStringLiteral("kurumu"), MessageIcon::Warning,
                       QStringLiteral("保存できませんでした(%1): ").arg(saved.code()) + path);
}

}  // namespace kurumu::window
