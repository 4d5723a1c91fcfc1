#include "platform/Path.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace kurumu::platform {

bool isAscii(QStringView text) {
    return QtPrivate::isAscii(text);  // Qt's own test, many characters at a time
}

char* copyAscii(QStringView text, char* out) {
    return std::transform(text.cbegin(), text.cend(), out, [](QChar c) { return static_cast<char>(c.unicode()); });
}

qsizetype lastSeparator(QByteArrayView bytes) {
    const void* const found = memrchr(bytes.data(), '/', static_cast<std::size_t>(bytes.size()));
    return found == nullptr ? -1 : static_cast<const char*>(found) - bytes.data();
}

// A name is short: read back from the end, a character at a time.
qsizetype lastSeparator(QStringView text) {
    qsizetype at = text.size() - 1;
    while (at >= 0 && text[at] != u'/') --at;
    return at;
}

// Text of ASCII alone (most paths) is its own encoding, a byte a character (as Latin-1 has
// it); the rest is encoded as QFile encodes a name.
QByteArray Path::encoded(const QString& text) {
    return isAscii(text) ? text.toLatin1() : QFile::encodeName(text);
}

}  // namespace kurumu::platform
