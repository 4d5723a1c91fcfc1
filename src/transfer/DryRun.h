#pragma once

#include "platform/FileServices.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// The dry run: file services that read the real disk and change nothing. What a run
// would have created, moved, copied and removed is remembered, and every later question
// is answered from that memory first, so that numbered names, same-file answers,
// "not empty" folders and rebuilt folder trees come out as the real run would make them.
// What only trying could tell (a full volume, a permission only a write reveals) is
// taken to go well.
namespace kurumu::transfer {

class DryRunServices final : public platform::FileServices {
public:
    explicit DryRunServices(platform::FileServices& disk) : m_disk(disk) {}

    platform::Result<platform::EntryInfo> probe(const platform::Path& path) override;
    platform::Result<QList<platform::Identity>> folderChain(const platform::Path& path) override;
    platform::Result<QString> realFolder(const platform::Path& path) override;
    platform::Result<platform::EntryInfo> heldFolder(const platform::Path& path) override;
    platform::Result<platform::FolderListing> listFolder(const platform::Path& path) override;
    platform::Status createFolder(const platform::Path& path, const platform::Path& model,
                                  platform::FolderUse use) override;
    platform::Status removeEmptyFolder(const platform::Path& path) override;
    platform::PlaceResult moveFile(const platform::Path& source, const platform::Path& destination,
                                   const platform::KeepGoing& keepGoing,
                                   const platform::CreatedHandler& created = {}) override;
    platform::PlaceResult linkFile(const platform::Path& existing, const platform::Path& destination) override;
    platform::PlaceResult copyFile(const platform::Path& source, const platform::Path& destination,
                                   const platform::KeepGoing& keepGoing,
                                   const platform::CreatedHandler& created = {}) override;
    platform::Result<bool> sameContents(const platform::Path& first, const platform::Path& second,
                                        const platform::KeepGoing& keepGoing) override;
    platform::Result<platform::DuplicateProof> deleteDuplicate(const platform::Path& source,
                                                               const platform::Path& keeper,
                                                               const platform::KeepGoing& keepGoing,
                                                               const platform::ProofHandler& proved) override;
    // Only an undo removes a partial copy or gives attributes back, and an undo is never dry.
    platform::Status removePartialCopy(const platform::Path&, const platform::Path&,
                                       const platform::Identity&) override {
        return {};
    }
    platform::Status restoreAttributes(const platform::Path&, const platform::Identity&,
                                       const platform::Attributes&) override {
        return {};
    }
    platform::Status keepNamesOf(const platform::Path&) override { return {}; }

private:
    // What the run would have made of a path.
    struct Remembered {
        enum class Kind { Gone, File, Folder } kind = Kind::Gone;
        QString bytesAt;  // a file: the real path that holds its bytes
        platform::EntryInfo info;
    };

    QString keyOf(const QString& path) const;
    QString realFolderOf(const QString& folder) const;
    const Remembered* remembered(const QString& path) const;
    // The nearest remembered folder above the path, or a remembered "gone" above it.
    const Remembered* rememberedAbove(const QString& path) const;
    QString bytesOf(const QString& path) const;
    void remember(const QString& path, const Remembered& what);
    platform::EntryInfo folderAt(const QString& folder);
    static bool sameMount(const platform::EntryInfo& entry, const platform::EntryInfo& folder);
    platform::PlaceResult place(const QString& source, const QString& destination, bool move);
    platform::Identity newIdentity();

    platform::FileServices& m_disk;
    QHash<QString, Remembered> m_paths;             // by path without a trailing "/"
    QHash<QString, QSet<QString>> m_children;       // the remembered paths in each folder
    mutable QHash<QString, QString> m_realFolders;  // spelled folder -> its real path
    quint64 m_lastInode = 0;
};

}  // namespace kurumu::transfer
