// Builds PE32 and PE32+ module images for tests in a few lines: sections
// (raw data placed and sized at will, also unrounded), data directories, a
// debug directory inside a section, certificate data, trailing data, COFF
// symbol table and line number pointers, and the CheckSum. It writes with
// its own little-endian helpers, apart from the editor's record code, so
// that the two check each other; ReadModuleView reads written modules back
// the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

struct SectionDefinition {
    std::string Name;
    Bytes Data = {};                                     // padded with zeros up to SizeOfRawData
    std::optional<std::uint32_t> VirtualAddress = {};    // default: after the previous section
    std::optional<std::uint32_t> VirtualSize = {};       // default: Data.size(), at least 1
    std::optional<std::uint32_t> PointerToRawData = {};  // default: next FileAlignment multiple
    std::optional<std::uint32_t> SizeOfRawData = {};     // default: Data.size() rounded to FileAlignment
    std::uint32_t PointerToLinenumbers = 0;
    std::uint16_t NumberOfLinenumbers = 0;
};

// One debug directory entry of type 2. With InSection, PointerToRawData is
// an offset into the raw data of the section that holds the directory.
struct DebugEntryDefinition {
    std::uint32_t SizeOfData = 0;
    std::uint32_t PointerToRawData = 0;
    bool InSection = false;
};

struct BuiltSection {
    std::string Name;
    std::uint32_t VirtualAddress = 0;
    std::uint32_t VirtualSize = 0;
    std::uint32_t PointerToRawData = 0;
    std::uint32_t SizeOfRawData = 0;
};

// A module image and where its parts lie; ReadModuleView gives the header
// fields of any image.
struct ModuleView {
    Bytes Image;
    std::uint32_t FileHeaderOffset = 0;  // e_lfanew + 4
    std::uint16_t NumberOfSections = 0;
    std::uint32_t PointerToSymbolTable = 0;
    std::uint16_t SizeOfOptionalHeader = 0;
    std::uint32_t SizeOfImage = 0;
    std::uint32_t SizeOfHeaders = 0;
    std::uint32_t CheckSum = 0;
    std::uint32_t DirectoriesOffset = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> Directories;
    std::uint32_t SectionTableOffset = 0;
    std::vector<BuiltSection> Sections;

    Bytes Slice(std::size_t offset, std::size_t size) const;
    Bytes SectionBytes(std::size_t index) const;
    // PointerToRawData of the entries of the debug directory (directory 6).
    std::vector<std::uint32_t> DebugDataPointers() const;
};
ModuleView ReadModuleView(Bytes image);

class TestModuleBuilder {
public:
    explicit TestModuleBuilder(bool pe32Plus = false) : pe32Plus_(pe32Plus) {}

    TestModuleBuilder& SectionAlignment(std::uint32_t value) { return Set(sectionAlignment_, value); }
    TestModuleBuilder& DirectoryCount(std::uint32_t value) { return Set(directoryCount_, value); }
    // Room for more section headers before the first section's data.
    TestModuleBuilder& SpareHeaders(std::uint32_t count) { return Set(spareHeaders_, count); }
    // Where the section table starts after the optional header; default: after the directories.
    TestModuleBuilder& SizeOfOptionalHeader(std::uint16_t value) { return Set(sizeOfOptionalHeader_, value); }
    TestModuleBuilder& Directory(std::uint32_t index, std::uint32_t rva, std::uint32_t size) {
        directories_.push_back({index, {rva, size}});
        return *this;
    }
    TestModuleBuilder& AddSection(SectionDefinition section) {
        sections_.push_back(std::move(section));
        return *this;
    }
    TestModuleBuilder& AddSection(std::string name, Bytes data) {
        return AddSection({std::move(name), std::move(data)});
    }
    // Entries at offset of section's raw data; directory 6 gets {section VA
    // + offset, directorySize}, by default the entries' bytes.
    TestModuleBuilder& DebugDirectory(std::size_t section, std::uint32_t offset,
                                      std::vector<DebugEntryDefinition> entries,
                                      std::optional<std::uint32_t> directorySize = {});
    // Certificate data behind the sections (8-aligned) or at a given offset.
    TestModuleBuilder& Certificate(Bytes data, std::optional<std::uint32_t> offset = {}) {
        certificateOffset_ = offset;
        return Set(certificate_, std::move(data));
    }
    TestModuleBuilder& Trailing(Bytes data) { return Set(trailing_, std::move(data)); }
    TestModuleBuilder& SymbolTable(std::uint32_t pointer, std::uint32_t count) {
        symbolCount_ = count;
        return Set(symbolPointer_, pointer);
    }
    TestModuleBuilder& Checksum(bool stored) { return Set(checksum_, stored); }

    ModuleView Build() const;

    // The layout linkers give a TD32 block: a last section ".debug" whose
    // raw data is one debug directory entry naming the block, 4 zero bytes
    // and the block, raw size exactly that; directory 6 = {its VA,
    // directorySize}.
    TestModuleBuilder& Td32Section(const Bytes& block, std::uint32_t directorySize = 1);

private:
    template <class T, class V>
    TestModuleBuilder& Set(T& field, V&& value) {
        field = std::forward<V>(value);
        return *this;
    }
    std::uint32_t PlaceSections(ModuleView& out, std::uint32_t fileEnd) const;
    void WriteHeaders(ModuleView& out, std::uint32_t certificateAt) const;
    void WriteDirectories(ModuleView& out, std::uint32_t certificateAt) const;
    void WriteSectionTable(ModuleView& out) const;

    bool pe32Plus_;
    static constexpr std::uint32_t fileAlignment_ = 0x200;
    std::uint32_t sectionAlignment_ = 0x1000;
    std::uint32_t directoryCount_ = 16;
    std::uint32_t spareHeaders_ = 0;
    std::optional<std::uint16_t> sizeOfOptionalHeader_;
    std::vector<std::pair<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>>> directories_;
    std::vector<SectionDefinition> sections_;
    std::size_t debugSection_ = 0;
    std::uint32_t debugOffset_ = 0;
    std::vector<DebugEntryDefinition> debugEntries_;
    std::optional<std::uint32_t> debugSize_;
    std::optional<Bytes> certificate_;
    std::optional<std::uint32_t> certificateOffset_;
    Bytes trailing_;
    std::uint32_t symbolPointer_ = 0;
    std::uint32_t symbolCount_ = 0;
    bool checksum_ = false;
};

// Three sections (".text" 0x180 bytes, ".data" 0x300, ".rsrc" 0x200 of
// distinct patterns), FileAlignment 0x200, SectionAlignment 0x1000.
TestModuleBuilder SmallModule(bool pe32Plus = false);

std::uint16_t Get16(const Bytes& image, std::size_t offset);
std::uint32_t Get32(const Bytes& image, std::size_t offset);
void Put16(Bytes& image, std::size_t offset, std::uint16_t value);  // grows the image as needed
void Put32(Bytes& image, std::size_t offset, std::uint32_t value);
Bytes Pattern(std::size_t size, std::uint8_t seed);

// The PE image checksum, word by word as the image help library computes it
// (kept simple on purpose: the reference for the fast implementation).
std::uint32_t ReferenceImageChecksum(const Bytes& image);
void StoreReferenceChecksum(Bytes& image);

// "FB09", size - 12 pattern bytes, "FB09", the size.
Bytes MakeTd32Block(std::uint32_t size, std::uint8_t seed = 1);

}  // namespace testsupport
