#pragma once

// The process itself.
namespace kurumu::platform {

// Replaces this process by the program at a path relative to the folder of this one,
// with the same arguments and environment; returns only when that program cannot be run.
void replaceBySibling(const char* relativePath, char** argv);

}  // namespace kurumu::platform
