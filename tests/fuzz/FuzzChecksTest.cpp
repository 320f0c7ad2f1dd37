// The fuzz properties on the seeds and on the reproducers of earlier
// findings, in every build (under Wine for the Windows builds).
#include <gtest/gtest.h>

#include <algorithm>

#include "FuzzChecks.h"
#include "TestFiles.h"
#include "TestModuleBuilder.h"
#include "kvPEFileUtils.h"

using namespace testsupport;

TEST(FuzzChecks, SeedsKeepEveryProperty) {
    auto const modules = fuzzcheck::ModuleSeeds();
    ASSERT_GE(modules.size(), 25u);
    for (auto const& [name, bytes] : modules) {
        EXPECT_EQ(fuzzcheck::CheckEditor(bytes), "") << name;
        EXPECT_EQ(fuzzcheck::CheckExtraction(bytes), "") << name;
    }
    for (auto const& [name, bytes] : fuzzcheck::AttachmentSeeds()) {
        EXPECT_EQ(fuzzcheck::CheckAttachment(bytes), "") << name;
    }
    for (auto const& [name, bytes] : fuzzcheck::TextSeeds()) {
        EXPECT_EQ(fuzzcheck::CheckCliText(bytes), "") << name;
    }
    for (auto const& [name, bytes] : fuzzcheck::Td32Seeds()) {
        EXPECT_EQ(fuzzcheck::CheckTd32Reader(bytes), "") << name;
    }
}

// Each row failed before its fix: removing the section lost the bytes that
// must survive. A section with PointerToRawData 0 used to claim the
// certificate data in the gap beside it, which then travelled with nothing;
// raw data starting past the end of the file used to count as reaching it,
// so the trailing data after the other sections was taken for its data.
TEST(FuzzChecks, FindingsStayFixed) {
    SectionDefinition uninitialized{".bss"};
    uninitialized.PointerToRawData = 0;
    uninitialized.SizeOfRawData = 0x1000;
    SectionDefinition data{".data", Pattern(0x200, 2)};
    data.PointerToRawData = 0x600;
    ModuleView const pastTheEnd = TestModuleBuilder()
                                      .AddSection(".text", Pattern(0x200, 1))
                                      .AddSection(".data", Pattern(0x200, 2))
                                      .Trailing(Bytes(0x21, 0xEE))
                                      .Build();
    struct Finding {
        Bytes Image;
        std::int32_t Removed;
        Bytes Survivor;
    } const findings[] = {
        {TestModuleBuilder()
             .AddSection(".text", Pattern(0x200, 1))
             .AddSection(uninitialized)
             .AddSection(data)
             .Certificate(Bytes(0x30, 0xCE), 0x400)
             .Build()
             .Image,
         2, Bytes(0x30, 0xCE)},
        {[&] {
             Bytes image = pastTheEnd.Image;
             Put32(image, pastTheEnd.SectionTableOffset + 20, 0xF0200);
             return image;
         }(),
         0, Bytes(0x21, 0xEE)},
    };
    TempDir dir;
    for (auto const& [image, removed, survivor] : findings) {
        EXPECT_EQ(fuzzcheck::CheckEditor(image), "");
        auto const path = dir.Write("m.exe", image);
        TkvPEFileUtils editor;
        ASSERT_TRUE(editor.Open(Wide(path), false));
        ASSERT_TRUE(editor.RemoveSection(removed));
        ASSERT_TRUE(editor.Close(true));
        Bytes const after = ReadAll(path);
        EXPECT_NE(std::search(after.begin(), after.end(), survivor.begin(), survivor.end()), after.end());
    }
}
