#pragma once

#include "platform/FileDescriptor.h"
#include "platform/FileServices.h"

#include <QByteArray>
#include <QHash>
#include <QSet>

#include <vector>

// The folders that a run or an undo works in, held open by descriptor so that each call
// names its entry relative to a folder it holds, and a name on the way that is turned into
// a link, or given to another folder, meanwhile cannot lead the work elsewhere. Internal
// to platform/.
namespace kurumu::platform::detail {

class HeldFolders {
public:
    // How a folder without a recorded identity is reached.
    enum class Unrecorded {
        ByPath,        // opened by its path, links followed, as the user gave it
        FromRecorded,  // reached from the nearest recorded folder above it, never through a link or a mount
    };

    explicit HeldFolders(Unrecorded unrecorded) : m_unrecorded(unrecorded) {}

    // The folder at the path is the one with this identity, whatever is there later; an
    // empty identity says that no folder is to be reached through the name. A loose one
    // (on a disk whose numbers need not last) is whatever folder such a disk has there.
    void record(const QByteArray& folder, const Identity& identity, bool loose = false) {
        m_recorded.insert(folder, identity);
        if (loose) m_loose.insert(folder);
    }
    bool isRecorded(const QByteArray& folder) const { return m_recorded.contains(folder); }
    const Identity* recorded(const QByteArray& folder) const;

    // An O_PATH descriptor of the folder, held until it is forgotten or pushed out by
    // newer ones (then opened again, and checked again, when next named).
    // kFolderReplaced when a recorded folder's name no longer holds it.
    Result<int> descriptor(QByteArrayView folder);
    // The folder that descriptor() last gave: its path as held, and whether it is on an overlay.
    const QByteArray& lastPath() const { return m_entries.back().path; }
    bool lastOnOverlay() const { return !m_entries.empty() && m_entries.back().onOverlay; }
    // Holds a folder opened by the services themselves (listed, or just made), recording
    // the identity it has.
    void adopt(const QByteArray& folder, FileDescriptor fd);
    // The folder was removed: its descriptor, those below it, and its identity go.
    void forget(const QByteArray& folder);

private:
    Result<FileDescriptor> open(const QByteArray& folder);
    Result<FileDescriptor> openBelow(const QByteArray& ancestor, const QByteArray& folder);
    int keep(const QByteArray& folder, FileDescriptor fd);

    static constexpr std::size_t kCapacity = 64;
    struct Entry {
        QByteArray path;
        FileDescriptor fd;
        bool onOverlay = false;
    };

    Unrecorded m_unrecorded;
    QHash<QByteArray, Identity> m_recorded;
    QSet<QByteArray> m_loose;
    std::vector<Entry> m_entries;  // the most recently used last
};

}  // namespace kurumu::platform::detail
