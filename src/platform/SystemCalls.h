#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <poll.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>

#include <cerrno>
#include <csignal>
#include <ctime>

// The operating system calls that the file services make, gathered in one table so that
// tests can replace a call to inject a fault this machine cannot make for real (an error
// in the middle of a copy, a file system without unnamed files, a failing close).
namespace kurumu::platform::sys {

struct Calls {
    int (*openat)(int folder, const char* path, int flags, mode_t mode);
    // openat2(2), which the C library does not wrap; ENOSYS on kernels without it.
    int (*openat2)(int folder, const char* path, const struct open_how* how, size_t size);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t size);
    ssize_t (*pread)(int fd, void* buffer, size_t size, off_t offset);
    ssize_t (*write)(int fd, const void* data, size_t size);
    ssize_t (*copy_file_range)(int from, off_t* fromOffset, int to, off_t* toOffset, size_t size, unsigned flags);
    int (*fstat)(int fd, struct stat* info);
    int (*fstatat)(int folder, const char* path, struct stat* info, int flags);
    int (*statx)(int folder, const char* path, int flags, unsigned mask, struct statx* info);
    int (*fstatfs)(int fd, struct statfs* info);
    int (*name_to_handle_at)(int folder, const char* path, struct file_handle* handle, int* mount, int flags);
    int (*renameat2)(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags);
    int (*linkat)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
    int (*unlinkat)(int folder, const char* path, int flags);
    int (*mkdirat)(int folder, const char* path, mode_t mode);
    int (*fsync)(int fd);
    int (*fdatasync)(int fd);
    int (*fchmod)(int fd, mode_t mode);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    int (*fchownat)(int folder, const char* path, uid_t owner, gid_t group, int flags);
    int (*futimens)(int fd, const struct timespec times[2]);
    int (*utimensat)(int folder, const char* path, const struct timespec times[2], int flags);
    ssize_t (*readlinkat)(int folder, const char* path, char* buffer, size_t size);
    int (*symlinkat)(const char* target, int folder, const char* path);
    ssize_t (*flistxattr)(int fd, char* names, size_t size);
    ssize_t (*fgetxattr)(int fd, const char* name, void* value, size_t size);
    int (*fsetxattr)(int fd, const char* name, const void* value, size_t size, int flags);
    DIR* (*fdopendir)(int fd);
    struct dirent* (*readdir)(DIR* folder);
    int (*closedir)(DIR* folder);
    int (*flock)(int fd, int operation);
    int (*posix_fallocate)(int fd, off_t offset, off_t length);  // returns the error, not -1
    int (*ftruncate)(int fd, off_t length);
    void* (*mmap)(void* address, size_t length, int protection, int flags, int fd, off_t offset);
    int (*fcntl)(int fd, int command, int argument);  // the commands that take an int
    int (*inodeFlags)(int fd, unsigned* flags);       // ioctl FS_IOC_GETFLAGS
    uid_t (*geteuid)();
    int (*fchmodat)(int folder, const char* path, mode_t mode, int flags);
    int (*sync_file_range)(int fd, off_t offset, off_t length, unsigned flags);
    int (*posix_fadvise)(int fd, off_t offset, off_t length, int advice);  // returns the error, not -1
    char* (*realpath)(const char* path, char* resolved);
    int (*madvise)(void* address, size_t length, int advice);
    int (*munmap)(void* address, size_t length);
    pid_t (*getpid)();
    char* (*getcwd)(char* buffer, size_t size);
    long (*sysconf)(int name);
    struct passwd* (*getpwuid)(uid_t user);
    int (*sigaction)(int signal, const struct sigaction* action, struct sigaction* previous);
    int (*execv)(const char* program, char* const arguments[]);
    int (*pipe2)(int ends[2], int flags);
    int (*clock_gettime)(clockid_t clock, struct timespec* time);
    // The handoff between two starts of the window, on a Unix socket.
    int (*socket)(int domain, int type, int protocol);
    int (*bind)(int socket, const struct sockaddr* address, socklen_t size);
    int (*listen)(int socket, int backlog);
    int (*accept4)(int socket, struct sockaddr* address, socklen_t* size, int flags);
    int (*connect)(int socket, const struct sockaddr* address, socklen_t size);
    int (*getsockopt)(int socket, int level, int name, void* value, socklen_t* size);
    ssize_t (*send)(int socket, const void* data, size_t size, int flags);
    ssize_t (*recv)(int socket, void* buffer, size_t size, int flags);
    int (*poll)(struct pollfd* fds, nfds_t count, int timeout);
};

// The calls in force: the system's own unless a test has replaced some.
const Calls& os();
// The system's own calls, whatever is in force.
const Calls& systemCalls();

// Replaces the calls in force for its lifetime (tests only; not thread-safe).
class ScopedCalls {
public:
    explicit ScopedCalls(const Calls& replacement);
    ScopedCalls(const ScopedCalls&) = delete;
    ScopedCalls& operator=(const ScopedCalls&) = delete;
    ~ScopedCalls();

private:
    const Calls* m_previous;
    Calls m_calls;
};

// Repeats a call while it fails with EINTR, as every blocking call must.
template <typename Call>
auto retry(Call call) {
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR) return result;
    }
}

}  // namespace kurumu::platform::sys
