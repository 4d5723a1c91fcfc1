#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace kurumu::window {

enum class MessageIcon { None, Warning, Information, Question };

struct MessageRecord {
    QString title;
    MessageIcon icon = MessageIcon::None;
    QString text;
    QString detail;
};

// Every message box of the program: modal, OK only, raised to the front. The detail (which
// file, and why) shows below the text.
void showMessageBox(QWidget* parent, const QString& title, MessageIcon icon, const QString& text,
                    const QString& detail = {});

// Replaces the box by a function (tests record the messages instead of blocking); an
// empty function restores the box. Returns the hook it replaced.
using MessageBoxHook = std::function<void(const MessageRecord&)>;
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

// The platform's file dialog: files (several) or one folder to add; empty when cancelled.
QStringList chooseItems(QWidget* parent, bool folder);

// Replaces the dialog by a function that answers it (tests). Returns the hook it replaced.
using ChooseHook = std::function<QStringList(bool folder)>;
ChooseHook setChooseHook(ChooseHook hook);

// A modal question with Yes and No, No the default; true for Yes.
bool askQuestion(QWidget* parent, const QString& title, const QString& text);

// Replaces the question by a function that answers it (tests); an empty function restores
// the box. Returns the hook it replaced.
using QuestionHook = std::function<bool(const MessageRecord&)>;
QuestionHook setQuestionHook(QuestionHook hook);

}  // namespace kurumu::window
