// Closing a module, with or without writing the model back in place.
#include <algorithm>
#include <new>

#include "FileSeek.h"
#include "kvPEFileUtils.h"
#include "uMsg_kvPEFileUtils.h"

using namespace uMsg_kvPEFileUtils;

namespace {

constexpr std::uint32_t kPageSize = 4096;
// The optional header's CheckSum field: 20 bytes of file header, then
// offset 64 in both optional header layouts.
constexpr std::uint32_t kChecksumFieldOffset = 20 + 64;

std::uint64_t AlignUp64(std::uint64_t value, std::uint32_t alignment) {
    return (value + alignment - 1) & ~std::uint64_t{alignment - 1};
}

std::u16string FormatSectionMemoryMessage(std::uint32_t size) {
    std::u16string text(SNotEnoughMemoryForSection);
    std::string const digits = std::to_string(size);
    text.replace(text.find(u"%d"), 2, std::u16string(digits.begin(), digits.end()));
    return text;
}

}  // namespace

bool TkvPEFileUtils::Close(bool applyChanges) {
    if (FileName.empty()) {
        return true;
    }
    LastErrorText.clear();
    LastOSError = 0;
    if (applyChanges) {
        WriteStartedFlag = false;
    }
    bool result = false;
    try {
        if (!applyChanges || !Modified) {
            result = true;
        } else if (ReadOnly) {
            SetError(SOpenedAsReadOnly);
            throw EOpenedAsReadOnly();
        } else {
            result = WriteBack();
        }
    } catch (...) {
        FinishClose(false);
        throw;
    }
    FinishClose(result);
    return result;
}

void TkvPEFileUtils::FinishClose(bool result) {
    if (!result && LastErrorText.empty() && LastOSError == 0) {
        LastOSError = SysGetLastError();
    }
    if (FileHandle != kInvalidHandle) {
        SysCloseHandle(FileHandle);
    }
    if (ChecksumHandle != kInvalidHandle) {
        SysCloseHandle(ChecksumHandle);
        ChecksumHandle = kInvalidHandle;
    }
    FileName.clear();
    ResetState();
}

bool TkvPEFileUtils::CheckWriteBack() {
    RequireWritable();
    LastErrorText.clear();
    LastOSError = 0;
    std::uint32_t headers = 0;
    std::uint32_t image = 0;
    if (!Modified || WriteBackChecks(headers, image)) {
        return true;
    }
    if (LastErrorText.empty() && LastOSError == 0) {
        LastOSError = SysGetLastError();
    }
    return false;
}

// Everything that can be checked or read is done before the first write, so
// that a refusal leaves the file untouched; the header sizes to write come
// out of it. Running it again repeats no work.
bool TkvPEFileUtils::WriteBackChecks(std::uint32_t& headers, std::uint32_t& image) {
    if (GetSectionAlignment() < kPageSize) {
        SetError(SSectionAlignmentTooSmall);
        return false;
    }
    // Headers that lag behind the layout map (a fix-up that failed, or
    // regions placed apart at opening) would be written with stale offsets
    // and the file cut at the wrong place: bring them in line or refuse.
    if (LayoutChanged && !UpdateFileOffsets()) {
        if (LastErrorText.empty() && LastOSError == 0) {
            SetError(SInvalidPEFile);
        }
        return false;
    }
    return CheckLayoutForWriteBack() && CheckUnmappedData() && ReadBackMovedRegions() && ComputeSizes(headers, image);
}

bool TkvPEFileUtils::WriteBack() {
    std::uint32_t headers = 0;
    std::uint32_t image = 0;
    if (!WriteBackChecks(headers, image)) {
        return false;
    }
    bool hadChecksum = false;
    auto update = [&](auto& header) {
        header.SizeOfHeaders = headers;
        header.SizeOfImage = image;
        hadChecksum = header.CheckSum != 0;
        header.CheckSum = 0;
    };
    IsPE32Plus() ? update(OptionalHeader64) : update(OptionalHeader32);
    return WriteModel() && (!hadChecksum || StoreChecksum());
}

