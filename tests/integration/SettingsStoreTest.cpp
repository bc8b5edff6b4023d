// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Failure.h"
#include "platform/qt/QtServices.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace deckrun;

TEST(SettingsStore, ValueWrittenIsReadByALaterRun)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Deckrun.conf"));
    {
        QtSettingsStore first(file);
        EXPECT_EQ(first.read(QStringLiteral("Combo2"), QStringLiteral("5")), QStringLiteral("5"));
        EXPECT_EQ(first.read(QStringLiteral("LastFolder"), QString()), QString());
        first.write(QStringLiteral("Combo2"), QStringLiteral("-1"));
        first.write(QStringLiteral("Extension"), QStringLiteral("ppt"));
        first.write(QStringLiteral("Extension"), QStringLiteral("odp"));
    }
    QtSettingsStore later(file);
    EXPECT_EQ(later.read(QStringLiteral("Combo2"), QStringLiteral("5")), QStringLiteral("-1"));
    EXPECT_EQ(later.read(QStringLiteral("Extension"), QStringLiteral("ppt")), QStringLiteral("odp"));
    // Stored under application "Orvanta", section "Deckrun".
    QFile raw(file);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_TRUE(raw.readAll().contains("[Deckrun]"));
}

TEST(SettingsStore, FailedWriteFailsLoudly)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes through folder permissions";
    QTemporaryDir dir;
    const QString locked = dir.filePath(QStringLiteral("locked"));
    QDir().mkpath(locked);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    QtSettingsStore store(locked + QStringLiteral("/Deckrun.conf"));
    EXPECT_THROW(store.write(QStringLiteral("Combo2"), QStringLiteral("3")), Failure);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(SettingsStore, FailedWriteFailsLoudlyWhenThePlaceIsAFile)
{
    // Works for root too: a settings file below an ordinary file cannot be made.
    QTemporaryDir dir;
    const QString notAFolder = dir.filePath(QStringLiteral("plain"));
    QFile f(notAFolder);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    QtSettingsStore store(notAFolder + QStringLiteral("/Deckrun.conf"));
    EXPECT_THROW(store.write(QStringLiteral("Combo2"), QStringLiteral("3")), Failure);
}
