// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QStringList>

namespace deckrun {

/**
 * The queue: the rows of `ListView1`, each the full path of one file, in print
 * order. Positions are 1-based, as the handlers count them; Qt rows are
 * 0-based underneath.
 */
class QueueModel final : public QAbstractListModel {
    Q_OBJECT

public:
    explicit QueueModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    /** The list's one column header, added at start-up. */
    void setColumnHeader(const QString &text);

    int count() const { return static_cast<int>(m_rows.size()); }
    /** Appends a path as a new last row. */
    void append(const QString &path);
    /** Appends several paths as new last rows, in order, in one model change. */
    void append(const QStringList &paths);
    /** The same, taking the paths over: a long list goes in without touching each text. */
    void append(QStringList &&paths);
    /** The text of the row at `position` (1 to Count); throws Failure otherwise. */
    QString textAt(int position) const;
    /** Replaces the text of the row at `position`. */
    void setTextAt(int position, const QString &path);
    /** Inserts a row that becomes row `position`; Count + 1 appends. */
    void insertAt(int position, const QString &path);
    /** Removes the row at `position`. */
    void removeAt(int position);
    void clear();

    const QStringList &rows() const { return m_rows; }

    /** True when some row's text equals `path` exactly (case and all). */
    bool contains(const QString &path) const;

private:
    void checkPosition(int position, int last) const;
    void indexAdd(const QString &path);
    void indexRemove(const QString &path);

    QStringList m_rows;
    QString m_header;
    // How often each text occurs, built at the first contains() and kept up to
    // date from then on, so repeated look-ups on a long queue stay cheap and a
    // queue that is never searched pays nothing for it.
    mutable QHash<QString, int> m_index;
    mutable bool m_indexed = false;
};

/** True when some row's text equals `path` exactly. */
bool ListContains(const QueueModel &queue, const QString &path);

} // namespace deckrun
