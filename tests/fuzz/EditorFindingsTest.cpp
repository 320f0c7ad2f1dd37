// Reproducers of the editor faults that fuzzing found, built with the test
// module builder. Each failed before its fix.
#include <gtest/gtest.h>

#include <algorithm>

#include "EditorCheck.h"
#include "TestFiles.h"
#include "TestModuleBuilder.h"
#include "kvPEFileUtils.h"

namespace {

using testsupport::Bytes;

Bytes Filled(std::size_t size, std::uint8_t value) { return Bytes(size, value); }

// A section whose PointerToRawData is 0 has no raw data in the file, however
// large its SizeOfRawData. Certificate data in a gap between sections lay
// "inside" such a section's range [0, SizeOfRawData), so it got no region of
// its own, travelled with nothing, and the next write-back cut it off.
Bytes CertificateBesideEmptySection() {
    testsupport::SectionDefinition uninitialized;
    uninitialized.Name = ".bss";
    uninitialized.PointerToRawData = 0;
    uninitialized.SizeOfRawData = 0x1000;
    uninitialized.VirtualSize = 0x1000;
    testsupport::SectionDefinition data;
    data.Name = ".data";
    data.Data = Filled(0x200, 0xDD);
    data.PointerToRawData = 0x600;
    testsupport::TestModuleBuilder builder;
    builder.AddSection(".text", Filled(0x200, 0x77))
        .AddSection(std::move(uninitialized))
        .AddSection(std::move(data))
        .Certificate(Filled(0x30, 0xCE), 0x400);
    return builder.Build().Image;
}

TEST(EditorFindings, CertificateInAGapSurvivesTheRemovalOfTheLastSection) {
    Bytes const image = CertificateBesideEmptySection();
    testsupport::TempDir dir;
    auto const path = dir.Write("module.exe", image);
    {
        TkvPEFileUtils editor;
        ASSERT_TRUE(editor.Open(testsupport::Wide(path), false));
        ASSERT_EQ(editor.GetSectionCount(), 3);
        editor.RemoveSection(2);
        ASSERT_TRUE(editor.Close(true));
    }
    Bytes const after = testsupport::ReadAll(path);
    TkvPEFileUtils reader;
    ASSERT_TRUE(reader.Open(testsupport::Wide(path), true));
    auto const certificate = reader.GetDataDirectory(4);
    ASSERT_EQ(certificate.Size, 0x30u);
    ASSERT_LE(std::uint64_t{certificate.RVA} + certificate.Size, after.size());
    EXPECT_TRUE(std::all_of(after.begin() + certificate.RVA, after.begin() + certificate.RVA + certificate.Size,
                            [](std::uint8_t b) { return b == 0xCE; }));
    EXPECT_EQ(fuzzcheck::CheckEditor(image), "");
}

// A section whose raw data starts past the end of the file holds none of
// its bytes. It used to count as reaching the end of the file, so the bytes
// after the other sections were no trailing data, and removing that section
// cut them off.
TEST(EditorFindings, TrailingDataSurvivesTheRemovalOfASectionBeyondTheEndOfTheFile) {
    testsupport::TestModuleBuilder builder;
    builder.AddSection(".text", Filled(0x200, 0x77)).AddSection(".data", Filled(0x200, 0xDD)).Trailing(Filled(0x21, 0xEE));
    auto const built = builder.Build();
    Bytes image = built.Image;
    testsupport::Put32(image, built.SectionTableOffset + 20, 0xF0200);  // .text's PointerToRawData
    testsupport::TempDir dir;
    auto const path = dir.Write("module.exe", image);
    {
        TkvPEFileUtils editor;
        ASSERT_TRUE(editor.Open(testsupport::Wide(path), false));
        editor.RemoveSection(0);
        ASSERT_TRUE(editor.Close(true));
    }
    Bytes const after = testsupport::ReadAll(path);
    ASSERT_GE(after.size(), 0x221u);
    EXPECT_TRUE(std::all_of(after.end() - 0x21, after.end(), [](std::uint8_t b) { return b == 0xEE; }));
    EXPECT_TRUE(std::all_of(after.end() - 0x221, after.end() - 0x21, [](std::uint8_t b) { return b == 0xDD; }));
    EXPECT_EQ(fuzzcheck::CheckEditor(image), "");
}

}  // namespace
