// The PE module editor on modules made by the test builder: what opening
// refuses and accepts, how removing a section or widening the directories
// moves every block and every file pointer into it, and what a write-back
// writes, recomputes or refuses. Written modules are read back with the
// builder's own reader and checked by pefile.
#include <gtest/gtest.h>

#include "TestFiles.h"
#include "TestModuleBuilder.h"
#include "kvPEFileUtils.h"
#include "uMsg_kvPEFileUtils.h"

using namespace testsupport;
using namespace uMsg_kvPEFileUtils;

namespace {

using Pair = std::pair<std::uint32_t, std::uint32_t>;

std::string Utf8(const std::u16string& text) { return std::string(text.begin(), text.end()); }

class Editor : public ::testing::Test {
protected:
    bool Open(const Bytes& image, bool readOnly = false) {
        editor.Close(false);  // Windows keeps an open module from being rewritten
        original = image;
        path = dir.Write("m.exe", image);
        return editor.Open(Wide(path), readOnly);
    }
    // The module as Close(true) wrote it, which pefile must read cleanly.
    ModuleView Written() {
        EXPECT_TRUE(editor.Close(true)) << Utf8(editor.GetLastErrorText());
        EXPECT_EQ(PefileProblems(path), "");
        return ReadModuleView(ReadAll(path));
    }
    void ExpectRefusedUntouched(std::u16string_view reason) {
        EXPECT_FALSE(editor.Close(true));
        EXPECT_EQ(editor.GetLastErrorText(), reason);
        EXPECT_FALSE(editor.WriteStarted());
        EXPECT_EQ(ReadAll(path), original);
        EXPECT_THROW(editor.GetSectionCount(), ENoModuleOpened);
    }

    TempDir dir;
    std::filesystem::path path;
    Bytes original;
    TkvPEFileUtils editor;
};

Bytes With32(Bytes image, std::size_t offset, std::uint32_t value) {
    Put32(image, offset, value);
    return image;
}

}  // namespace

TEST_F(Editor, OpenRefusesFilesThatAreNotValidModules) {
    ModuleView const base = SmallModule().Build();
    std::size_t const opt = base.FileHeaderOffset + 20;
    std::size_t const table = base.SectionTableOffset;
    ModuleView const plus = SmallModule(true).Build();
    ModuleView const four = SmallModule().AddSection(".four", Pattern(0x10, 4)).Build();
    auto const& data = base.Sections[1];
    std::pair<const char*, Bytes> const refusals[] = {
        {"63 bytes", Bytes(63, 0)},
        {"64 zero bytes", Bytes(64, 0)},
        {"e_lfanew near 4 GiB", With32(base.Image, 0x3C, 0xFFFFFFF0u)},
        {"no room for the headers", With32(base.Image, 0x3C, static_cast<std::uint32_t>(base.Image.size() - 100))},
        {"no PE signature", With32(base.Image, base.FileHeaderOffset - 4, 0x4551)},
        {"magic 0x107", With32(base.Image, opt, 0x107)},
        {"PE32+ header cut short", plus.Slice(0, plus.FileHeaderOffset + 120)},
        {"FileAlignment 0x300", With32(base.Image, opt + 36, 0x300)},
        {"SectionAlignment 0", With32(base.Image, opt + 32, 0)},
        {"optional header shorter than its fixed part", SmallModule().SizeOfOptionalHeader(0x5E).Build().Image},
        {"section table does not fit", With32(base.Image, base.FileHeaderOffset + 2, 0xFFFF)},
        {"no sections", TestModuleBuilder().Trailing(Bytes(0x100, 1)).Build().Image},
        {"first VirtualAddress 0", With32(base.Image, table + 12, 0)},
        {"VirtualAddress not rising", With32(base.Image, table + 40 + 12, base.Sections[0].VirtualAddress)},
        {"certificate runs past its section",
         SmallModule().Directory(4, data.PointerToRawData + 0x10, data.SizeOfRawData).Build().Image},
        {"certificate inside the headers", SmallModule().Directory(4, 0x40, 0x10).Build().Image},
        {"raw data inside the section table", With32(four.Image, four.SectionTableOffset + 20, 0x200)},
        {"raw data beyond 4 GiB", With32(With32(base.Image, table + 80 + 20, 0xFFFFFE00u), table + 80 + 16, 0x400)},
    };
    for (auto const& [name, image] : refusals) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Open(image));
        EXPECT_EQ(editor.GetLastErrorText(), SInvalidPEFile);
        EXPECT_THROW(editor.GetSectionCount(), ENoModuleOpened);
        EXPECT_EQ(ReadAll(path), image);
    }
}

