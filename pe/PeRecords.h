// PE/COFF records as plain structures, read from and written to their file
// form as explicit little-endian fields. Every access is bounds-checked
// against the byte block it works on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// A cursor that reads little-endian values from a byte block; reading past
// its end raises Exception.
class TByteReader {
public:
    explicit TByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U32();
    std::uint64_t U64();
    void Bytes(std::uint8_t* target, std::size_t count);

private:
    const std::uint8_t* Take(std::size_t count);
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// A cursor that writes little-endian values into a byte block; writing past
// its end raises Exception.
class TByteWriter {
public:
    explicit TByteWriter(std::span<std::uint8_t> bytes) : bytes_(bytes) {}
    void U8(std::uint8_t value);
    void U16(std::uint16_t value);
    void U32(std::uint32_t value);
    void U64(std::uint64_t value);
    void Bytes(const std::uint8_t* source, std::size_t count);

private:
    std::uint8_t* Take(std::size_t count);
    std::span<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t offset);
void WriteLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);

// The 20-byte COFF file header.
struct TImageFileHeader {
    static constexpr std::size_t kSize = 20;
    std::uint16_t Machine = 0;
    std::uint16_t NumberOfSections = 0;
    std::uint32_t TimeDateStamp = 0;
    std::uint32_t PointerToSymbolTable = 0;
    std::uint32_t NumberOfSymbols = 0;
    std::uint16_t SizeOfOptionalHeader = 0;
    std::uint16_t Characteristics = 0;

    static TImageFileHeader Read(std::span<const std::uint8_t> bytes);
    std::array<std::uint8_t, kSize> ToBytes() const;
    bool operator==(const TImageFileHeader&) const = default;
};

// The fixed part of a PE32 optional header (Magic 0x10B), without the data
// directories.
struct TImageOptionalHeader32 {
    static constexpr std::size_t kSize = 96;
    static constexpr std::uint16_t kMagic = 0x10B;
    std::uint16_t Magic = kMagic;
    std::uint8_t MajorLinkerVersion = 0;
    std::uint8_t MinorLinkerVersion = 0;
    std::uint32_t SizeOfCode = 0;
    std::uint32_t SizeOfInitializedData = 0;
    std::uint32_t SizeOfUninitializedData = 0;
    std::uint32_t AddressOfEntryPoint = 0;
    std::uint32_t BaseOfCode = 0;
    std::uint32_t BaseOfData = 0;
    std::uint32_t ImageBase = 0;
    std::uint32_t SectionAlignment = 0;
    std::uint32_t FileAlignment = 0;
    std::uint16_t MajorOperatingSystemVersion = 0;
    std::uint16_t MinorOperatingSystemVersion = 0;
    std::uint16_t MajorImageVersion = 0;
    std::uint16_t MinorImageVersion = 0;
    std::uint16_t MajorSubsystemVersion = 0;
    std::uint16_t MinorSubsystemVersion = 0;
    std::uint32_t Win32VersionValue = 0;
    std::uint32_t SizeOfImage = 0;
    std::uint32_t SizeOfHeaders = 0;
    std::uint32_t CheckSum = 0;
    std::uint16_t Subsystem = 0;
    std::uint16_t DllCharacteristics = 0;
    std::uint32_t SizeOfStackReserve = 0;
    std::uint32_t SizeOfStackCommit = 0;
    std::uint32_t SizeOfHeapReserve = 0;
    std::uint32_t SizeOfHeapCommit = 0;
    std::uint32_t LoaderFlags = 0;
    std::uint32_t NumberOfRvaAndSizes = 0;

    static TImageOptionalHeader32 Read(std::span<const std::uint8_t> bytes);
    std::array<std::uint8_t, kSize> ToBytes() const;
    bool operator==(const TImageOptionalHeader32&) const = default;
};

