// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/OfficeProcess.h"

#include "platform/Failure.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace deckrun::uno {

// --- installation --------------------------------------------------------------

OfficeInstallation::OfficeInstallation(QString programDir) : m_programDir(std::move(programDir)) {}

QString OfficeInstallation::soffice() const
{
    return m_programDir + QStringLiteral("/soffice");
}

QString OfficeInstallation::officeBinary() const
{
    return m_programDir + QStringLiteral("/soffice.bin");
}

QString OfficeInstallation::fundamentalrc() const
{
    return m_programDir + QStringLiteral("/fundamentalrc");
}

bool OfficeInstallation::usable() const
{
    const QFileInfo office(officeBinary());
    return office.isFile() && office.isExecutable() && QFileInfo(fundamentalrc()).isFile() &&
           QFileInfo(m_programDir + QStringLiteral("/types.rdb")).isFile();
}

QString OfficeInstallation::productValue(const QString &property) const
{
    // The product node of the installed configuration; the value that the
    // branding sets is the last one given.
    QFile main(m_programDir + QStringLiteral("/../share/registry/main.xcd"));
    if (!main.open(QIODevice::ReadOnly))
        return QString();
    const QString text = QString::fromUtf8(main.readAll());
    const QRegularExpression value(
        QStringLiteral("<prop oor:name=\"%1\"[^>]*>\\s*<value>([^<]+)</value>")
            .arg(QRegularExpression::escape(property)));
    QString found;
    for (auto it = value.globalMatch(text); it.hasNext();)
        found = it.next().captured(1);
    return found;
}

QString OfficeInstallation::productName() const
{
    const QString name = productValue(QStringLiteral("ooName"));
    return name.isEmpty() ? QStringLiteral("LibreOffice") : name;
}

QString OfficeInstallation::setupVersion() const
{
    return productValue(QStringLiteral("ooSetupVersion"));
}

// --- profile -------------------------------------------------------------------

namespace {
constexpr int ProfileSlots = 8;
}

QString OfficeProfile::slotFolder(const QString &root, int slot)
{
    const QString base = QDir(root).absolutePath() + QStringLiteral("/profile");
    return slot == 0 ? base : base + QLatin1Char('-') + QString::number(slot);
}

QString OfficeProfile::pipeNameFor(const QString &folder)
{
    const QByteArray digest =
        QCryptographicHash::hash(QDir(folder).absolutePath().toUtf8(), QCryptographicHash::Sha1);
    return QStringLiteral("deckrun-") + QString::fromLatin1(digest.toHex().left(16));
}

std::unique_ptr<OfficeProfile> OfficeProfile::acquire(const QString &root)
{
    if (!QDir().mkpath(root))
        throw Failure(
            QStringLiteral("The folder \"%1\" for LibreOffice's Deckrun profile could not be made.")
                .arg(QDir::toNativeSeparators(root)));
    for (int slot = 0; slot < ProfileSlots; ++slot) {
        const QString folder = slotFolder(root, slot);
        auto lock = std::make_unique<QLockFile>(folder + QStringLiteral(".lock"));
        lock->setStaleLockTime(0); // stale only when its process is gone
        if (lock->tryLock(0))
            return std::unique_ptr<OfficeProfile>(new OfficeProfile(folder, std::move(lock)));
    }
    throw Failure(
        QStringLiteral("Every LibreOffice profile of Deckrun is in use by another Deckrun."));
}

OfficeProfile::OfficeProfile(QString folder, std::unique_ptr<QLockFile> lock)
    : m_folder(std::move(folder)), m_lock(std::move(lock))
{}

OfficeProfile::~OfficeProfile() = default;

QString OfficeProfile::url() const
{
    return QUrl::fromLocalFile(m_folder).toString(QUrl::FullyEncoded);
}

void OfficeProfile::seed(const QString &setupVersion) const
{
    const QString user = m_folder + QStringLiteral("/user");
    const QString file = user + QStringLiteral("/registrymodifications.xcu");
    if (setupVersion.isEmpty() || QFileInfo::exists(file) || !QDir().mkpath(user))
        return;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return; // only a slower start
    out.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
              "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
              "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
              "<item oor:path=\"/org.openoffice.Setup/Product\">"
              "<prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>");
    out.write(setupVersion.toHtmlEscaped().toUtf8());
    out.write("</value></prop></item>\n</oor:items>\n");
    out.commit();
}

// --- child process -----------------------------------------------------------------

OfficeChild::OfficeChild(const QString &program, const QStringList &arguments,
                         const QStringList &environment)
{
    std::vector<QByteArray> args{QFile::encodeName(program)};
    for (const QString &a : arguments)
        args.push_back(a.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // Our own UNO bootstrap setting is not the office's business.
    std::vector<QByteArray> extra;
    for (const QString &e : environment)
        extra.push_back(e.toUtf8());
    std::vector<char *> envp;
    for (char **e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "URE_BOOTSTRAP=", 14) == 0)
            continue;
        const char *eq = std::strchr(*e, '=');
        const auto length = eq ? static_cast<std::size_t>(eq - *e + 1) : std::strlen(*e);
        const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const QByteArray &x) {
            return x.size() >= static_cast<qsizetype>(length) &&
                   std::strncmp(x.constData(), *e, length) == 0;
        });
        if (!replaced)
            envp.push_back(*e);
    }
    for (QByteArray &x : extra)
        envp.push_back(x.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);

    const int error = posix_spawn(&m_pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        m_pid = -1;
        m_ended = true;
        throw Failure(QStringLiteral("LibreOffice could not be started (%1): %2")
                          .arg(program, QString::fromLocal8Bit(std::strerror(error))));
    }
}

OfficeChild::~OfficeChild()
{
    stop(2.0);
}

bool OfficeChild::running()
{
    if (m_ended)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid || (r < 0 && errno == ECHILD)) {
        m_ended = true;
        m_status = r == m_pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return !m_ended;
}

bool OfficeChild::waitForExit(double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    auto pause = std::chrono::milliseconds(2);
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(8));
    }
    return true;
}

void OfficeChild::signalGroup(int signal)
{
    if (m_pid > 0)
        ::kill(-m_pid, signal);
}

void OfficeChild::stop(double grace)
{
    if (m_pid <= 0)
        return;
    if (running()) {
        signalGroup(SIGTERM);
        if (!waitForExit(grace)) {
            signalGroup(SIGKILL);
            waitForExit(5.0);
        }
    }
    // The launcher waits for the office process, but a straggler of the group must not survive it.
    signalGroup(SIGKILL);
}

bool asksForRestart(int exitStatus)
{
    return exitStatus == 79 || exitStatus == 81;
}

// --- display -------------------------------------------------------------------------

bool noDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("offscreen") || platform.startsWith("minimal"))
        return true;
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace deckrun::uno
