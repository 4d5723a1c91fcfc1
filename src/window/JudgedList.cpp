#include "window/JudgedList.h"

namespace kurumu::window {

namespace {

// Characters that show nothing, or change how the text around them shows: the direction
// marks, embeddings, overrides and isolates, and the invisible joiners and spaces.
bool isHiddenFormat(char32_t c) {
    return c == 0x061C || c == 0x200B || c == 0x200C || c == 0x200D || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2069) || c == 0xFEFF;
}

// The marker of a group: nothing for a leader, one for its members.
constexpr quintptr kLeaderGroup = 0;

}  // namespace

QString visibleText(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (c == u'\\') {
            shown += QStringLiteral("\\\\");  // so that an escape in the name is not taken for one of these
        } else if (c == u'\n') {
            shown += QStringLiteral("\\n");
        } else if (c == u'\t') {
            shown += QStringLiteral("\\t");
        } else if (c == u'\r') {
            shown += QStringLiteral("\\r");
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            shown += QStringLiteral("\\x%1").arg(static_cast<uint>(c), 2, 16, QLatin1Char('0'));
        } else if (isHiddenFormat(c)) {
            shown += QStringLiteral("\\u") +
                     QStringLiteral("%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
        } else {
            shown += QString::fromUcs4(&c, 1);
        }
    }
    return shown;
}

void StoredListModel::setItems(const QList<judgement::Item>& items) {
    beginResetModel();
    m_items = items;
    endResetModel();
}

int StoredListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_items.size());
}

QVariant StoredListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    return m_items[index.row()].storedLine();
}

void JudgedListModel::setLines(const QList<judgement::Line>& lines) {
    beginResetModel();
    m_lines = lines;
    arrange();
    endResetModel();
}

void JudgedListModel::removeLines(qsizetype first, qsizetype count) {
    if (count <= 0) return;
    beginResetModel();
    m_lines.remove(first, count);
    arrange();
    endResetModel();
}

// Line 0 and every unmarked line lead a group; each marked line belongs to the leader above.
void JudgedListModel::arrange() {
    const auto size = static_cast<std::size_t>(m_lines.size());
    m_leaders.clear();
    m_groupOf.assign(size, 0);
    m_rowInGroup.assign(size, 0);
    for (std::size_t line = 0; line < size; ++line) {
        if (line == 0 || !m_lines[static_cast<qsizetype>(line)].marked) {
            m_rowInGroup[line] = static_cast<qsizetype>(m_leaders.size());
            m_leaders.push_back(static_cast<qsizetype>(line));
        } else {
            m_rowInGroup[line] = static_cast<qsizetype>(line) - m_leaders.back() - 1;
        }
        m_groupOf[line] = static_cast<qsizetype>(m_leaders.size()) - 1;
    }
}

QModelIndex JudgedListModel::indexOfLine(qsizetype line, int column) const {
    if (line < 0 || line >= m_lines.size()) return {};
    const auto at = static_cast<std::size_t>(line);
    const qsizetype group = m_groupOf[at];
    const int row = static_cast<int>(m_rowInGroup[at]);
    if (m_leaders[static_cast<std::size_t>(group)] == line) return createIndex(row, column, kLeaderGroup);
    return createIndex(row, column, static_cast<quintptr>(group) + 1);
}

qsizetype JudgedListModel::lineOf(const QModelIndex& index) const {
    if (!index.isValid()) return -1;
    if (index.internalId() == kLeaderGroup) return m_leaders[static_cast<std::size_t>(index.row())];
    return m_leaders[static_cast<std::size_t>(index.internalId() - 1)] + 1 + index.row();
}

QModelIndex JudgedListModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= columnCount() || row >= rowCount(parent)) return {};
    if (!parent.isValid()) return createIndex(row, column, kLeaderGroup);
    return createIndex(row, column, static_cast<quintptr>(parent.row()) + 1);
}

QModelIndex JudgedListModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == kLeaderGroup) return {};
    return createIndex(static_cast<int>(child.internalId() - 1), 0, kLeaderGroup);
}

int JudgedListModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return static_cast<int>(m_leaders.size());
    if (parent.internalId() != kLeaderGroup || parent.column() != 0) return 0;
    const auto group = static_cast<std::size_t>(parent.row());
    const qsizetype next = group + 1 < m_leaders.size() ? m_leaders[group + 1] : m_lines.size();
    return static_cast<int>(next - m_leaders[group] - 1);
}

int JudgedListModel::columnCount(const QModelIndex&) const {
    return 2;
}

QVariant JudgedListModel::data(const QModelIndex& index, int role) const {
    const qsizetype line = lineOf(index);
    if (line < 0) return {};
    const judgement::Item& item = m_lines[line].item;
    switch (role) {
        case Qt::DisplayRole:
            return visibleText(index.column() == 0 ? item.name : item.parent);
        case Qt::ToolTipRole:
            return visibleText(item.path());
        case Qt::AccessibleDescriptionRole:
            return placeInGroup(index);
        case kLineRole:
            return m_lines[line].text();
        default:
            return {};
    }
}

// Where a row stands, for a screen reader, which meets every row as the tree's own child:
// a member names its group and its place in it, a leader its members.
QString JudgedListModel::placeInGroup(const QModelIndex& index) const {
    if (index.internalId() == kLeaderGroup) {
        const int members = rowCount(index.siblingAtColumn(0));
        return members == 0 ? QString() : QStringLiteral("グループの先頭、ほか %1 件").arg(members);
    }
    const QModelIndex leader = parent(index);
    const QString name = visibleText(m_lines[lineOf(leader)].item.name);
    return QStringLiteral("グループ「%1」の %2 件目").arg(name).arg(index.row() + 1);
}

QVariant JudgedListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? QStringLiteral("名前") : QStringLiteral("フォルダ");
}

}  // namespace kurumu::window
