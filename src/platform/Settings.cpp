#include "platform/Settings.h"

#include "platform/FileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

namespace kurumu::platform {

namespace {

constexpr qsizetype kLineCount = 13;

struct LineTexts {
    const char16_t* key;
    const char16_t* on;
    const char16_t* off;
};

// Key and value words of each line, in file order.
constexpr std::array<LineTexts, kLineCount> kLines{{
    {u"連番位置", u"BOTTOM", u"TOP"},
    {u"CRC32", u"ON", u"OFF"},
    {u"全同名ファイルのチェック", u"ON", u"OFF"},
    {u"フォルダ構造維持", u"ON", u"OFF"},
    {u"動作モード", u"copy", u"move"},
    {u"実行ボタン", u"使う", u"使わない"},
    {u"書き込みエラー以外無視", u"ON", u"OFF"},
    {u"作るフォルダ名を一致した文字数分とする", u"ON", u"OFF"},
    {u"自動まとめ判定しない", u"ON", u"OFF"},
    {u"最初の括弧基準で自動まとめ", u"ON", u"OFF"},
    {u"最後の括弧基準で自動まとめ", u"ON", u"OFF"},
    {u"最後のof基準で自動まとめ", u"ON", u"OFF"},
    {u"括弧基準ではない自動まとめ", u"ON", u"OFF"},
}};

// Line 5's on-word is "copy": it stands for the copy mode, not for a menu's tick.
constexpr qsizetype kModeLine = 4;
constexpr qsizetype kFirstRuleLine = 8;

QByteArray shiftJis(const QString& text) {
    QStringEncoder encoder("Shift_JIS");
    return encoder.encode(text);
}

QString fromShiftJis(const QByteArray& bytes) {
    QStringDecoder decoder("Shift_JIS");
    return decoder.decode(bytes);
}

QByteArray line(qsizetype index, bool on) {
    const LineTexts& texts = kLines[static_cast<std::size_t>(index)];
    return shiftJis(QString::fromUtf16(texts.key) + u'=' + QString::fromUtf16(on ? texts.on : texts.off));
}

// The lines of a file as ReadLine gives them: ended by LF, with a CR before it dropped.
QList<QByteArray> fileLines(const QByteArray& bytes) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        const qsizetype next = end < 0 ? bytes.size() : end + 1;
        if (end < 0) end = bytes.size();
        const qsizetype length = end > start && bytes.at(end - 1) == '\r' ? end - start - 1 : end - start;
        lines.append(bytes.mid(start, length));
        if (lines.size() == kLineCount) break;
        start = next;
    }
    return lines;
}

// The test of each line: does the text end with the on-word?
bool endsWithOnWord(const QString& text, qsizetype index) {
    const QString word = QString::fromUtf16(kLines[static_cast<std::size_t>(index)].on);
    return text.right(word.size()) == word;
}

}  // namespace

OptionStates OptionStates::startUp() {
    OptionStates states;
    states.operationMode = kMoveMode;
    states.rules = {false, true, false, false, false};
    return states;
}

OptionStates applySettingsFile(const QByteArray& fileBytes, OptionStates states) {
    const QList<QByteArray> lines = fileLines(fileBytes);
    std::array<bool, kLineCount> on{};
    QString current;
    for (qsizetype i = 0; i < kLineCount; ++i) {
        if (i < lines.size()) current = fromShiftJis(lines[i]);
        on[static_cast<std::size_t>(i)] = endsWithOnWord(current, i);
    }
    states.numberAfterExtension = on[0];
    states.crc32 = on[1];
    states.checkAllNumbers = on[2];
    states.folderKeep = on[3] ? 1 : 0;
    states.operationMode = on[kModeLine] ? kCopyMode : kMoveMode;
    states.useExecuteButton = on[5];
    states.ignoreOtherErrors = on[6];
    states.folderNameByCount = on[7];
    for (std::size_t rule = 0; rule < states.rules.size(); ++rule) states.rules[rule] = on[kFirstRuleLine + rule];
    // The fixed-count line sets the box either way; a later rule line that is on disables it.
    states.countBoxEnabled = states.rules[0];
    for (std::size_t rule = 1; rule < states.rules.size(); ++rule) {
        if (states.rules[rule]) states.countBoxEnabled = false;
    }
    return states;
}

