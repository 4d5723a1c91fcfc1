#include "platform/SystemCalls.h"

#include <cstdio>
#include <cstdlib>

#include <pwd.h>

#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace kurumu::platform::sys {

namespace {

int openAt(int folder, const char* path, int flags, mode_t mode) {
    return ::openat(folder, path, flags, mode);
}

int fileControl(int fd, int command, int argument) {
    return ::fcntl(fd, command, argument);
}

int inodeFlagsOf(int fd, unsigned* flags) {
    int value = 0;
    const int answered = ::ioctl(fd, FS_IOC_GETFLAGS, &value);
    if (answered == 0) *flags = static_cast<unsigned>(value);
    return answered;
}

int syncFileRange(int fd, off_t offset, off_t length, unsigned flags) {
    return ::sync_file_range(fd, offset, length, flags);
}

int openAt2(int folder, const char* path, const struct open_how* how, size_t size) {
    return static_cast<int>(::syscall(SYS_openat2, folder, path, how, size));
}

const Calls kSystemCalls{
    .openat = openAt,
    .openat2 = openAt2,
    .close = ::close,
    .read = ::read,
    .pread = ::pread,
    .write = ::write,
    .copy_file_range = ::copy_file_range,
    .fstat = ::fstat,
    .fstatat = ::fstatat,
    .statx = ::statx,
    .fstatfs = ::fstatfs,
    .name_to_handle_at = ::name_to_handle_at,
    .renameat2 = ::renameat2,
    .linkat = ::linkat,
    .unlinkat = ::unlinkat,
    .mkdirat = ::mkdirat,
    .fsync = ::fsync,
    .fdatasync = ::fdatasync,
    .fchmod = ::fchmod,
    .fchown = ::fchown,
    .fchownat = ::fchownat,
    .futimens = ::futimens,
    .utimensat = ::utimensat,
    .readlinkat = ::readlinkat,
    .symlinkat = ::symlinkat,
    .flistxattr = ::flistxattr,
    .fgetxattr = ::fgetxattr,
    .fsetxattr = ::fsetxattr,
    .fdopendir = ::fdopendir,
    .readdir = ::readdir,
    .closedir = ::closedir,
    .flock = ::flock,
    .posix_fallocate = ::posix_fallocate,
    .ftruncate = ::ftruncate,
    .mmap = ::mmap,
    .fcntl = fileControl,
    .inodeFlags = inodeFlagsOf,
    .geteuid = ::geteuid,
    .fchmodat = ::fchmodat,
    .sync_file_range = syncFileRange,
    .posix_fadvise = ::posix_fadvise,
    .realpath = ::realpath,
    .madvise = ::madvise,
    .munmap = ::munmap,
    .getpid = ::getpid,
    .getcwd = ::getcwd,
    .sysconf = ::sysconf,
    .getpwuid = ::getpwuid,
    .sigaction = ::sigaction,
    .execv = ::execv,
    .pipe2 = ::pipe2,
    .clock_gettime = ::clock_gettime,
    .socket = ::socket,
    .bind = ::bind,
    .listen = ::listen,
    .accept4 = ::accept4,
    .connect = ::connect,
    .getsockopt = ::getsockopt,
    .send = ::send,
    .recv = ::recv,
    .poll = ::poll,
};

const Calls* g_inForce = &kSystemCalls;

}  // namespace

const Calls& os() {
    return *g_inForce;
}

const Calls& systemCalls() {
    return kSystemCalls;
}

ScopedCalls::ScopedCalls(const Calls& replacement) : m_previous(g_inForce), m_calls(replacement) {
    g_inForce = &m_calls;
}

ScopedCalls::~ScopedCalls() {
    g_inForce = m_previous;
}

}  // namespace kurumu::platform::sys
