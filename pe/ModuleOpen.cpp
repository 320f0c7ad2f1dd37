// Opening a module: reading and checking its headers, data directories and
// section table, and forgetting it again.
#include <algorithm>

#include "FileSeek.h"
#include "kvPEFileUtils.h"
#include "uMsg_kvPEFileUtils.h"

using namespace uMsg_kvPEFileUtils;

namespace {

constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint32_t kElfanewOffset = 0x3C;
constexpr std::uint32_t kMinimumModuleSize = 64;
constexpr std::size_t kCertificateDirectory = 4;
constexpr std::uint64_t kSymbolSize = 18;
constexpr std::uint32_t kStringTableSizeField = 4;

}  // namespace

bool TkvPEFileUtils::Open(const WideString& fileName, bool readOnly) {
    if (!FileName.empty() && !Close(false)) {
        return false;
    }
    WriteStartedFlag = false;
    LastErrorText.clear();
    LastOSError = 0;
    try {
        if (OpenModule(fileName, readOnly)) {
            return true;
        }
    } catch (...) {
        FailOpen();
        throw;
    }
    FailOpen();
    return false;
}

void TkvPEFileUtils::FailOpen() {
    if (LastErrorText.empty() && LastOSError == 0) {
        LastOSError = SysGetLastError();
        if (LastOSError == 0) {
            LastErrorText = SFailedToReadModule;
        }
    }
    if (FileHandle != kInvalidHandle) {
        SysCloseHandle(FileHandle);
    }
    ResetState();
}

void TkvPEFileUtils::ResetState() {
    DataDirectories.clear();
    SectionsAsRead.clear();
    Sections.clear();
    SectionSources.clear();
    SectionData.clear();
    SectionIds.clear();
    SectionFeeds.clear();
    FreedTableEnd = 0;
    TableEndAsOpened = 0;
    CertificateData.reset();
    CertificateSize = 0;
    OverlayData.reset();
    OverlaySize = 0;
    SymbolTableData.reset();
    SymbolTableSize = 0;
    SymbolTableLoose = false;
    OffsetsMap.clear();
    LayoutOverflow = false;
    Modified = false;
    FileName.clear();
    FileHandle = kInvalidHandle;
}

// Each step returns false on failure: with LastErrorText set when the file
// is not a valid module, with the texts left empty when the OS failed.
bool TkvPEFileUtils::OpenModule(const WideString& fileName, bool readOnly) {
    FileName = fileName;
    ReadOnly = readOnly;
    FileHandle = CreateFileByPath(fileName, readOnly ? sys::kGenericRead : sys::kGenericRead | sys::kGenericWrite,
                                  readOnly ? sys::kFileShareRead : 0, nullptr, sys::kOpenExisting,
                                  sys::kFileAttributeNormal, nullptr);
    if (FileHandle == kInvalidHandle) {
        return false;
    }
    std::uint64_t size = 0;
    if (!GetFileSize64(FileHandle, size)) {
        return false;
    }
    ModuleSize = static_cast<std::uint32_t>(size);
    if (size > 0xFFFFFFFFu || ModuleSize < kMinimumModuleSize) {
        SetError(SInvalidPEFile);
        return false;
    }
    return ReadHeaders() && ReadOptionalHeader() && ReadDirectoriesAndSections() && RecordCertificate() &&
           RecordSymbolTable() && CheckLayoutAtOpen();
}

