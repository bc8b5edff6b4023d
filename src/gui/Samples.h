// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace deckrun {

class QueueModel;
struct Platform;

/**
 * Appends every file of the "Samples" folder beside the program that is not
 * queued yet, then asks whether to open that folder. Failures reach the caller.
 */
void LoadSampleFiles(Platform &platform, QueueModel &queue);

/** "Load Sample/Example Files": LoadSampleFiles under its error report. */
void PushButton8_Click(Platform &platform, QueueModel &queue);

} // namespace deckrun
