#include "platform/TextLines.h"

#include <gtest/gtest.h>

#include <random>

using namespace platform;

namespace {

const QString kLS(QChar(0x2028));
const QString kPS(QChar(0x2029));

QStringList Split(const QString& text, TLineBreaks breaks, TFinalBreak final = TFinalBreak::EndsLine)
{
    return SplitLines(text, breaks, final);
}

} // namespace

TEST(SplitLines, EveryBreakCharacterBreaksOnlyWhenInTheSet)
{
    const TLineBreaks all = lbCR | lbLF | lbLS | lbPS;
    const QString text = "a\rb\nc" + kLS + "d" + kPS + "e";
    EXPECT_EQ(Split(text, all), (QStringList{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(Split(text, lbCR), (QStringList{"a", "b\nc" + kLS + "d" + kPS + "e"}));
    EXPECT_EQ(Split(text, lbLF), (QStringList{"a\rb", "c" + kLS + "d" + kPS + "e"}));
    EXPECT_EQ(Split(text, lbLS), (QStringList{"a\rb\nc", "d" + kPS + "e"}));
    EXPECT_EQ(Split(text, lbPS), (QStringList{"a\rb\nc" + kLS + "d", "e"}));
    EXPECT_EQ(Split(text, 0), QStringList{text});
    // Neighbours of the break characters are ordinary text.
    const QString near = QString(QChar(9)) + QChar(11) + QChar(12) + QChar(14) + QChar(0x2027) + QChar(0x202A) + QChar(0x85);
    EXPECT_EQ(Split(near, all), QStringList{near});
}

TEST(SplitLines, CrLfIsOneBreakOnlyWithBothInTheSet)
{
    EXPECT_EQ(Split("a\r\nb", kCrLfBreaks), (QStringList{"a", "b"}));
    EXPECT_EQ(Split("a\n\rb", kCrLfBreaks), (QStringList{"a", "", "b"}));
    EXPECT_EQ(Split("a\r\r\nb", kCrLfBreaks), (QStringList{"a", "", "b"}));
    EXPECT_EQ(Split("a\r\nb", lbCR), (QStringList{"a", "\nb"}));
    EXPECT_EQ(Split("a\r\nb", lbLF), (QStringList{"a\r", "b"}));
    // A line separator before CR LF is a break of its own.
    EXPECT_EQ(Split("a" + kLS + "\r\nb", kCrLfBreaks | lbLS), (QStringList{"a", "", "b"}));
}

TEST(SplitLines, FinalBreakAndEmptyText)
{
    for (const QString& brk : {QString("\r\n"), QString("\r"), QString("\n"), kLS}) {
        EXPECT_EQ(Split("x" + brk, kCrLfBreaks | lbLS, TFinalBreak::EndsLine), QStringList{"x"});
        EXPECT_EQ(Split("x" + brk, kCrLfBreaks | lbLS, TFinalBreak::StartsEmptyLine), (QStringList{"x", ""}));
        EXPECT_EQ(Split(brk, kCrLfBreaks | lbLS, TFinalBreak::EndsLine), QStringList{""});
        EXPECT_EQ(Split(brk, kCrLfBreaks | lbLS, TFinalBreak::StartsEmptyLine), (QStringList{"", ""}));
    }
    EXPECT_TRUE(Split(QString(), kCrLfBreaks, TFinalBreak::EndsLine).isEmpty());
    EXPECT_EQ(Split(QString(), kCrLfBreaks, TFinalBreak::StartsEmptyLine), QStringList{""});
}

TEST(ForEachLine, ReportsTheBreakThatEndedEachLine)
{
    QStringList breaks;
    ForEachLine(QString("a\r\nb\rc\nd" + kLS + "e"), kCrLfBreaks | lbLS, TFinalBreak::EndsLine,
        [&](QStringView, QStringView lineBreak) { breaks << lineBreak.toString(); });
    EXPECT_EQ(breaks, (QStringList{"\r\n", "\r", "\n", kLS, ""}));
}

TEST(JoinLines, SeparatorsBetweenAndOptionallyAfter)
{
    EXPECT_EQ(JoinLines(QStringList{}, u"\r\n", true), QString());
    EXPECT_EQ(JoinLines(QStringList{""}, u"\r\n"), QString());
    EXPECT_EQ(JoinLines(QStringList{""}, u"\r\n", true), "\r\n");
    EXPECT_EQ(JoinLines(QStringList{"a", "", "b"}, u"|"), "a||b");
    EXPECT_EQ(JoinLines(QStringList{"a", "b"}, u"", true), "ab");
}

TEST(SplitLines, JoiningWithAnyBreakOfTheSetSplitsBackToTheLines)
{
    // Random lines free of break characters survive join then split, for
    // every break the set holds and either final-break rule.
    std::mt19937 rng(7);
    const char16_t alphabet[] = {u'a', u' ', u'\t', 0x3042, 0xD83D, 0xDE00, 0x2027, 0x85};
    const TLineBreaks all = lbCR | lbLF | lbLS | lbPS;
    for (int round = 0; round < 300; ++round) {
        QStringList lines;
        const int count = 1 + int(rng() % 6);
        for (int i = 0; i < count; ++i) {
            QString line;
            for (int k = int(rng() % 5); k > 0; --k)
                line += QChar(alphabet[rng() % std::size(alphabet)]);
            lines << line;
        }
        for (QString brk : {QString("\r\n"), QString("\r"), QString("\n"), kLS, kPS}) {
            EXPECT_EQ(Split(JoinLines(lines, brk), all, TFinalBreak::StartsEmptyLine), lines);
            EXPECT_EQ(Split(JoinLines(lines, brk, true), all, TFinalBreak::EndsLine), lines);
        }
    }
}