TEST_F(Editor, OpenReportsSystemFailuresAndSharesOnlyReading) {
    EXPECT_FALSE(editor.Open(Wide(dir.File("missing.exe")), true));
    EXPECT_EQ(editor.GetLastErrorText(), OSErrorText(sys::kErrorFileNotFound));
    ASSERT_TRUE(Open(SmallModule().Build().Image));
    TkvPEFileUtils other;
    EXPECT_FALSE(other.Open(Wide(path), false));
    EXPECT_EQ(other.GetLastErrorText(), OSErrorText(sys::kErrorSharingViolation));
    EXPECT_FALSE(other.Open(Wide(path), true));  // a writer excludes readers too
    ASSERT_TRUE(editor.Open(Wide(path), true));
    EXPECT_TRUE(other.Open(Wide(path), true));  // readers share
}

TEST_F(Editor, OpenReadsUnusualButValidHeaders) {
    for (bool plus : {false, true}) {
        // PE32: 10 of the 16 slots used; PE32+: 16 directories, 14 of them held.
        ModuleView built = SmallModule(plus).DirectoryCount(plus ? 16 : 10).SizeOfOptionalHeader(0xE0).Build();
        built.Image[0] = 'X';  // no "MZ": e_lfanew alone leads to the headers
        ASSERT_TRUE(Open(built.Image, true)) << Utf8(editor.GetLastErrorText());
        EXPECT_EQ(editor.GetLastErrorText(), u"");
        EXPECT_EQ(editor.IsPE32Plus(), plus);
        EXPECT_EQ(editor.GetModuleSize(), built.Image.size());
        EXPECT_EQ(editor.GetDataDirectoryCount(), plus ? 14 : 10);
        ASSERT_EQ(editor.GetSectionCount(), 3);  // where SizeOfOptionalHeader puts it, past unused slots
        EXPECT_EQ(editor.GetSectionName(2), ".rsrc");
        EXPECT_EQ(editor.GetSectionHeader(1).SizeOfRawData, 0x400u);
    }
    ASSERT_TRUE(Open(SmallModule().DirectoryCount(0).AddSection(".longname", {}).Build().Image, true));
    EXPECT_EQ(editor.GetDataDirectoryCount(), 0);
    EXPECT_EQ(editor.GetDebugDirectoryCount(), 0);
    EXPECT_EQ(editor.GetSectionName(3), ".longnam");  // eight bytes, no NUL
}

TEST_F(Editor, DebugDirectoryEntriesAreCountedAndMustLieInOneSection) {
    std::vector<DebugEntryDefinition> const entries(2, DebugEntryDefinition{0x10, 0x100, true});
    struct Case {
        std::uint32_t Size;
        std::int32_t Count;
    };
    for (auto const [size, count] : {Case{28, 1}, Case{56, 2}, Case{1, 1}, Case{27, 27}, Case{29, -1}, Case{0, 0}}) {
        ASSERT_TRUE(Open(SmallModule().DebugDirectory(1, 0, entries, size).Build().Image, true));
        EXPECT_EQ(editor.GetDebugDirectoryCount(), count) << "Size " << size;
        EXPECT_EQ(editor.GetLastErrorText(), count < 0 ? SInvalidPEFile : u"");
    }
    SectionDefinition text{".text", Pattern(0x1000, 1)};
    ASSERT_TRUE(
        Open(TestModuleBuilder().AddSection(text).AddSection(".data", {}).Directory(6, 0x1FF0, 28).Build().Image));
    EXPECT_EQ(editor.GetDebugDirectoryCount(), -1);
    EXPECT_EQ(editor.GetLastErrorText(), SInvalidPEFile);
    SectionDefinition const unsized{".text", Pattern(0x200, 1), {}, 0};  // VirtualSize 0: SizeOfRawData is mapped
    ASSERT_TRUE(Open(TestModuleBuilder().AddSection(unsized).DebugDirectory(0, 0x1E4, {{}}).Build().Image));
    EXPECT_EQ(editor.GetDebugDirectoryCount(), 1);
}

