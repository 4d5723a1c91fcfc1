#include "support/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

using namespace kurumu;

// Runs cut at every operation of a disk whose power can be cut (tests/support/cutting_fs.py,
// which keeps what was flushed apart from what was only written): when the power returns,
// every file must be whole, at its source or under its name on the disk, and no name on
// the disk may hold bytes that are not the file's.
namespace {

// The disk, mounted for the whole test, driven by looking up its control names.
class CutDisk {
public:
    explicit CutDisk(const QString& mountPoint) : m_at(mountPoint) {
        test::makeFolder(m_at);
        m_program.start("/usr/bin/python3", {QFINDTESTDATA("../support/cutting_fs.py"), m_at});
    }
    ~CutDisk() {
        QProcess::execute("umount", {"-l", m_at});
        m_program.waitForFinished(10000);
    }
    bool mounted() {
        for (int tries = 0; tries < 100 && !control("count"); ++tries) QTest::qWait(50);
        return control("count").has_value();
    }
    // The number of operations counted since the last sync, after the command.
    std::optional<qint64> control(const QString& command) const {
        const QFileInfo answer(m_at + "/.cutting." + command);
        if (!answer.exists()) return std::nullopt;
        return answer.size();
    }
    QString path(const QString& relative) const { return m_at + '/' + relative; }

private:
    QString m_at;
    QProcess m_program;
};

// Files as contents by path below a folder (folders as "/"), hidden ones included.
QMap<QString, QByteArray> filesBelow(const QString& folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), QFileInfo(path).isDir() ? "/" : test::readFile(path));
    }
    return files;
}

void lay(const QString& root, const QMap<QString, QByteArray>& entries) {
    test::makeFolder(root);
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        if (entry.key().endsWith('/'))
            test::makeFolder(root + entry.key());
        else
            test::writeFile(root + entry.key(), entry.value());
    }
}

QString cutText(qint64 cut, qint64 operations) {
    return cut < 0 ? QString("cut once it had ended")
                   : QString("cut after %1 of %2 operations").arg(cut).arg(operations);
}

QByteArray bytes(const char* name, int size) {
    QByteArray made;
    while (made.size() < size) made += QByteArray(name) + ' ' + QByteArray::number(made.size()) + '\n';
    return made.left(size);
}

struct Scenario {
    QMap<QString, QByteArray> onDisk;   // below the disk, before the run
    QMap<QString, QByteArray> sources;  // below a folder on another file system
    QStringList dropped;                // "disk/…" or "src/…"
    QStringList options;
    bool journalOnDisk = false;              // and the run is then taken back
    bool cutTheUndo = false;                 // the run ends whole, and its undo is cut
    QMap<QString, QByteArray> written = {};  // below the disk too, written just before the run, unflushed
};

// Gathered onto the disk: an existing folder that holds another file under a name that
// comes in and the same bytes as one that comes in; a file of two writes; a folder whose
// files come in flat.
Scenario intoExistingFolder(const QStringList& options) {
    return {.onDisk = {{"g_0/", {}}, {"g_0/g_2.bin", bytes("other", 900)}, {"g_0/g_3.bin", bytes("same", 3000)}},
            .sources = {{"g_1.bin", bytes("one", 5000)},
                        {"g_2.bin", bytes("two", 200000)},
                        {"g_3.bin", bytes("same", 3000)},
                        {"g_4/", {}},
                        {"g_4/z.bin", bytes("four", 700)}},
            .dropped = {"disk/g_0", "src/g_1.bin", "src/g_2.bin", "src/g_3.bin", "src/g_4"},
            .options = options};
}

