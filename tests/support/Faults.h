#pragma once

#include "platform/SystemCalls.h"

#include <functional>
#include <optional>

// Faults that this machine cannot make for real, injected through the system-call seam
// for the lifetime of one object. Each hook sees a call's arguments and returns an errno
// to fail the call with, or nothing to let the system's own call run.
namespace kurumu::test {

class InjectedFaults {
public:
    InjectedFaults();
    InjectedFaults(const InjectedFaults&) = delete;
    InjectedFaults& operator=(const InjectedFaults&) = delete;
    ~InjectedFaults();

    std::function<std::optional<int>(const char* path, int flags)> openat;
    std::function<std::optional<int>(const char* from, const char* to, unsigned flags)> renameat2;
    std::function<std::optional<int>(const char* from, const char* to)> linkat;
    std::function<std::optional<int>(const char* path)> unlinkat;
    std::function<std::optional<int>(int fd)> close;
    std::function<std::optional<int>(int from, int to)> copyFileRange;
    std::function<std::optional<int>(int fd)> read;
    std::function<std::optional<int>(int fd)> fsync;
    std::function<std::optional<int>(int fd)> fchown;
    std::function<std::optional<int>(int fd)> fallocate;  // the error is returned, as posix_fallocate returns it
    std::function<std::optional<int>(int fd)> mmap;
    std::function<std::optional<int>(int fd, int flags)> setFlags;  // fcntl(F_SETFL)
    // Sees the bytes a read gave, and may change them (a disk that gives back other bytes).
    std::function<void(int fd, char* bytes, ssize_t got)> alterRead;
    // Sees what fstat says of an open file, and may change it.
    std::function<void(int fd, struct stat* info)> alterStat;
    // The file system the open file or folder is on (statfs's f_type), where it says another.
    std::function<std::optional<long>(int fd)> fileSystem;

private:
    const InjectedFaults* m_previous;
    platform::sys::ScopedCalls m_calls;
};

}  // namespace kurumu::test
