// Reading the file, section data loaded on demand, and the debug directory.
#include <gtest/gtest.h>

#include <fstream>

#include "PeTestSupport.h"

using namespace testsupport;
using namespace uMsg_kvPEFileUtils;

namespace {

class SectionData : public ::testing::Test {
protected:
    void Open(const TestModuleBuilder& builder, bool readOnly = false) {
        built = builder.Build();
        path = dir.Write("m.exe", built.Image);
        ASSERT_TRUE(editor.Open(Wide(path), readOnly)) << Utf8(editor.GetLastErrorText());
    }
    static std::string Utf8(const std::u16string& text) { return std::string(text.begin(), text.end()); }

    TempDir dir;
    BuiltModule built;
    std::filesystem::path path;
    TestablePEFile editor;
};

std::vector<DebugEntryDefinition> Entries(std::size_t count) {
    std::vector<DebugEntryDefinition> entries;
    for (std::size_t i = 0; i < count; ++i) {
        entries.push_back({static_cast<std::uint32_t>(i + 1), 0x10, 0, 0x100 + static_cast<std::uint32_t>(i), true});
    }
    return entries;
}

}  // namespace

TEST_F(SectionData, DebugDirectoryCountRules) {
    struct Case {
        std::uint32_t Size;
        std::int32_t Count;
    };
    for (auto const [size, count] : {Case{28, 1}, Case{56, 2}, Case{1, 1}, Case{27, 27}, Case{29, -1}, Case{0, 0}}) {
        TestablePEFile one;
        TestModuleBuilder builder = SmallModule();
        builder.DebugDirectory(1, 0, Entries(2), size);
        auto const file = dir.Write("count.exe", builder.Build().Image);
        ASSERT_TRUE(one.Open(Wide(file), true));
        EXPECT_EQ(one.GetDebugDirectoryCount(), count) << "Size " << size;
        EXPECT_EQ(one.GetLastErrorText(), count < 0 ? Text(SInvalidPEFile) : u"") << "Size " << size;
    }
    Open(SmallModule().DirectoryCount(6));
    EXPECT_EQ(editor.GetDebugDirectoryCount(), 0);
}

TEST_F(SectionData, DebugDirectoryMustLieInOneSection) {
    SectionDefinition text;
    text.Name = ".text";
    text.Data = Pattern(0x1000, 1);
    text.VirtualSize = 0x1000;  // .text covers 0x1000..0x2000, .data starts at 0x2000
    TestModuleBuilder crossing;
    crossing.AddSection(text).AddSection(".data", Pattern(0x200, 2)).Directory(6, 0x1FF0, 28);
    Open(crossing);
    EXPECT_EQ(editor.GetDebugDirectoryCount(), -1);
    EXPECT_EQ(editor.GetLastErrorText(), Text(SInvalidPEFile));
    // The entry runs past .text's raw data: a fault of the file, not of the caller.
    TImageDebugDirectory entry;
    EXPECT_FALSE(editor.ReadDebugDirectoryEntry(0, entry));
    EXPECT_EQ(editor.GetLastErrorText(), Text(SInvalidPEFile));
}

TEST_F(SectionData, ReadsAndWritesDebugEntries) {
    Open(SmallModule().DebugDirectory(1, 0x40, Entries(2)));
    ASSERT_EQ(editor.GetDebugDirectoryCount(), 2);
    TImageDebugDirectory entry;
    ASSERT_TRUE(editor.ReadDebugDirectoryEntry(1, entry));
    EXPECT_EQ(entry.Type, 2u);
    EXPECT_EQ(entry.SizeOfData, 0x10u);
    EXPECT_EQ(entry.PointerToRawData, built.Sections[1].PointerToRawData + 0x101);
    entry.PointerToRawData = 0x4444;
    ASSERT_TRUE(editor.WriteDebugDirectoryEntry(1, entry));
    EXPECT_TRUE(editor.IsModified());
    TImageDebugDirectory again;
    ASSERT_TRUE(editor.ReadDebugDirectoryEntry(1, again));
    EXPECT_EQ(again, entry);
    std::uint8_t raw[4];
    ASSERT_TRUE(editor.ReadSectionData(1, 0x40 + 28 + 24, raw, 4));
    EXPECT_EQ(raw[0] | raw[1] << 8, 0x4444);
}

TEST_F(SectionData, ReadFileDataFromStartAndEnd) {
    Open(SmallModule());
    std::uint8_t tail[8];
    ASSERT_TRUE(editor.ReadFileData(tail, 8, -8, true));
    EXPECT_EQ(Bytes(tail, tail + 8), Slice(built.Image, built.Image.size() - 8, 8));
    std::uint8_t head[2];
    ASSERT_TRUE(editor.ReadFileData(head, 2, 0, false));
    EXPECT_EQ(head[0], 'M');
    std::vector<std::uint8_t> tooMuch(16);
    EXPECT_FALSE(editor.ReadFileData(tooMuch.data(), 16, -8, true));
    EXPECT_FALSE(editor.ReadFileData(head, 2, -1, false));
    EXPECT_EQ(editor.GetLastErrorText(), OSErrorText(sys::kErrorNegativeSeek));
}

