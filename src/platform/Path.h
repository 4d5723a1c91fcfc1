#pragma once

#include <QByteArray>
#include <QString>
#include <QStringBuilder>

#include <utility>

namespace kurumu::platform {

// True when every character of the text is ASCII: then the text is its own UTF-8, a byte a
// character, which copyAscii writes at out (returning where it stopped).
bool isAscii(QStringView text);
char* copyAscii(QStringView text, char* out);
// Where the bytes' or the text's last separator is; -1 where there is none.
qsizetype lastSeparator(QByteArrayView bytes);
qsizetype lastSeparator(QStringView text);

// A path as the program shows and judges it (text) and as the system takes it (its UTF-8
// bytes), encoded once when the path becomes known and carried with it from there on:
// through the file services, into the journal's lines, without being encoded again.
class Path {
public:
    Path() = default;
    // Any text path is a path: it is encoded here, once.
    // NOLINTNEXTLINE(google-explicit-constructor)
    Path(const QString& text) : m_text(text), m_bytes(encoded(text)) {}
    // NOLINTNEXTLINE(google-explicit-constructor)
    Path(QString&& text) : m_text(std::move(text)), m_bytes(encoded(m_text)) {}
    template <typename A, typename B>
    // NOLINTNEXTLINE(google-explicit-constructor)
    Path(const QStringBuilder<A, B>& text) : Path(QString(text)) {}
    // Both forms known already, as for a name read from a folder: the caller vouches that
    // they are one path.
    Path(QString text, QByteArray bytes) : m_text(std::move(text)), m_bytes(std::move(bytes)) {}

    const QString& text() const { return m_text; }
    const QByteArray& bytes() const { return m_bytes; }
    // Where the text is read, the path stands for its text.
    operator const QString&() const { return m_text; }  // NOLINT(google-explicit-constructor)
    bool isEmpty() const { return m_text.isEmpty(); }

    // The path with a name appended, the bytes joined rather than encoded again.
    Path joined(const QString& name) const { return {m_text + name, m_bytes + encoded(name)}; }
    // The path with the last name of a file's path appended, both forms cut from that path's
    // own; nothing where that path ends in a separator.
    Path joinedName(const Path& file) const {
        if (file.m_text.endsWith(u'/')) return {};
        const QStringView text = QStringView(file.m_text).sliced(lastSeparator(file.m_text) + 1);
        const QByteArrayView bytes = QByteArrayView(file.m_bytes).sliced(lastSeparator(file.m_bytes) + 1);
        return {m_text + text, m_bytes + bytes};
    }

    friend bool operator==(const Path& a, const Path& b) { return a.m_bytes == b.m_bytes; }

private:
    // The text as the system takes it (as QFile encodes a name).
    static QByteArray encoded(const QString& text);

    QString m_text;
    QByteArray m_bytes;
};

}  // namespace kurumu::platform
