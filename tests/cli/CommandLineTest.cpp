// Switch and positional-argument rules, driven through the POSIX argument
// source (the Windows build is covered by running the program itself).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"
#include "ModuleSearch.h"
#include "SysApi.h"

namespace {

struct Parsed {
    bool valid;
    bool recursive;
    bool overwrite;
    std::u16string mask;
    std::u16string tds;
};

Parsed Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "quillon");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    InitPlatform(static_cast<int>(args.size()), argv.data());
    Parsed p{};
    p.valid = ParseCommandLine(p.recursive, p.overwrite, p.mask, p.tds);
    return p;
}

TEST(ParseCommandLine, SwitchesBeforeTheModuleInAnyCaseAndForm)
{
    Parsed p = Parse({"-R", "/W", "a.dll"});
    EXPECT_TRUE(p.valid);
    EXPECT_TRUE(p.recursive);
    EXPECT_TRUE(p.overwrite);
    EXPECT_EQ(p.mask, u"a.dll");
    EXPECT_EQ(p.tds, u"");

    p = Parse({"-w", "-w", "/r", "m.exe", "out.tds"});
    EXPECT_TRUE(p.valid);
    EXPECT_TRUE(p.recursive && p.overwrite);
    EXPECT_EQ(p.tds, u"out.tds");
}

TEST(ParseCommandLine, ArgumentAfterTheModuleIsAlwaysTheTdsPath)
{
    Parsed p = Parse({"a.dll", "-w"});
    EXPECT_TRUE(p.valid);
    EXPECT_FALSE(p.overwrite);
    EXPECT_EQ(p.tds, u"-w");

    p = Parse({"a.dll", "-r"});
    EXPECT_TRUE(p.valid);
    EXPECT_FALSE(p.recursive);
    EXPECT_EQ(p.tds, u"-r");
}

TEST(ParseCommandLine, SwitchesAreWholeArgumentsOnly)
{
    Parsed p = Parse({"-rw"});
    EXPECT_TRUE(p.valid);
    EXPECT_FALSE(p.recursive);
    EXPECT_EQ(p.mask, u"-rw");
}

TEST(ParseCommandLine, InvalidCommandLines)
{
    EXPECT_FALSE(Parse({}).valid);
    EXPECT_FALSE(Parse({"-r"}).valid);
    EXPECT_FALSE(Parse({"-w", "-r"}).valid);
    EXPECT_FALSE(Parse({"a.dll", "b.tds", "c.tds"}).valid);
}

TEST(ParseCommandLine, EmptyArgumentEndsTheList)
{
    Parsed p = Parse({"a.dll", "", "c.tds"});
    EXPECT_TRUE(p.valid);
    EXPECT_EQ(p.tds, u"");
}

TEST(JoinPath, AddsOneSeparatorUnlessTheFolderIsARoot)
{
    EXPECT_EQ(JoinPath(u"", u"a.dll"), u"a.dll");
    EXPECT_EQ(JoinPath(u"dir", u"a.dll"), u"dir/a.dll");
    EXPECT_EQ(JoinPath(u"/", u"a.dll"), u"/a.dll");
    EXPECT_EQ(JoinPath(u"dir:x", u"a.dll"), u"dir:x/a.dll");
}

}  // namespace
