#include "TestModuleBuilder.h"

#include <algorithm>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kDebugEntrySize = 28;

std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

void PutBytes(Bytes& image, std::size_t offset, const Bytes& data) {
    image.resize(std::max(image.size(), offset + data.size()));
    std::copy(data.begin(), data.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::uint32_t OptionalHeaderSize(bool pe32Plus) { return pe32Plus ? 112 : 96; }

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
    PutBytes(image, offset, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)});
}

void Put32(Bytes& image, std::size_t offset, std::uint32_t value) {
    Put16(image, offset, static_cast<std::uint16_t>(value));
    Put16(image, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

Bytes Pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    }
    return bytes;
}

// ---- Reading back ----------------------------------------------------------

ModuleView ReadModuleView(Bytes image) {
    ModuleView view;
    view.FileHeaderOffset = Get32(image, 0x3C) + 4;
    std::size_t const coff = view.FileHeaderOffset;
    view.NumberOfSections = Get16(image, coff + 2);
    view.PointerToSymbolTable = Get32(image, coff + 8);
    view.SizeOfOptionalHeader = Get16(image, coff + 16);
    std::size_t const opt = coff + 20;
    view.SizeOfImage = Get32(image, opt + 56);
    view.SizeOfHeaders = Get32(image, opt + 60);
    view.CheckSum = Get32(image, opt + 64);
    std::uint32_t const fixed = OptionalHeaderSize(Get16(image, opt) == 0x20B);
    view.DirectoriesOffset = static_cast<std::uint32_t>(opt + fixed);
    // As loaders read them: as many directories as SizeOfOptionalHeader holds, then the table.
    std::uint32_t const held = view.SizeOfOptionalHeader > fixed ? (view.SizeOfOptionalHeader - fixed) / 8 : 0;
    for (std::uint32_t i = 0; i < std::min(Get32(image, opt + fixed - 4), held); ++i) {
        view.Directories.push_back({Get32(image, opt + fixed + i * 8), Get32(image, opt + fixed + i * 8 + 4)});
    }
    view.SectionTableOffset = static_cast<std::uint32_t>(opt + view.SizeOfOptionalHeader);
    for (std::uint32_t i = 0; i < view.NumberOfSections; ++i) {
        std::size_t const header = view.SectionTableOffset + i * kSectionHeaderSize;
        BuiltSection section;
        for (std::size_t c = 0; c < 8 && image.at(header + c) != 0; ++c) {
            section.Name.push_back(static_cast<char>(image[header + c]));
        }
        section.VirtualSize = Get32(image, header + 8);
        section.VirtualAddress = Get32(image, header + 12);
        section.SizeOfRawData = Get32(image, header + 16);
        section.PointerToRawData = Get32(image, header + 20);
        view.Sections.push_back(section);
    }
    view.Image = std::move(image);
    return view;
}

Bytes ModuleView::Slice(std::size_t offset, std::size_t size) const {
    if (offset + size > Image.size()) {
        throw std::out_of_range("slice past the end of the image");
    }
    auto const start = Image.begin() + static_cast<std::ptrdiff_t>(offset);
    return Bytes(start, start + static_cast<std::ptrdiff_t>(size));
}

Bytes ModuleView::SectionBytes(std::size_t index) const {
    return Slice(Sections.at(index).PointerToRawData, Sections.at(index).SizeOfRawData);
}

std::vector<std::uint32_t> ModuleView::DebugDataPointers() const {
    auto const [rva, size] = Directories.at(6);
    std::vector<std::uint32_t> pointers;
    for (auto const& section : Sections) {
        if (section.VirtualAddress <= rva && rva < section.VirtualAddress + section.VirtualSize) {
            for (std::uint32_t i = 0; i < (size % 28 == 0 ? size / 28 : size); ++i) {
                pointers.push_back(Get32(Image, section.PointerToRawData + rva - section.VirtualAddress + i * 28 + 24));
            }
            break;
        }
    }
    return pointers;
}

// ---- Building --------------------------------------------------------------

TestModuleBuilder& TestModuleBuilder::DebugDirectory(std::size_t section, std::uint32_t offset,
                                                     std::vector<DebugEntryDefinition> entries,
                                                     std::optional<std::uint32_t> directorySize) {
    auto& data = sections_.at(section).Data;
    data.resize(std::max<std::size_t>(data.size(), offset + entries.size() * kDebugEntrySize));
    debugSection_ = section;
    debugOffset_ = offset;
    debugEntries_ = std::move(entries);
    debugSize_ = directorySize.value_or(static_cast<std::uint32_t>(debugEntries_.size()) * kDebugEntrySize);
    return *this;
}

