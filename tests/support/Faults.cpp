#include "support/Faults.h"

#include <cerrno>

#include <sys/mman.h>

namespace kurumu::test {

namespace {

using platform::sys::systemCalls;

const InjectedFaults* g_faults = nullptr;

// Runs the hook, if any: true (with errno set) when it asks the call to fail.
template <typename Hook, typename... Arguments>
bool injected(const Hook& hook, Arguments... arguments) {
    if (!hook) return false;
    const std::optional<int> error = hook(arguments...);
    if (!error) return false;
    errno = *error;
    return true;
}

platform::sys::Calls faultyCalls() {
    platform::sys::Calls calls = systemCalls();
    calls.openat = [](int folder, const char* path, int flags, mode_t mode) {
        if (injected(g_faults->openat, path, flags)) return -1;
        return systemCalls().openat(folder, path, flags, mode);
    };
    calls.renameat2 = [](int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
        if (injected(g_faults->renameat2, from, to, flags)) return -1;
        return systemCalls().renameat2(fromFolder, from, toFolder, to, flags);
    };
    calls.linkat = [](int fromFolder, const char* from, int toFolder, const char* to, int flags) {
        if (injected(g_faults->linkat, from, to)) return -1;
        return systemCalls().linkat(fromFolder, from, toFolder, to, flags);
    };
    calls.unlinkat = [](int folder, const char* path, int flags) {
        if (injected(g_faults->unlinkat, path)) return -1;
        return systemCalls().unlinkat(folder, path, flags);
    };
    calls.fstat = [](int fd, struct stat* info) {
        const int seen = systemCalls().fstat(fd, info);
        if (seen == 0 && g_faults->alterStat) g_faults->alterStat(fd, info);
        return seen;
    };
    calls.fstatfs = [](int fd, struct statfs* info) {
        const int seen = systemCalls().fstatfs(fd, info);
        if (seen != 0 || !g_faults->fileSystem) return seen;
        if (const std::optional<long> type = g_faults->fileSystem(fd)) info->f_type = *type;
        return seen;
    };
    calls.close = [](int fd) {
        const int closed = systemCalls().close(fd);
        if (injected(g_faults->close, fd)) return -1;  // the descriptor is gone either way
        return closed;
    };
    calls.copy_file_range = [](int from, off_t* fromOffset, int to, off_t* toOffset, size_t size, unsigned flags) {
        if (injected(g_faults->copyFileRange, from, to)) return ssize_t{-1};
        return systemCalls().copy_file_range(from, fromOffset, to, toOffset, size, flags);
    };
    calls.read = [](int fd, void* buffer, size_t size) {
        if (injected(g_faults->read, fd)) return ssize_t{-1};
        return systemCalls().read(fd, buffer, size);
    };
    calls.pread = [](int fd, void* buffer, size_t size, off_t offset) {
        if (injected(g_faults->read, fd)) return ssize_t{-1};
        const ssize_t got = systemCalls().pread(fd, buffer, size, offset);
        if (got > 0 && g_faults->alterRead) g_faults->alterRead(fd, static_cast<char*>(buffer), got);
        return got;
    };
    calls.fsync = [](int fd) {
        if (injected(g_faults->fsync, fd)) return -1;
        return systemCalls().fsync(fd);
    };
    calls.fchown = [](int fd, uid_t owner, gid_t group) {
        if (injected(g_faults->fchown, fd)) return -1;
        return systemCalls().fchown(fd, owner, group);
    };
    calls.posix_fallocate = [](int fd, off_t offset, off_t length) {
        if (g_faults->fallocate) {
            if (const std::optional<int> error = g_faults->fallocate(fd)) return *error;
        }
        return systemCalls().posix_fallocate(fd, offset, length);
    };
    calls.fcntl = [](int fd, int command, int argument) {
        if (command == F_SETFL && injected(g_faults->setFlags, fd, argument)) return -1;
        return systemCalls().fcntl(fd, command, argument);
    };
    calls.mmap = [](void* address, size_t length, int protection, int flags, int fd, off_t offset) {
        if (injected(g_faults->mmap, fd)) return MAP_FAILED;
        return systemCalls().mmap(address, length, protection, flags, fd, offset);
    };
    return calls;
}

}  // namespace

InjectedFaults::InjectedFaults() : m_previous(g_faults), m_calls(faultyCalls()) {
    g_faults = this;
}

InjectedFaults::~InjectedFaults() {
    g_faults = m_previous;
}

}  // namespace kurumu::test
