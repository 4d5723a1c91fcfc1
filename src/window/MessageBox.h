#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace kurumu::window {

enum class MessageIcon { None, Warning, Information, Question };

struct MessageRecord {
    QString title;
    MessageIcon icon = MessageIcon::None;
    QString text;
};

// Every message box of the program: modal, OK only, raised to the front.
void showMessageBox(QWidget* parent, const QString& title, MessageIcon icon, const QString& text);

// Replaces the box by a function (tests record the messages instead of blocking); an
// empty function restores the box. Returns the hook it replaced.
using MessageBoxHook = std::function<void(const MessageRecord&)>;
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

// A modal question with Yes and No, No the default; true for Yes.
bool askQuestion(QWidget* parent, const QString& title, const QString& text);

// Replaces the question by a function that answers it (tests); an empty function restores
// the box. Returns the hook it replaced.
using QuestionHook = std::function<bool(const MessageRecord&)>;
QuestionHook setQuestionHook(QuestionHook hook);

}  // namespace kurumu::window
