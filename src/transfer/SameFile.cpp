#include "transfer/SameFile.h"

#include "platform/Paths.h"

namespace kurumu::transfer {

namespace {

using platform::EntryKind;

}  // namespace

platform::Result<Presence> FileHikaku(platform::FileServices& files, const platform::Path& source,
                                      const platform::Path& destinationPath, const platform::KeepGoing& keepGoing) {
    const auto destination = files.probe(destinationPath);
    if (!destination.ok()) return {Presence::Free, destination.status};
    if (!destination.value.exists()) return {Presence::Free, {}};
    const auto sourceInfo = files.probe(source);
    if (!sourceInfo.ok()) return {Presence::Free, sourceInfo.status};
    if (sourceInfo.value.kind != EntryKind::File || destination.value.kind != EntryKind::File ||
        sourceInfo.value.length != destination.value.length)
        return {Presence::OtherFile, {}};
    const auto same = files.sameContents(source, destinationPath, keepGoing);
    if (!same.ok()) return {Presence::Free, same.status};
    return {same.value ? Presence::SameBytes : Presence::OtherFile, {}};
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

}  // namespace kurumu::transfer
