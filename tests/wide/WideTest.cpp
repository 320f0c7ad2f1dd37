// The Unicode system layer: the text helpers, a table each, and the platform seam on the real file system.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "ImageChecksum.h"
#include "SysApi.h"
#include "TestFiles.h"
#include "WideText.h"

namespace fs = std::filesystem;
using namespace sys;

namespace {

constexpr bool kWindows = kPathSeparator == u'\\';

constexpr struct {
    const char16_t *path, *folder, *name, *withTds;
} kPathCases[] = {
    {u"a.b.dll", u"", u"a.b.dll", u"a.b.tds"},
#ifdef _WIN32
    {u"dir\\a.dll", u"dir", u"a.dll", u"dir\\a.tds"},
    {u"\\a.dll", u"\\", u"a.dll", u"\\a.tds"},  // a root keeps its separator
    {u"C:\\a.dll", u"C:\\", u"a.dll", u"C:\\a.tds"},
    {u"C:a.dll", u"C:", u"a.dll", u"C:a.tds"},
    {u"a.b:c", u"a.b:", u"c", u"a.b:c.tds"},
    {u"dir.x\\tool", u"dir.x", u"tool", u"dir.x\\tool.tds"},  // a dot in a folder name
    {u"dir.x/tool", u"dir.x", u"tool", u"dir.x/tool.tds"},    // the slash separates folders too
    {u"C:/a.dll", u"C:/", u"a.dll", u"C:/a.tds"},
    {u"C:/d\\e/a.dll", u"C:/d\\e", u"a.dll", u"C:/d\\e/a.tds"},
#else
    {u"dir/a.dll", u"dir", u"a.dll", u"dir/a.tds"},
    {u"/a.dll", u"/", u"a.dll", u"/a.tds"},  // a root keeps its separator
    {u"C:a.dll", u"", u"C:a.dll", u"C:a.tds"},
    {u"dir.x/tool", u"dir.x", u"tool", u"dir.x/tool.tds"},  // a dot in a folder name
    {u"dir.x\\tool", u"", u"dir.x\\tool", u"dir.tds"},      // backslash and colon are ordinary characters
#endif
};

TEST(PathParts, FolderNameAndExtension) {
    for (const auto& c : kPathCases)
        EXPECT_EQ(std::tuple(ExtractFolderPart(c.path), ExtractNamePart(c.path), ReplaceExtension(c.path, u".tds")),
                  std::tuple(WideString(c.folder), WideString(c.name), WideString(c.withTds)))
            << WideToUtf8(c.path);
}

// The arguments up to the first empty one, which must be the end, read from an exact copy (for ASan).
std::vector<WideString> SplitCommandLine(const WideString& text) {
    std::vector<char16_t> line(text.c_str(), text.c_str() + text.size() + 1);
    std::vector<WideString> arguments;
    std::size_t position = 0;
    for (WideString argument; !(argument = ScanArgument(line.data(), position)).empty();) arguments.push_back(argument);
    if (position != text.size()) arguments.push_back(u"(stopped before the end)");
    return arguments;
}

const WideString kRun(5000, u'x'), kLimit(kMaxArgumentLength, u'x'), kRest(5000 - kMaxArgumentLength, u'x');

const struct {
    WideString line;
    std::vector<WideString> arguments;
} kSplitCases[] = {
    {u"prog a\"b c\"d \"e\"\"f\"g", {u"prog", u"ab cd", u"efg"}},  // quotes anywhere in an argument
    {u"\"C:\\Program Files\\q.exe\" \u0416 \U0001F600", {u"C:\\Program Files\\q.exe", u"\u0416", u"\U0001F600"}},
    {u"prog a \"\" b a\"\"b \"\"\"\" \"\"c \"\"", {u"prog", u"a", u"b", u"ab", u"c"}},  // empty quote pairs
    {u" prog\ta\t\tb\x01"
     u"c\r\nd  \"e\tf\x01 g\"",
     {u"prog", u"a", u"b", u"c", u"d", u"e\tf\x01 g"}},
    {u"prog a\\\"b c\" d\\ \"e f  ", {u"prog", u"a\\b c", u"d\\", u"e f  "}},  // backslash; an unclosed quote
    {u"p " + kRun + u" z", {u"p", kLimit, kRest, u"z"}},                       // a long argument splits at the limit
    {u"p \"" + kRun + u"\" z", {u"p", kLimit, kRest + u" z"}},  // the rest goes on, its quote opens a stretch
    {u"\"" + kLimit + u"\" b", {kLimit, u"b"}},                 // a stretch ending at the limit drops its closing quote
};

TEST(ScanArgument, SplitsCommandLines) {
    for (const auto& c : kSplitCases)
        EXPECT_EQ(SplitCommandLine(c.line), c.arguments) << WideToUtf8(c.line.substr(0, 40));
}

const struct {
    std::string utf8;
    WideString wide;
} kUtf8Cases[] = {
    // a byte not in valid UTF-8: U+DC00 + byte
    {"a\xC3\xA9\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80", u"a\u00E9\u0416\u4E2D\U0001F600"},
    {"\xFF\x80\xE2\x82\x41", {0xDCFF, 0xDC80, 0xDCE2, 0xDC82, u'A'}},  // stray bytes, a sequence cut short
    {"\xE0\x80\xAF", {0xDCE0, 0xDC80, 0xDCAF}},                        // overlong
    {"\xED\xA0\x80", {0xDCED, 0xDCA0, 0xDC80}},                        // an encoded surrogate
    {"\xF4\x90\x80\x80", {0xDCF4, 0xDC90, 0xDC80, 0xDC80}},            // past U+10FFFF
};

TEST(Utf8, ConvertsBothWays) {
    for (const auto& c : kUtf8Cases)
        EXPECT_EQ(std::pair(Utf8ToWide(c.utf8), WideToUtf8(c.wide)), std::pair(c.wide, c.utf8)) << c.utf8;
    for (char16_t unit : {0xD800, 0xDBFF, 0xDC41, 0xDC7F, 0xDD00, 0xDFFF})  // other unpaired surrogates
        EXPECT_EQ(WideToUtf8({unit, u'a'}),
                  "\xEF\xBF\xBD"
                  "a")
            << int{unit};
}

// a.dll, ab.dll, b.dll, c.txt ("hello" each), folder sub; '/' separates on Windows too; wide and ANSI mode there.
class SysApi : public ::testing::TestWithParam<bool> {
protected:
    SysApi() {
        UseWideApi = GetParam();
        for (auto name : {u"a.dll", u"ab.dll", u"b.dll", u"c.txt"}) std::ofstream(FsPath(name)) << "hello";
        fs::create_directory(FsPath(u"sub"));
    }
    ~SysApi() override { UseWideApi = true; }
    WideString In(const WideString& name) const { return testsupport::Wide(dir_.Path()) + kPathSeparator + name; }
    fs::path FsPath(const WideString& name) const { return dir_.Path() / fs::path(name); }
    SysHandle Open(const WideString& name, std::uint32_t access, std::uint32_t share, std::uint32_t disposition) {
        return CreateFileByPath(In(name), access, share, nullptr, disposition, kFileAttributeNormal, nullptr);
    }
    // The names a search finds, folders with a trailing '/', and the last error at its end.
    std::pair<std::set<WideString>, std::uint32_t> Search(const WideString& mask) {
        std::set<WideString> names;
        FindEntry entry;
        SysSetLastError(kErrorSuccess);
        SysHandle search = FindFirstEntry(In(mask), entry);
        for (bool found = search != kInvalidHandle; found; found = FindNextEntry(search, entry))
            names.insert(entry.FileName + ((entry.Attributes & kFileAttributeDirectory) != 0 ? u"/" : u""));
        std::uint32_t error = SysGetLastError();
        EXPECT_TRUE(search == kInvalidHandle || FindCloseEntry(search));
        return {names, error};
    }
    testsupport::TempDir dir_;
};
INSTANTIATE_TEST_SUITE_P(Api, SysApi, ::testing::ValuesIn(kWindows ? std::vector{true, false} : std::vector{true}));

const struct {
    const char16_t* name;
    std::uint32_t access, share, disposition, error;
} kOpenCases[] = {
    {u"none.dll", kGenericRead, kFileShareRead, kOpenExisting, kErrorFileNotFound},
    {u"nodir/none.dll", kGenericRead, kFileShareRead, kOpenExisting, kErrorPathNotFound},
    {u"sub", kGenericRead, kFileShareRead, kOpenExisting, kErrorAccessDenied},
    {u"a.dll", kGenericRead, kFileShareRead, kOpenExisting, kErrorSharingViolation},  // a.dll is open for writing,
    {u"a.dll", kGenericWrite, 0, kCreateAlways, kErrorSharingViolation},
    {u"b.dll", kGenericRead, kFileShareRead, kOpenExisting, kErrorSuccess},  // b.dll for reading, sharing reads
    {u"b.dll", kGenericWrite, kFileShareRead, kOpenExisting, kErrorSharingViolation},
#ifndef _WIN32
    // c.txt has no write permission: read-only, even for root (Wine lets root write it).
    {u"c.txt", kGenericRead | kGenericWrite, 0, kOpenExisting, kErrorAccessDenied},
    {u"c.txt", kGenericWrite, 0, kCreateAlways, kErrorAccessDenied},
    {u"c.txt", kGenericRead, kFileShareRead, kOpenExisting, kErrorSuccess},
#endif
};

TEST_P(SysApi, OpenResults) {
    if (!kWindows) fs::permissions(FsPath(u"c.txt"), fs::perms::owner_read);
    SysHandle writer = Open(u"a.dll", kGenericRead | kGenericWrite, 0, kOpenExisting);
    SysHandle reader = Open(u"b.dll", kGenericRead, kFileShareRead, kOpenExisting);
    for (const auto& c : kOpenCases) {
        SysSetLastError(kErrorInvalidParameter);
        SysHandle file = Open(c.name, c.access, c.share, c.disposition);
        EXPECT_EQ(file == kInvalidHandle ? SysGetLastError() : kErrorSuccess, c.error) << WideToUtf8(c.name);
        EXPECT_TRUE(file == kInvalidHandle || SysCloseHandle(file));
    }
    EXPECT_EQ(SysGetFileSize(writer, nullptr), 5u);  // not cut by the refused CREATE_ALWAYS
    EXPECT_TRUE(SysCloseHandle(writer) && SysCloseHandle(reader));
    SysHandle replaced = Open(u"a.dll", kGenericWrite, 0, kCreateAlways);
    std::uint32_t high = 1;
    EXPECT_TRUE(SysGetFileSize(replaced, &high) == 0 && high == 0 && SysCloseHandle(replaced));
    EXPECT_TRUE(DeleteFileByPath(In(u"a.dll")) && !fs::exists(FsPath(u"a.dll")));
}

const struct {
    const char16_t* mask;
    std::set<WideString> names;
    std::uint32_t error;
} kSearchCases[] = {
    {u"*.dll", {u"a.dll", u"ab.dll", u"b.dll"}, kErrorNoMoreFiles},
    {u"?.dll", {u"a.dll", u"b.dll"}, kErrorNoMoreFiles},
    {u"*", {u"./", u"../", u"a.dll", u"ab.dll", u"b.dll", u"c.txt", u"sub/"}, kErrorNoMoreFiles},
    {u"*.*", {u"./", u"../", u"a.dll", u"ab.dll", u"b.dll", u"c.txt", u"sub/"}, kErrorNoMoreFiles},
    {u"?B.DLL", {u"ab.dll"}, kErrorNoMoreFiles},  // as Windows: any case, "*.*" names without a dot too,
    {u"A.dll..", {u"a.dll"}, kErrorNoMoreFiles},  // and trailing dots need nothing

    {u"???.dll", {}, kErrorFileNotFound},
    {u"none.dll", {}, kErrorFileNotFound},
    {u"nodir/*", {}, kErrorPathNotFound},
};

TEST_P(SysApi, FolderSearchAndSameFile) {
    for (const auto& c : kSearchCases) EXPECT_EQ(Search(c.mask), std::pair(c.names, c.error)) << WideToUtf8(c.mask);
    EXPECT_TRUE(IsExistingFile(In(u"a.dll")) && !IsExistingFile(In(u"sub")) && !IsExistingFile(In(u"none")));
    if (kWindows)
        fs::create_hard_link(FsPath(u"a.dll"), FsPath(u"link.dll"));  // Wine makes no symbolic links
    else
        fs::create_symlink(FsPath(u"a.dll"), FsPath(u"link.dll"));
    EXPECT_TRUE(SysIsSameFile(In(u"a.dll"), In(u"link.dll")) && SysIsSameFile(In(u"a.dll"), In(u"sub/../a.dll")));
    EXPECT_FALSE(SysIsSameFile(In(u"a.dll"), In(u"b.dll")) || SysIsSameFile(In(u"none"), In(u"none")));
}

// Steps on the 5 bytes of a.dll, each from where the one before and its read of up to 9 bytes left it.
const struct {
    std::int32_t low, high;
    std::uint32_t method, newLow, newHigh, error;
    const char* read;
} kSeeks[] = {
    {16, 1, kFileBegin, 16, 1, kErrorSuccess, ""},               // 4 GiB + 16
    {-6, -2, kFileEnd, 0xFFFFFFFFu, 0, kErrorNegativeSeek, ""},  // before the start: refused
    {-15, -2, kFileCurrent, 1, 0, kErrorSuccess, "ello"},        // back by 4 GiB + 15
    {-1, 0, kFileBegin, 0xFFFFFFFFu, 0, kErrorSuccess, ""},      // a low part of 0xFFFFFFFF is no error
};

TEST_P(SysApi, SeekReadAndCut) {
    SysHandle file = Open(u"a.dll", kGenericRead | kGenericWrite, 0, kOpenExisting);
    for (const auto& s : kSeeks) {
        std::int32_t high = s.high;
        SysSetLastError(kErrorInvalidParameter);
        const std::uint32_t low = SysSetFilePointer(file, s.low, &high, s.method);
        const std::uint32_t error = low == 0xFFFFFFFFu ? SysGetLastError() : kErrorSuccess;
        char buffer[9];
        std::uint32_t got = 99;
        EXPECT_TRUE(SysReadFile(file, buffer, sizeof buffer, &got)) << s.low;  // stops at the end, no error
        EXPECT_EQ(std::tuple(low, error, error ? s.newHigh : std::uint32_t(high), std::string(buffer, got)),
                  std::tuple(s.newLow, s.error, s.newHigh, std::string(s.read)))
            << s.low;
    }
    EXPECT_EQ(SysSetFilePointer(file, 3, nullptr, kFileBegin), 3u);
    EXPECT_TRUE(SysSetEndOfFile(file) && SysFlushFileBuffers(file) && SysCloseHandle(file));
    EXPECT_EQ(fs::file_size(FsPath(u"a.dll")), 3u);
}

TEST_P(SysApi, NamesInOtherScriptsReachTheirFiles) {
    std::set<WideString> names = {u"\u0416\u0443\u043A.tds", u"\u4E2D\u6587.tds", u"\U0001F600.tds", u"\u00E9 x.tds"};
    if (!UseWideApi) GTEST_SKIP() << "the ANSI functions take ASCII names only";
    for (const WideString& name : names)
        EXPECT_TRUE(SysCloseHandle(Open(name, kGenericWrite, 0, kCreateAlways)) && fs::exists(FsPath(name)));
    if (!kWindows) {  // a name that is not UTF-8: its byte 0xE9 stands as U+DCE9; a '*' in a name
        std::ofstream(dir_.Path() / "n\xE9.tds") << "raw";
        std::ofstream(dir_.Path() / "*x.tds") << "star";
        names.insert({{u'n', 0xDCE9, u'.', u't', u'd', u's'}, u"*x.tds"});
    }
    EXPECT_EQ(Search(u"*.tds"), std::pair(names, kErrorNoMoreFiles));
    for (const WideString& name : names) EXPECT_TRUE(DeleteFileByPath(In(name))) << WideToUtf8(name);
}

TEST_P(SysApi, ArgumentZeroIsTheRunningExecutable) {
    const WideString self = GetArgument(0);
    EXPECT_TRUE(IsExistingFile(self) && fs::path(self).is_absolute()) << WideToUtf8(self);
    EXPECT_EQ(ReplaceExtension(ExtractNamePart(self), u""), u"wide_tests");
    std::uint32_t sums[4] = {1, 2, 3, 4};  // Windows' checksum, from either form, is ours
    EXPECT_EQ(MapFileAndCheckSumByPath(self, &sums[0], &sums[1]), ComputeFileImageChecksum(self, &sums[2], &sums[3]));
    EXPECT_TRUE(sums[0] == sums[2] && sums[1] == sums[3] && sums[1] != 0);
}

#ifdef _WIN32
// GetArgument on a real command line: the test runs itself with an exact one and checks the arguments there.
TEST(SysApiProcess, RealCommandLine) {
    if (GetArgument(2) == u"-") {  // "a b\" ends at its second quote, c""d is cd, "" is no argument
        EXPECT_EQ((std::vector{GetArgument(3), GetArgument(4), GetArgument(GetArgumentCount()), GetArgument(6)}),
                  (std::vector<WideString>{u"a b\\", u"cd", u"e", u""}));
    } else {
        // The command processor drops the outer pair of quotes.
        std::string const line =
            "\"\"" + WideToUtf8(GetArgument(0)) + "\" --gtest_filter=*RealCommandLine - \"a b\\\" c\"\"d \"\" e\"";
        EXPECT_EQ(std::system(line.c_str()), 0);
    }
}

// A path of 260 characters or more reaches the system in its "\\?\" form, made absolute and normalised first.
TEST(LongPathForm, LongPathsOnlyAbsoluteAndNormalised) {
    const WideString here = testsupport::Wide(fs::current_path()) + u'\\', root = u"\\\\?\\", n(300, u'n');
    const std::pair<WideString, WideString> rows[] = {
        {n.substr(41), n.substr(41)},  // 259 characters: as it is
        {n.substr(40), root + here + n.substr(40)},
        {u"C:\\" + n, root + u"C:\\" + n},
        {here.substr(0, 2) + n, root + here + n},  // relative to the drive's current folder
        {u"\\\\server\\share\\" + n, root + u"UNC\\server\\share\\" + n},
        {u"C:/x/./y/../" + n, root + u"C:\\x\\" + n},
        {root + u"C:\\x\\../" + n, root + u"C:\\x\\../" + n},  // already in that form: kept
    };
    for (const auto& [path, form] : rows) EXPECT_EQ(LongPathForm(path), form) << WideToUtf8(path.substr(0, 60));
}
#endif

// The English texts of Windows; Wine words its own, so there only their form is checked.
const std::pair<std::uint32_t, const char16_t*> kErrorTexts[] = {
    {kErrorFileNotFound, u"The system cannot find the file specified.\r\n"},
    {kErrorPathNotFound, u"The system cannot find the path specified.\r\n"},
    {kErrorAccessDenied, u"Access is denied.\r\n"},
    {kErrorHandleEof, u"Reached the end of the file.\r\n"},
    {kErrorSharingViolation, u"The process cannot access the file because it is being used by another process.\r\n"},
    {kErrorNegativeSeek, u"An attempt was made to move the file pointer before the beginning of the file.\r\n"},
};

TEST(SysApiText, ErrorTextsAndSameText) {
    for (const auto& [code, text] : kErrorTexts)
        EXPECT_TRUE(OSErrorText(code) == text || (kWindows && OSErrorText(code).ends_with(u".\r\n"))) << code;
    EXPECT_EQ(OSErrorText(0x3FFFFFFFu), u"");
    EXPECT_TRUE(SameTextIgnoreCase(u"\u00C4\u0416-R", u"\u00E4\u0436-r") && !SameTextIgnoreCase(u"-r", u"-rr"));
}

}  // namespace