bool TkvPEFileUtils::ReadHeaders() {
    std::array<std::uint8_t, 4> word{};
    if (!SeekFile(FileHandle, sys::kFileBegin, kElfanewOffset) || !ReadExact(word.data(), 4)) {
        return false;
    }
    std::uint32_t const ntHeaders = ReadLe32(word, 0);
    if (std::uint64_t{ntHeaders} + 4 + TImageFileHeader::kSize + TImageOptionalHeader32::kSize > ModuleSize) {
        SetError(SInvalidPEFile);
        return false;
    }
    FileHeaderOffset = ntHeaders + 4;
    if (!SeekFile(FileHandle, sys::kFileBegin, ntHeaders) || !ReadExact(word.data(), 4)) {
        return false;
    }
    if (ReadLe32(word, 0) != kPeSignature) {
        SetError(SInvalidPEFile);
        return false;
    }
    std::array<std::uint8_t, TImageFileHeader::kSize> header{};
    std::array<std::uint8_t, 2> magic{};
    if (!ReadExact(header.data(), header.size()) || !ReadExact(magic.data(), magic.size()) ||
        !SeekFile(FileHandle, sys::kFileCurrent, -2)) {
        return false;
    }
    FileHeader = TImageFileHeader::Read(header);
    OptionalHeaderMagic = TByteReader(magic).U16();
    return true;
}

bool TkvPEFileUtils::ReadOptionalHeader() {
    std::uint32_t fileAlignment = 0;
    std::uint32_t sectionAlignment = 0;
    if (OptionalHeaderMagic == TImageOptionalHeader32::kMagic) {
        std::array<std::uint8_t, TImageOptionalHeader32::kSize> bytes{};
        if (!ReadExact(bytes.data(), bytes.size())) {
            return false;
        }
        OptionalHeader32 = TImageOptionalHeader32::Read(bytes);
        fileAlignment = OptionalHeader32.FileAlignment;
        sectionAlignment = OptionalHeader32.SectionAlignment;
    } else if (OptionalHeaderMagic == TImageOptionalHeader64::kMagic) {
        std::array<std::uint8_t, TImageOptionalHeader64::kSize> bytes{};
        if (std::uint64_t{FileHeaderOffset} + TImageFileHeader::kSize + bytes.size() > ModuleSize) {
            SetError(SInvalidPEFile);
            return false;
        }
        if (!ReadExact(bytes.data(), bytes.size())) {
            return false;
        }
        OptionalHeader64 = TImageOptionalHeader64::Read(bytes);
        fileAlignment = OptionalHeader64.FileAlignment;
        sectionAlignment = OptionalHeader64.SectionAlignment;
    }
    if (!IsPowerOfTwo(fileAlignment) || !IsPowerOfTwo(sectionAlignment)) {
        SetError(SInvalidPEFile);  // also an unknown magic, which leaves both 0
        return false;
    }
    return true;
}

std::uint32_t TkvPEFileUtils::OptionalHeaderSize() const {
    return OptionalHeaderMagic == TImageOptionalHeader64::kMagic ? TImageOptionalHeader64::kSize
                                                                 : TImageOptionalHeader32::kSize;
}

std::uint32_t TkvPEFileUtils::NumberOfRvaAndSizesOfHeader() const {
    return OptionalHeaderMagic == TImageOptionalHeader64::kMagic ? OptionalHeader64.NumberOfRvaAndSizes
                                                                 : OptionalHeader32.NumberOfRvaAndSizes;
}

// The section table starts where SizeOfOptionalHeader ends the optional
// header, as loaders find it; of the NumberOfRvaAndSizes directories only
// those that the optional header holds are read.
bool TkvPEFileUtils::ReadDirectoriesAndSections() {
    std::uint32_t const optionalHeaderSize = FileHeader.SizeOfOptionalHeader;
    std::uint64_t const tableStart = SectionTableStart();
    if (optionalHeaderSize < OptionalHeaderSize() ||
        tableStart + std::uint64_t{FileHeader.NumberOfSections} * TImageSectionHeader::kSize > ModuleSize) {
        SetError(SInvalidPEFile);
        return false;
    }
    std::uint64_t const directoryCount = std::min<std::uint64_t>(
        NumberOfRvaAndSizesOfHeader(), (optionalHeaderSize - OptionalHeaderSize()) / TImageDataDirectory::kSize);
    std::vector<std::uint8_t> bytes(directoryCount * TImageDataDirectory::kSize);
    if (!ReadExact(bytes.data(), static_cast<std::uint32_t>(bytes.size())) ||
        !SeekFile(FileHandle, sys::kFileBegin, static_cast<std::int64_t>(tableStart))) {
        return false;
    }
    DataDirectories.resize(directoryCount);
    std::span<const std::uint8_t> const all(bytes);
    for (std::size_t i = 0; i < DataDirectories.size(); ++i) {
        DataDirectories[i] = TImageDataDirectory::Read(all.subspan(i * TImageDataDirectory::kSize));
    }
    if (FileHeader.NumberOfSections == 0) {
        SetError(SInvalidPEFile);
        return false;
    }
    return ReadSectionTable();
}

