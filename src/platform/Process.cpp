#include "platform/Process.h"

#include <array>
#include <climits>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace kurumu::platform {

void replaceBySibling(const char* relativePath, char** argv) {
    std::array<char, PATH_MAX> self{};
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (length <= 0) return;
    std::string program(self.data(), static_cast<std::size_t>(length));
    program = program.substr(0, program.rfind('/') + 1) + relativePath;
    ::execv(program.c_str(), argv);
}

bool isWatchedStream(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return true;
    return S_ISCHR(info.st_mode) ? ::isatty(fd) == 1 : !S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode);
}

}  // namespace kurumu::platform
