#include "PointerChecks.h"

#include <algorithm>

namespace fuzzcheck {

namespace {

constexpr std::uint32_t kComparedBytes = 256;
constexpr std::int64_t kCheckedDebugEntries = 16;
constexpr std::uint32_t kSymbolSize = 18;

struct Span {
    std::uint64_t Offset = 0;
    std::uint64_t Size = 0;
    std::uint64_t End() const { return Offset + Size; }
};

bool Overlaps(Span a, Span b) { return a.Offset < b.End() && b.Offset < a.End(); }

Span RawDataOf(const RawSection& section) { return {section.PointerToRawData, section.SizeOfRawData}; }

// True when the bytes lie in the file, clear of the removed section's raw
// data, and wholly in a kept section's raw data or in the trailing data:
// places whose bytes the write-back keeps together.
bool Followed(const RawModule& raw, std::uint64_t fileSize, std::int32_t removed, Span bytes) {
    if (bytes.Size == 0 || bytes.End() > fileSize) {
        return false;
    }
    if (removed >= 0 && Overlaps(bytes, RawDataOf(raw.Sections[static_cast<std::size_t>(removed)]))) {
        return false;
    }
    if (bytes.Offset >= raw.TrailingDataStart(fileSize)) {
        return true;
    }
    for (std::size_t i = 0; i < raw.Sections.size(); ++i) {
        Span const data = RawDataOf(raw.Sections[i]);
        if (static_cast<std::int32_t>(i) != removed && raw.Sections[i].DataInFile(fileSize) &&
            data.Offset <= bytes.Offset && bytes.End() <= data.End()) {
            return true;
        }
    }
    return false;
}

// The debug directory's entries in the file as opened: their pointer
// fields follow the data they point at, so their bytes may change where
// other data lies over them.
Span DebugDirectoryBytes(const RawModule& raw) {
    if (raw.Directories.size() <= kDebugDirectory) {
        return {};
    }
    auto const [rva, size] = raw.Directories[kDebugDirectory];
    int const holder = raw.SectionByRva(rva);
    if (holder < 0) {
        return {};
    }
    auto const& section = raw.Sections[static_cast<std::size_t>(holder)];
    std::uint64_t const count = size % kDebugEntrySize == 0 ? size / kDebugEntrySize : size;
    return {std::uint64_t{section.PointerToRawData} + (rva - section.VirtualAddress), count * kDebugEntrySize};
}

// The bytes before, at their new offset after, apart from those in skip.
bool SameBytesAt(std::span<const std::uint8_t> input, Span before, const std::vector<std::uint8_t>& after,
                 std::uint64_t newOffset, Span skip) {
    if (newOffset + before.Size > after.size()) {
        return false;
    }
    for (std::uint64_t k = 0; k < before.Size; ++k) {
        std::uint64_t const at = before.Offset + k;
        bool const skipped = skip.Offset <= at && at < skip.End();
        if (!skipped && input[at] != after[newOffset + k]) {
            return false;
        }
    }
    return true;
}

std::string CheckCertificate(const RawModule& raw, std::span<const std::uint8_t> input,
                             const std::vector<std::uint8_t>& after, TkvPEFileUtils& reader, std::int32_t removed) {
    if (raw.Directories.size() <= kCertificateDirectory || raw.Directories[kCertificateDirectory].Size == 0) {
        return {};
    }
    auto const [offset, size] = raw.Directories[kCertificateDirectory];
    Span const bytes{offset, std::min(size, kComparedBytes)};
    bool const held = bytes.End() <= input.size() &&
                      (removed < 0 || !Overlaps(bytes, RawDataOf(raw.Sections[static_cast<std::size_t>(removed)])));
    if (!held) {
        return {};
    }
    auto const now = reader.GetDataDirectory(static_cast<std::int32_t>(kCertificateDirectory));
    if (now.Size != size || !SameBytesAt(input, bytes, after, now.RVA, DebugDirectoryBytes(raw))) {
        return "the certificate entry no longer leads to the certificate data";
    }
    return {};
}

std::string CheckSymbolTable(const RawModule& raw, std::span<const std::uint8_t> input,
                             const std::vector<std::uint8_t>& after, std::int32_t removed) {
    std::uint64_t const fileHeader = std::uint64_t{raw.NtOffset} + 4;
    std::uint32_t const pointer = Le32At(input, fileHeader + 8);
    std::uint32_t const count = Le32At(input, fileHeader + 12);
    Span const bytes{pointer, std::min<std::uint64_t>(std::uint64_t{count} * kSymbolSize, kComparedBytes)};
    if (count == 0 || pointer == 0 || !Followed(raw, input.size(), removed, bytes)) {
        return {};
    }
    if (!SameBytesAt(input, bytes, after, Le32At(after, fileHeader + 8), DebugDirectoryBytes(raw))) {
        return "PointerToSymbolTable no longer leads to the symbol table";
    }
    return {};
}

// The debug entries as the file holds them before the change: (SizeOfData,
// PointerToRawData) of the first entries that lie in the raw data.
std::vector<std::pair<std::uint32_t, std::uint32_t>> DebugEntriesBefore(const RawModule& raw,
                                                                        std::span<const std::uint8_t> input) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
    if (raw.Directories.size() <= kDebugDirectory) {
        return entries;
    }
    auto const [rva, size] = raw.Directories[kDebugDirectory];
    int const holder = raw.SectionByRva(rva);
    if (holder < 0 || (size % kDebugEntrySize != 0 && size >= kDebugEntrySize)) {
        return entries;
    }
    auto const& section = raw.Sections[static_cast<std::size_t>(holder)];
    std::uint64_t const count = size % kDebugEntrySize == 0 ? size / kDebugEntrySize : size;
    for (std::uint64_t j = 0; j < std::min<std::uint64_t>(count, kCheckedDebugEntries); ++j) {
        std::uint64_t const inSection = rva - section.VirtualAddress + j * kDebugEntrySize;
        std::uint64_t const at = section.PointerToRawData + inSection;
        if (inSection + kDebugEntrySize > section.SizeOfRawData || at + kDebugEntrySize > input.size()) {
            break;
        }
        entries.emplace_back(Le32At(input, at + 16), Le32At(input, at + 24));
    }
    return entries;
}

std::string CheckDebugData(const RawModule& raw, std::span<const std::uint8_t> input,
                           const std::vector<std::uint8_t>& after, TkvPEFileUtils& reader, std::int32_t removed) {
    auto const entries = DebugEntriesBefore(raw, input);
    std::int32_t const count = reader.GetDebugDirectoryCount();
    for (std::size_t j = 0; j < entries.size() && static_cast<std::int64_t>(j) < count; ++j) {
        auto const [size, pointer] = entries[j];
        Span const bytes{pointer, std::min(size, kComparedBytes)};
        TImageDebugDirectory entry;
        if (!Followed(raw, input.size(), removed, bytes) ||
            !reader.ReadDebugDirectoryEntry(static_cast<std::int32_t>(j), entry)) {
            continue;
        }
        if (!SameBytesAt(input, bytes, after, entry.PointerToRawData, DebugDirectoryBytes(raw))) {
            return "debug entry " + Num(static_cast<std::int64_t>(j)) + " no longer leads to its data";
        }
    }
    return {};
}

}  // namespace

std::string CheckPointersFollow(const RawModule& raw, std::span<const std::uint8_t> input,
                                const std::vector<std::uint8_t>& after, TkvPEFileUtils& reader,
                                std::int32_t removedSection, std::int32_t changedDirectory) {
    std::string failure;
    if (changedDirectory != static_cast<std::int32_t>(kCertificateDirectory)) {
        failure = CheckCertificate(raw, input, after, reader, removedSection);
    }
    if (failure.empty()) {
        failure = CheckSymbolTable(raw, input, after, removedSection);
    }
    if (failure.empty() && changedDirectory != static_cast<std::int32_t>(kDebugDirectory)) {
        failure = CheckDebugData(raw, input, after, reader, removedSection);
    }
    return failure;
}

}  // namespace fuzzcheck
