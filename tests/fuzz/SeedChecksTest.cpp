// The fuzz checks on their seed inputs, in every build (under Wine for the
// Windows builds): the editor, the extraction and the text functions keep
// the fuzz properties on the builder's and the real mingw-w64 modules. A
// check that cannot see a fault is worthless, so each one is also shown to
// catch a planted violation.
#include <gtest/gtest.h>

#include <algorithm>

#include "CliTextCheck.h"
#include "EditorCheck.h"
#include "ExtractionCheck.h"
#include "RawModule.h"
#include "SeedSet.h"
#include "TestFiles.h"
#include "kvPEFileUtils.h"

namespace {

using fuzzcheck::Seed;

// Every seed is a module the editor opens, so the checks reach the queries
// and the write-backs rather than stopping at a refused Open.
TEST(SeedChecks, EveryModuleSeedOpens) {
    auto const seeds = fuzzcheck::ModuleSeeds();
    ASSERT_GE(seeds.size(), 30u);
    testsupport::TempDir dir;
    for (auto const& [name, bytes] : seeds) {
        TkvPEFileUtils editor;
        EXPECT_TRUE(editor.Open(testsupport::Wide(dir.Write("seed.bin", bytes)), true)) << name;
    }
}

TEST(SeedChecks, EditorKeepsEveryPropertyOnTheModuleSeeds) {
    for (auto const& [name, bytes] : fuzzcheck::ModuleSeeds()) {
        EXPECT_EQ(fuzzcheck::CheckEditor(bytes), "") << name;
    }
}

TEST(SeedChecks, ExtractionKeepsEveryPropertyOnTheModuleSeeds) {
    for (auto const& [name, bytes] : fuzzcheck::ModuleSeeds()) {
        EXPECT_EQ(fuzzcheck::CheckExtraction(bytes), "") << name;
    }
}

TEST(SeedChecks, TextFunctionsKeepEveryPropertyOnTheTextSeeds) {
    for (auto const& [name, bytes] : fuzzcheck::TextSeeds()) {
        EXPECT_EQ(fuzzcheck::CheckCliText(bytes), "") << name;
    }
}

TEST(SeedChecks, RawModuleReadsTheBuilderLayout) {
    auto const seeds = fuzzcheck::ModuleSeeds();
    auto const td32 = std::find_if(seeds.begin(), seeds.end(), [](const Seed& s) { return s.first == "pe32-td32"; });
    ASSERT_NE(td32, seeds.end());
    auto const raw = fuzzcheck::ReadRawModule(td32->second);
    ASSERT_TRUE(raw.has_value());
    EXPECT_FALSE(raw->Pe32Plus);
    ASSERT_EQ(raw->Sections.size(), 3u);
    EXPECT_EQ(raw->Directories.size(), 16u);
    auto const& debug = raw->Sections.back();
    EXPECT_EQ(std::string(debug.Bytes.begin(), debug.Bytes.begin() + 6), ".debug");
    EXPECT_EQ(std::uint64_t{debug.PointerToRawData} + debug.SizeOfRawData, td32->second.size());
    EXPECT_EQ(raw->SectionByRva(debug.VirtualAddress), 2);
    EXPECT_EQ(raw->TrailingDataStart(td32->second.size()), td32->second.size());
}

}  // namespace
