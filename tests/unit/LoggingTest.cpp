// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Logging.h"
#include "gui/Form1.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "support/FakePlatform.h"
#include "support/TempTree.h"

#include <QComboBox>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace deckrun;
using namespace deckrun::test;

namespace {

std::vector<std::pair<QString, QString>> captured; // category, message
std::vector<QtMsgType> capturedTypes;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    captured.emplace_back(QString::fromLatin1(context.category), message);
    capturedTypes.push_back(type);
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

// A failure nothing expected, caught so that the window stays usable, is a
// warning: it is said without switching anything on.
TEST(Logging, AnUnexpectedFailureInAHandlerIsAWarning)
{
    FakePlatform fake;
    Form1 form(fake.platform);
    form.Combo1->addItems({QStringLiteral("Office Laser"), QStringLiteral("PDF")});
    fake.settings->failWrites = true;
    captured.clear();
    capturedTypes.clear();
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    form.Combo1->setCurrentIndex(1); // its handler cannot store the choice
    qInstallMessageHandler(previous);

    ASSERT_EQ(captured.size(), 1U);
    EXPECT_EQ(captured[0].first, QStringLiteral("deckrun.app"));
    EXPECT_EQ(capturedTypes[0], QtWarningMsg);
    EXPECT_TRUE(captured[0].second.contains(QStringLiteral("could not be saved")))
        << captured[0].second.toStdString();
}
