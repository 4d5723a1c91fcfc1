#include "window/frmMatome.h"
#include "window/WindowRunHost.h"
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
#include <QDir>
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
#include <QScreen>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

// The program's window: its controls, menus and layout, its start and its end.

// The window's resources live in this static library: they are registered by hand.
static void initResources() {
    Q_INIT_RESOURCE(kurumu);
}

namespace kurumu::window {

using platform::OptionStates;

namespace {

// Built sizes, in twips.
constexpr int kClientWidth = 4200;
constexpr int kClientHeight = 3570;
constexpr int kOuterWidth = 4320;
constexpr int kOuterHeight = 3975;
constexpr int kListWidthMargin = 850;
constexpr int kListHeightMargin = 2100;
constexpr int kButtonTopMargin = 1200;
constexpr int kProgressHeight = 255;

// The window's place is kept in the state folder, beside the journals, as "x y width
// height": the frame's corner and the inside's size.
const QString kPlaceFile = QStringLiteral("window");

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

}  // namespace

QStringList localPaths(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr) return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) paths.append(url.toLocalFile());
    }
    return paths;
}

QFont japaneseFont(const QStringList& families, qreal pointSize, bool bold) {
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

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
    placeWindow();
}
// On first start the window opens large enough for both columns and the caption's times;
// afterwards as large as it was left, and where, on a screen that exists.
void frmMatome::placeWindow() {
    const platform::Result<platform::StateFolder> state =
        platform::StateFolder::open(platform::StateFolder::Making::Nothing);
    const platform::Result<QByteArray> kept =
        state.ok() ? state.value.readStateFile(kPlaceFile, 256) : platform::Result<QByteArray>{{}, state.status};
    const QList<QByteArray> fields = kept.value.trimmed().split(' ');
    QList<int> numbers;
    for (const QByteArray& field : fields) {
        bool ok = false;
        numbers.append(field.toInt(&ok));
        if (!ok) numbers.clear();
    }
    const QRect place = numbers.size() == 4 ? QRect(numbers[0], numbers[1], numbers[2], numbers[3]) : QRect();
    const QScreen* screen = place.isValid() ? QGuiApplication::screenAt(place.center()) : nullptr;
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect room = screen->availableGeometry();
    const qreal scale = std::max(1.0, screen->logicalDotsPerInch() / 96.0);
    const QSize wanted = place.isValid() ? place.size() : QSize(qRound(720 * scale), qRound(480 * scale));
    resize(wanted.boundedTo(room.size() * 9 / 10).expandedTo(minimumSize()));
    if (!place.isValid()) return;  // the first place is the window manager's to choose
    // The frame is the window manager's and unknown until shown: the built one stands in.
    const QSize outer = size() + sizeFromTwips(kOuterWidth - kClientWidth, kOuterHeight - kClientHeight);
    const QPoint corner(std::clamp(place.x(), room.left(), std::max(room.left(), room.right() - outer.width())),
                        std::clamp(place.y(), room.top(), std::max(room.top(), room.bottom() - outer.height())));
    move(corner);
}
void frmMatome::keepPlace() const {
    const platform::Result<platform::StateFolder> state = platform::StateFolder::open();
    if (!state.ok() || isMinimized()) return;
    const QRect inside = normalGeometry().isValid() ? normalGeometry() : geometry();
    const QPoint corner = frameGeometry().topLeft();
    // Not kept is no loss: the next start opens at the first size.
    (void)state.value.replaceStateFile(kPlaceFile, QStringLiteral("%1 %2 %3 %4\n")
                                                       .arg(corner.x())
                                                       .arg(corner.y())
                                                       .arg(inside.width())
                                                       .arg(inside.height())
                                                       .toUtf8());
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
    mnuOpenFolder = named(mnuListProcess->addAction(QStringLiteral("フォルダを開く")), QStringLiteral("mnuOpenFolder"));
    mnuOpenFolder->setEnabled(false);
    mnuHistory = named(mnuListProcess->addAction(QStringLiteral("履歴…")), QStringLiteral("mnuHistory"));
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
    connect(mnuOpenFolder, &QAction::triggered, this, &frmMatome::mnuOpenFolder_Click);
    connect(mnuHistory, &QAction::triggered, this, &frmMatome::mnuHistory_Click);
    connect(mnuFolderName, &QAction::triggered, this, &frmMatome::mnuFolderName_Click);
    for (const judgement::Rule rule : judgement::kAllRules) {
        connect(ruleAction(rule), &QAction::triggered, this, [this, rule] { ruleMenu_Click(rule); });
    }
}
void frmMatome::setTabOrder() {
    // Tab goes as the eye does: the list, the count box, then the buttons left to right;
    // the controls that are never shown come last.
    const std::array<QWidget*, 12> order{lstFolderlist, txtMojisuu, cmdEXEC,       cmdCancel,     cmdCF,   cmdDelete,
                                         txtPath,       lstHlist,   rtfMatomefile, chkFolderKeep, cmbMorC, prgbShinkou};
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
    keepPlace();
    const QString& path = platform::settingsFilePath();
    const platform::Status saved = platform::saveSettings(path, optionStates());
    if (saved.ok()) return;
    showMessageBox(this, kAppTitle, MessageIcon::Warning, platform::saveFailureMessage(platform::failureOf(saved)),
                   QDir(path).absolutePath() + QStringLiteral(": ") + platform::reasonText(saved.error));
}
void frmMatome::closeEvent(QCloseEvent* event) {
    if (m_runUnderWay && !m_closeWithoutAsking) {
        // The user closes during a run: asked, while the run goes on, whether to stop it.
        event->ignore();
        askToStopAndClose();
        return;
    }
    Form_Unload();
    // A run under way is asked to stop at its next file, so that closing ends the program soon.
    if (m_runUnderWay) m_runVariables.requestStop();
    event->accept();
}
void frmMatome::closeWithoutAsking() {
    m_closeWithoutAsking = true;
    // Nobody is there to answer a box that is open: it goes, answering no, and what waited
    // for it (実行 behind its question) does not go on.
    for (QDialog* box : findChildren<QDialog*>())
        if (box->isVisible()) box->reject();
    close();
}
// Stopped, the window closes once the file under way is finished or abandoned whole.
void frmMatome::askToStopAndClose() {
    if (m_closeQuestion) return;
    m_closeQuestion = askWithoutWaiting(this, kAppTitle, QStringLiteral("実行中です。中止してウィンドウを閉じますか?"),
                                        QStringLiteral("中止して閉じる"), QStringLiteral("続ける"), [this](bool stop) {
                                            if (!stop || !m_runUnderWay) return;
                                            m_closeWhenRunEnds = true;
                                            m_runVariables.requestStop();
                                            cmdCancel->setEnabled(false);
                                        });
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
void frmMatome::setCaptionTimes(const QString& startTime, const QString& endTime) {
    QString caption = kCaption + QStringLiteral("...始") + startTime;
    if (!endTime.isEmpty()) caption += QStringLiteral("停") + endTime;
    setWindowTitle(caption);
}
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
    lstHlist = named(new QListView(this), QStringLiteral("lstHlist"));
    m_storedModel = new StoredListModel(lstHlist);
    lstHlist->setModel(m_storedModel);
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
    lstFolderlist->header()->setSectionResizeMode(QHeaderView::Interactive);
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
    lblComplete = named(new AlertLabel(QStringLiteral("完了"), this), QStringLiteral("lblComplete"));
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

}  // namespace kurumu::window
