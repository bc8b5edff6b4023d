// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/queue/Paths.h"
#include "core/queue/FolderWalk.h"
#include "platform/WildcardPattern.h"
#include "platform/posix/PosixFileSystem.h"

#include <gtest/gtest.h>

using namespace deckrun;

namespace {

struct NormalizeCase {
    const char *separator;
    const char *in;
    const char *out;
};

class NormalizePathTable : public testing::TestWithParam<NormalizeCase> {};

} // namespace

TEST_P(NormalizePathTable, CollapsesPairsInOnePass)
{
    const NormalizeCase c = GetParam();
    EXPECT_EQ(NormalizePath(QString::fromUtf8(c.in), QLatin1Char(c.separator[0])),
              QString::fromUtf8(c.out));
}

INSTANTIATE_TEST_SUITE_P(
    Backslash, NormalizePathTable,
    testing::Values(NormalizeCase{"\\", "", ""},
                    NormalizeCase{"\\", "C:\\a\\b.ppt", "C:\\a\\b.ppt"},
                    NormalizeCase{"\\", "C:\\\\b.ppt", "C:\\b.ppt"},     // drive root + name
                    NormalizeCase{"\\", "C:\\a\\\\\\b", "C:\\a\\\\b"},   // three become two
                    NormalizeCase{"\\", "C:\\a\\\\\\\\b", "C:\\a\\\\b"}, // four become two
                    NormalizeCase{"\\", "\\\\server\\share\\\\x", "\\\\server\\share\\x"},
                    NormalizeCase{"\\", "\\a", "\\\\a"}, // a leading run becomes two
                    NormalizeCase{"\\", "\\\\\\\\a\\\\b", "\\\\a\\b"},
                    NormalizeCase{"\\", "a/b//c", "a/b//c"})); // the other separator is text

INSTANTIATE_TEST_SUITE_P(
    Slash, NormalizePathTable,
    testing::Values(NormalizeCase{"/", "", ""}, NormalizeCase{"/", "/", "/"},
                    NormalizeCase{"/", "/a/b.ppt", "/a/b.ppt"},
                    NormalizeCase{"/", "//b.ppt", "/b.ppt"},
                    NormalizeCase{"/", "////a//b", "/a/b"}, // a leading run becomes one
                    NormalizeCase{"/", "/a///b", "/a//b"}, NormalizeCase{"/", "/a////b", "/a//b"},
                    NormalizeCase{"/", "a//b", "a/b"}, NormalizeCase{"/", "a\\\\b", "a\\\\b"}));

TEST(HasUnsafeChars, ControlC1AndQuestionMarkAreUnsafe)
{
    struct Case {
        QString name;
        bool unsafe;
    };
    const Case cases[] = {
        {QString(), false},
        {QStringLiteral("Quarterly review"), false},
        {QStringLiteral("Präsentationen ü"), false},
        {QStringLiteral("日本語"), false},
        {QString::fromUtf8("it\u2019s"),
         false}, // a typographic quote is a character like any other here
        {QStringLiteral("emoji \U0001F600"), false},
        {QStringLiteral("what?"), true},
        {QStringLiteral("tab\there"), true},
        {QString(QChar(0x7F)), true},
        {QStringLiteral("next") + QChar(0x85), true},
        {QStringLiteral("end") + QChar(0x9F), true},
        {QStringLiteral("a") + QChar(0xA0), false},
        {QStringLiteral("bad") + QChar(0xFFFD), true}, // bytes that decoded to no character
        {QStringLiteral("half") + QChar(0xD800), true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(HasUnsafeChars(c.name), c.unsafe) << c.name.toStdString();
}

TEST(WildcardPattern, MatchesLikeTheListingDoes)
{
    struct Case {
        const char *pattern;
        const char *name;
        bool matches;
    };
    const Case cases[] = {
        {"*.*", "a.ppt", true},           {"*.*", "README", true},
        {"*", ".hidden", true},           {"*.ppt", "a.ppt", true},
        {"*.ppt", "A.PPT", true},         {"*.ppt", "deck.pptx", true},
        {"*.ppt", "deck.pptm", true},     {"*.ppt", "deck.pp", false},
        {"*.ppt", "deck.ppt.bak", false}, {"*.ppt", "ppt", false},
        {"*.PPT", "x.ppt", true},         {"*.txt", "notes.TXT", true},
        {"*..ppt", "a.ppt", false},       {"*..ppt", "a..ppt", true},
        {"*.pptx", "a.ppt", false},       {"*.pptx", "a.PPTX", true},
        {"*.p*", "a.odp", false},         {"*.p*", "a.pdf", true},
        {"*.?dp", "a.odp", true},         {"a?c.*", "abc", true},
        {"*.ödp", "x.ÖDP", true},         {"*.doc", "ünïcode.DOCX", true},
    };
    for (const Case &c : cases) {
        const WildcardPattern p(QString::fromUtf8(c.pattern));
        EXPECT_EQ(p.matches(QString::fromUtf8(c.name)), c.matches) << c.pattern << " " << c.name;
        const int raw = p.matchesRaw(c.name);
        if (raw >= 0) {
            EXPECT_EQ(raw == 1, c.matches) << "raw " << c.pattern << " " << c.name;
        }
    }
}