// Led by a file on the disk, for which the run makes a folder and moves it in, and a tree
// rebuilt below it with its structure.
Scenario intoFoldersMade(bool journalOnDisk) {
    return {.onDisk = {{"g_0.bin", bytes("leader", 1500)}},
            .sources = {{"g_1.bin", bytes("one", 5000)},
                        {"g_2/", {}},
                        {"g_2/x.bin", bytes("x", 4000)},
                        {"g_2/sub/", {}},
                        {"g_2/sub/deeper/", {}},
                        {"g_2/sub/deeper/y.bin", bytes("y", 70000)}},
            .dropped = {"disk/g_0.bin", "src/g_1.bin", "src/g_2"},
            .options = {"--move", "--create-folders", "--keep-structure"},
            .journalOnDisk = journalOnDisk};
}

// Gathered onto the disk, where another program has just written the very bytes of one
// that comes in, still unflushed: the source goes as its duplicate.
Scenario ontoUnflushedDuplicate() {
    Scenario scenario = intoExistingFolder({"--move"});
    scenario.onDisk.remove("g_0/g_3.bin");
    scenario.written = {{"g_0/g_3.bin", bytes("same", 3000)}};
    return scenario;
}

// Gathered from the disk onto another file system, then taken back onto the disk: the
// undo is cut.
Scenario undoneOntoTheDisk() {
    return {.onDisk = {{"g_1.bin", bytes("one", 5000)}, {"g_2/", {}}, {"g_2/z.bin", bytes("two", 9000)}},
            .sources = {{"g_0/", {}}},
            .dropped = {"src/g_0", "disk/g_1.bin", "disk/g_2"},
            .options = {"--move"},
            .journalOnDisk = false,
            .cutTheUndo = true};
}

}  // namespace

Q_DECLARE_METATYPE(Scenario)

class TestPowerCut : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::optional<CutDisk> m_disk;

    QString sources() const { return m_dir.filePath("src") + '/'; }

    // Lays the scenario out afresh, flushed, and runs it cut after the operations given, or
    // (kWhenEnded) once the run has ended; never cut without: what the disk and the sources
    // hold when the power is back.
    static constexpr qint64 kWhenEnded = -1;
    struct Ended {
        QMap<QString, QByteArray> disk;
        QMap<QString, QByteArray> sources;
        QMap<QString, QByteArray> diskAfterRun;  // before the undo
        QMap<QString, QByteArray> sourcesAfterRun;
        qint64 operations = 0;  // of the part cut: the run, or its undo
        int exitCode = -1;      // of that part
    };
    Ended run(const QString& model, const Scenario& scenario, std::optional<qint64> cutAfter) {
        m_disk->control("reset-" + model);
        QDir(sources()).removeRecursively();
        QDir(m_dir.filePath("state")).removeRecursively();
        lay(m_disk->path({}), scenario.onDisk);
        lay(sources(), scenario.sources);
        m_disk->control("sync");
        for (auto file = scenario.written.begin(); file != scenario.written.end(); ++file)
            test::writeFile(m_disk->path(file.key()), file.value());
        const auto cut = [&](bool thisPart) {
            if (thisPart && cutAfter && *cutAfter != kWhenEnded)
                m_disk->control("cut-after-" + QString::number(*cutAfter));
        };
        const auto powerCycle = [&](bool thisPart) {
            if (!thisPart || !cutAfter) return;
            m_disk->control("cut-after-0");  // the power goes now if the part has ended first
            m_disk->control("power-on");
        };
        cut(!scenario.cutTheUndo);
        QStringList arguments{"--run", "--rule", "count", "--count", "1"};
        arguments += scenario.options;
        for (const QString& item : scenario.dropped)
            arguments += item.startsWith("disk/") ? m_disk->path(item.mid(5)) : sources() + item.mid(4);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_STATE_HOME", scenario.journalOnDisk ? m_disk->path("state") : m_dir.filePath("state"));
        const auto kurumu = [&](const QStringList& with) {
            QProcess process;
            process.setProcessEnvironment(environment);
            process.setWorkingDirectory(m_dir.path());
            process.start(qEnvironmentVariable("KURUMU_BINARY"), with);
            if (!process.waitForFinished(60000)) return -1;  // hung
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        };
        const qint64 before = m_disk->control("count").value_or(0);
        int exitCode = kurumu(arguments);
        qint64 operations = m_disk->control("count").value_or(0) - before;
        powerCycle(!scenario.cutTheUndo);
        const QMap<QString, QByteArray> afterRun = filesBelow(m_disk->path({}));
        const QMap<QString, QByteArray> sourcesAfterRun = filesBelow(sources());
        if (scenario.cutTheUndo) {
            m_disk->control("sync");  // the run long over; the undo's operations are counted
            cut(true);
            exitCode = kurumu({"--undo"});
            operations = m_disk->control("count").value_or(0);
            powerCycle(true);
            // Cut, it is run again, as a user would once the power is back.
            if (cutAfter) kurumu({"--undo"});
        } else if (scenario.journalOnDisk) {
            kurumu({"--undo"});
        }
        return {filesBelow(m_disk->path({})), filesBelow(sources()), afterRun, sourcesAfterRun, operations, exitCode};
    }

