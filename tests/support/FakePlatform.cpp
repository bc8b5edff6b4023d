// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakePlatform.h"

#include "platform/qt/QtServices.h"

namespace deckrun::test {

Answer ScriptedDialogs::messageBox(const QString &text, const QString &title, Buttons buttons,
                                   Icon icon)
{
    ShownMessage shown{text, title.isEmpty() ? applicationTitle() : title, buttons, icon};
    messages.push_back(shown);
    if (onMessage)
        onMessage(shown);
    if (!answers.empty()) {
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}

QString ScriptedDialogs::inputBox(const QString &prompt, const QString &,
                                  const QString &defaultAnswer)
{
    inputPrompts << prompt;
    inputDefaults << defaultAnswer;
    if (inputAnswers.empty())
        return QString();
    const QString a = inputAnswers.front();
    inputAnswers.pop_front();
    return a;
}

FileDialogResult ScriptedDialogs::openFiles(const FileDialogRequest &request)
{
    fileRequests.push_back(request);
    if (fileAnswers.empty())
        return {};
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer(request);
}

QString ScriptedDialogs::browseForFolder(const QString &title, const QString &initialFolder)
{
    folderTitles << title;
    folderInitials << initialFolder;
    if (folderAnswers.empty())
        return QString();
    const QString a = folderAnswers.front();
    folderAnswers.pop_front();
    return a;
}

std::vector<ShownMessage> ScriptedDialogs::reports() const
{
    std::vector<ShownMessage> out;
    for (const auto &m : messages)
        if (m.title == QLatin1String("Application Error"))
            out.push_back(m);
    return out;
}

std::vector<int> ScriptedDialogs::reportedSteps(const QString &location) const
{
    std::vector<int> steps;
    const QString at = location + QStringLiteral("at line ");
    for (const auto &m : reports()) {
        const qsizetype k = m.text.indexOf(at);
        steps.push_back(k < 0 ? -1 : m.text.mid(k + at.size(), 3).toInt());
    }
    return steps;
}

QString MemorySettings::read(const QString &key, const QString &defaultValue)
{
    return values.value(key, defaultValue);
}

void MemorySettings::write(const QString &key, const QString &value)
{
    if (failWrites)
        throw Failure(QStringLiteral("The setting \"%1\" could not be saved.").arg(key), 75);
    values.insert(key, value);
    writes << key + QLatin1Char('=') + value;
}

void FakeEventLoop::pumpEvents()
{
    ++pumps;
    now += secondsPerPump;
    if (now >= 86400.0)
        now -= 86400.0;
    if (pumpAction)
        pumpAction();
}

void FakeEventLoop::sleepForEvents(double seconds)
{
    ++sleeps;
    if (wakeAfter > 0.0 && seconds > wakeAfter)
        seconds = wakeAfter;
    slept += seconds;
    now += seconds;
    if (now >= 86400.0)
        now -= 86400.0;
}

void FakeProgramControl::endNow()
{
    ++ends;
    throw ProgramEnded{};
}

FakePlatform::FakePlatform()
{
    auto d = std::make_unique<ScriptedDialogs>();
    auto s = std::make_unique<MemorySettings>();
    auto sh = std::make_unique<RecordingShell>();
    auto e = std::make_unique<FakeEventLoop>();
    auto pr = std::make_unique<FakePrinters>();
    auto o = std::make_unique<SimAutomation>();
    auto pc = std::make_unique<FakeProgramControl>();
    dialogs = d.get();
    settings = s.get();
    shell = sh.get();
    events = e.get();
    printers = pr.get();
    office = o.get();
    program = pc.get();
    program->folder = QStringLiteral(DECKRUN_TEST_PROGRAM_DIR);
    platform.dialogs = std::move(d);
    platform.settings = std::move(s);
    platform.shell = std::move(sh);
    platform.events = std::move(e);
    platform.files = makeSystemFileSystem();
    platform.handover = std::make_unique<FileHandover>();
    platform.printers = std::move(pr);
    platform.office = std::move(o);
    platform.program = std::move(pc);
    platform.runLog = std::make_unique<FileRunLog>(runLogPath());
}

QString FakePlatform::runLogPath() const
{
    return m_runLogFolder.filePath(QStringLiteral("run-log.jsonl"));
}

} // namespace deckrun::test
