// The platform layer against the real file system: the same expectations
// for the POSIX layer and for the Win32 functions (run under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "SysApi.h"
#include "WideText.h"

namespace fs = std::filesystem;
using namespace sys;

namespace {

fs::path FsPath(const WideString& path) {
#ifdef _WIN32
    return fs::path(std::wstring(path.begin(), path.end()));
#else
    return fs::path(WideToUtf8(path));
#endif
}

WideString FromFs(const fs::path& path) {
#ifdef _WIN32
    std::wstring text = path.wstring();
    return WideString(text.begin(), text.end());
#else
    return Utf8ToWide(path.string());
#endif
}

const WideString kSep(1, kPathSeparator);

class SysApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        root_ = FromFs(fs::temp_directory_path()) + kSep + u"quillon_wide_" +
                Utf8ToWide(::testing::UnitTest::GetInstance()->current_test_info()->name()) + u"_" +
                Utf8ToWide(std::to_string(random()));
        fs::create_directories(FsPath(root_));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(FsPath(root_), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(FsPath(root_), ignored);
    }

    WideString In(const WideString& name) const { return root_ + kSep + name; }

    void MakeFolder(const WideString& name) { fs::create_directory(FsPath(In(name))); }

    SysHandle Open(const WideString& path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition) {
        return CreateFileByPath(path, access, share, nullptr, disposition, kFileAttributeNormal, nullptr);
    }

    void MakeFile(const WideString& name, const std::string& content = "MZ") {
        SysHandle file = Open(In(name), kGenericWrite, 0, kCreateAlways);
        ASSERT_NE(file, kInvalidHandle) << SysGetLastError();
        std::uint32_t written = 0;
        ASSERT_TRUE(SysWriteFile(file, content.data(), static_cast<std::uint32_t>(content.size()), &written));
        ASSERT_EQ(written, content.size());
        ASSERT_TRUE(SysCloseHandle(file));
    }

    std::uint64_t SizeOf(SysHandle file) {
        std::uint32_t high = 0;
        std::uint32_t low = SysGetFileSize(file, &high);
        return (std::uint64_t{high} << 32) | low;
    }

    // All names a search returns, in order; the handle is closed.
    std::vector<WideString> SearchAll(const WideString& mask, std::uint32_t& endError) {
        std::vector<WideString> names;
        FindEntry entry;
        SysHandle search = FindFirstEntry(mask, entry);
        if (search == kInvalidHandle) {
            endError = SysGetLastError();
            return names;
        }
        do names.push_back(entry.FileName);
        while (FindNextEntry(search, entry));
        endError = SysGetLastError();
        EXPECT_TRUE(FindCloseEntry(search));
        return names;
    }

    std::set<WideString> NamesOf(const WideString& mask) {
        std::uint32_t endError = 0;
        std::vector<WideString> names = SearchAll(mask, endError);
        EXPECT_EQ(endError, kErrorNoMoreFiles);
        return {names.begin(), names.end()};
    }

    WideString root_;
};

TEST_F(SysApiTest, MissingFileAndMissingFolderCodes) {
    EXPECT_EQ(Open(In(u"none.dll"), kGenericRead, kFileShareRead, kOpenExisting), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorFileNotFound);
    EXPECT_EQ(Open(In(u"nodir" + kSep + u"none.dll"), kGenericRead, kFileShareRead, kOpenExisting), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorPathNotFound);
    EXPECT_EQ(Open(In(u"nodir" + kSep + u"new.tds"), kGenericWrite, 0, kCreateAlways), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorPathNotFound);

    EXPECT_EQ(GetPathAttributes(In(u"none.dll")), kInvalidFileAttributes);
    EXPECT_EQ(SysGetLastError(), kErrorFileNotFound);
    EXPECT_FALSE(IsExistingFile(In(u"none.dll")));
    EXPECT_FALSE(DeleteFileByPath(In(u"none.dll")));
    EXPECT_EQ(SysGetLastError(), kErrorFileNotFound);
}

