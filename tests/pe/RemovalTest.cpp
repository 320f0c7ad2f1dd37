// Removing sections and changing data directories, with every file pointer
// that lies in a moved block following it, checked in the written file.
#include <gtest/gtest.h>

#include "PeTestSupport.h"

using namespace testsupport;
using namespace uMsg_kvPEFileUtils;

namespace {

std::string Utf8(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// .text (holding a debug directory), .data, .rdata, certificate data in a
// hole, .last (with line numbers in the trailing data), then trailing data
// that holds the COFF symbol table.
struct RichModule {
    BuiltModule Built;
    std::uint32_t Shift = 0x400;  // what .data's removal frees
    TestModuleBuilder Builder;

    // Four section headers end at 0x218: the raw data starts at 0x400.
    static constexpr std::uint32_t kRdata = 0xA00;
    static constexpr std::uint32_t kCertificate = 0xC00;
    static constexpr std::uint32_t kLast = 0xE00;
    static constexpr std::uint32_t kTrailing = 0x1000;

    RichModule() {
        SectionDefinition last;
        last.Name = ".last";
        last.Data = Pattern(0x200, 4);
        last.PointerToRawData = kLast;
        last.NumberOfLinenumbers = 2;
        last.PointerToLinenumbers = kTrailing + 0x10;
        Builder.AddSection(".text", Pattern(0x180, 1))
            .AddSection(".data", Pattern(0x400, 2))
            .AddSection(".rdata", Pattern(0x1F0, 3))
            .AddSection(last)
            .Certificate(Pattern(0x30, 5), kCertificate)
            .Trailing(Pattern(0x45, 6))
            .SymbolTable(kTrailing + 4, 3)
            .DebugDirectory(0, 0x100,
                            {DebugEntryDefinition{2, 0x20, 0, kRdata + 0x10, false},
                             DebugEntryDefinition{2, 0x20, 0, kLast + 8, false},
                             DebugEntryDefinition{2, 0, 0, kLast + 8, false},
                             DebugEntryDefinition{2, 0x10, 0, 0x20, true}});
        Built = Builder.Build();
    }
};

std::vector<std::uint32_t> DebugPointers(const Bytes& image, const ModuleView& view) {
    std::vector<std::uint32_t> pointers;
    auto const [rva, size] = view.Directories[6];
    auto const& text = view.Sections[0];
    for (std::uint32_t i = 0; i < size / 28; ++i) {
        pointers.push_back(Get32(image, text.PointerToRawData + (rva - text.VirtualAddress) + i * 28 + 24));
    }
    return pointers;
}

}  // namespace

TEST(Removal, MiddleSectionMovesEverythingBehindItAndEveryPointer) {
    RichModule module;
    BuiltModule const& before = module.Built;
    std::uint32_t const shift = module.Shift;
    ASSERT_EQ(before.Sections[2].PointerToRawData, RichModule::kRdata);
    ASSERT_EQ(before.CertificateOffset, RichModule::kCertificate);
    ASSERT_EQ(before.TrailingOffset, RichModule::kTrailing);
    TempDir dir;
    auto const path = dir.Write("rich.exe", before.Image);
    ExpectPefileAccepts(path);
    TestablePEFile editor;
    ASSERT_TRUE(editor.Open(Wide(path), false));
    ASSERT_TRUE(editor.RemoveSection(1)) << Utf8(editor.GetLastErrorText());
    EXPECT_FALSE(editor.IsLayoutChanged());
    ASSERT_EQ(editor.GetSectionCount(), 3);
    EXPECT_EQ(editor.GetSectionHeader(0).VirtualSize, before.Sections[2].VirtualAddress - before.Sections[0].VirtualAddress);
    EXPECT_EQ(editor.GetSectionHeader(1).PointerToRawData, before.Sections[2].PointerToRawData - shift);
    EXPECT_EQ(editor.GetSectionHeader(2).PointerToRawData, before.Sections[3].PointerToRawData - shift);
    EXPECT_EQ(editor.GetLayoutEnd(), before.Image.size() - shift);
    ASSERT_TRUE(editor.Close(true)) << Utf8(editor.GetLastErrorText());
    EXPECT_TRUE(editor.WriteStarted());

    Bytes const after = ReadAll(path);
    ModuleView const view = ReadModuleView(after);
    ModuleView const old = ReadModuleView(before.Image);
    ASSERT_EQ(after.size(), before.Image.size() - shift);
    EXPECT_EQ(view.NumberOfSections, 3);
    // .text is unchanged but for the rebased debug entries at 0x100.
    EXPECT_EQ(Slice(after, view.Sections[0].PointerToRawData, 0x100), Slice(before.Image, old.Sections[0].PointerToRawData, 0x100));
    EXPECT_EQ(SectionBytes(after, view.Sections[1]), SectionBytes(before.Image, old.Sections[2]));
    EXPECT_EQ(SectionBytes(after, view.Sections[2]), SectionBytes(before.Image, old.Sections[3]));
    // Certificate data and trailing data moved back by the same amount.
    EXPECT_EQ(view.Directories[4].first, before.CertificateOffset - shift);
    EXPECT_EQ(Slice(after, view.Directories[4].first, 0x30), Pattern(0x30, 5));
    EXPECT_EQ(Slice(after, before.TrailingOffset - shift, 0x45), Pattern(0x45, 6));
    EXPECT_EQ(view.PointerToSymbolTable, old.PointerToSymbolTable - shift);
    EXPECT_EQ(Get32(after, view.SectionTableOffset + 2 * 40 + 28), Get32(before.Image, old.SectionTableOffset + 3 * 40 + 28) - shift);
    // Debug data pointers into moved blocks follow; one without data and
    // one into the unmoved .text keep their values.
    auto const oldPointers = DebugPointers(before.Image, old);
    auto const newPointers = DebugPointers(after, view);
    ASSERT_EQ(newPointers.size(), 4u);
    EXPECT_EQ(newPointers[0], oldPointers[0] - shift);
    EXPECT_EQ(newPointers[1], oldPointers[1] - shift);
    EXPECT_EQ(newPointers[2], oldPointers[2]);
    EXPECT_EQ(newPointers[3], oldPointers[3]);
    EXPECT_EQ(view.SizeOfImage, old.SizeOfImage);
    ExpectPefileAccepts(path);
}

TEST(Removal, FirstSectionChangesNoVirtualSize) {
    TempDir dir;
    BuiltModule const before = SmallModule().EntryPoint(0x2000).Build();
    auto const path = dir.Write("m.exe", before.Image);
    TkvPEFileUtils editor;
    ASSERT_TRUE(editor.Open(Wide(path), false));
    ASSERT_TRUE(editor.RemoveSection(0));
    EXPECT_EQ(editor.GetSectionName(0), ".data");
    EXPECT_EQ(editor.GetSectionHeader(0).VirtualSize, before.Sections[1].VirtualSize);
    EXPECT_EQ(editor.GetSectionHeader(0).PointerToRawData, before.Sections[0].PointerToRawData);
    ASSERT_TRUE(editor.Close(true));
    Bytes const after = ReadAll(path);
    ModuleView const view = ReadModuleView(after);
    EXPECT_EQ(after.size(), before.Image.size() - 0x200);
    EXPECT_EQ(SectionBytes(after, view.Sections[0]), SectionBytes(before.Image, before.Sections[1]));
    EXPECT_EQ(SectionBytes(after, view.Sections[1]), SectionBytes(before.Image, before.Sections[2]));
    ExpectPefileAccepts(path);
}

TEST(Removal, LastSectionTheExtractionWay) {
    for (bool plus : {false, true}) {
        for (std::uint32_t directorySize : {1u, 28u}) {
            TempDir dir;
            TestModuleBuilder builder = SmallModule(plus);
            AddTd32DebugSection(builder, MakeTd32Block(0x1234), directorySize);
            builder.Checksum(ChecksumMode::Computed);
            BuiltModule const before = builder.Build();
            auto const path = dir.Write("td32.exe", before.Image);
            ExpectPefileAccepts(path);
            TestablePEFile editor;
            ASSERT_TRUE(editor.Open(Wide(path), false));
            ASSERT_EQ(editor.GetDebugDirectoryCount(), 1);
            EXPECT_TRUE(editor.SetDataDirectory(6, {0, 0}));
            EXPECT_TRUE(editor.RemoveSection(3));
            EXPECT_FALSE(editor.IsLayoutChanged());
            auto const& rsrc = before.Sections[2];
            EXPECT_EQ(editor.GetLayoutEnd(), rsrc.PointerToRawData + rsrc.SizeOfRawData);
            ASSERT_TRUE(editor.Close(true));

            Bytes const after = ReadAll(path);
            ModuleView const view = ReadModuleView(after);
            ASSERT_EQ(after.size(), rsrc.PointerToRawData + rsrc.SizeOfRawData);
            EXPECT_EQ(view.NumberOfSections, 3);
            EXPECT_EQ(view.Directories[6], (std::pair<std::uint32_t, std::uint32_t>{0, 0}));
            EXPECT_EQ(view.SizeOfImage, 0x4000u);  // .rsrc at 0x3000 is the last section now
            EXPECT_EQ(view.SizeOfHeaders, 0x200u);  // three headers end the table at 0x1F0
            EXPECT_EQ(view.CheckSum, ReferenceImageChecksum(after));
            EXPECT_NE(view.CheckSum, 0u);
            // Section data untouched; the freed header slot keeps its old bytes.
            EXPECT_EQ(Slice(after, 0x400, after.size() - 0x400), Slice(before.Image, 0x400, after.size() - 0x400));
            EXPECT_EQ(Slice(after, view.SectionTableOffset + 3 * 40, 40),
                      Slice(before.Image, before.SectionTableOffset + 3 * 40, 40));
            ExpectPefileAccepts(path);
        }
    }
}

TEST(Removal, SectionWithoutRawDataChangesOnlyTheTable) {
    TempDir dir;
    TestModuleBuilder builder = SmallModule();
    builder.AddSection(".bss", {}).AddSection(".tail", Pattern(0x200, 9));
    auto const path = dir.Write("m.exe", builder.Build().Image);
    TestablePEFile editor;
    ASSERT_TRUE(editor.Open(Wide(path), false));
    std::vector<std::uint32_t> before;
    for (auto const& region : editor.Map()) {
        before.push_back(region.Offset);
    }
    std::uint32_t const tableSize = editor.Map()[1].Size;
    ASSERT_TRUE(editor.RemoveSection(3));
    EXPECT_EQ(editor.Map()[1].Size, tableSize - 40);
    ASSERT_EQ(editor.Map().size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(editor.Map()[i].Offset, before[i]);
    }
    EXPECT_EQ(editor.GetSectionName(3), ".tail");
}

TEST(Removal, MisuseRaisesAndChangesNothing) {
    TempDir dir;
    auto const path = dir.Write("m.exe", SmallModule().Build().Image);
    TestablePEFile editor;
    EXPECT_THROW(editor.RemoveSection(0), ENoModuleOpened);
    ASSERT_TRUE(editor.Open(Wide(path), true));
    EXPECT_THROW(editor.RemoveSection(0), EOpenedAsReadOnly);
    EXPECT_THROW(editor.SetDataDirectory(6, {}), EOpenedAsReadOnly);
    ASSERT_TRUE(editor.Open(Wide(path), false));
    auto expectMessage = [&](std::int32_t index, std::u16string_view message) {
        try {
            editor.RemoveSection(index);
            ADD_FAILURE() << "no exception for index " << index;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), Text(message)) << index;
        }
    };
    expectMessage(3, SNoSectionsToRemove);
    expectMessage(-1, SInvalidParameters);
    EXPECT_THROW(editor.SetDataDirectory(16, {1, 1}), Exception);
    EXPECT_THROW(editor.SetDataDirectory(-1, {1, 1}), Exception);
    EXPECT_EQ(editor.GetSectionCount(), 3);
    EXPECT_FALSE(editor.IsModified());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(editor.RemoveSection(0));
    }
    expectMessage(0, SNoSectionsToRemove);  // no sections left: every index
    expectMessage(5, SNoSectionsToRemove);
}