QList<QByteArray> settingsLines(const OptionStates& states) {
    const std::array<bool, kLineCount> on{states.numberAfterExtension,
                                          states.crc32,
                                          states.checkAllNumbers,
                                          states.folderKeep == 1,
                                          states.operationMode != kMoveMode,
                                          states.useExecuteButton,
                                          states.ignoreOtherErrors,
                                          states.folderNameByCount,
                                          states.rules[0],
                                          states.rules[1],
                                          states.rules[2],
                                          states.rules[3],
                                          states.rules[4]};
    QList<QByteArray> lines;
    for (qsizetype i = 0; i < kLineCount; ++i) lines.append(line(i, on[static_cast<std::size_t>(i)]));
    return lines;
}

QList<QByteArray> defaultSettingsLines() {
    OptionStates defaults = OptionStates::startUp();
    defaults.rules = {false, false, true, true, false};
    return settingsLines(defaults);
}

namespace {

// Enough for thirteen lines of any sensible length; a larger file is read no further.
constexpr qint64 kReadLimit = qint64{64} * 1024;

QByteArray fileOf(const QList<QByteArray>& lines) {
    QByteArray bytes;
    for (const QByteArray& text : lines) bytes += text + QByteArrayLiteral("\r\n");
    return bytes;
}

}  // namespace

namespace {

QString& settingsPath() {
    static QString path = kSettingsFileName;
    return path;
}

}  // namespace

const QString& settingsFilePath() {
    return settingsPath();
}

QString keepSettingsInConfigFolder() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
    const QString folder = base + QStringLiteral("/kurumu");
    QDir().mkpath(folder);
    settingsPath() = folder + u'/' + kSettingsFileName;
    const QString earlier = QDir::homePath() + u'/' + kSettingsFileName;
    if (!QFileInfo::exists(settingsPath()) && QFileInfo(earlier).isFile()) {
        const Result<QByteArray> bytes = readFileStart(earlier, kReadLimit);
        if (bytes.ok()) (void)createFileWith(settingsPath(), bytes.value);
    }
    return settingsPath();
}

OptionStates readSettingsFileOnly(const QString& path) {
    if (!platform::FileExists(path)) return OptionStates::startUp();
    // Anything but a regular file (links followed) reads as a file that cannot be opened.
    return applySettingsFile(platform::readFileStart(path, kReadLimit).value, OptionStates::startUp());
}

OptionStates loadSettingsFile(const QString& path) {
    if (!platform::FileExists(path)) {
        (void)platform::createFileWith(path, fileOf(defaultSettingsLines()));  // start-up reports nothing
        return OptionStates::startUp();
    }
    return readSettingsFileOnly(path);
}

Status saveSettings(const QString& path, const OptionStates& states) {
    return platform::replaceFile(path, fileOf(settingsLines(states)));
}

SaveFailure failureOf(const Status& status) {
    if (status.ok()) return SaveFailure::None;
    return status.errorClass() == platform::ErrorClass::PermissionDenied ? SaveFailure::WriteRefused
                                                                         : SaveFailure::Unknown;
}

SaveFailure saveSettingsFile(const QString& path, const OptionStates& states) {
    return failureOf(saveSettings(path, states));
}

QString saveFailureMessage(SaveFailure failure) {
    switch (failure) {
        case SaveFailure::None:
            return {};
        case SaveFailure::WriteRefused:
            return QStringLiteral("設定ファイルの書き込みに失敗");
        case SaveFailure::Unknown:
            break;
    }
    return QStringLiteral("不明なエラー");
}

}  // namespace kurumu::platform
