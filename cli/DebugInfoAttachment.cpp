#include "DebugInfoAttachment.h"

#include <algorithm>
#include <array>
#include <vector>

#include "DebugInfoExtraction.h"
#include "SysApi.h"
#include "Td32Block.h"
#include "TextFormat.h"
#include "WideText.h"
#include "kvPEFileUtils.h"
#include "uMsg_Quillon.h"

namespace {

constexpr std::uint32_t kSectionCharacteristics = 0x40000040;  // initialized data, readable
constexpr std::uint32_t kEntryAndPadding = kDebugEntrySize + 4;

using Bytes = std::vector<std::uint8_t>;

// The whole .tds file, which must be one TD32 block.
bool ReadTdsBlock(const std::u16string& tdsPath, Bytes& block, std::u16string& errorText) {
    if (!IsExistingFile(tdsPath)) {
        errorText = FormatText(msg::TdsMissing, {tdsPath});
        return false;
    }
    SysHandle const file = CreateFileByPath(tdsPath, sys::kGenericRead, sys::kFileShareRead, nullptr,
                                            sys::kOpenExisting, sys::kFileAttributeNormal, nullptr);
    std::uint32_t high = 0;
    SysSetLastError(0);
    std::uint32_t const size = file == kInvalidHandle ? 0 : SysGetFileSize(file, &high);
    bool read = file != kInvalidHandle && !(size == 0xFFFFFFFFu && SysGetLastError() != 0);
    if (read && high == 0 && size >= kMinimumBlockSize) {  // the file was just opened: read from its start
        block.resize(size);
        std::uint32_t done = 0;
        read = SysReadFile(file, block.data(), size, &done) && done == size;
    }
    if (file != kInvalidHandle) SysCloseHandle(file);
    if (!read) {
        errorText = FormatText(msg::TdsReadFailed, {tdsPath});
        return false;
    }
    if (block.empty() || !IsTd32Block(ReadLe32(block, 0), ReadLe32(block, size - 8), ReadLe32(block, size - 4), size) ||
        size > 0xFFFFFFFFu - kEntryAndPadding) {
        errorText = FormatText(msg::TdsNotTd32, {tdsPath});
        return false;
    }
    return true;
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
// beyond 4 GiB.
bool DebugSection(TkvPEFileUtils& editor, const Bytes& block, TImageSectionHeader& section, Bytes& raw) {
    TImageSectionHeader const last = editor.GetSectionHeader(editor.GetSectionCount() - 1);
    std::uint64_t const alignment = editor.GetSectionAlignment();
    std::uint64_t const start =
        (std::uint64_t{last.VirtualAddress} + std::max(last.MappedSize(), 1u) + alignment - 1) / alignment * alignment;
    if (start + block.size() + kEntryAndPadding > 0xFFFFFFFFu) return false;
    section.Name = {'.', 'd', 'e', 'b', 'u', 'g', 0, 0};
    section.VirtualAddress = static_cast<std::uint32_t>(start);
    section.VirtualSize = section.SizeOfRawData = static_cast<std::uint32_t>(block.size()) + kEntryAndPadding;
    section.Characteristics = kSectionCharacteristics;
    TImageDebugDirectory entry;
    entry.SizeOfData = static_cast<std::uint32_t>(block.size());
    entry.AddressOfRawData = section.VirtualAddress + kEntryAndPadding;
    entry.PointerToRawData = editor.GetLayoutEnd() + kEntryAndPadding;
    auto const entryBytes = entry.ToBytes();
    raw.assign(entryBytes.begin(), entryBytes.end());
    raw.resize(kEntryAndPadding);
    raw.insert(raw.end(), block.begin(), block.end());
    return true;
}

// Every check of an attachment, and the change in the editor's model.
bool Prepare(TkvPEFileUtils& editor, const std::u16string& modulePath, const std::u16string& tdsPath,
             std::uint32_t& blockSize, std::u16string& errorText) {
    Bytes block;
    if (!ReadTdsBlock(tdsPath, block, errorText)) return false;
    if (!editor.Open(modulePath, false)) {
        errorText = EditorText(editor);
        return false;
    }
    errorText = ModuleRefusal(editor);
    if (!errorText.empty()) return false;
    Bytes raw;
    TImageSectionHeader section;
    if (!DebugSection(editor, block, section, raw)) {
        errorText = std::u16string(msg::NoRoomForSection);
        return false;
    }
    if (!editor.AddSection(section, std::move(raw))) {
        errorText = std::u16string(msg::NoRoomForSection);
        return false;
    }
    editor.SetDataDirectory(kDebugDirectoryIndex, {section.VirtualAddress, 1});
    if (!editor.CheckWriteBack()) {
        errorText = EditorText(editor);
        return false;
    }
    blockSize = static_cast<std::uint32_t>(block.size());
    return true;
}

}  // namespace

bool AttachDebugInfo(const std::u16string& modulePath, const std::u16string& tdsPath, std::u16string& errorText) {
    errorText.clear();
    TkvPEFileUtils editor;
    std::uint32_t blockSize = 0;
    if (!Prepare(editor, modulePath, tdsPath, blockSize, errorText)) return false;
    if (editor.Close(true)) return true;
    errorText = EditorText(editor);
    if (editor.WriteStarted()) errorText += u" " + FormatText(msg::DebugInfoStillInTds, {tdsPath});
    return false;
}

bool CheckAttachDebugInfo(const std::u16string& modulePath, const std::u16string& tdsPath, std::uint32_t& blockSize,
                          std::u16string& errorText) {
    errorText.clear();
    TkvPEFileUtils editor;
    return Prepare(editor, modulePath, tdsPath, blockSize, errorText);
}
