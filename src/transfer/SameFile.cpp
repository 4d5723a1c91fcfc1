#include "transfer/SameFile.h"

#include "checksum/GetCRC.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace kurumu::transfer {

platform::Result<Presence> FileHikaku(const QString& source, const QString& destinationPath) {
    if (!platform::FileExists(destinationPath)) return {Presence::Free, {}};
    const auto sourceInfo = platform::fileInfo(source);
    if (!sourceInfo.ok()) return {Presence::Free, sourceInfo.status};
    const auto destinationInfo = platform::fileInfo(destinationPath);
    if (!destinationInfo.ok()) return {Presence::Free, destinationInfo.status};
    const bool sameLength = sourceInfo.value.length == destinationInfo.value.length;
    return {sameLength ? Presence::SameLength : Presence::OtherLength, {}};
}

Candidate plainCandidate(const QString& name) {
    return {name, name};
}

Candidate numberedCandidate(const QString& name, qint64 number, NumberPlace place) {
    const QString digits = QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0'));
    if (place == NumberPlace::AfterName) {
        const QString numbered = name + u'_' + digits;
        return {numbered, numbered};
    }
    const QString base = platform::GetBaseName(name) + u'_' + digits;
    const QString extension = platform::GetExtensionName(name);
    return {base + u'.' + extension, extension.isEmpty() ? base : base + u'.' + extension};
}

platform::Result<bool> sameContents(const QString& source, const QString& destinationPath, bool compareChecksums) {
    const auto sourceInfo = platform::fileInfo(source);
    if (!sourceInfo.ok()) return {false, sourceInfo.status};
    const auto destinationInfo = platform::fileInfo(destinationPath);
    if (!destinationInfo.ok()) return {false, destinationInfo.status};
    if (sourceInfo.value.isSymlink || destinationInfo.value.isSymlink) {
        if (!sourceInfo.value.isSymlink || !destinationInfo.value.isSymlink) return {false, {}};
        const auto sourceTarget = platform::linkTarget(source);
        const auto destinationTarget = platform::linkTarget(destinationPath);
        if (!sourceTarget.ok()) return {false, sourceTarget.status};
        if (!destinationTarget.ok()) return {false, destinationTarget.status};
        return {sourceTarget.value == destinationTarget.value, {}};
    }
    // Anything else that is not a plain file (a pipe, a device) holds no contents to compare.
    if (!sourceInfo.value.isRegular || !destinationInfo.value.isRegular) return {false, {}};
    if (!compareChecksums) return {true, {}};
    const auto sourceCrc = checksum::GetFileCRC(source);
    if (!sourceCrc.ok()) return {false, sourceCrc.status};
    const auto destinationCrc = checksum::GetFileCRC(destinationPath);
    if (!destinationCrc.ok()) return {false, destinationCrc.status};
    return {sourceCrc.value == destinationCrc.value, {}};
}

}  // namespace kurumu::transfer
