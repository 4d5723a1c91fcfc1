#include "platform/Path.h"

#include <QFile>

namespace kurumu::platform {

QByteArray Path::encoded(const QString& text) {
    return QFile::encodeName(text);
}

}  // namespace kurumu::platform
