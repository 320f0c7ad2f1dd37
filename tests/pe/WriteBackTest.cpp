// Closing with and without writing back: what is written, what is
// recomputed, what is refused with the file left untouched, and whether a
// caller can tell the two apart.
#include <gtest/gtest.h>

#include "PeTestSupport.h"

using namespace testsupport;
using namespace uMsg_kvPEFileUtils;

namespace {

std::string Utf8(const std::u16string& text) { return std::string(text.begin(), text.end()); }

class WriteBack : public ::testing::Test {
protected:
    std::filesystem::path Write(const Bytes& image) {
        original = image;
        path = dir.Write("m.exe", image);
        return path;
    }
    void OpenWritable() { ASSERT_TRUE(editor.Open(Wide(path), false)) << Utf8(editor.GetLastErrorText()); }
    // A change that moves nothing: directory 7 is unused by the loaders.
    void TouchDirectory() { ASSERT_TRUE(editor.SetDataDirectory(7, {0x10, 0x20})); }
    void ExpectRefusedUntouched(std::u16string_view reason) {
        EXPECT_FALSE(editor.Close(true));
        EXPECT_EQ(editor.GetLastErrorText(), Text(reason));
        EXPECT_FALSE(editor.WriteStarted());
        EXPECT_EQ(ReadAll(path), original);
        EXPECT_THROW(editor.GetSectionCount(), ENoModuleOpened);
    }

    TempDir dir;
    std::filesystem::path path;
    Bytes original;
    TestablePEFile editor;
};

}  // namespace

TEST_F(WriteBack, NothingIsWrittenWhenNothingChanged) {
    Write(SmallModule().Build().Image);
    OpenWritable();
    std::uint8_t byte = 0;
    ASSERT_TRUE(editor.ReadSectionData(1, 0, &byte, 1));
    ASSERT_TRUE(editor.SetDataDirectory(6, {0, 0}));  // already zero
    EXPECT_TRUE(editor.Close(true));
    EXPECT_FALSE(editor.WriteStarted());
    EXPECT_EQ(ReadAll(path), original);
    EXPECT_EQ(editor.GetLastErrorText(), u"");
}

TEST_F(WriteBack, CloseWithoutAModuleKeepsTheErrorState) {
    EXPECT_FALSE(editor.Open(Wide(dir.File("missing.exe")), false));
    std::u16string const reason = editor.GetLastErrorText();
    ASSERT_FALSE(reason.empty());
    EXPECT_TRUE(editor.Close(true));
    EXPECT_TRUE(editor.Close(false));
    EXPECT_EQ(editor.GetLastErrorText(), reason);
}

TEST_F(WriteBack, ChecksumZeroStaysZeroAndAnyOtherIsRecomputed) {
    struct Case {
        ChecksumMode Mode;
        std::uint32_t Value;
    };
    for (auto const [mode, value] : {Case{ChecksumMode::Zero, 0}, Case{ChecksumMode::Computed, 0},
                                     Case{ChecksumMode::Explicit, 0xDEADBEEF}}) {
        Write(SmallModule().Checksum(mode, value).Build().Image);
        OpenWritable();
        TouchDirectory();
        ASSERT_TRUE(editor.Close(true)) << Utf8(editor.GetLastErrorText());
        EXPECT_TRUE(editor.WriteStarted());
        Bytes const after = ReadAll(path);
        ModuleView const view = ReadModuleView(after);
        if (mode == ChecksumMode::Zero) {
            EXPECT_EQ(view.CheckSum, 0u);
        } else {
            EXPECT_EQ(view.CheckSum, ReferenceImageChecksum(after));
        }
        EXPECT_EQ(view.Directories[7], (std::pair<std::uint32_t, std::uint32_t>{0x10, 0x20}));
        ExpectPefileAccepts(path);
    }
}

