#pragma once

#include "judgement/ItemLine.h"

#include <QAbstractItemModel>
#include <QAbstractListModel>
#include <QList>
#include <QModelIndex>
#include <QString>
#include <QVariant>

#include <vector>

// The judged item list as the window shows it: a tree of two levels, each group's leader
// with its members below it, in two columns, the name and the folder that holds it. The
// lines the judgement works on stay as they are: the tree is only their picture.
namespace kurumu::window {

// A text as it is spelled, with every character that would not show, or would change how
// the text around it shows, written visibly: a line break as "\n", a control character as
// "\x1f", a direction or invisible format character as "\u202E", and so a backslash as "\\".
QString visibleText(const QString& text);

// The stored list: each item's line, unmarked, in the stored order. Lines are made when they
// are asked for, so that a list of 100,000 items costs nothing until it is read.
class StoredListModel final : public QAbstractListModel {
    Q_OBJECT

public:
    explicit StoredListModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

    void setItems(const QList<judgement::Item>& items);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QList<judgement::Item> m_items;
};

class JudgedListModel final : public QAbstractItemModel {
    Q_OBJECT

public:
    // The line of each row, as the item's own text would read in the stored list.
    static constexpr int kLineRole = Qt::UserRole;

    explicit JudgedListModel(QObject* parent = nullptr) : QAbstractItemModel(parent) {}

    // Shows the lines anew.
    void setLines(const QList<judgement::Line>& lines);
    const QList<judgement::Line>& lines() const { return m_lines; }
    // Takes count lines out from first on: members of one group, which go as they are run.
    void removeLines(qsizetype first, qsizetype count);

    // Where a line of the list is shown, and which line a place shows.
    QModelIndex indexOfLine(qsizetype line, int column = 0) const;
    qsizetype lineOf(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void arrange();
    QString placeInGroup(const QModelIndex& index) const;

    QList<judgement::Line> m_lines;
    std::vector<qsizetype> m_leaders;     // the line of each group's leader, in order
    std::vector<qsizetype> m_groupOf;     // each line's group
    std::vector<qsizetype> m_rowInGroup;  // each line's row: its group's for a leader, below it for a member
};

}  // namespace kurumu::window