TEST(Removal, SectionsWithEqualNamesStayApart) {
    TempDir dir;
    TestModuleBuilder builder;
    builder.AddSection(".text", Pattern(0x200, 1))
        .AddSection(".data", Pattern(0x200, 2))
        .AddSection(".data", Pattern(0x400, 3))
        .AddSection("", Pattern(0x200, 4))
        .AddSection("", Pattern(0x200, 5));
    BuiltModule const before = builder.Build();
    auto const path = dir.Write("m.exe", before.Image);
    TkvPEFileUtils editor;
    ASSERT_TRUE(editor.Open(Wide(path), false));
    ASSERT_TRUE(editor.RemoveSection(1));
    ASSERT_TRUE(editor.RemoveSection(2));  // the first of the two unnamed ones
    ASSERT_TRUE(editor.Close(true));
    ExpectPefileAccepts(path);
    Bytes const after = ReadAll(path);
    ModuleView const view = ReadModuleView(after);
    ASSERT_EQ(view.NumberOfSections, 3);
    EXPECT_EQ(SectionBytes(after, view.Sections[0]), Pattern(0x200, 1));
    EXPECT_EQ(SectionBytes(after, view.Sections[1]), Pattern(0x400, 3));
    EXPECT_EQ(SectionBytes(after, view.Sections[2]), Pattern(0x200, 5));
    EXPECT_EQ(after.size(), view.Sections[2].PointerToRawData + 0x200u);
}