// The fixed part of a PE32+ optional header (Magic 0x20B), without the data
// directories.
struct TImageOptionalHeader64 {
    static constexpr std::size_t kSize = 112;
    static constexpr std::uint16_t kMagic = 0x20B;
    std::uint16_t Magic = kMagic;
    std::uint8_t MajorLinkerVersion = 0;
    std::uint8_t MinorLinkerVersion = 0;
    std::uint32_t SizeOfCode = 0;
    std::uint32_t SizeOfInitializedData = 0;
    std::uint32_t SizeOfUninitializedData = 0;
    std::uint32_t AddressOfEntryPoint = 0;
    std::uint32_t BaseOfCode = 0;
    std::uint64_t ImageBase = 0;
    std::uint32_t SectionAlignment = 0;
    std::uint32_t FileAlignment = 0;
    std::uint16_t MajorOperatingSystemVersion = 0;
    std::uint16_t MinorOperatingSystemVersion = 0;
    std::uint16_t MajorImageVersion = 0;
    std::uint16_t MinorImageVersion = 0;
    std::uint16_t MajorSubsystemVersion = 0;
    std::uint16_t MinorSubsystemVersion = 0;
    std::uint32_t Win32VersionValue = 0;
    std::uint32_t SizeOfImage = 0;
    std::uint32_t SizeOfHeaders = 0;
    std::uint32_t CheckSum = 0;
    std::uint16_t Subsystem = 0;
    std::uint16_t DllCharacteristics = 0;
    std::uint64_t SizeOfStackReserve = 0;
    std::uint64_t SizeOfStackCommit = 0;
    std::uint64_t SizeOfHeapReserve = 0;
    std::uint64_t SizeOfHeapCommit = 0;
    std::uint32_t LoaderFlags = 0;
    std::uint32_t NumberOfRvaAndSizes = 0;

    static TImageOptionalHeader64 Read(std::span<const std::uint8_t> bytes);
    std::array<std::uint8_t, kSize> ToBytes() const;
    bool operator==(const TImageOptionalHeader64&) const = default;
};

// One data directory entry. For index 4 (certificates) RVA is a file offset.
struct TImageDataDirectory {
    static constexpr std::size_t kSize = 8;
    std::uint32_t RVA = 0;
    std::uint32_t Size = 0;

    static TImageDataDirectory Read(std::span<const std::uint8_t> bytes);
    std::array<std::uint8_t, kSize> ToBytes() const;
    bool operator==(const TImageDataDirectory&) const = default;
};

// The 40-byte section header.
struct TImageSectionHeader {
    static constexpr std::size_t kSize = 40;
    std::array<std::uint8_t, 8> Name{};
    std::uint32_t VirtualSize = 0;
    std::uint32_t VirtualAddress = 0;
    std::uint32_t SizeOfRawData = 0;
    std::uint32_t PointerToRawData = 0;
    std::uint32_t PointerToRelocations = 0;
    std::uint32_t PointerToLinenumbers = 0;
    std::uint16_t NumberOfRelocations = 0;
    std::uint16_t NumberOfLinenumbers = 0;
    std::uint32_t Characteristics = 0;

    // The size the loader maps: VirtualSize, or SizeOfRawData where
    // VirtualSize is 0.
    std::uint32_t MappedSize() const { return VirtualSize != 0 ? VirtualSize : SizeOfRawData; }

    static TImageSectionHeader Read(std::span<const std::uint8_t> bytes);
    std::array<std::uint8_t, kSize> ToBytes() const;
    bool operator==(const TImageSectionHeader&) const = default;
};

// The 28-byte IMAGE_DEBUG_DIRECTORY record.
struct TImageDebugDirectory {
    static constexpr std::size_t kSize = 28;
    std::uint32_t Characteristics = 0;
    std::uint32_t TimeDateStamp = 0;
    std::uint16_t MajorVersion = 0;
    std::uint16_t MinorVersion = 0;
    std::uint32_t Type = 0;
    std::uint32_t SizeOfData = 0;
    std::uint32_t AddressOfRawData = 0;
    std::uint32_t PointerToRawData = 0;

    static TImageDebugDirectory Read(std::span<const std::uint8_t> bytes);
    std::array<std::uint8_t, kSize> ToBytes() const;
    bool operator==(const TImageDebugDirectory&) const = default;
};
