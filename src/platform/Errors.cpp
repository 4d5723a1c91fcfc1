#include "platform/Errors.h"

#include <cerrno>

namespace kurumu::platform {

static_assert(kNameRefused - 4096 == EINVAL);

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
        case EBADMSG:  // a copy that did not read back as written: a write error
            return ErrorClass::PermissionDenied;
        case ENOENT:
        case ENOTDIR:
            return ErrorClass::PathNotFound;
        default:
            return ErrorClass::Other;
    }
}

QString reasonText(int errnoValue) {
    switch (errnoValue) {
        case ENOSPC:
            return QStringLiteral("書き込み先の空き容量がありません");
        case EDQUOT:
            return QStringLiteral("ディスクの使用量の上限を超えます");
        case EACCES:
            return QStringLiteral("アクセスが許可されていません");
        case EPERM:
            return QStringLiteral("この操作は許可されていません");
        case EROFS:
            return QStringLiteral("読み取り専用のファイルシステムです");
        case ETXTBSY:
        case EBUSY:
            return QStringLiteral("使用中か、ほかのプログラムが変更中です");
        case ENOENT:
            return QStringLiteral("ファイルまたはフォルダが見つかりません");
        case ENOTDIR:
            return QStringLiteral("途中の名前がフォルダではありません");
        case EISDIR:
            return QStringLiteral("フォルダです");
        case EINVAL:
            return QStringLiteral("通常のファイルではないため読めません");
        case EEXIST:
            return QStringLiteral("同じ名前のものがあります");
        case ENOTEMPTY:
            return QStringLiteral("フォルダが空ではありません");
        case ELOOP:
            return QStringLiteral("リンクをたどることはしません");
        case ENAMETOOLONG:
            return QStringLiteral("名前が長すぎます");
        case EIO:
            return QStringLiteral("読み書きの途中でエラーが起きました");
        case EBADMSG:
            return QStringLiteral("書き込んだ内容を読み返すと違っていました(入出力エラー EIO)");
        case ESTALE:
            return QStringLiteral("フォルダがほかのものに置き換えられています");
        case EXDEV:
            return QStringLiteral("別のファイルシステムです");
        case EILSEQ:
            return QStringLiteral("名前の文字を扱えません");
        case kNameRefused:
            return QStringLiteral("書き込み先のファイルシステムがこの名前を受け付けません");
        case kSameEntry:
            return QStringLiteral("別の綴りで同じファイルを指しています");
        case EMFILE:
        case ENFILE:
            return QStringLiteral("開いているファイルが多すぎます");
        default:
            break;
    }
    return QStringLiteral("システムのエラー %1").arg(errnoValue);
}

qint64 shownCode(int errnoValue) {
    if (errnoValue == kNameRefused) return EINVAL;
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
