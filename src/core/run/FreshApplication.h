// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/run/PrintStrategy.h"

namespace deckrun {

class FileSystem;
class PresentationAutomation;

/**
 * The window's way to print a file: the application is started (or attached
 * to) for the file, opened, printed in the foreground and quit, with a
 * second's wait after the open and after the quit, as PowerPoint once needed.
 */
class FreshApplication final : public PrintStrategy {
public:
    FreshApplication(PresentationAutomation &office, FileSystem &files);

    void printFile(FileInHand &file) override;
    void stopNow() override;

private:
    PresentationAutomation &m_office;
    FileSystem &m_files;
};

} // namespace deckrun
