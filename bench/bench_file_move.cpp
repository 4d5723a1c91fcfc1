// 10,000 files moved into one folder through FileMove2 (log, status text and event
// processing included) against mv of the same files, on the same file system.
#include "transfer/Journal.h"
#include "transfer/Transfer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "Median.h"

namespace {

using kurumu::bench::median;

class BenchHost final : public kurumu::transfer::RunHost {
public:
    void showWarning(const QString&, const QString& text, const QString&) override {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }
    void logged(const kurumu::transfer::LogLine& line) override { m_status = line.text; }
    void processEvents() override { QCoreApplication::processEvents(); }

private:
    QString m_status;
};

constexpr int kFiles = 10000;

QStringList makeFiles(const QString& folder) {
    QDir().mkpath(folder);
    QStringList names;
    for (int i = 0; i < kFiles; ++i) {
        const QString name = QStringLiteral("f_%1.dat").arg(i, 5, 10, QLatin1Char('0'));
        QFile file(folder + u'/' + name);
        if (!file.open(QIODevice::WriteOnly) || file.write("x", 1) != 1) std::abort();
        names.append(name);
    }
    return names;
}

// Moves the files with FileMove2 through the services given; milliseconds.
double moveAll(kurumu::platform::FileServices& files, const QString& from, const QString& into,
               const QStringList& names) {
    kurumu::transfer::RunVariables variables;
    BenchHost host;
    kurumu::transfer::Transfer transfer(variables, host, files, {});
    QElapsedTimer timer;
    timer.start();
    for (const QString& name : names) transfer.FileMove2(from + u'/' + name, into + u'/');
    const double milliseconds = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (QDir(into).entryList(QDir::Files).size() != kFiles) std::abort();
    return milliseconds;
}

}  // namespace

// bench_file_move [WORK FOLDER]: medians of nine rounds, the three ways taken in turns.
int main(int argc, char** argv) {
    const QCoreApplication application(argc, argv);
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/var/tmp");
    const QTemporaryDir work(base + QStringLiteral("/kurumu-move-XXXXXX"));
    std::vector<double> ours;
    std::vector<double> journaled;
    std::vector<double> peer;
    for (int run = 0; run < 9; ++run) {
        const QString tag = QString::number(run);
        const QStringList names = makeFiles(work.filePath(u"from" + tag));
        makeFiles(work.filePath(u"jfrom" + tag));
        makeFiles(work.filePath(u"mvfrom" + tag));
        for (const char* into : {"into", "jinto", "mvinto"}) QDir().mkpath(work.filePath(QLatin1String(into) + tag));
        for (int turn = 0; turn < 3; ++turn) {
            switch ((run + turn) % 3) {
                case 0: {
                    const auto files = kurumu::platform::diskServices();
                    ours.push_back(moveAll(*files, work.filePath(u"from" + tag), work.filePath(u"into" + tag), names));
                    break;
                }
                case 1: {
                    // The same through the run journal, as every real run goes.
                    const auto state = kurumu::platform::StateFolder::openAt(work.filePath(u"state" + tag));
                    const auto journal = kurumu::transfer::Journal::open(state.value, {});
                    if (!journal.ok()) std::abort();
                    const auto disk = kurumu::platform::diskServices();
                    kurumu::transfer::JournalingServices recorded(*disk, *journal.value);
                    journaled.push_back(
                        moveAll(recorded, work.filePath(u"jfrom" + tag), work.filePath(u"jinto" + tag), names));
                    break;
                }
                default: {
                    QProcess mv;
                    mv.setWorkingDirectory(work.filePath(u"mvfrom" + tag));
                    QElapsedTimer timer;
                    timer.start();
                    mv.start(QStringLiteral("mv"), QStringList(names) << work.filePath(u"mvinto" + tag));
                    mv.waitForFinished(-1);
                    peer.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
                }
            }
        }
    }
    const double plain = median(ours);
    const double recorded = median(journaled);
    const double moved = median(peer);
    std::printf("FileMove2 of %d files: %.0f ms   mv: %.0f ms   speed ratio %.2f\n", kFiles, plain, moved,
                moved / plain);
    std::printf("FileMove2 of %d files, journaled: %.0f ms   journal's cost %.1f%%\n", kFiles, recorded,
                100.0 * (recorded - plain) / plain);
    return 0;
}