// Refuses a map whose regions overlap or reach beyond 4 GiB, and sections
// whose raw data is not wholly in the file: writing them would overwrite
// good bytes or make up missing ones.
bool TkvPEFileUtils::CheckLayoutForWriteBack() {
    bool valid = !LayoutOverflow && OffsetsMap.size() >= 2 && OffsetsMap[0].Kind == ekDataDirectories &&
                 OffsetsMap[1].Kind == ekSectionTable;
    for (std::size_t i = 1; valid && i < OffsetsMap.size(); ++i) {
        valid = OffsetsMap[i].Offset >= std::uint64_t{OffsetsMap[i - 1].Offset} + OffsetsMap[i - 1].Size;
    }
    for (std::size_t i = 0; valid && i < Sections.size(); ++i) {
        if (SectionData[i] || FeedOf(i) != nullptr || Sections[i].PointerToRawData == 0 ||
            Sections[i].SizeOfRawData == 0) {
            continue;
        }
        auto const& source = SectionsAsRead[static_cast<std::size_t>(SectionSources[i])];
        valid = std::uint64_t{source.PointerToRawData} + Sections[i].SizeOfRawData <= ModuleSize;
    }
    if (!valid) {
        SetError(SInvalidPEFile);
    }
    return valid;
}

// Data outside the layout map must come through: a data directory's data
// in the header area and other bytes in the room after the section table,
// which the headers must not grow over, and a symbol table that no region
// could take whole.
bool TkvPEFileUtils::CheckUnmappedData() {
    std::uint64_t const headersEnd = std::uint64_t{OffsetsMap[1].Offset} + OffsetsMap[1].Size;
    if (HeadersReachNamedData(headersEnd)) {
        SetError(SHeadersReachNamedData);
        return false;
    }
    if (!CheckHeaderRoom(headersEnd, nullptr, SHeadersReachOtherData)) {
        return false;
    }
    if (SymbolTableLoose) {
        SetError(SSymbolTableNotKept);
        return false;
    }
    return true;
}

bool TkvPEFileUtils::ReadBackMovedRegions() {
    for (std::size_t i = 0; i < Sections.size(); ++i) {
        if (Sections[i].SizeOfRawData != 0 && SectionSources[i] != -1 && !SectionData[i] &&
            Sections[i].PointerToRawData !=
                SectionsAsRead[static_cast<std::size_t>(SectionSources[i])].PointerToRawData &&
            !ReadBackSection(static_cast<std::int32_t>(i))) {
            return false;
        }
    }
    if (!ReadBackRegion(ekCertificates, CertificateData, CertificateOffset, CertificateSize) ||
        !ReadBackRegion(ekSymbolTable, SymbolTableData, SymbolTableOffset, SymbolTableSize)) {
        return false;
    }
    return OverlaySize == 0 || OverlayData || OverlayOffset == OverlayNewOffset ||
           ReadBackBlock(OverlayData, OverlayOffset, OverlaySize);
}

bool TkvPEFileUtils::ReadBackSection(std::int32_t index) {
    auto const at = static_cast<std::size_t>(index);
    std::uint32_t const size = Sections[at].SizeOfRawData;
    std::uint32_t const from = SectionsAsRead[static_cast<std::size_t>(SectionSources[at])].PointerToRawData;
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        SetError(FormatSectionMemoryMessage(size));
        return false;
    }
    if (!SeekFile(FileHandle, sys::kFileBegin, from)) {
        SetOSErrorOr(sys::kErrorReadFault);
        return false;
    }
    if (!ReadExact(buffer.data(), size)) {
        SetOSErrorOr(sys::kErrorHandleEof);
        return false;
    }
    SectionData[at] = std::move(buffer);
    return true;
}

// The whole block must be read: a short read fails the write-back.
bool TkvPEFileUtils::ReadBackBlock(std::optional<std::vector<std::uint8_t>>& target, std::uint32_t offset,
                                   std::uint32_t size) {
    std::vector<std::uint8_t> buffer(size);
    if (!ReadFileData(buffer.data(), size, offset, false)) {
        if (LastOSError == 0) {
            LastOSError = sys::kErrorHandleEof;
        }
        return false;
    }
    target = std::move(buffer);
    return true;
}

// A block with a region of its own (certificates, symbol table), read
// back when its region moved.
bool TkvPEFileUtils::ReadBackRegion(std::uint8_t kind, std::optional<std::vector<std::uint8_t>>& target,
                                    std::uint32_t offset, std::uint32_t size) {
    return size == 0 || target || FindOffsetsMapEntryOffset(kind, {}) == offset || ReadBackBlock(target, offset, size);
}

