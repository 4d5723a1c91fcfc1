#pragma once

#include <QByteArray>
#include <QSet>

#include <optional>

// Whether a folder folds names: holds "PIC1.TXT" and "pic1.txt" as one name. FAT and exFAT
// sticks, SMB shares and ext4 folders with +F do. The program never folds a name itself:
// where a folder folds, it asks the disk about every name, and answers nothing from what it
// has seen there.
namespace kurumu::platform::detail {

// The file systems told apart by statfs's f_type.
inline constexpr long kFuseMagic = 0x65735546;
inline constexpr long kExfatMagic = 0x2011BAB0;
inline constexpr long kNtfs3Magic = 0x7366746e;
inline constexpr long kCifsMagic = static_cast<long>(0xFF534D42);
inline constexpr long kSmb2Magic = static_cast<long>(0xFE534D42);

// What is known of a folder that tells whether it folds.
struct FoldingFacts {
    long fileSystem = 0;                   // statfs's f_type
    std::optional<unsigned> inodeFlags;    // FS_IOC_GETFLAGS, where the file system answers it
    std::optional<bool> swappedNameFound;  // a name of it, its letters' case swapped, looked up
};

// Whether the folder is to be taken as folding: by its file system (those that fold, and
// every FUSE mount, whose folding no one can tell), by its case-fold flag where it has
// one, by the look-up of a case-swapped name; and, when nothing tells, folding.
bool foldsNames(const FoldingFacts& facts);

// The facts of a folder open for reading, with the names it holds where they are known.
FoldingFacts foldingFactsOf(int readableFolder, const QSet<QByteArray>* names);

}  // namespace kurumu::platform::detail
