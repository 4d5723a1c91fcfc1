#include "platform/Paths.h"

#include "platform/SystemCalls.h"

#include <QDir>
#include <QFile>
#include <QStringTokenizer>

#include <array>
#include <climits>
#include <cstdlib>

namespace kurumu::platform {

QString GetParentfolderName(const QString& path) {
    const QString trimmed = withoutTrailingSeparator(path);
    const qsizetype slash = lastSeparator(trimmed);
    if (slash < 0 || trimmed.size() == 1) return {};
    if (slash == 0) return QString(kSeparator);
    return trimmed.left(slash);
}

QString GetFileName(const QString& path) {
    return fileNameIn(path).toString();
}

QStringView fileNameIn(QStringView path) {
    const QStringView trimmed = withoutTrailingSeparators(path);
    if (trimmed.size() == 1 && trimmed.front() == kSeparator) return {};
    return trimmed.sliced(lastSeparator(trimmed) + 1);
}

QString GetBaseName(const QString& path) {
    const QString name = GetFileName(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

QString GetExtensionName(const QString& path) {
    const QString name = GetFileName(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QString withTrailingSeparator(const QString& path) {
    return path.endsWith(kSeparator) ? path : path + kSeparator;
}

QString withoutTrailingSeparator(const QString& path) {
    return path.left(withoutTrailingSeparators(path).size());
}

QStringView withoutTrailingSeparators(QStringView path) {
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == kSeparator) --end;
    return path.first(end);
}

QString systemRoot() {
    return QDir::rootPath();
}

}  // namespace kurumu::platform

namespace kurumu::platform {

QString workingFolder() {
    std::array<char, PATH_MAX> bytes{};
    if (sys::os().getcwd(bytes.data(), bytes.size()) == nullptr) return {};
    const QByteArray folder(bytes.data());
    const QString decoded = QFile::decodeName(folder);
    return QFile::encodeName(decoded) == folder ? decoded : QString();
}

namespace {

// A path with nothing to clean: no "." or ".." component, no "//", no "/" at its end (read
// once, component by component).
bool isPlainPath(QStringView path) {
    if (path.isEmpty() || path.endsWith(kSeparator)) return false;
    qsizetype start = 0;
    for (qsizetype end = 0; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != kSeparator) continue;
        const QStringView component = path.sliced(start, end - start);
        if ((component.isEmpty() && end > 0) || component == u"." || component == u"..") return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

QString absolutePath(const QString& path, const QString& base) {
    const bool absolute = path.startsWith(kSeparator);
    if (!absolute && base.isEmpty()) return {};
    // Most paths a shell or a file manager gives need no work but joining.
    if (isPlainPath(path)) {
        if (absolute) return path;
        return base + QStringView(base.endsWith(kSeparator) ? u"" : u"/") + QStringView(path);
    }
    QString joined = QDir(base).absoluteFilePath(path);
    if (!joined.split(kSeparator).contains(QStringLiteral(".."))) return QDir::cleanPath(joined);
    // The folder part resolved on the disk; the last component stays the entry named,
    // never what a link there points to.
    const QString trimmed = withoutTrailingSeparator(joined);
    const QString last = GetFileName(trimmed);
    const bool lastIsDots = last == u"." || last == u"..";
    const QString folder = lastIsDots ? trimmed : GetParentfolderName(trimmed);
    std::array<char, PATH_MAX> resolved{};
    // A folder that is not there cannot be resolved: the path stays as given, and names nothing.
    if (sys::os().realpath(QFile::encodeName(folder).constData(), resolved.data()) == nullptr) return joined;
    const QString real = QFile::decodeName(QByteArray(resolved.data()));
    return lastIsDots ? real : withTrailingSeparator(real) + last;
}

}  // namespace kurumu::platform
