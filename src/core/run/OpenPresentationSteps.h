// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The steps of OpenPresentation, written once for every way to the
// application: free of Qt, so that the Windows automation core runs these
// very steps under Wine in its tests.

namespace deckrun {

/**
 * Creates the application (A), finds the running instance (B), shows A and
 * opens `path` through B; returns B, and A is released on the way out.
 * `automation` has create() and getRunning(), each giving a pointer to an
 * application with setVisible(bool) and open(path). Failures reach the
 * caller unchanged; nothing is quit.
 */
template <typename Automation, typename Path>
auto openPresentationSteps(Automation &automation, const Path &path)
{
    auto created = automation.create();
    auto running = automation.getRunning();
    created->setVisible(true);
    running->open(path);
    return running;
}

} // namespace deckrun