TestModuleBuilder& TestModuleBuilder::Td32Section(const Bytes& block, std::uint32_t directorySize) {
    std::uint32_t const start = AlignUp(static_cast<std::uint32_t>(Build().Image.size()), fileAlignment_);
    Bytes raw(kDebugEntrySize + 4, 0);
    raw.insert(raw.end(), block.begin(), block.end());
    SectionDefinition section{".debug", raw};
    section.PointerToRawData = start;
    section.SizeOfRawData = static_cast<std::uint32_t>(raw.size());
    section.VirtualSize = std::max<std::uint32_t>(*section.SizeOfRawData, directorySize * kDebugEntrySize);
    AddSection(std::move(section));
    return DebugDirectory(sections_.size() - 1, 0,
                          {{static_cast<std::uint32_t>(block.size()), kDebugEntrySize + 4, true}}, directorySize);
}

std::uint32_t TestModuleBuilder::PlaceSections(ModuleView& out, std::uint32_t fileEnd) const {
    std::uint32_t nextVa = AlignUp(fileEnd, sectionAlignment_);
    for (auto const& definition : sections_) {
        BuiltSection placed{definition.Name};
        auto const dataSize = static_cast<std::uint32_t>(definition.Data.size());
        placed.SizeOfRawData = definition.SizeOfRawData.value_or(AlignUp(dataSize, fileAlignment_));
        placed.PointerToRawData =
            definition.PointerToRawData.value_or(placed.SizeOfRawData == 0 ? 0 : AlignUp(fileEnd, fileAlignment_));
        placed.VirtualAddress = definition.VirtualAddress.value_or(nextVa);
        placed.VirtualSize = definition.VirtualSize.value_or(std::max<std::uint32_t>(1, dataSize));
        nextVa = AlignUp(placed.VirtualAddress + std::max(placed.VirtualSize, placed.SizeOfRawData), sectionAlignment_);
        if (placed.PointerToRawData != 0 && placed.SizeOfRawData != 0) {
            Bytes raw = definition.Data;
            raw.resize(placed.SizeOfRawData);
            PutBytes(out.Image, placed.PointerToRawData, raw);
            fileEnd = std::max(fileEnd, placed.PointerToRawData + placed.SizeOfRawData);
        }
        out.Sections.push_back(placed);
    }
    return fileEnd;
}

ModuleView TestModuleBuilder::Build() const {
    ModuleView out;
    out.FileHeaderOffset = 0x84;
    out.DirectoriesOffset = out.FileHeaderOffset + 20 + OptionalHeaderSize(pe32Plus_);
    out.SectionTableOffset =
        out.FileHeaderOffset + 20 + sizeOfOptionalHeader_.value_or(OptionalHeaderSize(pe32Plus_) + directoryCount_ * 8);
    std::uint32_t fileEnd = AlignUp(
        out.SectionTableOffset + static_cast<std::uint32_t>(sections_.size() + spareHeaders_) * kSectionHeaderSize,
        fileAlignment_);
    out.Image.assign(fileEnd, 0);
    fileEnd = PlaceSections(out, fileEnd);
    std::uint32_t const certificateAt = certificateOffset_.value_or(AlignUp(fileEnd, 8));
    if (certificate_) {
        PutBytes(out.Image, certificateAt, *certificate_);
    }
    PutBytes(out.Image, out.Image.size(), trailing_);
    WriteHeaders(out, certificateAt);
    if (checksum_) {
        StoreReferenceChecksum(out.Image);
    }
    return ReadModuleView(std::move(out.Image));
}

void TestModuleBuilder::WriteHeaders(ModuleView& out, std::uint32_t certificateAt) const {
    Bytes& image = out.Image;
    std::uint32_t const optionalSize = OptionalHeaderSize(pe32Plus_);
    PutBytes(image, 0, {'M', 'Z'});
    Put32(image, 0x3C, out.FileHeaderOffset - 4);
    PutBytes(image, out.FileHeaderOffset - 4, {'P', 'E', 0, 0});
    std::size_t const coff = out.FileHeaderOffset;
    Put16(image, coff, pe32Plus_ ? 0x8664 : 0x14C);
    Put16(image, coff + 2, static_cast<std::uint16_t>(sections_.size()));
    Put32(image, coff + 8, symbolPointer_);
    Put32(image, coff + 12, symbolCount_);
    Put16(image, coff + 16,
          sizeOfOptionalHeader_.value_or(static_cast<std::uint16_t>(optionalSize + directoryCount_ * 8)));
    Put16(image, coff + 18, pe32Plus_ ? 0x0022 : 0x0102);
    std::size_t const opt = coff + 20;
    Put16(image, opt, pe32Plus_ ? 0x20B : 0x10B);
    Put32(image, opt + (pe32Plus_ ? 24 : 28), 0x400000);  // ImageBase
    Put32(image, opt + 32, sectionAlignment_);
    Put32(image, opt + 36, fileAlignment_);
    Put16(image, opt + 40, 4);  // operating system version
    Put16(image, opt + 48, 4);  // subsystem version
    std::uint32_t imageEnd = AlignUp(out.SectionTableOffset, sectionAlignment_);
    if (!out.Sections.empty()) {
        imageEnd = AlignUp(out.Sections.back().VirtualAddress + out.Sections.back().VirtualSize, sectionAlignment_);
    }
    Put32(image, opt + 56, imageEnd);
    Put32(image, opt + 60,
          AlignUp(out.SectionTableOffset + static_cast<std::uint32_t>(sections_.size()) * 40, fileAlignment_));
    Put16(image, opt + 68, 3);  // console subsystem
    Put32(image, opt + optionalSize - 4, directoryCount_);
    WriteDirectories(out, certificateAt);
    WriteSectionTable(out);
}