TEST_F(WriteBack, SizesAreRecomputedFromTheModel) {
    BuiltModule const built = SmallModule().Directory(6, 0x2000, 28).Build();
    Bytes image = built.Image;
    std::size_t const opt = built.FileHeaderOffset + 20;
    Put32(image, opt + 56, 0x99000);  // SizeOfImage
    Put32(image, opt + 60, 0x1000);   // SizeOfHeaders
    Write(image);
    OpenWritable();
    ASSERT_TRUE(editor.SetDataDirectory(6, {0, 0}));
    ASSERT_TRUE(editor.Close(true));
    ExpectPefileAccepts(path);
    ModuleView const view = ReadModuleView(ReadAll(path));
    EXPECT_EQ(view.SizeOfImage, 0x4000u);
    EXPECT_EQ(view.SizeOfHeaders, 0x200u);
    EXPECT_EQ(view.Directories[6], (std::pair<std::uint32_t, std::uint32_t>{0, 0}));
}

TEST_F(WriteBack, ModuleWithoutSectionsGetsOnePageOfImage) {
    Write(SmallModule().Build().Image);
    OpenWritable();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(editor.RemoveSection(0));
    }
    std::uint32_t const tableStart = editor.Map()[1].Offset;
    ASSERT_TRUE(editor.Close(true));
    Bytes const after = ReadAll(path);
    ModuleView const view = ReadModuleView(after);
    EXPECT_EQ(view.NumberOfSections, 0);
    EXPECT_EQ(view.SizeOfImage, 0x1000u);
    EXPECT_EQ(after.size(), tableStart);  // cut where the empty section table starts
}

TEST_F(WriteBack, SectionAlignmentBelowAPageIsRefused) {
    Write(SmallModule().SectionAlignment(0x200).Build().Image);
    OpenWritable();
    ASSERT_TRUE(editor.RemoveSection(2));
    ExpectRefusedUntouched(SSectionAlignmentTooSmall);
    OpenWritable();
    ASSERT_TRUE(editor.RemoveSection(2));
    EXPECT_TRUE(editor.Close(false));
    EXPECT_EQ(ReadAll(path), original);
}

TEST_F(WriteBack, SectionChangesAreWrittenInPlace) {
    Write(SmallModule().Checksum(ChecksumMode::Computed).Build().Image);
    OpenWritable();
    Bytes const patch = {0xAA, 0xBB, 0xCC};
    ASSERT_TRUE(editor.WriteSectionData(1, 0x7F, patch.data(), 3));
    std::uint8_t byte = 0;
    ASSERT_TRUE(editor.ReadSectionData(2, 0, &byte, 1));  // loaded, rewritten with the same bytes
    ASSERT_TRUE(editor.Close(true));
    ExpectPefileAccepts(path);
    Bytes after = ReadAll(path);
    ModuleView const view = ReadModuleView(after);
    EXPECT_EQ(Slice(after, view.Sections[1].PointerToRawData + 0x7F, 3), patch);
    EXPECT_EQ(view.CheckSum, ReferenceImageChecksum(after));
    Bytes expected = original;
    for (std::size_t i = 0; i < 3; ++i) {
        expected[view.Sections[1].PointerToRawData + 0x7F + i] = patch[i];
    }
    Put32(expected, view.FileHeaderOffset + 84, 0);
    Put32(after, view.FileHeaderOffset + 84, 0);
    EXPECT_EQ(after, expected);  // nothing else changed
}

TEST_F(WriteBack, ReadOnlyModuleWithChangesRaisesAfterClosing) {
    Write(SmallModule().Build().Image);
    ASSERT_TRUE(editor.Open(Wide(path), true));
    editor.SetModified(true);
    EXPECT_THROW(editor.Close(true), EOpenedAsReadOnly);
    EXPECT_EQ(editor.GetLastErrorText(), Text(SOpenedAsReadOnly));
    EXPECT_THROW(editor.GetSectionCount(), ENoModuleOpened);
    EXPECT_EQ(ReadAll(path), original);
}

TEST_F(WriteBack, WriteStartedIsClearedByOpen) {
    Write(SmallModule().Build().Image);
    OpenWritable();
    TouchDirectory();
    ASSERT_TRUE(editor.Close(true));
    ExpectPefileAccepts(path);
    EXPECT_TRUE(editor.WriteStarted());
    OpenWritable();
    EXPECT_FALSE(editor.WriteStarted());
    EXPECT_TRUE(editor.Close(true));
    EXPECT_FALSE(editor.WriteStarted());
}

