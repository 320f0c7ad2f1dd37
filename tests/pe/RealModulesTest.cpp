// Real modules built by mingw-w64: a TD32 block appended the way RAD-tool
// linkers lay it out is stripped again, and a middle section is removed;
// the results must read cleanly in pefile and still run under Wine.
#include <gtest/gtest.h>

#include "PeTestSupport.h"

using namespace testsupport;

namespace {

std::string Utf8(const std::u16string& text) { return std::string(text.begin(), text.end()); }

bool Is64Bit(const std::string& name) { return name.find("64") != std::string::npos; }

// What the program does: its output and exit code, or the DLL's answer
// through the loader program.
CommandResult Behaviour(const std::filesystem::path& module, bool dll) {
    if (dll) {
        return RunWindowsProgram(TestModulesDir() / "loaddll64.exe", Quote(module.string()));
    }
    return RunWindowsProgram(module, "one two");
}

void ExpectSameBehaviour(const std::filesystem::path& original, const std::filesystem::path& changed, bool dll) {
    ASSERT_TRUE(WindowsProgramsRunnable());
    CommandResult const expected = Behaviour(original, dll);
    ASSERT_EQ(expected.ExitCode, dll ? 0 : 7) << expected.Output;
    CommandResult const actual = Behaviour(changed, dll);
    EXPECT_EQ(actual.ExitCode, expected.ExitCode) << actual.Output;
    EXPECT_EQ(actual.Output, expected.Output);
}

// The largest discardable section before the last one: DWARF data of the C
// runtime, which the program never reads.
std::int32_t LargestDiscardableInTheMiddle(TkvPEFileUtils& editor) {
    constexpr std::uint32_t kDiscardable = 0x02000000;
    std::int32_t best = -1;
    for (std::int32_t i = 1; i + 1 < editor.GetSectionCount(); ++i) {
        auto const header = editor.GetSectionHeader(i);
        if ((header.Characteristics & kDiscardable) != 0 &&
            (best < 0 || header.SizeOfRawData > editor.GetSectionHeader(best).SizeOfRawData)) {
            best = i;
        }
    }
    return best;
}

}  // namespace

TEST(RealModules, Td32BlockIsStrippedBackToTheOriginalModule) {
    for (std::string const name : {"hello32.exe", "hello64.exe", "hellodll32.dll", "hellodll64.dll"}) {
        for (bool withChecksum : {true, false}) {
            SCOPED_TRACE(name + (withChecksum ? " with checksum" : " without checksum"));
            TempDir dir;
            Bytes const original = ReadAll(TestModulesDir() / name);
            Bytes image = original;
            AppendTd32DebugSection(image, MakeTd32Block(0x2345, 5), withChecksum ? 28 : 1);
            if (withChecksum) {
                StoreReferenceChecksum(image);
            }
            auto const path = dir.Write(name, image);
            ExpectPefileAccepts(path);

            TkvPEFileUtils editor;
            ASSERT_TRUE(editor.Open(Wide(path), false)) << Utf8(editor.GetLastErrorText());
            ASSERT_EQ(editor.GetDebugDirectoryCount(), 1);
            std::int32_t const last = editor.GetSectionCount() - 1;
            ASSERT_EQ(editor.GetSectionName(last), ".debug");
            EXPECT_TRUE(editor.SetDataDirectory(6, {0, 0}));
            EXPECT_TRUE(editor.RemoveSection(last));
            ASSERT_TRUE(editor.Close(true)) << Utf8(editor.GetLastErrorText());

            Bytes after = ReadAll(path);
            ModuleView const view = ReadModuleView(after);
            ASSERT_EQ(after.size(), original.size());
            EXPECT_EQ(view.CheckSum, withChecksum ? ReferenceImageChecksum(after) : 0u);
            // Byte for byte the original, but for the CheckSum and the freed
            // section header slot, which keeps the ".debug" header.
            Bytes expected = original;
            std::size_t const slot = view.SectionTableOffset + view.NumberOfSections * 40u;
            for (std::size_t i = slot; i < slot + 40; ++i) {
                expected[i] = image[i];
            }
            Put32(expected, view.FileHeaderOffset + 84, view.CheckSum);
            EXPECT_EQ(after, expected);
            ExpectPefileAccepts(path);
            if (Is64Bit(name)) {
                ExpectSameBehaviour(TestModulesDir() / name, path, name.ends_with(".dll"));
            }
        }
    }
}

TEST(RealModules, MiddleSectionRemovalKeepsTheProgramRunning) {
    for (std::string const name : {"hello64-symbols.exe", "hello32-symbols.exe"}) {
        SCOPED_TRACE(name);
        TempDir dir;
        Bytes const original = ReadAll(TestModulesDir() / name);
        auto const path = dir.Write(name, original);
        ModuleView const before = ReadModuleView(original);
        ASSERT_NE(before.PointerToSymbolTable, 0u);

        TkvPEFileUtils editor;
        ASSERT_TRUE(editor.Open(Wide(path), false));
        std::int32_t const index = LargestDiscardableInTheMiddle(editor);
        ASSERT_GT(index, 0);
        ASSERT_LT(index, editor.GetSectionCount() - 1);
        std::uint32_t const removed = editor.GetSectionHeader(index).SizeOfRawData;
        ASSERT_TRUE(editor.RemoveSection(index)) << Utf8(editor.GetLastErrorText());
        ASSERT_TRUE(editor.Close(true)) << Utf8(editor.GetLastErrorText());

        Bytes const after = ReadAll(path);
        ModuleView const view = ReadModuleView(after);
        EXPECT_EQ(view.NumberOfSections, before.NumberOfSections - 1);
        EXPECT_EQ(after.size(), original.size() - removed);
        EXPECT_EQ(view.PointerToSymbolTable, before.PointerToSymbolTable - removed);
        // The symbol table and its string table moved whole.
        EXPECT_EQ(Slice(after, view.PointerToSymbolTable, after.size() - view.PointerToSymbolTable),
                  Slice(original, before.PointerToSymbolTable, original.size() - before.PointerToSymbolTable));
        for (std::size_t i = 0; i < view.Sections.size(); ++i) {
            std::size_t const source = i < static_cast<std::size_t>(index) ? i : i + 1;
            EXPECT_EQ(view.Sections[i].Name, before.Sections[source].Name);
            EXPECT_EQ(SectionBytes(after, view.Sections[i]), SectionBytes(original, before.Sections[source]));
        }
        EXPECT_EQ(view.CheckSum, ReferenceImageChecksum(after));
        ExpectPefileAccepts(path);
        if (Is64Bit(name)) {
            ExpectSameBehaviour(TestModulesDir() / name, path, false);
        }
    }
}
