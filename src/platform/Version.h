#pragma once

#include <QString>

namespace kurumu::platform {

// The program's version, as the build gives it.
inline QString programVersion() {
    return QStringLiteral(KURUMU_VERSION);
}

}  // namespace kurumu::platform
