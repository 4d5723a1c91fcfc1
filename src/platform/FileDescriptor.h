#pragma once

#include "platform/Errors.h"
#include "platform/SystemCalls.h"

#include <utility>

namespace kurumu::platform {

// A file descriptor, closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now and reports the outcome: a write-back error may show only here. Not
    // retried on EINTR, since the descriptor is released whatever close returns.
    Status close() {
        const int fd = std::exchange(m_fd, -1);
        if (fd < 0) return {};
        return sys::os().close(fd) == 0 ? Status{} : Status{errno};
    }

private:
    void reset() {
        if (m_fd >= 0) sys::os().close(std::exchange(m_fd, -1));
    }

    int m_fd;
};

}  // namespace kurumu::platform
