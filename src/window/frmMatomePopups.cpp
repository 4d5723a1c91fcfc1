#include "window/frmMatome.h"
#include "window/frmMatomeParts.h"

#include "judgement/Editing.h"
#include "judgement/GroupPlan.h"
#include "judgement/ItemLine.h"
#include "platform/FileServices.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Version.h"
#include "session/Session.h"
#include "window/Accessibility.h"
#include "window/JudgedList.h"
#include "window/MessageBox.h"
#include "window/TextDialog.h"
#include "window/Twips.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

// The popups and the keyboard, and what the list popup opens: the preview, the undo, the log.

namespace kurumu::window {

using platform::OptionStates;

namespace {

// Why an undo did not start, one message for each reason.
QString undoRefusedText(const session::UndoOutcome& outcome, const platform::StateFolder& state) {
    switch (outcome.status) {
        case session::UndoStatus::Done:
            break;
        case session::UndoStatus::NoSuchRun:
            return QStringLiteral("元に戻せる実行はありません。");
        case session::UndoStatus::UndoOfAnUndo:
            return QStringLiteral("「元に戻す」は元に戻せません。");
        case session::UndoStatus::RunStillGoing:
            return QStringLiteral("最後の実行はまだ終わっていないか、元に戻している最中のため、元に戻せません。");
        case session::UndoStatus::AnotherUndo:
            return QStringLiteral(
                "ほかの「元に戻す」が実行中のため、元に戻せません。終わってからもう一度お試しください。");
        case session::UndoStatus::NotTrusted:
            return QStringLiteral(
                       "記録のフォルダ %1 が自分のものでないか、ほかのユーザーが書き込めるため、記録を信用できません。")
                .arg(state.runsPath());
        case session::UndoStatus::LockIsLink:
            return QStringLiteral("%1/undo.lock がリンクのため、元に戻せません。").arg(state.path());
        case session::UndoStatus::NotJournaled:
            break;
    }
    return QStringLiteral("元に戻せませんでした(%1)").arg(outcome.report.status.code());
}

}  // namespace

// The keyboard does what the mouse does: the Menu key and Shift+F10 open the popup of the
// control that has the focus, Delete deletes the selected lines.
void frmMatome::createKeys() {
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
        auto* popupKey = new QShortcut(keys, this);  // owned by the window as its Qt child
        connect(popupKey, &QShortcut::activated, this, &frmMatome::openPopupFromKeyboard);
    }
    auto* deleteKey = new QShortcut(QKeySequence::Delete, lstFolderlist, nullptr, nullptr, Qt::WidgetShortcut);
    connect(deleteKey, &QShortcut::activated, this, [this] {
        if (mnuDelete->isEnabled()) mnuDelete_Click();
    });
}
void frmMatome::openPopupFromKeyboard() {
    if (lstFolderlist->hasFocus()) {
        const QRect at = lstFolderlist->visualRect(lstFolderlist->currentIndex());
        lstFolderlist_MouseDown(Qt::RightButton, lstFolderlist->viewport()->mapToGlobal(at.bottomLeft()));
        return;
    }
    const QWidget* focused = focusWidget() != nullptr ? focusWidget() : this;
    if (mnuPopup->isEnabled()) mnuPopup->popup(focused->mapToGlobal(focused->rect().bottomLeft()));
}
void frmMatome::mousePressEvent(QMouseEvent* event) {
    Form_MouseDown(event->button(), event->globalPosition().toPoint());
    QWidget::mousePressEvent(event);
}
void frmMatome::Form_MouseDown(Qt::MouseButton button, const QPoint& globalPosition) {
    // A press over a control (a button, the count box, a label, the progress bar, enabled
    // or not) is not a press on the background: it opens nothing.
    if (childAt(mapFromGlobal(globalPosition)) != nullptr) return;
    if (button == Qt::RightButton && mnuPopup->isEnabled()) mnuPopup->popup(globalPosition);
}
void frmMatome::lstFolderlist_MouseDown(Qt::MouseButton button, const QPoint& globalPosition) {
    if (button == Qt::RightButton) mnuListProcess->popup(globalPosition);
}
void frmMatome::mnuShowLog_Click() {
    if (m_lastLog.isEmpty()) return;
    auto* log = new TextDialog(this, QStringLiteral("dlgLog"), QStringLiteral("ログ"),
                               QString(m_lastLog).replace(QStringLiteral("\r\n"), QStringLiteral("\n")), true);
    log->show();  // deletes itself when closed
}
void frmMatome::mnuPreview_Click() {
    if (m_runUnderWay) return;
    const QList<judgement::Line> lines = m_lines;
    if (lines.isEmpty()) return;
    // The run as it would go now, on the disk as it is, through services that only remember;
    // groups led by files get the folders that 実行 would offer them, if the user wants them.
    QStringList told;
    session::DryRun dry;
    QSet<platform::Identity> made = m_madeFolders;
    QList<judgement::Line> gathered = lines;
    if (const QSet<QString> leaders = fileLeaders();
        !leaders.isEmpty() && askFoldersForFileLeaders(leaders.size(), false)) {
        const session::FolderMaking how{
            judgement::characterCount(txtMojisuu->text()), mnuFolderName->isChecked(),
            [&](const judgement::Item& leader) { return leaders.contains(leader.path()); },
            [&told](const QString& path, const platform::Status& status) {
                told.append(QStringLiteral("フォルダを作成できませんでした(%1) %2").arg(status.code()).arg(path));
            }};
        gathered = session::makeGatheringFolders({}, runRequest(), lines, how, made, &dry).gathered.lines;
    }
    transfer::RunVariables variables;
    session::TextHost host(
        variables, [&told](const QString& line) { told.append(line); },
        [&told](const QString& message) { told.append(message); });
    session::run(variables, host, platform::StateFolder(), runRequest(),
                 session::runGroupsOf(judgement::groupsOf(gathered)), made, &dry);
    if (told.isEmpty()) told.append(QStringLiteral("まとめるグループがありません"));
    auto* preview = new TextDialog(this, QStringLiteral("dlgPreview"), QStringLiteral("実行内容の確認"),
                                   told.join(u'\n'), false);  // deletes itself when closed
    preview->show();
}
void frmMatome::mnuUndo_Click() {
    if (m_runUnderWay) return;
    const platform::Result<platform::StateFolder> state = platform::StateFolder::open();
    if (!state.ok()) {
        showMessageBox(this, kAppTitle, MessageIcon::Warning,
                       state.value.refusal().isEmpty()
                           ? QStringLiteral("元に戻せませんでした(%1)").arg(state.status.code())
                           : state.value.refusal());
        return;
    }
    const platform::Result<transfer::RunSummary> last = session::runToUndo(state.value);
    if (last.status.error == EBUSY) {
        showMessageBox(this, kAppTitle, MessageIcon::Information,
                       QStringLiteral("最後の実行はまだ終わっていないため、元に戻せません。"));
        return;
    }
    if (!last.ok() || last.value.damaged) {
        showMessageBox(this, kAppTitle, MessageIcon::Information, QStringLiteral("元に戻せる実行はありません。"));
        return;
    }
    const QString started =
        QDateTime::fromString(last.value.start, Qt::ISODateWithMs).toString(QStringLiteral("yyyy-MM-dd H:mm:ss"));
    const QString question = QStringLiteral("次の実行を元に戻しますか?\n\n開始: %1\n項目: %2 件、操作: %3 件")
                                 .arg(started)
                                 .arg(last.value.items)
                                 .arg(last.value.operations);
    if (!askQuestion(this, kAppTitle, question)) return;
    const session::UndoOutcome outcome = session::undo(state.value, last.value.id, QStringLiteral("window"));
    const platform::Result<transfer::UndoReport>& report = outcome.report;
    if (outcome.status != session::UndoStatus::Done) {
        showMessageBox(this, kAppTitle, MessageIcon::Warning, undoRefusedText(outcome, state.value));
        return;
    }
    showItemsTakenBack(report.value.run.paths);
    QStringList told;
    QStringList left;
    for (const transfer::UndoLine& line : report.value.lines + report.value.notes) {
        told.append(line.text());
        if (line.kind == transfer::UndoLine::Kind::Left) left.append(line.text());
    }
    told.append((report.value.everything ? QStringLiteral("元に戻した: ") : QStringLiteral("一部を戻せなかった: ")) +
                last.value.id);
    rtfMatomefile->setPlainText(told.join(QStringLiteral("\r\n")));
    if (report.value.everything) {
        showMessageBox(this, kAppTitle, MessageIcon::Information, QStringLiteral("元に戻しました。"));
    } else {
        showMessageBox(this, kAppTitle, MessageIcon::Warning,
                       QStringLiteral("次のものは変更されていたため、そのままにしました:\n") + left.join(u'\n'));
    }
}
// After an undo the list shows the run's items again, where they are back, judged afresh;
// an item whose path is gone has no line.
void frmMatome::showItemsTakenBack(const QStringList& paths) {
    if (paths.isEmpty()) return;  // a journal that does not name its items
    QList<judgement::Item> items;
    const QList<bool> there = platform::pathsExist(paths);
    for (qsizetype i = 0; i < paths.size(); ++i) {
        if (there[i]) items.append(judgement::itemForPath(paths[i]));
    }
    m_madeFolders.clear();
    m_folderJournals.clear();
    setStoredItems(items);
    MatomeHantei();
}

}  // namespace kurumu::window
