// Shared pieces of the editor tests: a subclass that opens the editor's
// internals to the tests, a small independent reader of written modules,
// and the pefile check.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "RunCommand.h"
#include "TestFiles.h"
#include "TestModuleBuilder.h"
#include "kvPEFileUtils.h"
#include "uMsg_kvPEFileUtils.h"

class TestablePEFile : public TkvPEFileUtils {
public:
    using TkvPEFileUtils::AddOffsetsMapEntry;
    using TkvPEFileUtils::DeleteOffsetsMapEntry;
    using TkvPEFileUtils::LoadSectionData;
    using TkvPEFileUtils::MoveOffsetsMapEntries;
    using TkvPEFileUtils::ResizeOffsetsMapEntry;
    using TkvPEFileUtils::UpdateFileOffsets;

    std::vector<TOffsetsMapEntry>& Map() { return OffsetsMap; }
    bool IsLayoutChanged() const { return LayoutChanged; }
    void SetLayoutChanged(bool value) { LayoutChanged = value; }
    bool IsModified() const { return Modified; }
    void SetModified(bool value) { Modified = value; }
    const TImageFileHeader& Header() const { return FileHeader; }
    std::uint32_t OverlayStart() const { return OverlayOffset; }
    std::uint32_t OverlayTarget() const { return OverlayNewOffset; }
    std::uint32_t OverlayLength() const { return OverlaySize; }
    std::uint32_t CertificateLength() const { return CertificateSize; }
};

// The header fields of a module image as written, read with the test
// support's own helpers.
struct ModuleView {
    std::uint32_t FileHeaderOffset = 0;
    std::uint16_t NumberOfSections = 0;
    std::uint32_t PointerToSymbolTable = 0;
    std::uint16_t SizeOfOptionalHeader = 0;
    std::uint16_t Magic = 0;
    std::uint32_t SizeOfImage = 0;
    std::uint32_t SizeOfHeaders = 0;
    std::uint32_t CheckSum = 0;
    std::uint32_t NumberOfRvaAndSizes = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> Directories;
    std::vector<testsupport::BuiltSection> Sections;
    std::uint32_t SectionTableOffset = 0;
};
ModuleView ReadModuleView(const testsupport::Bytes& image);

// The raw bytes of a section as a view names them.
testsupport::Bytes SectionBytes(const testsupport::Bytes& image, const testsupport::BuiltSection& section);
testsupport::Bytes Slice(const testsupport::Bytes& image, std::size_t offset, std::size_t size);
testsupport::Bytes Pattern(std::size_t size, std::uint8_t seed);

// The pefile check of a written module (native build; the Windows build
// has no Debian python).
void ExpectPefileAccepts(const std::filesystem::path& module);

std::u16string Text(std::u16string_view text);

// Three sections (".text" 0x180 bytes, ".data" 0x300, ".rsrc" 0x200 of
// distinct patterns), FileAlignment 0x200, SectionAlignment 0x1000, 16
// data directories.
testsupport::TestModuleBuilder SmallModule(bool pe32Plus = false);