TEST_F(Editor, FileAndSectionDataAreReadFromDiskAndChangedInMemory) {
    ModuleView const built = SmallModule().Build();
    ASSERT_TRUE(Open(built.Image));
    Bytes tail(8);
    ASSERT_TRUE(editor.ReadFileData(tail.data(), 8, -8, true));
    EXPECT_EQ(tail, built.Slice(built.Image.size() - 8, 8));
    EXPECT_FALSE(editor.ReadFileData(tail.data(), 8, -4, true));
    Bytes const patch = {1, 2, 3, 4};
    ASSERT_TRUE(editor.WriteSectionData(1, 0x10, patch.data(), 4));
    Bytes inMemory(4), onDisk(4);
    ASSERT_TRUE(editor.ReadSectionData(1, 0x10, inMemory.data(), 4));
    ASSERT_TRUE(editor.ReadFileData(onDisk.data(), 4, built.Sections[1].PointerToRawData + 0x10, false));
    EXPECT_EQ(inMemory, patch);
    EXPECT_EQ(onDisk, built.Slice(built.Sections[1].PointerToRawData + 0x10, 4));
    EXPECT_THROW(editor.ReadSectionData(0, 0x1FF, inMemory.data(), 2), Exception);
    EXPECT_THROW(editor.ReadSectionData(0, 0xFFFFFFFFu, inMemory.data(), 2), Exception);  // no wrap-around
    ModuleView const after = Written();
    EXPECT_EQ(after.Slice(built.Sections[1].PointerToRawData + 0x10, 4), patch);
    EXPECT_EQ(after.Image.size(), built.Image.size());
}

TEST_F(Editor, MisuseRaisesAndChangesNothing) {
    EXPECT_THROW(editor.GetModuleSize(), ENoModuleOpened);
    EXPECT_THROW(editor.RemoveSection(0), ENoModuleOpened);
    EXPECT_THROW(editor.GetLayoutEnd(), ENoModuleOpened);
    ASSERT_TRUE(Open(SmallModule().Build().Image, true));
    std::uint8_t byte = 0;
    EXPECT_THROW(editor.RemoveSection(0), EOpenedAsReadOnly);
    EXPECT_THROW(editor.SetDataDirectory(6, {}), EOpenedAsReadOnly);
    EXPECT_THROW(editor.WriteSectionData(99, 0, &byte, 1), EOpenedAsReadOnly);
    ASSERT_TRUE(editor.Open(Wide(path), false));
    auto expectMessage = [&](std::int32_t index, std::u16string_view message) {
        try {
            editor.RemoveSection(index);
            ADD_FAILURE() << "no exception for index " << index;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), message) << index;
        }
    };
    expectMessage(3, SNoSectionsToRemove);
    expectMessage(-1, SInvalidParameters);
    EXPECT_THROW(editor.SetDataDirectory(16, {1, 1}), Exception);
    EXPECT_THROW(editor.WriteSectionData(3, 0, &byte, 1), Exception);
    EXPECT_EQ(editor.GetSectionCount(), 3);
    EXPECT_TRUE(editor.Close(true));
    EXPECT_FALSE(editor.WriteStarted());
    EXPECT_EQ(ReadAll(path), original);
}

