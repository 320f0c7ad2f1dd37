#include "TestModuleBuilder.h"

#include <algorithm>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr std::uint32_t kOptionalHeader32Size = 96;
constexpr std::uint32_t kOptionalHeader64Size = 112;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kDebugEntrySize = 28;

std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

void PutBytes(Bytes& image, std::size_t offset, const Bytes& data) {
    if (image.size() < offset + data.size()) {
        image.resize(offset + data.size());
    }
    std::copy(data.begin(), data.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

void PutName(Bytes& image, std::size_t offset, const std::string& name) {
    for (std::size_t i = 0; i < 8; ++i) {
        image[offset + i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0;
    }
}

}  // namespace

std::uint16_t Get16(const Bytes& image, std::size_t offset) {
    if (offset + 2 > image.size()) {
        throw std::out_of_range("Get16 past the end of the image");
    }
    return static_cast<std::uint16_t>(image[offset] | (image[offset + 1] << 8));
}

std::uint32_t Get32(const Bytes& image, std::size_t offset) {
    return Get16(image, offset) | (static_cast<std::uint32_t>(Get16(image, offset + 2)) << 16);
}

void Put16(Bytes& image, std::size_t offset, std::uint16_t value) {
    if (image.size() < offset + 2) {
        image.resize(offset + 2);
    }
    image[offset] = static_cast<std::uint8_t>(value);
    image[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(Bytes& image, std::size_t offset, std::uint32_t value) {
    Put16(image, offset, static_cast<std::uint16_t>(value));
    Put16(image, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

TestModuleBuilder::TestModuleBuilder(bool pe32Plus) : pe32Plus_(pe32Plus) {}

TestModuleBuilder& TestModuleBuilder::FileAlignment(std::uint32_t value) {
    fileAlignment_ = value;
    return *this;
}

TestModuleBuilder& TestModuleBuilder::SectionAlignment(std::uint32_t value) {
    sectionAlignment_ = value;
    return *this;
}

TestModuleBuilder& TestModuleBuilder::NtHeaderOffset(std::uint32_t eLfanew) {
    eLfanew_ = eLfanew;
    return *this;
}

TestModuleBuilder& TestModuleBuilder::DirectoryCount(std::uint32_t numberOfRvaAndSizes) {
    directoryCount_ = numberOfRvaAndSizes;
    return *this;
}

TestModuleBuilder& TestModuleBuilder::SizeOfOptionalHeader(std::uint16_t value) {
    sizeOfOptionalHeader_ = value;
    return *this;
}

TestModuleBuilder& TestModuleBuilder::Directory(std::uint32_t index, std::uint32_t rva, std::uint32_t size) {
    directories_.push_back({index, {rva, size}});
    return *this;
}

TestModuleBuilder& TestModuleBuilder::AddSection(SectionDefinition section) {
    sections_.push_back(std::move(section));
    return *this;
}

TestModuleBuilder& TestModuleBuilder::AddSection(std::string name, Bytes data) {
    SectionDefinition section;
    section.Name = std::move(name);
    section.Data = std::move(data);
    return AddSection(std::move(section));
}

TestModuleBuilder& TestModuleBuilder::DebugDirectory(std::size_t section, std::uint32_t offsetInSection,
                                                     std::vector<DebugEntryDefinition> entries,
                                                     std::optional<std::uint32_t> directorySize) {
    auto& data = sections_.at(section).Data;
    std::size_t const end = offsetInSection + entries.size() * kDebugEntrySize;
    if (data.size() < end) {
        data.resize(end);
    }
    debug_ = DebugDirectoryDefinition{section, offsetInSection, std::move(entries), directorySize};
    return *this;
}

TestModuleBuilder& TestModuleBuilder::Certificate(Bytes data, std::optional<std::uint32_t> offset) {
    certificate_ = std::move(data);
    certificateOffset_ = offset;
    return *this;
}

TestModuleBuilder& TestModuleBuilder::Trailing(Bytes data) {
    trailing_ = std::move(data);
    return *this;
}

TestModuleBuilder& TestModuleBuilder::SymbolTable(std::uint32_t pointer, std::uint32_t count) {
    symbolPointer_ = pointer;
    symbolCount_ = count;
    return *this;
}

TestModuleBuilder& TestModuleBuilder::EntryPoint(std::uint32_t rva) {
    entryPoint_ = rva;
    return *this;
}

TestModuleBuilder& TestModuleBuilder::Checksum(ChecksumMode mode, std::uint32_t explicitValue) {
    checksumMode_ = mode;
    checksumValue_ = explicitValue;
    return *this;
}

void TestModuleBuilder::PlaceSections(BuiltModule& out, std::uint32_t& fileEnd) const {
    std::uint32_t nextVa = AlignUp(fileEnd, sectionAlignment_);
    for (auto const& definition : sections_) {
        BuiltSection placed;
        placed.Name = definition.Name;
        placed.SizeOfRawData =
            definition.SizeOfRawData.value_or(AlignUp(static_cast<std::uint32_t>(definition.Data.size()), fileAlignment_));
        placed.PointerToRawData =
            definition.PointerToRawData.value_or(placed.SizeOfRawData == 0 ? 0 : AlignUp(fileEnd, fileAlignment_));
        placed.VirtualAddress = definition.VirtualAddress.value_or(nextVa);
        placed.VirtualSize =
            definition.VirtualSize.value_or(std::max<std::uint32_t>(1, static_cast<std::uint32_t>(definition.Data.size())));
        nextVa = AlignUp(placed.VirtualAddress + std::max(placed.VirtualSize, placed.SizeOfRawData), sectionAlignment_);
        if (placed.PointerToRawData != 0 && placed.SizeOfRawData != 0) {
            Bytes raw = definition.Data;
            raw.resize(placed.SizeOfRawData);
            PutBytes(out.Image, placed.PointerToRawData, raw);
            fileEnd = std::max(fileEnd, placed.PointerToRawData + placed.SizeOfRawData);
        }
        out.Sections.push_back(placed);
    }
}

BuiltModule TestModuleBuilder::Build() const {
    BuiltModule out;
    std::uint32_t const optionalSize = pe32Plus_ ? kOptionalHeader64Size : kOptionalHeader32Size;
    out.FileHeaderOffset = eLfanew_ + 4;
    out.ChecksumOffset = eLfanew_ + 88;
    out.DirectoriesOffset = out.FileHeaderOffset + 20 + optionalSize;
    out.SectionTableOffset = out.DirectoriesOffset + directoryCount_ * 8;
    std::uint32_t fileEnd = AlignUp(
        out.SectionTableOffset + static_cast<std::uint32_t>(sections_.size()) * kSectionHeaderSize, fileAlignment_);
    out.Image.assign(fileEnd, 0);
    PlaceSections(out, fileEnd);
    if (certificate_) {
        out.CertificateOffset = certificateOffset_.value_or(AlignUp(fileEnd, 8));
        PutBytes(out.Image, out.CertificateOffset, *certificate_);
        fileEnd = std::max(fileEnd, out.CertificateOffset + static_cast<std::uint32_t>(certificate_->size()));
    }
    if (!trailing_.empty()) {
        out.TrailingOffset = static_cast<std::uint32_t>(out.Image.size());
        PutBytes(out.Image, out.TrailingOffset, trailing_);
    }
    WriteHeaders(out);
    if (checksumMode_ == ChecksumMode::Computed) {
        StoreReferenceChecksum(out.Image);
    } else {
        Put32(out.Image, out.ChecksumOffset, checksumMode_ == ChecksumMode::Explicit ? checksumValue_ : 0);
    }
    return out;
}

void TestModuleBuilder::WriteHeaders(BuiltModule& out) const {
    Bytes& image = out.Image;
    std::uint32_t const optionalSize = pe32Plus_ ? kOptionalHeader64Size : kOptionalHeader32Size;
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, eLfanew_);
    PutBytes(image, eLfanew_, {'P', 'E', 0, 0});
    std::size_t const coff = out.FileHeaderOffset;
    Put16(image, coff, pe32Plus_ ? 0x8664 : 0x14C);
    Put16(image, coff + 2, static_cast<std::uint16_t>(sections_.size()));
    Put32(image, coff + 4, 0x5F000000);
    Put32(image, coff + 8, symbolPointer_);
    Put32(image, coff + 12, symbolCount_);
    Put16(image, coff + 16, sizeOfOptionalHeader_.value_or(static_cast<std::uint16_t>(optionalSize + directoryCount_ * 8)));
    Put16(image, coff + 18, pe32Plus_ ? 0x0022 : 0x0102);

    std::size_t const opt = coff + 20;
    Put16(image, opt, pe32Plus_ ? 0x20B : 0x10B);
    image[opt + 2] = 2;
    image[opt + 3] = 30;
    std::uint32_t const firstVa = out.Sections.empty() ? 0 : out.Sections.front().VirtualAddress;
    Put32(image, opt + 16, entryPoint_.value_or(firstVa));
    Put32(image, opt + 20, firstVa);  // BaseOfCode
    if (pe32Plus_) {
        Put32(image, opt + 24, 0x40000000);
        Put32(image, opt + 28, 0x1);  // ImageBase 0x140000000
    } else {
        Put32(image, opt + 28, 0x400000);
    }
    Put32(image, opt + 32, sectionAlignment_);
    Put32(image, opt + 36, fileAlignment_);
    Put16(image, opt + 40, 4);  // operating system version
    Put16(image, opt + 48, 4);  // subsystem version
    std::uint32_t imageEnd = AlignUp(out.SectionTableOffset, sectionAlignment_);
    if (!out.Sections.empty()) {
        auto const& last = out.Sections.back();
        imageEnd = AlignUp(last.VirtualAddress + last.VirtualSize, sectionAlignment_);
    }
    Put32(image, opt + 56, imageEnd);
    Put32(image, opt + 60,
          AlignUp(out.SectionTableOffset + static_cast<std::uint32_t>(sections_.size()) * kSectionHeaderSize,
                  fileAlignment_));
    Put16(image, opt + 68, 3);  // console subsystem
    std::size_t const sizes = opt + 72;
    std::uint32_t const step = pe32Plus_ ? 8 : 4;
    Put32(image, sizes, 0x100000);
    Put32(image, sizes + step, 0x1000);
    Put32(image, sizes + 2 * step, 0x100000);
    Put32(image, sizes + 3 * step, 0x1000);
    Put32(image, opt + optionalSize - 4, directoryCount_);
    WriteDirectories(out);
    WriteSectionTable(out);
}

void TestModuleBuilder::WriteDirectories(BuiltModule& out) const {
    Bytes& image = out.Image;
    Bytes directories(directoryCount_ * 8, 0);
    auto setDirectory = [&](std::uint32_t index, std::uint32_t rva, std::uint32_t size) {
        if (index < directoryCount_) {
            Put32(directories, index * 8, rva);
            Put32(directories, index * 8 + 4, size);
        }
    };
    for (auto const& [index, entry] : directories_) {
        setDirectory(index, entry.first, entry.second);
    }
    if (certificate_) {
        setDirectory(4, out.CertificateOffset, static_cast<std::uint32_t>(certificate_->size()));
    }
    if (debug_) {
        auto const& section = out.Sections.at(debug_->Section);
        std::uint32_t at = section.PointerToRawData + debug_->Offset;
        for (auto const& entry : debug_->Entries) {
            Put32(image, at + 12, entry.Type);
            Put32(image, at + 16, entry.SizeOfData);
            Put32(image, at + 20, entry.AddressOfRawData);
            Put32(image, at + 24, entry.PointerToRawData + (entry.PointerInSection ? section.PointerToRawData : 0));
            at += kDebugEntrySize;
        }
        setDirectory(6, section.VirtualAddress + debug_->Offset,
                     debug_->DirectorySize.value_or(static_cast<std::uint32_t>(debug_->Entries.size()) * kDebugEntrySize));
    }
    PutBytes(image, out.DirectoriesOffset, directories);
}

void TestModuleBuilder::WriteSectionTable(BuiltModule& out) const {
    Bytes& image = out.Image;
    for (std::size_t i = 0; i < out.Sections.size(); ++i) {
        auto const& placed = out.Sections[i];
        auto const& definition = sections_[i];
        std::size_t const header = out.SectionTableOffset + i * kSectionHeaderSize;
        PutName(image, header, placed.Name);
        Put32(image, header + 8, placed.VirtualSize);
        Put32(image, header + 12, placed.VirtualAddress);
        Put32(image, header + 16, placed.SizeOfRawData);
        Put32(image, header + 20, placed.PointerToRawData);
        Put32(image, header + 28, definition.PointerToLinenumbers);
        Put16(image, header + 34, definition.NumberOfLinenumbers);
        Put32(image, header + 36, definition.Characteristics);
    }
}

std::uint32_t ReferenceImageChecksum(const Bytes& image) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < image.size(); i += 2) {
        std::uint32_t const word = image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
        sum += word;
        if (sum > 0xFFFF) {
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
    }
    bool hasHeader = image.size() >= 0x40 && image[0] == 'M' && image[1] == 'Z';
    std::uint32_t const eLfanew = hasHeader ? Get32(image, 0x3C) : 0;
    hasHeader = hasHeader && std::uint64_t{eLfanew} + 92 <= image.size() && image[eLfanew] == 'P' &&
                image[eLfanew + 1] == 'E' && image[eLfanew + 2] == 0 && image[eLfanew + 3] == 0;
    if (hasHeader) {
        for (std::uint32_t half = 0; half < 2; ++half) {
            std::uint32_t const word = Get16(image, eLfanew + 88 + 2 * half);
            sum = sum >= word ? sum - word : ((sum - word) & 0xFFFF) - 1;
        }
    }
    return sum + static_cast<std::uint32_t>(image.size());
}

void StoreReferenceChecksum(Bytes& image) {
    std::uint32_t const field = Get32(image, 0x3C) + 88;
    Put32(image, field, 0);
    Put32(image, field, ReferenceImageChecksum(image));
}

Bytes MakeTd32Block(std::uint32_t size, std::uint32_t seed) {
    if (size < 12) {
        throw std::invalid_argument("a TD32 block has at least 12 bytes");
    }
    Bytes block{'F', 'B', '0', '9'};
    std::uint32_t state = seed * 2654435761u + 1;
    while (block.size() < size - 8) {
        state = state * 1103515245u + 12345u;
        block.push_back(static_cast<std::uint8_t>(state >> 16));
    }
    for (char c : std::string("FB09")) {
        block.push_back(static_cast<std::uint8_t>(c));
    }
    Put32(block, block.size(), size);
    return block;
}

namespace {

// Entry (type 0, naming the block that starts 32 bytes into the section),
// 4 bytes of padding, then the block.
Bytes Td32SectionData(const Bytes& block, std::uint32_t sectionFileOffset) {
    Bytes raw(kDebugEntrySize + 4, 0);
    Put32(raw, 16, static_cast<std::uint32_t>(block.size()));
    Put32(raw, 24, sectionFileOffset + kDebugEntrySize + 4);
    raw.insert(raw.end(), block.begin(), block.end());
    return raw;
}

}  // namespace

TestModuleBuilder& AddTd32DebugSection(TestModuleBuilder& builder, const Bytes& block, std::uint32_t directorySize) {
    // The entry's pointer is fixed up when built, so build once to learn
    // where the section will land.
    BuiltModule const before = builder.Build();
    std::uint32_t fileAlignment = Get32(before.Image, before.FileHeaderOffset + 20 + 36);
    std::uint32_t const sectionStart = AlignUp(static_cast<std::uint32_t>(before.Image.size()), fileAlignment);
    SectionDefinition section;
    section.Name = ".debug";
    section.Data = Td32SectionData(block, sectionStart);
    section.SizeOfRawData = static_cast<std::uint32_t>(section.Data.size());
    section.PointerToRawData = sectionStart;
    section.VirtualSize = std::max<std::uint32_t>(static_cast<std::uint32_t>(section.Data.size()),
                                                  directorySize * kDebugEntrySize);
    section.Characteristics = 0x42000040;
    std::size_t const index = before.Sections.size();
    builder.AddSection(std::move(section));
    builder.DebugDirectory(index, 0, {DebugEntryDefinition{0, static_cast<std::uint32_t>(block.size()), 0,
                                                     kDebugEntrySize + 4, true}},
                           directorySize);
    return builder;
}

namespace {

struct HeaderOffsets {
    std::size_t Coff, Optional, Fixed, Table;
    std::uint32_t Sections, Directories, SectionAlignment, FileAlignment, SizeOfHeaders;
};

HeaderOffsets ReadHeaderOffsets(const Bytes& image) {
    HeaderOffsets h{};
    std::uint32_t const eLfanew = Get32(image, 0x3C);
    if (Get32(image, eLfanew) != 0x4550) {
        throw std::invalid_argument("not a PE module");
    }
    h.Coff = eLfanew + 4;
    h.Sections = Get16(image, h.Coff + 2);
    h.Optional = h.Coff + 20;
    h.Fixed = Get16(image, h.Optional) == 0x20B ? kOptionalHeader64Size : kOptionalHeader32Size;
    h.SectionAlignment = Get32(image, h.Optional + 32);
    h.FileAlignment = Get32(image, h.Optional + 36);
    h.SizeOfHeaders = Get32(image, h.Optional + 60);
    h.Directories = Get32(image, h.Optional + h.Fixed - 4);
    h.Table = h.Optional + h.Fixed + h.Directories * 8;
    return h;
}

}  // namespace

std::uint32_t AppendSection(Bytes& image, const std::string& name, const Bytes& data,
                            std::optional<std::uint32_t> sizeOfRawData) {
    HeaderOffsets const h = ReadHeaderOffsets(image);
    std::size_t const header = h.Table + h.Sections * kSectionHeaderSize;
    if (header + kSectionHeaderSize > h.SizeOfHeaders) {
        throw std::invalid_argument("no room for another section header");
    }
    std::size_t const last = header - kSectionHeaderSize;
    std::uint32_t const lastVa = Get32(image, last + 12);
    std::uint32_t const lastExtent = std::max(Get32(image, last + 8), Get32(image, last + 16));
    if (image.size() != std::size_t{Get32(image, last + 20)} + Get32(image, last + 16)) {
        throw std::invalid_argument("the module has data after its last section");
    }
    std::uint32_t const va = AlignUp(lastVa + lastExtent, h.SectionAlignment);
    std::uint32_t const pointer = AlignUp(static_cast<std::uint32_t>(image.size()), h.FileAlignment);
    std::uint32_t const rawSize = sizeOfRawData.value_or(static_cast<std::uint32_t>(data.size()));
    image.resize(pointer, 0);
    Bytes raw = data;
    raw.resize(rawSize, 0);
    image.insert(image.end(), raw.begin(), raw.end());
    PutName(image, header, name);
    Put32(image, header + 8, static_cast<std::uint32_t>(data.size()));
    Put32(image, header + 12, va);
    Put32(image, header + 16, rawSize);
    Put32(image, header + 20, pointer);
    Put32(image, header + 36, 0x42000040);
    Put16(image, h.Coff + 2, static_cast<std::uint16_t>(h.Sections + 1));
    Put32(image, h.Optional + 56, AlignUp(va + static_cast<std::uint32_t>(data.size()), h.SectionAlignment));
    Put32(image, h.Optional + 64, 0);
    return va;
}

void AppendTd32DebugSection(Bytes& image, const Bytes& block, std::uint32_t directorySize) {
    HeaderOffsets const h = ReadHeaderOffsets(image);
    if (h.Directories <= 6) {
        throw std::invalid_argument("the module has no debug directory slot");
    }
    std::uint32_t const pointer = AlignUp(static_cast<std::uint32_t>(image.size()), h.FileAlignment);
    Bytes const raw = Td32SectionData(block, pointer);
    std::uint32_t const va = AppendSection(image, ".debug", raw);
    std::size_t const header = h.Table + h.Sections * kSectionHeaderSize;
    std::uint32_t const virtualSize = std::max<std::uint32_t>(static_cast<std::uint32_t>(raw.size()),
                                                              directorySize * kDebugEntrySize);
    Put32(image, header + 8, virtualSize);
    Put32(image, h.Optional + 56, AlignUp(va + virtualSize, h.SectionAlignment));
    Put32(image, h.Optional + h.Fixed + 6 * 8, va);
    Put32(image, h.Optional + h.Fixed + 6 * 8 + 4, directorySize);
}

}  // namespace testsupport
