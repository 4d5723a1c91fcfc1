#pragma once

#include <QString>
#include <QtGlobal>

namespace kurumu::platform {

// A name that the destination's file system does not accept (a FAT stick refuses "a:b").
// The kernel says EINVAL, which is shown as such; it has its own value only so that its
// reason can say what the EINVAL meant there. Above every errno value.
inline constexpr int kNameRefused = 4096 + 22;

// A duplicate that proved to be its keeper itself, reached under another spelling in a
// folder that folds names: nothing to delete, the file is where it would go.
inline constexpr int kSameEntry = 4096 + 4095;

// The failure classes that the error handlers tell apart.
enum class ErrorClass { None, VolumeFull, PermissionDenied, PathNotFound, Other };

// Maps an errno value onto its class; 0 is no error.
ErrorClass classify(int errnoValue);

// The numeric code shown to the user for an errno value: the Windows codes of the
// three classes (0x80070070 as a signed number, 70, 76) and errno itself otherwise.
qint64 shownCode(int errnoValue);

// Why an operation failed, in Japanese words a user reads: "アクセスが拒否されました".
QString reasonText(int errnoValue);

// The outcome of one file-system operation: 0 or the errno value it failed with.
struct Status {
    int error = 0;

    bool ok() const { return error == 0; }
    ErrorClass errorClass() const { return classify(error); }
    qint64 code() const { return shownCode(error); }
};

template <typename T>
struct Result {
    T value{};
    Status status;

    bool ok() const { return status.ok(); }
};

}  // namespace kurumu::platform