// A moved section whose raw data runs past the end of the file cannot be
// read back whole: the write-back fails before anything is written, rather
// than writing made-up bytes.
TEST_F(WriteBack, MovedSectionPastTheEndOfTheFileIsRefusedUntouched) {
    BuiltModule const built = SmallModule().Build();
    Bytes image = built.Image;
    Put32(image, built.SectionTableOffset + 2 * 40 + 16, 0x400);  // .rsrc claims 0x200 bytes more than the file has
    Write(image);
    OpenWritable();
    ASSERT_TRUE(editor.RemoveSection(1));
    ExpectRefusedUntouched(SInvalidPEFile);
}

TEST_F(WriteBack, UnmovedSectionPastTheEndOfTheFileIsRefusedUntouched) {
    BuiltModule const built = SmallModule().Build();
    Bytes image = built.Image;
    Put32(image, built.SectionTableOffset + 2 * 40 + 16, 0x400);
    Write(image);
    OpenWritable();
    TouchDirectory();
    ExpectRefusedUntouched(SInvalidPEFile);
}

TEST_F(WriteBack, OverlappingRawDataIsRefusedUntouched) {
    TestModuleBuilder builder;
    builder.AddSection(".a", Pattern(0x400, 1));
    SectionDefinition inside;
    inside.Name = ".b";
    inside.Data = Pattern(0x100, 2);
    inside.PointerToRawData = 0x300;  // inside .a's raw data (0x200..0x600)
    inside.SizeOfRawData = 0x100;
    builder.AddSection(inside);
    Write(builder.Build().Image);
    OpenWritable();
    TouchDirectory();
    ExpectRefusedUntouched(SInvalidPEFile);
}

// An unaligned PointerToRawData gets its region at the next FileAlignment
// multiple. The section then moves there, every pointer into it follows,
// and the trailing data behind it is kept whole.
TEST_F(WriteBack, UnalignedSectionMovesWithItsPointersAndKeepsTheTrailingData) {
    TestModuleBuilder builder;
    builder.AddSection(".text", Pattern(0x200, 1));
    SectionDefinition unaligned;
    unaligned.Name = ".unal";
    unaligned.Data = Pattern(0x1F0, 2);
    unaligned.PointerToRawData = 0x610;
    unaligned.SizeOfRawData = 0x1F0;
    builder.AddSection(unaligned).Trailing(Pattern(0x33, 3)).SymbolTable(0x800, 1);
    builder.DebugDirectory(0, 0x40, {DebugEntryDefinition{2, 0x10, 0, 0x610 + 0x20, false}});
    Write(builder.Build().Image);
    OpenWritable();
    TouchDirectory();  // no fix-up has run before the write-back
    ASSERT_TRUE(editor.Close(true)) << Utf8(editor.GetLastErrorText());
    Bytes const after = ReadAll(path);
    ModuleView const view = ReadModuleView(after);
    EXPECT_EQ(view.Sections[1].PointerToRawData, 0x800u);
    EXPECT_EQ(SectionBytes(after, view.Sections[1]), Pattern(0x1F0, 2));
    EXPECT_EQ(view.PointerToSymbolTable, 0x9F0u);
    EXPECT_EQ(Slice(after, 0x9F0, 0x33), Pattern(0x33, 3));
    EXPECT_EQ(after.size(), 0x9F0u + 0x33);
    EXPECT_EQ(Get32(after, view.Sections[0].PointerToRawData + 0x40 + 24), 0x800u + 0x20);
    ExpectPefileAccepts(path);
}