// SizeOfHeaders: the end of the section table, or of data that a directory
// names in the header area if that ends later, rounded to the file
// alignment; SizeOfImage: the end of the last section as the loader maps
// it, rounded to the section alignment. False when either is beyond 4 GiB.
bool TkvPEFileUtils::ComputeSizes(std::uint32_t& headers, std::uint32_t& image) {
    std::uint64_t headerEnd = static_cast<std::uint64_t>(FindOffsetsMapEntryOffset(ekSectionTable, {})) +
                              static_cast<std::uint64_t>(FindOffsetsMapEntrySize(ekSectionTable, {}));
    for (auto const& range : HeaderAreaData()) {
        headerEnd = std::max<std::uint64_t>(headerEnd, range.second);
    }
    headerEnd = AlignUp64(headerEnd, GetFileAlignment());
    std::uint64_t imageEnd = GetSectionAlignment();
    if (!Sections.empty()) {
        imageEnd = AlignUp64(std::uint64_t{Sections.back().VirtualAddress} + Sections.back().MappedSize(),
                             GetSectionAlignment());
    }
    if (headerEnd > 0xFFFFFFFFu || imageEnd > 0xFFFFFFFFu) {
        SetError(SInvalidPEFile);
        return false;
    }
    headers = static_cast<std::uint32_t>(headerEnd);
    image = static_cast<std::uint32_t>(imageEnd);
    return true;
}

// Raw data beyond the old end of the file goes first and reaches the disk
// before the headers name it: a module cut off before the header write
// still reads as the module it was, with data after its last section.
bool TkvPEFileUtils::WriteModel() {
    if (!WriteSectionsData(true)) {
        return false;
    }
    if (WriteStartedFlag && !SysFlushFileBuffers(FileHandle)) {
        SetOSErrorOr(sys::kErrorWriteFault);
        return false;
    }
    if (!WriteHeaders() || !WriteSectionsData(false) || !WriteMovedBlocks()) {
        return false;
    }
    WriteStartedFlag = true;
    if (!SeekFile(FileHandle, sys::kFileBegin, GetLayoutEnd()) || !SysSetEndOfFile(FileHandle)) {
        SetOSErrorOr(sys::kErrorWriteFault);
        return false;
    }
    SysHandle const handle = FileHandle;
    FileHandle = kInvalidHandle;
    if (!SysCloseHandle(handle)) {
        SetOSErrorOr(sys::kErrorWriteFault);
        return false;
    }
    return true;
}

// The file header, the optional header, the data directories and the
// section table, one after the other.
bool TkvPEFileUtils::WriteHeaders() {
    if (!SeekFile(FileHandle, sys::kFileBegin, FileHeaderOffset)) {
        SetOSErrorOr(sys::kErrorWriteFault);
        return false;
    }
    auto const fileHeader = FileHeader.ToBytes();
    if (!WriteExact(FileHandle, fileHeader.data(), fileHeader.size())) {
        return false;
    }
    bool const written = IsPE32Plus()
                             ? WriteExact(FileHandle, OptionalHeader64.ToBytes().data(), TImageOptionalHeader64::kSize)
                             : WriteExact(FileHandle, OptionalHeader32.ToBytes().data(), TImageOptionalHeader32::kSize);
    if (!written) {
        return false;
    }
    if (!DataDirectories.empty()) {
        std::vector<std::uint8_t> bytes;
        for (auto const& directory : DataDirectories) {
            auto const entry = directory.ToBytes();
            bytes.insert(bytes.end(), entry.begin(), entry.end());
        }
        if (!WriteExact(FileHandle, bytes.data(), static_cast<std::uint32_t>(bytes.size()))) {
            return false;
        }
    }
    // The section table starts where SizeOfOptionalHeader ends the optional
    // header, past any directory slots the optional header holds unused.
    if (!SeekFile(FileHandle, sys::kFileBegin, OffsetsMap[1].Offset)) {
        SetOSErrorOr(sys::kErrorWriteFault);
        return false;
    }
    for (auto const& section : Sections) {
        auto const bytes = section.ToBytes();
        if (!WriteExact(FileHandle, bytes.data(), bytes.size())) {
            return false;
        }
    }
    return ClearFreedHeaders();
}

