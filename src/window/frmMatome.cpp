#include "window/frmMatome.h"

#include "judgement/Editing.h"
#include "judgement/GroupPlan.h"
#include "judgement/ItemLine.h"
#include "platform/FileServices.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "transfer/DryRun.h"
#include "transfer/Execute.h"
#include "transfer/Journal.h"
#include "transfer/Undo.h"
#include "window/MessageBox.h"
#include "window/TextDialog.h"
#include "window/Twips.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <utility>

namespace kurumu::window {

using platform::OptionStates;

namespace {

const QString kCaption = QStringLiteral("くるむ 0.1.3.15");
const QString kAppTitle = QStringLiteral("kurumu");

// Built sizes, in twips.
constexpr int kClientWidth = 4200;
constexpr int kClientHeight = 3570;
constexpr int kOuterWidth = 4320;
constexpr int kOuterHeight = 3975;
constexpr int kListWidthMargin = 850;
constexpr int kListHeightMargin = 2100;
constexpr int kButtonTopMargin = 1200;

std::vector<transfer::Group> runsOf(const std::vector<judgement::Group>& groups) {
    std::vector<transfer::Group> runs;
    runs.reserve(groups.size());
    for (const judgement::Group& group : groups) runs.push_back({group.leaderPath, group.memberPaths});
    return runs;
}

// Each row keeps the item it shows, so that every command acts on the item and never
// reads a path back from the row's text.
constexpr int kNameRole = Qt::UserRole;
constexpr int kParentRole = Qt::UserRole + 1;
constexpr int kMarkedRole = Qt::UserRole + 2;

judgement::Line lineAt(const QListWidget* list, int row) {
    const QListWidgetItem* shown = list->item(row);
    return {{shown->data(kNameRole).toString(), shown->data(kParentRole).toString()},
            shown->data(kMarkedRole).toBool()};
}

void showLine(QListWidgetItem* row, const judgement::Line& line) {
    row->setText(line.text());
    row->setData(kNameRole, line.item.name);
    row->setData(kParentRole, line.item.parent);
    row->setData(kMarkedRole, line.marked);
}

QList<judgement::Line> linesOf(const QListWidget* list) {
    QList<judgement::Line> lines;
    lines.reserve(list->count());
    for (int row = 0; row < list->count(); ++row) lines.append(lineAt(list, row));
    return lines;
}

QList<judgement::Item> itemsOf(const QListWidget* list) {
    QList<judgement::Item> items;
    items.reserve(list->count());
    for (int row = 0; row < list->count(); ++row) items.append(lineAt(list, row).item);
    return items;
}

void setLines(QListWidget* list, const QList<judgement::Line>& lines) {
    list->clear();
    for (const judgement::Line& line : lines) {
        auto* row = new QListWidgetItem();
        showLine(row, line);
        list->addItem(row);  // the list owns its rows
    }
}

// Fills the stored list, which keeps itself sorted.
void setStoredItems(QListWidget* list, QList<judgement::Item> items) {
    judgement::sortItems(items);
    QList<judgement::Line> lines;
    lines.reserve(items.size());
    for (judgement::Item& item : items) lines.append({std::move(item), false});
    setLines(list, lines);
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

    void showWarning(const QString& title, const QString& text) override {
        showMessageBox(&m_window, title, MessageIcon::Warning, text);
    }
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
    }
    void groupReached(std::size_t group, const QString& destinationFolder) override {
        m_window.txtPath->setText(destinationFolder);
        // The members leave the list as their group is taken.
        m_window.removeMemberRows(m_groups[group]);
        m_window.lstFolderlist->show();
    }
    void groupEnded(std::size_t, qsizetype) override { m_window.lstFolderlist->hide(); }