#ifndef _WIN32
// Windows enforces the read-only attribute itself (Wine run as root does
// not, so the Windows build is not asked here); the POSIX layer does the
// same for a file without write permission, even for root.
TEST_F(SysApiTest, ReadOnlyFileIsNotOpenedForWriting) {
    MakeFile(u"locked.dll", "MZ-readonly");
    fs::permissions(FsPath(In(u"locked.dll")), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_NE(GetPathAttributes(In(u"locked.dll")) & 1u, 0u);
    EXPECT_EQ(Open(In(u"locked.dll"), kGenericRead | kGenericWrite, 0, kOpenExisting), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorAccessDenied);
    EXPECT_EQ(Open(In(u"locked.dll"), kGenericWrite, 0, kCreateAlways), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorAccessDenied);
    SysHandle reader = Open(In(u"locked.dll"), kGenericRead, kFileShareRead, kOpenExisting);
    ASSERT_NE(reader, kInvalidHandle);
    EXPECT_EQ(SysGetFileSize(reader, nullptr), 11u);
    SysCloseHandle(reader);
}
#endif

TEST_F(SysApiTest, FolderSearchErrorCodes) {
    FindEntry entry;
    entry.FileName = u"untouched";
    EXPECT_EQ(FindFirstEntry(In(u"nodir" + kSep + u"*"), entry), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorPathNotFound);
    EXPECT_EQ(FindFirstEntry(In(u"*.none"), entry), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorFileNotFound);
    EXPECT_EQ(FindFirstEntry(In(u"none.dll"), entry), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorFileNotFound);
    EXPECT_EQ(entry.FileName, u"untouched");
}

TEST_F(SysApiTest, FolderSearchListsMatchesThenNoMoreFiles) {
    MakeFile(u"a.dll");
    MakeFile(u"b.dll");
    MakeFile(u"c.txt");
    MakeFile(u"ab.dll");
    MakeFolder(u"sub");
    EXPECT_EQ(NamesOf(In(u"*.dll")), (std::set<WideString>{u"a.dll", u"b.dll", u"ab.dll"}));
    EXPECT_EQ(NamesOf(In(u"?.dll")), (std::set<WideString>{u"a.dll", u"b.dll"}));
    EXPECT_EQ(NamesOf(In(u"a*")), (std::set<WideString>{u"a.dll", u"ab.dll"}));
    EXPECT_EQ(NamesOf(In(u"*")), (std::set<WideString>{u".", u"..", u"a.dll", u"b.dll", u"ab.dll", u"c.txt", u"sub"}));
    std::uint32_t endError = 0;
    EXPECT_TRUE(SearchAll(In(u"???.dll"), endError).empty());
    EXPECT_EQ(endError, kErrorFileNotFound);
}

TEST_F(SysApiTest, FolderSearchAttributes) {
    MakeFile(u"a.dll");
    MakeFolder(u"sub");
    FindEntry entry;
    SysHandle search = FindFirstEntry(In(u"*"), entry);
    ASSERT_NE(search, kInvalidHandle);
    int seen = 0;
    do {
        bool folder = entry.FileName == u"." || entry.FileName == u".." || entry.FileName == u"sub";
        EXPECT_EQ((entry.Attributes & kFileAttributeDirectory) != 0, folder) << WideToUtf8(entry.FileName);
        ++seen;
    } while (FindNextEntry(search, entry));
    EXPECT_EQ(SysGetLastError(), kErrorNoMoreFiles);
    EXPECT_FALSE(FindNextEntry(search, entry));
    EXPECT_EQ(SysGetLastError(), kErrorNoMoreFiles);
    EXPECT_TRUE(FindCloseEntry(search));
    EXPECT_EQ(seen, 4);
}

TEST_F(SysApiTest, MaskWithoutWildcardsFindsThatEntry) {
    MakeFile(u"a.dll");
    MakeFolder(u"sub");
    std::uint32_t endError = 0;
    EXPECT_EQ(SearchAll(In(u"a.dll"), endError), std::vector<WideString>{u"a.dll"});
    EXPECT_EQ(endError, kErrorNoMoreFiles);
    FindEntry entry;
    SysHandle search = FindFirstEntry(In(u"sub"), entry);
    ASSERT_NE(search, kInvalidHandle);
    EXPECT_EQ(entry.FileName, u"sub");
    EXPECT_NE(entry.Attributes & kFileAttributeDirectory, 0u);
    FindCloseEntry(search);
}

TEST_F(SysApiTest, MaskWithoutFolderSearchesTheCurrentFolder) {
    MakeFile(u"a.dll");
    MakeFile(u"b.txt");
    fs::path previous = fs::current_path();
    fs::current_path(FsPath(root_));
    std::set<WideString> masked = NamesOf(u"*.dll");
    std::set<WideString> exact = NamesOf(u"a.dll");
    bool existing = IsExistingFile(u"a.dll");
    fs::current_path(previous);
    EXPECT_EQ(masked, std::set<WideString>{u"a.dll"});
    EXPECT_EQ(exact, std::set<WideString>{u"a.dll"});
    EXPECT_TRUE(existing);
}

TEST_F(SysApiTest, MaskCaseFollowsThePlatform) {
    MakeFile(u"a.dll");
    std::uint32_t endError = 0;
    std::vector<WideString> names = SearchAll(In(u"*.DLL"), endError);
#ifdef _WIN32
    EXPECT_EQ(names, std::vector<WideString>{u"a.dll"});
#else
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(endError, kErrorFileNotFound);
#endif
}

TEST_F(SysApiTest, AttributesAndIsExistingFile) {
    MakeFile(u"a.dll");
    MakeFolder(u"sub");
    EXPECT_NE(GetPathAttributes(In(u"sub")) & kFileAttributeDirectory, 0u);
    EXPECT_FALSE(IsExistingFile(In(u"sub")));
    std::uint32_t file = GetPathAttributes(In(u"a.dll"));
    ASSERT_NE(file, kInvalidFileAttributes);
    EXPECT_EQ(file & kFileAttributeDirectory, 0u);
    EXPECT_TRUE(IsExistingFile(In(u"a.dll")));
}

TEST_F(SysApiTest, FolderOpenedForWriteIsDenied) {
    MakeFolder(u"sub");
    EXPECT_EQ(Open(In(u"sub"), kGenericRead | kGenericWrite, 0, kOpenExisting), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorAccessDenied);
    EXPECT_EQ(Open(In(u"sub"), kGenericWrite, 0, kCreateAlways), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorAccessDenied);
    EXPECT_FALSE(DeleteFileByPath(In(u"sub")));
    EXPECT_EQ(SysGetLastError(), kErrorAccessDenied);
}

TEST_F(SysApiTest, WritableOpensExcludeEachOther) {
    MakeFile(u"a.dll", "hello");
    SysHandle first = Open(In(u"a.dll"), kGenericRead | kGenericWrite, 0, kOpenExisting);
    ASSERT_NE(first, kInvalidHandle);
    EXPECT_EQ(Open(In(u"a.dll"), kGenericRead | kGenericWrite, 0, kOpenExisting), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorSharingViolation);
    EXPECT_EQ(Open(In(u"a.dll"), kGenericRead, kFileShareRead, kOpenExisting), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorSharingViolation);
    // A refused CREATE_ALWAYS must not have cut the file that is in use.
    EXPECT_EQ(Open(In(u"a.dll"), kGenericWrite, 0, kCreateAlways), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorSharingViolation);
    EXPECT_EQ(SizeOf(first), 5u);
    ASSERT_TRUE(SysCloseHandle(first));

    SysHandle again = Open(In(u"a.dll"), kGenericRead | kGenericWrite, 0, kOpenExisting);
    EXPECT_NE(again, kInvalidHandle);
    SysCloseHandle(again);
}

TEST_F(SysApiTest, ReadersShareButExcludeWriters) {
    MakeFile(u"a.dll");
    SysHandle readerA = Open(In(u"a.dll"), kGenericRead, kFileShareRead, kOpenExisting);
    SysHandle readerB = Open(In(u"a.dll"), kGenericRead, kFileShareRead, kOpenExisting);
    EXPECT_NE(readerA, kInvalidHandle);
    EXPECT_NE(readerB, kInvalidHandle);
    EXPECT_EQ(Open(In(u"a.dll"), kGenericWrite, kFileShareRead, kOpenExisting), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorSharingViolation);
    SysCloseHandle(readerA);
    SysCloseHandle(readerB);
}

TEST_F(SysApiTest, ReadStopsAtEndOfFileWithoutError) {
    MakeFile(u"a.bin", "0123456789");
    SysHandle file = Open(In(u"a.bin"), kGenericRead, kFileShareRead, kOpenExisting);
    ASSERT_NE(file, kInvalidHandle);
    char buffer[100] = {};
    std::uint32_t got = 99;
    EXPECT_EQ(SysSetFilePointer(file, 4, nullptr, kFileBegin), 4u);
    ASSERT_TRUE(SysReadFile(file, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 6u);
    EXPECT_EQ(std::string(buffer, got), "456789");
    got = 99;
    ASSERT_TRUE(SysReadFile(file, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(SysSetFilePointer(file, -3, nullptr, kFileEnd), 7u);
    ASSERT_TRUE(SysReadFile(file, buffer, 2, &got));
    EXPECT_EQ(std::string(buffer, got), "78");
    EXPECT_EQ(SysSetFilePointer(file, -1, nullptr, kFileCurrent), 8u);
    SysCloseHandle(file);
}

TEST_F(SysApiTest, CreateAlwaysTruncatesAndReportsAnExistingFile) {
    SysHandle created = Open(In(u"a.tds"), kGenericWrite, 0, kCreateAlways);
    ASSERT_NE(created, kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorSuccess);
    std::uint32_t written = 0;
    ASSERT_TRUE(SysWriteFile(created, "abc", 3, &written));
    SysCloseHandle(created);

    SysSetLastError(kErrorInvalidParameter);
    SysHandle replaced = Open(In(u"a.tds"), kGenericWrite, 0, kCreateAlways);
    ASSERT_NE(replaced, kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorAlreadyExists);
    EXPECT_EQ(SizeOf(replaced), 0u);
    SysCloseHandle(replaced);
}

TEST_F(SysApiTest, SetEndOfFileCutsAtThePosition) {
    MakeFile(u"a.bin", std::string(100, 'x'));
    SysHandle file = Open(In(u"a.bin"), kGenericRead | kGenericWrite, 0, kOpenExisting);
    ASSERT_NE(file, kInvalidHandle);
    EXPECT_EQ(SysSetFilePointer(file, 40, nullptr, kFileBegin), 40u);
    ASSERT_TRUE(SysSetEndOfFile(file));
    EXPECT_EQ(SizeOf(file), 40u);
    EXPECT_TRUE(SysFlushFileBuffers(file));
    SysCloseHandle(file);
    EXPECT_EQ(fs::file_size(FsPath(In(u"a.bin"))), 40u);
    EXPECT_TRUE(SysFlushFolderOf(In(u"a.bin")));
}

TEST_F(SysApiTest, SeekUsesTheHighPartBeyondFourGiB) {
    MakeFile(u"a.bin", "0123456789");
    SysHandle file = Open(In(u"a.bin"), kGenericRead, kFileShareRead, kOpenExisting);
    ASSERT_NE(file, kInvalidHandle);
    std::int32_t high = 1;
    EXPECT_EQ(SysSetFilePointer(file, 16, &high, kFileBegin), 16u);
    EXPECT_EQ(high, 1);
    high = 0;
    EXPECT_EQ(SysSetFilePointer(file, 0, &high, kFileCurrent), 16u);
    EXPECT_EQ(high, 1);
    high = -2;  // back by 4 GiB + 6 from the end: before the start
    SysSetLastError(kErrorSuccess);
    EXPECT_EQ(SysSetFilePointer(file, -6, &high, kFileEnd), 0xFFFFFFFFu);
    EXPECT_EQ(SysGetLastError(), kErrorNegativeSeek);
    EXPECT_EQ(SysSetFilePointer(file, -1, nullptr, kFileBegin), 0xFFFFFFFFu);
    EXPECT_EQ(SysGetLastError(), kErrorNegativeSeek);
    high = 0;  // a failed seek leaves the position where it was
    EXPECT_EQ(SysSetFilePointer(file, 0, &high, kFileCurrent), 16u);
    EXPECT_EQ(high, 1);
    high = -2;  // back by 4 GiB + 4
    EXPECT_EQ(SysSetFilePointer(file, -4, &high, kFileCurrent), 12u);
    EXPECT_EQ(high, 0);
    SysCloseHandle(file);
}

TEST_F(SysApiTest, NamesInOtherScripts) {
    const std::vector<WideString> names = {u"\u0416\u0443\u043A.dll", u"\u4E2D\u6587.dll", u"\U0001F600.dll",
                                           u"\u00E9t\u00E9 x.dll"};
    for (const WideString& name : names) MakeFile(name);
    for (const WideString& name : names) {
        EXPECT_TRUE(fs::exists(FsPath(In(name)))) << WideToUtf8(name);
        EXPECT_TRUE(IsExistingFile(In(name))) << WideToUtf8(name);
    }
    EXPECT_EQ(NamesOf(In(u"*.dll")), (std::set<WideString>(names.begin(), names.end())));
#ifdef _WIN32
    // '?' is one UTF-16 unit: the emoji takes two.
    EXPECT_EQ(NamesOf(In(u"??.dll")), (std::set<WideString>{u"\u4E2D\u6587.dll", u"\U0001F600.dll"}));
#else
    // '?' is one character, whatever its length in UTF-8 or UTF-16.
    EXPECT_EQ(NamesOf(In(u"?.dll")), (std::set<WideString>{u"\U0001F600.dll"}));
    EXPECT_EQ(NamesOf(In(u"??.dll")), (std::set<WideString>{u"\u4E2D\u6587.dll"}));
#endif
    for (const WideString& name : names) EXPECT_TRUE(DeleteFileByPath(In(name))) << WideToUtf8(name);
    EXPECT_FALSE(fs::exists(FsPath(In(names[0]))));
}

TEST_F(SysApiTest, SameFileThroughAnotherSpelling) {
    MakeFile(u"a.dll");
    MakeFile(u"b.dll");
    MakeFolder(u"sub");
    WideString other = In(u"sub" + kSep + u".." + kSep + u"a.dll");
    EXPECT_TRUE(SysIsSameFile(In(u"a.dll"), other));
    EXPECT_FALSE(SysIsSameFile(In(u"a.dll"), In(u"b.dll")));
    EXPECT_FALSE(SysIsSameFile(In(u"a.dll"), In(u"none.dll")));
    EXPECT_FALSE(SysIsSameFile(In(u"none.dll"), In(u"none.dll")));
#ifdef _WIN32
    EXPECT_TRUE(SysIsSameFile(In(u"a.dll"), In(u"A.DLL")));
#else
    fs::create_symlink(FsPath(In(u"a.dll")), FsPath(In(u"link.dll")));
    EXPECT_TRUE(SysIsSameFile(In(u"a.dll"), In(u"link.dll")));
#endif
}

TEST(SysApiText, SystemErrorTexts) {
    // The English texts of Windows, which the POSIX layer gives too.
    struct Case {
        std::uint32_t code;
        const char16_t* text;
    };
    const Case cases[] = {
        {kErrorFileNotFound, u"The system cannot find the file specified.\r\n"},
        {kErrorPathNotFound, u"The system cannot find the path specified.\r\n"},
        {kErrorAccessDenied, u"Access is denied.\r\n"},
        {kErrorInvalidHandle, u"The handle is invalid.\r\n"},
        {kErrorNotEnoughMemory, u"Not enough memory resources are available to process this command.\r\n"},
        {kErrorNoMoreFiles, u"There are no more files.\r\n"},
        {kErrorWriteFault, u"The system cannot write to the specified device.\r\n"},
        {kErrorReadFault, u"The system cannot read from the specified device.\r\n"},
        {kErrorSharingViolation,
         u"The process cannot access the file because it is being used by another process.\r\n"},
        {kErrorHandleEof, u"Reached the end of the file.\r\n"},
        {kErrorFileExists, u"The file exists.\r\n"},
        {kErrorInvalidParameter, u"The parameter is incorrect.\r\n"},
        {kErrorDiskFull, u"There is not enough space on the disk.\r\n"},
        {kErrorInvalidName, u"The filename, directory name, or volume label syntax is incorrect.\r\n"},
        {kErrorNegativeSeek, u"An attempt was made to move the file pointer before the beginning of the file.\r\n"},
        {kErrorDirNotEmpty, u"The directory is not empty.\r\n"},
        {kErrorAlreadyExists, u"Cannot create a file when that file already exists.\r\n"},
        {kErrorFilenameExcedRange, u"The filename or extension is too long.\r\n"},
    };
    for (const Case& c : cases) {
        WideString text = OSErrorText(c.code);
#ifdef _WIN32
        // Wine words its texts in its own way: check their form only.
        EXPECT_GT(text.size(), 2u) << c.code;
        EXPECT_EQ(text.substr(text.size() - 2), u"\r\n") << c.code;
#else
        EXPECT_EQ(text, c.text) << c.code;
#endif
    }
    EXPECT_EQ(OSErrorText(0x3FFFFFFFu), u"");
}

TEST(SysApiText, SameTextIgnoreCase) {
    EXPECT_TRUE(SameTextIgnoreCase(u"-R", u"-r"));
    EXPECT_TRUE(SameTextIgnoreCase(u"/?", u"/?"));
    EXPECT_TRUE(SameTextIgnoreCase(u"\u00C4bc", u"\u00E4BC"));
    EXPECT_TRUE(SameTextIgnoreCase(u"\u0416\u0423\u041A", u"\u0436\u0443\u043A"));
    EXPECT_FALSE(SameTextIgnoreCase(u"-r", u"-w"));
    EXPECT_FALSE(SameTextIgnoreCase(u"-r", u"-rr"));
    EXPECT_FALSE(SameTextIgnoreCase(u"a", u""));
    EXPECT_TRUE(SameTextIgnoreCase(u"", u""));
}

TEST(SysApiProcess, ArgumentZeroIsTheRunningExecutable) {
    WideString self = GetArgument(0);
    EXPECT_TRUE(IsExistingFile(self)) << WideToUtf8(self);
    EXPECT_EQ(ReplaceExtension(ExtractNamePart(self), u""), u"wide_tests");
#ifdef _WIN32
    ASSERT_GE(self.size(), 3u);
    EXPECT_EQ(self.substr(1, 2), u":\\");
#else
    EXPECT_EQ(self.substr(0, 1), u"/");
#endif
    EXPECT_TRUE(UseWideApi);
}

#ifdef _WIN32
// Runs a test body with the ANSI functions, as on a Windows outside the NT family.
struct AnsiMode {
    AnsiMode() { UseWideApi = false; }
    ~AnsiMode() { UseWideApi = true; }
};

TEST_F(SysApiTest, AnsiFunctionsServeAsciiPaths) {
    AnsiMode ansi;
    MakeFile(u"a.dll", "hello");
    MakeFolder(u"sub");
    EXPECT_TRUE(IsExistingFile(In(u"a.dll")));
    EXPECT_NE(GetPathAttributes(In(u"sub")) & kFileAttributeDirectory, 0u);
    EXPECT_EQ(NamesOf(In(u"*")), (std::set<WideString>{u".", u"..", u"a.dll", u"sub"}));
    FindEntry entry;
    EXPECT_EQ(FindFirstEntry(In(u"*.none"), entry), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorFileNotFound);
    EXPECT_EQ(FindFirstEntry(In(u"nodir\\*"), entry), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorPathNotFound);
    EXPECT_EQ(Open(In(u"none.dll"), kGenericRead, kFileShareRead, kOpenExisting), kInvalidHandle);
    EXPECT_EQ(SysGetLastError(), kErrorFileNotFound);
    EXPECT_TRUE(SysIsSameFile(In(u"a.dll"), In(u"sub\\..\\a.dll")));
    EXPECT_TRUE(DeleteFileByPath(In(u"a.dll")));
    EXPECT_FALSE(IsExistingFile(In(u"a.dll")));
}

TEST(SysApiProcess, ArgumentZeroIsTheSameInAnsiMode) {
    WideString wide = GetArgument(0);
    AnsiMode ansi;
    EXPECT_EQ(GetArgument(0), wide);
}

TEST(SysApiChecksum, WideAndAnsiFormsAgree) {
    WideString self = GetArgument(0);
    std::uint32_t headerWide = 1, sumWide = 1, headerAnsi = 2, sumAnsi = 2;
    EXPECT_EQ(MapFileAndCheckSumByPath(self, &headerWide, &sumWide), 0u);
    {
        AnsiMode ansi;
        EXPECT_EQ(MapFileAndCheckSumByPath(self, &headerAnsi, &sumAnsi), 0u);
    }
    EXPECT_EQ(headerWide, headerAnsi);
    EXPECT_EQ(sumWide, sumAnsi);
    EXPECT_NE(sumWide, 0u);
    EXPECT_NE(MapFileAndCheckSumByPath(self + u".none", &headerWide, &sumWide), 0u);
}
#endif

#ifndef _WIN32
TEST(SysApiProcess, ArgumentsComeFromArgvUpToTheFirstEmptyOne) {
    char program[] = "prog", first[] = "a b", second[] = "\xD0\x96\xFF", empty[] = "", after[] = "c";
    char* argv[] = {program, first, second, empty, after, nullptr};
    InitPlatform(5, argv);
    EXPECT_EQ(GetArgumentCount(), 2);
    EXPECT_EQ(GetArgument(1), u"a b");
    EXPECT_EQ(GetArgument(2), (WideString{0x0416, 0xDCFF}));
    EXPECT_EQ(GetArgument(3), u"");
    EXPECT_EQ(GetArgument(4), u"");
    EXPECT_EQ(GetArgument(-1), u"");
    char* only[] = {program, nullptr};
    InitPlatform(1, only);
    EXPECT_EQ(GetArgumentCount(), 0);
    EXPECT_EQ(GetArgument(1), u"");
    InitPlatform(0, nullptr);
}

TEST_F(SysApiTest, NamesThatAreNotUtf8ReachTheirFiles) {
    // Made by the file system, found and opened through the layer.
    const std::string rawName = "bad\xFF\xFE.dll";
    const fs::path rawPath = FsPath(root_) / rawName;
    { std::FILE* f = std::fopen(rawPath.c_str(), "wb"); ASSERT_NE(f, nullptr); std::fputs("raw", f); std::fclose(f); }
    std::uint32_t endError = 0;
    std::vector<WideString> found = SearchAll(In(u"bad*"), endError);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], (WideString{u'b', u'a', u'd', 0xDCFF, 0xDCFE, u'.', u'd', u'l', u'l'}));
    SysHandle file = Open(In(found[0]), kGenericRead, kFileShareRead, kOpenExisting);
    ASSERT_NE(file, kInvalidHandle);
    char buffer[8];
    std::uint32_t got = 0;
    ASSERT_TRUE(SysReadFile(file, buffer, sizeof buffer, &got));
    EXPECT_EQ(std::string(buffer, got), "raw");
    SysCloseHandle(file);

    // Made through the layer, checked on the file system.
    const WideString latin1Name = {u'n', 0xDCE9, u'.', u't', u'd', u's'};
    MakeFile(latin1Name);
    EXPECT_TRUE(fs::exists(FsPath(root_) / "n\xE9.tds"));
    EXPECT_EQ(NamesOf(In(u"n*")), std::set<WideString>{latin1Name});
    EXPECT_TRUE(DeleteFileByPath(In(latin1Name)));
    EXPECT_FALSE(fs::exists(FsPath(root_) / "n\xE9.tds"));
}

TEST_F(SysApiTest, FolderWithoutAccessIsDenied) {
    MakeFolder(u"closed");
    MakeFile(u"closed/a.dll");
    fs::permissions(FsPath(In(u"closed")), fs::perms::none);
    FindEntry entry;
    SysHandle search = FindFirstEntry(In(u"closed/*"), entry);
    bool privileged = search != kInvalidHandle;  // root reads any folder
    if (privileged) FindCloseEntry(search);
    else EXPECT_EQ(SysGetLastError(), kErrorAccessDenied);
    fs::permissions(FsPath(In(u"closed")), fs::perms::owner_all);
    if (privileged) GTEST_SKIP() << "running with privileges that ignore folder permissions";
}

TEST(SysApiHandles, InvalidHandlesAreRefused) {
    char buffer[4];
    std::uint32_t count = 7;
    FindEntry entry;
    EXPECT_FALSE(SysReadFile(kInvalidHandle, buffer, 4, &count));
    EXPECT_EQ(SysGetLastError(), kErrorInvalidHandle);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(SysCloseHandle(nullptr));
    EXPECT_EQ(SysGetLastError(), kErrorInvalidHandle);
    EXPECT_FALSE(FindNextEntry(kInvalidHandle, entry));
    EXPECT_EQ(SysGetLastError(), kErrorInvalidHandle);
}
#endif

}  // namespace