TEST(Removal, DebugDirectoryLeftInARemovedSectionFailsTheFixupAndTheWriteBack) {
    TempDir dir;
    TestModuleBuilder builder;
    builder.AddSection(".text", Pattern(0x200, 1)).AddSection(".dbg", Pattern(0x200, 2)).AddSection(".data", Pattern(0x200, 3));
    builder.DebugDirectory(1, 0x20, {DebugEntryDefinition{2, 0x10, 0, 0x100, true}});
    BuiltModule const before = builder.Build();
    auto const path = dir.Write("m.exe", before.Image);

    TkvPEFileUtils editor;
    ASSERT_TRUE(editor.Open(Wide(path), false));
    EXPECT_FALSE(editor.RemoveSection(1));
    EXPECT_EQ(editor.GetLastErrorText(), Text(SInvalidPEFile));
    EXPECT_EQ(editor.GetSectionCount(), 2);  // the removal stays done in the model
    // The headers still hold the old offsets while the map has moved
    // .data back: writing that would cut .data off. Refused, untouched.
    EXPECT_FALSE(editor.Close(true));
    EXPECT_EQ(editor.GetLastErrorText(), Text(SInvalidPEFile));
    EXPECT_FALSE(editor.WriteStarted());
    EXPECT_EQ(ReadAll(path), before.Image);

    // Clearing the directory first lets the same edit through, consistently.
    ASSERT_TRUE(editor.Open(Wide(path), false));
    EXPECT_FALSE(editor.RemoveSection(1));
    EXPECT_TRUE(editor.SetDataDirectory(6, {0, 0}));
    ASSERT_TRUE(editor.Close(true)) << Utf8(editor.GetLastErrorText());
    Bytes const after = ReadAll(path);
    ModuleView const view = ReadModuleView(after);
    ASSERT_EQ(view.NumberOfSections, 2);
    EXPECT_EQ(SectionBytes(after, view.Sections[1]), Pattern(0x200, 3));
    EXPECT_EQ(after.size(), before.Image.size() - 0x200);
    ExpectPefileAccepts(path);
}

