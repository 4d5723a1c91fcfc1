#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace kurumu::window {

// A dialog that shows a text, one line a line, read-only and selectable, with lines too
// long for it scrolled sideways; Esc closes it. It can offer to save the text.
class TextDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TextDialog)

public:
    TextDialog(QWidget* parent, const QString& name, const QString& title, const QString& text, bool canSave);
    ~TextDialog() override = default;

private:
    void save();

    QPlainTextEdit* m_text = nullptr;  // owned by the dialog as its Qt child
};

}  // namespace kurumu::window
