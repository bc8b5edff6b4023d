// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Logging.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "support/TempTree.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace deckrun;
using namespace deckrun::test;

namespace {

std::vector<std::pair<QString, QString>> captured; // category, message

void capture(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    captured.emplace_back(QString::fromLatin1(context.category), message);
}

} // namespace

TEST(Logging, EverySubsystemHasACategoryWhoseDebugIsOffByDefault)
{
    const std::pair<const char *, const QLoggingCategory &(*)()> categories[] = {
        {"deckrun.app", lcApp},           {"deckrun.commandline", lcCommandLine},
        {"deckrun.office", lcOffice},     {"deckrun.queue", lcQueue},
        {"deckrun.settings", lcSettings}, {"deckrun.walk", lcWalk}};
    for (const auto &[name, category] : categories) {
        SCOPED_TRACE(name);
        EXPECT_STREQ(category().categoryName(), name);
        EXPECT_FALSE(category().isDebugEnabled());
        EXPECT_FALSE(category().isInfoEnabled());
        EXPECT_TRUE(category().isWarningEnabled());
    }
}

TEST(Logging, ASwallowedFailureSaysWhatHappenedOnceSwitchedOn)
{
    TempTree tree;
    const QString gone = tree.at(QStringLiteral("gone"));
    const auto files = makeSystemFileSystem();
    captured.clear();
    const QtMessageHandler previous = qInstallMessageHandler(capture);

    EXPECT_FALSE(files->IsFolder(gone)); // off: nothing said
    const std::size_t whileOff = captured.size();
    QLoggingCategory::setFilterRules(QStringLiteral("deckrun.walk.debug=true"));
    EXPECT_FALSE(files->IsFolder(gone)); // on: the same answer, and why
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previous);

    EXPECT_EQ(whileOff, 0U);
    ASSERT_EQ(captured.size(), 1U);
    EXPECT_EQ(captured[0].first, QStringLiteral("deckrun.walk"));
    EXPECT_TRUE(captured[0].second.contains(gone)) << captured[0].second.toStdString();
}
