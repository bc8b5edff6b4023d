// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// PowerPoint through COM automation, late-bound by member name (IDispatch),
// exactly the calls the print run needs. Free of Qt, so that the Windows
// cross compiler can check it on any build machine; ComPresentation.cpp
// wraps it into the presentation application interface.

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

struct IDispatch;

namespace deckrun::com {

/** A failed automation call, with the description the application gave. */
class ComError : public std::runtime_error {
public:
    ComError(std::wstring description, long code);
    const std::wstring &description() const { return m_description; }
    long code() const { return m_code; }

private:
    std::wstring m_description;
    long m_code;
};

/** One counted reference to an automation object; released when dropped. */
class Dispatch {
public:
    Dispatch() = default;
    /** Takes over a reference the caller already holds. */
    explicit Dispatch(IDispatch *adopted) : m_p(adopted) {}
    Dispatch(const Dispatch &other);
    Dispatch(Dispatch &&other) noexcept;
    Dispatch &operator=(Dispatch other) noexcept;
    ~Dispatch();

    IDispatch *get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    IDispatch *m_p = nullptr;
};

/**
 * The automation surface of PowerPoint, one call each. Every call throws
 * ComError when it fails. A busy application answers "call rejected"
 * (RPC_E_CALL_REJECTED, RPC_E_SERVERCALL_RETRYLATER); such a call is tried
 * again until it goes through or busyLimit() has passed.
 */
class ComPowerPoint {
public:
    static constexpr const wchar_t *ProgId = L"PowerPoint.Application";
    static constexpr const wchar_t *Name = L"Microsoft PowerPoint";

    /** How long a call the application refuses as busy is tried again (30 s). */
    static std::chrono::milliseconds busyLimit();
    static void setBusyLimit(std::chrono::milliseconds limit);

    /** Creates an automation object for the ProgID. */
    static Dispatch create();
    /** The running instance registered for the ProgID. */
    static Dispatch getRunning();
    /** The application's default member (dispatch identifier 0): its name. */
    static std::wstring name(const Dispatch &app);
    /** `Visible` := true (-1). */
    static void setVisible(const Dispatch &app, bool visible);
    /** `Presentations.Open` with the one named argument "fileName", by reference. */
    static void open(const Dispatch &app, const std::wstring &path);
    static Dispatch activePresentation(const Dispatch &app);
    /** `ActivePresentation.PrintOptions.ActivePrinter` := printer. */
    static void setActivePrinter(const Dispatch &app, const std::wstring &printer);
    /** `PrintOptions.PrintInBackground` of a presentation. */
    static void setPrintInBackground(const Dispatch &presentation, bool background);
    /** `PrintOut` without arguments. */
    static void printOut(const Dispatch &presentation);
    /** `Close` of a presentation: the application keeps running. */
    static void closePresentation(const Dispatch &presentation);
    static void quit(const Dispatch &app);
};

struct FileInHand;

/** The application's active presentation, tied to the file of the application it came from. */
class PowerPointPresentation {
public:
    PowerPointPresentation(Dispatch presentation, std::shared_ptr<FileInHand> file);
    void setPrintInBackground(bool background);
    /**
     * `PrintOut`; refused without a call when the printer of this file could
     * not be set, so that a file never prints on a printer nobody chose.
     */
    void printOut();
    void close();

private:
    Dispatch m_presentation;
    std::shared_ptr<FileInHand> m_file;
};

/**
 * One reference to the application and what the calls of one file share
 * through it: the file opened and a printer that could not be set.
 */
class PowerPointApp {
public:
    static PowerPointApp create();
    static PowerPointApp getRunning();

    std::wstring name() const;
    void setVisible(bool visible);
    void open(const std::wstring &path);
    PowerPointPresentation activePresentation();
    void setActivePrinter(const std::wstring &printer);
    void quit();

private:
    explicit PowerPointApp(Dispatch app);
    Dispatch m_app;
    std::shared_ptr<FileInHand> m_file;
};

} // namespace deckrun::com
