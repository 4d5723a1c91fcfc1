#include "window/frmMatome.h"

#include "judgement/Editing.h"
#include "judgement/GroupPlan.h"
#include "judgement/ItemLine.h"
#include "platform/FileServices.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Version.h"
#include "transfer/DryRun.h"
#include "transfer/Execute.h"
#include "transfer/Journal.h"
#include "transfer/JournaledRun.h"
#include "transfer/Undo.h"
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
#include <QListWidget>
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

// The window's resources live in this static library: they are registered by hand.
static void initResources() {
    Q_INIT_RESOURCE(kurumu);
}

namespace kurumu::window {

using platform::OptionStates;

namespace {

const QString kCaption = QStringLiteral("くるむ ") + platform::programVersion();
const QString kAppTitle = QStringLiteral("kurumu");

// Built sizes, in twips.
constexpr int kClientWidth = 4200;
constexpr int kClientHeight = 3570;
constexpr int kOuterWidth = 4320;
constexpr int kOuterHeight = 3975;
constexpr int kListWidthMargin = 850;
constexpr int kListHeightMargin = 2100;
constexpr int kButtonTopMargin = 1200;
constexpr int kProgressHeight = 255;

std::vector<transfer::Group> runsOf(const std::vector<judgement::Group>& groups) {
    std::vector<transfer::Group> runs;
    runs.reserve(groups.size());
    for (const judgement::Group& group : groups) runs.push_back({group.leaderPath, group.memberPaths});
    return runs;
}

// Lines a little taller than the font, so that what is drawn below the text (an
// underscore) is never cut off.
class RoomyRows final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rheight() += option.fontMetrics.descent() / 2 + 2;
        return size;
    }
};

// Fills a list with the texts of its lines, in order.
void showTexts(QListWidget* list, const QList<judgement::Line>& lines) {
    QStringList texts;
    texts.reserve(lines.size());
    for (const judgement::Line& line : lines) texts.append(line.text());
    list->clear();
    list->addItems(texts);
}

QStringList localPaths(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr) return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) paths.append(url.toLocalFile());
    }
    return paths;
}

QFont japaneseFont(const QStringList& families, qreal pointSize, bool bold = false) {
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

template <typename Control>
Control* named(Control* control, const QString& name) {
    control->setObjectName(name);
    return control;
}

}  // namespace

// The run's view of the window: every request is answered from a control at the moment
// it is made.
class WindowRunHost final : public transfer::ExecuteHost {
public:
    explicit WindowRunHost(frmMatome& window) : m_window(window) {}

    // The first error of an Execute shows its box; later ones are kept for one closing box.
    void showWarning(const QString& title, const QString& text, const QString& detail) override {
        if (m_window.m_executeWarnings++ == 0)
            return showMessageBox(&m_window, title, MessageIcon::Warning, text, detail);
        m_window.m_laterWarnings.append(text);
    }
    void itemFailed(const QString& detail) override { m_window.m_failures.append(detail); }
    void showStatus(const QString& line) override { m_window.rtfMatomefile->setPlainText(line); }
    void processEvents() override { m_window.processPendingEvents(); }
    void runStarted(const QString& startTime, qint32 itemCount) override {
        m_window.cmdCancel->setEnabled(true);
        m_window.setCaptionTimes(startTime, {});
        m_window.prgbShinkou->setValue(0);
        m_window.prgbShinkou->setMaximum(itemCount);
        m_window.prgbShinkou->show();
    }
    void itemStarted(qint32 index) override { m_window.prgbShinkou->setValue(index); }
    void runEnded(const transfer::RunEnd& end) override {
        m_window.prgbShinkou->hide();
        m_window.cmdCancel->setEnabled(false);
        if (end.disableCreateFolders) m_window.cmdCF->setEnabled(false);
        if (!end.stopped) m_window.txtPath->setAcceptDrops(true);
        m_window.rtfMatomefile->setPlainText(end.resultText);
        m_window.setCaptionTimes(end.startTime, end.endTime);
        m_window.keepLog(end);
    }
    void groupReached(std::size_t group, const QString& destinationFolder) override {
        m_window.txtPath->setText(destinationFolder);
        if (!m_groups[group].runs()) return;
        m_window.lstFolderlist->show();
    }
    void groupEnded(std::size_t group, qsizetype membersDone) override {
        // The lines of the members that went through leave the list; those of the members
        // that a stop or an error left where they are stay.
        m_window.removeMemberRows(m_groups[group], membersDone);
        m_window.lstFolderlist->hide();
    }

    void setGroups(std::vector<judgement::Group> groups) { m_groups = std::move(groups); }

private:
    frmMatome& m_window;
    std::vector<judgement::Group> m_groups;
};

