#pragma once

#include <QHash>
#include <QString>

namespace kurumu::transfer {

// The memory of the sequence numbers: for each file name (exact text, letter case
// counts) the next number to hand out. Wider than 16 bits, so numbering never stops.
class NameCounter {
public:
    // Successive calls for one name give 0, 1, 2, ... until the next reset.
    qint64 GetRenban(const QString& name);
    void reset() { m_next.clear(); }

private:
    QHash<QString, qint64> m_next;
};

}  // namespace kurumu::transfer
