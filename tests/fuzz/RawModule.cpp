#include "RawModule.h"

#include <algorithm>

#include "TestModuleBuilder.h"

namespace fuzzcheck {

namespace {

constexpr std::uint32_t kPeSignature = 0x00004550;
constexpr std::uint64_t kFileHeaderSize = 20;
constexpr std::uint64_t kSectionHeaderSize = 40;

}  // namespace

std::uint16_t Le16At(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 2) {
        return 0;
    }
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t Le32At(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
    return Le16At(bytes, offset) | std::uint32_t{Le16At(bytes, offset + 2)} << 16;
}

bool RawSection::HoldsRva(std::uint32_t rva) const {
    return VirtualAddress <= rva && rva < std::uint64_t{VirtualAddress} + VirtualSize;
}

bool RawSection::DataInFile(std::uint64_t fileSize) const {
    return PointerToRawData != 0 && SizeOfRawData != 0 && std::uint64_t{PointerToRawData} + SizeOfRawData <= fileSize;
}

int RawModule::SectionByRva(std::uint32_t rva) const {
    for (std::size_t i = 0; i < Sections.size(); ++i) {
        if (Sections[i].HoldsRva(rva)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::uint64_t RawModule::TrailingDataStart(std::uint64_t fileSize) const {
    std::uint64_t end = SectionTableOffset + Sections.size() * kSectionHeaderSize;
    for (auto const& section : Sections) {
        // Raw data that starts past the end of the file holds none of it.
        if (section.PointerToRawData != 0 && section.SizeOfRawData != 0 && section.PointerToRawData < fileSize) {
            end = std::max(end, std::uint64_t{section.PointerToRawData} + section.SizeOfRawData);
        }
    }
    return std::min(end, fileSize);
}

std::string CheckChecksum(const RawModule& before, std::span<const std::uint8_t> after) {
    std::uint64_t const field = std::uint64_t{before.NtOffset} + 4 + kFileHeaderSize + 64;
    std::uint32_t const stored = Le32At(after, field);
    if (before.CheckSum == 0) {
        return stored == 0 ? "" : "a module without a checksum got one";
    }
    if (after.size() < field + 4 || after[0] != 'M' || after[1] != 'Z') {
        return {};
    }
    std::vector<std::uint8_t> zeroed(after.begin(), after.end());
    testsupport::Put32(zeroed, field, 0);
    return stored == testsupport::ReferenceImageChecksum(zeroed)
               ? ""
               : "the stored checksum is not the image checksum of the file as written";
}

std::optional<RawModule> ReadRawModule(std::span<const std::uint8_t> bytes) {
    RawModule module;
    module.NtOffset = Le32At(bytes, 0x3C);
    std::uint64_t const fileHeader = std::uint64_t{module.NtOffset} + 4;
    std::uint64_t const optional = fileHeader + kFileHeaderSize;
    std::uint16_t const magic = Le16At(bytes, optional);
    if (Le32At(bytes, module.NtOffset) != kPeSignature || (magic != 0x10B && magic != 0x20B)) {
        return std::nullopt;
    }
    module.Pe32Plus = magic == 0x20B;
    std::uint64_t const fixedSize = module.Pe32Plus ? 112 : 96;
    if (optional + fixedSize > bytes.size()) {
        return std::nullopt;
    }
    module.FileAlignment = Le32At(bytes, optional + 36);
    module.CheckSum = Le32At(bytes, optional + 64);
    std::uint64_t const directoryCount = Le32At(bytes, optional + fixedSize - 4);
    std::uint64_t const sectionCount = Le16At(bytes, fileHeader + 2);
    std::uint64_t const directories = optional + fixedSize;
    std::uint64_t const table = directories + directoryCount * 8;
    if (table + sectionCount * kSectionHeaderSize > bytes.size()) {
        return std::nullopt;
    }
    module.SectionTableOffset = static_cast<std::uint32_t>(table);
    for (std::uint64_t i = 0; i < directoryCount; ++i) {
        module.Directories.push_back({Le32At(bytes, directories + 8 * i), Le32At(bytes, directories + 8 * i + 4)});
    }
    for (std::uint64_t i = 0; i < sectionCount; ++i) {
        std::uint64_t const at = table + i * kSectionHeaderSize;
        RawSection section;
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), kSectionHeaderSize, section.Bytes.begin());
        section.VirtualSize = Le32At(bytes, at + 8);
        section.VirtualAddress = Le32At(bytes, at + 12);
        section.SizeOfRawData = Le32At(bytes, at + 16);
        section.PointerToRawData = Le32At(bytes, at + 20);
        section.Characteristics = Le32At(bytes, at + 36);
        module.Sections.push_back(section);
    }
    return module;
}

}  // namespace fuzzcheck
