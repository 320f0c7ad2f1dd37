// Damaged modules: random bytes of the headers and the section table are
// changed, and the editor is driven through a whole edit. Whatever it
// decides, it must stay inside its buffers (the native build runs under
// AddressSanitizer and UBSan), end, and keep its promise about the file: a
// refused write-back leaves it untouched.
#include <gtest/gtest.h>

#include <random>

#include "PeTestSupport.h"

using namespace testsupport;

namespace {

Bytes DamagedModule(const Bytes& base, std::uint32_t headerBytes, std::mt19937& random) {
    Bytes image = base;
    int const changes = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < changes; ++i) {
        std::size_t const at = random() % headerBytes;
        switch (random() % 3) {
            case 0:
                image[at] = static_cast<std::uint8_t>(random());
                break;
            case 1:
                image[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
                break;
            default:
                if (at + 4 <= image.size()) {
                    Put32(image, at, random() % 2 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(random()));
                }
        }
    }
    return image;
}

void Edit(TkvPEFileUtils& editor, std::mt19937& random) {
    std::int32_t const entries = editor.GetDebugDirectoryCount();
    for (std::int32_t i = 0; i < std::min(entries, 4); ++i) {
        TImageDebugDirectory entry;
        editor.ReadDebugDirectoryEntry(i, entry);
    }
    std::uint8_t byte = 0;
    std::int32_t const sections = editor.GetSectionCount();
    editor.ReadSectionData(static_cast<std::int32_t>(random() % sections), 0, &byte, 0);
    if (random() % 2) {
        editor.SetDataDirectory(static_cast<std::int32_t>(random() % 16), {static_cast<std::uint32_t>(random()), 8});
    }
    editor.RemoveSection(static_cast<std::int32_t>(random() % sections));
}

}  // namespace

TEST(MutatedModules, EditsStayInBoundsAndRefusalsLeaveTheFileAlone) {
    TempDir dir;
    std::mt19937 random(20240607);
    TestModuleBuilder builder = SmallModule();
    builder.AddSection(".last", Pattern(0x300, 8)).Trailing(Pattern(0x41, 9)).SymbolTable(0xE00, 2);
    builder.DebugDirectory(1, 0x20, {DebugEntryDefinition{2, 0x10, 0, 0x100, true}, DebugEntryDefinition{2, 8, 0, 0x10, true}});
    BuiltModule const base = builder.Build();
    std::uint32_t const headerBytes = base.SectionTableOffset + 4 * 40;
    int opened = 0, written = 0, refused = 0;
    for (int round = 0; round < 400; ++round) {
        Bytes const image = DamagedModule(base.Image, headerBytes, random);
        auto const path = dir.Write("damaged.exe", image);
        TkvPEFileUtils editor;
        if (!editor.Open(Wide(path), false)) {
            EXPECT_FALSE(editor.GetLastErrorText().empty()) << round;
            EXPECT_EQ(ReadAll(path), image) << round;
            continue;
        }
        ++opened;
        Edit(editor, random);
        if (editor.Close(true)) {
            ++written;
            // What was written is a module the editor reads again.
            TkvPEFileUtils reader;
            bool const reopened = reader.Open(Wide(path), true);
            std::u16string const reason = reader.GetLastErrorText();
            EXPECT_TRUE(reopened) << round << ": " << std::string(reason.begin(), reason.end());
        } else {
            ++refused;
            EXPECT_FALSE(editor.GetLastErrorText().empty()) << round;
            if (!editor.WriteStarted()) {
                EXPECT_EQ(ReadAll(path), image) << round;
            }
        }
    }
    // The damage must leave enough modules open and writable for the test
    // to mean something.
    EXPECT_GT(opened, 100);
    EXPECT_GT(written, 50);
    EXPECT_GT(refused, 0);
}
