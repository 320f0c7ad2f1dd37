#include "EditorQueries.h"

#include <algorithm>
#include <vector>

#include "WideText.h"

namespace fuzzcheck {

namespace {

constexpr std::uint32_t kMaxPieceSize = 1u << 16;
constexpr std::size_t kMaxCheckedSections = 32;
constexpr std::int64_t kMaxCheckedDebugEntries = 64;

bool SameBytes(const std::vector<std::uint8_t>& read, std::span<const std::uint8_t> input, std::uint64_t at,
               std::uint32_t size) {
    return at + size <= input.size() && std::equal(read.begin(), read.begin() + size, input.begin() + at);
}

std::string CheckHeaders(TkvPEFileUtils& editor, const RawModule& raw, std::span<const std::uint8_t> input) {
    if (editor.GetModuleSize() != input.size()) {
        return "GetModuleSize " + Num(editor.GetModuleSize()) + " for a file of " + Num(input.size());
    }
    if (editor.IsPE32Plus() != raw.Pe32Plus) {
        return "IsPE32Plus disagrees with the optional header magic";
    }
    if (!TkvPEFileUtils::IsPowerOfTwo(editor.GetFileAlignment()) ||
        !TkvPEFileUtils::IsPowerOfTwo(editor.GetSectionAlignment())) {
        return "an opened module has an alignment that is not a power of two";
    }
    if (editor.GetDataDirectoryCount() != static_cast<std::int64_t>(raw.Directories.size())) {
        return "GetDataDirectoryCount " + Num(editor.GetDataDirectoryCount()) + ", the header says " +
               Num(raw.Directories.size());
    }
    for (std::size_t i = 0; i < raw.Directories.size(); ++i) {
        auto const entry = editor.GetDataDirectory(static_cast<std::int32_t>(i));
        if (entry.RVA != raw.Directories[i].RVA || entry.Size != raw.Directories[i].Size) {
            return "GetDataDirectory(" + Num(i) + ") differs from the file";
        }
    }
    if (editor.GetSectionCount() != static_cast<std::int64_t>(raw.Sections.size())) {
        return "GetSectionCount " + Num(editor.GetSectionCount()) + ", the header says " + Num(raw.Sections.size());
    }
    for (std::size_t i = 0; i < raw.Sections.size(); ++i) {
        auto const index = static_cast<std::int32_t>(i);
        if (editor.GetSectionHeader(index).ToBytes() != raw.Sections[i].Bytes) {
            return "GetSectionHeader(" + Num(i) + ") differs from the file";
        }
        auto const& bytes = raw.Sections[i].Bytes;
        std::string const name(bytes.begin(), std::find(bytes.begin(), bytes.begin() + 8, 0));
        if (editor.GetSectionName(index) != name) {
            return "GetSectionName(" + Num(i) + ") is not the name field up to its first zero";
        }
    }
    std::uint64_t const tableEnd = raw.SectionTableOffset + 40 * raw.Sections.size();
    if (editor.GetLayoutEnd() < tableEnd) {
        return "GetLayoutEnd " + Num(editor.GetLayoutEnd()) + " ends before the section table";
    }
    return {};
}

// One ReadFileData call: true exactly when the bytes lie in the file, and
// then they are the file's bytes.
std::string CheckFileRead(TkvPEFileUtils& editor, std::span<const std::uint8_t> input, std::int64_t offset,
                          bool fromEnd, std::uint32_t size) {
    std::vector<std::uint8_t> buffer(std::max<std::uint32_t>(size, 1));
    bool const read = editor.ReadFileData(buffer.data(), size, offset, fromEnd);
    std::int64_t const position = fromEnd ? static_cast<std::int64_t>(input.size()) + offset : offset;
    bool const expected =
        position >= 0 && (size == 0 || static_cast<std::uint64_t>(position) + size <= input.size());
    std::string const call = "ReadFileData(size " + Num(size) + ", offset " + Num(offset) +
                             (fromEnd ? " from the end" : "") + ") of a " + Num(input.size()) + "-byte file";
    if (read != expected) {
        return call + (read ? " succeeded" : " failed");
    }
    if (read && size != 0 && !SameBytes(buffer, input, static_cast<std::uint64_t>(position), size)) {
        return call + " gave other bytes than the file holds";
    }
    return {};
}

std::string CheckFileReads(TkvPEFileUtils& editor, std::span<const std::uint8_t> input, InputChoices& choices) {
    auto const fileSize = static_cast<std::int64_t>(input.size());
    std::int64_t const fromStart[] = {0,  fileSize / 2, fileSize - 1, fileSize, fileSize + 1,
                                      -1, choices.Below(static_cast<std::uint32_t>(fileSize) + 8),
                                      (std::int64_t{1} << 32) + choices.Below(16)};
    std::int64_t const fromEnd[] = {-fileSize, -fileSize - 1, -1, -8, 0, 1,
                                    -static_cast<std::int64_t>(choices.Below(static_cast<std::uint32_t>(fileSize) + 8))};
    auto const pickSize = [&] {
        std::uint32_t const sizes[] = {0, 1, 4, choices.Below(std::min<std::uint32_t>(kMaxPieceSize, fileSize + 8))};
        return sizes[choices.Below(4)];
    };
    for (std::int64_t const offset : fromStart) {
        if (auto failure = CheckFileRead(editor, input, offset, false, pickSize()); !failure.empty()) {
            return failure;
        }
    }
    for (std::int64_t const offset : fromEnd) {
        if (auto failure = CheckFileRead(editor, input, offset, true, pickSize()); !failure.empty()) {
            return failure;
        }
    }
    return {};
}

// One ReadSectionData call within the section's raw size: it succeeds
// exactly when the raw data is empty or wholly in the file.
std::string CheckSectionRead(TkvPEFileUtils& editor, const RawSection& section, std::int32_t index,
                             std::span<const std::uint8_t> input, std::uint32_t offset, std::uint32_t size) {
    std::vector<std::uint8_t> buffer(std::max<std::uint32_t>(size, 1));
    bool const read = editor.ReadSectionData(index, offset, buffer.data(), size);
    bool const expected = section.SizeOfRawData == 0 || section.DataInFile(input.size());
    std::string const call =
        "ReadSectionData(" + Num(index) + ", offset " + Num(offset) + ", size " + Num(size) + ")";
    if (read != expected) {
        return call + (read ? " succeeded for raw data outside the file" : " failed: " +
                                                                             WideToUtf8(editor.GetLastErrorText()));
    }
    if (read && size != 0 && !SameBytes(buffer, input, std::uint64_t{section.PointerToRawData} + offset, size)) {
        return call + " gave other bytes than the file holds";
    }
    return {};
}

std::string CheckSectionReads(TkvPEFileUtils& editor, const RawModule& raw, std::span<const std::uint8_t> input) {
    for (std::size_t i = 0; i < std::min(raw.Sections.size(), kMaxCheckedSections); ++i) {
        auto const& section = raw.Sections[i];
        auto const index = static_cast<std::int32_t>(i);
        std::uint32_t const whole = section.DataInFile(input.size()) ? section.SizeOfRawData
                                                                      : std::min<std::uint32_t>(section.SizeOfRawData, 16);
        if (auto failure = CheckSectionRead(editor, section, index, input, 0, whole); !failure.empty()) {
            return failure;
        }
        if (section.SizeOfRawData >= 4) {
            auto failure = CheckSectionRead(editor, section, index, input, section.SizeOfRawData - 4, 4);
            if (!failure.empty()) {
                return failure;
            }
        }
    }
    return {};
}

std::string CheckDebugEntry(TkvPEFileUtils& editor, const RawModule& raw, std::span<const std::uint8_t> input,
                            std::int32_t index) {
    TImageDebugDirectory entry;
    if (!editor.ReadDebugDirectoryEntry(index, entry)) {
        return editor.GetLastErrorText().empty() ? "ReadDebugDirectoryEntry failed without a reason" : "";
    }
    std::uint32_t const rva = raw.Directories[kDebugDirectory].RVA;
    int const holder = raw.SectionByRva(rva);
    if (holder < 0) {
        return "ReadDebugDirectoryEntry read an entry of a directory in no section";
    }
    auto const& section = raw.Sections[static_cast<std::size_t>(holder)];
    std::uint64_t const at = std::uint64_t{section.PointerToRawData} + (rva - section.VirtualAddress) +
                             std::uint64_t{kDebugEntrySize} * static_cast<std::uint32_t>(index);
    auto const bytes = entry.ToBytes();
    if (at + kDebugEntrySize > input.size() || !std::equal(bytes.begin(), bytes.end(), input.begin() + at)) {
        return "ReadDebugDirectoryEntry(" + Num(index) + ") gave other bytes than the file holds";
    }
    return {};
}

std::string CheckDebugDirectory(TkvPEFileUtils& editor, const RawModule& raw, std::span<const std::uint8_t> input) {
    std::int32_t const count = editor.GetDebugDirectoryCount();
    if (count < 0) {
        return editor.GetLastErrorText().empty() ? "GetDebugDirectoryCount failed without a reason" : "";
    }
    if (count > 0 && raw.Directories.size() <= kDebugDirectory) {
        return "GetDebugDirectoryCount " + Num(count) + " without a debug directory";
    }
    std::int64_t const first = std::min<std::int64_t>(count, kMaxCheckedDebugEntries);
    for (std::int64_t j = 0; j < first; ++j) {
        if (auto failure = CheckDebugEntry(editor, raw, input, static_cast<std::int32_t>(j)); !failure.empty()) {
            return failure;
        }
    }
    return count > first ? CheckDebugEntry(editor, raw, input, count - 1) : "";
}

std::string CheckFindSection(TkvPEFileUtils& editor, const RawModule& raw, InputChoices& choices) {
    for (std::size_t i = 0; i < std::min(raw.Sections.size(), kMaxCheckedSections); ++i) {
        auto const& section = raw.Sections[i];
        std::uint32_t const rvas[] = {section.VirtualAddress, section.VirtualAddress + section.VirtualSize - 1,
                                      section.VirtualAddress + section.VirtualSize,
                                      section.VirtualAddress + choices.Below(section.VirtualSize + 1)};
        for (std::uint32_t const rva : rvas) {
            if (editor.FindSectionByRva(rva) != raw.SectionByRva(rva)) {
                return "FindSectionByRva(" + Num(rva) + ") gave " + Num(editor.FindSectionByRva(rva)) +
                       ", the first section holding it is " + Num(raw.SectionByRva(rva));
            }
        }
    }
    return {};
}

}  // namespace

std::string CheckQueries(TkvPEFileUtils& editor, const RawModule& raw, std::span<const std::uint8_t> input,
                         InputChoices& choices) {
    std::string failure = CheckHeaders(editor, raw, input);
    if (failure.empty()) {
        failure = CheckFileReads(editor, input, choices);
    }
    if (failure.empty()) {
        failure = CheckSectionReads(editor, raw, input);
    }
    if (failure.empty()) {
        failure = CheckDebugDirectory(editor, raw, input);
    }
    if (failure.empty()) {
        failure = CheckFindSection(editor, raw, choices);
    }
    return failure;
}

}  // namespace fuzzcheck