// The headers of removed sections beyond the end of the table become zeros,
// as linkers leave the room after a table; nothing but the table was there,
// unless a region has since moved in.
bool TkvPEFileUtils::ClearFreedHeaders() {
    std::uint32_t const tableEnd = OffsetsMap[1].Offset + OffsetsMap[1].Size;
    std::uint32_t const end = OffsetsMap.size() > 2 ? std::min(FreedTableEnd, OffsetsMap[2].Offset) : FreedTableEnd;
    if (end <= tableEnd) {
        return true;
    }
    std::vector<std::uint8_t> const zeros(end - tableEnd);
    return WriteAt(tableEnd, zeros.data(), static_cast<std::uint32_t>(zeros.size()));
}

// The sections held in memory (moved, loaded or added) that lie beyond the
// old end of the file, or the others.
bool TkvPEFileUtils::WriteSectionsData(bool beyondOldEnd) {
    for (std::size_t i = 0; i < Sections.size(); ++i) {
        if ((Sections[i].PointerToRawData >= ModuleSize) != beyondOldEnd) {
            continue;
        }
        if (SectionData[i] ? !WriteAt(Sections[i].PointerToRawData, SectionData[i]->data(), Sections[i].SizeOfRawData)
                           : FeedOf(i) != nullptr && !WriteFedSection(i)) {
            return false;
        }
    }
    return true;
}

const TSectionDataSource* TkvPEFileUtils::FeedOf(std::size_t index) const {
    auto const found = SectionFeeds.find(SectionIds[index]);
    return found == SectionFeeds.end() ? nullptr : &found->second;
}

// An added section's data, taken from its source piece by piece.
bool TkvPEFileUtils::WriteFedSection(std::size_t index) {
    auto const& section = Sections[index];
    if (!SeekFile(FileHandle, sys::kFileBegin, section.PointerToRawData)) {
        SetOSErrorOr(sys::kErrorWriteFault);
        return false;
    }
    std::vector<std::uint8_t> buffer(std::min(section.SizeOfRawData, kCopyChunkSize));
    for (std::uint32_t done = 0; done < section.SizeOfRawData;) {
        std::uint32_t const piece = std::min(section.SizeOfRawData - done, kCopyChunkSize);
        SysSetLastError(0);
        if (!(*FeedOf(index))(done, buffer.data(), piece)) {
            SetOSErrorOr(sys::kErrorReadFault);
            return false;
        }
        if (!WriteExact(FileHandle, buffer.data(), piece)) {
            return false;
        }
        done += piece;
    }
    return true;
}

// The certificate, the symbol table and the trailing data, when they moved.
bool TkvPEFileUtils::WriteMovedBlocks() {
    if (!WriteRegion(ekCertificates, CertificateData) || !WriteRegion(ekSymbolTable, SymbolTableData)) {
        return false;
    }
    return !OverlayData || WriteAt(OverlayNewOffset, OverlayData->data(), OverlaySize);
}

bool TkvPEFileUtils::WriteRegion(std::uint8_t kind, const std::optional<std::vector<std::uint8_t>>& data) {
    return !data || WriteAt(static_cast<std::uint32_t>(FindOffsetsMapEntryOffset(kind, {})), data->data(),
                            static_cast<std::uint32_t>(data->size()));
}

// The checksum of the file as written (its CheckSum field now 0), stored
// through a second open of the closed file.
bool TkvPEFileUtils::StoreChecksum() {
    std::uint32_t headerSum = 0;
    std::uint32_t checkSum = 0;
    if (ComputeChecksum(FileName, headerSum, checkSum) != 0) {
        SetError(SChecksumFailed);
        return false;
    }
    ChecksumHandle = CreateFileByPath(FileName, sys::kGenericWrite, sys::kFileShareRead, nullptr, sys::kOpenExisting,
                                      sys::kFileAttributeNormal, nullptr);
    if (ChecksumHandle == kInvalidHandle) {
        SetOSErrorOr(sys::kErrorAccessDenied);
        return false;
    }
    std::array<std::uint8_t, 4> bytes{};
    WriteLe32(bytes, 0, checkSum);
    if (!SeekFile(ChecksumHandle, sys::kFileBegin, std::int64_t{FileHeaderOffset} + kChecksumFieldOffset)) {
        SetOSErrorOr(sys::kErrorWriteFault);
        return false;
    }
    if (!WriteExact(ChecksumHandle, bytes.data(), bytes.size())) {
        return false;
    }
    SysHandle const handle = ChecksumHandle;
    ChecksumHandle = kInvalidHandle;
    if (!SysCloseHandle(handle)) {
        SetOSErrorOr(sys::kErrorWriteFault);
        return false;
    }
    return true;
}
