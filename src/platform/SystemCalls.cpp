#include "platform/SystemCalls.h"

#include <cstdio>

#include <sys/xattr.h>
#include <unistd.h>

namespace kurumu::platform::sys {

namespace {

int openAt(int folder, const char* path, int flags, mode_t mode) {
    return ::openat(folder, path, flags, mode);
}

const Calls kSystemCalls{
    openAt,       ::close,     ::read,      ::pread,     ::write,     ::copy_file_range, ::fstat,
    ::fstatat,    ::renameat2, ::linkat,    ::unlinkat,  ::mkdirat,   ::fsync,           ::fdatasync,
    ::fchmod,     ::fchown,    ::fchownat,  ::futimens,  ::utimensat, ::readlinkat,      ::symlinkat,
    ::flistxattr, ::fgetxattr, ::fsetxattr, ::fdopendir, ::readdir,   ::closedir,
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
