// What a look at each file costs a move of many files into one folder, the system calls
// alone: renames alone (as mv makes them), a statx of each file before its rename (as a
// journaled run takes it, to know which file it moves), a statx of the destination just
// after (where mv looks), and a second thread that takes the statx of the files ahead
// while the first renames. Each round makes a new folder and its files, syncs, and moves
// them one way into a new folder below it, the ways in turn; printed: the median of nine
// rounds for each, and its time over the renames' alone.
//
//   bench_look FOLDER [FILES]

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Median.h"

namespace {

using kurumu::bench::median;

constexpr int kRounds = 9;
constexpr int kLookAhead = 64;
constexpr unsigned kFields = STATX_BASIC_STATS | STATX_MNT_ID;  // as the program asks

enum class Look { None, Before, After, AheadOnAnotherThread };

struct Way {
    const char* name;
    Look look;
    std::vector<double> times;
};

std::string nameOf(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "a_%06d.dat", i);
    return name;
}

bool makeFiles(int source, int files) {
    for (int i = 0; i < files; ++i) {
        const int fd = ::openat(source, nameOf(i).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        ::close(fd);
    }
    return ::syncfs(source) == 0;
}

void removeFiles(int folder, int files) {
    for (int i = 0; i < files; ++i) ::unlinkat(folder, nameOf(i).c_str(), 0);
}

// Moves every file from source into destination, looking at each the given way; false with
// errno set when a call fails.
bool moveAll(int source, int destination, const std::vector<std::string>& names, Look look) {
    const int files = static_cast<int>(names.size());
    std::vector<struct statx> states(names.size());
    std::atomic<int> looked{-1};
    std::atomic<int> moved{-1};
    std::jthread ahead;
    if (look == Look::AheadOnAnotherThread) {
        // Stopped when the moves end early, so that it does not wait for moves that never come.
        ahead = std::jthread([&](const std::stop_token& stop) {
            for (int i = 0; i < files; ++i) {
                while (i - moved.load(std::memory_order_acquire) > kLookAhead) {
                    if (stop.stop_requested()) return;
                    std::this_thread::yield();
                }
                ::statx(source, names[static_cast<std::size_t>(i)].c_str(), AT_SYMLINK_NOFOLLOW, kFields,
                        &states[static_cast<std::size_t>(i)]);
                looked.store(i, std::memory_order_release);
            }
        });
    }
    struct statx state {};
    for (int i = 0; i < files; ++i) {
        const char* const name = names[static_cast<std::size_t>(i)].c_str();
        if (look == Look::Before && ::statx(source, name, AT_SYMLINK_NOFOLLOW, kFields, &state) != 0) return false;
        if (look == Look::AheadOnAnotherThread) {
            while (looked.load(std::memory_order_acquire) < i) std::this_thread::yield();
        }
        if (::renameat2(source, name, destination, name, RENAME_NOREPLACE) != 0) return false;
        moved.store(i, std::memory_order_release);
        if (look == Look::After && ::statx(destination, name, AT_SYMLINK_NOFOLLOW, kFields, &state) != 0) return false;
    }
    return true;
}

// A fresh pair of folders for one round, as a user's would be: a folder that has held many
// names keeps its grown index, and moves into it cost less than into a new one.
// Made at the start of the round, and removed with the files in them at its end.
struct Folders {
    std::string path;
    int files;
    int source = -1;
    int destination = -1;
    Folders(const std::string& base, int round, int files) : path(base + "/" + std::to_string(round)), files(files) {
        const std::string into = path + "/a";
        if (::mkdir(path.c_str(), 0700) != 0 || ::mkdir(into.c_str(), 0700) != 0) return;
        source = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        destination = ::open(into.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    Folders(const Folders&) = delete;
    Folders& operator=(const Folders&) = delete;
    bool valid() const { return source >= 0 && destination >= 0; }
    ~Folders() {
        removeFiles(source, files);
        removeFiles(destination, files);
        if (source >= 0) ::close(source);
        if (destination >= 0) ::close(destination);
        ::rmdir((path + "/a").c_str());
        ::rmdir(path.c_str());
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_look FOLDER [FILES]\n");
        return 2;
    }
    const int files = argc > 2 ? std::atoi(argv[2]) : 10000;
    const std::string base = std::string(argv[1]) + "/kurumu-look";
    if (::mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) {
        std::perror(base.c_str());
        return 1;
    }
    std::vector<std::string> names;
    for (int i = 0; i < files; ++i) names.push_back(nameOf(i));
    std::array<Way, 4> ways{Way{"renames alone (mv)", Look::None, {}},
                            Way{"statx before each rename", Look::Before, {}},
                            Way{"statx of the destination after", Look::After, {}},
                            Way{"statx ahead on a second thread", Look::AheadOnAnotherThread, {}}};
    int status = 0;
    for (int round = 0; round < kRounds && status == 0; ++round) {
        for (std::size_t k = 0; k < ways.size() && status == 0; ++k) {
            Way& way = ways[(k + static_cast<std::size_t>(round)) % ways.size()];
            const Folders folders(base, round * static_cast<int>(ways.size()) + static_cast<int>(k), files);
            if (!folders.valid() || !makeFiles(folders.source, files)) {
                std::perror("making the files");
                status = 1;
            }
            const auto start = std::chrono::steady_clock::now();
            if (status == 0 && !moveAll(folders.source, folders.destination, names, way.look)) {
                std::perror(way.name);
                status = 1;
            }
            const auto end = std::chrono::steady_clock::now();
            way.times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        }
    }
    ::rmdir(base.c_str());
    if (status != 0) return status;
    std::printf("a move of %d files into a new folder in %s, median of %d rounds:\n", files, argv[1], kRounds);
    const double alone = median(ways[0].times);
    for (const Way& way : ways) {
        std::printf("  %-34s %8.1f ms   %.2f times the renames alone\n", way.name, median(way.times),
                    median(way.times) / alone);
    }
    return 0;
}
