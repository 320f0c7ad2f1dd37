// Wrapping of console text at 79 columns and the fixed texts built from it.
#include <gtest/gtest.h>

#include <string>

#include "ConsoleOutput.h"
#include "TextFormat.h"
#include "uMsg_Quillon.h"

namespace {

std::u16string Repeat(char16_t c, std::size_t n) { return std::u16string(n, c); }

TEST(WrapLine, LinesUpToTheWidthPassUnchanged)
{
    const std::u16string exact = Repeat(u'a', 40) + u' ' + Repeat(u'b', 38);
    ASSERT_EQ(exact.size(), 79u);
    EXPECT_EQ(WrapLine(exact, 79), exact);
    EXPECT_EQ(WrapLine(u"", 79), u"");
}

TEST(WrapLine, SpaceAsEightiethCharacterEndsTheFirstLine)
{
    const std::u16string line = Repeat(u'a', 79) + u" rest";
    EXPECT_EQ(WrapLine(line, 79), Repeat(u'a', 79) + u"\r\nrest");
}

TEST(WrapLine, BreaksAtTheLastSpaceThatFits)
{
    const std::u16string line = Repeat(u'a', 50) + u" " + Repeat(u'b', 20) + u" " + Repeat(u'c', 20);
    EXPECT_EQ(WrapLine(line, 79), Repeat(u'a', 50) + u" " + Repeat(u'b', 20) + u"\r\n" + Repeat(u'c', 20));
}

TEST(WrapLine, OnlyOneSpaceIsDroppedAtABreak)
{
    const std::u16string line = Repeat(u'a', 79) + u"   x";
    EXPECT_EQ(WrapLine(line, 79), Repeat(u'a', 79) + u"\r\n  x");
}

TEST(WrapLine, WordLongerThanTheWidthIsKeptWhole)
{
    std::u16string word;
    for (int i = 0; i < 200; ++i)
        word += static_cast<char16_t>(u'A' + i % 26);
    EXPECT_EQ(WrapLine(word, 79), word);
    // Text after an overlong word continues the search right after it.
    const std::u16string mixed = word + u" tail";
    EXPECT_EQ(WrapLine(mixed, 79), mixed);
}

TEST(WrapLine, LongWordAfterShortWordsStartsItsOwnLine)
{
    const std::u16string word = Repeat(u'p', 120);
    EXPECT_EQ(WrapLine(u"short " + word, 79), u"short\r\n" + word);
}

TEST(WrapText, SplitsAtLineFeedsAndDropsCarriageReturns)
{
    EXPECT_EQ(WrapText(u"one\r\ntwo\n\rthree", 79), u"one\r\ntwo\r\nthree");
    EXPECT_EQ(WrapText(u"end\n", 79), u"end\r\n");
    EXPECT_EQ(WrapText(u"a\rb", 79), u"ab");
}

TEST(WrapText, UsageTextGivesTheFourteenDocumentedLines)
{
    const char16_t* lines[] = {
        u"Command line format:",
        u"",
        u"Syntax: Quillon [-r] [-w] module [TDS_file]",
        u"",
        u"    module - the path to the module(s) from which debug info will be extracted.",
        u"The path can contain wildcards.",
        u"    TDS_file - the path to the file to which debug info will be saved. If it is",
        u"not specified, TD32 debug info is saved to the file whose name coincides with",
        u"the module's name, but has the .TDS extension. If the <module> parameter",
        u"contains wildcards or the -r switch is specified, this parameter is ignored.",
        u"    -r - if this switch is specified, modules are searched for in all",
        u"subfolders recursively.",
        u"    -w - allows you to overwrite files.",
        u"",
    };
    std::u16string expected;
    for (const char16_t* line : lines)
        expected += std::u16string(line) + u"\r\n";
    // WriteConsoleLine adds the final line end.
    EXPECT_EQ(WrapText(std::u16string(msg::UsageText), ConsoleWidth) + u"\r\n", expected);
}

TEST(WrapText, BannerIsTwoLinesAndAnEmptyLine)
{
    const std::u16string out = WrapText(std::u16string(msg::Banner), ConsoleWidth) + u"\r\n";
    EXPECT_EQ(out.substr(0, 34), u"Korvane TDS Debug Info Processor\r\n");
    ASSERT_GE(out.size(), 4u);
    EXPECT_EQ(out.substr(out.size() - 4), u"\r\n\r\n");
    std::size_t lineEnds = 0;
    for (std::size_t i = out.find(u"\r\n"); i != std::u16string::npos; i = out.find(u"\r\n", i + 2))
        ++lineEnds;
    EXPECT_EQ(lineEnds, 3u);
}

TEST(WrapText, LongSearchErrorLineBreaksAfterTheColon)
{
    const std::u16string folder = u"C:\\" + Repeat(u'f', 60);
    const std::u16string line = FormatText(msg::SearchError, {folder});
    EXPECT_EQ(WrapText(line, ConsoleWidth),
              u"An error occurred while searching in the following folder:\r\n" + folder);
}

TEST(FormatText, FillsFieldsInOrder)
{
    EXPECT_EQ(FormatText(msg::Summary, {IntToText(3), IntToText(-1)}),
              u"3 module(s) processed, -1 module(s) failed.");
    EXPECT_EQ(FormatText(u"100% sure: %s", {u"x"}), u"100% sure: x");
    EXPECT_EQ(FormatText(u"%s and %s", {u"only"}), u"only and %s");
}

}  // namespace
