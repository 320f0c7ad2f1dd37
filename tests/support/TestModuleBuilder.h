// Builds PE32 and PE32+ module images for tests in a few lines: headers,
// sections (raw data placed and sized at will, also unrounded), data
// directories, a debug directory inside a section, certificate data,
// trailing data, COFF symbol table and line number pointers, and the
// CheckSum. The image is written with its own little-endian helpers, apart
// from the editor's record code, so that the two check each other.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

struct SectionDefinition {
    std::string Name;
    Bytes Data;  // the raw bytes; padded with zeros up to SizeOfRawData
    std::optional<std::uint32_t> VirtualAddress;    // default: after the previous section
    std::optional<std::uint32_t> VirtualSize;       // default: Data.size(), at least 1
    std::optional<std::uint32_t> PointerToRawData;  // default: next FileAlignment multiple; 0 allowed
    std::optional<std::uint32_t> SizeOfRawData;     // default: Data.size() rounded to FileAlignment
    std::uint32_t PointerToLinenumbers = 0;
    std::uint16_t NumberOfLinenumbers = 0;
    std::uint32_t Characteristics = 0x40000040;  // initialized data, readable
};

// One IMAGE_DEBUG_DIRECTORY entry. With PointerInSection set,
// PointerToRawData is an offset into the raw data of the section that holds
// the directory, resolved to a file offset when built.
struct DebugEntryDefinition {
    std::uint32_t Type = 2;
    std::uint32_t SizeOfData = 0;
    std::uint32_t AddressOfRawData = 0;
    std::uint32_t PointerToRawData = 0;
    bool PointerInSection = false;
};

struct BuiltSection {
    std::string Name;
    std::uint32_t VirtualAddress = 0;
    std::uint32_t VirtualSize = 0;
    std::uint32_t PointerToRawData = 0;
    std::uint32_t SizeOfRawData = 0;
};

struct BuiltModule {
    Bytes Image;
    std::uint32_t FileHeaderOffset = 0;      // e_lfanew + 4
    std::uint32_t DirectoriesOffset = 0;     // after the fixed part of the optional header
    std::uint32_t SectionTableOffset = 0;
    std::uint32_t ChecksumOffset = 0;        // e_lfanew + 88
    std::vector<BuiltSection> Sections;
    std::uint32_t CertificateOffset = 0;     // 0: none
    std::uint32_t TrailingOffset = 0;        // 0: none
};

enum class ChecksumMode { Zero, Computed, Explicit };

class TestModuleBuilder {
public:
    explicit TestModuleBuilder(bool pe32Plus = false);

    TestModuleBuilder& FileAlignment(std::uint32_t value);
    TestModuleBuilder& SectionAlignment(std::uint32_t value);
    TestModuleBuilder& NtHeaderOffset(std::uint32_t eLfanew);
    TestModuleBuilder& DirectoryCount(std::uint32_t numberOfRvaAndSizes);
    TestModuleBuilder& SizeOfOptionalHeader(std::uint16_t value);  // default: the true size
    TestModuleBuilder& Directory(std::uint32_t index, std::uint32_t rva, std::uint32_t size);
    TestModuleBuilder& AddSection(SectionDefinition section);
    TestModuleBuilder& AddSection(std::string name, Bytes data);
    // Entries at offsetInSection of section's raw data; directory 6 gets
    // {section VA + offset, directorySize}, by default the entries' bytes.
    // One debug directory per module: a later call replaces an earlier one.
    TestModuleBuilder& DebugDirectory(std::size_t section, std::uint32_t offsetInSection,
                                      std::vector<DebugEntryDefinition> entries,
                                      std::optional<std::uint32_t> directorySize = {});
    // Certificate data behind the sections (8-aligned) or at a given offset;
    // directory 4 names it.
    TestModuleBuilder& Certificate(Bytes data, std::optional<std::uint32_t> offset = {});
    TestModuleBuilder& Trailing(Bytes data);
    TestModuleBuilder& SymbolTable(std::uint32_t pointer, std::uint32_t count);
    TestModuleBuilder& EntryPoint(std::uint32_t rva);  // default: the first section's VA
    TestModuleBuilder& Checksum(ChecksumMode mode, std::uint32_t explicitValue = 0);

    BuiltModule Build() const;

private:
    void PlaceSections(BuiltModule& out, std::uint32_t& fileEnd) const;
    void WriteHeaders(BuiltModule& out) const;
    void WriteDirectories(BuiltModule& out) const;
    void WriteSectionTable(BuiltModule& out) const;

    bool pe32Plus_;
    std::uint32_t fileAlignment_ = 0x200;
    std::uint32_t sectionAlignment_ = 0x1000;
    std::uint32_t eLfanew_ = 0x80;
    std::uint32_t directoryCount_ = 16;
    std::optional<std::uint16_t> sizeOfOptionalHeader_;
    std::vector<std::pair<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>>> directories_;
    std::vector<SectionDefinition> sections_;
    struct DebugDirectoryDefinition {
        std::size_t Section;
        std::uint32_t Offset;
        std::vector<DebugEntryDefinition> Entries;
        std::optional<std::uint32_t> DirectorySize;
    };
    std::optional<DebugDirectoryDefinition> debug_;
    std::optional<Bytes> certificate_;
    std::optional<std::uint32_t> certificateOffset_;
    Bytes trailing_;
    std::uint32_t symbolPointer_ = 0;
    std::uint32_t symbolCount_ = 0;
    std::optional<std::uint32_t> entryPoint_;
    ChecksumMode checksumMode_ = ChecksumMode::Zero;
    std::uint32_t checksumValue_ = 0;
};

// Little-endian access to image bytes (grows the image on writes past its end).
std::uint16_t Get16(const Bytes& image, std::size_t offset);
std::uint32_t Get32(const Bytes& image, std::size_t offset);
void Put16(Bytes& image, std::size_t offset, std::uint16_t value);
void Put32(Bytes& image, std::size_t offset, std::uint32_t value);

// The PE image checksum, computed word by word as the image help library
// does (kept simple on purpose: the reference for the fast implementation).
std::uint32_t ReferenceImageChecksum(const Bytes& image);
// Stores ReferenceImageChecksum in the image's CheckSum field.
void StoreReferenceChecksum(Bytes& image);

// "FB09", size - 12 bytes from a simple generator, "FB09", the size.
Bytes MakeTd32Block(std::uint32_t size, std::uint32_t seed = 1);

// The extraction's layout: a last section ".debug" whose raw data is one
// 28-byte debug directory entry (type 0, naming the block), 4 bytes of
// padding and the TD32 block, raw size exactly that (not rounded), with
// directory 6 = {section VA, directorySize} (1 or 28). Nothing may follow it.
TestModuleBuilder& AddTd32DebugSection(TestModuleBuilder& builder, const Bytes& block,
                                       std::uint32_t directorySize = 1);

// The same layout appended to an existing module image (a real module):
// one more section header (there must be room before SizeOfHeaders), the
// raw data at the next FileAlignment multiple of the end of the file,
// NumberOfSections, SizeOfImage and directory 6 updated, CheckSum cleared.
void AppendTd32DebugSection(Bytes& image, const Bytes& block, std::uint32_t directorySize = 1);

// Appends one section to an existing module image, as above; returns its RVA.
std::uint32_t AppendSection(Bytes& image, const std::string& name, const Bytes& data,
                            std::optional<std::uint32_t> sizeOfRawData = {});

}  // namespace testsupport
