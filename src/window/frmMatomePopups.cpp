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
#include <QDialog>
#include <QDialogButtonBox>
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
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

// The popups and the keyboard, and what the list popup opens: the preview, the undo, the log.

namespace kurumu::window {

using platform::OptionStates;

namespace {

// Why the state folder, where the journals are, could not be opened.
QString stateRefusedText(const platform::Result<platform::StateFolder>& state) {
    return state.value.refusal().isEmpty() ? QStringLiteral("元に戻せませんでした(%1)").arg(state.status.code())
                                           : state.value.refusal();
}

// A run's start, its end and what became of it, as the history shows them.
QString startShown(const transfer::RunSummary& run) {
    return QDateTime::fromString(run.start, Qt::ISODateWithMs).toString(QStringLiteral("yyyy-MM-dd H:mm:ss"));
}
QString endShown(const transfer::RunSummary& run) {
    if (run.end.isEmpty()) return run.running ? QStringLiteral("実行中") : QStringLiteral("途中で終了");
    if (run.end == QLatin1String("finished")) return QStringLiteral("終了");
    if (run.end == QLatin1String("stopped")) return QStringLiteral("中止");
    return run.end;
}
QString stateShown(const transfer::RunSummary& run) {
    if (run.damaged) return QStringLiteral("記録が壊れている");
    if (run.kind == QLatin1String("undo")) return QStringLiteral("元に戻す: ") + run.undoOf;
    return run.undone ? QStringLiteral("元に戻した") : QString();
}

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
    if (button != Qt::RightButton) return;
    mnuOpenFolder->setEnabled(!m_runUnderWay && !gatheringFolderOfCurrentLine().isEmpty());
    mnuListProcess->popup(globalPosition);
}
void frmMatome::mnuShowLog_Click() {
    if (m_lastLog.isEmpty()) return;
    auto* log = new TextDialog(this, QStringLiteral("dlgLog"), QStringLiteral("ログ"),
                               QString(m_lastLog).replace(QStringLiteral("\r\n"), QStringLiteral("\n")), true);
    // Each group's gathering folder, one choice each.
    if (!m_gatheredInto.isEmpty()) {
        QPushButton* open = log->addButton(QStringLiteral("cmdOpenFolder"), QStringLiteral("フォルダを開く"));
        auto* folders = named(new QMenu(open), QStringLiteral("mnuGatheringFolders"));
        for (const auto& [leader, folder] : m_gatheredInto)
            connect(folders->addAction(folder), &QAction::triggered, this,
                    [this, journal = m_lastJournal, folder = folder] { openGatheringFolder(journal, folder); });
        open->setMenu(folders);
    }
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
        showMessageBox(this, kAppTitle, MessageIcon::Warning, stateRefusedText(state));
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
    undoRun(last.value);
}
void frmMatome::undoRun(const transfer::RunSummary& run) {
    if (m_runUnderWay) return;
    const platform::Result<platform::StateFolder> state = platform::StateFolder::open();
    if (!state.ok()) {
        showMessageBox(this, kAppTitle, MessageIcon::Warning, stateRefusedText(state));
        return;
    }
    const QString question = QStringLiteral("次の実行を元に戻しますか?\n\n実行: %1\n開始: %2\n項目: %3 件、操作: %4 件")
                                 .arg(run.id, startShown(run))
                                 .arg(run.items)
                                 .arg(run.operations);
    if (!askQuestion(this, kAppTitle, question)) return;
    const session::UndoOutcome outcome = session::undo(state.value, run.id, QStringLiteral("window"));
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
                run.id);
    rtfMatomefile->setPlainText(told.join(QStringLiteral("\r\n")));
    if (report.value.everything) {
        showMessageBox(this, kAppTitle, MessageIcon::Information, QStringLiteral("元に戻しました。"));
    } else {
        showMessageBox(this, kAppTitle, MessageIcon::Warning,
                       QStringLiteral("次のものは変更されていたため、そのままにしました:\n") + left.join(u'\n'));
    }
}
// The kept runs, oldest first, as the batch mode's --history lists them; the one chosen can
// be taken back.
void frmMatome::mnuHistory_Click() {
    if (m_runUnderWay) return;
    const platform::Result<platform::StateFolder> state = platform::StateFolder::open();
    if (!state.ok()) {
        showMessageBox(this, kAppTitle, MessageIcon::Warning, stateRefusedText(state));
        return;
    }
    const QList<transfer::RunSummary> runs = session::history(state.value);
    auto* dialog = named(new QDialog(this), QStringLiteral("dlgHistory"));
    dialog->setWindowTitle(QStringLiteral("履歴"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setModal(true);
    auto* list = named(new QTreeWidget(dialog), QStringLiteral("lstHistory"));
    list->setHeaderLabels({QStringLiteral("開始"), QStringLiteral("項目"), QStringLiteral("操作"),
                           QStringLiteral("終わり"), QStringLiteral("状態"), QStringLiteral("実行")});
    list->setRootIsDecorated(false);
    list->setAccessibleName(QStringLiteral("実行の履歴"));
    for (const transfer::RunSummary& run : runs) {
        auto* row =
            new QTreeWidgetItem(list, {startShown(run), QString::number(run.items), QString::number(run.operations),
                                       endShown(run), stateShown(run), run.id});
        row->setData(0, Qt::UserRole, run.id);
    }
    if (list->topLevelItemCount() > 0) list->setCurrentItem(list->topLevelItem(list->topLevelItemCount() - 1));
    for (int column = 0; column < list->columnCount(); ++column) list->resizeColumnToContents(column);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
    QPushButton* undoButton = named(buttons->addButton(QStringLiteral("元に戻す…"), QDialogButtonBox::ActionRole),
                                    QStringLiteral("cmdUndoRun"));
    undoButton->setEnabled(!runs.isEmpty());
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(undoButton, &QPushButton::clicked, this, [this, dialog, list, runs] {
        const QTreeWidgetItem* chosen = list->currentItem();
        if (chosen == nullptr) return;
        const QString id = chosen->data(0, Qt::UserRole).toString();
        dialog->close();
        for (const transfer::RunSummary& run : runs)
            if (run.id == id) return undoRun(run);
    });
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(list);
    layout->addWidget(buttons);
    dialog->resize(720, 360);
    dialog->show();
}
QString frmMatome::gatheringFolderOfCurrentLine() const {
    const qsizetype line = currentLine();
    if (line < 0 || line >= m_lines.size() || m_lastJournal.isEmpty()) return {};
    const QString leader = m_lines[line].item.path();
    for (const auto& [gathered, folder] : m_gatheredInto)
        if (gathered == leader) return folder;
    return {};
}
void frmMatome::mnuOpenFolder_Click() {
    const QString folder = gatheringFolderOfCurrentLine();
    if (!folder.isEmpty()) openGatheringFolder(m_lastJournal, folder);
}
// Opened only while it is still the folder the run gathered into: a folder put in its place
// since is not what the user is looking for.
void frmMatome::openGatheringFolder(const QString& journal, const QString& folder) {
    const platform::Result<platform::StateFolder> state = platform::StateFolder::open();
    const platform::Status there =
        state.ok() ? session::gatheredFolderIsThere(state.value, journal, folder) : platform::Status{ENOENT};
    if (!there.ok()) {
        showMessageBox(this, kAppTitle, MessageIcon::Information,
                       (there.error == EBUSY
                            ? QStringLiteral("このフォルダは実行の後に移動されたか置き換えられたため、開きません:\n")
                            : QStringLiteral("このフォルダは最後の実行の記録にないため、開きません:\n")) +
                           folder);
        return;
    }
    if (!openFolder(folder))
        showMessageBox(this, kAppTitle, MessageIcon::Information,
                       QStringLiteral("フォルダを開くファイルマネージャーがありません:\n") + folder);
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
