#include "platform/Process.h"

#include "platform/FileSystem.h"
#include "platform/SystemCalls.h"

#include <QString>

#include <array>
#include <climits>
#include <string>

namespace kurumu::platform {

void replaceBySibling(const char* relativePath, char** argv) {
    std::array<char, PATH_MAX> self{};
    const ssize_t length = sys::os().readlinkat(AT_FDCWD, "/proc/self/exe", self.data(), self.size() - 1);
    if (length <= 0) return;
    std::string program(self.data(), static_cast<std::size_t>(length));
    program = program.substr(0, program.rfind('/') + 1) + relativePath;
    sys::os().execv(program.c_str(), argv);
}

quint32 effectiveUser() {
    return sys::os().geteuid();
}

qint64 processId() {
    return sys::os().getpid();
}

QByteArray bootId() {
    // Read to its end: the system gives the file no length.
    static const QByteArray id = [] {
        QByteArray text;
        (void)readFileBlocks(QStringLiteral("/proc/sys/kernel/random/boot_id"),
                             [&](const std::byte* bytes, std::size_t size) {
                                 text.append(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
                             });
        return text.trimmed();
    }();
    return id;
}

}  // namespace kurumu::platform