// .text holding a debug directory, .data, .rdata, certificate data and the
// COFF symbol table (3 symbols, an empty string table) in a hole, .last with
// line numbers in the trailing data. Removing .data moves everything behind
// it back, sections by 0x400, the symbol table to follow the certificate
// data, and every file pointer into a moved block follows.
TEST_F(Editor, RemovingAMiddleSectionMovesEveryBlockAndPointerBehindIt) {
    SectionDefinition last{".last", Pattern(0x200, 4)};
    last.PointerToRawData = 0xE00;
    last.NumberOfLinenumbers = 2;
    last.PointerToLinenumbers = 0x1010;
    ModuleView const before =
        TestModuleBuilder()
            .AddSection(".text", Pattern(0x180, 1))
            .AddSection(".data", Pattern(0x400, 2))
            .AddSection(".rdata", Pattern(0x1F0, 3))
            .AddSection(last)
            .Certificate(Pattern(0x30, 5), 0xC00)
            .Trailing(Pattern(0x45, 6))
            .SymbolTable(0xC40, 3)
            .DebugDirectory(0, 0x100, {{0x20, 0xA10}, {0x20, 0xE08}, {0, 0xE08}, {0x10, 0x20, true}})
            .Build();
    ASSERT_EQ(before.Image.size(), 0x1045u);
    ASSERT_TRUE(Open(before.Image));
    ASSERT_TRUE(editor.RemoveSection(1)) << Utf8(editor.GetLastErrorText());
    EXPECT_EQ(editor.GetSectionHeader(0).VirtualSize,
              before.Sections[2].VirtualAddress - before.Sections[0].VirtualAddress);
    ModuleView const after = Written();
    ASSERT_EQ(after.Image.size(), 0x1045u - 0x400);
    ASSERT_EQ(after.NumberOfSections, 3);
    EXPECT_EQ(after.Slice(0x400, 0x100), before.Slice(0x400, 0x100));
    EXPECT_EQ(after.Sections[1].PointerToRawData, 0xA00u - 0x400);
    EXPECT_EQ(after.SectionBytes(1), before.SectionBytes(2));
    EXPECT_EQ(after.SectionBytes(2), before.SectionBytes(3));
    EXPECT_EQ(after.Directories[4], Pair(0x800, 0x30));
    EXPECT_EQ(after.Slice(0x800, 0x30), Pattern(0x30, 5));
    EXPECT_EQ(after.Slice(0xC00, 0x45), Pattern(0x45, 6));
    EXPECT_EQ(after.PointerToSymbolTable, 0x830u);
    EXPECT_EQ(after.Slice(0x830, 3 * 18 + 4), Bytes(3 * 18 + 4, 0));
    EXPECT_EQ(Get32(after.Image, after.SectionTableOffset + 2 * 40 + 28), 0x1010u - 0x400);  // line numbers
    // Pointers into moved blocks follow; an entry without data and one into
    // the unmoved .text keep their values.
    EXPECT_EQ(after.DebugDataPointers(), (std::vector<std::uint32_t>{0x610, 0xA08, 0xE08, 0x420}));
    EXPECT_EQ(after.SizeOfImage, before.SizeOfImage);
}

TEST_F(Editor, RemovingTheFirstSectionOrOneWithoutRawData) {
    TestModuleBuilder builder = SmallModule();
    builder.AddSection(".bss", {}).AddSection(".tail", Pattern(0x200, 9));
    ModuleView const before = builder.Build();
    ASSERT_TRUE(Open(before.Image));
    ASSERT_TRUE(editor.RemoveSection(3));  // no raw data: only the table changes
    ASSERT_TRUE(editor.RemoveSection(0));
    EXPECT_EQ(editor.GetSectionHeader(0).VirtualSize, before.Sections[1].VirtualSize);
    ModuleView const after = Written();
    ASSERT_EQ(after.NumberOfSections, 3);
    EXPECT_EQ(after.Sections[0].PointerToRawData, 0x400u);
    EXPECT_EQ(after.SectionBytes(0), before.SectionBytes(1));
    EXPECT_EQ(after.SectionBytes(2), before.SectionBytes(4));
    EXPECT_EQ(after.Image.size(), before.Image.size() - 0x200);
}

TEST_F(Editor, SectionsWithEqualNamesStayApart) {
    TestModuleBuilder builder;
    builder.AddSection(".text", Pattern(0x200, 1))
        .AddSection(".data", Pattern(0x200, 2))
        .AddSection(".data", Pattern(0x400, 3));
    builder.AddSection("", Pattern(0x200, 4)).AddSection("", Pattern(0x200, 5));
    ASSERT_TRUE(Open(builder.Build().Image));
    ASSERT_TRUE(editor.RemoveSection(1));
    ASSERT_TRUE(editor.RemoveSection(2));  // the first of the two unnamed ones
    ModuleView const after = Written();
    ASSERT_EQ(after.NumberOfSections, 3);
    EXPECT_EQ(after.SectionBytes(0), Pattern(0x200, 1));
    EXPECT_EQ(after.SectionBytes(1), Pattern(0x400, 3));
    EXPECT_EQ(after.SectionBytes(2), Pattern(0x200, 5));
    EXPECT_EQ(after.Image.size(), after.Sections[2].PointerToRawData + 0x200u);
}

