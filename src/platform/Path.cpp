#include "platform/Path.h"

#include <QFile>

#include <algorithm>

namespace kurumu::platform {

bool isAscii(QStringView text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

char* copyAscii(QStringView text, char* out) {
    return std::transform(text.cbegin(), text.cend(), out, [](QChar c) { return static_cast<char>(c.unicode()); });
}

// Text of ASCII alone (most paths) is its own encoding, a byte a character; the rest is
// encoded as QFile encodes a name.
QByteArray Path::encoded(const QString& text) {
    if (!isAscii(text)) return QFile::encodeName(text);
    QByteArray bytes(text.size(), Qt::Uninitialized);
    copyAscii(text, bytes.data());
    return bytes;
}

}  // namespace kurumu::platform
