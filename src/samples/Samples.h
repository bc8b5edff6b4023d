// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace deckrun {

class Form1;

/**
 * Appends every file of the "Samples" folder beside the program that is not
 * queued yet, then asks whether to open that folder. Failures reach the caller.
 */
void LoadSampleFiles(Form1 &form);

} // namespace deckrun
