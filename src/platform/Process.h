#pragma once

// The process itself.
namespace kurumu::platform {

// Replaces this process by the program at a path relative to the folder of this one,
// with the same arguments and environment; returns only when that program cannot be run.
void replaceBySibling(const char* relativePath, char** argv);

// True when someone may be reading the stream as it is written: a terminal, a pipe or a
// socket. Output into a file or /dev/null is read afterwards and can be buffered.
bool isWatchedStream(int fd);

}  // namespace kurumu::platform
