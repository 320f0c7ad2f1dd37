#include "DebugInfoAttachment.h"

#include <algorithm>
#include <array>

#include "DebugInfoExtraction.h"
#include "SysApi.h"
#include "TdsInput.h"
#include "Td32Block.h"
#include "TextFormat.h"
#include "WideText.h"
#include "kvPEFileUtils.h"
#include "uMsg_Quillon.h"
#include "uMsg_kvPEFileUtils.h"

namespace {

constexpr std::uint32_t kSectionCharacteristics = 0x40000040;  // initialized data, readable
constexpr std::uint32_t kEntryAndPadding = kDebugEntrySize + 4;
constexpr std::int32_t kMaxSections = 0xFFFF;  // NumberOfSections is 16 bits

// The .tds file must be one TD32 block, small enough to go into a section
// with its debug directory entry. It stays open until the write-back has
// streamed the block into the module.
bool OpenTds(TdsInput& tds, const std::u16string& tdsPath, std::u16string& errorText) {
    if (!IsExistingFile(tdsPath)) {
        errorText = FormatText(msg::TdsMissing, {tdsPath});
        return false;
    }
    TdsInput::Content const content = tds.Open(tdsPath);
    if (content == TdsInput::Content::Unreadable)
        errorText = FormatText(msg::TdsReadFailed, {tdsPath});
    else if (content != TdsInput::Content::Td32Block || tds.Size() > 0xFFFFFFFFu - kEntryAndPadding)
        errorText = FormatText(msg::TdsNotTd32, {tdsPath});
    return errorText.empty();
}

bool EndsWithTd32Block(TkvPEFileUtils& editor) {
    std::array<std::uint8_t, 8> tail{};
    std::array<std::uint8_t, 4> head{};
    std::uint32_t const size = editor.GetModuleSize();
    if (!editor.ReadFileData(tail.data(), 8, -8, true) || ReadLe32(tail, 4) > size || ReadLe32(tail, 4) < 8)
        return false;
    return editor.ReadFileData(head.data(), 4, size - ReadLe32(tail, 4), false) &&
           IsTd32Block(ReadLe32(head, 0), ReadLe32(tail, 0), ReadLe32(tail, 4), ReadLe32(tail, 4));
}

// The reason the module takes no block, or an empty text.
std::u16string ModuleRefusal(TkvPEFileUtils& editor) {
    std::uint64_t dataEnd = 0;
    for (std::int32_t i = 0; i < editor.GetSectionCount(); ++i) {
        TImageSectionHeader const section = editor.GetSectionHeader(i);
        if (IsDebugSectionName(section.ToBytes())) return std::u16string(msg::AlreadyHasDebugInfo);
        if (section.PointerToRawData != 0 && section.SizeOfRawData != 0)
            dataEnd = std::max(dataEnd, std::uint64_t{section.PointerToRawData} + section.SizeOfRawData);
    }
    if (EndsWithTd32Block(editor)) return std::u16string(msg::AlreadyHasDebugInfo);
    auto const directory = [&](std::int32_t index) {
        return editor.GetDataDirectoryCount() > index ? editor.GetDataDirectory(index) : TImageDataDirectory{};
    };
    if (directory(kDebugDirectoryIndex) != TImageDataDirectory{}) return std::u16string(msg::HasDebugDirectory);
    if (directory(4).Size != 0)  // certificates: the signature covers the module as it is
        return std::u16string(msg::IsSigned);
    if (editor.GetModuleSize() > dataEnd) return std::u16string(msg::HasTrailingData);
    return {};
}

// The section as linkers write it, starting where the module ends, at the
// next section alignment after the last section; false when that lies
// beyond 4 GiB. Its raw data: the debug directory entry naming the block, 4
// zero bytes, then the block streamed from the .tds file.
bool DebugSection(TkvPEFileUtils& editor, TdsInput& tds, TImageSectionHeader& section, TSectionDataSource& source) {
    TImageSectionHeader const last = editor.GetSectionHeader(editor.GetSectionCount() - 1);
    std::uint64_t const alignment = editor.GetSectionAlignment();
    std::uint64_t const start =
        (std::uint64_t{last.VirtualAddress} + std::max(last.MappedSize(), 1u) + alignment - 1) / alignment * alignment;
    auto const blockSize = static_cast<std::uint32_t>(tds.Size());
    if (start + blockSize + kEntryAndPadding > 0xFFFFFFFFu) return false;
    section.Name = {'.', 'd', 'e', 'b', 'u', 'g', 0, 0};
    section.VirtualAddress = static_cast<std::uint32_t>(start);
    section.VirtualSize = section.SizeOfRawData = blockSize + kEntryAndPadding;
    section.Characteristics = kSectionCharacteristics;
    TImageDebugDirectory entry;
    entry.SizeOfData = blockSize;
    entry.AddressOfRawData = section.VirtualAddress + kEntryAndPadding;
    entry.PointerToRawData = editor.GetLayoutEnd() + kEntryAndPadding;
    std::array<std::uint8_t, kEntryAndPadding> head{};
    auto const entryBytes = entry.ToBytes();
    std::copy(entryBytes.begin(), entryBytes.end(), head.begin());
    source = [head, &tds](std::uint32_t offset, void* buffer, std::uint32_t size) {
        auto* out = static_cast<std::uint8_t*>(buffer);
        for (; offset < kEntryAndPadding && size != 0; --size) *out++ = head[offset++];
        return size == 0 || tds.Read(offset - kEntryAndPadding, out, size);
    };
    return true;
}

// Every check of an attachment, and the change in the editor's model; tds
// must stay open until the module is written back.
bool Prepare(TkvPEFileUtils& editor, TdsInput& tds, const std::u16string& modulePath, const std::u16string& tdsPath,
             std::u16string& errorText) {
    if (!OpenTds(tds, tdsPath, errorText)) return false;
    if (!editor.Open(modulePath, false)) {
        errorText = EditorText(editor);
        return false;
    }
    errorText = ModuleRefusal(editor);
    if (!errorText.empty()) return false;
    // A short data directory table is widened before the section is placed:
    // widening can move the sections, and the entry must name the block
    // where it ends up.
    if (editor.GetDataDirectoryCount() <= kDebugDirectoryIndex)
        editor.SetDataDirectory(kDebugDirectoryIndex, TImageDataDirectory{});
    TSectionDataSource source;
    TImageSectionHeader section;
    if (editor.GetSectionCount() >= kMaxSections || !DebugSection(editor, tds, section, source)) {
        errorText = std::u16string(msg::NoRoomForSection);
        return false;
    }
    // The editor's refusal for want of room (the room after the section
    // table may also hold other data) is worded as ours; a failed read of
    // that room keeps the system's reason.
    if (!editor.AddSection(section, std::move(source))) {
        errorText = EditorText(editor);
        if (errorText == uMsg_kvPEFileUtils::SNoRoomForSection) errorText = msg::NoRoomForSection;
        return false;
    }
    editor.SetDataDirectory(kDebugDirectoryIndex, {section.VirtualAddress, 1});
    if (!editor.CheckWriteBack()) {
        errorText = EditorText(editor);
        return false;
    }
    return true;
}

}  // namespace

bool AttachDebugInfo(const std::u16string& modulePath, const std::u16string& tdsPath, std::u16string& errorText) {
    errorText.clear();
    TdsInput tds;
    TkvPEFileUtils editor;
    if (!Prepare(editor, tds, modulePath, tdsPath, errorText)) return false;
    if (editor.Close(true)) return true;
    errorText = EditorText(editor);
    if (editor.WriteStarted()) errorText += u" " + FormatText(msg::DebugInfoStillInTds, {tdsPath});
    return false;
}

bool CheckAttachDebugInfo(const std::u16string& modulePath, const std::u16string& tdsPath, std::uint32_t& blockSize,
                          std::u16string& errorText) {
    errorText.clear();
    TdsInput tds;
    TkvPEFileUtils editor;
    if (!Prepare(editor, tds, modulePath, tdsPath, errorText)) return false;
    blockSize = static_cast<std::uint32_t>(tds.Size());
    return true;
}