bool TkvPEFileUtils::ReadSectionTable() {
    std::size_t const count = FileHeader.NumberOfSections;
    SectionsAsRead.resize(count);
    Sections.resize(count);
    SectionSources.resize(count);
    SectionData.resize(count);
    SectionIds.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::array<std::uint8_t, TImageSectionHeader::kSize> bytes{};
        if (!ReadExact(bytes.data(), bytes.size())) {
            return false;
        }
        SectionsAsRead[i] = TImageSectionHeader::Read(bytes);
        Sections[i] = SectionsAsRead[i];
        SectionSources[i] = static_cast<std::int32_t>(i);
        SectionIds[i] = static_cast<std::int32_t>(i);
        std::uint32_t const previous = i == 0 ? 0 : SectionsAsRead[i - 1].VirtualAddress;
        if (SectionsAsRead[i].VirtualAddress <= previous) {
            SetError(SInvalidPEFile);
            return false;
        }
    }
    return true;
}

// A section whose PointerToRawData is 0 has no raw data in the file and
// holds no file offset, whatever its SizeOfRawData says.
// Only sections with raw data in the file can hold an offset: one whose
// PointerToRawData is 0 has none, whatever its SizeOfRawData says.
std::int32_t TkvPEFileUtils::FindSectionAsReadByOffset(std::uint32_t offset) const {
    for (std::size_t i = 0; i < SectionsAsRead.size(); ++i) {
        auto const& section = SectionsAsRead[i];
        if (section.PointerToRawData != 0 && section.PointerToRawData <= offset &&
            offset < std::uint64_t{section.PointerToRawData} + section.SizeOfRawData) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

// The end of the furthest section raw data that starts in the file; raw
// data that starts past the end of the file holds none of its bytes.
std::uint64_t TkvPEFileUtils::SectionDataEnd() const {
    std::uint64_t end = 0;
    for (auto const& section : SectionsAsRead) {
        if (section.PointerToRawData != 0 && section.SizeOfRawData != 0 && section.PointerToRawData < ModuleSize) {
            end = std::max(end, std::uint64_t{section.PointerToRawData} + section.SizeOfRawData);
        }
    }
    return end;
}

std::uint64_t TkvPEFileUtils::SectionTableStart() const {
    return std::uint64_t{FileHeaderOffset} + TImageFileHeader::kSize + FileHeader.SizeOfOptionalHeader;
}

// The end of the section table, the last of the headers.
std::uint64_t TkvPEFileUtils::HeadersEnd() const {
    return SectionTableStart() + Sections.size() * TImageSectionHeader::kSize;
}

// Certificate data between the sections' raw data gets a region of its own;
// after all of it, it is part of the trailing data; inside a section it
// travels with that section. Either way it must lie within what holds it,
// and never in the headers, which the write-back rewrites.
bool TkvPEFileUtils::RecordCertificate() {
    CertificateSize = 0;
    if (DataDirectories.size() <= kCertificateDirectory || DataDirectories[kCertificateDirectory].Size == 0) {
        return true;
    }
    auto const [offset, size] = DataDirectories[kCertificateDirectory];
    if (offset < HeadersEnd()) {
        SetError(SInvalidPEFile);
        return false;
    }
    std::int32_t const holder = FindSectionAsReadByOffset(offset);
    std::uint64_t const end = std::uint64_t{offset} + size;
    if (holder >= 0) {
        auto const& section = SectionsAsRead[static_cast<std::size_t>(holder)];
        if (end > std::uint64_t{section.PointerToRawData} + section.SizeOfRawData) {
            SetError(SInvalidPEFile);
            return false;
        }
        return true;
    }
    if (offset < SectionDataEnd()) {
        if (end > ModuleSize) {
            SetError(SInvalidPEFile);
            return false;
        }
        CertificateOffset = offset;
        CertificateSize = size;
    }
    return true;
}

// The COFF symbol table and the string table behind it, kept as one block:
// 18 bytes a symbol, then the string table, whose first u32 is its size
// (the size word included). Inside a section's raw data the block travels
// with the section, after all raw data with the trailing data; in a gap
// between raw data it gets a region of its own. A block that does not fit
// in its gap cannot be kept whole, and the write-back refuses the module.
// A pointer into the headers names no table: the headers are no symbols.
bool TkvPEFileUtils::RecordSymbolTable() {
    SymbolTableSize = 0;
    SymbolTableLoose = false;
    std::uint32_t const offset = FileHeader.PointerToSymbolTable;
    if (FileHeader.NumberOfSymbols == 0 || offset < HeadersEnd() || offset >= SectionDataEnd() ||
        FindSectionAsReadByOffset(offset) >= 0) {
        return true;
    }
    std::uint64_t const strings = offset + FileHeader.NumberOfSymbols * kSymbolSize;
    std::uint64_t end = strings + kStringTableSizeField;
    if (end <= ModuleSize) {
        std::array<std::uint8_t, kStringTableSizeField> size{};
        if (!ReadFileData(size.data(), kStringTableSizeField, static_cast<std::int64_t>(strings), false)) {
            return false;
        }
        end = strings + std::max(ReadLe32(size, 0), kStringTableSizeField);
    }
    SymbolTableLoose = end > ModuleSize || OverlapsRawData(offset, end);
    if (!SymbolTableLoose) {
        SymbolTableOffset = offset;
        SymbolTableSize = static_cast<std::uint32_t>(end - offset);
    }
    return true;
}

// Whether [start, end) reaches into a section's raw data or the certificate
// data that has a region of its own.
bool TkvPEFileUtils::OverlapsRawData(std::uint64_t start, std::uint64_t end) const {
    auto const overlaps = [&](std::uint64_t offset, std::uint64_t size) {
        return size != 0 && offset < end && start < offset + size;
    };
    if (overlaps(CertificateOffset, CertificateSize)) {
        return true;
    }
    return std::any_of(SectionsAsRead.begin(), SectionsAsRead.end(), [&](const TImageSectionHeader& section) {
        return section.PointerToRawData != 0 && overlaps(section.PointerToRawData, section.SizeOfRawData);
    });
}

// Builds the layout map and refuses layouts the editor cannot keep apart:
// raw data that starts inside the headers, and regions beyond 4 GiB.
bool TkvPEFileUtils::CheckLayoutAtOpen() {
    BuildOffsetsMap();
    bool valid = !LayoutOverflow && OffsetsMap.size() >= 2 && OffsetsMap[0].Kind == ekDataDirectories &&
                 OffsetsMap[1].Kind == ekSectionTable;
    if (valid) {
        std::uint64_t const headersEnd = std::uint64_t{OffsetsMap[1].Offset} + OffsetsMap[1].Size;
        TableEndAsOpened = static_cast<std::uint32_t>(headersEnd);
        for (std::size_t i = 2; i < OffsetsMap.size(); ++i) {
            valid = valid && OffsetsMap[i].Offset >= headersEnd;
        }
    }
    if (!valid) {
        SetError(SInvalidPEFile);
    }
    return valid;
}
