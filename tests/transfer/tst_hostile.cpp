// Hostile paths, names and trees: a run acts only on what it was given, and only inside it.
#include "platform/FileServices.h"
#include "support/RecordingHost.h"
#include "support/TestFiles.h"
#include "transfer/Execute.h"
#include "transfer/Transfer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace kurumu;

namespace {

struct Scene {
    QTemporaryDir dir;
    QString root = dir.path() + '/';
    test::RecordingHost host;
    transfer::RunVariables vars;
    transfer::RunOptions options;

    QString make(const QString& relative, const QByteArray& data = "data") {
        return test::makeFileWithFolders(root + relative, data);
    }
    QString folder(const QString& relative) {
        test::makeFolder(root + relative);
        return root + relative;
    }
    QString link(const QString& target, const QString& relative) {
        QFile::link(target, root + relative);
        return root + relative;
    }
    // One group: the leader and its members, run as Execute runs it.
    bool run(const QString& leader, const QStringList& members) {
        return transfer::Execute(vars, host, *platform::diskServices(), options, {{leader, members}});
    }
    QStringList logLines() const { return vars.strLog.split("\r\n", Qt::SkipEmptyParts); }
};

// The services, but one folder is told to be its file system's root.
class PretendRoot final : public platform::FileServices {
public:
    explicit PretendRoot(QString root) : m_root(std::move(root)) {}
    platform::Result<platform::EntryInfo> probe(const platform::Path& path) override {
        auto info = real().probe(path);
        if (info.ok() && QDir::cleanPath(path) == QDir::cleanPath(m_root)) info.value.mountRoot = true;
        return info;
    }
    platform::Result<QList<platform::Identity>> folderChain(const platform::Path& path) override {
        return real().folderChain(path);
    }
    platform::Result<QString> realFolder(const platform::Path& path) override { return real().realFolder(path); }
    platform::Result<platform::EntryInfo> heldFolder(const platform::Path& path) override {
        return real().heldFolder(path);
    }
    platform::Result<platform::FolderListing> listFolder(const platform::Path& path) override {
        ++touched;
        return real().listFolder(path);
    }
    platform::Status createFolder(const platform::Path& path, const platform::Path& model,
                                  platform::FolderUse use) override {
        return real().createFolder(path, model, use);
    }
    platform::Status removeEmptyFolder(const platform::Path& path) override { return real().removeEmptyFolder(path); }
    platform::PlaceResult moveFile(const platform::Path& a, const platform::Path& b, const platform::KeepGoing& k,
                                   const platform::CreatedHandler& c) override {
        ++touched;
        return real().moveFile(a, b, k, c);
    }
    platform::PlaceResult copyFile(const platform::Path& a, const platform::Path& b, const platform::KeepGoing& k,
                                   const platform::CreatedHandler& c) override {
        ++touched;
        return real().copyFile(a, b, k, c);
    }
    platform::PlaceResult linkFile(const platform::Path& a, const platform::Path& b) override {
        ++touched;
        return real().linkFile(a, b);
    }
    platform::Result<bool> sameContents(const platform::Path& a, const platform::Path& b,
                                        const platform::KeepGoing& k) override {
        return real().sameContents(a, b, k);
    }
    platform::Result<platform::DuplicateProof> deleteDuplicate(const platform::Path& a, const platform::Path& b,
                                                               const platform::KeepGoing& k,
                                                               const platform::ProofHandler& p) override {
        ++touched;
        return real().deleteDuplicate(a, b, k, p);
    }
    platform::Status removePartialCopy(const platform::Path& a, const platform::Path& b,
                                       const platform::Identity& c) override {
        ++touched;
        return real().removePartialCopy(a, b, c);
    }
    platform::Status restoreAttributes(const platform::Path& a, const platform::Identity& b,
                                       const platform::Attributes& c) override {
        return real().restoreAttributes(a, b, c);
    }
    platform::Status keepNamesOf(const platform::Path& path) override { return real().keepNamesOf(path); }
    int touched = 0;

private:
    static platform::FileServices& real() { return platform::realFileServices(); }
    QString m_root;
};

}  // namespace

