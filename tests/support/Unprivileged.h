// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>
#include <thread>

namespace deckrun::test {

/**
 * Runs `body` in a forked child as the unprivileged user "nobody" when the
 * tests run as root (another user runs it as itself) and hands back what it
 * returned. Root enters and reads every folder, so permission cases run here
 * instead of being skipped. The child must not touch gtest's state: it reports
 * through the returned text only.
 */
QString asUnprivilegedUser(const std::function<QString()> &body);

/**
 * `setUp` run as asUnprivilegedUser runs it, beside the test: made once
 * `setUp` has returned; finish() hands back what the function it returned
 * says then.
 */
class UnprivilegedPeer {
public:
    explicit UnprivilegedPeer(const std::function<std::function<QString()>()> &setUp);
    ~UnprivilegedPeer() { finish(); }
    QString finish();

private:
    int m_stop = -1;
    std::thread m_thread;
    QString m_result;
};

} // namespace deckrun::test