TEST(DataDirectories, ReplacingAnEntryOfAFullTable) {
    TempDir dir;
    auto const path = dir.Write("m.exe", SmallModule().Directory(6, 0x2000, 28).Directory(2, 0x3000, 0x10).Build().Image);
    TestablePEFile editor;
    ASSERT_TRUE(editor.Open(Wide(path), false));
    EXPECT_TRUE(editor.SetDataDirectory(2, {0x3000, 0x10}));  // the same entry
    EXPECT_FALSE(editor.IsModified());
    EXPECT_TRUE(editor.SetDataDirectory(6, {0, 0}));
    EXPECT_TRUE(editor.IsModified());
    EXPECT_EQ(editor.GetDataDirectoryCount(), 16);
    EXPECT_EQ(editor.GetDataDirectory(6), (TImageDataDirectory{0, 0}));
    EXPECT_EQ(editor.GetDataDirectory(2), (TImageDataDirectory{0x3000, 0x10}));
}

TEST(DataDirectories, WideningToSixteenEntries) {
    for (bool plus : {false, true}) {
        TempDir dir;
        TestModuleBuilder builder = SmallModule(plus);
        builder.DirectoryCount(10).Directory(7, 0x2000, 0x50).Checksum(ChecksumMode::Computed);
        BuiltModule const before = builder.Build();
        auto const path = dir.Write("m.exe", before.Image);
        TestablePEFile editor;
        ASSERT_TRUE(editor.Open(Wide(path), false));
        EXPECT_TRUE(editor.SetDataDirectory(15, {0x3000, 0x20}));
        EXPECT_EQ(editor.GetDataDirectoryCount(), 16);
        EXPECT_EQ(editor.Header().SizeOfOptionalHeader, plus ? 240 : 224);
        EXPECT_EQ(editor.Map()[1].Offset, before.SectionTableOffset + 48);
        EXPECT_EQ(editor.GetSectionHeader(0).PointerToRawData, before.Sections[0].PointerToRawData);
        ASSERT_TRUE(editor.Close(true));

        Bytes const after = ReadAll(path);
        ModuleView const view = ReadModuleView(after);
        EXPECT_EQ(view.NumberOfRvaAndSizes, 16u);
        EXPECT_EQ(view.SizeOfOptionalHeader, plus ? 240 : 224);
        EXPECT_EQ(view.SectionTableOffset, before.SectionTableOffset + 48);
        EXPECT_EQ(view.Directories[7], (std::pair<std::uint32_t, std::uint32_t>{0x2000, 0x50}));
        EXPECT_EQ(view.Directories[15], (std::pair<std::uint32_t, std::uint32_t>{0x3000, 0x20}));
        for (std::size_t i = 10; i < 15; ++i) {
            EXPECT_EQ(view.Directories[i], (std::pair<std::uint32_t, std::uint32_t>{0, 0}));
        }
        ASSERT_EQ(view.NumberOfSections, 3);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(view.Sections[i].Name, before.Sections[i].Name);
            EXPECT_EQ(SectionBytes(after, view.Sections[i]), SectionBytes(before.Image, before.Sections[i]));
        }
        EXPECT_EQ(view.CheckSum, ReferenceImageChecksum(after));
        ExpectPefileAccepts(path);
    }
}

