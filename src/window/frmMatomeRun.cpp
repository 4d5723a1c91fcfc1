#include "window/WindowRunHost.h"
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

// Execute and Stop: the run that the window hosts.

namespace kurumu::window {

using platform::OptionStates;

frmMatome::~frmMatome() = default;
// What a run from the window asks for: the items as they were dropped (what an undo shows
// again), the options, and the folder creations it builds on.
session::Request frmMatome::runRequest() const {
    QStringList paths;
    for (const judgement::Item& item : m_storedItems) paths.append(item.path());
    return {QStringLiteral("window"), {}, paths, transfer::runOptionsOf(optionStates()), m_folderJournals};
}
void frmMatome::cmdEXEC_Click() {
    if (m_runUnderWay) return;
    // The focus leaves 実行 for the list before 実行 goes grey, so that it never lands on 中止:
    // a second press then changes nothing.
    lstFolderlist->setFocus();
    cmdEXEC->setEnabled(false);
    const QSet<QString> leaders = fileLeaders();
    const bool folders = !leaders.isEmpty() && askFoldersForFileLeaders(leaders.size(), true);
    if (m_unloaded) return;  // closed while the question was open: nothing runs
    if (folders) makeGatheringFolders([&](const judgement::Item& leader) { return leaders.contains(leader.path()); });
    runJudgedGroups();
}
// The leaders of the groups to run that are no folder: a run could not gather into them.
QSet<QString> frmMatome::fileLeaders() const {
    QSet<QString> leaders;
    for (const judgement::Group& group : judgement::groupsOf(m_lines)) {
        const platform::Result<platform::EntryInfo> leader = platform::realFileServices().heldFolder(group.leaderPath);
        if (group.runs() && !(leader.ok() && leader.value.kind == platform::EntryKind::Folder))
            leaders.insert(group.leaderPath);
    }
    return leaders;
}
// Whether to give each group led by a file its folder, as C.F. does; yes by default, since
// without one such a group cannot be gathered at all.
bool frmMatome::askFoldersForFileLeaders(qsizetype count, bool guarded) {
    const QString question =
        QStringLiteral(
            "先頭の項目がファイルのグループが %1 個あります。先頭の項目がファイルのため、"
            "フォルダを作らなければこれらのグループはまとめられません。\n\n"
            "それぞれのグループにフォルダを作り (%1 個)、その中へまとめますか?\n"
            "「いいえ」ではフォルダを作らずに実行します。これらのグループはまとめられず、エラーになります。")
            .arg(count);
    return askQuestion(this, kAppTitle, question, {true, guarded});
}
void frmMatome::removeMemberRows(const judgement::Group& group, qsizetype count) {
    if (count <= 0) return;
    const int firstMember = static_cast<int>(group.leaderRow) + 1 - m_removedRows;
    m_listModel->removeLines(firstMember, count);
    openGroups();
    m_lines.remove(firstMember, count);
    m_removedRows += static_cast<int>(count);
}
void frmMatome::keepLog(const transfer::RunEnd& end) {
    if (!m_executeLog.isEmpty()) m_executeLog += QStringLiteral("\r\n");
    m_executeLog += end.resultText;
    m_executeStopped = m_executeStopped || end.stopped;
}
// "完了" on green only after a run that ended "処理終了"; "中止" on red after "処理中止".
void frmMatome::showRunEnd() {
    lblComplete->setText(m_executeStopped ? QStringLiteral("中止") : QStringLiteral("完了"));
    QPalette colours = lblComplete->palette();
    colours.setColor(QPalette::Window, m_executeStopped ? QColor(255, 0, 0) : QColor(0, 255, 0));
    lblComplete->setPalette(colours);
    // Shown anew at every end, and so spoken as an alert with what the Execute did; the
    // focus stays in the list.
    lblComplete->hide();
    lblComplete->setAccessibleName(lblComplete->text() + QStringLiteral("。") + outcomeCounts());
    lblComplete->setAccessibleDescription(outcomeCounts());
    lblComplete->show();
    // Said at once to assistive technology, with what the Execute did.
    QAccessibleEvent changed(lblComplete, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
    m_lastLog = m_executeLog;
    mnuShowLog->setEnabled(!m_lastLog.isEmpty());
}
// What the Execute did, each kind of outcome that happened by its count, and the failures:
// "移動 3、重複のため削除 1、番号付き 1、失敗 0". Only what happened is named: a copy that
// the same file already there made needless is never told as a deletion.
QString frmMatome::outcomeCounts() const {
    const OutcomeCounts& done = m_outcomes;
    QStringList told;
    const auto tell = [&told](const QString& what, int count) {
        if (count > 0) told.append(what + u' ' + QString::number(count));
    };
    tell(QStringLiteral("移動"), done.moved);
    tell(QStringLiteral("コピー"), done.copied);
    tell(QStringLiteral("重複のため削除"), done.duplicatesDeleted);
    tell(QStringLiteral("同じファイルがあるためコピー不要"), done.copiesNotNeeded);
    tell(QStringLiteral("番号付き"), done.numbered);
    if (told.isEmpty()) told.append(QStringLiteral("移動・コピーした項目なし"));
    told.append(QStringLiteral("失敗 %1").arg(m_failures.size()));
    return told.join(u'、');
}
void frmMatome::runJudgedGroups() {
    const QList<judgement::Line> lines = m_lines;
    if (lines.isEmpty() || m_unloaded) return;  // nothing to run, or nobody to run it for
    session::Request request = runRequest();
    m_runUnderWay = true;
    setListCommandsEnabled(false);
    mnuPopup->setEnabled(false);  // the options rest while a run reads them
    m_executeLog.clear();
    m_gatheredInto.clear();
    m_executeStopped = false;
    m_executeWarnings = 0;
    m_laterWarnings.clear();
    m_failures.clear();
    m_outcomes = {};
    cmdCF->setEnabled(false);  // no folder is made while a run reads the list
    std::vector<judgement::Group> groups = judgement::groupsOf(lines);
    const std::vector<transfer::Group> runs = session::runGroupsOf(groups);
    m_runHost->setGroups(std::move(groups));
    m_removedRows = 0;
    txtPath->setText(platform::withTrailingSeparator(runs.front().leader));
    // The list stays shown and keeps the focus throughout, so that no key meant for it
    // reaches a button.
    if (!lstFolderlist->hasFocus()) lstFolderlist->setFocus();
    if (mnuMatomeAutoNone->isChecked()) txtMojisuu->setEnabled(false);
    // Every run is journaled; without a journal it does not start.
    const platform::Result<platform::StateFolder> state = platform::StateFolder::open();
    const platform::Result<session::RunOutcome> finished =
        state.ok() ? session::run(m_runVariables, *m_runHost, state.value, std::move(request), runs, m_madeFolders)
                   : platform::Result<session::RunOutcome>{{}, state.status};
    m_lastJournal = finished.value.journal;
    if (mnuMatomeAutoNone->isChecked()) txtMojisuu->setEnabled(true);
    m_runUnderWay = false;
    setListCommandsEnabled(true);
    mnuPopup->setEnabled(true);
    if (m_closeQuestion) m_closeQuestion->close();  // what it asked about is over
    if (std::exchange(m_closeWhenRunEnds, false)) {
        closeWithoutAsking();
        return;
    }
    if (!finished.ok()) {
        showMessageBox(this, kAppTitle, MessageIcon::Warning,
                       session::journalUnwritableText(state.value, finished.status, false));
        cmdCF->setEnabled(true);
        if (mnuEB->isChecked()) cmdEXEC->setEnabled(true);
        return;
    }
    m_folderJournals.clear();
    QList<judgement::Item> remaining;
    for (const judgement::Line& line : m_lines) remaining.append(line.item);
    setStoredItems(remaining);
    // Each item that failed, with the reason, after the lines of the runs.
    if (!m_failures.isEmpty())
        m_executeLog += QStringLiteral("\r\n\r\n失敗した項目:\r\n") + m_failures.join(QStringLiteral("\r\n"));
    showRunEnd();
    txtPath->setAcceptDrops(true);
    cmdCancel->setEnabled(false);
    cmdCF->setEnabled(false);
    if (m_executeStopped) offerToGoOn();
    if (!m_laterWarnings.isEmpty()) {
        showMessageBox(this, kAppTitle, MessageIcon::Warning,
                       QStringLiteral("ほかに %1 件のエラーがありました。「ログを表示…」で確かめられます。")
                           .arg(m_laterWarnings.size()));
    }
}
// After an Execute that stopped, what is left can be run again, given folders, or edited.
void frmMatome::offerToGoOn() {
    const std::vector<judgement::Group> groups = judgement::groupsOf(m_lines);
    const bool toRun =
        std::any_of(groups.cbegin(), groups.cend(), [](const judgement::Group& group) { return group.runs(); });
    cmdEXEC->setEnabled(toRun);
    cmdCF->setEnabled(!m_lines.isEmpty());
    for (QAction* action : {mnuDelete, mnuHanten, mnuReMatome, mnuPreview}) action->setEnabled(!m_lines.isEmpty());
}
// 中止 is on only while a run is under way; a run that waits for 実行 simply waits.
void frmMatome::cmdCancel_Click() {
    if (!m_runUnderWay) return;
    m_runVariables.requestStop();
    cmdCancel->setEnabled(false);
}
void frmMatome::setProcessEventsHook(std::function<void()> hook) {
    m_processEventsHook = std::move(hook);
}
void frmMatome::processPendingEvents() {
    if (m_processEventsHook) m_processEventsHook();
    QCoreApplication::processEvents();
}

}  // namespace kurumu::window
