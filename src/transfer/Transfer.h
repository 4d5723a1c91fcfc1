#pragma once

#include "platform/Errors.h"
#include "platform/FileServices.h"
#include "transfer/RunHost.h"
#include "transfer/RunOptions.h"
#include "transfer/RunVariables.h"
#include "transfer/SameFile.h"

#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <string_view>
#include <unordered_map>

// The transfer routines: one algorithm for a single file and one for a folder tree, each
// with four faces that differ only in their family (move or copy, and where a collision
// number goes). They work through the file services they are given, which may be the
// real disk, a dry run or a journal.
namespace kurumu::transfer {

class Transfer {
public:
    Transfer(RunVariables& variables, RunHost& host, platform::FileServices& files, const RunOptions& options);

    // One item of a run: a file, a folder tree, or (as a group's leader) a link to the
    // folder it names. Folders are handed to the folder routine, as is a missing item.
    void transferItem(const QString& item, const QString& destinationFolder);

    // Moves or copies one file into a destination folder that ends in "/".
    void transferFile(const Family& family, const platform::Path& source, const platform::Path& destinationFolder);
    // Moves or copies a folder tree into a destination folder that ends in "/".
    void transferFolder(const Family& family, const platform::Path& source, const platform::Path& destinationFolder);

    void FileMove(const QString& source, const QString& destination) { transferFile(kMove, source, destination); }
    void FileCopy(const QString& source, const QString& destination) { transferFile(kCopy, source, destination); }
    void FileMove2(const QString& source, const QString& destination) { transferFile(kMove2, source, destination); }
    void FileCopy2(const QString& source, const QString& destination) { transferFile(kCopy2, source, destination); }
    void FolderMove(const QString& source, const QString& destination) { transferFolder(kMove, source, destination); }
    void FolderCopy(const QString& source, const QString& destination) { transferFolder(kCopy, source, destination); }
    void FolderMove2(const QString& source, const QString& destination) { transferFolder(kMove2, source, destination); }
    void FolderCopy2(const QString& source, const QString& destination) { transferFolder(kCopy2, source, destination); }

private:
    struct ErrorMessages;
    using Chain = QList<platform::Identity>;

    bool stopRequested() const { return m_vars.intCancel == kStopRequested; }
    bool keepGoing(const platform::ByteProgress& progress = {});
    // A line into the log: told to the host, kept in the log where the log is kept.
    void report(const LogLine& line);
    // The line of an item left as it is: nothing is to be done for it.
    void leave(Outcome outcome, const QString& item, const QString& text);
    // Reports a failure of the item at path: a warning (unless passed over), and the item
    // and the system's reason to the host.
    void handleError(const platform::Status& status, const ErrorMessages& messages, const QString& path,
                     const QString& destination = {});
    // A file's error names the file and the folder it was going to, so that a destination
    // that is full, read-only or refuses a name is not taken for the source's fault.
    void fileError(const platform::Status& status, const QString& path, const QString& destination);
    void folderError(const platform::Status& status, const QString& path);
    // Says once in the run which attributes a destination did not keep of a copy.
    void noteUnkept(unsigned unkept, const QString& destinationFolder);

    // Null when the folder cannot be reached; valid until the folders are forgotten.
    const Chain* chainOf(const QString& folder);
    bool sameFolder(const QString& first, const QString& second);
    bool isInside(const QString& folder, const QString& container);
    void forgetFolders() {
        m_chains.clear();
        m_lastSource = {};
    }
    // The folder of a file's path as its log line names it, and whether it is the folder
    // the file would go to. Files of one folder come one after another: the answer for the
    // last folder asked is kept, as long as the folders are.
    struct SourceFolder {
        QString spelled;  // the path up to its last separator, as given
        QString folder;
        QString destination;
        bool same = false;
    };
    const SourceFolder& sourceFolderOf(const platform::Path& file, const platform::Path& destinationFolder);

    qint64 nextNumber(const QString& name, qint64 tries);
    void refuseRoot(const QString& item);
    void walkFolder(const Family& family, const platform::Path& source, const platform::Path& destinationFolder);
    std::optional<platform::Path> targetFolder(const Family& family, const platform::Path& source,
                                               const platform::Path& destinationFolder);
    void walkSubfolder(const Family& family, const platform::Path& subfolder, const platform::Path& into);
    void removeEmptiedSource(const platform::Path& source, const platform::Path& destinationFolder);

    RunVariables& m_vars;
    RunHost& m_host;
    platform::FileServices& m_files;
    RunOptions m_options;
    struct Destination {
        QString given;
        platform::Result<QString> real;
        platform::Path into;  // the folder the run works in: the real one, where it resolved
    } m_destination;          // the run's destination, resolved once
    // Paths hashed as the standard library hashes text: a run looks its two folders up for every file.
    struct TextHash {
        std::size_t operator()(const QString& text) const {
            return std::hash<std::u16string_view>{}({QStringView(text).utf16(), static_cast<std::size_t>(text.size())});
        }
    };
    std::unordered_map<QString, Chain, TextHash>
        m_chains;  // folders' identities by path, while the run changes no folder
    SourceFolder m_lastSource;
    QSet<platform::Identity> m_targetFolders;  // written into by this run: never walked as sources
    int m_depth = 0;
    unsigned m_unkeptTold = 0;  // the attributes a note already named
};

}  // namespace kurumu::transfer
