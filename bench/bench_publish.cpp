// The ways a copy can be published under its name, timed against each other on one folder:
// the plain exclusive create that cp uses (which leaves a partial file behind on a kill),
// an unnamed file linked under the name (O_TMPFILE + linkat), and a hidden name renamed
// without replacing (renameat2 RENAME_NOREPLACE). Each round writes 2,000 files of 4 KiB
// by each way in turn, the order rotating from round to round; printed: the median of
// nine rounds for each, and the ratio to the plain create, or why the folder's disk
// cannot publish that way.
//
//   bench_publish FOLDER [FILES]

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "Median.h"

namespace {

using kurumu::bench::median;

constexpr int kRounds = 9;

struct Way {
    const char* name;
    // Writes the file under the name in the folder; false with errno set when it cannot.
    std::function<bool(int folder, const std::string& name, const std::vector<char>& data)> publish;
    std::vector<double> times;
    int refused = 0;
};

bool writeAll(int fd, const std::vector<char>& data) {
    return ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
}

bool plainCreate(int folder, const std::string& name, const std::vector<char>& data) {
    const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = writeAll(fd, data);
    ::close(fd);
    return written;
}

bool unnamedThenLinked(int folder, const std::string& name, const std::vector<char>& data) {
    const int fd = ::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool published = writeAll(fd, data) && ::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return published;
}

bool hiddenThenRenamed(int folder, const std::string& name, const std::vector<char>& data) {
    const std::string hidden = ".pending-" + name;
    const int fd = ::openat(folder, hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool published = writeAll(fd, data);
    ::close(fd);
    published = published && ::renameat2(folder, hidden.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0;
    const int error = errno;
    if (!published) ::unlinkat(folder, hidden.c_str(), 0);
    errno = error;
    return published;
}

void removeAll(int folder, int files) {
    for (int i = 0; i < files; ++i) ::unlinkat(folder, ("f" + std::to_string(i)).c_str(), 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_publish FOLDER [FILES] [BYTES]\n");
        return 2;
    }
    const int files = argc > 2 ? std::atoi(argv[2]) : 2000;
    const std::size_t size = argc > 3 ? static_cast<std::size_t>(std::atoll(argv[3])) : 4096;
    const std::string base = std::string(argv[1]) + "/kurumu-publish";
    if (::mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) {
        std::perror(base.c_str());
        return 1;
    }
    const int folder = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        std::perror(base.c_str());
        return 1;
    }
    struct statfs disk {};
    ::fstatfs(folder, &disk);
    const std::vector<char> data(size, 'p');
    std::array<Way, 3> ways{Way{"plain exclusive create (cp)", plainCreate, {}, 0},
                            Way{"O_TMPFILE + linkat", unnamedThenLinked, {}, 0},
                            Way{"hidden name + renameat2", hiddenThenRenamed, {}, 0}};
    for (int round = 0; round < kRounds; ++round) {
        for (std::size_t k = 0; k < ways.size(); ++k) {
            Way& way = ways[(k + static_cast<std::size_t>(round)) % ways.size()];
            removeAll(folder, files);
            ::syncfs(folder);
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < files && way.refused == 0; ++i) {
                if (!way.publish(folder, "f" + std::to_string(i), data)) way.refused = errno;
            }
            const auto end = std::chrono::steady_clock::now();
            way.times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        }
    }
    removeAll(folder, files);
    ::close(folder);
    ::rmdir(base.c_str());
    std::printf("publish of %d files of %zu bytes in %s (file system 0x%lx), median of %d rounds:\n", files, size,
                argv[1], static_cast<unsigned long>(disk.f_type), kRounds);
    const double plain = median(ways[0].times);
    for (const Way& way : ways) {
        if (way.refused != 0) {
            std::printf("  %-30s cannot: %s\n", way.name, std::strerror(way.refused));
            continue;
        }
        std::printf("  %-30s %8.1f ms   %.2f times the plain create\n", way.name, median(way.times),
                    median(way.times) / plain);
    }
    return 0;
}
