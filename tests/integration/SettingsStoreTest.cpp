// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Failure.h"
#include "platform/qt/QtServices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
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
    EXPECT_EQ(later.read(QStringLiteral("Extension"), QStringLiteral("ppt")),
              QStringLiteral("odp"));
    // Stored under application "Orvanta", section "Deckrun".
    QFile raw(file);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_TRUE(raw.readAll().contains("[Deckrun]"));
}

namespace {

/**
 * A store folder that the unprivileged user of the probe owns, with the
 * given modes; the modes are opened up again at the end so that the
 * temporary folder can go.
 */
class StoreFolder {
public:
    StoreFolder(const QByteArray &content, mode_t folderMode, mode_t fileMode)
    {
        // The probe must reach the folder through the temporary one.
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
        m_folder = m_dir.filePath(QStringLiteral("store"));
        QDir().mkpath(m_folder);
        if (!content.isNull()) {
            QFile f(file());
            f.open(QIODevice::WriteOnly);
            f.write(content);
        }
        own(m_folder);
        if (!content.isNull()) {
            own(file());
            ::chmod(QFile::encodeName(file()).constData(), fileMode);
        }
        ::chmod(QFile::encodeName(m_folder).constData(), folderMode);
    }
    ~StoreFolder()
    {
        ::chmod(QFile::encodeName(m_folder).constData(), 0755);
        ::chmod(QFile::encodeName(file()).constData(), 0644);
    }
    StoreFolder(const StoreFolder &) = delete;
    StoreFolder &operator=(const StoreFolder &) = delete;

    QString file() const { return m_folder + QStringLiteral("/Deckrun.conf"); }

private:
    static void own(const QString &path)
    {
        if (::geteuid() != 0)
            return;
        const passwd *nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid), 0);
    }

    QTemporaryDir m_dir;
    QString m_folder;
};

/**
 * Runs the real store in a child process as an unprivileged user: "nobody"
 * when the tests run as root (as in CI), the current user otherwise. One
 * output line per operation.
 */
