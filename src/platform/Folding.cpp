#include "platform/Folding.h"

#include "platform/SystemCalls.h"

#include <linux/fs.h>
#include <linux/magic.h>

namespace kurumu::platform::detail {

namespace {

using sys::os;

// File systems that fold names, or may: FUSE stands for whatever is behind it.
bool foldingFileSystem(long type) {
    for (const long folding : {long{MSDOS_SUPER_MAGIC}, kExfatMagic, kNtfs3Magic, kCifsMagic, kSmb2Magic, kFuseMagic,
                               long{SMB_SUPER_MAGIC}}) {
        if (type == folding) return true;
    }
    return false;
}

// The name with the case of its ASCII letters swapped; none when it has no letter.
std::optional<QByteArray> swappedCase(const QByteArray& name) {
    QByteArray swapped = name;
    bool letter = false;
    for (char& c : swapped) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
            letter = true;
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
            letter = true;
        }
    }
    return letter ? std::optional<QByteArray>(swapped) : std::nullopt;
}

}  // namespace

bool foldsNames(const FoldingFacts& facts) {
    if (foldingFileSystem(facts.fileSystem)) return true;
    if (facts.inodeFlags) return (*facts.inodeFlags & FS_CASEFOLD_FL) != 0;
    return facts.swappedNameFound.value_or(true);
}

FoldingFacts foldingFactsOf(int readableFolder, const QSet<QByteArray>* names) {
    FoldingFacts facts;
    struct statfs disk {};
    if (os().fstatfs(readableFolder, &disk) == 0) facts.fileSystem = static_cast<long>(disk.f_type);
    if (foldingFileSystem(facts.fileSystem)) return facts;
    unsigned flags = 0;
    if (os().inodeFlags(readableFolder, &flags) == 0) {
        facts.inodeFlags = flags;
        return facts;
    }
    if (names == nullptr) return facts;
    // A name whose swapped case the folder holds too tells nothing: both are there.
    for (const QByteArray& name : *names) {
        const std::optional<QByteArray> swapped = swappedCase(name);
        if (!swapped || names->contains(*swapped)) continue;
        struct stat found {};
        if (os().fstatat(readableFolder, swapped->constData(), &found, AT_SYMLINK_NOFOLLOW) == 0) {
            facts.swappedNameFound = true;
        } else if (errno == ENOENT) {
            facts.swappedNameFound = false;
        }
        break;
    }
    return facts;
}

}  // namespace kurumu::platform::detail
