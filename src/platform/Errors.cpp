#include "platform/Errors.h"

#include <cerrno>

namespace kurumu::platform {

ErrorClass classify(int errnoValue) {
    switch (errnoValue) {
        case 0:
            return ErrorClass::None;
        case ENOSPC:
        case EDQUOT:
            return ErrorClass::VolumeFull;
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
        case EBUSY:
            return ErrorClass::PermissionDenied;
        case ENOENT:
        case ENOTDIR:
            return ErrorClass::PathNotFound;
        default:
            return ErrorClass::Other;
    }
}

qint64 shownCode(int errnoValue) {
    switch (classify(errnoValue)) {
        case ErrorClass::VolumeFull:
            return -2147024784;  // 0x80070070
        case ErrorClass::PermissionDenied:
            return 70;
        case ErrorClass::PathNotFound:
            return 76;
        case ErrorClass::None:
        case ErrorClass::Other:
            break;
    }
    return errnoValue;
}

}  // namespace kurumu::platform