TEST_F(SectionData, SectionReadsAndWritesStayInMemory) {
    TestModuleBuilder builder = SmallModule();
    builder.AddSection(".bss", {});
    Open(builder);
    std::uint8_t byte = 0;
    EXPECT_TRUE(editor.ReadSectionData(3, 0, &byte, 0));  // no raw data, nothing asked
    EXPECT_THROW(editor.ReadSectionData(3, 0, &byte, 1), Exception);
    EXPECT_THROW(editor.ReadSectionData(0, 0x200, &byte, 1), Exception);
    EXPECT_THROW(editor.ReadSectionData(0, 0xFFFFFFFFu, &byte, 2), Exception);  // no wrap-around
    EXPECT_THROW(editor.ReadSectionData(-1, 0, &byte, 0), Exception);
    EXPECT_THROW(editor.ReadSectionData(4, 0, &byte, 0), Exception);

    Bytes const patch = {1, 2, 3, 4};
    ASSERT_TRUE(editor.WriteSectionData(1, 0x10, patch.data(), 4));
    Bytes readBack(4);
    ASSERT_TRUE(editor.ReadSectionData(1, 0x10, readBack.data(), 4));
    EXPECT_EQ(readBack, patch);
    Bytes onDisk(4);
    ASSERT_TRUE(editor.ReadFileData(onDisk.data(), 4, built.Sections[1].PointerToRawData + 0x10, false));
    EXPECT_EQ(onDisk, Slice(built.Image, built.Sections[1].PointerToRawData + 0x10, 4));
    EXPECT_TRUE(editor.IsModified());
}

TEST_F(SectionData, WriteSectionDataChecksInOrder) {
    Open(SmallModule(), true);
    std::uint8_t byte = 0;
    EXPECT_THROW(editor.WriteSectionData(99, 0, &byte, 1), EOpenedAsReadOnly);
    EXPECT_THROW(editor.WriteDebugDirectoryEntry(0, TImageDebugDirectory{}), EOpenedAsReadOnly);
    TestablePEFile writable;
    ASSERT_TRUE(editor.Close(false));
    ASSERT_TRUE(writable.Open(Wide(path), false));
    try {
        writable.WriteSectionData(3, 0, &byte, 1);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), Text(SInvalidParameters));
    }
    try {
        writable.WriteSectionData(-1, 0, &byte, 1);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), u"");
    }
    EXPECT_THROW(writable.WriteSectionData(0, 0x1FF, &byte, 2), Exception);
    EXPECT_FALSE(writable.IsModified());
}

TEST_F(SectionData, LoadingClearsTheErrorStateAndLoadsOnce) {
    Open(SmallModule());
    std::uint8_t byte = 0;
    ASSERT_TRUE(editor.ReadSectionData(2, 0, &byte, 1));
    EXPECT_FALSE(editor.ReadFileData(&byte, 1, -1, false));
    EXPECT_FALSE(editor.GetLastErrorText().empty());
    std::uint8_t* data = nullptr;
    ASSERT_TRUE(editor.LoadSectionData(2, data));
    EXPECT_EQ(editor.GetLastErrorText(), u"");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(Bytes(data, data + 0x200), SectionBytes(built.Image, built.Sections[2]));
    std::uint8_t* again = nullptr;
    ASSERT_TRUE(editor.LoadSectionData(2, again));
    EXPECT_EQ(again, data);  // the same buffer: the file is read once
}

TEST_F(SectionData, RawDataOutsideTheFileFailsItsLoadBeforeAllocating) {
    TestModuleBuilder builder = SmallModule();
    BuiltModule const base = builder.Build();
    Bytes image = base.Image;
    // .rsrc claims almost 4 GiB of raw data; the file holds 0x200 bytes of it.
    Put32(image, base.SectionTableOffset + 2 * 40 + 16, 0xF0000000u);
    // .data loses its file position but keeps its size.
    Put32(image, base.SectionTableOffset + 1 * 40 + 20, 0);
    path = dir.Write("m.exe", image);
    ASSERT_TRUE(editor.Open(Wide(path), false));
    std::uint8_t byte = 0;
    EXPECT_FALSE(editor.ReadSectionData(2, 0, &byte, 1));
    EXPECT_EQ(editor.GetLastErrorText(), Text(SInvalidPEFile));
    EXPECT_FALSE(editor.ReadSectionData(1, 0, &byte, 1));
    EXPECT_EQ(editor.GetLastErrorText(), Text(SInvalidPEFile));
    EXPECT_TRUE(editor.ReadSectionData(0, 0, &byte, 1));  // the others still load
}

TEST_F(SectionData, DebugEntryBeyondTheRawDataIsAFormatFault) {
    TestModuleBuilder builder;
    SectionDefinition data;
    data.Name = ".data";
    data.Data = Pattern(0x200, 1);
    data.VirtualSize = 0x1000;  // mapped beyond its 0x200 bytes of raw data
    builder.AddSection(data).Directory(6, 0x1000 + 0x300, 28);
    Open(builder);
    ASSERT_EQ(editor.GetDebugDirectoryCount(), 1);
    TImageDebugDirectory entry;
    EXPECT_FALSE(editor.ReadDebugDirectoryEntry(0, entry));
    EXPECT_EQ(editor.GetLastErrorText(), Text(SInvalidPEFile));
    EXPECT_FALSE(editor.WriteDebugDirectoryEntry(0, entry));
    EXPECT_FALSE(editor.IsModified());
}

TEST_F(SectionData, FindSectionByRvaUsesTheVirtualSize) {
    TestModuleBuilder builder = SmallModule();
    SectionDefinition empty;
    empty.Name = ".zero";
    empty.VirtualSize = 0;
    builder.AddSection(empty);
    Open(builder);
    EXPECT_EQ(editor.FindSectionByRva(0x0FFF), -1);
    EXPECT_EQ(editor.FindSectionByRva(0x1000), 0);
    EXPECT_EQ(editor.FindSectionByRva(0x117F), 0);
    EXPECT_EQ(editor.FindSectionByRva(0x1180), -1);  // past VirtualSize 0x180
    EXPECT_EQ(editor.FindSectionByRva(built.Sections[3].VirtualAddress), -1);
}
