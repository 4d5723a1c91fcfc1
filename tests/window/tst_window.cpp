#include "platform/Handoff.h"
#include "support/Faults.h"
#include "support/TestFiles.h"
#include "window/MessageBox.h"
#include "window/frmMatome.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>

#include <array>
#include <memory>
#include <optional>
#include <utility>

using namespace kurumu;
using window::frmMatome;

namespace {

QByteArray sjis(const QString& text) {
    return QStringEncoder("Shift_JIS").encode(text);
}

QByteArray sjisLines(const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines) bytes += sjis(line) + "\r\n";
    return bytes;
}

// One window in a working directory of its own, with its message boxes recorded.
struct Scene {
    QTemporaryDir dir;
    QString root = dir.path() + '/';
    QString previousDirectory = QDir::currentPath();
    QList<window::MessageRecord> messages;
    QStringList questions;
    bool answer = false;  // to every question
    std::unique_ptr<frmMatome> window;

    explicit Scene(const QByteArray& settings = {}) {
        QDir::setCurrent(dir.path());
        if (!settings.isEmpty()) test::writeFile(root + "kurumu.ini", settings);
        window::setMessageBoxHook([this](const window::MessageRecord& record) { messages.append(record); });
        window::setQuestionHook([this](const window::MessageRecord& record) {
            questions.append(record.text);
            return answer;
        });
        window = std::make_unique<frmMatome>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    ~Scene() {
        window.reset();
        window::setMessageBoxHook({});
        window::setQuestionHook({});
        QDir::setCurrent(previousDirectory);
    }

    template <typename T = QWidget>
    T* control(const char* name) const {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) qFatal("no control %s", name);
        return found;
    }
    QAction* action(const char* name) const { return control<QAction>(name); }
    QTreeView* list() const { return control<QTreeView>("lstFolderlist"); }
    // The rows of the list in order: each group's leader, then its members.
    QList<QModelIndex> rows() const {
        QList<QModelIndex> all;
        const QAbstractItemModel* model = list()->model();
        for (int leader = 0; leader < model->rowCount(); ++leader) {
            const QModelIndex group = model->index(leader, 0);
            all.append(group);
            for (int member = 0; member < model->rowCount(group); ++member) all.append(model->index(member, 0, group));
        }
        return all;
    }
    // The judged lines the rows show.
    QStringList shown() const {
        QStringList lines;
        for (const QModelIndex& row : rows()) lines.append(row.data(Qt::UserRole).toString());
        return lines;
    }
    int currentRow() const { return static_cast<int>(rows().indexOf(list()->currentIndex())); }
    void setCurrentRow(int row) const { list()->setCurrentIndex(rows().value(row)); }
    QStringList stored() const {
        QStringList lines;
        const QAbstractItemModel* model = control<QListView>("lstHlist")->model();
        for (int row = 0; row < model->rowCount(); ++row) lines.append(model->index(row, 0).data().toString());
        return lines;
    }

    QString make(const QString& relative, const QByteArray& data = "data") {
        return test::makeFileWithFolders(root + relative, data);
    }
    QString folder(const QString& relative) {
        test::makeFolder(root + relative);
        return root + relative;
    }

    // A real drop of local file URLs onto the item list.
    bool drop(const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths) urls.append(QUrl::fromLocalFile(path));
        data.setUrls(urls);
        QWidget* viewport = list()->viewport();
        const QPoint at = viewport->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &dropped);
        return dropped.isAccepted();
    }
    void select(const QList<int>& rows) {
        list()->clearSelection();
        const QList<QModelIndex> all = this->rows();
        for (const int row : rows)
            list()->selectionModel()->select(all[row], QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void click(const char* button) { QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton); }
    // The fixed-count rule ("使用しない"), with the count given.
    void judgeByCount(int count) {
        action("mnuMatomeAutoNone")->trigger();
        control<QLineEdit>("txtMojisuu")->setText(QString::number(count));
    }
    // One group to copy: a folder and a 64 MiB file, copied slowly (eight chunks of 60 ms)
    // so that there is half a second in which to act during its copy.
    void prepareSlowCopy() {
        judgeByCount(1);
        drop({folder("g"), make("g1.bin", QByteArray(64 * 1024 * 1024, 'c'))});
        control<QComboBox>("cmbMorC")->setCurrentText("コピー");
        slowDisk.emplace();
        slowDisk->copyFileRange = [](int, int) -> std::optional<int> {
            QThread::msleep(60);
            return std::nullopt;
        };
    }
    std::optional<test::InjectedFaults> slowDisk;
    QStringList texts() const {
        QStringList all;
        for (const auto& message : messages) all.append(message.text);
        return all;
    }
};

}  // namespace

class TestWindow : public QObject {
    Q_OBJECT

