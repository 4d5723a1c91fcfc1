// Telling two files apart by their bytes, against cmp of the same two files in the same
// run: two equal 1 GiB files, two that differ in their last byte, two that differ in the
// first block. The page cache is warm for both. Prints the ratio cmp time / our time.
#include "platform/FileServices.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

constexpr qint64 kSize = qint64{1} << 30;

void writeCopy(const QString& path, const QByteArray& block, qint64 changeAt) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) std::abort();
    for (qint64 written = 0; written < kSize; written += block.size()) {
        QByteArray chunk = block;
        if (changeAt >= written && changeAt < written + block.size()) chunk[changeAt - written] ^= 1;
        if (file.write(chunk) != chunk.size()) std::abort();
    }
}

double bestOf(int runs, const std::function<void()>& work) {
    double best = 1e18;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

double cmpTime(const QString& a, const QString& b) {
    return bestOf(3, [&] {
        QProcess cmp;
        cmp.start(QStringLiteral("cmp"), {QStringLiteral("-s"), a, b});
        cmp.waitForFinished(-1);
    });
}

double ourTime(const QString& a, const QString& b, bool expectEqual) {
    return bestOf(3, [&] {
        const auto same = kurumu::platform::realFileServices().sameContents(a, b, {});
        if (!same.ok() || same.value != expectEqual) std::abort();
    });
}

}  // namespace

int main(int argc, char** argv) {
    const QCoreApplication application(argc, argv);
    const QTemporaryDir work(QStringLiteral("/var/tmp/kurumu-identity-XXXXXX"));
    QByteArray block(16 << 20, '\0');
    QRandomGenerator random(7);
    random.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    const QString original = work.filePath(QStringLiteral("a"));
    const QString equal = work.filePath(QStringLiteral("b"));
    const QString lastByte = work.filePath(QStringLiteral("c"));
    const QString firstBlock = work.filePath(QStringLiteral("d"));
    writeCopy(original, block, -1);
    writeCopy(equal, block, -1);
    writeCopy(lastByte, block, kSize - 1);
    writeCopy(firstBlock, block, 100);
    ourTime(original, equal, true);  // warms the page cache for both

    const double ours = ourTime(original, equal, true);
    const double peer = cmpTime(original, equal);
    std::printf("equal 1 GiB files             kurumu %8.1f ms   cmp %8.1f ms   speed ratio %.2f\n", ours, peer,
                peer / ours);
    const double oursLast = ourTime(original, lastByte, false);
    const double peerLast = cmpTime(original, lastByte);
    std::printf("differ in the last byte       kurumu %8.1f ms   cmp %8.1f ms   speed ratio %.2f\n", oursLast, peerLast,
                peerLast / oursLast);
    const double oursFirst = ourTime(original, firstBlock, false);
    const double peerFirst = cmpTime(original, firstBlock);
    std::printf("differ in the first block     kurumu %8.3f ms   cmp %8.3f ms\n", oursFirst, peerFirst);
    return 0;
}
