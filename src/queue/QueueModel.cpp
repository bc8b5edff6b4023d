// SPDX-License-Identifier: GPL-3.0-or-later
#include "queue/QueueModel.h"

#include "platform/Failure.h"

namespace deckrun {

QueueModel::QueueModel(QObject *parent) : QAbstractListModel(parent) {}

int QueueModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Count();
}

QVariant QueueModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= Count())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole || role == Qt::ToolTipRole)
        return m_rows.at(index.row());
    return {};
}

bool QueueModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= Count() || role != Qt::EditRole)
        return false;
    m_rows[index.row()] = value.toString();
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
        throw Failure(QStringLiteral("Index out of bounds"), 35600);
}

void QueueModel::Append(const QString &path)
{
    const int row = Count();
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append(path);
    endInsertRows();
}

QString QueueModel::TextAt(int position) const
{
    checkPosition(position, Count());
    return m_rows.at(position - 1);
}

void QueueModel::SetTextAt(int position, const QString &path)
{
    checkPosition(position, Count());
    setData(index(position - 1), path, Qt::EditRole);
}

void QueueModel::InsertAt(int position, const QString &path)
{
    checkPosition(position, Count() + 1);
    beginInsertRows(QModelIndex(), position - 1, position - 1);
    m_rows.insert(position - 1, path);
    endInsertRows();
}

void QueueModel::RemoveAt(int position)
{
    checkPosition(position, Count());
    beginRemoveRows(QModelIndex(), position - 1, position - 1);
    m_rows.removeAt(position - 1);
    endRemoveRows();
}

void QueueModel::Clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

bool ListContains(const QueueModel &queue, const QString &path)
{
    return queue.rows().contains(path, Qt::CaseSensitive);
}

} // namespace deckrun
