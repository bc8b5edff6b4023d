// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TempTree.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace deckrun::test {

TempTree::TempTree() = default;

TempTree::~TempTree()
{
    // Tests may leave folders without permissions; give them back so removal works.
    QDirIterator it(m_dir.path(), QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0700);
    while (it.hasNext()) {
        const QString p = it.next();
        if (!QFileInfo(p).isSymLink())
            ::chmod(QFile::encodeName(p).constData(), 0700);
    }
}

QString TempTree::at(const QString &relative) const
{
    return m_dir.path() + QLatin1Char('/') + relative;
}

QString TempTree::file(const QString &relative, const QByteArray &content)
{
    const QString full = at(relative);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile f(full);
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
    return full;
}

QString TempTree::folder(const QString &relative)
{
    const QString full = at(relative);
    QDir().mkpath(full);
    return full;
}

QStringList under(const TempTree &tree, const QStringList &rows)
{
    QStringList out;
    for (const QString &r : rows)
        out << (r.startsWith(tree.path()) ? r.mid(tree.path().size()) : r);
    return out;
}

} // namespace deckrun::test
