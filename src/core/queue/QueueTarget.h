// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace deckrun {

class QueueModel;
struct Platform;

/** What adding files reaches: the services and the queue (a run without a window has no window). */
class QueueTarget {
public:
    virtual ~QueueTarget() = default;
    virtual Platform &platform() = 0;
    virtual QueueModel &queue() = 0;
};

} // namespace deckrun
