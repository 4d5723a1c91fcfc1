#include "platform/SystemCalls.h"

#include <cstdio>

#include <sys/file.h>
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
    .geteuid = ::geteuid,
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
