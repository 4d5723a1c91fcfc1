#pragma once

#include <QDialog>

class QDialogButtonBox;
class QPlainTextEdit;
class QPushButton;

namespace kurumu::window {

// A dialog that shows a text, one line a line, read-only and selectable, with lines too
// long for it scrolled sideways; Esc closes it. It can offer to save the text.
class TextDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TextDialog)

public:
    TextDialog(QWidget* parent, const QString& name, const QString& title, const QString& text, bool canSave);
    ~TextDialog() override = default;
    // A button of the dialog's own beside 閉じる, owned by the dialog.
    QPushButton* addButton(const QString& name, const QString& text);

private:
    void save();

    QPlainTextEdit* m_text = nullptr;  // owned by the dialog as its Qt child
    QDialogButtonBox* m_buttons = nullptr;
};

}  // namespace kurumu::window
