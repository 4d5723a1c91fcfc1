#pragma once

#include "judgement/Editing.h"
#include "judgement/GroupPlan.h"
#include "judgement/Rules.h"
#include "platform/FileServices.h"
#include "platform/Handoff.h"
#include "platform/Settings.h"
#include "session/Session.h"
#include "transfer/RunHost.h"
#include "transfer/RunVariables.h"

#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QTreeView;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kurumu::window {

class JudgedListModel;
class StoredListModel;
class WindowRunHost;

// The program's one window. Its controls hold every option and both item lists; each
// handler is the control's name and the event. Its code is in four files by idea:
// frmMatome.cpp (controls, menus, layout, start and end), frmMatomeList.cpp (the list and
// its editing), frmMatomePopups.cpp (popups, keyboard, preview, undo, log) and
// frmMatomeRun.cpp (Execute and Stop).
//
// The names the window keeps, in romanised Japanese, and what they are:
//   frmMatome        the window ("matome": gathering)
//   MatomeHantei     the judgement of the list ("hantei": judgement)
//   MatomeJikkou     one run of a group (transfer/RunDriver.h; "jikkou": execution)
//   lstFolderlist    the judged item list;       lstHlist      the stored list, hidden
//   txtMojisuu       the character count ("mojisuu"); txtPath    the destination, hidden
//   cmbMorC          move or copy;               chkFolderKeep keep the folder structure
//   cmdEXEC / cmdCancel / cmdCF                  Execute / Stop / C.F. (make folders)
//   rtfMatomefile    the log's holder, hidden;   prgbShinkou   the progress ("shinkou")
//   lblComplete      "完了" or "中止" after a run
//   mnuListProcess   the list popup: mnuDelete, mnuHanten (invert: "hanten"), mnuReMatome
//                    (judge again), mnuPreview, mnuUndo, mnuShowLog, mnuAddFiles, mnuAddFolder
//   mnuPopup         the options popup: mnuEB (use the Execute button), mnuNumPosition
//                    (numbers after the extension), mnuCRC32, mnuGenmitsu (check every
//                    number: "genmitsu", strict), mnuErrMushi (ignore other errors:
//                    "mushi", ignore), mnuFolderName (name folders by the count),
//                    mnuMatomeAuto (the rules: None = count, 1 first bracket, 2 last
//                    bracket, 4 last "of", 3 numbering)
class frmMatome final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmMatome)