// The headers still hold the old offsets when the fix-up fails on a debug
// directory left in the removed section: writing that would cut .data off.
TEST_F(Editor, DebugDirectoryInARemovedSectionFailsTheFixupAndTheWriteBack) {
    TestModuleBuilder builder;
    builder.AddSection(".text", Pattern(0x200, 1))
        .AddSection(".dbg", Pattern(0x200, 2))
        .AddSection(".data", Pattern(0x200, 3));
    builder.DebugDirectory(1, 0x20, {{0x10, 0x100, true}});
    ASSERT_TRUE(Open(builder.Build().Image));
    EXPECT_FALSE(editor.RemoveSection(1));
    EXPECT_EQ(editor.GetLastErrorText(), SInvalidPEFile);
    ExpectRefusedUntouched(SInvalidPEFile);
    ASSERT_TRUE(editor.Open(Wide(path), false));
    EXPECT_FALSE(editor.RemoveSection(1));
    EXPECT_TRUE(editor.SetDataDirectory(6, {0, 0}));  // clearing it lets the edit through
    ModuleView const after = Written();
    EXPECT_EQ(after.SectionBytes(1), Pattern(0x200, 3));
    EXPECT_EQ(after.Image.size(), original.size() - 0x200);
}

TEST_F(Editor, WideningTheDirectoriesMovesWhatTheSectionTableReaches) {
    // SizeOfOptionalHeader 176 and 192 end with the 10 directories; 0xF8
    // holds 16, and the section table stays with SizeOfOptionalHeader.
    for (auto const [plus, optionalSize] : {std::pair{false, 176}, std::pair{true, 192}, std::pair{true, 0xF8}}) {
        TestModuleBuilder builder = SmallModule(plus).SizeOfOptionalHeader(static_cast<std::uint16_t>(optionalSize));
        ModuleView const before = builder.DirectoryCount(10).Directory(7, 0x2000, 0x50).Checksum(true).Build();
        ASSERT_TRUE(Open(before.Image));
        EXPECT_TRUE(editor.SetDataDirectory(15, {0x3000, 0x20}));
        ModuleView const after = Written();
        EXPECT_EQ(after.SectionTableOffset, std::max(before.SectionTableOffset, before.DirectoriesOffset + 128));
        EXPECT_EQ(after.Sections[2].Name, ".rsrc");
        EXPECT_EQ(after.Directories,
                  (std::vector<Pair>{
                      {}, {}, {}, {}, {}, {}, {}, {0x2000, 0x50}, {}, {}, {}, {}, {}, {}, {}, {0x3000, 0x20}}));
        EXPECT_EQ(after.Slice(0x200, 0x800), before.Slice(0x200, 0x800));  // no section moved
        EXPECT_EQ(after.CheckSum, ReferenceImageChecksum(With32(after.Image, after.FileHeaderOffset + 84, 0)));
    }
    // 17 headers end the table at 0x3F0; 48 more bytes reach into the first
    // section, and all raw data moves on by one FileAlignment.
    TestModuleBuilder crowded;
    crowded.DirectoryCount(10);
    for (std::uint8_t i = 0; i < 17; ++i) {
        crowded.AddSection(".s" + std::to_string(i), Pattern(0x1F0, i));
    }
    crowded.DebugDirectory(0, 0x10, {{0x20, 0x100, true}}).Trailing(Pattern(0x21, 99)).SymbolTable(0x2608, 1);
    crowded.Directory(4, 0x610, 0x20);  // certificate data inside .s1 moves with it
    ModuleView const before = crowded.Build();
    ASSERT_TRUE(Open(before.Image));
    ASSERT_TRUE(editor.SetDataDirectory(12, {0x7000, 8}));
    ModuleView const after = Written();
    ASSERT_EQ(after.Image.size(), before.Image.size() + 0x200);
    for (std::size_t i = 1; i < 17; ++i) {
        EXPECT_EQ(after.SectionBytes(i), before.SectionBytes(i)) << i;
    }
    EXPECT_EQ(after.Sections[16].PointerToRawData, before.Sections[16].PointerToRawData + 0x200);
    EXPECT_EQ(after.SizeOfHeaders, 0x600u);
    EXPECT_EQ(after.Slice(0x2800, 0x21), Pattern(0x21, 99));
    EXPECT_EQ(after.PointerToSymbolTable, 0x2808u);
    EXPECT_EQ(after.DebugDataPointers(), std::vector<std::uint32_t>{0x700});
    EXPECT_EQ(after.Directories[4], Pair(0x810, 0x20));
}

