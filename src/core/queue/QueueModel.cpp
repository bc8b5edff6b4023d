// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/queue/QueueModel.h"

#include "platform/Failure.h"

namespace deckrun {

QueueModel::QueueModel(QObject *parent) : QAbstractListModel(parent) {}

int QueueModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant QueueModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole || role == Qt::ToolTipRole)
        return m_rows.at(index.row());
    return {};
}

bool QueueModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= count() || role != Qt::EditRole)
        return false;
    const QString text = value.toString();
    indexRemove(m_rows.at(index.row()));
    indexAdd(text);
    m_rows[index.row()] = text;
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

QVariant QueueModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_header;
    return {};
}

Qt::ItemFlags QueueModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void QueueModel::setColumnHeader(const QString &text)
{
    m_header = text;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void QueueModel::checkPosition(int position, int last) const
{
    if (position < 1 || position > last)
        throw Failure(QStringLiteral("Index out of bounds"), code::IndexOutOfBounds);
}

void QueueModel::append(const QString &path)
{
    const int row = count();
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append(path);
    indexAdd(path);
    endInsertRows();
}

void QueueModel::append(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    const int first = count();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(paths.size()) - 1);
    m_rows.append(paths);
    for (const QString &p : paths)
        indexAdd(p);
    endInsertRows();
}

void QueueModel::append(QStringList &&paths)
{
    if (paths.isEmpty())
        return;
    const qsizetype first = m_rows.size();
    beginInsertRows(QModelIndex(), static_cast<int>(first),
                    static_cast<int>(first + paths.size()) - 1);
    m_rows.append(std::move(paths));
    if (m_indexed)
        for (qsizetype i = first; i < m_rows.size(); ++i)
            indexAdd(m_rows.at(i));
    endInsertRows();
}

QString QueueModel::textAt(int position) const
{
    checkPosition(position, count());
    return m_rows.at(position - 1);
}

void QueueModel::setTextAt(int position, const QString &path)
{
    checkPosition(position, count());
    setData(index(position - 1), path, Qt::EditRole);
}

void QueueModel::insertAt(int position, const QString &path)
{
    checkPosition(position, count() + 1);
    beginInsertRows(QModelIndex(), position - 1, position - 1);
    m_rows.insert(position - 1, path);
    indexAdd(path);
    endInsertRows();
}

void QueueModel::removeAt(int position)
{
    checkPosition(position, count());
    beginRemoveRows(QModelIndex(), position - 1, position - 1);
    indexRemove(m_rows.at(position - 1));
    m_rows.removeAt(position - 1);
    endRemoveRows();
}

void QueueModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_index.clear();
    m_indexed = false;
    endResetModel();
}

void QueueModel::indexAdd(const QString &path)
{
    if (m_indexed)
        ++m_index[path];
}

void QueueModel::indexRemove(const QString &path)
{
    if (!m_indexed)
        return;
    const auto it = m_index.find(path);
    if (it != m_index.end() && --it.value() == 0)
        m_index.erase(it);
}

bool QueueModel::contains(const QString &path) const
{
    if (!m_indexed) {
        m_index.reserve(m_rows.size());
        for (const QString &row : m_rows)
            ++m_index[row];
        m_indexed = true;
    }
    return m_index.contains(path);
}

bool ListContains(const QueueModel &queue, const QString &path)
{
    return queue.contains(path);
}

} // namespace deckrun