TEST(DataDirectories, WideningThatReachesTheFirstSectionMovesAllData) {
    TempDir dir;
    TestModuleBuilder builder;
    builder.DirectoryCount(10);
    for (int i = 0; i < 17; ++i) {
        builder.AddSection(".s" + std::to_string(i), Pattern(0x1F0, static_cast<std::uint8_t>(i)));
    }
    builder.DebugDirectory(0, 0x10, {DebugEntryDefinition{2, 0x20, 0, 0x100, true}}).Trailing(Pattern(0x21, 99));
    builder.SymbolTable(0x400 + 17 * 0x200 + 8, 1);
    BuiltModule const before = builder.Build();
    auto const path = dir.Write("m.exe", before.Image);
    TkvPEFileUtils editor;
    ASSERT_TRUE(editor.Open(Wide(path), false));
    ASSERT_TRUE(editor.SetDataDirectory(12, {0x7000, 8}));
    ASSERT_TRUE(editor.Close(true)) << Utf8(editor.GetLastErrorText());

    Bytes const after = ReadAll(path);
    ModuleView const view = ReadModuleView(after);
    ASSERT_EQ(after.size(), before.Image.size() + 0x200);
    for (std::size_t i = 0; i < 17; ++i) {
        EXPECT_EQ(view.Sections[i].PointerToRawData, before.Sections[i].PointerToRawData + 0x200) << i;
        Bytes expected = SectionBytes(before.Image, before.Sections[i]);
        if (i == 0) {  // the debug entry's pointer followed its data
            Put32(expected, 0x10 + 24, Get32(expected, 0x10 + 24) + 0x200);
        }
        EXPECT_EQ(SectionBytes(after, view.Sections[i]), expected) << i;
    }
    EXPECT_EQ(view.SizeOfHeaders, 0x600u);
    EXPECT_EQ(Slice(after, before.TrailingOffset + 0x200, 0x21), Pattern(0x21, 99));
    EXPECT_EQ(view.PointerToSymbolTable, before.TrailingOffset + 8 + 0x200);
    std::uint32_t const entry = view.Sections[0].PointerToRawData + 0x10;
    EXPECT_EQ(Get32(after, entry + 24), view.Sections[0].PointerToRawData + 0x100);
    ExpectPefileAccepts(path);
}
