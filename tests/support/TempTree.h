// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace deckrun::test {

/** A temporary folder that tests fill with files and folders; removed afterwards. */
class TempTree {
public:
    TempTree();
    ~TempTree();

    QString path() const { return m_dir.path(); }
    /** Full path of a relative name inside the tree. */
    QString at(const QString &relative) const;
    /** Creates a file (and its folders) with some content; returns its full path. */
    QString file(const QString &relative, const QByteArray &content = "x");
    /** Creates a folder (and its parents); returns its full path. */
    QString folder(const QString &relative);

private:
    QTemporaryDir m_dir;
};

/** The rows with the tree's own path taken off their front, where they begin with it. */
QStringList under(const TempTree &tree, const QStringList &rows);

} // namespace deckrun::test
