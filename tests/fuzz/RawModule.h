// A reading of the few PE fields the fuzz checks compare the editor with,
// taken straight from the input bytes with little-endian helpers of its own,
// apart from the editor's record code. Like the editor, it places the
// section table after the data directories that NumberOfRvaAndSizes counts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <span>
#include <vector>

namespace fuzzcheck {

constexpr std::size_t kCertificateDirectory = 4;
constexpr std::size_t kDebugDirectory = 6;
constexpr std::uint32_t kDebugEntrySize = 28;

// Numbers in the checks' failure texts.
inline std::string Num(std::int64_t value) { return std::to_string(value); }

std::uint16_t Le16At(std::span<const std::uint8_t> bytes, std::uint64_t offset);  // 0 beyond the end
std::uint32_t Le32At(std::span<const std::uint8_t> bytes, std::uint64_t offset);  // 0 beyond the end

struct RawSection {
    std::array<std::uint8_t, 40> Bytes{};  // the header as it is in the file
    std::uint32_t VirtualSize = 0;
    std::uint32_t VirtualAddress = 0;
    std::uint32_t SizeOfRawData = 0;
    std::uint32_t PointerToRawData = 0;
    std::uint32_t Characteristics = 0;

    bool HoldsRva(std::uint32_t rva) const;
    // True when the raw data is non-empty and lies wholly in a file of size.
    bool DataInFile(std::uint64_t fileSize) const;
};

struct RawDirectory {
    std::uint32_t RVA = 0;
    std::uint32_t Size = 0;
};

struct RawModule {
    std::uint32_t NtOffset = 0;  // e_lfanew
    bool Pe32Plus = false;
    std::uint32_t FileAlignment = 0;
    std::uint32_t CheckSum = 0;
    std::uint32_t SectionTableOffset = 0;
    std::vector<RawDirectory> Directories;
    std::vector<RawSection> Sections;

    // Index of the first section whose virtual extent holds rva; -1 if none.
    int SectionByRva(std::uint32_t rva) const;
    // Where the data after the section table and every section's raw data
    // that starts in the file begins (at most the file size).
    std::uint64_t TrailingDataStart(std::uint64_t fileSize) const;
};

// After a write-back: a module that had no CheckSum still has none; one
// that had a CheckSum holds what the image help library computes for the
// file with that field 0, as the write-back computed it. (Computed again
// with the field set, the library's borrow rule gives another value for a
// file whose other words sum to 0xFFFF.) Without "MZ" the library sees no
// PE header and sums the field as data, so there is nothing to compare.
// Empty when it holds.
std::string CheckChecksum(const RawModule& before, std::span<const std::uint8_t> after);

// Nothing when the headers, directories or section table do not fit in the
// bytes, or the optional header magic is neither PE32 nor PE32+.
std::optional<RawModule> ReadRawModule(std::span<const std::uint8_t> bytes);

}  // namespace fuzzcheck
