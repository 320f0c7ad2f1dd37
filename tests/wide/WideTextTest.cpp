#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Exception.h"
#include "WideText.h"

namespace {

// Every argument of a command line, the program name first, as the
// argument functions see them: scanning stops at the first empty one.
std::vector<WideString> SplitCommandLine(const WideString& line) {
    std::vector<WideString> arguments;
    std::size_t position = 0;
    for (;;) {
        WideString argument = ScanArgument(line.c_str(), position);
        if (argument.empty()) return arguments;
        arguments.push_back(argument);
    }
}

using Args = std::vector<WideString>;

TEST(ScanArgument, QuotedStretchesJoinWithTheirNeighbours) {
    EXPECT_EQ(SplitCommandLine(u"prog a\"b c\"d"), (Args{u"prog", u"ab cd"}));
    EXPECT_EQ(SplitCommandLine(u"prog \"a\"\"b\"c"), (Args{u"prog", u"abc"}));
    EXPECT_EQ(SplitCommandLine(u"\"C:\\Program Files\\q.exe\" \"x y.dll\" z"),
              (Args{u"C:\\Program Files\\q.exe", u"x y.dll", u"z"}));
}

TEST(ScanArgument, EmptyQuotePairsAreNoArgument) {
    EXPECT_EQ(SplitCommandLine(u"prog a \"\" b"), (Args{u"prog", u"a", u"b"}));
    EXPECT_EQ(SplitCommandLine(u"prog a\"\"b"), (Args{u"prog", u"ab"}));
    EXPECT_EQ(SplitCommandLine(u"prog \"\"\"\" \"\"a"), (Args{u"prog", u"a"}));
    EXPECT_EQ(SplitCommandLine(u"prog \"\""), (Args{u"prog"}));
}

TEST(ScanArgument, BlanksTabsAndControlCharactersSeparate) {
    EXPECT_EQ(SplitCommandLine(u"prog\ta\t\tb"), (Args{u"prog", u"a", u"b"}));
    EXPECT_EQ(SplitCommandLine(u"prog a\x01" u"b\r\nc"), (Args{u"prog", u"a", u"b", u"c"}));
    EXPECT_EQ(SplitCommandLine(u"  prog   a    "), (Args{u"prog", u"a"}));
    EXPECT_EQ(SplitCommandLine(u"prog"), (Args{u"prog"}));
    EXPECT_EQ(SplitCommandLine(u""), Args{});
}

TEST(ScanArgument, QuotesKeepBlanksAndControlCharacters) {
    EXPECT_EQ(SplitCommandLine(u"prog \"a\tb\x01 c\""), (Args{u"prog", u"a\tb\x01 c"}));
}

TEST(ScanArgument, BackslashIsOrdinaryText) {
    EXPECT_EQ(SplitCommandLine(u"prog a\\\"b c\" d\\"), (Args{u"prog", u"a\\b c", u"d\\"}));
}

TEST(ScanArgument, UnclosedQuoteRunsToTheEnd) {
    WideString line = u"prog \"a b  ";
    std::size_t position = 4;
    EXPECT_EQ(ScanArgument(line.c_str(), position), u"a b  ");
    EXPECT_EQ(position, line.size());
    EXPECT_EQ(ScanArgument(line.c_str(), position), u"");
    EXPECT_EQ(position, line.size());
}

TEST(ScanArgument, PositionStopsAtTheSeparatorAfterTheArgument) {
    WideString line = u"ab \"c d\"e  f";
    std::size_t position = 0;
    EXPECT_EQ(ScanArgument(line.c_str(), position), u"ab");
    EXPECT_EQ(position, 2u);
    EXPECT_EQ(ScanArgument(line.c_str(), position), u"c de");
    EXPECT_EQ(position, 9u);
    EXPECT_EQ(ScanArgument(line.c_str(), position), u"f");
    EXPECT_EQ(position, line.size());
}

TEST(ScanArgument, UnquotedRunSplitsAtTheLimit) {
    WideString run(5000, u'y');
    Args arguments = SplitCommandLine(u"p " + run + u" z");
    ASSERT_EQ(arguments.size(), 4u);
    EXPECT_EQ(arguments[1], WideString(kMaxArgumentLength, u'y'));
    EXPECT_EQ(arguments[2], WideString(5000 - kMaxArgumentLength, u'y'));
    EXPECT_EQ(arguments[3], u"z");
}

TEST(ScanArgument, LongQuotedStretchEndsAtTheLimit) {
    // A heap copy of exactly the line, so a read past its NUL is caught by ASan.
    WideString text = u"p \"" + WideString(5000, u'x') + u"\" z";
    std::vector<char16_t> line(text.begin(), text.end());
    line.push_back(0);
    std::size_t position = 1;
    WideString argument = ScanArgument(line.data(), position);
    EXPECT_EQ(argument, WideString(kMaxArgumentLength, u'x'));
    EXPECT_EQ(position, 3 + kMaxArgumentLength);
    // Nothing is dropped: scanning goes on right after the 4096th unit, so
    // the rest of the stretch starts the next argument and its closing
    // quotation mark opens a new stretch.
    EXPECT_EQ(ScanArgument(line.data(), position), WideString(5000 - kMaxArgumentLength, u'x') + u" z");
    EXPECT_EQ(position, line.size() - 1);
    EXPECT_EQ(ScanArgument(line.data(), position), u"");
}

TEST(ScanArgument, QuotedStretchEndingAtTheLimitDropsItsClosingQuote) {
    WideString line = u"\"" + WideString(kMaxArgumentLength, u'x') + u"\" b";
    std::size_t position = 0;
    EXPECT_EQ(ScanArgument(line.c_str(), position).size(), kMaxArgumentLength);
    EXPECT_EQ(position, kMaxArgumentLength + 2);
    EXPECT_EQ(ScanArgument(line.c_str(), position), u"b");
}

TEST(FindLastDelimiter, PositionsAreOneBasedAndNulNeverMatches) {
    EXPECT_EQ(FindLastDelimiter(u"./", u"a/b.c"), 4u);
    EXPECT_EQ(FindLastDelimiter(u"./", u".ab"), 1u);
    EXPECT_EQ(FindLastDelimiter(u"./", u"abc"), 0u);
    EXPECT_EQ(FindLastDelimiter(u"./", u""), 0u);
    WideString withNul(u"a\0b", 3);
    EXPECT_EQ(FindLastDelimiter(WideString(u"\0", 1), withNul), 0u);
}

struct PathCase {
    const char16_t* path;
    const char16_t* folder;
    const char16_t* name;
};

#ifdef _WIN32
constexpr PathCase kPathCases[] = {
    {u"a.dll", u"", u"a.dll"},
    {u"dir\\a.dll", u"dir", u"a.dll"},
    {u"C:\\dir\\a.dll", u"C:\\dir", u"a.dll"},
    {u"C:\\a.dll", u"C:\\", u"a.dll"},
    {u"C:a.dll", u"C:", u"a.dll"},
    {u"\\a.dll", u"\\", u"a.dll"},
    {u"dir/sub/a.dll", u"", u"dir/sub/a.dll"},
    {u"C:dir/a.dll", u"C:", u"dir/a.dll"},
    {u"dir\\", u"dir", u""},
};
#else
constexpr PathCase kPathCases[] = {
    {u"a.dll", u"", u"a.dll"},
    {u"dir/a.dll", u"dir", u"a.dll"},
    {u"/dir/a.dll", u"/dir", u"a.dll"},
    {u"/a.dll", u"/", u"a.dll"},
    {u"dir\\a.dll", u"", u"dir\\a.dll"},
    {u"C:a.dll", u"", u"C:a.dll"},
    {u"dir/", u"dir", u""},
};
#endif

TEST(PathParts, FolderAndNameParts) {
    for (const PathCase& c : kPathCases) {
        SCOPED_TRACE(WideToUtf8(c.path));
        EXPECT_EQ(ExtractFolderPart(c.path), c.folder);
        EXPECT_EQ(ExtractNamePart(c.path), c.name);
    }
}

TEST(PathParts, ReplaceExtension) {
    const WideString sep(1, kPathSeparator);
    EXPECT_EQ(ReplaceExtension(u"a.b.dll", u".tds"), u"a.b.tds");
    EXPECT_EQ(ReplaceExtension(u"tool", u".tds"), u"tool.tds");
    EXPECT_EQ(ReplaceExtension(u"dir.x" + sep + u"tool", u".tds"), u"dir.x" + sep + u"tool.tds");
    EXPECT_EQ(ReplaceExtension(u"dir.x" + sep + u"a.dll", u".tds"), u"dir.x" + sep + u"a.tds");
#ifdef _WIN32
    // Forward slashes are part of one name: the last dot wins.
    EXPECT_EQ(ReplaceExtension(u"dir.x/tool", u".tds"), u"dir.tds");
    EXPECT_EQ(ReplaceExtension(u"C:tool", u".tds"), u"C:tool.tds");
    EXPECT_EQ(ReplaceExtension(u"a.b:c", u".tds"), u"a.b:c.tds");
#else
    EXPECT_EQ(ReplaceExtension(u"dir.x\\tool", u".tds"), u"dir.tds");
#endif
}

// ---- UTF-8 ----

std::string Bytes(std::initializer_list<unsigned> values) {
    std::string out;
    for (unsigned v : values) out.push_back(static_cast<char>(v));
    return out;
}

TEST(Utf8, ValidTextConvertsBothWays) {
    const std::string utf8 = "a\xC3\xA9\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80";  // a é Ж 中 😀
    const WideString wide = u"a\u00E9\u0416\u4E2D\U0001F600";
    EXPECT_EQ(Utf8ToWide(utf8), wide);
    EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(Utf8, InvalidBytesBecomeLoneSurrogates) {
    EXPECT_EQ(Utf8ToWide(Bytes({0x61, 0xFF, 0x80})), (WideString{u'a', 0xDCFF, 0xDC80}));
    // Overlong, encoded surrogate, past U+10FFFF, truncated: byte by byte.
    EXPECT_EQ(Utf8ToWide(Bytes({0xC0, 0x80})), (WideString{0xDCC0, 0xDC80}));
    EXPECT_EQ(Utf8ToWide(Bytes({0xED, 0xA0, 0x80})), (WideString{0xDCED, 0xDCA0, 0xDC80}));
    EXPECT_EQ(Utf8ToWide(Bytes({0xF4, 0x90, 0x80, 0x80})), (WideString{0xDCF4, 0xDC90, 0xDC80, 0xDC80}));
    EXPECT_EQ(Utf8ToWide(Bytes({0xE2, 0x82, 0x41})), (WideString{0xDCE2, 0xDC82, u'A'}));
    EXPECT_EQ(Utf8ToWide(Bytes({0xE2, 0x82})), (WideString{0xDCE2, 0xDC82}));
}

TEST(Utf8, AnyByteStringRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(WideToUtf8(Utf8ToWide(all)), all);
    unsigned state = 12345;
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (int i = 0; i < 12; ++i) {
            state = state * 1103515245u + 12345u;
            text.push_back(static_cast<char>(state >> 16));
        }
        ASSERT_EQ(WideToUtf8(Utf8ToWide(text)), text);
    }
}

TEST(Utf8, OtherUnpairedSurrogatesBecomeReplacementCharacter) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(WideToUtf8(WideString{0xD800}), replacement);
    EXPECT_EQ(WideToUtf8(WideString{0xD800, u'a'}), replacement + "a");
    EXPECT_EQ(WideToUtf8(WideString{0xDC41}), replacement);
    EXPECT_EQ(WideToUtf8(WideString{0xDD00}), replacement);
    EXPECT_EQ(WideToUtf8(WideString{0xDC7F}), replacement);
}

TEST(ExceptionText, WhatIsUtf8OfTheMessage) {
    Exception error(u"Fehler \u00E4 \u0416");
    EXPECT_STREQ(error.what(), "Fehler \xC3\xA4 \xD0\x96");
    EXPECT_EQ(error.Message(), u"Fehler \u00E4 \u0416");
    EXPECT_STREQ(Exception().what(), "");
}

}  // namespace
