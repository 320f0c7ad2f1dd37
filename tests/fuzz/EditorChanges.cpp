#include "EditorChanges.h"

#include <algorithm>
#include <exception>

#include "PointerChecks.h"
#include "ScratchFiles.h"
#include "SysApi.h"
#include "TestFiles.h"
#include "TestModuleBuilder.h"
#include "WideText.h"

namespace fuzzcheck {

namespace {

constexpr std::size_t kFullDirectoryCount = 16;
constexpr std::uint32_t kPointerFieldOffset = 24;  // PointerToRawData in a debug entry

// The bytes of one section's raw data that the write-back may change: the
// PointerToRawData fields of debug directory entries, which follow the data
// they point at.
struct DebugPointerFields {
    int Section = -1;
    std::uint64_t Start = 0;  // offset of the directory in the section's raw data
    std::uint64_t Count = 0;

    bool Covers(int section, std::uint64_t offset) const {
        if (section != Section || offset < Start || offset - Start >= Count * kDebugEntrySize) {
            return false;
        }
        return (offset - Start) % kDebugEntrySize >= kPointerFieldOffset;
    }
};

// The fields of the directory at directory.RVA, in the first section whose
// virtual extent holds it; index is the section's place in the table as
// opened.
DebugPointerFields PointerFieldsIn(const std::vector<std::pair<int, RawSection>>& sections,
                                   TImageDataDirectory directory) {
    DebugPointerFields fields;
    for (auto const& [index, section] : sections) {
        if (section.HoldsRva(directory.RVA)) {
            fields.Section = index;
            fields.Start = directory.RVA - section.VirtualAddress;
            fields.Count = directory.Size % kDebugEntrySize == 0 ? directory.Size / kDebugEntrySize : directory.Size;
            break;
        }
    }
    return fields;
}

TImageDataDirectory DirectoryAt(const RawModule& raw, std::size_t index) {
    return index < raw.Directories.size() ? TImageDataDirectory{raw.Directories[index].RVA, raw.Directories[index].Size}
                                          : TImageDataDirectory{};
}

// The section table before and after the change, as the editor sees it:
// a removed middle section's address range goes to the section before it.
std::vector<std::vector<std::pair<int, RawSection>>> SectionViews(const RawModule& raw, const EditorChange& change) {
    std::vector<std::pair<int, RawSection>> before;
    for (std::size_t i = 0; i < raw.Sections.size(); ++i) {
        before.emplace_back(static_cast<int>(i), raw.Sections[i]);
    }
    auto after = before;
    auto const removed = static_cast<std::size_t>(change.RemovedSection);
    if (change.RemovedSection >= 0) {
        if (removed > 0 && removed + 1 < after.size()) {
            after[removed - 1].second.VirtualSize =
                after[removed + 1].second.VirtualAddress - after[removed - 1].second.VirtualAddress;
        }
        after.erase(after.begin() + change.RemovedSection);
    }
    return {before, after};
}

// Where the write-back may rebase debug entry pointers: the directory as
// opened and as the change set it, in either view of the section table.
std::vector<DebugPointerFields> RebasedFields(const RawModule& raw, const EditorChange& change) {
    std::vector<TImageDataDirectory> directories{DirectoryAt(raw, kDebugDirectory)};
    if (change.Directory && change.Directory->first == static_cast<std::int32_t>(kDebugDirectory)) {
        directories.push_back(change.Directory->second);
    }
    std::vector<DebugPointerFields> fields;
    for (auto const& view : SectionViews(raw, change)) {
        for (auto const& directory : directories) {
            fields.push_back(PointerFieldsIn(view, directory));
        }
    }
    return fields;
}

std::string CheckSectionData(TkvPEFileUtils& reader, const RawModule& raw, std::span<const std::uint8_t> input,
                             const EditorChange& change, std::int32_t index, int original) {
    auto const& section = raw.Sections[static_cast<std::size_t>(original)];
    if (!section.DataInFile(input.size())) {
        return {};
    }
    std::vector<std::uint8_t> data(section.SizeOfRawData);
    if (!reader.ReadSectionData(index, 0, data.data(), section.SizeOfRawData)) {
        return "the raw data of section " + Num(index) + " cannot be read back: " +
               WideToUtf8(reader.GetLastErrorText());
    }
    auto const rebased = RebasedFields(raw, change);
    auto const mayChange = [&](std::uint32_t k) {
        return std::any_of(rebased.begin(), rebased.end(),
                           [&](const DebugPointerFields& fields) { return fields.Covers(original, k); });
    };
    for (std::uint32_t k = 0; k < section.SizeOfRawData; ++k) {
        if (data[k] != input[section.PointerToRawData + k] && !mayChange(k)) {
            return "byte " + Num(k) + " of section " + Num(index) + " changed in the write-back";
        }
    }
    return {};
}

std::string CheckSections(TkvPEFileUtils& reader, const RawModule& raw, std::span<const std::uint8_t> input,
                          const EditorChange& change) {
    std::int32_t const removed = change.RemovedSection;
    auto const count = static_cast<std::int32_t>(raw.Sections.size()) - (removed >= 0 ? 1 : 0);
    if (reader.GetSectionCount() != count) {
        return "the written module has " + Num(reader.GetSectionCount()) + " sections, not " + Num(count);
    }
    for (std::int32_t j = 0; j < count; ++j) {
        int const original = removed >= 0 && j >= removed ? j + 1 : j;
        auto const& before = raw.Sections[static_cast<std::size_t>(original)];
        auto const after = reader.GetSectionHeader(j);
        // A middle section's address range goes to the section before it.
        bool const grows = original + 1 == removed && removed + 1 < static_cast<std::int32_t>(raw.Sections.size());
        if (!std::equal(after.Name.begin(), after.Name.end(), before.Bytes.begin()) ||
            after.VirtualAddress != before.VirtualAddress || after.SizeOfRawData != before.SizeOfRawData ||
            after.Characteristics != before.Characteristics || (!grows && after.VirtualSize != before.VirtualSize)) {
            return "section " + Num(j) + " came back with other header fields";
        }
        if (auto failure = CheckSectionData(reader, raw, input, change, j, original); !failure.empty()) {
            return failure;
        }
    }
    return {};
}

std::string CheckDirectories(TkvPEFileUtils& reader, const RawModule& raw, const EditorChange& change) {
    bool const widened = change.Directory && raw.Directories.size() <= static_cast<std::size_t>(change.Directory->first);
    std::size_t const count = widened ? kFullDirectoryCount : raw.Directories.size();
    if (static_cast<std::size_t>(reader.GetDataDirectoryCount()) != count) {
        return "the written module has " + Num(reader.GetDataDirectoryCount()) + " data directories, not " +
               Num(count);
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (i == kCertificateDirectory) {
            continue;  // its offset follows the certificate data
        }
        TImageDataDirectory expected = DirectoryAt(raw, i);
        if (change.Directory && static_cast<std::size_t>(change.Directory->first) == i) {
            expected = change.Directory->second;
        }
        if (reader.GetDataDirectory(static_cast<std::int32_t>(i)) != expected) {
            return "data directory " + Num(i) + " came back changed";
        }
    }
    return {};
}

std::string CheckFileAsWritten(const RawModule& raw, std::span<const std::uint8_t> input, const Bytes& after,
                               std::uint32_t layoutEnd) {
    if (after.size() != layoutEnd) {
        return "the file was cut at " + Num(after.size()) + ", the layout ends at " + Num(layoutEnd);
    }
    std::size_t const untouched = std::size_t{raw.NtOffset} + 4;
    if (after.size() < untouched || !std::equal(input.begin(), input.begin() + untouched, after.begin())) {
        return "the DOS header, stub or PE signature changed";
    }
    if (auto failure = CheckChecksum(raw, after); !failure.empty()) {
        return failure;
    }
    bool const certificates = raw.Directories.size() > kCertificateDirectory &&
                              raw.Directories[kCertificateDirectory].Size != 0;
    std::uint64_t const trailing = input.size() - raw.TrailingDataStart(input.size());
    if (!certificates && trailing != 0 &&
        (after.size() < trailing || !std::equal(input.end() - static_cast<std::ptrdiff_t>(trailing), input.end(),
                                                after.end() - static_cast<std::ptrdiff_t>(trailing)))) {
        return "the trailing data no longer ends the file";
    }
    return {};
}

// A certificate entry that reaches past the end of the file, or whose data
// starts in the removed section's raw data, describes no data of the module
// any more. The editor keeps such an entry as it is, and its own Open may
// then refuse the written module; nothing is lost that was there.
bool CertificateKept(const RawModule& raw, std::uint64_t fileSize, std::int32_t removed) {
    if (raw.Directories.size() <= kCertificateDirectory || raw.Directories[kCertificateDirectory].Size == 0) {
        return true;
    }
    auto const [offset, size] = raw.Directories[kCertificateDirectory];
    if (std::uint64_t{offset} + size > fileSize) {
        return false;
    }
    if (removed < 0) {
        return true;
    }
    auto const& section = raw.Sections[static_cast<std::size_t>(removed)];
    return !(section.PointerToRawData != 0 && section.PointerToRawData <= offset &&
             offset < std::uint64_t{section.PointerToRawData} + section.SizeOfRawData);
}

// Setting a directory entry to the value it has is no change: the module
// is then left as it is.
bool ChangesModel(const RawModule& raw, const EditorChange& change) {
    if (change.RemovedSection >= 0) {
        return true;
    }
    return change.Directory &&
           (static_cast<std::size_t>(change.Directory->first) >= raw.Directories.size() ||
            DirectoryAt(raw, static_cast<std::size_t>(change.Directory->first)) != change.Directory->second);
}

std::string CheckWrittenModule(const RawModule& raw, std::span<const std::uint8_t> input,
                               const EditorChange& change, std::uint32_t layoutEnd,
                               const std::filesystem::path& path) {
    auto const after = ReadBytesIfAny(path);
    if (!after) {
        return "the module file is gone";
    }
    if (!ChangesModel(raw, change)) {
        return std::equal(input.begin(), input.end(), after->begin(), after->end())
                   ? ""
                   : "Close(true) without a change altered the file";
    }
    if (auto failure = CheckFileAsWritten(raw, input, *after, layoutEnd); !failure.empty()) {
        return failure;
    }
    if (change.RemovedSection >= 0 && raw.Sections.size() == 1) {
        return Le16At(*after, raw.NtOffset + 6) == 0 ? "" : "the last section was removed but is still counted";
    }
    if (!CertificateKept(raw, input.size(), change.RemovedSection)) {
        return {};
    }
    TkvPEFileUtils reader;
    if (!reader.Open(testsupport::Wide(path), true)) {
        return "the written module cannot be opened again: " + WideToUtf8(reader.GetLastErrorText());
    }
    std::string failure = CheckSections(reader, raw, input, change);
    if (failure.empty()) {
        failure = CheckDirectories(reader, raw, change);
    }
    std::int32_t const changedDirectory = change.Directory ? change.Directory->first : -1;
    return failure.empty() ? CheckPointersFollow(raw, input, *after, reader, change.RemovedSection, changedDirectory)
                           : failure;
}

}  // namespace

std::string EditorChange::Describe() const {
    std::string text;
    if (Directory) {
        text += "SetDataDirectory(" + Num(Directory->first) + ", {" + Num(Directory->second.RVA) + ", " +
                Num(Directory->second.Size) + "}) ";
    }
    if (RemovedSection >= 0) {
        text += "RemoveSection(" + Num(RemovedSection) + ") ";
    }
    return text + "Close(true)";
}

std::vector<EditorChange> PlanChanges(const RawModule& raw, InputChoices& choices) {
    auto const sections = static_cast<std::uint32_t>(raw.Sections.size());
    auto const directories = static_cast<std::uint32_t>(raw.Directories.size());
    std::vector<EditorChange> changes{EditorChange{}};
    // The last section (the extraction's case) and one chosen by the input.
    if (sections != 0) {
        changes.push_back({std::nullopt, static_cast<std::int32_t>(sections - 1)});
    }
    if (sections > 1) {
        changes.push_back({std::nullopt, static_cast<std::int32_t>(choices.Below(sections - 1))});
    }
    // Widening where the table is short, else any existing entry; the value
    // points into a section or is cleared. The certificate entry holds a
    // file offset that the editor takes as the caller gives it, so it is
    // only ever cleared.
    std::uint32_t const index = directories < kFullDirectoryCount ? directories : choices.Below(directories);
    TImageDataDirectory entry{};
    if (sections != 0 && index != kCertificateDirectory && choices.Below(4) != 0) {
        auto const& section = raw.Sections[choices.Below(sections)];
        entry = {section.VirtualAddress + choices.Below(section.VirtualSize + 1), choices.Below(3 * kDebugEntrySize)};
    }
    changes.push_back({std::make_pair(static_cast<std::int32_t>(index), entry), -1});
    if (directories > kDebugDirectory && sections != 0) {
        changes.push_back({std::make_pair(static_cast<std::int32_t>(kDebugDirectory), TImageDataDirectory{}),
                           static_cast<std::int32_t>(sections - 1)});
    }
    return changes;
}

std::string CheckChange(const RawModule& raw, std::span<const std::uint8_t> input, const EditorChange& change) {
    auto const path = ScratchFolder() / "editor-module.bin";
    WriteBytes(path, input);
    TkvPEFileUtils editor;
    if (!editor.Open(testsupport::Wide(path), false)) {
        return "Open for writing failed where Open for reading succeeded: " + WideToUtf8(editor.GetLastErrorText());
    }
    std::uint32_t layoutEnd = 0;
    bool closed = false;
    try {
        if (change.Directory) {
            editor.SetDataDirectory(change.Directory->first, change.Directory->second);
        }
        if (change.RemovedSection >= 0) {
            editor.RemoveSection(change.RemovedSection);
        }
        layoutEnd = editor.GetLayoutEnd();
        closed = editor.Close(true);
    } catch (const std::exception& error) {
        return change.Describe() + " raised an exception: " + error.what();
    }
    if (closed) {
        auto failure = CheckWrittenModule(raw, input, change, layoutEnd, path);
        return failure.empty() ? "" : change.Describe() + ": " + failure;
    }
    if (editor.GetLastErrorText().empty()) {
        return change.Describe() + " failed without a reason";
    }
    auto const after = ReadBytesIfAny(path);
    if (!editor.WriteStarted() && (!after || !std::equal(input.begin(), input.end(), after->begin(), after->end()))) {
        return change.Describe() + " failed, reported no write, and yet the file changed";
    }
    return {};
}

}  // namespace fuzzcheck
