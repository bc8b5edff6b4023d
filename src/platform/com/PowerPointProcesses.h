// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// PowerPoint's processes: the program its registration starts, the processes
// of this session that run it, stopping one or all of them and waiting for
// their end, and the ones Deckrun has seen, with whether Deckrun started
// them. Knows no automation: the process behind an application object comes
// from whoever holds the object (PowerPointAutomation.cpp).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace deckrun::com {

/**
 * The file name of the program registered for PowerPoint's ProgID
 * ("powerpnt.exe"), in lower case; empty when none.
 */
std::wstring serverImageName();

/**
 * The processes of this session that run `image` (in lower case); none for an
 * empty one, and none when this process's session cannot be told.
 */
std::vector<unsigned long> processesOf(const std::wstring &image);

/** The one process of `image` that is not in `before`; 0 when none or several have appeared. */
unsigned long appearedSince(const std::vector<unsigned long> &before, const std::wstring &image);

/** One PowerPoint process as Deckrun knows it, held open so that its number is never another's. */
class PowerPointProcess {
public:
    /** `ours`: started by Deckrun's create, not found running; `window`: its main window, or 0. */
    PowerPointProcess(unsigned long pid, bool ours, std::intptr_t window);
    ~PowerPointProcess();
    PowerPointProcess(const PowerPointProcess &) = delete;
    PowerPointProcess &operator=(const PowerPointProcess &) = delete;

    unsigned long pid() const { return m_pid; }
    bool ours() const { return m_ours; }
    bool running() const;
    /** Quit went through: it ends once let go, and need not be asked to close. */
    void noteQuitAsked() { m_quitAsked = true; }

private:
    friend class PowerPointProcesses;

    unsigned long m_pid;
    void *m_handle; // null when it could not be opened
    bool m_ours;
    std::intptr_t m_window;
    bool m_quitAsked = false;
};

/** The PowerPoint processes Deckrun has seen, while they run, and the ways to stop them. */
class PowerPointProcesses {
public:
    /** `log`: what could not be stopped; may be empty. */
    explicit PowerPointProcesses(std::function<void(const std::string &)> log);

    /** The program PowerPoint's registration starts, as it was when this was made. */
    const std::wstring &image() const { return m_image; }
    /** The process with this number, known from before or new; none for 0. */
    std::shared_ptr<PowerPointProcess> track(unsigned long pid, bool ours, std::intptr_t window);
    /** Whether the process with this number is one Deckrun has seen and started. */
    bool ours(unsigned long pid) const;
    /**
     * Stops `process` and waits for its end, when Deckrun started it; one
     * Deckrun did not start, or one not known, is never stopped (a user's
     * PowerPoint may hold unsaved work). True when it was stopped.
     */
    bool stop(const std::shared_ptr<PowerPointProcess> &process);
    /** Whether a PowerPoint of this session runs that Deckrun did not start. */
    bool othersRunning();
    /**
     * Ends the PowerPoints Deckrun started that still run: asked to close
     * first, as a user would, unless told to quit already; a moment, then
     * stopped.
     */
    void endOurs();

private:
    void log(const std::string &text) const;
    void forgetEnded();

    std::function<void(const std::string &)> m_log;
    std::wstring m_image;
    std::vector<std::shared_ptr<PowerPointProcess>> m_seen;
};

} // namespace deckrun::com
