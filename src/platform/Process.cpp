#include "platform/Process.h"

#include "platform/FileSystem.h"

#include <QString>

#include <array>
#include <climits>
#include <string>

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

QByteArray bootId() {
    static const QByteArray id = readFileStart(QStringLiteral("/proc/sys/kernel/random/boot_id"), 64).value.trimmed();
    return id;
}

}  // namespace kurumu::platform