public:
    explicit frmMatome(QWidget* parent = nullptr);
    ~frmMatome() override;

    // Takes paths as one drop onto the item list (the command line's paths).
    void dropPaths(const QStringList& paths);
    // Whether the window takes paths that a later start hands over: the reason it does not
    // while a run, a dialog, the user's corrections of the list or another start's drop
    // not taken yet would be upset by them.
    std::optional<QString> handoffRefusal(const QStringList& paths);
    // Takes them, once the start has confirmed, as one drop, and comes to the front.
    void takeHandedOver(const QStringList& paths);
    // Answers every later start that hands its paths over to this window.
    void receiveHandoffs(platform::HandoffReceiver& receiver);

    // Called where the window lets its pending events be processed during a run; tests
    // use it to act at a chosen moment (press Stop, create a file).
    void setProcessEventsHook(std::function<void()> hook);

    bool runUnderWay() const { return m_runUnderWay; }

    // A close that nobody is there to answer (a signal, the desktop session's end): a run
    // under way is stopped and the settings saved, without a question.
    void closeWithoutAsking();
    transfer::RunVariables& runVariables() { return m_runVariables; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class WindowRunHost;

    void createControls();
    void createMenus();
    void setTabOrder();
    QAction* addOptionItem(QMenu* menu, const QString& name, const QString& caption, bool shown);

    void Form_Initialize();
    void Form_Unload();
    void askToStopAndClose();
    void Form_Resize();
    void Form_MouseDown(Qt::MouseButton button, const QPoint& globalPosition);
    void lstFolderlist_MouseDown(Qt::MouseButton button, const QPoint& globalPosition);
    void lstFolderlist_OLEDragDrop(const QStringList& paths);
    void mnuFolderName_Click();
    void mnuDelete_Click();
    void mnuHanten_Click();
    void mnuReMatome_Click();
    void mnuPreview_Click();
    void mnuUndo_Click();
    void mnuShowLog_Click();
    void mnuOpenFolder_Click();
    void mnuHistory_Click();
    // Asks whether to take the run back, naming it, then takes it back through the session.
    void undoRun(const transfer::RunSummary& run);
    // The folder the current leader's group was gathered into by the last Execute; empty
    // for any other line.
    QString gatheringFolderOfCurrentLine() const;
    // Opens a folder the run of that journal gathered into.
    void openGatheringFolder(const QString& journal, const QString& folder);
    void describeControls();
    void createKeys();
    void openPopupFromKeyboard();
    void keepMinimumSize(const QSize& frame);
    void placeWindow();
    void keepPlace() const;
    void keepLog(const transfer::RunEnd& end);
    void showRunEnd();
    void ruleMenu_Click(judgement::Rule rule);
    void txtMojisuu_Change();
    void cmdCF_Click();
    void cmdEXEC_Click();
    void cmdCancel_Click();
    void MatomeHantei();

    void applyOptionStates(const platform::OptionStates& states);
    platform::OptionStates optionStates() const;
    judgement::RuleSet ruleSet() const;
    QAction* ruleAction(judgement::Rule rule) const;
    void setJudgementControlsEnabled(bool enabled);
    void runJudgedGroups();
    void removeMemberRows(const judgement::Group& group, qsizetype count);
    void setLines(QList<judgement::Line> lines);
    void fitColumns();
    void openGroups();
    qsizetype currentLine() const;
    QList<qsizetype> selectedLines() const;
    void selectLine(qsizetype line);
    void setCurrentLine(qsizetype line, bool select = true);
    void setStoredItems(QList<judgement::Item> items);
    void setCaptionTimes(const QString& startTime, const QString& endTime);
    session::Request runRequest() const;
    void showItemsTakenBack(const QStringList& paths);
    void offerToGoOn();
    QString outcomeCounts() const;
    void addChosenItems(bool folder);
    void setListCommandsEnabled(bool enabled);
    QSet<QString> fileLeaders() const;
    bool askFoldersForFileLeaders(qsizetype count, bool guarded);
    void makeGatheringFolders(const judgement::LeaderFilter& only);
    void processPendingEvents();
    int folderKeepValue() const;

    // Controls, in the order the window creates them; all owned by the window as Qt children.
    QPushButton* cmdDelete = nullptr;
    QPushButton* cmdCF = nullptr;
    QListView* lstHlist = nullptr;
    StoredListModel* m_storedModel = nullptr;  // the lines of lstHlist
    QLineEdit* txtMojisuu = nullptr;
    QTreeView* lstFolderlist = nullptr;
    JudgedListModel* m_listModel = nullptr;  // the lines of lstFolderlist, as a tree of groups
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdEXEC = nullptr;
    QComboBox* cmbMorC = nullptr;
    QCheckBox* chkFolderKeep = nullptr;
    QPlainTextEdit* rtfMatomefile = nullptr;
    QProgressBar* prgbShinkou = nullptr;
    QLineEdit* txtPath = nullptr;
    QLabel* lblComplete = nullptr;
    QLabel* lblMojisuu2 = nullptr;
    QLabel* lblMojisuu1 = nullptr;

    QMenu* mnuListProcess = nullptr;
    QAction* mnuDelete = nullptr;
    QAction* mnuHanten = nullptr;
    QAction* mnuReMatome = nullptr;
    QAction* mnuPreview = nullptr;
    QAction* mnuUndo = nullptr;
    QAction* mnuAddFiles = nullptr;
    QAction* mnuAddFolder = nullptr;
    QAction* mnuShowLog = nullptr;
    QAction* mnuOpenFolder = nullptr;
    QAction* mnuHistory = nullptr;
    QMenu* mnuPopup = nullptr;
    QAction* mnuEB = nullptr;
    QAction* mnuNumPosition = nullptr;
    QAction* mnuCRC32 = nullptr;
    QAction* mnuGenmitsu = nullptr;
    QAction* mnuErrMushi = nullptr;
    QAction* mnuFolderName = nullptr;
    QMenu* mnuMatomeAuto = nullptr;
    QAction* mnuMatomeAutoNone = nullptr;
    QAction* mnuMatomeAuto1 = nullptr;
    QAction* mnuMatomeAuto2 = nullptr;
    QAction* mnuMatomeAuto4 = nullptr;
    QAction* mnuMatomeAuto3 = nullptr;

    transfer::RunVariables m_runVariables;
    std::unique_ptr<WindowRunHost> m_runHost;
    std::function<void()> m_processEventsHook;
    QList<judgement::Line> m_lines;        // the line of each row of the item list
    QList<judgement::Item> m_storedItems;  // the item of each row of the stored list
    int m_removedRows = 0;                 // member rows taken out so far by the run under way
    QString m_executeLog;                  // the logs of the groups of the Execute under way
    bool m_executeStopped = false;
    int m_executeWarnings = 0;    // the error boxes asked for in the Execute under way
    QStringList m_laterWarnings;  // all but the first, counted in one closing box
    QStringList m_failures;       // each item that failed in it, and why, for the log
    // What the Execute under way has done, counted as it is done.
    struct OutcomeCounts {
        int moved = 0;
        int copied = 0;
        int duplicatesDeleted = 0;
        int copiesNotNeeded = 0;
        int numbered = 0;
    } m_outcomes;
    QString m_lastLog;      // the logs of the last Execute, for the log dialog
    QString m_lastJournal;  // the journal of the last Execute
    // Each group's leader and the folder the last Execute gathered it into, in the order they ran.
    QList<std::pair<QString, QString>> m_gatheredInto;
    QSet<platform::Identity> m_madeFolders;  // made by folder creation since the last drop: never walked
    QStringList m_folderJournals;            // the journals of those folder creations, since the last Execute
    bool m_runUnderWay = false;
    bool m_closeWithoutAsking = false;
    bool m_closeWhenRunEnds = false;  // the user chose to stop and close
    QPointer<QWidget> m_closeQuestion;
    bool m_listCorrected = false;      // the list holds the user's corrections: 反転's marks, C.F.'s folder lines
    bool m_handedOverPending = false;  // a start's paths are taken, but not dropped yet
    bool m_unloaded = false;
};

}  // namespace kurumu::window
