// The console wrap at 79 columns, the message fields, and the switch and
// positional-argument rules (through the POSIX argument source; the
// Windows build is checked by running the program).
#include <gtest/gtest.h>

#include "CommandLine.h"
#include "ConsoleOutput.h"
#include "SysApi.h"
#include "TextFormat.h"

namespace {

std::u16string Repeat(char16_t c, std::size_t n) { return std::u16string(n, c); }

TEST(Wrap, BreaksAtTheLastBlankThatFitsAndKeepsLongWordsWhole) {
    std::u16string const a79 = Repeat(u'a', 79), word = Repeat(u'w', 200);
    std::pair<std::u16string, std::u16string> const rows[] = {
        {u"", u""},
        {Repeat(u'a', 40) + u' ' + Repeat(u'b', 38), Repeat(u'a', 40) + u' ' + Repeat(u'b', 38)},  // exactly 79
        {a79 + u" rest", a79 + u"\r\nrest"},  // the 80th is a blank
        {Repeat(u'a', 50) + u' ' + Repeat(u'b', 20) + u' ' + Repeat(u'c', 20),
         Repeat(u'a', 50) + u' ' + Repeat(u'b', 20) + u"\r\n" + Repeat(u'c', 20)},
        {a79 + u"   x", a79 + u"\r\n  x"},   // one blank is dropped at a break
        {word + u" tail", word + u" tail"},  // the search goes on after a long word
        {u"short " + word, u"short\r\n" + word},
        {u"one\r\ntwo\n\rthree", u"one\r\ntwo\r\nthree"},
        {u"end\n", u"end\r\n"},
    };
    for (auto const& [text, wrapped] : rows) {
        EXPECT_EQ(WrapText(text, ConsoleWidth), wrapped);
    }
}

TEST(FormatText, FillsFieldsInOrder) {
    EXPECT_EQ(FormatText(u"%d module(s) processed, %d failed.", {IntToText(3), IntToText(-1)}),
              u"3 module(s) processed, -1 failed.");
    EXPECT_EQ(FormatText(u"100% sure: %s", {u"x"}), u"100% sure: x");
    EXPECT_EQ(FormatText(u"%s and %s", {u"only"}), u"only and %s");
}

#ifndef _WIN32
TEST(ParseCommandLine, SwitchesComeBeforeTheModuleAndTheRestArePositional) {
    struct Row {
        std::vector<const char*> Args;
        bool Valid, Recursive = false, Overwrite = false, ListOnly = false;
        std::vector<std::u16string> Positional = {};
    } const rows[] = {
        {{}, false},
        {{"-r"}, false},
        {{"-w", "-N"}, false},
        {{"-R", "/W", "/n", "-r", "a.dll"}, true, true, true, true, {u"a.dll"}},
        {{"a.dll", "-w", "c.dll"}, true, false, false, false, {u"a.dll", u"-w", u"c.dll"}},
        {{"-rw", "x"}, true, false, false, false, {u"-rw", u"x"}},
        {{"", "-n", "", "a.dll", "", "c.tds"}, true, false, false, true, {u"a.dll", u"c.tds"}},  // empty ones skipped
    };
    for (auto const& row : rows) {
        std::vector<char*> argv{const_cast<char*>("quillon")};
        for (const char* arg : row.Args) {
            argv.push_back(const_cast<char*>(arg));
        }
        InitPlatform(static_cast<int>(argv.size()), argv.data());
        TRunSettings settings;
        EXPECT_EQ(ParseCommandLine(settings), row.Valid) << row.Args.size();
        if (row.Valid) {
            EXPECT_EQ(std::tie(settings.Recursive, settings.Overwrite, settings.ListOnly, settings.Positional),
                      std::tie(row.Recursive, row.Overwrite, row.ListOnly, row.Positional));
        }
    }
}
#endif

}  // namespace