    QTemporaryDir m_state;  // the journals of the runs these tests make

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path())); }

    void startUpWithoutSettings() {
        Scene s;
        QCOMPARE(s.window->windowTitle(), "くるむ 0.1.3.15");
        QVERIFY(test::exists(s.root + "kurumu.ini"));
        QVERIFY(s.action("mnuMatomeAuto1")->isChecked());
        QVERIFY(!s.action("mnuMatomeAuto2")->isChecked());
        QVERIFY(!s.action("mnuMatomeAuto4")->isChecked());
        QVERIFY(s.action("mnuEB")->isChecked());
        QVERIFY(s.control("cmdEXEC")->isVisible());
        QVERIFY(!s.control("cmdEXEC")->isEnabled());
        QVERIFY(s.control("txtMojisuu")->isEnabled());
        QCOMPARE(s.control<QLineEdit>("txtMojisuu")->text(), "30");
        QCOMPARE(s.control<QComboBox>("cmbMorC")->currentText(), "移動");
        for (const char* hidden : {"cmdDelete", "lstHlist", "cmbMorC", "chkFolderKeep", "rtfMatomefile", "txtPath",
                                   "prgbShinkou", "lblComplete"})
            QVERIFY2(!s.control(hidden)->isVisible(), hidden);
        for (const char* item : {"mnuDelete", "mnuHanten", "mnuReMatome"}) QVERIFY(!s.action(item)->isEnabled());
        s.window->close();
        QVERIFY(test::readFile(s.root + "kurumu.ini")
                    .contains(sjis("最初の括弧基準で自動まとめ=ON\r\n最後の括弧基準で自動まとめ=OFF")));
        QVERIFY(s.messages.isEmpty());
    }

    void settingsWithoutExecuteButton() {
        QStringList lines(13, "x=OFF");
        lines[5] = "実行ボタン=使わない";
        lines[4] = "動作モード=copy";
        Scene s(sjisLines(lines));
        QVERIFY(s.control("cmdEXEC")->isHidden());
        QCOMPARE(s.control<QComboBox>("cmbMorC")->currentText(), "コピー");
        QVERIFY(!s.control("txtMojisuu")->isEnabled());
    }

    // The rule works on the outer size; offscreen windows have a frame of their own.
    // A first start opens large enough for both columns; below the built size the window
    // never goes.
    void layout() {
        QFile::remove(m_state.path() + "/kurumu/window");  // no place kept: a first start
        Scene s;
        QSize frame = s.window->frameGeometry().size() - s.window->size();
        if (frame.isEmpty()) frame = QSize(8, 27);
        const auto outer = [&] { return s.window->size() + frame; };
        QVERIFY(outer().width() >= 600 && outer().height() >= 400);
        const QHeaderView* header = s.list()->header();
        QVERIFY(header->sectionViewportPosition(1) + 40 < s.list()->viewport()->width());

        s.window->resize(100, 100);
        QTRY_COMPARE(outer(), QSize(4320 / 15, 3975 / 15));
        QCOMPARE(s.list()->size(), QSize(3470 / 15, 1875 / 15));
        QCOMPARE(s.control("cmdEXEC")->y(), 2775 / 15);
        const QRect progress = s.control("prgbShinkou")->geometry();

        s.window->resize(400, 338);
        QTRY_COMPARE(s.window->size(), QSize(400, 338));
        const QSize grown = outer() * 15;
        QCOMPARE(s.list()->size(), QSize((grown.width() - 850) / 15, (grown.height() - 2100) / 15));
        for (const char* button : {"cmdEXEC", "cmdCancel", "cmdCF", "cmdDelete"})
            QCOMPARE(s.control(button)->y(), (grown.height() - 1200) / 15);
        QCOMPARE(s.control("cmdCF")->x(), 1680 / 15);
        // The progress bar runs along the bottom edge, across the width.
        QCOMPARE(s.control("prgbShinkou")->geometry(), QRect(0, 338 - progress.height(), 400, progress.height()));
        QCOMPARE(s.control("txtMojisuu")->geometry(), QRect(600 / 15, 360 / 15, 735 / 15, 270 / 15));

        s.window->showMinimized();
        const QSize listSize = s.list()->size();
        s.window->resize(300, 300);
        QCOMPARE(s.list()->size(), listSize);
    }

    // The window opens as large as it was left, and where, but always on a screen.
    void placeIsRemembered() {
        {
            Scene s;
            s.window->resize(650, 450);
            s.window->close();
        }
        QVERIFY(test::readFile(m_state.path() + "/kurumu/window").endsWith(" 650 450\n"));
        {
            Scene s;
            QCOMPARE(s.window->size(), QSize(650, 450));
        }
        test::writeFile(m_state.path() + "/kurumu/window", "9000 -9000 650 450\n");
        {
            Scene s;
            QVERIFY(
                QGuiApplication::primaryScreen()->availableGeometry().contains(s.window->frameGeometry().topLeft()));
        }
        // A place that cannot be kept leaves nothing half written behind.
        QFile::remove(m_state.path() + "/kurumu/window");
        QVERIFY(QDir().mkpath(m_state.path() + "/kurumu/window/in-the-way"));
        Scene s;
        s.window->close();
        QVERIFY(!test::exists(m_state.path() + "/kurumu/.window.new"));
        QVERIFY(QDir(m_state.path() + "/kurumu/window").removeRecursively());
    }

    void popups() {
        Scene s;
        auto* options = s.control<QMenu>("mnuPopup");
        auto* listMenu = s.control<QMenu>("mnuListProcess");
        QTest::mouseClick(s.window.get(), Qt::LeftButton, {}, QPoint(5, 150));
        QVERIFY(!options->isVisible());
        QTest::mouseClick(s.control("lblMojisuu1"), Qt::RightButton);
        QVERIFY(!options->isVisible());
        QTest::mouseClick(s.window.get(), Qt::RightButton, {}, QPoint(5, 150));
        QTRY_VERIFY(options->isVisible());
        QStringList visible;
        for (QAction* action : options->actions()) {
            if (action->isVisible()) visible.append(action->objectName());
        }
        QCOMPARE(visible, (QStringList{"mnuFolderName", "mnuMatomeAuto"}));
        for (const char* hidden : {"mnuEB", "mnuNumPosition", "mnuCRC32", "mnuGenmitsu", "mnuErrMushi"})
            QVERIFY(!s.action(hidden)->isEnabled());
        options->hide();

        QTest::mouseClick(s.list()->viewport(), Qt::LeftButton);
        QVERIFY(!listMenu->isVisible());
        QTest::mouseClick(s.list()->viewport(), Qt::RightButton);
        QTRY_VERIFY(listMenu->isVisible());
        QStringList items;
        for (QAction* action : listMenu->actions()) {
            if (!action->isSeparator()) items.append(action->objectName());
        }
        QCOMPARE(items, (QStringList{"mnuDelete", "mnuHanten", "mnuReMatome", "mnuPreview", "mnuUndo", "mnuShowLog",
                                     "mnuOpenFolder", "mnuHistory", "mnuAddFiles", "mnuAddFolder"}));
        for (const char* item : {"mnuDelete", "mnuHanten", "mnuReMatome", "mnuPreview", "mnuOpenFolder"})
            QVERIFY(!s.action(item)->isEnabled());
        listMenu->hide();
    }

    // Every name reads as it is spelled: an underscore shows (the row does not cut it off),
    // and a character that would change how a name shows is written out; the name and its
    // folder stand in columns of their own, the whole path in the row's tip, and the groups
    // are levels of a tree.
    void namesReadAsSpelled() {
        Scene s;
        s.judgeByCount(1);
        s.drop({s.make("a b.txt"), s.make("a_b.txt"), s.make(QString("x\u202Ey.txt"))});
        const QList<QModelIndex> rows = s.rows();
        QCOMPARE(rows.size(), 3);
        const auto picture = [&](int row) {
            return s.list()->viewport()->grab(s.list()->visualRect(rows[row])).toImage();
        };
        QVERIFY(picture(0) != picture(1));
        QCOMPARE(rows[2].data().toString(), "x\\u202Ey.txt");
        QCOMPARE(rows[2].siblingAtColumn(1).data().toString(), s.root);
        QCOMPARE(rows[1].data(Qt::ToolTipRole).toString(), s.root + "a_b.txt");
        QCOMPARE(rows[1].parent(), rows[0]);  // a member, one level below its leader
        QVERIFY(!rows[0].parent().isValid());
        QVERIFY(s.list()->isExpanded(rows[0]) && !s.list()->visualRect(rows[1]).isEmpty());
        // Each column as wide as its widest text: nothing cut.
        for (const QModelIndex& row : rows) {
            const int indent = row.parent().isValid() ? s.list()->indentation() : 0;
            QVERIFY(s.list()->header()->sectionSize(0) >= indent + s.list()->sizeHintForIndex(row).width());
            QVERIFY(s.list()->header()->sectionSize(1) >= s.list()->sizeHintForIndex(row.siblingAtColumn(1)).width());
        }
    }

    void folderNameToggle() {
        Scene s;
        s.drop({s.make("b"), s.make("a")});
        const QStringList judged = s.shown();
        s.action("mnuFolderName")->trigger();
        QVERIFY(s.action("mnuFolderName")->isChecked());
        QCOMPARE(s.shown(), judged);  // the next folder creation reads it: nothing is judged again
        s.action("mnuFolderName")->trigger();
        QVERIFY(!s.action("mnuFolderName")->isChecked());
    }

    void dropSortsAndJudges() {
        Scene s;
        const QString in = s.folder("in") + '/';
        const QStringList paths{s.make("in/b.txt"), s.make("in/a.txt"), s.make("in/c.txt")};
        s.control<QLineEdit>("txtPath")->setText("/somewhere/else/");
        QVERIFY(s.drop(paths));
        const QStringList expected{"a.txt/" + in, "b.txt/" + in, "c.txt/" + in};
        QCOMPARE(s.stored(), expected);
        QCOMPARE(s.shown(), expected);  // the first-bracket rule: nothing joins
        QCOMPARE(s.control<QLineEdit>("txtPath")->text(), "/");
        QVERIFY(s.control("cmdEXEC")->isEnabled());
        QVERIFY(!s.control("cmdCancel")->isEnabled());  // nothing runs yet
        for (const char* item : {"mnuDelete", "mnuHanten", "mnuReMatome"}) QVERIFY(s.action(item)->isEnabled());
        QVERIFY(s.drop(paths));
        QCOMPARE(s.stored(), expected);
    }

    // After a drop and before 実行 the options stay open: Shift+F10 outside the list opens
    // them, and a rule chosen there judges again. Once the list holds corrections, the
    // rule asks first; answered no, nothing changes.
    void rulesOpenBeforeTheRun() {
        Scene s;
        s.drop({s.make("Part 1 of 2"), s.make("Part 2 of 2")});
        QCOMPARE(s.shown(), (QStringList{"Part 1 of 2/" + s.root, "Part 2 of 2/" + s.root}));
        s.control("txtMojisuu")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
        auto* options = s.control<QMenu>("mnuPopup");
        QTRY_VERIFY(options->isVisible());
        options->hide();
        s.action("mnuMatomeAuto4")->trigger();
        QCOMPARE(s.shown(), (QStringList{"Part 1 of 2/" + s.root, "└Part 2 of 2/" + s.root}));
        QVERIFY(s.questions.isEmpty());
        // A screen reader, which meets each row alone, hears where it stands.
        QCOMPARE(s.rows()[0].data(Qt::AccessibleDescriptionRole).toString(), "グループの先頭、ほか 1 件");
        QCOMPARE(s.rows()[1].data(Qt::AccessibleDescriptionRole).toString(), "グループ「Part 1 of 2」の 1 件目");

        s.select({1});
        s.action("mnuHanten")->trigger();
        s.answer = false;
        s.action("mnuMatomeAuto1")->trigger();
        QCOMPARE(s.questions.size(), 1);
        QVERIFY(s.action("mnuMatomeAuto4")->isChecked() && !s.action("mnuMatomeAuto1")->isChecked());
        QCOMPARE(s.shown(), (QStringList{"Part 1 of 2/" + s.root, "Part 2 of 2/" + s.root}));
        s.answer = true;
        s.action("mnuMatomeAuto4")->trigger();  // on already: judged again, the inversion dropped
        QCOMPARE(s.questions.size(), 2);
        QCOMPARE(s.shown(), (QStringList{"Part 1 of 2/" + s.root, "└Part 2 of 2/" + s.root}));
    }

    void rulesAndCount() {
        Scene s;
        s.drop({s.make("abcX.txt"), s.make("abcY.txt"), s.make("abd.txt")});
        s.action("mnuMatomeAutoNone")->trigger();
        QVERIFY(s.action("mnuMatomeAutoNone")->isChecked());
        QVERIFY(!s.action("mnuMatomeAuto1")->isChecked());
        QVERIFY(s.control("txtMojisuu")->isEnabled());
        s.control<QLineEdit>("txtMojisuu")->setText("3");
        QCOMPARE(s.shown(), (QStringList{"abcX.txt/" + s.root, "└abcY.txt/" + s.root, "abd.txt/" + s.root}));
        s.control<QLineEdit>("txtMojisuu")->setText("");
        QCOMPARE(s.shown()[2], "└abd.txt/" + s.root);
        s.action("mnuMatomeAutoNone")->trigger();  // already on: stays on
        QVERIFY(s.action("mnuMatomeAutoNone")->isChecked());
        s.action("mnuMatomeAuto3")->trigger();
        QVERIFY(!s.control("txtMojisuu")->isEnabled());
        QVERIFY(!s.action("mnuMatomeAutoNone")->isChecked());
    }

    void deleteSelectedLines() {
        Scene s;
        QStringList paths;
        for (const char* name : {"a", "b", "c", "d", "e"}) paths.append(s.make(name));
        s.drop(paths);
        s.select({1, 3});
        s.action("mnuDelete")->trigger();
        QCOMPARE(s.stored(), (QStringList{"a/" + s.root, "c/" + s.root, "e/" + s.root}));
        QCOMPARE(s.shown(), s.stored());
        QCOMPARE(s.currentRow(), 1);  // the line after those deleted
        s.select({2});
        s.action("mnuDelete")->trigger();
        QCOMPARE(s.currentRow(), 1);  // or the last
        s.select({0, 1});
        s.action("mnuDelete")->trigger();
        QVERIFY(s.shown().isEmpty());
        // Items chosen in the file dialog join the list, judged again; nothing runs.
        window::setChooseHook([&](bool folder) { return QStringList{folder ? s.folder("d2") : s.make("d1")}; });
        s.action("mnuAddFiles")->trigger();
        s.action("mnuAddFolder")->trigger();
        window::setChooseHook({});
        QCOMPARE(s.shown(), (QStringList{"d1/" + s.root, "d2/" + s.root}));
        QVERIFY(test::exists(s.root + "d1"));
        s.select({0, 1});
        s.action("mnuDelete")->trigger();
        QVERIFY(!s.control("cmdEXEC")->isEnabled());
        QVERIFY(!s.action("mnuDelete")->isEnabled());
    }

    // After folder creation the rows no longer match the stored list: the items of the
    // selected lines are deleted, wherever they stand; an inserted folder line has none.
    void deleteAfterFolderCreationRemovesTheSelectedItems() {
        Scene s;
        s.drop({s.make("a.txt"), s.make("b.txt"), s.make("c.txt")});
        s.click("cmdCF");
        QCOMPARE(s.shown().size(), 6);
        s.select({2, 3});  // the folder line "b" and the item b.txt
        s.action("mnuDelete")->trigger();
        QCOMPARE(s.stored(), (QStringList{"a.txt/" + s.root, "c.txt/" + s.root}));
    }

    void invert() {
        Scene s;
        s.drop({s.make("a (1)"), s.make("a (2)"), s.make("b")});
        QCOMPARE(s.shown()[1], "└a (2)/" + s.root);
        s.select({0, 1, 2});
        s.action("mnuHanten")->trigger();
        QCOMPARE(s.shown(), (QStringList{"a (1)/" + s.root, "a (2)/" + s.root, "└b/" + s.root}));
        s.action("mnuHanten")->trigger();
        QCOMPARE(s.shown(), (QStringList{"a (1)/" + s.root, "└a (2)/" + s.root, "b/" + s.root}));
        QVERIFY(s.control("cmdCF")->isEnabled());
    }

    void createFolders() {
        Scene s;
        s.drop({s.make("report (1).txt"), s.folder("photos"), s.make("x.txt")});
        s.make("x", "a file where the folder would go");
        s.click("cmdCF");
        QCOMPARE(s.shown(), (QStringList{"photos/" + s.root, "└photos/" + s.root, "report (1)/" + s.root,
                                         "└report (1).txt/" + s.root, "x.txt/" + s.root}));
        QVERIFY(QFileInfo(s.root + "report (1)").isDir());
        QCOMPARE(s.messages.size(), 1);
        QCOMPARE(s.messages[0].title, "kurumu");
        QCOMPARE(s.messages[0].icon, window::MessageIcon::Warning);
        QVERIFY(s.messages[0].text.contains(s.root + "x"));
        QVERIFY(!s.control("cmdCF")->isEnabled());
    }

    // A second C.F. is its own: an undo takes back only its folders, not the first one's.
    void secondFolderMakingIsTakenBackAlone() {
        Scene s;
        s.judgeByCount(1);
        s.drop({s.make("b1.txt"), s.make("b2.txt"), s.make("c1.txt"), s.make("c2.txt")});
        s.click("cmdCF");
        QVERIFY(test::exists(s.root + "b1") && test::exists(s.root + "c1"));
        s.select({1});
        s.action("mnuHanten")->trigger();
        s.action("mnuHanten")->trigger();
        s.click("cmdCF");
        QVERIFY(test::exists(s.root + "b") && test::exists(s.root + "c"));
        s.answer = true;
        s.action("mnuUndo")->trigger();
        QVERIFY(!test::exists(s.root + "b") && !test::exists(s.root + "c"));
        QVERIFY(QFileInfo(s.root + "b1").isDir() && QFileInfo(s.root + "c1").isDir());
    }

    // A leader whose folder name would be "" or "..": the group stays as it was, and one
    // warning titled "kurumu" names it.
    void createFoldersRefusesDotNames() {
        Scene s;
        s.drop({s.folder(".config"), s.folder("...a"), s.make("x.txt")});
        s.click("cmdCF");
        QCOMPARE(s.shown(), (QStringList{"...a/" + s.root, ".config/" + s.root, "x/" + s.root, "└x.txt/" + s.root}));
        QCOMPARE(s.messages.size(), 1);
        QCOMPARE(s.messages[0].title, "kurumu");
        QVERIFY(s.messages[0].text.contains(s.root + ".config"));
        QVERIFY(s.messages[0].text.contains(s.root + "...a"));
    }

    // A name beginning with "└" is an item like any other: inverting it marks it, Execute
    // moves it as itself, and its namesake without the mark stays where it is.
    void nameBeginningWithTheMark() {
        Scene s;
        s.judgeByCount(0);
        s.drop({s.folder("notes"), s.make("└notes.txt", "marked")});
        s.make("notes.txt", "plain");
        QCOMPARE(s.shown(), (QStringList{"notes/" + s.root, "└└notes.txt/" + s.root}));
        s.click("cmdEXEC");
        QCOMPARE(test::readFile(s.root + "notes/└notes.txt"), QByteArray("marked"));
        QCOMPARE(test::readFile(s.root + "notes.txt"), QByteArray("plain"));
    }

    void createFoldersByCount() {
        Scene s;
        s.drop({s.make("abcdef.txt")});
        s.judgeByCount(4);
        s.action("mnuFolderName")->trigger();
        s.click("cmdCF");
        QCOMPARE(s.shown().first(), "abcd/" + s.root);
        QVERIFY(QFileInfo(s.root + "abcd").isDir());
    }

    void executeGathersGroups() {
        Scene s;
        s.judgeByCount(2);
        const QString g1 = s.folder("gaa");
        s.make("gab.txt", "1");
        s.make("gac.txt", "2");
        const QString lone = s.folder("hxx");
        const QString g3 = s.folder("kaa");
        s.make("kab.txt", "3");
        s.drop({g1, s.root + "gab.txt", s.root + "gac.txt", lone, g3, s.root + "kab.txt"});
        QCOMPARE(s.shown().size(), 6);
        s.click("cmdEXEC");

        QCOMPARE(test::readFile(g1 + "/gab.txt"), QByteArray("1"));
        QCOMPARE(test::readFile(g1 + "/gac.txt"), QByteArray("2"));
        QCOMPARE(test::readFile(g3 + "/kab.txt"), QByteArray("3"));
        QCOMPARE(s.shown(), (QStringList{"gaa/" + s.root, "hxx/" + s.root, "kaa/" + s.root}));
        QCOMPARE(s.stored(), s.shown());
        QVERIFY(s.control("lblComplete")->isVisible());
        QVERIFY(!s.control("prgbShinkou")->isVisible());
        QCOMPARE(s.control<QProgressBar>("prgbShinkou")->maximum(), 2 * 1000);  // two items, a thousand steps each
        QCOMPARE(s.control<QPlainTextEdit>("rtfMatomefile")->toPlainText(),
                 "処理開始\n" + g3 + "…移動元と移動先が同じ\n" + s.root + "kab.txt…Move\n処理終了");
        QVERIFY(QRegularExpression("^くるむ 0\\.1\\.3\\.15\\.\\.\\.始\\d{1,2}:\\d\\d:\\d\\d停\\d{1,2}:\\d\\d:\\d\\d$")
                    .match(s.window->windowTitle())
                    .hasMatch());
        QVERIFY(s.control<QMenu>("mnuPopup")->isEnabled());
        QVERIFY(!s.control("cmdCancel")->isEnabled());
        QVERIFY(s.messages.isEmpty());
    }

    // The label after a run says what was done: a copy the same bytes made needless is
    // named as such, never as a deletion.
    void countsSayWhatWasDone() {
        Scene s;
        s.judgeByCount(1);
        const QString into = s.folder("g");
        s.make("g/g1.txt", "same");
        s.make("g/g2.txt", "other");
        s.drop({into, s.make("g1.txt", "same"), s.make("g2.txt", "new")});
        s.control<QComboBox>("cmbMorC")->setCurrentText("コピー");
        s.click("cmdEXEC");
        QCOMPARE(s.control("lblComplete")->accessibleName(),
                 "完了。コピー 1、同じファイルがあるためコピー不要 1、番号付き 1、失敗 0");
        // Shown as an alert, which a screen reader speaks; the focus stays in the list.
        QCOMPARE(QAccessible::queryAccessibleInterface(s.control("lblComplete"))->role(), QAccessible::AlertMessage);
        QCOMPARE(QApplication::focusWidget(), s.list());
    }

    void executeWithLoneLeaders() {
        Scene s;
        s.drop({s.folder("a"), s.folder("b"), s.folder("c")});
        s.click("cmdEXEC");
        QCOMPARE(s.control<QLineEdit>("txtPath")->text(), s.root + "b/");
        QCOMPARE(s.stored(), s.shown());
        QVERIFY(s.control("lblComplete")->isVisible());
    }

    // A group led by a file: 実行 first offers a folder for it. Answered no, the group's
    // run stops at once, named and explained, the next group still runs, and the window
    // can go on; answered yes, the folder is made (only for such groups) and all runs.
    void fileLeaderStopsTheRun() {
        for (const bool yes : {false, true}) {
            Scene s;
            s.answer = yes;
            s.judgeByCount(1);
            s.drop({s.make("n (1).txt"), s.make("n (2).txt"), s.folder("p"), s.make("p1.txt"), s.make("x.txt")});
            s.click("cmdEXEC");
            QCOMPARE(s.questions.size(), 1);
            QVERIFY(s.questions[0].contains("(1 個)"));
            QVERIFY(test::exists(s.root + "p/p1.txt"));
            QVERIFY(!test::exists(s.root + "x"));
            QVERIFY(s.control<QLineEdit>("txtMojisuu")->isEnabled());
            if (yes) {
                QCOMPARE(test::readFile(s.root + "n (1)/n (2).txt"), QByteArray("data"));
                QVERIFY(s.messages.isEmpty());
                continue;
            }
            QCOMPARE(s.texts(), QStringList{"指定されたパスが見つからない。"});
            QCOMPARE(s.messages[0].title, "くるみ");
            QCOMPARE(s.messages[0].detail,
                     s.root + "n (1).txt: 途中の名前がフォルダではありません(書き込み先: " + s.root + "n (1).txt/)");
            QVERIFY(s.control<QPlainTextEdit>("rtfMatomefile")->toPlainText().endsWith("処理終了"));
            QVERIFY(test::exists(s.root + "n (2).txt"));
            QCOMPARE(s.window->runVariables().intCancel, 0);
            QVERIFY(s.control("cmdEXEC")->isEnabled());
            QVERIFY(s.control("cmdCF")->isEnabled());
        }
    }

    // Stop pressed during item 2 of 5: items 3 to 5 stay, no source folder is removed,
    // and the groups not yet begun keep their lines.
    void stopDuringARun() {
        Scene s;
        s.judgeByCount(1);
        const QString leader = s.folder("a");
        QStringList paths{leader};
        for (const char* name : {"a1", "a2", "a3", "a4"}) paths.append(s.make(QString::fromLatin1(name)));
        const QString later = s.folder("z");
        paths << later << s.make("z1");
        s.drop(paths);
        int calls = 0;
        s.window->setProcessEventsHook([&] {
            if (++calls == 2) s.click("cmdCancel");  // item 1 is the leader folder, item 2 the first file
        });
        s.click("cmdEXEC");
        for (const char* name : {"a2", "a3", "a4", "z1"}) QVERIFY2(test::exists(s.root + name), name);
        QVERIFY(QFileInfo(leader).isDir());
        const QString result = s.control<QPlainTextEdit>("rtfMatomefile")->toPlainText();
        QVERIFY(result.endsWith("\n処理中止"));
        QCOMPARE(s.window->runVariables().intCancel, 0);
        // The lines of the items that were not transferred stay, with their groups.
        QCOMPARE(s.shown(), (QStringList{"a/" + s.root, "└a1/" + s.root, "└a2/" + s.root, "└a3/" + s.root,
                                         "└a4/" + s.root, "z/" + s.root, "└z1/" + s.root}));
        QCOMPARE(s.stored(), (QStringList{"a/" + s.root, "a1/" + s.root, "a2/" + s.root, "a3/" + s.root, "a4/" + s.root,
                                          "z/" + s.root, "z1/" + s.root}));
        QCOMPARE(s.control<QLabel>("lblComplete")->text(), "中止");
        QVERIFY(!s.window->runUnderWay());
    }

    // 中止 is on only while a run is under way: a run that waits for 実行 waits, and the
    // buttons of the list stay as they were.
    void stopOnlyDuringARun() {
        Scene s;
        s.judgeByCount(1);
        s.drop({s.folder("a"), s.make("a1"), s.make("a2")});
        s.select({2});
        for (const char* edit : {"", "mnuHanten", "mnuReMatome"}) {
            if (*edit != 0) s.action(edit)->trigger();
            QVERIFY2(!s.control("cmdCancel")->isEnabled(), edit);
        }
        s.control<QLineEdit>("txtMojisuu")->setText("2");
        s.control<QLineEdit>("txtMojisuu")->setText("1");
        QVERIFY(!s.control("cmdCancel")->isEnabled());
        s.control("cmdCancel")->setEnabled(true);  // pressed anyway
        s.click("cmdCancel");
        QVERIFY(s.control("cmdEXEC")->isEnabled() && s.control("cmdCF")->isEnabled());
        QCOMPARE(s.window->runVariables().intCancel, 0);
        s.click("cmdEXEC");
        QVERIFY(test::exists(s.root + "a/a1") && test::exists(s.root + "a/a2"));
    }

    void dropsAreRefusedDuringARun() {
        Scene s;
        s.judgeByCount(1);
        s.drop({s.folder("a"), s.make("a1"), s.make("a2")});
        bool refused = false;
        s.window->setProcessEventsHook([&] {
            refused = !s.drop({s.make("other")});
            QTest::mouseClick(s.control<QPushButton>("cmdEXEC"), Qt::LeftButton);
        });
        s.click("cmdEXEC");
        QVERIFY(refused);
        QVERIFY(test::exists(s.root + "a/a1"));
        QVERIFY(test::exists(s.root + "a/a2"));
        QCOMPARE(s.stored(), QStringList{"a/" + s.root});
    }

    // A later start from the same folder hands its paths (made absolute by it) to this window
    // and exits 0; during a run it is refused, says why, and exits 1; a start from a folder
    // with settings of its own opens its own window.
    void laterStartsAreHandedOver() {
        QTemporaryDir runtime;
        QVERIFY(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        const auto socketFor = [&](const QString& folder) {
            return platform::handoffSocketName(folder + "/kurumu.ini", platform::displayName());
        };
        Scene s;
        auto receiver = platform::HandoffReceiver::become(runtime.path(), socketFor(s.dir.path()));
        QVERIFY(receiver.ok());
        s.window->receiveHandoffs(*receiver.value);
        // The window answers from its own events while the start waits.
        const auto start = [](const QString& folder, const QStringList& arguments) {
            QProcess process;
            process.setWorkingDirectory(folder);
            process.start(qEnvironmentVariable("KURUMU_BINARY"), arguments);
            while (process.state() != QProcess::NotRunning && !process.waitForFinished(10))
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            return std::pair(process.exitCode(), QString::fromUtf8(process.readAllStandardError()));
        };
        s.judgeByCount(1);
        s.folder("g");
        s.make("g1");
        QCOMPARE(start(s.root, {"g", "g1"}).first, 0);
        QTRY_COMPARE(s.stored(), (QStringList{"g/" + s.root, "g1/" + s.root}));
        QCOMPARE(QApplication::topLevelWidgets().count(s.window.get()), 1);
        // Until a drop handed over is taken, no other start's is: it would replace it.
        s.window->takeHandedOver({s.root + "g1"});
        QVERIFY(s.window->handoffRefusal({s.root + "g"}));
        QTRY_VERIFY(!s.window->handoffRefusal({s.root + "g"}));

        s.prepareSlowCopy();
        std::optional<std::pair<int, QString>> duringTheRun;
        s.window->setProcessEventsHook([&] {
            if (!duringTheRun) duringTheRun = start(s.root, {s.make("other")});
        });
        s.click("cmdEXEC");
        QVERIFY(duringTheRun);
        QCOMPARE(duringTheRun->first, 1);
        QVERIFY2(duringTheRun->second.contains("実行中のため"), qPrintable(duringTheRun->second));
        QVERIFY(!s.stored().join(' ').contains("other"));

        // Two starts at once from a folder of other settings: one opens its window, the other
        // hands its path to it.
        QTemporaryDir elsewhere;
        test::writeFile(elsewhere.path() + "/x1", "x");
        std::array<QProcess, 2> starts;
        for (QProcess& other : starts) {
            other.setWorkingDirectory(elsewhere.path());
            other.start(qEnvironmentVariable("KURUMU_BINARY"), {"x1"});
        }
        QTRY_VERIFY_WITH_TIMEOUT(starts[0].state() == QProcess::NotRunning || starts[1].state() == QProcess::NotRunning,
                                 10000);
        QProcess& handedOver = starts[0].state() == QProcess::NotRunning ? starts[0] : starts[1];
        QProcess& own = &handedOver == &starts[0] ? starts[1] : starts[0];
        QCOMPARE(handedOver.exitCode(), 0);
        QCOMPARE(own.state(), QProcess::Running);
        QVERIFY(test::exists(runtime.path() + '/' + socketFor(elsewhere.path()) + ".socket"));
        own.terminate();
        QVERIFY(own.waitForFinished(10000));
        qunsetenv("XDG_RUNTIME_DIR");
    }

    void dropRunsAtOnceWithoutExecuteButton() {
        QStringList lines(13, "x=OFF");
        lines[5] = "実行ボタン=使わない";
        lines[8] = "自動まとめ判定しない=ON";
        Scene s(sjisLines(lines));
        s.control<QLineEdit>("txtMojisuu")->setText("2");
        s.drop({s.folder("ph"), s.make("photo1.jpg"), s.make("photo2.jpg")});
        QVERIFY(test::exists(s.root + "ph/photo1.jpg"));
        QVERIFY(test::exists(s.root + "ph/photo2.jpg"));
        QVERIFY(s.control<QMenu>("mnuPopup")->isEnabled());
        QVERIFY(s.messages.isEmpty());
    }

    void executeWithAnEmptyListDoesNothing() {
        Scene s;
        s.drop({s.make("a")});
        s.select({0});
        s.action("mnuDelete")->trigger();
        s.control("cmdEXEC")->setEnabled(true);
        s.click("cmdEXEC");
        QVERIFY(s.control<QPlainTextEdit>("rtfMatomefile")->toPlainText().isEmpty());
        QVERIFY(!s.control("lblComplete")->isVisible());
    }

    // The preview shows, line by line, what Execute then does, and changes nothing.
    void previewShowsWhatExecuteDoes() {
        Scene s;
        s.judgeByCount(2);
        const QString leader = s.folder("gaa");
        s.make("gaa/gab.txt", "there before");
        s.make("gab.txt", "another file");
        s.make("gac.txt", "c");
        s.drop({leader, s.root + "gab.txt", s.root + "gac.txt"});
        s.action("mnuPreview")->trigger();
        auto* preview = s.window->findChild<QDialog*>("dlgPreview");
        QVERIFY(preview != nullptr);
        const QString shown = preview->findChild<QPlainTextEdit*>("txtText")->toPlainText();
        QVERIFY(test::exists(s.root + "gab.txt"));
        QVERIFY(!test::exists(s.root + "gaa/gab_000.txt"));
        preview->close();
        s.click("cmdEXEC");
        QCOMPARE(shown, s.control<QPlainTextEdit>("rtfMatomefile")->toPlainText());
        QVERIFY(shown.contains(s.root + "gab_000.txt…Rename後Move"));
    }

    // Undo names the last run and asks first; answered yes, the run is taken back.
    void undoTakesTheLastRunBack() {
        Scene s;
        s.judgeByCount(1);
        s.drop({s.folder("a"), s.make("a1", "1"), s.make("a2", "2")});
        s.click("cmdEXEC");
        QVERIFY(test::exists(s.root + "a/a1"));
        QStringList asked;
        bool answer = false;
        window::setQuestionHook([&](const window::MessageRecord& record) {
            asked.append(record.text);
            return answer;
        });
        s.action("mnuUndo")->trigger();
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked[0].contains("項目: 3 件、操作: 2 件"));
        QVERIFY(test::exists(s.root + "a/a1"));  // answered no: nothing happens
        answer = true;
        s.action("mnuUndo")->trigger();
        window::setQuestionHook({});
        QCOMPARE(test::readFile(s.root + "a1"), QByteArray("1"));
        QCOMPARE(test::readFile(s.root + "a2"), QByteArray("2"));
        QCOMPARE(s.texts().last(), "元に戻しました。");
        QVERIFY(s.control<QPlainTextEdit>("rtfMatomefile")->toPlainText().contains(s.root + "a1…元に戻した"));

        // The folders of a C.F. before it go with it, and the list shows the run's items
        // where they are back, judged as before the C.F.
        Scene f;
        f.action("mnuMatomeAutoNone")->trigger();
        f.control<QLineEdit>("txtMojisuu")->setText("1");
        f.drop({f.make("b1.txt", "1"), f.make("b2.txt", "2")});
        f.click("cmdCF");
        f.click("cmdEXEC");
        QVERIFY(test::exists(f.root + "b1/b2.txt"));
        window::setQuestionHook([](const window::MessageRecord&) { return true; });
        f.action("mnuUndo")->trigger();
        window::setQuestionHook({});
        QCOMPARE(f.texts().last(), "元に戻しました。");
        QVERIFY(!test::exists(f.root + "b1"));
        QCOMPARE(f.shown(), (QStringList{"b1.txt/" + f.root, "└b2.txt/" + f.root}));
        QVERIFY(f.control("cmdEXEC")->isEnabled());
    }

    // After a run, the leader's popup and the log open the group's gathering folder, only
    // while it is the folder the run gathered into; 履歴… takes back an older run by name.
    void resultsAClickAway() {
        Scene s;
        QList<QUrl> opened;
        window::setOpenFolderHook([&](const QUrl& url) {
            opened.append(url);
            return true;
        });
        const auto lastRunInHistory = [&] {
            s.action("mnuHistory")->trigger();
            auto* history = s.window->findChild<QDialog*>("dlgHistory");
            auto* runs = history->findChild<QTreeWidget*>("lstHistory");
            return std::pair(history, runs);
        };
        s.judgeByCount(1);
        s.drop({s.folder("a"), s.make("a1", "1")});
        s.click("cmdEXEC");
        auto [first, firstRuns] = lastRunInHistory();
        const QString older =
            firstRuns->topLevelItem(firstRuns->topLevelItemCount() - 1)->data(0, Qt::UserRole).toString();
        QCOMPARE(firstRuns->topLevelItem(firstRuns->topLevelItemCount() - 1)->text(3), "終了");
        first->close();
        s.drop({s.folder("b"), s.make("b1", "2")});
        s.click("cmdEXEC");

        s.setCurrentRow(0);
        QTest::mouseClick(s.list()->viewport(), Qt::RightButton);
        auto* listMenu = s.control<QMenu>("mnuListProcess");
        QTRY_VERIFY(listMenu->isVisible());
        QVERIFY(s.action("mnuOpenFolder")->isEnabled());
        listMenu->hide();
        s.action("mnuOpenFolder")->trigger();
        QVERIFY2(!opened.isEmpty(), qPrintable(s.texts().join(" | ")));
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(s.root + "b/")});
        s.action("mnuShowLog")->trigger();
        auto* log = s.window->findChild<QDialog*>("dlgLog");
        const QList<QAction*> folders = log->findChild<QMenu*>("mnuGatheringFolders")->actions();
        QCOMPARE(folders.size(), 1);
        folders[0]->trigger();
        QCOMPARE(opened.size(), 2);
        // A folder put in its place is not opened, not even once a later run gathered into
        // it: the log left open speaks of its own run.
        QVERIFY(QDir(s.root).rename("b", "b-before"));
        s.folder("b");
        s.action("mnuOpenFolder")->trigger();
        QCOMPARE(opened.size(), 2);
        QVERIFY2(s.texts().last().contains("置き換えられた"), qPrintable(s.texts().last()));
        s.drop({s.root + "b", s.make("b2", "3")});
        s.click("cmdEXEC");
        folders[0]->trigger();
        QCOMPARE(opened.size(), 2);
        log->close();
        window::setOpenFolderHook({});

        auto [history, runs] = lastRunInHistory();
        const QList<QTreeWidgetItem*> chosen = runs->findItems(older, Qt::MatchExactly, 5);
        QCOMPARE(chosen.size(), 1);
        runs->setCurrentItem(chosen[0]);
        s.answer = true;
        QTest::mouseClick(history->findChild<QPushButton*>("cmdUndoRun"), Qt::LeftButton);
        QCOMPARE(s.questions.size(), 1);
        QVERIFY(s.questions[0].contains("実行: " + older));
        QCOMPARE(test::readFile(s.root + "a1"), QByteArray("1"));
        QVERIFY(!test::exists(s.root + "a/a1"));
        QCOMPARE(test::readFile(s.root + "b-before/b1"), QByteArray("2"));
    }

    // Without a journal that can be written, Execute does nothing and says why.
    void executeNeedsAJournal() {
        Scene s;
        const QByteArray previous = qgetenv("XDG_STATE_HOME");
        test::writeFile(s.root + "not-a-folder", "");
        qputenv("XDG_STATE_HOME", QFile::encodeName(s.root + "not-a-folder"));
        s.drop({s.folder("a"), s.make("a (1)", "1")});
        s.click("cmdEXEC");
        qputenv("XDG_STATE_HOME", previous);
        QVERIFY(test::exists(s.root + "a (1)"));
        QCOMPARE(s.messages.size(), 1);
        QVERIFY(s.messages[0].text.startsWith("実行の記録を書けないため"));
        QVERIFY(s.control("cmdEXEC")->isEnabled());
    }

    // The keyboard alone: Shift+F10 and the Menu key open the popup of the part that has
    // the focus; after an inversion (chosen with the arrow keys and Enter) the focus stays
    // on the list, so Delete deletes the selected lines and the count stays as it was.
    void keyboardOnly() {
        Scene s;
        s.control("txtMojisuu")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(s.control<QMenu>("mnuPopup")->isVisible());
        QTest::keyClick(s.control<QMenu>("mnuPopup"), Qt::Key_Escape);
        QVERIFY(!s.control<QMenu>("mnuPopup")->isVisible());

        s.drop({s.make("a (1)"), s.make("a (2)"), s.make("b"), s.make("c")});
        s.list()->setFocus();
        s.setCurrentRow(1);
        s.select({1, 2});
        QTest::keyClick(s.list(), Qt::Key_Menu);
        auto* listMenu = s.control<QMenu>("mnuListProcess");
        QTRY_VERIFY(listMenu->isVisible());
        QTest::keyClick(listMenu, Qt::Key_Down);  // リストから削除する, then まとめ判定結果を反転する
        QTest::keyClick(listMenu, Qt::Key_Down);
        QCOMPARE(listMenu->activeAction(), s.action("mnuHanten"));
        QTest::keyClick(listMenu, Qt::Key_Return);
        QTRY_VERIFY(!listMenu->isVisible());
        QCOMPARE(s.shown(), (QStringList{"a (1)/" + s.root, "a (2)/" + s.root, "└b/" + s.root, "c/" + s.root}));
        QCOMPARE(QApplication::focusWidget(), s.list());
        QTest::keyClick(s.list(), Qt::Key_Delete);
        QCOMPARE(s.stored(), (QStringList{"a (1)/" + s.root, "c/" + s.root}));
        QCOMPARE(s.control<QLineEdit>("txtMojisuu")->text(), "30");

        QTest::keyClick(s.list(), Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(listMenu->isVisible());
        listMenu->hide();
    }

    // A press on a control, enabled or not, is not a press on the window's background.
    void rightClicksOnControlsOpenNothing() {
        Scene s;
        s.drop({s.folder("g"), s.make("g (1)")});
        s.control<QMenu>("mnuPopup")->setEnabled(true);
        s.control("cmdCancel")->setEnabled(false);
        for (const char* name : {"cmdEXEC", "cmdCancel", "cmdCF", "txtMojisuu", "lblMojisuu1", "lblMojisuu2"}) {
            s.control(name)->setEnabled(QString(name) != "txtMojisuu");  // the count box disabled
            QTest::mouseClick(s.control(name), Qt::RightButton);
            QVERIFY2(!s.control<QMenu>("mnuPopup")->isVisible(), name);
        }
        QTest::mouseClick(s.window.get(), Qt::RightButton, {}, QPoint(5, 150));
        QTRY_VERIFY(s.control<QMenu>("mnuPopup")->isVisible());
        s.control<QMenu>("mnuPopup")->hide();
    }

    // Every visible control says what it is, and the window carries its own icon and tells
    // the window manager its smallest size.
    void namesIconAndMinimumSize() {
        Scene s;
        for (QWidget* control : s.window->findChildren<QWidget*>()) {
            if (control->isVisible() && control->parent() == s.window.get())
                QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
        }
        QVERIFY(!s.control("cmdCF")->toolTip().isEmpty());
        QVERIFY(!s.window->windowIcon().isNull());
        QVERIFY(s.window->windowIcon().availableSizes().contains(QSize(48, 48)));
        QSize frame = s.window->frameGeometry().size() - s.window->size();
        if (frame.isEmpty()) frame = QSize(8, 27);
        QCOMPARE(s.window->minimumSize() + frame, QSize(4320 / 15, 3975 / 15));
    }

    // Stop pressed in the middle of a long copy (slowed through the system-call seam) acts
    // within half a second: the copy is abandoned whole, the source untouched, the run
    // ends "処理中止", the label says so, and the log dialog shows the log.
    // One press, one action: a second press on 実行 120 ms after the first reaches the list,
    // never 中止, and every file is copied; a press 120 ms after the folder question opens
    // answers nothing, and Enter then gives the folders and runs.
    void onePressOneAction() {
        {
            Scene s;
            s.judgeByCount(1);
            QStringList items;
            for (const QString group : {"a", "b", "c"}) {
                items.append(s.folder(group));
                for (int i = 0; i < 4; ++i) items.append(s.make(group + QString::number(i), QByteArray(4096, 'x')));
            }
            s.drop(items);
            s.control<QComboBox>("cmbMorC")->setCurrentText("コピー");
            test::InjectedFaults faults;
            faults.copyFileRange = [](int, int) -> std::optional<int> {
                QThread::msleep(15);  // a slow disk: the run lasts well past the second press
                return std::nullopt;
            };
            QWidget* pressedOn = nullptr;
            QTimer::singleShot(120, [&] {
                pressedOn = QApplication::focusWidget();
                QTest::keyClick(pressedOn, Qt::Key_Space);
            });
            s.control("cmdEXEC")->setFocus();
            QTest::keyClick(s.control("cmdEXEC"), Qt::Key_Space);
            QCOMPARE(pressedOn, s.list());
            QCOMPARE(s.control<QLabel>("lblComplete")->text(), "完了");
            for (const QString group : {"a", "b", "c"})
                for (int i = 0; i < 4; ++i) QVERIFY(test::exists(s.root + group + '/' + group + QString::number(i)));
        }
        Scene s;
        window::setQuestionHook({});  // the real question
        s.judgeByCount(1);
        s.drop({s.make("n1.txt"), s.make("n2.txt")});
        bool shownAfterEarlyPress = false;
        QElapsedTimer sinceShown;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (box == nullptr) return;
            if (!sinceShown.isValid()) sinceShown.start();
            if (sinceShown.elapsed() >= 120 && !shownAfterEarlyPress) {
                QTest::keyClick(box, Qt::Key_Return);
                shownAfterEarlyPress = QApplication::activeModalWidget() == box;
            } else if (sinceShown.elapsed() >= window::kQuestionGuardMs + 100) {
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
        poll.start();
        s.click("cmdEXEC");
        poll.stop();
        QVERIFY(shownAfterEarlyPress);
        QCOMPARE(test::readFile(s.root + "n1/n2.txt"), QByteArray("data"));
        QVERIFY(s.messages.isEmpty());
    }

    // Closing during a run asks, while the run goes on: "stop" closes once the file under
    // way is abandoned whole, with the settings saved; "go on" lets the run end. A close
    // nobody is there to answer (a signal) stops and saves without asking.
    void closingDuringARunAsks() {
        enum class Close { Stop, GoOn, Unasked };
        for (const Close close : {Close::Stop, Close::GoOn, Close::Unasked}) {
            Scene s;
            s.answer = close == Close::Stop;
            s.prepareSlowCopy();
            int calls = 0;
            s.window->setProcessEventsHook([&] {
                if (++calls != 4) return;
                if (close == Close::Unasked) return s.window->closeWithoutAsking();
                s.window->close();
            });
            s.click("cmdEXEC");
            QCOMPARE(s.questions.size(), close == Close::Unasked ? 0 : 1);
            const bool stopped = close != Close::GoOn;
            QCOMPARE(s.window->isVisible(), !stopped);
            if (stopped) QVERIFY(test::exists(s.root + "kurumu.ini"));
            QCOMPARE(test::exists(s.root + "g/g1.bin"), !stopped);
            QCOMPARE(QFileInfo(s.root + "g1.bin").size(), 64 * 1024 * 1024);
        }
        // A signal while 実行's question is open: the question goes, and nothing runs.
        Scene s;
        window::setQuestionHook({});
        s.judgeByCount(1);
        s.drop({s.folder("a"), s.make("a1"), s.make("n1.txt"), s.make("n2.txt")});
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (QApplication::activeModalWidget() != nullptr) s.window->closeWithoutAsking();
        });
        poll.start();
        s.click("cmdEXEC");
        poll.stop();
        QVERIFY(!s.window->isVisible() && QApplication::activeModalWidget() == nullptr);
        QVERIFY(test::exists(s.root + "a1") && test::exists(s.root + "n2.txt") && !test::exists(s.root + "n1"));
    }

    void injectedSlowCopyStopsAtOnce() {
        Scene s;
        s.prepareSlowCopy();
        QElapsedTimer sinceStop;
        int calls = 0;
        s.window->setProcessEventsHook([&] {
            if (++calls == 5) {  // the leader, the file, then three times during its copy
                sinceStop.start();
                s.click("cmdCancel");
            }
        });
        s.click("cmdEXEC");
        QVERIFY(sinceStop.isValid());
        QVERIFY2(sinceStop.elapsed() < 500, qPrintable(QString::number(sinceStop.elapsed())));
        QVERIFY(QDir(s.root + "g").isEmpty());
        QCOMPARE(QFileInfo(s.root + "g1.bin").size(), 64 * 1024 * 1024);
        const QString log = s.control<QPlainTextEdit>("rtfMatomefile")->toPlainText();
        QVERIFY(log.contains(s.root + "g1.bin…Copy"));
        QVERIFY(log.endsWith("処理中止"));
        QCOMPARE(s.control<QLabel>("lblComplete")->text(), "中止");
        QVERIFY(s.texts().isEmpty());
        s.action("mnuShowLog")->trigger();
        auto* dialog = s.window->findChild<QDialog*>("dlgLog");
        QVERIFY(dialog != nullptr);
        QCOMPARE(dialog->findChild<QPlainTextEdit*>("txtText")->toPlainText(), log);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTRY_VERIFY(s.window->findChild<QDialog*>("dlgLog") == nullptr);
    }

    // A long copy onto a slow stick (5 MB/s): the bar moves with the file's bytes, the bar's
    // text names the file, its rate and the time left, and Stop answers within half a second.
    void longCopyShowsItsBytes() {
        Scene s;
        const test::FuseDisk disk(test::FuseDisk::Kind::Slow, s.dir.path());
        if (disk.skipReason()) QSKIP(qPrintable(*disk.skipReason()));
        s.judgeByCount(1);
        s.drop({s.folder("disk/g"), s.make("g1.bin", QByteArray(16 << 20, 'b'))});
        s.control<QComboBox>("cmbMorC")->setCurrentText("コピー");
        const auto* bar = s.control<QProgressBar>("prgbShinkou");
        QSet<int> withinTheFile;
        QString status;
        QElapsedTimer sinceStop;
        s.window->setProcessEventsHook([&] {
            if (bar->value() % 1000 != 0) withinTheFile.insert(bar->value());
            if (bar->isTextVisible()) status = bar->text();
            if (withinTheFile.size() == 3 && !sinceStop.isValid()) {
                sinceStop.start();
                s.click("cmdCancel");
            }
        });
        s.click("cmdEXEC");
        QVERIFY2(sinceStop.isValid(), qPrintable(QString::number(withinTheFile.size())));
        QVERIFY2(sinceStop.elapsed() < 500, qPrintable(QString::number(sinceStop.elapsed())));
        QVERIFY2(status.startsWith("g1.bin  2 / 2  ") && status.contains("MB/s  残り "), qPrintable(status));
        QVERIFY(QDir(disk.backing() + "/g").isEmpty());
        QCOMPARE(QFileInfo(s.root + "g1.bin").size(), 16 << 20);
    }

    // A full volume is a failure, not a success: the label says "中止".
    void fullVolumeSaysStopped() {
        KURUMU_REQUIRE_ROOT();
        Scene s;
        test::Tmpfs tmpfs(s.root + "g", "64k");
        if (!tmpfs.mounted()) QSKIP("cannot mount a tmpfs here");
        s.judgeByCount(1);
        s.drop({s.root + "g", s.make("g1.bin", QByteArray(200 * 1024, 'f'))});
        s.click("cmdEXEC");
        QCOMPARE(s.texts(), QStringList{"書き込み先の容量不足。"});
        QCOMPARE(s.control<QLabel>("lblComplete")->text(), "中止");
        QCOMPARE(s.shown().size(), 2);  // the file that stayed keeps its line
    }

    // While a run is under way the rules change nothing and C.F. is off; afterwards the
    // count box follows the rule ticked then.
    void rulesAndFoldersDuringARun() {
        Scene s;
        s.judgeByCount(1);
        s.drop({s.folder("a"), s.make("a1"), s.make("a2")});
        bool createFoldersEnabled = true;
        s.window->setProcessEventsHook([&] {
            createFoldersEnabled = createFoldersEnabled && s.control("cmdCF")->isEnabled();
            s.action("mnuMatomeAuto3")->trigger();
        });
        s.click("cmdEXEC");
        QVERIFY(!createFoldersEnabled);
        QVERIFY(s.action("mnuMatomeAutoNone")->isChecked());
        QVERIFY(!s.action("mnuMatomeAuto3")->isChecked());
        QVERIFY(s.control("txtMojisuu")->isEnabled());
        QCOMPARE(s.control<QLabel>("lblComplete")->text(), "完了");
    }

    void savingFailsInAReadOnlyFolder() {
        KURUMU_REQUIRE_ROOT();
        QTemporaryDir outer;
        const QString folder = outer.filePath("cwd");
        const QString view = outer.filePath("view");
        test::makeFolder(folder);
        test::ReadOnlyView readOnly(folder, view);
        if (!readOnly.mounted()) QSKIP("cannot make a read-only bind mount here");
        const QString previous = QDir::currentPath();
        QDir::setCurrent(view);
        QList<window::MessageRecord> messages;
        window::setMessageBoxHook([&messages](const window::MessageRecord& record) { messages.append(record); });
        {
            frmMatome window;
            window.show();
            window.close();
        }
        window::setMessageBoxHook({});
        QDir::setCurrent(previous);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].title, "kurumu");
        QCOMPARE(messages[0].icon, window::MessageIcon::Warning);
        QCOMPARE(messages[0].text, "不明なエラー");  // there was no file to delete
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
