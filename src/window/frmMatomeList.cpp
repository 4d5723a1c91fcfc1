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
#include <QSocketNotifier>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

// The item list and its editing: drops, deletions, inverted marks, judgement, C.F.

namespace kurumu::window {

using platform::OptionStates;

bool frmMatome::eventFilter(QObject* watched, QEvent* event) {
    if (watched != lstFolderlist->viewport()) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* press = static_cast<QMouseEvent*>(event);
            if (press->button() != Qt::RightButton) break;
            lstFolderlist_MouseDown(press->button(), press->globalPosition().toPoint());
            return true;  // a right click keeps the selection that the list command works on
        }
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (drag->mimeData()->hasUrls() && !m_runUnderWay) {
                drag->acceptProposedAction();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList paths = localPaths(drop->mimeData());
            if (m_runUnderWay || paths.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            lstFolderlist_OLEDragDrop(paths);
            return true;
        }
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}
void frmMatome::dropPaths(const QStringList& paths) {
    if (!m_runUnderWay && !paths.isEmpty()) lstFolderlist_OLEDragDrop(paths);
}
std::optional<QString> frmMatome::handoffRefusal(const QStringList& paths) {
    if (paths.isEmpty()) return std::nullopt;  // only to the front
    const bool dialogOpen =
        QApplication::activeModalWidget() != nullptr || QApplication::activePopupWidget() != nullptr;
    if (!m_runUnderWay && !dialogOpen && !m_listCorrected && !m_handedOverPending) return std::nullopt;
    // A run or a dialog under way is not interrupted by a box of its own: the window only
    // asks for attention, and the start says why.
    QApplication::alert(this);
    if (m_runUnderWay)
        return QStringLiteral("実行中のため、渡された項目を受け取れません。終わってから、もう一度渡してください。");
    if (dialogOpen)
        return QStringLiteral(
            "ダイアログが開いているため、渡された項目を受け取れません。閉じてから、もう一度渡してください。");
    if (m_handedOverPending)
        return QStringLiteral("ほかの起動から渡された項目を受け取っている最中です。もう一度渡してください。");
    const QString refused = QStringLiteral(
        "一覧に手直しがあるため、渡された項目を受け取れません。実行するか判定し直してから、もう一度渡してください。");
    QTimer::singleShot(0, this,
                       [this, refused] { showMessageBox(this, kAppTitle, MessageIcon::Information, refused); });
    return refused;
}
void frmMatome::takeHandedOver(const QStringList& paths) {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
    if (paths.isEmpty()) return;
    // Dropped once the start has its answer, so that it waits for no judgement; until then
    // no other start's paths are taken, which this drop would replace or find a run under way.
    m_handedOverPending = true;
    QTimer::singleShot(0, this, [this, paths] {
        m_handedOverPending = false;
        dropPaths(paths);
    });
}
void frmMatome::receiveHandoffs(platform::HandoffReceiver& receiver) {
    auto* waiting = new QSocketNotifier(receiver.socket(), QSocketNotifier::Read, this);
    connect(waiting, &QSocketNotifier::activated, this, [this, &receiver] {
        receiver.answerWaiting({[this](const QStringList& paths) { return handoffRefusal(paths); },
                                [this](const QStringList& paths) { takeHandedOver(paths); }});
    });
}
void frmMatome::lstFolderlist_OLEDragDrop(const QStringList& paths) {
    if (m_runUnderWay) return;  // a run reads the lists and the destination: nothing may change them
    txtPath->setText(platform::systemRoot());
    if (!platform::FolderExists(txtPath->text())) {
        showMessageBox(this, kAppTitle, MessageIcon::None, QStringLiteral("送り先フォルダが存在しません"));
        return;
    }
    m_madeFolders.clear();
    m_folderJournals.clear();
    txtPath->setAcceptDrops(false);
    cmdCF->setEnabled(true);
    prgbShinkou->setMaximum(static_cast<int>(paths.size()));
    setStoredItems(judgement::itemsForPaths(paths));
    MatomeHantei();
    if (mnuEB->isChecked()) {
        cmdEXEC->setEnabled(true);
        return;
    }
    runJudgedGroups();
}
void frmMatome::mnuDelete_Click() {
    if (m_runUnderWay) return;
    // The items of the selected lines leave the stored list, wherever their lines stand
    // (folder creation may have moved them); a folder line that it added has no item there.
    QList<judgement::Item> stored = m_storedItems;
    qsizetype firstLine = m_lines.size();
    for (const qsizetype line : selectedLines()) {
        stored.removeOne(m_lines[line].item);
        firstLine = std::min(firstLine, line);
    }
    setStoredItems(stored);
    MatomeHantei();
    // The line after those deleted (or the last) becomes the current one.
    if (!m_lines.isEmpty()) setCurrentLine(std::min(firstLine, m_lines.size() - 1));
}
// Items chosen in the platform's file dialog join the stored list and are judged again;
// they never replace the list and never start a run.
void frmMatome::addChosenItems(bool folder) {
    if (m_runUnderWay) return;
    const QStringList chosen = chooseItems(this, folder);
    if (chosen.isEmpty()) return;
    QList<judgement::Item> stored = m_storedItems;
    for (const QString& path : chosen) {
        const judgement::Item item = judgement::itemForPath(path);
        if (!stored.contains(item)) stored.append(item);
    }
    setStoredItems(stored);
    MatomeHantei();
}
void frmMatome::MatomeHantei() {
    lblComplete->hide();
    const QList<judgement::Item>& stored = m_storedItems;
    setLines(judgement::judgeItems(stored, ruleSet()));
    m_listCorrected = false;
    setJudgementControlsEnabled(!stored.isEmpty());
}
// While a run reads the list, no command that would change it can be chosen.
void frmMatome::setListCommandsEnabled(bool enabled) {
    for (QAction* action : {mnuAddFiles, mnuAddFolder, mnuUndo, mnuHistory}) action->setEnabled(enabled);
    for (QAction* action : {mnuDelete, mnuHanten, mnuReMatome, mnuPreview})
        action->setEnabled(enabled && !m_lines.isEmpty());
}
// 中止 is not among them: it is on only while a run is under way.
void frmMatome::setJudgementControlsEnabled(bool enabled) {
    for (QPushButton* button : {cmdEXEC, cmdCF}) button->setEnabled(enabled);
    for (QAction* action : {mnuDelete, mnuHanten, mnuReMatome, mnuPreview}) action->setEnabled(enabled);
}
void frmMatome::ruleMenu_Click(judgement::Rule rule) {
    QAction* clicked = ruleAction(rule);
    if (m_runUnderWay) {
        clicked->setChecked(!clicked->isChecked());  // a run reads the rules: nothing changes under it
        return;
    }
    // The action has already toggled its own mark: it was on before exactly when it is off now.
    const bool wasChecked = !clicked->isChecked();
    // Judging again drops what the user corrected by hand: asked first.
    if (m_listCorrected &&
        !askQuestion(this, kAppTitle,
                     QStringLiteral("一覧への修正 (反転、C.F. のフォルダの行) は失われます。"
                                    "選んだ基準でまとめ判定をやりなおしますか?\n作ったフォルダはそのまま残ります。"))) {
        clicked->setChecked(wasChecked);
        return;
    }
    if (wasChecked) {
        clicked->setChecked(true);
    } else {
        for (const judgement::Rule other : judgement::kAllRules) ruleAction(other)->setChecked(other == rule);
        txtMojisuu->setEnabled(rule == judgement::Rule::FixedCount);
    }
    MatomeHantei();
    if (m_lines.size() > 1) cmdEXEC->setEnabled(true);
}
void frmMatome::txtMojisuu_Change() {
    if (m_runUnderWay) return;
    MatomeHantei();
    if (m_lines.size() > 1) {
        for (QPushButton* button : {cmdEXEC, cmdCF}) button->setEnabled(true);
    }
}
void frmMatome::mnuReMatome_Click() {
    if (!m_runUnderWay) MatomeHantei();
}
void frmMatome::mnuFolderName_Click() {
    // The action toggles its own mark; the next folder creation reads it.
}
void frmMatome::mnuHanten_Click() {
    if (m_runUnderWay) return;
    // The lines change their group; the list keeps the focus, the selection and the current line.
    const QList<qsizetype> selected = selectedLines();
    const qsizetype current = currentLine();
    QList<judgement::Line> lines = m_lines;
    for (const qsizetype line : selected) {
        if (line >= 1) lines[line].marked = !lines[line].marked;
    }
    setLines(lines);
    if (current >= 0) setCurrentLine(current, false);
    for (const qsizetype line : selected) selectLine(line);
    lblComplete->hide();
    for (QPushButton* button : {cmdEXEC, cmdCF}) button->setEnabled(true);
    m_listCorrected = true;
}
void frmMatome::cmdCF_Click() {
    if (m_runUnderWay) return;
    cmdCF->setEnabled(false);
    makeGatheringFolders({});
}
// Makes the gathering folders of the groups (of those that only accepts), each line of a
// leader then led by its folder's line.
void frmMatome::makeGatheringFolders(const judgement::LeaderFilter& only) {
    // The lines that were selected (and the current one) are again, so the focus and the
    // selection stay where they were.
    QList<judgement::Item> selected;
    for (const qsizetype line : selectedLines()) selected.append(m_lines[line].item);
    const qsizetype currentRow = currentLine();
    const std::optional<judgement::Item> current =
        currentRow >= 0 ? std::optional(m_lines[currentRow].item) : std::nullopt;
    // The folders are made at once, under a journal of their own that the next Execute
    // names, so that taking it back takes them back too.
    judgement::GatheredLines gathered{m_lines, {}};
    const platform::Result<platform::StateFolder> state = platform::StateFolder::open();
    const session::FolderMaking how{
        judgement::characterCount(txtMojisuu->text()), mnuFolderName->isChecked(), only,
        [this](const QString& path, const platform::Status& status) {
            showMessageBox(this, kAppTitle, MessageIcon::Warning,
                           QStringLiteral("フォルダを作成できませんでした(%1)\n%2").arg(status.code()).arg(path));
        }};
    platform::Result<transfer::JournaledOutcome> made{{}, state.status};
    if (state.ok()) {
        session::FoldersMade folders =
            session::makeGatheringFolders(state.value, runRequest(), m_lines, how, m_madeFolders);
        gathered = std::move(folders.gathered);
        made = std::move(folders.journal);
    }
    if (made.ok()) {
        m_folderJournals.append(made.value.id);
        if (!made.value.kept.ok())
            showMessageBox(this, kAppTitle, MessageIcon::Warning,
                           session::journalNotKeptText(state.value, made.value.kept));
    } else {
        showMessageBox(this, kAppTitle, MessageIcon::Warning,
                       session::journalUnwritableText(state.value, made.status, false));
    }
    m_listCorrected = m_listCorrected || gathered.lines != m_lines;
    setLines(gathered.lines);
    for (qsizetype line = 0; line < m_lines.size(); ++line) {
        const judgement::Item& item = m_lines[line].item;
        if (current && item == *current) setCurrentLine(line, false);  // the old leader comes after its folder's line
        if (selected.contains(item)) selectLine(line);
    }
    if (!gathered.refused.isEmpty())
        showMessageBox(this, kAppTitle, MessageIcon::Warning, judgement::refusedFoldersText(gathered.refused));
}
// Every change of the item list goes through here, so that each row keeps the item it
// shows: commands act on the items and never read a path back from a row's text.
void frmMatome::setLines(QList<judgement::Line> lines) {
    m_lines = std::move(lines);
    m_listModel->setLines(m_lines);
    openGroups();
    fitColumns();
}
// Every group shows its members: the leaders that have members are opened (as the list
// is laid out afresh after each change, that only marks them).
void frmMatome::openGroups() {
    for (int group = 0; group < m_listModel->rowCount(); ++group) {
        const QModelIndex leader = m_listModel->index(group, 0);
        if (m_listModel->rowCount(leader) > 0) lstFolderlist->expand(leader);
    }
}
// Each column as wide as its widest text, so that no name or folder is cut: a long one
// scrolls sideways. Only the longest texts of all the lines are measured, never every row.
void frmMatome::fitColumns() {
    constexpr qsizetype kMeasured = 32;
    for (int column = 0; column < m_listModel->columnCount(); ++column) {
        const auto length = [&](qsizetype line) {
            const judgement::Item& item = m_lines[line].item;
            return column == 0 ? item.name.size() : item.parent.size();
        };
        std::vector<qsizetype> longest(static_cast<std::size_t>(m_lines.size()));
        std::iota(longest.begin(), longest.end(), qsizetype{0});
        const auto measured = longest.begin() + std::min<qsizetype>(kMeasured, m_lines.size());
        std::partial_sort(longest.begin(), measured, longest.end(),
                          [&](qsizetype a, qsizetype b) { return length(a) > length(b); });
        int width = lstFolderlist->header()->sectionSizeHint(column);
        for (auto line = longest.begin(); line != measured; ++line) {
            const int indent = column == 0 && m_lines[*line].marked ? lstFolderlist->indentation() : 0;
            width = std::max(width,
                             indent + lstFolderlist->sizeHintForIndex(m_listModel->indexOfLine(*line, column)).width());
        }
        lstFolderlist->header()->resizeSection(column, width);
    }
}
qsizetype frmMatome::currentLine() const {
    return m_listModel->lineOf(lstFolderlist->currentIndex());
}
QList<qsizetype> frmMatome::selectedLines() const {
    QList<qsizetype> lines;
    for (const QModelIndex& index : lstFolderlist->selectionModel()->selectedRows())
        lines.append(m_listModel->lineOf(index));
    std::sort(lines.begin(), lines.end());
    return lines;
}
void frmMatome::selectLine(qsizetype line) {
    lstFolderlist->selectionModel()->select(m_listModel->indexOfLine(line),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
}
void frmMatome::setCurrentLine(qsizetype line, bool select) {
    const auto flags =
        select ? QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows : QItemSelectionModel::NoUpdate;
    lstFolderlist->selectionModel()->setCurrentIndex(m_listModel->indexOfLine(line), flags);
}
// The stored list keeps itself sorted.
void frmMatome::setStoredItems(QList<judgement::Item> items) {
    judgement::sortItems(items);
    m_storedItems = std::move(items);
    m_storedModel->setItems(m_storedItems);
}

}  // namespace kurumu::window
