// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/uno/OfficeInstance.h"

#include "platform/Logging.h"
#include "platform/uno/OfficeProcess.h"
#include "platform/uno/OfficeWorkspace.h"

#include <QTemporaryDir>

namespace deckrun::uno {

OfficeInstance::OfficeInstance() = default;

OfficeInstance::~OfficeInstance()
{
    stop();
}

bool OfficeInstance::alive()
{
    return !ended && child && child->running();
}

long OfficeInstance::pid()
{
    return child && child->running() ? child->pid() : -1;
}

void OfficeInstance::releaseReferences()
{
    try {
        document.clear();
        desktop.clear();
        remote.clear();
    } catch (...) {
        qCDebug(lcOffice) << "releasing the office's references failed";
    }
}

void OfficeInstance::stop(double grace)
{
    if (child)
        child->stop(grace);
    ended = true;
    releaseReferences();
    // What the stopped office left: its pipe's socket, its folder (print jobs included).
    if (!pipeSocket.isEmpty())
        removeDeadSocket(pipeSocket);
    workspace.reset();
    profile.reset();
}

std::unique_ptr<QTemporaryDir> OfficeInstance::jobFolder() const
{
    if (!workspace)
        throw Failure(Product + QStringLiteral(" is no longer running."));
    return workspace->jobFolder();
}

bool OfficeInstance::nearMemoryBound()
{
    const quint64 bound = officeMemoryBound() * 1024 * 1024;
    return child && child->peakMemory() >= bound / 3;
}

void OfficeInstance::failForMemory(const QString &doing)
{
    abandon();
    throw Failure(QStringLiteral("%1 ran out of the %2 MB of memory it may use while %3, and was "
                                 "stopped (DECKRUN_OFFICE_MEMORY sets how much).")
                      .arg(Product)
                      .arg(officeMemoryBound())
                      .arg(doing));
}

void OfficeInstance::kill()
{
    if (child)
        child->kill();
}

void OfficeInstance::requireDocument() const
{
    if (ended)
        throw Failure(Product + QStringLiteral(" is no longer running."));
    if (!document.is())
        throw Failure(QStringLiteral(
            "ActivePresentation : Invalid request.  There is no active presentation."));
}

bool OfficeInstance::goneAfter(bool bridgeLost, bool disposed)
{
    if (ended)
        return true;
    if (!bridgeLost)
        return false;
    if (!child)
        return disposed;
    // The connection breaks a moment before the process has fully ended.
    return child->waitForExit(0.5);
}

void OfficeInstance::failIfGone(bool bridgeLost, bool disposed, const QString &doing)
{
    // Failed or ended for want of memory: said so, and no longer used.
    if (!doing.isEmpty() && nearMemoryBound())
        failForMemory(doing);
    if (goneAfter(bridgeLost, disposed)) {
        abandon();
        throw Failure(stoppedUnexpectedly(doing));
    }
}

double OfficeInstance::beginCall(OfficeCall kind, const char *name)
{
    if (ended)
        throw Failure(Product + QStringLiteral(" is no longer running."));
    if (beforeCall)
        beforeCall(QString::fromLatin1(name), pid());
    return officeDeadline(kind);
}

} // namespace deckrun::uno
