// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reading back the run log the tests' runs wrote.

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace deckrun::test {

/**
 * Every complete line of the run log at `path` (none when there is no file),
 * each read as the JSON object it must be; throws when one is not.
 */
std::vector<QJsonObject> readRunLog(const QString &path);

/**
 * Each file's line of the run log at `path` as "name outcome[ step:
 * description] on printer", the name without its folder; the lines of what
 * became of a job later are left out. A line whose time does not read as an
 * ISO 8601 time fails the test.
 */
QStringList runLogOutcomes(const QString &path);

} // namespace deckrun::test
