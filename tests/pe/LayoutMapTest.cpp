// The layout map: how opening lays the regions out, and how a changed
// region re-lays the ones behind it.
#include <gtest/gtest.h>

#include "PeTestSupport.h"

using namespace testsupport;

namespace {

class LayoutMap : public ::testing::Test {
protected:
    void OpenSmallModule() { ASSERT_TRUE(editor.Open(Wide(dir.Write("m.exe", SmallModule().Build().Image)), true)); }
    void UseMap(std::vector<TOffsetsMapEntry> regions) {
        editor.Map() = std::move(regions);
        editor.SetLayoutChanged(false);
    }
    static TOffsetsMapEntry Region(std::uint32_t offset, std::uint32_t size, std::uint32_t alignment, std::uint8_t kind,
                                   std::string name = {}, std::int32_t id = -1) {
        return {offset, size, alignment, kind, std::move(name), id};
    }
    std::vector<std::uint32_t> Offsets() {
        std::vector<std::uint32_t> offsets;
        for (auto const& region : editor.Map()) {
            offsets.push_back(region.Offset);
        }
        return offsets;
    }

    TempDir dir;
    TestablePEFile editor;
};

}  // namespace

TEST_F(LayoutMap, WorkedExample) {
    OpenSmallModule();
    UseMap({Region(0x178, 0, 1, ekDataDirectories), Region(0x178, 0x28, 1, ekSectionTable)});
    editor.AddOffsetsMapEntry(0x200, 0x200, 0x200, ekSection, "A", 10);
    editor.AddOffsetsMapEntry(0x400, 0x200, 0x200, ekSection, "B", 11);
    editor.AddOffsetsMapEntry(0x600, 0x400, 0x200, ekSection, "C", 12);
    editor.AddOffsetsMapEntry(0xA05, 0x24, 1, ekOverlay, {});
    ASSERT_EQ(Offsets(), (std::vector<std::uint32_t>{0x178, 0x178, 0x200, 0x400, 0x600, 0xA05}));
    EXPECT_FALSE(editor.IsLayoutChanged());

    editor.DeleteOffsetsMapEntry(3, true);
    EXPECT_EQ(Offsets(), (std::vector<std::uint32_t>{0x178, 0x178, 0x200, 0x400, 0x805}));
    EXPECT_EQ(editor.Map()[3].Name, "C");
    EXPECT_TRUE(editor.IsLayoutChanged());
    EXPECT_EQ(editor.GetLayoutEnd(), 0x829u);
}

TEST_F(LayoutMap, OpeningLaysOutEveryKindOfSection) {
    TestModuleBuilder builder;
    builder.AddSection(".a", Pattern(0x200, 1));
    SectionDefinition noPointer;
    noPointer.Name = ".nop";
    noPointer.PointerToRawData = 0;
    noPointer.SizeOfRawData = 0x200;
    builder.AddSection(noPointer).AddSection(".empty", {});
    SectionDefinition unaligned;
    unaligned.Name = ".unal";
    unaligned.Data = Pattern(0x1F0, 2);
    unaligned.PointerToRawData = 0x610;
    unaligned.SizeOfRawData = 0x1F0;
    builder.AddSection(unaligned).Trailing(Pattern(0x33, 3));
    BuiltModule const built = builder.Build();
    ASSERT_EQ(built.TrailingOffset, 0x800u);
    ASSERT_TRUE(editor.Open(Wide(dir.Write("m.exe", built.Image)), true));

    auto const& map = editor.Map();
    ASSERT_EQ(map.size(), 5u);
    EXPECT_EQ(map[0].Kind, ekDataDirectories);
    EXPECT_EQ(map[0].Offset, built.DirectoriesOffset);
    EXPECT_EQ(map[0].Size, 128u);
    EXPECT_EQ(map[1].Kind, ekSectionTable);
    EXPECT_EQ(map[1].Offset, built.SectionTableOffset);
    EXPECT_EQ(map[1].Size, 4u * 40);
    EXPECT_EQ(map[2].Name, ".a");
    EXPECT_EQ(map[2].Offset, 0x400u);
    EXPECT_EQ(map[2].Alignment, 0x200u);
    // An unaligned PointerToRawData gets its region at the next multiple.
    EXPECT_EQ(map[3].Name, ".unal");
    EXPECT_EQ(map[3].Offset, 0x800u);
    // The trailing data starts where the file's data ends (0x800), not at
    // the aligned region's end; it keeps its offset modulo 8 behind it.
    EXPECT_EQ(map[4].Kind, ekOverlay);
    EXPECT_EQ(editor.OverlayStart(), 0x800u);
    EXPECT_EQ(editor.OverlayLength(), 0x33u);
    EXPECT_EQ(map[4].Offset, 0x9F0u);
    EXPECT_EQ(map[4].Offset % 8, 0x800u % 8);
    // The headers no longer agree with the map: the next fix-up must rebase.
    EXPECT_TRUE(editor.IsLayoutChanged());
}

