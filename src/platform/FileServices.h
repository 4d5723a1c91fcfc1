#pragma once

#include "platform/Entry.h"
#include "platform/Errors.h"
#include "platform/Path.h"

#include <QByteArray>
#include <QHash>
#include <QHashFunctions>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

// The file-system services that a run works through. The transfer algorithm is written
// once against this interface; the real services act on the disk, and other
// implementations layer on them (a dry run that only remembers, a journal that records).
namespace kurumu::platform {

// The beginning of the hidden name a file is set aside under before it is deleted; a kill
// at that moment leaves it there, for an undo to find.
inline constexpr char kSetAsidePrefix[] = ".kurumu-aside-";
// The beginning of the hidden name a copy is written under where the file system has no
// unnamed files; it is given its own name only once complete.
inline constexpr char kUnpublishedPrefix[] = ".kurumu-part-";

// A name no user file is expected to have, new in this process: "<prefix><pid>-<tag><n>",
// so that an undo knows which process left it.
QByteArray hiddenName(const QByteArray& prefix, const QByteArray& tag = {});
// The process that left a name set aside or unpublished, if it is one of those.
std::optional<qint64> hiddenNameOwner(const QString& name);

// The entries directly in a folder, each list sorted by name, so that every run (and
// every dry run) meets them in the same order. Names that are not valid UTF-8 cannot be
// represented in a QString; they are kept apart, as bytes, and never transferred.
struct FolderListing {
    QList<Path> files;       // full paths of every entry that is not a folder (links included)
    QList<Path> subfolders;  // full paths of the folders
    QList<QByteArray> undecodableNames;
};

// What became of an attempt to put a file under a name that must not be replaced.
enum class PlaceOutcome {
    Placed,     // the file is there, complete
    Occupied,   // the name was taken: nothing changed
    Failed,     // an error: nothing changed, the source is where it was
    Abandoned,  // asked to stop during a long copy: nothing changed
};
// Attributes that a copy's destination could not store.
inline constexpr unsigned kOwnerNotKept = 1;
inline constexpr unsigned kModeNotKept = 2;
inline constexpr unsigned kTimesNotKept = 4;
inline constexpr unsigned kExtendedAttributesNotKept = 8;

struct PlaceResult {
    PlaceResult(PlaceOutcome outcome_ = PlaceOutcome::Failed, Status status_ = {}, EntryInfo placed_ = {})
        : outcome(outcome_), status(status_), placed(placed_) {}
    PlaceOutcome outcome;
    Status status;
    // What holds the destination name when the services made a new file there (a copy, or
    // a move between file systems), as it was published; nothing (Missing) when the
    // source itself was renamed there.
    EntryInfo placed;
    // The checksum of a copy proved to read back as written (see CopyCheck).
    std::optional<quint32> checksum;
    // What of a copy's attributes the destination has no place for (kModeNotKept...).
    unsigned unkept = 0;
    // A file renamed on an overlay may be copied up to the upper layer by the rename, and
    // then show other numbers: what the very file (held across the rename) showed before
    // and shows after, where they differ.
    struct Renumbered {
        Identity before;
        EntryInfo after;
    };
    std::optional<Renumbered> renumbered;
};

// What proved a deleted duplicate to be its keeper's bytes: the CRC-32 register of the bytes
// the comparison read (in the file's order), or that the two were one file under two names.
struct DuplicateProof {
    std::optional<quint32> checksum;
    bool sameFile = false;
};

// Told what proves a duplicate before it is removed; an error keeps it.
using ProofHandler = std::function<Status(const DuplicateProof& proof)>;

// Told of a copy created under its destination name itself, where the mount has no other
// way to publish without replacing (a FAT stick through FUSE): a kill may then leave it
// there partial. Told twice, before a byte is written: first that it is about to be
// created (nothing yet), then the file made. An error withdraws it.
using CreatedHandler = std::function<Status(const std::optional<EntryInfo>& created)>;

// How far the copy or comparison of one file has come, in bytes; a total of 0 where the
// bytes are not counted.
struct ByteProgress {
    qint64 done = 0;
    qint64 total = 0;
};
// Asked now and then during a long copy or comparison, at least every half second, told
// how far it has come; false abandons it.
using KeepGoing = std::function<bool(const ByteProgress& progress)>;

// How copies are proved to be on the disk as written: the checksum of the bytes read from
// the source is compared with the checksum of the copy read back through the file system
// once it was flushed and its cached pages dropped. A move across file systems, which
// removes the only original, is always so proved; with everyCopy, every copy is.
struct CopyCheck {
    // Carries a checksum's register over bytes (a CRC-32 without its final steps).
    std::function<quint32(quint32 checksum, const std::byte* bytes, std::size_t size)> checksum;
    bool everyCopy = false;
};

// The error of a copy that did not read back as it was written: withdrawn, its source kept.
// A write error, told by the reason of an input/output error.
inline constexpr int kCopyNotVerified = EBADMSG;

// What a folder made is for. A folder that receives moved files has its name synced into
// its parent before anything goes into it, so that a power cut cannot leave a moved file in
// a folder the disk never had; one that receives unchecked copies alone needs no sync, since
// their sources stay whatever the disk keeps.
enum class FolderUse { Moves, Copies };

class FileServices {
public:
    FileServices() = default;
    FileServices(const FileServices&) = delete;
    FileServices& operator=(const FileServices&) = delete;
    virtual ~FileServices() = default;