class TestHostile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // "G/", "G//", "G/." and a link to G name one folder: the leader is its own destination.
    void sameFolderBySpelling() {
        for (const QString& spelling : {QString("G//"), QString("G/./"), QString("link/")}) {
            Scene s;
            s.make("G/x", "x");
            s.make("y", "y");
            s.link(s.root + "G", "link");
            const auto files = platform::diskServices();
            transfer::Transfer transfer(s.vars, s.host, *files, s.options);
            transfer.FolderMove2(s.root + "G", s.root + spelling);
            QCOMPARE(s.logLines(), QStringList{s.root + "G…移動元と移動先が同じ"});
            transfer.FileMove2(s.root + "G/x", s.root + spelling);
            QCOMPARE(s.logLines().last(), s.root + "G/x…移動元と移動先が同じ");
            QCOMPARE(test::snapshot(s.root + "G").keys(), QStringList{"x"});
        }
    }

    // A bind mount of the leader's folder is the same folder.
    void sameFolderThroughABindMount() {
        KURUMU_REQUIRE_ROOT();
        Scene s;
        s.make("G/x", "x");
        s.folder("view");
        test::Mount bind({"--bind", s.root + "G", s.root + "view"});
        if (!bind.mounted()) QSKIP("cannot make a bind mount here");
        const auto files = platform::diskServices();
        transfer::Transfer transfer(s.vars, s.host, *files, s.options);
        transfer.FolderMove2(s.root + "G", s.root + "view/");
        transfer.FileMove2(s.root + "G/x", s.root + "view/");
        QCOMPARE(s.logLines(), (QStringList{s.root + "G…移動元と移動先が同じ", s.root + "G/x…移動元と移動先が同じ"}));
        QCOMPARE(test::readFile(s.root + "G/x"), QByteArray("x"));
    }

    // A link to a folder as the leader stands for that folder; a dangling one fails the
    // group as a missing path.
    void leaderIsALink() {
        Scene s;
        s.make("target/old", "old");
        const QString leader = s.link(s.root + "target", "gather");
        QVERIFY(s.run(leader, {s.make("gather1.txt", "1"), s.make("gather2.txt", "2")}));
        QCOMPARE(s.logLines()[1], leader + "…移動元と移動先が同じ");
        QCOMPARE(test::snapshot(s.root + "target"),
                 (QMap<QString, QByteArray>{{"old", "old"}, {"gather1.txt", "1"}, {"gather2.txt", "2"}}));
        QVERIFY(QFileInfo(leader).isSymLink());

        // Its folder's real path holds a byte that is no text: the folder is reached through the link.
        Scene u;
        const QByteArray unreadable = QFile::encodeName(u.root) + "x\xff";
        QCOMPARE(::mkdir(unreadable.constData(), 0755), 0);
        // Removed by its bytes: the temporary folder cannot name it to remove it.
        const auto removed = qScopeGuard([&] {
            ::unlink(QByteArray(unreadable + "/gather1.txt").constData());
            ::rmdir(unreadable.constData());
        });
        QCOMPARE(::symlink(unreadable.constData(), QFile::encodeName(u.root + "gather").constData()), 0);
        QVERIFY(u.run(u.root + "gather", {u.make("gather1.txt", "1")}));
        QCOMPARE(u.logLines()[1], u.root + "gather…移動元と移動先が同じ");
        QVERIFY(QFileInfo(u.root + "gather").isSymLink());
        QCOMPARE(test::readFile(u.root + "gather/gather1.txt"), QByteArray("1"));

        Scene d;
        const QString dangling = d.link(d.root + "nowhere", "gather");
        QVERIFY(!d.run(dangling, {d.make("gather1.txt", "1")}));
        QCOMPARE(d.host.warningTexts(), QStringList{"指定されたパスが見つからない。"});
        QCOMPARE(test::readFile(d.root + "gather1.txt"), QByteArray("1"));
        QVERIFY(!test::exists(d.root + "nowhere"));
    }

    // The destination three levels inside the source, flattening: every file of the tree
    // moves, the destination folder alone is met as a source equal to its destination.
    void destinationThreeLevelsInsideFlattening() {
        Scene s;
        s.make("A/a", "a");
        s.make("A/B/b", "b");
        s.make("A/B/C/c", "c");
        s.make("A/B/C/D/d", "d");
        s.make("A/B/other/o", "o");
        QVERIFY(s.run(s.root + "A/B/C/D", {s.root + "A"}));
        QCOMPARE(test::snapshot(s.root + "A").keys(),
                 (QStringList{"B/C/D/a", "B/C/D/b", "B/C/D/c", "B/C/D/d", "B/C/D/o"}));
        QVERIFY(s.logLines().contains(s.root + "A/B/C/D…移動元と移動先が同じ"));
        QVERIFY(!test::exists(s.root + "A/B/other"));  // emptied and removed
        QVERIFY(s.host.warnings.isEmpty());
    }

    // The same, keeping the structure: no folder the run made is walked, and every file
    // that stays where it was has its line.
    void destinationThreeLevelsInsideKeepingStructure() {
        for (const bool move : {true, false}) {
            Scene s;
            s.options.keepStructure = true;
            s.options.family = move ? transfer::kMove2 : transfer::kCopy2;
            s.make("A/a", "a");
            s.make("A/B/b", "b");
            s.make("A/B/C/c", "c");
            s.make("A/B/C/D/d", "d");
            QVERIFY(s.run(s.root + "A/B/C/D", {s.root + "A"}));
            const auto after = test::snapshot(s.root + "A");
            QVERIFY(after.contains("B/C/D/A/a"));
            QVERIFY(after.contains("B/C/D/A/B/b"));
            QVERIFY(after.contains("B/C/D/A/B/C/c"));
            QVERIFY(after.contains("B/C/D/d"));  // the destination's own file stays
            QVERIFY(!after.contains("B/C/D/A/B/C/D/d"));
            QVERIFY(s.logLines().contains(s.root + "A/B/C/D…" +
                                          (move ? "移動元と移動先が同じ" : "コピー元とコピー先が同じ")));
            QCOMPARE(after.size(), move ? 4 : 7);
        }
    }

    // Keeping the structure into a folder inside the source reached through a link: the
    // run ends, and walks nothing it made.
    void keepStructureThroughALinkInside() {
        Scene s;
        s.options.keepStructure = true;
        s.make("A/a", "a");
        s.make("A/B/b", "b");
        s.link(s.root + "A/B", "A/zlink");
        s.run(s.root + "A/zlink", {s.root + "A"});
        const auto after = test::snapshot(s.root + "A");
        QVERIFY(after.contains("B/A/a"));
        QVERIFY(after.size() < 10);
        for (const QString& path : after.keys()) QVERIFY2(path.count('/') < 6, qPrintable(path));
    }

    // A name that begins with "└" is transferred as itself, never as the name without it.
    void nameBeginningWithTheMark() {
        Scene s;
        const QString leader = s.folder("notes");
        const QString marked = s.make("└notes.txt", "marked name");
        const QString plain = s.make("notes.txt", "plain name");
        QVERIFY(s.run(leader, {marked}));
        QCOMPARE(test::readFile(leader + "/└notes.txt"), QByteArray("marked name"));
        QCOMPARE(test::readFile(plain), QByteArray("plain name"));
    }

    // A file system's root is never walked as a source: refused by name, nothing touched.
    void rootIsRefused() {
        Scene s;
        const QString leader = s.folder("G");
        const QString pretendRoot = s.folder("R");
        s.make("R/x", "x");
        PretendRoot files(pretendRoot);
        QVERIFY(!transfer::Execute(s.vars, s.host, files, s.options, {{leader, {pretendRoot}}}));
        QCOMPARE(s.host.warnings.size(), 1);
        QVERIFY(s.host.warnings[0].text.contains(pretendRoot));
        QCOMPARE(files.touched, 0);
        QCOMPARE(test::readFile(s.root + "R/x"), QByteArray("x"));
    }

    // The root of a mounted file system given as an item is refused; one met inside a tree
    // (here a bind mount of the folder above, a loop) is left with its line, unwalked.
    void mountedFileSystems() {
        KURUMU_REQUIRE_ROOT();
        Scene s;
        s.options.family = transfer::kCopy2;  // were anything to go wrong, nothing would be taken away
        const QString leader = s.folder("abc");
        test::Tmpfs tmpfs(s.root + "abcd", "1m");
        if (!tmpfs.mounted()) QSKIP("cannot mount a tmpfs here");
        test::writeFile(s.root + "abcd/x", "x");
        QVERIFY(!s.run(leader, {s.root + "abcd"}));
        QVERIFY(s.host.warnings.size() == 1 && s.host.warnings[0].text.contains(s.root + "abcd"));
        QVERIFY(QDir(leader).isEmpty());

        Scene loop;
        loop.options.family = transfer::kMove2;
        const QString gather = loop.folder("abc");
        loop.make("abcd/inner", "inner");
        loop.make("other.txt", "not given");
        loop.folder("abcd/loop");
        test::Mount bind({"--bind", loop.root, loop.root + "abcd/loop"});
        if (!bind.mounted()) QSKIP("cannot make a bind mount here");
        QVERIFY(loop.run(gather, {loop.root + "abcd"}));
        QCOMPARE(test::readFile(loop.root + "other.txt"), QByteArray("not given"));
        QCOMPARE(test::readFile(gather + "/inner"), QByteArray("inner"));
        QVERIFY(loop.logLines().contains(loop.root + "abcd/loop…ファイルシステムのルートは扱わない"));
    }

    // Random trees with links (inside, outside, loops), dot-names and random leaders,
    // moved and copied in both structure modes: whatever lies outside the given items is
    // unchanged, nothing new appears outside the gathering folder, and every file's bytes
    // survive somewhere.
    void randomHostileTrees() {
        QRandomGenerator random(9);
        const QStringList names{"a", ".a", "..a", "...a", "a.", "└a", "a b", "B", "b.txt", "c"};
        for (int round = 0; round < 80; ++round) {
            Scene s;
            s.options.family = random.bounded(2) ? transfer::kMove2 : transfer::kCopy;
            s.options.keepStructure = random.bounded(2) == 1;
            s.options.checkAllNumbers = random.bounded(2) == 1;
            s.make("outside/keep", "outside");
            QStringList folders{"work"};
            s.folder("work");
            for (int i = 0; i < 14; ++i) {
                const QString at = folders[random.bounded(folders.size())] + '/' + names[random.bounded(names.size())];
                if (test::exists(s.root + at)) continue;
                switch (random.bounded(6)) {
                    case 0:
                    case 1:
                        folders.append(at);
                        s.folder(at);
                        break;
                    case 2:
                        s.link(s.root + folders[random.bounded(folders.size())], at);  // inside, maybe a loop
                        break;
                    case 3:
                        s.link(s.root + "outside", at);
                        break;
                    default:
                        s.make(at, QByteArray::number(random.bounded(3)));
                }
            }
            const QString leaderRelative = folders[random.bounded(folders.size())];
            const QString leader = s.root + leaderRelative;
            QStringList members;
            const QStringList candidates = test::snapshot(s.root + "work").keys() + folders.mid(1);
            for (int i = 0; i < 3 && !candidates.isEmpty(); ++i) {
                QString member = candidates[random.bounded(candidates.size())];
                if (!member.startsWith("work/")) member = "work/" + member;
                if (!members.contains(s.root + member)) members.append(s.root + member);
            }
            const auto before = test::snapshot(s.root);
            s.run(leader, members);
            const auto after = test::snapshot(s.root);
            const QString context =
                QString("round %1, leader %2, members %3").arg(round).arg(leaderRelative, members.join(' '));
            const auto inside = [&](const QString& relative) {
                for (const QString& member : members) {
                    const QString path = s.root + relative;
                    if (path == member || path.startsWith(member + '/')) return true;
                }
                return false;
            };
            const QList<QByteArray> arrived = after.values();
            for (auto it = before.begin(); it != before.end(); ++it) {
                if (!inside(it.key())) {
                    QVERIFY2(after.value(it.key()) == it.value(), qPrintable(context + ": changed " + it.key()));
                } else {
                    QVERIFY2(arrived.contains(it.value()), qPrintable(context + ": lost " + it.key()));
                }
            }
            const QString realLeader = QFileInfo(leader).canonicalFilePath();
            for (auto it = after.begin(); it != after.end(); ++it) {
                if (before.contains(it.key())) continue;
                const QString real = QFileInfo(QFileInfo(s.root + it.key()).absolutePath()).canonicalFilePath();
                QVERIFY2(real == realLeader || real.startsWith(realLeader + '/'),
                         qPrintable(context + ": written outside the gathering folder: " + it.key()));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