TEST_F(LayoutMap, NoTrailingRegionWhenTheLastSectionEndsTheFile) {
    OpenSmallModule();
    EXPECT_EQ(editor.Map().size(), 5u);
    EXPECT_EQ(editor.Map().back().Name, ".rsrc");
    EXPECT_EQ(editor.GetLayoutEnd(), editor.GetModuleSize());
    EXPECT_FALSE(editor.IsLayoutChanged());
    EXPECT_EQ(editor.OverlayLength(), 0u);
}

TEST_F(LayoutMap, GrowingTheDirectoriesMovesOnlyWhatTheyReach) {
    ASSERT_TRUE(editor.Open(Wide(dir.Write("m.exe", SmallModule().DirectoryCount(10).Build().Image)), true));
    auto const before = Offsets();
    editor.ResizeOffsetsMapEntry(0, 128, false);
    auto after = Offsets();
    EXPECT_EQ(after[1], before[1] + 48);
    after[1] = before[1];
    EXPECT_EQ(after, before);
    EXPECT_FALSE(editor.IsLayoutChanged());

    // 17 section headers end the table at 0x3F0: 48 more bytes reach into
    // the first section, which moves to the next FileAlignment multiple and
    // pushes the ones behind it.
    TestModuleBuilder crowded;
    crowded.DirectoryCount(10);
    for (int i = 0; i < 17; ++i) {
        crowded.AddSection(".s" + std::to_string(i), Pattern(0x200, static_cast<std::uint8_t>(i)));
    }
    TestablePEFile full;
    ASSERT_TRUE(full.Open(Wide(dir.Write("crowded.exe", crowded.Build().Image)), true));
    ASSERT_EQ(full.Map()[2].Offset, 0x400u);
    full.ResizeOffsetsMapEntry(0, 128, false);
    EXPECT_EQ(full.Map()[1].Offset + full.Map()[1].Size, 0x420u);
    EXPECT_EQ(full.Map()[2].Offset, 0x600u);
    EXPECT_EQ(full.Map()[3].Offset, 0x800u);
    EXPECT_EQ(full.Map()[18].Offset, 0x2600u);
    EXPECT_TRUE(full.IsLayoutChanged());
}

TEST_F(LayoutMap, ShrinkingWithoutCompactionLeavesTheRest) {
    OpenSmallModule();
    auto const before = Offsets();
    editor.ResizeOffsetsMapEntry(1, 80, false);
    EXPECT_EQ(Offsets(), before);
    EXPECT_EQ(editor.Map()[1].Size, 80u);
    EXPECT_FALSE(editor.IsLayoutChanged());
}

TEST_F(LayoutMap, TrailingDataMovesByMultiplesOfEight) {
    OpenSmallModule();
    UseMap({Region(0x178, 0x80, 1, ekDataDirectories), Region(0x1F8, 0x28, 1, ekSectionTable),
            Region(0x400, 0x200, 0x200, ekSection, "X", 0), Region(0x603, 0x10, 1, ekOverlay)});
    editor.ResizeOffsetsMapEntry(2, 0x205, false);
    EXPECT_EQ(editor.Map()[3].Offset, 0x60Bu);  // pushed forward by 8 although 2 bytes would do
    editor.ResizeOffsetsMapEntry(2, 0x100, true);
    EXPECT_EQ(editor.Map()[3].Offset, 0x503u);  // back by 0x108, staying at 3 modulo 8
    EXPECT_TRUE(editor.IsLayoutChanged());
}

TEST_F(LayoutMap, TheWalkStopsAtARegionThatNeedsNoMove) {
    OpenSmallModule();
    UseMap({Region(0x178, 0x80, 1, ekDataDirectories), Region(0x1F8, 0x28, 1, ekSectionTable),
            Region(0x400, 0x200, 0x200, ekSection, "X", 0), Region(0x500, 0x200, 0x200, ekSection, "Y", 1)});
    editor.MoveOffsetsMapEntries(2, 0x400, true);
    EXPECT_EQ(Offsets(), (std::vector<std::uint32_t>{0x178, 0x1F8, 0x400, 0x500}));
    editor.MoveOffsetsMapEntries(2, 0x300, false);  // already beyond the minimum, no compaction
    EXPECT_EQ(Offsets(), (std::vector<std::uint32_t>{0x178, 0x1F8, 0x400, 0x500}));
    EXPECT_FALSE(editor.IsLayoutChanged());
}

TEST_F(LayoutMap, InsertionKeepsEmptyRegionsInFrontAndPushesOverlaps) {
    OpenSmallModule();
    UseMap({Region(0x178, 0x80, 1, ekDataDirectories), Region(0x1F8, 0x28, 1, ekSectionTable),
            Region(0x400, 0, 0x200, ekSection, "E", 0), Region(0x400, 0x200, 0x200, ekSection, "F", 1)});
    editor.AddOffsetsMapEntry(0x3F0, 0x20, 0x200, ekSection, "N", 2);  // aligned to 0x400, overlaps F
    auto const& map = editor.Map();
    ASSERT_EQ(map.size(), 5u);
    EXPECT_EQ(map[2].Name, "E");
    EXPECT_EQ(map[3].Name, "N");
    EXPECT_EQ(map[3].Offset, 0x400u);
    EXPECT_EQ(map[4].Name, "F");
    EXPECT_EQ(map[4].Offset, 0x600u);
    EXPECT_TRUE(editor.IsLayoutChanged());
}
