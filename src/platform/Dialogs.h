// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace deckrun {

enum class Buttons { Ok, YesNo };
enum class Icon { None, Warning };
enum class Answer { Ok, Yes, No, Cancel };

/** What the file-open dialog is asked to show. */
struct FileDialogRequest {
    QString fileName; // text in the name box when it opens
    int flags = 0;    // the dialog's flag word (multi-select, read-only box, ...)
    QString title;
    QString filter; // "Name|pattern|Name|pattern|"
};

/**
 * What the file-open dialog hands back. An empty folder and no names means the
 * user cancelled. With one file chosen, `names` holds its full path alone and
 * `folder` is empty; with several in one folder, `folder` is that folder and
 * `names` the bare names, in the dialog's order; with several from different
 * folders, `folder` is empty and `names` holds each full path. A selection the
 * dialog cannot hold throws Failure with code 20476.
 */
struct FileDialogResult {
    QString folder;
    QStringList names;
};

/**
 * Every modal dialog of the program. The Qt implementation shows real dialogs;
 * tests use a scripted double that records what was shown.
 */
class Dialogs {
public:
    virtual ~Dialogs() = default;

    /** A modal message box; an empty title means the application title. */
    virtual Answer messageBox(const QString &text, const QString &title, Buttons buttons,
                              Icon icon) = 0;
    /** The input box; returns the empty text when the user cancels. */
    virtual QString inputBox(const QString &prompt, const QString &title,
                             const QString &defaultAnswer) = 0;
    virtual FileDialogResult openFiles(const FileDialogRequest &request) = 0;
    /** The folder browser; returns the empty text when the user cancels. */
    virtual QString browseForFolder(const QString &title, const QString &initialFolder) = 0;

    /** The window that owns every dialog: they are modal to it and centred on it. */
    virtual void setOwnerWindow(QWidget *window) { (void)window; }

    void setApplicationTitle(const QString &title) { m_applicationTitle = title; }
    const QString &applicationTitle() const { return m_applicationTitle; }

private:
    QString m_applicationTitle;
};

} // namespace deckrun
