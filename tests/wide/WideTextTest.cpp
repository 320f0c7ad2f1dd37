// The portable text helpers, a table each.
#include <gtest/gtest.h>

#include <vector>

#include "WideText.h"

namespace {

#ifdef _WIN32
#define SEP u"\\"
#else
#define SEP u"/"
#endif

// Each path with its folder part, its name part and ReplaceExtension(path, ".tds").
constexpr struct { const char16_t *path, *folder, *name, *withTds; } kPathCases[] = {
    {u"a.b.dll", u"", u"a.b.dll", u"a.b.tds"},
    {u"dir" SEP u"a.dll", u"dir", u"a.dll", u"dir" SEP u"a.tds"},
    {SEP u"a.dll", SEP, u"a.dll", SEP u"a.tds"},  // a root keeps its separator
    {u"dir.x" SEP u"tool", u"dir.x", u"tool", u"dir.x" SEP u"tool.tds"},  // a dot in a folder name
#ifdef _WIN32
    {u"C:\\a.dll", u"C:\\", u"a.dll", u"C:\\a.tds"},
    {u"C:a.dll", u"C:", u"a.dll", u"C:a.tds"},
    {u"a.b:c", u"a.b:", u"c", u"a.b:c.tds"},
    {u"dir.x/tool", u"", u"dir.x/tool", u"dir.tds"},  // the slash is an ordinary character
#else
    {u"dir.x\\tool", u"", u"dir.x\\tool", u"dir.tds"},  // backslash and colon are ordinary characters
    {u"C:a.dll", u"", u"C:a.dll", u"C:a.tds"},
#endif
};

TEST(PathParts, FolderNameAndExtension) {
    for (const auto& c : kPathCases) {
        EXPECT_EQ(ExtractFolderPart(c.path), c.folder) << WideToUtf8(c.path);
        EXPECT_EQ(ExtractNamePart(c.path), c.name) << WideToUtf8(c.path);
        EXPECT_EQ(ReplaceExtension(c.path, u".tds"), c.withTds) << WideToUtf8(c.path);
    }
    EXPECT_EQ(FindLastDelimiter(u"./", u"a/b.c"), 4u);
}

// The arguments up to the first empty one, which must be the end, read from an exact copy (for ASan).
std::vector<WideString> SplitCommandLine(const WideString& text) {
    std::vector<char16_t> line(text.c_str(), text.c_str() + text.size() + 1);
    std::vector<WideString> arguments;
    std::size_t position = 0;
    for (WideString argument; !(argument = ScanArgument(line.data(), position)).empty();)
        arguments.push_back(argument);
    if (position != text.size()) arguments.push_back(u"(stopped before the end)");
    return arguments;
}

const WideString kRun(5000, u'x'), kLimit(kMaxArgumentLength, u'x'), kRest(5000 - kMaxArgumentLength, u'x');

const struct { WideString line; std::vector<WideString> arguments; } kSplitCases[] = {
    {u"prog a\"b c\"d \"e\"\"f\"g", {u"prog", u"ab cd", u"efg"}},  // quotes anywhere in an argument
    {u"\"C:\\Program Files\\q.exe\" \u0416 \U0001F600", {u"C:\\Program Files\\q.exe", u"\u0416", u"\U0001F600"}},
    {u"prog a \"\" b a\"\"b \"\"\"\" \"\"c \"\"", {u"prog", u"a", u"b", u"ab", u"c"}},  // empty quote pairs
    {u" prog\ta\t\tb\x01" u"c\r\nd  \"e\tf\x01 g\"", {u"prog", u"a", u"b", u"c", u"d", u"e\tf\x01 g"}},
    {u"prog a\\\"b c\" d\\ \"e f  ", {u"prog", u"a\\b c", u"d\\", u"e f  "}},  // backslash; an unclosed quote
    {u"p " + kRun + u" z", {u"p", kLimit, kRest, u"z"}},  // a long argument splits at the limit
    {u"p \"" + kRun + u"\" z", {u"p", kLimit, kRest + u" z"}},  // the rest goes on, its quote opens a stretch
    {u"\"" + kLimit + u"\" b", {kLimit, u"b"}},  // a stretch ending at the limit drops its closing quote
};

TEST(ScanArgument, SplitsCommandLines) {
    for (const auto& c : kSplitCases)
        EXPECT_EQ(SplitCommandLine(c.line), c.arguments) << WideToUtf8(c.line.substr(0, 40));
}

// Rows that convert exactly, both ways: a byte that is not part of valid UTF-8 stands as U+DC00 + byte.
const struct { std::string utf8; WideString wide; } kUtf8Cases[] = {
    {"a\xC3\xA9\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80", u"a\u00E9\u0416\u4E2D\U0001F600"},
    {"\xFF\x80\xE2\x82\x41", {0xDCFF, 0xDC80, 0xDCE2, 0xDC82, u'A'}},  // stray bytes, a sequence cut short
    {"\xC0\x80", {0xDCC0, 0xDC80}},                          // overlong
    {"\xED\xA0\x80", {0xDCED, 0xDCA0, 0xDC80}},              // an encoded surrogate
    {"\xF4\x90\x80\x80", {0xDCF4, 0xDC90, 0xDC80, 0xDC80}},  // past U+10FFFF
};

TEST(Utf8, ConvertsBothWaysAndRoundTripsAnyBytes) {
    for (const auto& c : kUtf8Cases) {
        EXPECT_EQ(Utf8ToWide(c.utf8), c.wide) << c.utf8;
        EXPECT_EQ(WideToUtf8(c.wide), c.utf8) << c.utf8;
    }
    for (int pair = 0; pair < 0x10000; ++pair)
        ASSERT_EQ(WideToUtf8(Utf8ToWide({char(pair >> 8), char(pair)})), std::string({char(pair >> 8), char(pair)}));
    for (char16_t unit : {0xD800, 0xDBFF, 0xDC41, 0xDC7F, 0xDD00, 0xDFFF})  // other unpaired surrogates
        EXPECT_EQ(WideToUtf8({unit, u'a'}), "\xEF\xBF\xBD" "a") << int{unit};
}

}  // namespace
