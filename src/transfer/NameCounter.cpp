#include "transfer/NameCounter.h"

namespace kurumu::transfer {

qint64 NameCounter::GetRenban(const QString& name) {
    const auto found = m_next.find(name);
    if (found == m_next.end()) {
        m_next.insert(name, 1);
        return 0;
    }
    return found.value()++;
}

}  // namespace kurumu::transfer
