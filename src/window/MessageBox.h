#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QUrl;
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

// Opens a folder in the desktop's file manager, as a file:// URL; false when the desktop
// has none to open it.
bool openFolder(const QString& folder);
// Replaces the file manager by a function (tests record the URLs). Returns the hook it replaced.
using OpenFolderHook = std::function<bool(const QUrl& url)>;
OpenFolderHook setOpenFolderHook(OpenFolderHook hook);

// How a question is put: which answer Enter gives, and whether it is guarded. A guarded
// question takes no key or click for its first 400 ms, nor a key held down since before it
// appeared, so that a second press meant for what opened it answers nothing.
struct Asking {
    bool yesByDefault = false;
    bool guarded = false;
};
inline constexpr int kQuestionGuardMs = 400;

// A modal question with Yes and No; true for Yes.
bool askQuestion(QWidget* parent, const QString& title, const QString& text, Asking asking = {});

// A question that does not wait for its answer: it shows, and tells its answer (true for
// the first) when the user gives one. The box it returns is closed, answering nothing, once
// what it asks about is over; it deletes itself when closed. Nothing when the question hook
// answered at once.
QWidget* askWithoutWaiting(QWidget* parent, const QString& title, const QString& text, const QString& first,
                           const QString& second, const std::function<void(bool)>& answered);

// Replaces the questions by a function that answers them (tests); an empty function
// restores the box. Returns the hook it replaced.
using QuestionHook = std::function<bool(const MessageRecord&)>;
QuestionHook setQuestionHook(QuestionHook hook);

}  // namespace kurumu::window
