#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>

// The thirteen options and their settings file "kurumu.ini": thirteen Shift-JIS lines
// ended by CR LF, read by position (only each line's tail is examined).
namespace kurumu::platform {

inline const QString kSettingsFileName = QStringLiteral("kurumu.ini");

// The settings file the window reads and writes: kurumu.ini in the working directory, or,
// for a window started from the desktop, in the user's configuration folder.
const QString& settingsFilePath();
// The window was started from the desktop (its menu entry or a file manager's action):
// its settings live in $XDG_CONFIG_HOME/kurumu/ (~/.config/kurumu/), made on first use;
// a ~/kurumu.ini that earlier starts left in the home folder is copied there once (never
// moved). Returns the settings file's path.
QString keepSettingsInConfigFolder();

// The states of the controls that hold the options. The rules are in file order, which
// is also the order of judgement::Rule (fixed count, first bracket, last bracket,
// last "of", numbering).
struct OptionStates {
    bool numberAfterExtension = false;  // mnuNumPosition
    bool crc32 = false;                 // mnuCRC32
    bool checkAllNumbers = false;       // mnuGenmitsu
    int folderKeep = 0;                 // chkFolderKeep: 0 clear, 1 ticked, 2 greyed
    QString operationMode;              // cmbMorC text
    bool useExecuteButton = true;       // mnuEB
    bool ignoreOtherErrors = false;     // mnuErrMushi
    bool folderNameByCount = false;     // mnuFolderName
    std::array<bool, 5> rules{};        // mnuMatomeAutoNone, 1, 2, 4, 3
    bool countBoxEnabled = true;        // txtMojisuu enabled

    // The state of the controls at start-up, before the file is read.
    static OptionStates startUp();
    bool operator==(const OptionStates&) const = default;
};

inline const QString kMoveMode = QStringLiteral("移動");
inline const QString kCopyMode = QStringLiteral("コピー");

// Applies the file's lines to the start-up state. A line that is missing leaves the
// tests on the last line read (or on the empty text when none was).
OptionStates applySettingsFile(const QByteArray& fileBytes, OptionStates states);

// The thirteen lines (without line ends) that describe the states, in Shift-JIS.
QList<QByteArray> settingsLines(const OptionStates& states);
// The thirteen lines of the file written when none exists.
QList<QByteArray> defaultSettingsLines();

// Start-up: reads the file, or writes the default file when there is none (silently
// passing over any failure). Returns the states to give the controls.
OptionStates loadSettingsFile(const QString& path);
// Reads the file without ever writing it (the batch modes).
OptionStates readSettingsFileOnly(const QString& path);

enum class SaveFailure { None, WriteRefused, Unknown };
// Shut-down: deletes the file and writes it anew, stopping at the first failure.
SaveFailure saveSettingsFile(const QString& path, const OptionStates& states);
// The same, with the system's error of a failure.
Status saveSettings(const QString& path, const OptionStates& states);
SaveFailure failureOf(const Status& status);
// The message shown for a failure to save.
QString saveFailureMessage(SaveFailure failure);

}  // namespace kurumu::platform
