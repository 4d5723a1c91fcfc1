#pragma once

#include <QByteArray>

// The process itself.
namespace kurumu::platform {

// Replaces this process by the program at a path relative to the folder of this one,
// with the same arguments and environment; returns only when that program cannot be run.
void replaceBySibling(const char* relativePath, char** argv);

// The user the process acts as (its effective user ID).
quint32 effectiveUser();

// This process's ID.
qint64 processId();

// What tells this boot of the system from every other; empty where the system does not say.
QByteArray bootId();

}  // namespace kurumu::platform