void TestModuleBuilder::WriteDirectories(ModuleView& out, std::uint32_t certificateAt) const {
    Bytes directories(directoryCount_ * 8, 0);
    auto set = [&](std::uint32_t index, std::uint32_t rva, std::uint32_t size) {
        if (index < directoryCount_) {
            Put32(directories, index * 8, rva);
            Put32(directories, index * 8 + 4, size);
        }
    };
    for (auto const& [index, entry] : directories_) {
        set(index, entry.first, entry.second);
    }
    if (certificate_) {
        set(4, certificateAt, static_cast<std::uint32_t>(certificate_->size()));
    }
    if (debugSize_) {
        auto const& section = out.Sections.at(debugSection_);
        std::uint32_t at = section.PointerToRawData + debugOffset_;
        for (auto const& entry : debugEntries_) {
            Put32(out.Image, at + 12, 2);
            Put32(out.Image, at + 16, entry.SizeOfData);
            Put32(out.Image, at + 24, entry.PointerToRawData + (entry.InSection ? section.PointerToRawData : 0));
            at += kDebugEntrySize;
        }
        set(6, section.VirtualAddress + debugOffset_, *debugSize_);
    }
    PutBytes(out.Image, out.DirectoriesOffset, directories);
}

void TestModuleBuilder::WriteSectionTable(ModuleView& out) const {
    for (std::size_t i = 0; i < out.Sections.size(); ++i) {
        auto const& placed = out.Sections[i];
        std::size_t const header = out.SectionTableOffset + i * kSectionHeaderSize;
        Bytes name(8, 0);
        std::copy_n(placed.Name.begin(), std::min<std::size_t>(8, placed.Name.size()), name.begin());
        PutBytes(out.Image, header, name);
        Put32(out.Image, header + 8, placed.VirtualSize);
        Put32(out.Image, header + 12, placed.VirtualAddress);
        Put32(out.Image, header + 16, placed.SizeOfRawData);
        Put32(out.Image, header + 20, placed.PointerToRawData);
        Put32(out.Image, header + 28, sections_[i].PointerToLinenumbers);
        Put16(out.Image, header + 34, sections_[i].NumberOfLinenumbers);
        Put32(out.Image, header + 36, 0x40000040);  // initialized data, readable
    }
}

TestModuleBuilder SmallModule(bool pe32Plus) {
    TestModuleBuilder builder(pe32Plus);
    builder.AddSection(".text", Pattern(0x180, 1))
        .AddSection(".data", Pattern(0x300, 2))
        .AddSection(".rsrc", Pattern(0x200, 3));
    return builder;
}

// ---- Checksum and TD32 blocks -----------------------------------------------

std::uint32_t ReferenceImageChecksum(const Bytes& image) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < image.size(); i += 2) {
        sum += image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    std::uint32_t const eLfanew = image.size() >= 0x40 ? Get32(image, 0x3C) : 0;
    bool const hasHeader = image.size() >= 0x40 && image[0] == 'M' && image[1] == 'Z' &&
                           std::uint64_t{eLfanew} + 92 <= image.size() && Get32(image, eLfanew) == 0x4550;
    for (std::uint32_t half = 0; hasHeader && half < 2; ++half) {
        std::uint32_t const word = Get16(image, eLfanew + 88 + 2 * half);
        sum = sum >= word ? sum - word : ((sum - word) & 0xFFFF) - 1;
    }
    return sum + static_cast<std::uint32_t>(image.size());
}

void StoreReferenceChecksum(Bytes& image) {
    std::uint32_t const field = Get32(image, 0x3C) + 88;
    Put32(image, field, 0);
    Put32(image, field, ReferenceImageChecksum(image));
}

Bytes MakeTd32Block(std::uint32_t size, std::uint8_t seed) {
    Bytes block = Pattern(size, seed);
    PutBytes(block, 0, {'F', 'B', '0', '9'});
    PutBytes(block, size - 8, {'F', 'B', '0', '9'});
    Put32(block, size - 4, size);
    return block;
}

}  // namespace testsupport
