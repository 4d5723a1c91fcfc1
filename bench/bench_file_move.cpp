// 10,000 files moved into one folder through FileMove2 (log, status text and event
// processing included) against mv of the same files, on the same file system.
#include "transfer/Transfer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

class BenchHost final : public kurumu::transfer::TransferHost {
public:
    void showWarning(const QString&, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void showStatus(const QString& line) override { m_status = line; }
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

}  // namespace

int main(int argc, char** argv) {
    const QCoreApplication application(argc, argv);
    const QTemporaryDir work(QStringLiteral("/var/tmp/kurumu-move-XXXXXX"));
    double ours = 1e9;
    double peer = 1e9;
    for (int run = 0; run < 3; ++run) {
        const QString from = work.filePath(QStringLiteral("from%1").arg(run));
        const QString into = work.filePath(QStringLiteral("into%1").arg(run));
        const QStringList names = makeFiles(from);
        QDir().mkpath(into);
        kurumu::transfer::RunVariables variables;
        BenchHost host;
        const auto files = kurumu::platform::diskServices();
        kurumu::transfer::Transfer transfer(variables, host, *files, {});
        QElapsedTimer timer;
        timer.start();
        for (const QString& name : names) transfer.FileMove2(from + u'/' + name, into + u'/');
        ours = std::min(ours, static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (QDir(into).entryList(QDir::Files).size() != kFiles) std::abort();

        const QString mvFrom = work.filePath(QStringLiteral("mvfrom%1").arg(run));
        const QString mvInto = work.filePath(QStringLiteral("mvinto%1").arg(run));
        makeFiles(mvFrom);
        QDir().mkpath(mvInto);
        QProcess mv;
        mv.setWorkingDirectory(mvFrom);
        timer.restart();
        mv.start(QStringLiteral("mv"), QStringList(names) << mvInto);
        mv.waitForFinished(-1);
        peer = std::min(peer, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("FileMove2 of %d files: %.0f ms   mv: %.0f ms   speed ratio %.2f\n", kFiles, ours, peer, peer / ours);
    return 0;
}