private Q_SLOTS:
    void initTestCase() {
        KURUMU_REQUIRE_ROOT();
        if (!QFileInfo::exists("/dev/fuse")) QSKIP("no /dev/fuse here for a disk that can be cut");
        if (QProcess::execute("/usr/bin/python3", {"-c", "import fusepy"}) != 0) QSKIP("python3-fusepy is missing");
        m_disk.emplace(m_dir.filePath("disk"));
        QVERIFY2(m_disk->mounted(), "the disk that can be cut did not mount");
    }

    void cleanupTestCase() { m_disk.reset(); }

    // The disk itself: what was written and flushed survives a cut; bytes that were not
    // flushed do not, nor (ordered) a rename and a file whose folder was not.
    void theDiskKeepsWhatWasFlushed_data() {
        QTest::addColumn<QString>("model");
        QTest::newRow("ordered") << "ordered";
        QTest::newRow("names first") << "names-first";
    }
    void theDiskKeepsWhatWasFlushed() {
        QFETCH(QString, model);
        m_disk->control("reset-" + model);
        test::makeFolder(m_disk->path("f"));
        test::writeFile(m_disk->path("f/kept"), "flushed");
        m_disk->control("sync");
        QVERIFY(QFile::rename(m_disk->path("f/kept"), m_disk->path("f/renamed")));
        QFile named(m_disk->path("f/named"));
        QVERIFY(named.open(QIODevice::WriteOnly));
        named.write("bytes");
        named.close();
        {
            const int folder = ::open(QFile::encodeName(m_disk->path("f")).constData(), O_RDONLY | O_DIRECTORY);
            QVERIFY(folder >= 0 && ::fsync(folder) == 0);
            ::close(folder);
        }
        test::writeFile(m_disk->path("f/unflushed"), "gone");
        QVERIFY(QFile::rename(m_disk->path("f/renamed"), m_disk->path("f/again")));
        m_disk->control("cut-after-0");
        QVERIFY(!QFileInfo::exists(m_disk->path("f/again")));
        m_disk->control("power-on");
        const QMap<QString, QByteArray> ordered{{"f", "/"}, {"f/renamed", "flushed"}, {"f/named", "bytes"}};
        const QMap<QString, QByteArray> namesFirst{
            {"f", "/"}, {"f/again", "flushed"}, {"f/named", ""}, {"f/unflushed", ""}};
        QCOMPARE(filesBelow(m_disk->path({})), model == "ordered" ? ordered : namesFirst);
    }

    // Every run cut at every operation (or at an even sample of them), in both models: no
    // file is lost, none is published with bytes that are not its own.
    void nothingIsLostAtAnyCut_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<Scenario>("scenario");
        for (const char* model : {"ordered", "names-first"}) {
            const QString name = QString::fromLatin1(model);
            QTest::addRow("move into a folder, %s", model) << name << intoExistingFolder({"--move"});
            QTest::addRow("move into folders made, %s", model) << name << intoFoldersMade(false);
            QTest::addRow("copy checked, %s", model) << name << intoExistingFolder({"--copy", "--crc32"});
            QTest::addRow("journal on the disk, undone, %s", model) << name << intoFoldersMade(true);
            QTest::addRow("onto an unflushed duplicate, %s", model) << name << ontoUnflushedDuplicate();
            QTest::addRow("undo onto the disk cut, %s", model) << name << undoneOntoTheDisk();
        }
    }
    void nothingIsLostAtAnyCut() {
        QFETCH(QString, model);
        QFETCH(Scenario, scenario);
        // Where each file's bytes may be found: where they were, and where the run puts them.
        const Ended whole = run(model, scenario, std::nullopt);
        QMap<QByteArray, QSet<QString>> placesOf;
        const auto note = [&placesOf](const QString& side, const QMap<QString, QByteArray>& files) {
            for (auto file = files.begin(); file != files.end(); ++file)
                if (file.value() != "/" && !file.key().endsWith('/') && !file.key().startsWith("state/"))
                    placesOf[file.value()] += side + file.key();
        };
        note("disk/", scenario.onDisk);
        note("disk/", scenario.written);
        note("src/", scenario.sources);
        QMap<QString, QByteArray> published;  // what each name the run (and its undo) gives holds after it
        for (const QMap<QString, QByteArray>* disk : {&whole.diskAfterRun, &whole.disk})
            for (auto file = disk->begin(); file != disk->end(); ++file)
                if (file.value() != "/" && !file.key().startsWith("state/")) published.insert(file.key(), file.value());
        note("disk/", published);
        note("src/", whole.sources);
        note("src/", whole.sourcesAfterRun);
        QVERIFY(whole.operations > 0);

        const qint64 samples = std::min<qint64>(whole.operations, 48);
        for (qint64 sample = 0; sample <= samples; ++sample) {
            const qint64 cut = sample < samples ? sample * whole.operations / samples : kWhenEnded;
            const Ended ended = run(model, scenario, cut);
            const auto holds = [&ended](const QString& place, const QByteArray& contents) {
                const QMap<QString, QByteArray>& side = place.startsWith("disk/") ? ended.disk : ended.sources;
                const auto there = side.find(place.mid(place.indexOf('/') + 1));
                return there != side.end() && *there == contents;
            };
            // Cut before its end, the run (or undo) must not say it did everything.
            QVERIFY2(ended.exitCode != -1, qPrintable(cutText(cut, whole.operations) + ": it hung or crashed"));
            if (cut != kWhenEnded)
                QVERIFY2(ended.exitCode != 0, qPrintable(cutText(cut, whole.operations) + ": it said it was done"));
            for (auto file = placesOf.begin(); file != placesOf.end(); ++file) {
                const QSet<QString>& places = file.value();
                const bool found = std::any_of(places.begin(), places.end(),
                                               [&](const QString& place) { return holds(place, file.key()); });
                QVERIFY2(found, qPrintable(cutText(cut, whole.operations) + ": lost the file of " +
                                           QStringList(places.values()).join(", ")));
            }
            // Once the run has ended, its journal is on the disk, and the undo takes it back.
            if (cut == kWhenEnded && scenario.journalOnDisk) {
                for (auto source = scenario.sources.begin(); source != scenario.sources.end(); ++source)
                    if (!source.key().endsWith('/'))
                        QVERIFY2(holds("src/" + source.key(), source.value()), qPrintable(source.key()));
            }
            for (auto name = published.begin(); name != published.end(); ++name) {
                // What another program left unflushed is its own affair.
                if (!ended.disk.contains(name.key()) || scenario.written.contains(name.key())) continue;
                const QByteArray there = ended.disk.value(name.key());
                const auto before = scenario.onDisk.find(name.key());
                const bool itsOwn = there == name.value() || (before != scenario.onDisk.end() && *before == there);
                QVERIFY2(itsOwn,
                         qPrintable(cutText(cut, whole.operations) +
                                    QString(": %1 holds %2 bytes not its own").arg(name.key()).arg(there.size())));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestPowerCut)
#include "tst_power_cut.moc"