TEST_F(Editor, WriteBackRecomputesSizesAndAStoredChecksum) {
    for (bool checksum : {false, true}) {
        ModuleView built = SmallModule().Directory(6, 0x2000, 28).Checksum(checksum).Build();
        Put32(built.Image, built.FileHeaderOffset + 20 + 56, 0x99000);  // SizeOfImage
        Put32(built.Image, built.FileHeaderOffset + 20 + 60, 0x1000);   // SizeOfHeaders
        ASSERT_TRUE(Open(built.Image));
        ASSERT_TRUE(editor.SetDataDirectory(6, {0, 0}));
        ModuleView const after = Written();
        EXPECT_TRUE(editor.WriteStarted());
        EXPECT_EQ(after.SizeOfImage, 0x4000u);
        EXPECT_EQ(after.SizeOfHeaders, 0x200u);
        EXPECT_EQ(after.Directories[6], Pair(0, 0));
        EXPECT_EQ(after.CheckSum,
                  checksum ? ReferenceImageChecksum(With32(after.Image, built.FileHeaderOffset + 84, 0)) : 0);
    }
    ASSERT_TRUE(Open(SmallModule().Build().Image));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(editor.RemoveSection(0));
    }
    ASSERT_TRUE(editor.Close(true));
    ModuleView const empty = ReadModuleView(ReadAll(path));
    EXPECT_EQ(empty.SizeOfImage, 0x1000u);  // one section alignment
    EXPECT_EQ(empty.Image.size(), empty.SectionTableOffset);
}

TEST_F(Editor, WriteBackRefusesWhatItCannotWriteSoundlyAndLeavesTheFileAlone) {
    ModuleView const small = SmallModule().Build();
    Bytes const rsrcPastTheEnd = With32(small.Image, small.SectionTableOffset + 80 + 16, 0x400);
    SectionDefinition inside{".b", Pattern(0x100, 2)};
    inside.PointerToRawData = 0x300;  // inside .a's raw data
    inside.SizeOfRawData = 0x100;
    SectionDefinition late{".b", Pattern(0x200, 2)};
    late.PointerToRawData = 0x600;  // after a gap that the symbol table outgrows
    ModuleView const seven = SmallModule().DirectoryCount(7).Build();
    Bytes dataAfterTable = seven.Image;
    dataAfterTable[seven.SectionTableOffset + 3 * 40 + 71] = 1;  // the last byte that widening takes
    struct Case {
        const char* Name;
        Bytes Image;
        bool MoveSomething;
        std::u16string_view Reason;
    } const cases[] = {
        {"SectionAlignment below a page", SmallModule().SectionAlignment(0x200).Build().Image, true,
         SSectionAlignmentTooSmall},
        {"moved section past the end", rsrcPastTheEnd, true, SInvalidPEFile},
        {"unmoved section past the end", rsrcPastTheEnd, false, SInvalidPEFile},
        {"overlapping raw data",
         TestModuleBuilder().AddSection(".a", Pattern(0x400, 1)).AddSection(inside).Build().Image, false,
         SInvalidPEFile},
        {"widened directories reach header data that directory 1 names",
         SmallModule().DirectoryCount(7).Directory(1, 0x1A8, 8).Build().Image, false, SHeadersReachNamedData},
        {"widened directories reach other data after the section table", dataAfterTable, false, SHeadersReachOtherData},
        {"symbol table runs into raw data",
         TestModuleBuilder().AddSection(".a", Pattern(0x200, 1)).AddSection(late).SymbolTable(0x400, 30).Build().Image,
         false, SSymbolTableNotKept},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(Open(c.Image));
        ASSERT_TRUE(c.MoveSomething ? editor.RemoveSection(0) : editor.SetDataDirectory(7, {0x10, 0x20}));
        ExpectRefusedUntouched(c.Reason);
    }
}