// Certificate data is written with the size it was read with, whatever a
// caller has put into directory 4 since.
TEST_F(WriteBack, CertificateIsWrittenWithTheSizeItWasReadWith) {
    TestModuleBuilder builder = SmallModule();
    SectionDefinition last;
    last.Name = ".last";
    last.Data = Pattern(0x200, 6);
    last.PointerToRawData = 0x1000;
    builder.AddSection(last).Certificate(Pattern(0x30, 7), 0xC00);
    BuiltModule const built = builder.Build();
    ASSERT_EQ(built.Sections[2].PointerToRawData + built.Sections[2].SizeOfRawData, 0xC00u);
    Write(built.Image);
    OpenWritable();
    ASSERT_EQ(editor.CertificateLength(), 0x30u);
    ASSERT_TRUE(editor.RemoveSection(1));  // .data: the certificate moves back by 0x400
    ASSERT_EQ(editor.GetDataDirectory(4), (TImageDataDirectory{0x800, 0x30}));
    ASSERT_TRUE(editor.SetDataDirectory(4, {0x800, 0x60}));
    ASSERT_TRUE(editor.Close(true)) << Utf8(editor.GetLastErrorText());
    ExpectPefileAccepts(path);
    Bytes const after = ReadAll(path);
    EXPECT_EQ(Slice(after, 0x800, 0x30), Pattern(0x30, 7));
    EXPECT_EQ(ReadModuleView(after).Directories[4], (std::pair<std::uint32_t, std::uint32_t>{0x800, 0x60}));
    EXPECT_EQ(SectionBytes(after, ReadModuleView(after).Sections[2]), Pattern(0x200, 6));
}

// Certificate data in a gap between sections keeps a region of its own even
// when a section without raw data (PointerToRawData 0) claims a range of
// offsets around it, or is the last one in the table: removing the section
// behind the gap must not cut it off.
TEST_F(WriteBack, CertificateInAGapSurvivesSectionsWithoutRawData) {
    for (bool uninitializedLast : {false, true}) {
        SCOPED_TRACE(uninitializedLast ? "uninitialized section last" : "uninitialized section in the middle");
        SectionDefinition uninitialized;
        uninitialized.Name = ".bss";
        uninitialized.PointerToRawData = 0;
        uninitialized.SizeOfRawData = uninitializedLast ? 0 : 0x1000;
        uninitialized.VirtualSize = 0x1000;
        SectionDefinition data;
        data.Name = ".data";
        data.Data = Pattern(0x200, 2);
        data.PointerToRawData = 0x600;
        TestModuleBuilder builder;
        builder.AddSection(".text", Pattern(0x200, 1));
        if (uninitializedLast) {
            builder.AddSection(data).AddSection(uninitialized);
        } else {
            builder.AddSection(uninitialized).AddSection(data);
        }
        builder.Certificate(Pattern(0x30, 3), 0x400);
        Write(builder.Build().Image);
        OpenWritable();
        ASSERT_EQ(editor.CertificateLength(), 0x30u);
        ASSERT_TRUE(editor.RemoveSection(uninitializedLast ? 1 : 2));
        ASSERT_TRUE(editor.Close(true)) << Utf8(editor.GetLastErrorText());
        Bytes const after = ReadAll(path);
        EXPECT_EQ(after.size(), 0x430u);
        EXPECT_EQ(ReadModuleView(after).Directories[4], (std::pair<std::uint32_t, std::uint32_t>{0x400, 0x30}));
        EXPECT_EQ(Slice(after, 0x400, 0x30), Pattern(0x30, 3));
    }
}

// Raw data that starts past the end of the file holds none of the file's
// bytes: what follows the other blocks is trailing data, kept when the
// section that claimed it is removed.
TEST_F(WriteBack, TrailingDataBeforeRawDataPastTheEndOfTheFileIsKept) {
    BuiltModule const built = SmallModule().Build();
    Bytes image = Slice(built.Image, 0, built.Sections[2].PointerToRawData);  // .rsrc's data cut off
    image.insert(image.end(), {0x11, 0x22, 0x33});  // three bytes of trailing data instead
    Put32(image, built.SectionTableOffset + 2 * 40 + 20, built.Sections[2].PointerToRawData + 0x200);
    Write(image);
    OpenWritable();
    ASSERT_EQ(editor.OverlayLength(), 3u);
    ASSERT_TRUE(editor.RemoveSection(2));
    ASSERT_TRUE(editor.Close(true)) << Utf8(editor.GetLastErrorText());
    Bytes const after = ReadAll(path);
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(Slice(after, after.size() - 3, 3), (Bytes{0x11, 0x22, 0x33}));
    EXPECT_EQ(after.size() % 8, image.size() % 8);  // moved by a multiple of 8, if at all
}