frmMatome::frmMatome(QWidget* parent) : QWidget(parent), m_runHost(std::make_unique<WindowRunHost>(*this)) {
    initResources();
    installAccessibility();
    setObjectName(QStringLiteral("frmMatome"));
    setWindowIcon(QIcon(QStringLiteral(":/kurumu/kurumu-48.png")));
    setFont(japaneseFont({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")},
                         9));
    resize(sizeFromTwips(kClientWidth, kClientHeight));
    createControls();
    createMenus();
    setTabOrder();
    describeControls();
    createKeys();
    Form_Initialize();
    lstFolderlist->setFocus();  // the window opens with the focus in its list, never on 実行
    keepMinimumSize(sizeFromTwips(kOuterWidth - kClientWidth, kOuterHeight - kClientHeight));
}

// The window manager is told the smallest outer size, through the client size it leaves
// with the frame the window has (the built frame until it has one).
void frmMatome::keepMinimumSize(const QSize& frame) {
    const QSize smallest = sizeFromTwips(kOuterWidth, kOuterHeight) - frame;
    if (minimumSize() != smallest) setMinimumSize(smallest);
    if (width() < smallest.width() || height() < smallest.height()) resize(size().expandedTo(smallest));
}

// Names and short Japanese hints for whoever reads the window with a screen reader or
// a mouse pointer resting on a control.
void frmMatome::describeControls() {
    const auto describe = [](QWidget* control, const QString& name, const QString& hint) {
        control->setAccessibleName(name);
        control->setAccessibleDescription(hint);
        control->setToolTip(hint);
    };
    describe(txtMojisuu, QStringLiteral("一致させる文字数"),
             QStringLiteral("名前の最初から何文字が一致したらまとめるか(「使用しない」のとき)"));
    describe(lstFolderlist, QStringLiteral("項目の一覧"),
             QStringLiteral(
                 "ファイルやフォルダをここにドロップします。グループごとに、先頭の項目の下にまとめる項目が並びます"));
    lstFolderlist->setToolTip({});  // each row tells its whole path instead
    describe(cmdEXEC, QStringLiteral("実行"), QStringLiteral("各グループを先頭の項目のフォルダへまとめます"));
    describe(cmdCancel, QStringLiteral("中止"), QStringLiteral("実行中の処理を止めます"));
    describe(cmdCF, QStringLiteral("C.F."),
             QStringLiteral("グループごとに先頭の項目の名前でフォルダを作り、グループをそこへまとめるようにします"));
    describe(prgbShinkou, QStringLiteral("進み具合"), QStringLiteral("実行中の項目の数"));
    describe(lblComplete, QStringLiteral("完了"), QStringLiteral("最後の実行の結果"));
    describe(lblMojisuu1, lblMojisuu1->text(), {});
    describe(lblMojisuu2, lblMojisuu2->text(), {});
}

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

frmMatome::~frmMatome() = default;

void frmMatome::createControls() {
    const auto button = [this](const QString& name, const QString& caption, QRect at) {
        auto* control = named(new QPushButton(caption, this), name);
        control->setGeometry(at);
        return control;
    };
    cmdDelete = button(QStringLiteral("cmdDelete"), QStringLiteral("削除"), rectFromTwips(3000, 2900, 615, 375));
    cmdDelete->hide();
    cmdCF = button(QStringLiteral("cmdCF"), QStringLiteral("C.F."), rectFromTwips(1680, 2900, 615, 375));
    cmdCF->setEnabled(false);
    lstHlist = named(new QListWidget(this), QStringLiteral("lstHlist"));
    lstHlist->setUniformItemSizes(true);
    lstHlist->hide();
    txtMojisuu = named(new QLineEdit(QStringLiteral("30"), this), QStringLiteral("txtMojisuu"));
    txtMojisuu->setGeometry(rectFromTwips(600, 360, 735, 270));
    // The groups as a tree: each leader, its members below it; the name and its folder in
    // columns of their own. Rows are of one height, so a drop of 100,000 lines stays quick.
    lstFolderlist = named(new QTreeView(this), QStringLiteral("lstFolderlist"));
    m_listModel = new JudgedListModel(lstFolderlist);
    lstFolderlist->setModel(m_listModel);
    lstFolderlist->setItemDelegate(new RoomyRows(lstFolderlist));
    lstFolderlist->setGeometry(rectFromTwips(360, 800, 3375, 2040));
    lstFolderlist->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstFolderlist->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstFolderlist->setUniformRowHeights(true);
    lstFolderlist->setItemsExpandable(false);
    lstFolderlist->setRootIsDecorated(false);
    lstFolderlist->setAllColumnsShowFocus(true);
    // Whole names and folders, never cut: a long one scrolls sideways.
    lstFolderlist->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lstFolderlist->header()->setStretchLastSection(false);
    lstFolderlist->setTextElideMode(Qt::ElideNone);
    lstFolderlist->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    lstFolderlist->setFont(japaneseFont(
        {QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP")}, 9));
    lstFolderlist->viewport()->setAcceptDrops(true);
    lstFolderlist->viewport()->installEventFilter(this);
    cmdCancel = button(QStringLiteral("cmdCancel"), QStringLiteral("中止"), rectFromTwips(960, 2900, 615, 375));
    cmdCancel->setEnabled(false);
    cmdEXEC = button(QStringLiteral("cmdEXEC"), QStringLiteral("実行"), rectFromTwips(240, 2900, 615, 375));
    cmdEXEC->setEnabled(false);
    cmbMorC = named(new QComboBox(this), QStringLiteral("cmbMorC"));
    cmbMorC->setEditable(true);
    cmbMorC->addItems({platform::kMoveMode, platform::kCopyMode});
    cmbMorC->hide();
    chkFolderKeep =
        named(new QCheckBox(QStringLiteral("フォルダ構造を維持する"), this), QStringLiteral("chkFolderKeep"));
    chkFolderKeep->setTristate(true);
    chkFolderKeep->hide();
    rtfMatomefile = named(new QPlainTextEdit(this), QStringLiteral("rtfMatomefile"));
    rtfMatomefile->hide();
    prgbShinkou = named(new QProgressBar(this), QStringLiteral("prgbShinkou"));
    prgbShinkou->setGeometry(rectFromTwips(0, 3315, 4200, kProgressHeight));
    prgbShinkou->setTextVisible(false);
    prgbShinkou->hide();
    txtPath = named(new QLineEdit(this), QStringLiteral("txtPath"));
    txtPath->hide();
    lblComplete = named(new QLabel(QStringLiteral("完了"), this), QStringLiteral("lblComplete"));
    lblComplete->setGeometry(rectFromTwips(3480, 60, 615, 225));
    lblComplete->setAlignment(Qt::AlignCenter);
    lblComplete->setAutoFillBackground(true);
    QPalette green = lblComplete->palette();
    green.setColor(QPalette::Window, QColor(0, 255, 0));
    lblComplete->setPalette(green);
    lblComplete->setFont(japaneseFont({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic")}, 11.25, true));
    lblComplete->hide();
    lblMojisuu2 = named(new QLabel(QStringLiteral("文字一致していたらまとめる"), this), QStringLiteral("lblMojisuu2"));
    lblMojisuu2->setGeometry(rectFromTwips(1560, 400, 2415, 255));
    lblMojisuu1 =
        named(new QLabel(QStringLiteral("ファイル/フォルダ名の最初から"), this), QStringLiteral("lblMojisuu1"));
    lblMojisuu1->setGeometry(rectFromTwips(600, 120, 3255, 255));

    // A press on a label or the progress bar is not a press on the window's background; no
    // control opens a menu of its own (the count box's would be Qt's, not this program's).
    for (QWidget* control : std::initializer_list<QWidget*>{lblComplete, lblMojisuu1, lblMojisuu2, prgbShinkou})
        control->setAttribute(Qt::WA_NoMousePropagation);
    for (QWidget* control : std::initializer_list<QWidget*>{this, txtMojisuu, lstFolderlist})
        control->setContextMenuPolicy(Qt::NoContextMenu);

    connect(cmdCF, &QPushButton::clicked, this, &frmMatome::cmdCF_Click);
    connect(cmdEXEC, &QPushButton::clicked, this, &frmMatome::cmdEXEC_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmMatome::cmdCancel_Click);
    connect(txtMojisuu, &QLineEdit::textChanged, this, &frmMatome::txtMojisuu_Change);
}

QAction* frmMatome::addOptionItem(QMenu* menu, const QString& name, const QString& caption, bool shown) {
    QAction* action = named(menu->addAction(caption), name);
    action->setCheckable(true);
    if (!shown) {
        action->setVisible(false);
        action->setEnabled(false);
    }
    return action;
}

void frmMatome::createMenus() {
    mnuListProcess =
        named(new QMenu(QStringLiteral("リストボックスポップアップ"), this), QStringLiteral("mnuListProcess"));
    mnuDelete = named(mnuListProcess->addAction(QStringLiteral("リストから削除する")), QStringLiteral("mnuDelete"));
    mnuHanten =
        named(mnuListProcess->addAction(QStringLiteral("まとめ判定結果を反転する")), QStringLiteral("mnuHanten"));
    mnuReMatome =
        named(mnuListProcess->addAction(QStringLiteral("まとめ判定をやりなおす")), QStringLiteral("mnuReMatome"));
    mnuListProcess->addSeparator();
    mnuPreview = named(mnuListProcess->addAction(QStringLiteral("実行内容を確認…")), QStringLiteral("mnuPreview"));
    mnuPreview->setEnabled(false);
    mnuUndo = named(mnuListProcess->addAction(QStringLiteral("元に戻す…")), QStringLiteral("mnuUndo"));
    mnuShowLog = named(mnuListProcess->addAction(QStringLiteral("ログを表示…")), QStringLiteral("mnuShowLog"));
    mnuShowLog->setEnabled(false);
    mnuListProcess->addSeparator();
    mnuAddFiles = named(mnuListProcess->addAction(QStringLiteral("ファイルを追加…")), QStringLiteral("mnuAddFiles"));
    mnuAddFiles->setShortcut(QKeySequence::Open);
    addAction(mnuAddFiles);  // its key works wherever the focus is in the window
    mnuAddFolder = named(mnuListProcess->addAction(QStringLiteral("フォルダを追加…")), QStringLiteral("mnuAddFolder"));

    mnuPopup = named(new QMenu(QStringLiteral("ポップアップ"), this), QStringLiteral("mnuPopup"));
    mnuEB = addOptionItem(mnuPopup, QStringLiteral("mnuEB"), QStringLiteral("実行ボタンを使う"), false);
    mnuNumPosition =
        addOptionItem(mnuPopup, QStringLiteral("mnuNumPosition"), QStringLiteral("連番を拡張子の後ろに付ける"), false);
    mnuCRC32 = addOptionItem(mnuPopup, QStringLiteral("mnuCRC32"), QStringLiteral("CRC32を使用する(遅い)"), false);
    mnuGenmitsu = addOptionItem(mnuPopup, QStringLiteral("mnuGenmitsu"),
                                QStringLiteral("全ての同名ファイルをチェックする（遅い）"), false);
    mnuErrMushi =
        addOptionItem(mnuPopup, QStringLiteral("mnuErrMushi"), QStringLiteral("書き込みエラー以外を無視する"), false);
    mnuFolderName = addOptionItem(mnuPopup, QStringLiteral("mnuFolderName"),
                                  QStringLiteral("作るフォルダ名を一致した文字数分とする"), true);
    mnuMatomeAuto = named(mnuPopup->addMenu(QStringLiteral("自動まとめ判定")), QStringLiteral("mnuMatomeAuto"));
    mnuMatomeAuto->menuAction()->setObjectName(QStringLiteral("mnuMatomeAuto"));
    mnuMatomeAutoNone =
        addOptionItem(mnuMatomeAuto, QStringLiteral("mnuMatomeAutoNone"), QStringLiteral("使用しない"), true);
    mnuMatomeAuto1 =
        addOptionItem(mnuMatomeAuto, QStringLiteral("mnuMatomeAuto1"), QStringLiteral("最初の\"(\"か\"[\"基準"), true);
    mnuMatomeAuto2 =
        addOptionItem(mnuMatomeAuto, QStringLiteral("mnuMatomeAuto2"), QStringLiteral("最後の\"(\"か\"[\"基準"), true);
    mnuMatomeAuto4 =
        addOptionItem(mnuMatomeAuto, QStringLiteral("mnuMatomeAuto4"), QStringLiteral("最後の\"of\"基準"), true);
    mnuMatomeAuto3 =
        addOptionItem(mnuMatomeAuto, QStringLiteral("mnuMatomeAuto3"), QStringLiteral("上記を基準にしない"), true);
    mnuMatomeAuto1->setChecked(true);

    connect(mnuDelete, &QAction::triggered, this, &frmMatome::mnuDelete_Click);
    connect(mnuHanten, &QAction::triggered, this, &frmMatome::mnuHanten_Click);
    connect(mnuReMatome, &QAction::triggered, this, &frmMatome::mnuReMatome_Click);
    connect(mnuPreview, &QAction::triggered, this, &frmMatome::mnuPreview_Click);
    connect(mnuUndo, &QAction::triggered, this, &frmMatome::mnuUndo_Click);
    connect(mnuAddFiles, &QAction::triggered, this, [this] { addChosenItems(false); });
    connect(mnuAddFolder, &QAction::triggered, this, [this] { addChosenItems(true); });
    connect(mnuShowLog, &QAction::triggered, this, &frmMatome::mnuShowLog_Click);
    connect(mnuFolderName, &QAction::triggered, this, &frmMatome::mnuFolderName_Click);
    for (const judgement::Rule rule : judgement::kAllRules) {
        connect(ruleAction(rule), &QAction::triggered, this, [this, rule] { ruleMenu_Click(rule); });
    }
}

void frmMatome::setTabOrder() {
    // The focusable controls by tab index: txtPath 0 ... cmdDelete 13.
    const std::array<QWidget*, 12> order{txtPath,   prgbShinkou,   rtfMatomefile, chkFolderKeep, cmbMorC, cmdEXEC,
                                         cmdCancel, lstFolderlist, txtMojisuu,    lstHlist,      cmdCF,   cmdDelete};
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

QAction* frmMatome::ruleAction(judgement::Rule rule) const {
    switch (rule) {
        case judgement::Rule::FixedCount:
            return mnuMatomeAutoNone;
        case judgement::Rule::FirstBracket:
            return mnuMatomeAuto1;
        case judgement::Rule::LastBracket:
            return mnuMatomeAuto2;
        case judgement::Rule::LastOf:
            return mnuMatomeAuto4;
        case judgement::Rule::Numbering:
            return mnuMatomeAuto3;
    }
    return nullptr;
}

int frmMatome::folderKeepValue() const {
    switch (chkFolderKeep->checkState()) {
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return 2;
        case Qt::Unchecked:
            break;
    }
    return 0;
}

void frmMatome::applyOptionStates(const OptionStates& states) {
    mnuNumPosition->setChecked(states.numberAfterExtension);
    mnuCRC32->setChecked(states.crc32);
    mnuGenmitsu->setChecked(states.checkAllNumbers);
    static constexpr std::array kCheckStates{Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};
    chkFolderKeep->setCheckState(kCheckStates.at(static_cast<std::size_t>(states.folderKeep)));
    cmbMorC->setCurrentText(states.operationMode);
    mnuEB->setChecked(states.useExecuteButton);
    if (states.useExecuteButton) {
        cmdEXEC->show();
        cmdEXEC->setEnabled(false);
    } else {
        cmdEXEC->hide();
    }
    mnuErrMushi->setChecked(states.ignoreOtherErrors);
    mnuFolderName->setChecked(states.folderNameByCount);
    for (const judgement::Rule rule : judgement::kAllRules)
        ruleAction(rule)->setChecked(states.rules[static_cast<std::size_t>(rule)]);
    txtMojisuu->setEnabled(states.countBoxEnabled);
}

OptionStates frmMatome::optionStates() const {
    OptionStates states;
    states.numberAfterExtension = mnuNumPosition->isChecked();
    states.crc32 = mnuCRC32->isChecked();
    states.checkAllNumbers = mnuGenmitsu->isChecked();
    states.folderKeep = folderKeepValue();
    states.operationMode = cmbMorC->currentText();
    states.useExecuteButton = mnuEB->isChecked();
    states.ignoreOtherErrors = mnuErrMushi->isChecked();
    states.folderNameByCount = mnuFolderName->isChecked();
    for (const judgement::Rule rule : judgement::kAllRules)
        states.rules[static_cast<std::size_t>(rule)] = ruleAction(rule)->isChecked();
    states.countBoxEnabled = txtMojisuu->isEnabled();
    return states;
}

judgement::RuleSet frmMatome::ruleSet() const {
    judgement::RuleSet rules;
    for (const judgement::Rule rule : judgement::kAllRules)
        rules.checked[static_cast<std::size_t>(rule)] = ruleAction(rule)->isChecked();
    rules.count = judgement::characterCount(txtMojisuu->text());
    return rules;
}

void frmMatome::Form_Initialize() {
    m_runVariables.intCancel = 0;
    OptionStates startUp = OptionStates::startUp();
    startUp.countBoxEnabled = txtMojisuu->isEnabled();
    applyOptionStates(startUp);
    setWindowTitle(kCaption);
    mnuDelete->setEnabled(false);
    mnuHanten->setEnabled(false);
    mnuReMatome->setEnabled(false);
    applyOptionStates(platform::loadSettingsFile(platform::settingsFilePath()));
}

void frmMatome::Form_Unload() {
    if (std::exchange(m_unloaded, true)) return;
    const platform::SaveFailure failure = platform::saveSettingsFile(platform::settingsFilePath(), optionStates());
    if (failure != platform::SaveFailure::None)
        showMessageBox(this, kAppTitle, MessageIcon::Warning, platform::saveFailureMessage(failure));
}

void frmMatome::closeEvent(QCloseEvent* event) {
    Form_Unload();
    // A run under way is asked to stop at its next file, so that closing ends the program soon.
    if (m_runUnderWay) transfer::requestStop(m_runVariables);
    event->accept();
}

void frmMatome::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmMatome::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) Form_Resize();
}

void frmMatome::Form_Resize() {
    if (isMinimized()) return;
    // The outer size counts the frame; before the window has one, the built frame stands in.
    QSize frame = frameGeometry().size() - size();
    if (frame.isEmpty()) frame = sizeFromTwips(kOuterWidth - kClientWidth, kOuterHeight - kClientHeight);
    keepMinimumSize(frame);
    int outerWidth = toTwips(width() + frame.width());
    int outerHeight = toTwips(height() + frame.height());
    if (outerHeight < kOuterHeight || outerWidth < kOuterWidth) {
        outerWidth = std::max(outerWidth, kOuterWidth);
        outerHeight = std::max(outerHeight, kOuterHeight);
        // The handler runs through with the new size; the resize may raise it once more.
        resize(toPixels(outerWidth) - frame.width(), toPixels(outerHeight) - frame.height());
    }
    lstFolderlist->resize(toPixels(outerWidth - kListWidthMargin), toPixels(outerHeight - kListHeightMargin));
    const int buttonTop = toPixels(outerHeight - kButtonTopMargin);
    for (QPushButton* button : {cmdEXEC, cmdCancel, cmdCF, cmdDelete}) button->move(button->x(), buttonTop);
    // The progress bar runs along the bottom edge, across the whole width.
    const int barHeight = toPixels(kProgressHeight);
    prgbShinkou->setGeometry(0, toPixels(outerHeight) - frame.height() - barHeight, width(), barHeight);
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
    cmdCancel->setEnabled(true);
    cmdCF->setEnabled(true);
    mnuPopup->setEnabled(false);
    prgbShinkou->setMaximum(static_cast<int>(paths.size()));
    QList<judgement::Item> stored;
    stored.reserve(paths.size());
    for (const QString& path : paths) stored.append(judgement::itemForPath(path));
    setStoredItems(stored);
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
    setJudgementControlsEnabled(!stored.isEmpty());
}

// While a run reads the list, no command that would change it can be chosen.
void frmMatome::setListCommandsEnabled(bool enabled) {
    for (QAction* action : {mnuAddFiles, mnuAddFolder, mnuUndo}) action->setEnabled(enabled);
    for (QAction* action : {mnuDelete, mnuHanten, mnuReMatome, mnuPreview})
        action->setEnabled(enabled && !m_lines.isEmpty());
}

void frmMatome::setJudgementControlsEnabled(bool enabled) {
    for (QPushButton* button : {cmdEXEC, cmdCancel, cmdCF}) button->setEnabled(enabled);
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
    if (wasChecked) {
        clicked->setChecked(true);
    } else {
        for (const judgement::Rule other : judgement::kAllRules) ruleAction(other)->setChecked(other == rule);
        txtMojisuu->setEnabled(rule == judgement::Rule::FixedCount);
    }
    MatomeHantei();
    if (m_lines.size() > 1) {
        cmdEXEC->setEnabled(true);
        cmdCancel->setEnabled(true);
    }
}

void frmMatome::txtMojisuu_Change() {
    if (m_runUnderWay) return;
    MatomeHantei();
    if (m_lines.size() > 1) {
        for (QPushButton* button : {cmdEXEC, cmdCancel, cmdCF}) button->setEnabled(true);
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
    for (QPushButton* button : {cmdEXEC, cmdCancel, cmdCF}) button->setEnabled(true);
}

bool frmMatome::ensureGatheringFolder(platform::FileServices& files, const QString& path) {
    const platform::Status created = transfer::ensureFolder(files, path, m_madeFolders);
    if (created.ok()) return true;
    showMessageBox(this, kAppTitle, MessageIcon::Warning,
                   QStringLiteral("フォルダを作成できませんでした(%1)\n%2").arg(created.code()).arg(path));
    return false;
}

// What the journal of a run from the window says of it: the items as they were dropped
// (what an undo shows again), the options, and the folder creations it builds on.
transfer::JournalHeader frmMatome::runHeader() const {
    transfer::JournalHeader header;
    header.origin = QStringLiteral("window");
    for (const judgement::Item& item : m_storedItems) header.paths.append(item.path());
    header.items = header.paths.size();
    header.options = transfer::runOptionsOf(optionStates());
    return header;
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
    transfer::JournalHeader header = runHeader();
    const platform::Result<transfer::JournaledOutcome> made =
        transfer::runJournaled(header, [&](platform::FileServices& files) {
            gathered = judgement::withGatheringFolders(
                m_lines, judgement::characterCount(txtMojisuu->text()), mnuFolderName->isChecked(),
                [&](const QString& path) { return ensureGatheringFolder(files, path); }, only);
            return true;
        });
    if (made.ok()) {
        m_folderJournals.append(made.value.id);
    } else {
        showMessageBox(this, kAppTitle, MessageIcon::Warning, transfer::journalUnwritableText(made.status, false));
    }
    setLines(gathered.lines);
    for (qsizetype line = 0; line < m_lines.size(); ++line) {
        const judgement::Item& item = m_lines[line].item;
        if (current && item == *current) setCurrentLine(line, false);  // the old leader comes after its folder's line
        if (selected.contains(item)) selectLine(line);
    }
    if (!gathered.refused.isEmpty())
        showMessageBox(this, kAppTitle, MessageIcon::Warning, judgement::refusedFoldersText(gathered.refused));
}

void frmMatome::cmdEXEC_Click() {
    if (m_runUnderWay) return;
    cmdEXEC->setEnabled(false);
    offerFoldersForFileLeaders();
    runJudgedGroups();
}

// A group led by a file has no folder to gather into: its run would stop at once. The user
// is asked first whether to give each such group its folder, as C.F. does.
void frmMatome::offerFoldersForFileLeaders() {
    QSet<QString> fileLeaders;
    for (const judgement::Group& group : judgement::groupsOf(m_lines)) {
        const platform::Result<platform::EntryInfo> leader = platform::realFileServices().heldFolder(group.leaderPath);
        if (group.runs() && !(leader.ok() && leader.value.kind == platform::EntryKind::Folder))
            fileLeaders.insert(group.leaderPath);
    }
    if (fileLeaders.isEmpty()) return;
    const QString question =
        QStringLiteral(
            "先頭の項目がファイルのグループが %1 個あります。ファイルの中へはまとめられません。\n\n"
            "それぞれのグループにフォルダを作り (%1 個)、その中へまとめますか?\n"
            "「いいえ」ではこのまま実行します。")
            .arg(fileLeaders.size());
    if (!askQuestion(this, kAppTitle, question)) return;
    makeGatheringFolders([&](const judgement::Item& leader) { return fileLeaders.contains(leader.path()); });
}

// Every change of the item list goes through here, so that each row keeps the item it
// shows: commands act on the items and never read a path back from a row's text.
void frmMatome::setLines(QList<judgement::Line> lines) {
    m_lines = std::move(lines);
    m_listModel->setLines(m_lines);
    lstFolderlist->expandAll();
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
    QList<judgement::Line> lines;
    lines.reserve(m_storedItems.size());
    for (const judgement::Item& item : m_storedItems) lines.append({item, false});
    showTexts(lstHlist, lines);
}

void frmMatome::removeMemberRows(const judgement::Group& group, qsizetype count) {
    if (count <= 0) return;
    const int firstMember = static_cast<int>(group.leaderRow) + 1 - m_removedRows;
    m_listModel->removeLines(firstMember, count);
    lstFolderlist->expandAll();
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
    lblComplete->setAccessibleName(lblComplete->text());
    lblComplete->setAccessibleDescription(outcomeCounts());
    lblComplete->show();
    // Said at once to assistive technology, with what the Execute did.
    QAccessibleEvent changed(lblComplete, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
    m_lastLog = m_executeLog;
    mnuShowLog->setEnabled(!m_lastLog.isEmpty());
}

// What the Execute did, counted from its log: "移動 3、コピー 0、重複のため削除 1、番号付き 1、失敗 0".
QString frmMatome::outcomeCounts() const {
    int moved = 0;
    int copied = 0;
    int duplicates = 0;
    int numbered = 0;
    for (const QStringView line : QStringView(m_executeLog).split(QStringLiteral("\r\n"))) {
        const bool renamed = line.endsWith(u"…Rename後Move") || line.endsWith(u"…Rename後Copy");
        numbered += renamed ? 1 : 0;
        moved += line.endsWith(u"…Move") || line.endsWith(u"…Rename後Move") ? 1 : 0;
        copied += line.endsWith(u"…Copy") || line.endsWith(u"…Rename後Copy") ? 1 : 0;
        duplicates += line.endsWith(u"…Delete") || line.endsWith(u"…同一ファイルあり") ? 1 : 0;
    }
    return QStringLiteral("移動 %1、コピー %2、重複のため削除 %3、番号付き %4、失敗 %5")
        .arg(moved)
        .arg(copied)
        .arg(duplicates)
        .arg(numbered)
        .arg(m_failures.size());
}

void frmMatome::mnuShowLog_Click() {
    if (m_lastLog.isEmpty()) return;
    auto* log = new TextDialog(this, QStringLiteral("dlgLog"), QStringLiteral("ログ"),
                               QString(m_lastLog).replace(QStringLiteral("\r\n"), QStringLiteral("\n")), true);
    log->show();  // deletes itself when closed
}

void frmMatome::runJudgedGroups() {
    const QList<judgement::Line> lines = m_lines;
    if (lines.isEmpty()) return;  // nothing to run, nothing to report
    transfer::JournalHeader header = runHeader();
    header.after = m_folderJournals;
    m_runUnderWay = true;
    setListCommandsEnabled(false);
    m_executeLog.clear();
    m_executeStopped = false;
    m_executeWarnings = 0;
    m_laterWarnings.clear();
    m_failures.clear();
    cmdCF->setEnabled(false);  // no folder is made while a run reads the list
    std::vector<judgement::Group> groups = judgement::groupsOf(lines);
    const std::vector<transfer::Group> runs = runsOf(groups);
    m_runHost->setGroups(std::move(groups));
    m_removedRows = 0;
    txtPath->setText(platform::withTrailingSeparator(runs.front().leader));
    lstFolderlist->hide();
    if (mnuMatomeAutoNone->isChecked()) txtMojisuu->setEnabled(false);
    // Every run is journaled; without a journal it does not start.
    const platform::Result<bool> finished =
        transfer::executeRun(m_runVariables, *m_runHost, header, runs, m_madeFolders);
    if (mnuMatomeAutoNone->isChecked()) txtMojisuu->setEnabled(true);
    lstFolderlist->show();
    m_runUnderWay = false;
    setListCommandsEnabled(true);
    if (!finished.ok()) {
        showMessageBox(this, kAppTitle, MessageIcon::Warning, transfer::journalUnwritableText(finished.status, false));
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
    mnuPopup->setEnabled(true);
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

void frmMatome::mnuPreview_Click() {
    if (m_runUnderWay) return;
    const QList<judgement::Line> lines = m_lines;
    if (lines.isEmpty()) return;
    // The run as it would go now, on the disk as it is, through services that only remember.
    QStringList told;
    transfer::RunVariables variables;
    transfer::TextHost host(
        variables, [&told](const QString& line) { told.append(line); },
        [&told](const QString& message) { told.append(message); });
    const auto disk = platform::diskServices();
    transfer::DryRunServices files(*disk);
    transfer::executeRun(variables, host, runHeader(), runsOf(judgement::groupsOf(lines)), m_madeFolders, &files);
    if (told.isEmpty()) told.append(QStringLiteral("まとめるグループがありません"));
    auto* preview = new TextDialog(this, QStringLiteral("dlgPreview"), QStringLiteral("実行内容の確認"),
                                   told.join(u'\n'), false);  // deletes itself when closed
    preview->show();
}

void frmMatome::mnuUndo_Click() {
    if (m_runUnderWay) return;
    const platform::Result<transfer::RunSummary> last =
        transfer::runToUndo(transfer::runHistory(transfer::journalFolder()), {});
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
    const platform::Result<transfer::UndoReport> report =
        transfer::undoRun(transfer::journalFolder(), last.value.id, QStringLiteral("window"));
    if (!report.ok()) {
        showMessageBox(this, kAppTitle, MessageIcon::Warning,
                       QStringLiteral("元に戻せませんでした(%1)").arg(report.status.code()));
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

void frmMatome::cmdCancel_Click() {
    transfer::requestStop(m_runVariables);
    cmdCancel->setEnabled(false);
    cmdCF->setEnabled(false);
    if (m_runUnderWay || !cmdEXEC->isEnabled()) return;
    // A prepared run that has not started is cancelled: the driver takes its stop path at once.
    cmdEXEC->setEnabled(false);
    m_runUnderWay = true;
    transfer::MatomeJikkou(m_runVariables, *m_runHost, platform::realFileServices(), {}, {});
    m_runUnderWay = false;
    txtPath->setAcceptDrops(true);
    mnuPopup->setEnabled(true);
}

void frmMatome::setCaptionTimes(const QString& startTime, const QString& endTime) {
    QString caption = kCaption + QStringLiteral("...始") + startTime;
    if (!endTime.isEmpty()) caption += QStringLiteral("停") + endTime;
    setWindowTitle(caption);
}

void frmMatome::setProcessEventsHook(std::function<void()> hook) {
    m_processEventsHook = std::move(hook);
}

void frmMatome::processPendingEvents() {
    if (m_processEventsHook) m_processEventsHook();
    QCoreApplication::processEvents();
}

}  // namespace kurumu::window
