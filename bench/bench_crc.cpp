// CRC-32 throughput of each method against zlib's crc32() on the same buffer, and
// GetFileCRC of a file given on the command line.
#include "checksum/GetCRC.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <cstdio>
#include <vector>

#ifdef KURUMU_HAVE_ZLIB
#include <zlib.h>
#endif

using namespace kurumu::checksum;

namespace {

template <typename F>
double bestGbPerSecond(std::size_t bytes, int runs, F&& work) {
    double best = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::max(best, static_cast<double>(bytes) / static_cast<double>(timer.nsecsElapsed()));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        const QString path = QString::fromLocal8Bit(argv[1]);
        QElapsedTimer timer;
        timer.start();
        const auto crc = GetFileCRC(path);
        const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        std::printf("GetFileCRC %s: %s in %.3f s\n", argv[1], qPrintable(crc.value), seconds);
        return crc.ok() ? 0 : 1;
    }
    const std::size_t size = 256u << 20;
    std::vector<std::byte> buffer(size);
    QRandomGenerator random(3);
    random.fillRange(reinterpret_cast<quint32*>(buffer.data()), size / 4);
    const std::span<const std::byte> bytes(buffer);
    volatile std::uint32_t sink = 0;

    double zlib = 0;
#ifdef KURUMU_HAVE_ZLIB
    zlib = bestGbPerSecond(size, 5, [&] {
        sink = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(size)));
    });
    std::printf("%-22s %7.2f GB/s\n", "zlib crc32()", zlib);
#endif
    const std::array<std::pair<CrcMethod, const char*>, 4> methods{{{CrcMethod::Reference, "byte at a time"},
                                                                    {CrcMethod::Slicing16, "slicing by 16"},
                                                                    {CrcMethod::Pclmul, "pclmulqdq folding"},
                                                                    {CrcMethod::Vpclmul, "vpclmulqdq folding"}}};
    for (const auto& [method, name] : methods) {
        if (!methodAvailable(method)) {
            std::printf("%-22s not on this processor\n", name);
            continue;
        }
        const int runs = method == CrcMethod::Reference ? 1 : 5;
        const double speed = bestGbPerSecond(size, runs, [&] { sink = crc32Update(kCrcInitial, bytes, method); });
        if (zlib > 0) {
            std::printf("%-22s %7.2f GB/s  %5.2f x zlib\n", name, speed, speed / zlib);
        } else {
            std::printf("%-22s %7.2f GB/s\n", name, speed);
        }
    }
    (void)sink;
    return 0;
}