    // The entry at the path, never following a link; a missing entry is no error.
    virtual Result<EntryInfo> probe(const Path& path) = 0;
    // The folder that the path names (links followed), then every folder above it up to
    // its file system's root, nearest first.
    virtual Result<QList<Identity>> folderChain(const Path& path) = 0;
    // The folder's path with every link, "." and ".." resolved, ending in "/".
    virtual Result<QString> realFolder(const Path& path) = 0;
    // The folder that the services reach at the path, as they hold it for their work in it.
    virtual Result<EntryInfo> heldFolder(const Path& path) = 0;
    virtual Result<FolderListing> listFolder(const Path& path) = 0;
    // Creates one folder whose parent exists. Given a model folder, the new one takes its
    // owner and group (where the process may set them), its extended attributes and its
    // permission bits, always writable by its owner so the run can fill it. Its name is on
    // the disk before the call returns, unless it is made for copies alone (see FolderUse).
    virtual Status createFolder(const Path& path, const Path& model, FolderUse use = FolderUse::Moves) = 0;
    // Removes a folder only when it holds nothing at all (ENOTEMPTY otherwise).
    virtual Status removeEmptyFolder(const Path& path) = 0;
    // Moves a file (a link as the link) to a name that must be free.
    virtual PlaceResult moveFile(const Path& source, const Path& destination, const KeepGoing& keepGoing,
                                 const CreatedHandler& created = {}) = 0;
    // Copies a file (a link as the link) to a name that must be free, complete or not at all.
    virtual PlaceResult copyFile(const Path& source, const Path& destination, const KeepGoing& keepGoing,
                                 const CreatedHandler& created = {}) = 0;
    // Gives a regular file another name, which must be free (Occupied otherwise), in the
    // same file system; what holds the name then is in placed.
    virtual PlaceResult linkFile(const Path& existing, const Path& destination) = 0;
    // True when both are regular files of equal length whose bytes are equal.
    virtual Result<bool> sameContents(const Path& first, const Path& second, const KeepGoing& keepGoing) = 0;
    // Deletes the source as a duplicate of the keeper: only once the source is out of the
    // way (renamed in its folder to a name beginning with kSetAsidePrefix) and the keeper is
    // proved, still there, to hold the same bytes. On any doubt it fails and the source stays.
    // What proved it is told to proved, when given, before the source goes.
    virtual Result<DuplicateProof> deleteDuplicate(const Path& source, const Path& keeper, const KeepGoing& keepGoing,
                                                   const ProofHandler& proved = {}) = 0;
    // Removes a copy a killed run left cut short under its destination name: only while the
    // name holds the file made (its identity), and its bytes are the source's first bytes.
    virtual Status removePartialCopy(const Path& copy, const Path& source, const Identity& made) = 0;
    // Gives the entry its attributes back (the owner and group where the process may;
    // set-user-ID and set-group-ID dropped where it may not), but only while it is still
    // the file or folder expected: never through a link, never to another entry put under
    // the name meanwhile (EBUSY).
    virtual Status restoreAttributes(const Path& path, const Identity& expected, const Attributes& attributes) = 0;
    // Puts the names in the entry's folder on the disk: a rename within one file system is
    // flushed by nothing otherwise.
    virtual Status keepNamesOf(const Path& path) = 0;
};

// The services acting on the real disk for one run: each folder it works in is opened by
// its path (links followed, as the user gave them) on first use and held from then on, so
// that each call names its entry relative to a held folder (no path is walked again); a
// folder the run listed or made is held as it was opened, never through a link, and used
// only while it is the same folder (kFolderReplaced otherwise).
std::unique_ptr<FileServices> diskServices(const CopyCheck& check = {});

// The services for going back over a recorded run: only the folders recorded (a path and
// the identity it had) are opened by their paths, links followed, and used only while they
// have that identity; every other folder is reached from the nearest recorded folder above
// it, one name at a time, never through a link or into another mount (kFolderReplaced);
// a path below no recorded folder is refused. With followUnrecorded, such a path is opened
// as a run opens it (for records that did not note their folders). A loose folder (on a
// disk whose numbers need not last) is taken by its path while it is still on such a disk.
std::unique_ptr<FileServices> recordedFolderServices(const QHash<QString, Identity>& recorded,
                                                     bool followUnrecorded = false, const CopyCheck& check = {},
                                                     const QSet<QString>& loose = {});
// The services acting on the real disk, for single questions outside a run.
FileServices& realFileServices();

}  // namespace kurumu::platform