// An unaligned PointerToRawData gets its region at the next FileAlignment
// multiple: the section moves there, pointers into it follow, and the
// trailing data behind it is kept whole.
TEST_F(Editor, UnalignedSectionMovesWithItsPointersAndKeepsTheTrailingData) {
    SectionDefinition unaligned{".unal", Pattern(0x1F3, 2)};
    unaligned.PointerToRawData = 0x614;
    unaligned.SizeOfRawData = 0x1F3;
    TestModuleBuilder builder;
    builder.AddSection(".text", Pattern(0x200, 1))
        .AddSection(unaligned)
        .Trailing(Pattern(0x33, 3))
        .SymbolTable(0x807, 1);
    ASSERT_TRUE(Open(builder.DebugDirectory(0, 0x40, {{0x10, 0x634}}).Build().Image));
    ASSERT_TRUE(editor.SetDataDirectory(7, {0x10, 0x20}));
    ModuleView const after = Written();
    EXPECT_EQ(after.Sections[1].PointerToRawData, 0x800u);
    EXPECT_EQ(after.SectionBytes(1), Pattern(0x1F3, 2));
    EXPECT_EQ(after.DebugDataPointers(), std::vector<std::uint32_t>{0x820});
    // The trailing data keeps its offset modulo 8: 0x9F7, not 0x9F3.
    EXPECT_EQ(after.PointerToSymbolTable, 0x9F7u);
    EXPECT_EQ(after.Slice(0x9F7, 0x33), Pattern(0x33, 3));
    EXPECT_EQ(after.Image.size(), 0x9F7u + 0x33);
}

// A section is appended where the layout ends, with room for its header
// before the first section's data and no data after the last section.
TEST_F(Editor, AddingASectionAppendsItsDataAndHeader) {
    TImageSectionHeader header;
    header.Name = {'.', 'n', 'e', 'w'};
    header.VirtualAddress = 0x4000;
    header.VirtualSize = header.SizeOfRawData = 0x123;
    auto const feed = [data = Pattern(0x123, 5)](std::uint32_t offset, void* buffer, std::uint32_t size) {
        std::copy_n(data.begin() + offset, size, static_cast<std::uint8_t*>(buffer));
        return true;  // the section's data, piece by piece
    };
    for (bool checksum : {false, true}) {
        ModuleView const before = SmallModule().SpareHeaders(1).Checksum(checksum).Build();
        ASSERT_TRUE(Open(before.Image));
        EXPECT_THROW(editor.AddSection(header, {}), Exception);
        ASSERT_TRUE(editor.AddSection(header, feed));
        ModuleView const after = Written();
        ASSERT_EQ(after.NumberOfSections, 4);
        EXPECT_EQ(after.Sections[3].PointerToRawData, before.Image.size());
        EXPECT_EQ(after.Slice(0x400, before.Image.size() - 0x400), before.Slice(0x400, before.Image.size() - 0x400));
        EXPECT_EQ(after.SectionBytes(3), Pattern(0x123, 5));
        EXPECT_EQ(after.SizeOfImage, 0x5000u);
        EXPECT_EQ(after.CheckSum,
                  checksum ? ReferenceImageChecksum(With32(after.Image, after.FileHeaderOffset + 84, 0)) : 0);
    }
    TestModuleBuilder crowded;  // 17 headers end the table 16 bytes before the first section's data
    for (std::uint8_t i = 0; i < 17; ++i) {
        crowded.AddSection(".s" + std::to_string(i), Pattern(0x10, i));
    }
    for (auto const& [image, reason] :
         {std::pair{crowded.DirectoryCount(10).Build().Image, SNoRoomForSection},
          std::pair{SmallModule().SpareHeaders(1).Trailing(Bytes(3, 1)).Build().Image, SDataAfterLastSection}}) {
        ASSERT_TRUE(Open(image));
        header.VirtualAddress = 0x100000;
        EXPECT_FALSE(editor.AddSection(header, feed));
        EXPECT_EQ(editor.GetLastErrorText(), reason);
        EXPECT_TRUE(editor.Close(true));
        EXPECT_EQ(ReadAll(path), image);
    }
}