    void setGroups(std::vector<judgement::Group> groups) { m_groups = std::move(groups); }

private:
    frmMatome& m_window;
    std::vector<judgement::Group> m_groups;
};

frmMatome::frmMatome(QWidget* parent) : QWidget(parent), m_runHost(std::make_unique<WindowRunHost>(*this)) {
    setObjectName(QStringLiteral("frmMatome"));
    setWindowIcon(QIcon(QStringLiteral(":/kurumu/kurumu-48.png")));
    setFont(japaneseFont({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")},
                         9));
    resize(sizeFromTwips(kClientWidth, kClientHeight));
    createControls();
    createMenus();
    setTabOrder();
    Form_Initialize();
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
    lstFolderlist = named(new QListWidget(this), QStringLiteral("lstFolderlist"));
    lstFolderlist->setGeometry(rectFromTwips(360, 800, 3375, 2040));
    lstFolderlist->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstFolderlist->setUniformItemSizes(true);
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
    prgbShinkou->setGeometry(rectFromTwips(0, 3315, 4200, 255));
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

    // A press on a label or the progress bar is not a press on the window's background.
    for (QWidget* control : std::initializer_list<QWidget*>{lblComplete, lblMojisuu1, lblMojisuu2, prgbShinkou})
        control->setAttribute(Qt::WA_NoMousePropagation);

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
    applyOptionStates(platform::loadSettingsFile(platform::kSettingsFileName));
}

void frmMatome::Form_Unload() {
    if (std::exchange(m_unloaded, true)) return;
    const platform::SaveFailure failure = platform::saveSettingsFile(platform::kSettingsFileName, optionStates());
    if (failure != platform::SaveFailure::None)
        showMessageBox(this, kAppTitle, MessageIcon::Warning, platform::saveFailureMessage(failure));
}

void frmMatome::closeEvent(QCloseEvent* event) {
    Form_Unload();
    // A run under way is asked to stop at its next file, so that closing ends the program soon.
    if (m_runUnderWay) m_runVariables.intCancel = transfer::kStopRequested;
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
}

void frmMatome::mousePressEvent(QMouseEvent* event) {
    Form_MouseDown(event->button(), event->globalPosition().toPoint());
    QWidget::mousePressEvent(event);
}

void frmMatome::Form_MouseDown(Qt::MouseButton button, const QPoint& globalPosition) {
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
    txtPath->setAcceptDrops(false);
    cmdCancel->setEnabled(true);
    cmdCF->setEnabled(true);
    mnuPopup->setEnabled(false);
    prgbShinkou->setMaximum(static_cast<int>(paths.size()));
    QList<judgement::Item> stored;
    stored.reserve(paths.size());
    for (const QString& path : paths) stored.append(judgement::itemForPath(path));
    setStoredItems(lstHlist, stored);
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
    QList<judgement::Item> stored = itemsOf(lstHlist);
    for (const QModelIndex& index : lstFolderlist->selectionModel()->selectedRows())
        stored.removeOne(lineAt(lstFolderlist, index.row()).item);
    setStoredItems(lstHlist, stored);
    MatomeHantei();
}

void frmMatome::MatomeHantei() {
    lblComplete->hide();
    const QList<judgement::Item> stored = itemsOf(lstHlist);
    setLines(lstFolderlist, judgement::judgeItems(stored, ruleSet()));
    setJudgementControlsEnabled(!stored.isEmpty());
}

void frmMatome::setJudgementControlsEnabled(bool enabled) {
    for (QPushButton* button : {cmdEXEC, cmdCancel, cmdCF}) button->setEnabled(enabled);
    for (QAction* action : {mnuDelete, mnuHanten, mnuReMatome, mnuPreview}) action->setEnabled(enabled);
}

void frmMatome::ruleMenu_Click(judgement::Rule rule) {
    QAction* clicked = ruleAction(rule);
    // The action has already toggled its own mark: it was on before exactly when it is off now.
    const bool wasChecked = !clicked->isChecked();
    if (wasChecked) {
        clicked->setChecked(true);
    } else {
        for (const judgement::Rule other : judgement::kAllRules) ruleAction(other)->setChecked(other == rule);
        txtMojisuu->setEnabled(rule == judgement::Rule::FixedCount);
    }
    if (m_runUnderWay) return;
    MatomeHantei();
    if (lstFolderlist->count() > 1) {
        cmdEXEC->setEnabled(true);
        cmdCancel->setEnabled(true);
    }
}

void frmMatome::txtMojisuu_Change() {
    if (m_runUnderWay) return;
    MatomeHantei();
    if (lstFolderlist->count() > 1) {
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
    lstFolderlist->hide();
    for (int row = lstFolderlist->count() - 1; row >= 1; --row) {
        QListWidgetItem* item = lstFolderlist->item(row);
        if (!item->isSelected()) continue;
        judgement::Line line = lineAt(lstFolderlist, row);
        line.marked = !line.marked;
        showLine(item, line);
    }
    lstFolderlist->show();
    lblComplete->hide();
    for (QPushButton* button : {cmdEXEC, cmdCancel, cmdCF}) button->setEnabled(true);
}

bool frmMatome::ensureGatheringFolder(const QString& path) {
    if (platform::FolderExists(path)) return true;
    platform::FileServices& files = platform::realFileServices();
    const platform::Status created = files.createFolder(path, {});
    if (created.ok()) {
        if (const auto folder = files.probe(path); folder.ok()) m_madeFolders.insert(folder.value.identity);
        return true;
    }
    showMessageBox(this, kAppTitle, MessageIcon::Warning,
                   QStringLiteral("フォルダを作成できませんでした(%1)\n%2").arg(created.code()).arg(path));
    return false;
}

void frmMatome::cmdCF_Click() {
    if (m_runUnderWay) return;
    cmdCF->setEnabled(false);
    lstFolderlist->hide();
    const judgement::GatheredLines gathered = judgement::withGatheringFolders(
        linesOf(lstFolderlist), judgement::characterCount(txtMojisuu->text()), mnuFolderName->isChecked(),
        [this](const QString& path) { return ensureGatheringFolder(path); });
    setLines(lstFolderlist, gathered.lines);
    lstFolderlist->show();
    if (!gathered.refused.isEmpty())
        showMessageBox(this, kAppTitle, MessageIcon::Warning, judgement::refusedFoldersText(gathered.refused));
}

void frmMatome::cmdEXEC_Click() {
    if (m_runUnderWay) return;
    cmdEXEC->setEnabled(false);
    runJudgedGroups();
}

void frmMatome::removeMemberRows(const judgement::Group& group) {
    if (group.memberPaths.isEmpty()) return;
    const int firstMember = static_cast<int>(group.leaderRow) + 1 - m_removedRows;
    const int memberCount = static_cast<int>(group.memberPaths.size());
    lstFolderlist->model()->removeRows(firstMember, memberCount);
    m_removedRows += memberCount;
}

void frmMatome::runJudgedGroups() {
    const QList<judgement::Line> lines = linesOf(lstFolderlist);
    if (lines.isEmpty()) return;  // nothing to run, nothing to report
    // Every run is journaled; without a journal it does not start.
    transfer::JournalHeader header;
    header.origin = QStringLiteral("window");
    for (const judgement::Line& line : lines) header.arguments.append(line.item.path());
    header.options = transfer::runOptionsOf(optionStates());
    header.items = lines.size();
    const platform::Result<std::unique_ptr<transfer::Journal>> journal =
        transfer::Journal::open(transfer::journalFolder(), header);
    if (!journal.ok()) {
        showMessageBox(this, kAppTitle, MessageIcon::Warning,
                       QStringLiteral("実行の記録を書けないため、何もしませんでした(%1)\n%2")
                           .arg(journal.status.code())
                           .arg(transfer::journalFolder()));
        if (mnuEB->isChecked()) cmdEXEC->setEnabled(true);
        return;
    }
    m_runUnderWay = true;
    std::vector<judgement::Group> groups = judgement::groupsOf(lines);
    const std::vector<transfer::Group> runs = runsOf(groups);
    m_runHost->setGroups(std::move(groups));
    m_removedRows = 0;
    txtPath->setText(platform::withTrailingSeparator(runs.front().leader));
    lstFolderlist->hide();
    const bool countRule = mnuMatomeAutoNone->isChecked();
    if (countRule) txtMojisuu->setEnabled(false);
    const auto disk = platform::diskServices();
    transfer::JournalingServices files(*disk, *journal.value);
    const bool finished = transfer::Execute(m_runVariables, *m_runHost, files, header.options, runs, m_madeFolders);
    journal.value->finish(finished ? QStringLiteral("finished") : QStringLiteral("stopped"));
    if (countRule) txtMojisuu->setEnabled(true);
    lstFolderlist->show();
    setStoredItems(lstHlist, itemsOf(lstFolderlist));
    lblComplete->show();
    txtPath->setAcceptDrops(true);
    mnuPopup->setEnabled(true);
    cmdCancel->setEnabled(false);
    cmdCF->setEnabled(false);
    m_runUnderWay = false;
}

void frmMatome::mnuPreview_Click() {
    if (m_runUnderWay) return;
    const QList<judgement::Line> lines = linesOf(lstFolderlist);
    if (lines.isEmpty()) return;
    // The run as it would go now, on the disk as it is, through services that only remember.
    QStringList told;
    transfer::RunVariables variables;
    transfer::TextHost host(
        variables, [&told](const QString& line) { told.append(line); },
        [&told](const QString& message) { told.append(message); });
    const auto disk = platform::diskServices();
    transfer::DryRunServices files(*disk);
    transfer::Execute(variables, host, files, transfer::runOptionsOf(optionStates()),
                      runsOf(judgement::groupsOf(lines)), m_madeFolders);
    if (told.isEmpty()) told.append(QStringLiteral("まとめるグループがありません"));
    auto* preview = new TextDialog(this, QStringLiteral("dlgPreview"), QStringLiteral("実行内容の確認"),
                                   told.join(u'\n'), false);  // deletes itself when closed
    preview->show();
}

void frmMatome::mnuUndo_Click() {
    if (m_runUnderWay) return;
    const QList<transfer::RunSummary> runs = transfer::runHistory(transfer::journalFolder());
    const auto last = std::find_if(runs.rbegin(), runs.rend(), [](const transfer::RunSummary& run) {
        return run.kind == QLatin1String("run") && !run.undone;
    });
    if (last == runs.rend()) {
        showMessageBox(this, kAppTitle, MessageIcon::Information, QStringLiteral("元に戻せる実行はありません。"));
        return;
    }
    const QString started =
        QDateTime::fromString(last->start, Qt::ISODateWithMs).toString(QStringLiteral("yyyy-MM-dd H:mm:ss"));
    const QString question = QStringLiteral("次の実行を元に戻しますか?\n\n開始: %1\n項目: %2 件、操作: %3 件")
                                 .arg(started)
                                 .arg(last->items)
                                 .arg(last->operations);
    if (!askQuestion(this, kAppTitle, question)) return;
    const platform::Result<transfer::UndoReport> report =
        transfer::undoRun(transfer::journalFolder(), last->id, QStringLiteral("window"));
    if (!report.ok()) {
        showMessageBox(this, kAppTitle, MessageIcon::Warning,
                       QStringLiteral("元に戻せませんでした(%1)").arg(report.status.code()));
        return;
    }
    QStringList told;
    QStringList left;
    for (const transfer::UndoLine& line : report.value.lines) {
        told.append(line.text());
        if (!line.restored) left.append(line.text());
    }
    told.append((report.value.everything ? QStringLiteral("元に戻した: ") : QStringLiteral("一部を戻せなかった: ")) +
                last->id);
    rtfMatomefile->setPlainText(told.join(QStringLiteral("\r\n")));
    if (report.value.everything) {
        showMessageBox(this, kAppTitle, MessageIcon::Information, QStringLiteral("元に戻しました。"));
    } else {
        showMessageBox(this, kAppTitle, MessageIcon::Warning,
                       QStringLiteral("次のものは変更されていたため、そのままにしました:\n") + left.join(u'\n'));
    }
}

void frmMatome::cmdCancel_Click() {
    m_runVariables.intCancel = transfer::kStopRequested;
    m_runVariables.strLog += QStringLiteral("\r\n");
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