QStringList runUnprivileged(const QString &file, const QStringList &operations)
{
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody) {
        ADD_FAILURE() << "no user \"nobody\" to run the permission case as";
        return {};
    }
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    // A copy the other user can reach: the build folder may lie below a home
    // folder that only its owner can enter.
    QTemporaryDir place;
    ::chmod(QFile::encodeName(place.path()).constData(), 0755);
    const QString program = place.filePath(QStringLiteral("deckrun_settings_probe"));
    if (!QFile::copy(QStringLiteral(DECKRUN_SETTINGS_PROBE), program)) {
        ADD_FAILURE() << "the settings probe could not be copied";
        return {};
    }
    QProcess probe;
    probe.setProgram(program);
    probe.setWorkingDirectory(place.path());
    probe.setArguments(QStringList{file} + operations);
    probe.setChildProcessModifier([uid, gid] {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
    });
    probe.start();
    if (!probe.waitForFinished(30000)) {
        probe.kill();
        probe.waitForFinished();
        ADD_FAILURE() << "the settings probe did not finish";
        return {};
    }
    EXPECT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
    return QString::fromUtf8(probe.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

namespace {
// Rows go by their name in test listings; each prints as its name, never as bytes.
constexpr auto RowName = [](const auto &row) { return std::string(row.param.name); };

struct PermissionCase {
    const char *name;
    QByteArray content; // null: no file yet
    mode_t folderMode, fileMode;
    QStringList operations, expected;
    friend void PrintTo(const PermissionCase &row, std::ostream *os) { *os << row.name; }
};
class StorePermissions : public testing::TestWithParam<PermissionCase> {};

const QByteArray Malformed("[Deckrun]\nCombo2=3\ngarbage line\n");
} // namespace

// As an unprivileged user even when the tests run as root, who would write
// through the folder's permissions.
TEST_P(StorePermissions, DecideEachWrite)
{
    const PermissionCase &c = GetParam();
    StoreFolder store(c.content, c.folderMode, c.fileMode);
    EXPECT_EQ(runUnprivileged(store.file(), c.operations), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    SettingsStore, StorePermissions,
    testing::Values(
        // A failed write fails loudly.
        PermissionCase{"ReadOnlyFolder", QByteArray(), 0555, 0644, {"write:Combo2=3"}, {"failed"}},
        PermissionCase{"WritableFolder",
                       QByteArray(),
                       0755,
                       0644,
                       {"write:Combo2=3", "write:Extension=odp", "read:Combo2", "read:Extension"},
                       {"ok", "ok", "3", "odp"}},
        PermissionCase{"ReadOnlyFolderAndFile",
                       "[Deckrun]\nCombo2=3\n",
                       0555,
                       0444,
                       {"read:Combo2", "write:Combo2=4", "write:Extension=odp"},
                       {"3", "failed", "failed"}},
        // The malformed line must not hide that the write itself failed.
        PermissionCase{
            "MalformedAndReadOnly", Malformed, 0555, 0444, {"write:Extension=odp"}, {"failed"}},
        PermissionCase{"MalformedAndWritable",
                       Malformed,
                       0755,
                       0644,
                       {"write:Extension=odp", "write:Combo1=2", "read:Combo2", "read:Extension"},
                       {"ok", "ok", "3", "odp"}}),
    RowName);

namespace {
struct MalformedCase {
    const char *name;
    QByteArray content;
    friend void PrintTo(const MalformedCase &row, std::ostream *os) { *os << row.name; }
};
class MalformedLine : public testing::TestWithParam<MalformedCase> {};
} // namespace

// One malformed line: the store reads what it can, and every later write
// that reaches the file is a success.
TEST_P(MalformedLine, DoesNotTaintLaterWrites)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Deckrun.conf"));
    QFile raw(file);
    ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
    raw.write(GetParam().content);
    raw.close();
    QtSettingsStore store(file);
    store.read(QStringLiteral("Combo2"), QString());
    EXPECT_NO_THROW(store.write(QStringLiteral("Extension"), QStringLiteral("odp")));
    EXPECT_NO_THROW(store.write(QStringLiteral("Combo1"), QStringLiteral("2")));
    QtSettingsStore later(file);
    EXPECT_EQ(later.read(QStringLiteral("Extension"), QString()), QStringLiteral("odp"));
    EXPECT_EQ(later.read(QStringLiteral("Combo1"), QString()), QStringLiteral("2"));
}

INSTANTIATE_TEST_SUITE_P(
    SettingsStore, MalformedLine,
    testing::Values(MalformedCase{"GarbageLine", Malformed},
                    MalformedCase{"UnclosedSection", QByteArray("[Deckrun\nCombo2=3\n")},
                    MalformedCase{"ByteOrderMarkOfUtf16",
                                  QByteArray("\xff\xfe[Deckrun]\nCombo2=3\n")}),
    RowName);

TEST(SettingsStore, AFailedWriteDoesNotFailTheNextOne)
{
    // Works for root too: the settings file cannot be made below an ordinary
    // file; once a folder stands there, the next write goes through.
    QTemporaryDir dir;
    const QString place = dir.filePath(QStringLiteral("place"));
    QFile blocker(place);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QtSettingsStore store(place + QStringLiteral("/Deckrun.conf"));
    EXPECT_THROW(store.write(QStringLiteral("Combo2"), QStringLiteral("3")), Failure);
    ASSERT_TRUE(QFile::remove(place));
    ASSERT_TRUE(QDir().mkpath(place));
    EXPECT_NO_THROW(store.write(QStringLiteral("Extension"), QStringLiteral("odp")));
    EXPECT_EQ(QtSettingsStore(place + QStringLiteral("/Deckrun.conf"))
                  .read(QStringLiteral("Extension"), QString()),
              QStringLiteral("odp"));
}

TEST(SettingsStore, NoFallbackStandsInForAMissingKey)
{
    // Organisation-wide and system-wide stores hold values of their own; a
    // key missing from Deckrun's own store still yields the caller's default.
    QTemporaryDir user;
    QTemporaryDir system;
    auto put = [](const QString &path, const QByteArray &content) {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    };
    put(user.filePath(QStringLiteral("Orvanta.conf")), "[Deckrun]\nCombo2=7\n");
    put(system.filePath(QStringLiteral("Orvanta/Deckrun.conf")),
        "[Deckrun]\nCombo1=4\nExtension=txt\n");
    put(system.filePath(QStringLiteral("Orvanta.conf")), "[Deckrun]\nLastFolder=/srv\n");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, user.path());
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, system.path());

    QtSettingsStore store;
    EXPECT_EQ(store.read(QStringLiteral("Combo2"), QStringLiteral("5")), QStringLiteral("5"));
    EXPECT_EQ(store.read(QStringLiteral("Combo1"), QString()), QString());
    EXPECT_EQ(store.read(QStringLiteral("Extension"), QStringLiteral("ppt")),
              QStringLiteral("ppt"));
    EXPECT_EQ(store.read(QStringLiteral("LastFolder"), QString()), QString());
    store.write(QStringLiteral("Combo2"), QStringLiteral("2"));
    EXPECT_EQ(store.read(QStringLiteral("Combo2"), QStringLiteral("5")), QStringLiteral("2"));
    EXPECT_TRUE(QFile::exists(user.filePath(QStringLiteral("Orvanta/Deckrun.conf"))));

    // Back to the test-mode places.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("/etc/xdg"));
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
