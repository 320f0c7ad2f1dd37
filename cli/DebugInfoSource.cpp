#include "DebugInfoSource.h"

#include "FileSeek.h"
#include "Td32Block.h"
#include "TextFormat.h"
#include "WideText.h"
#include "kvPEFileUtils.h"
#include "uMsg_Quillon.h"

namespace {

// The TD32 block at the end of bytes: "FB09" and the block's size end it,
// "FB09" starts it. Empty when there is none.
std::span<const std::uint8_t> TrailingBlock(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kMinimumBlockSize) return {};
    std::uint32_t const size = ReadLe32(bytes, bytes.size() - 4);
    if (size > bytes.size() || size < kMinimumBlockSize) return {};
    auto const block = bytes.last(size);
    bool const shaped = IsTd32Block(ReadLe32(block, 0), ReadLe32(block, size - 8), size, size);
    return shaped ? block : std::span<const std::uint8_t>();
}

std::u16string LastErrorText() {
    std::u16string text = OSErrorText(SysGetLastError());
    return text.empty() ? std::u16string(msg::UnknownError) : text;
}

}  // namespace

TMappedFile::~TMappedFile() { Close(); }

bool TMappedFile::Open(const std::u16string& path) {
    Close();
    handle_ = CreateFileByPath(path, sys::kGenericRead, sys::kFileShareRead, nullptr, sys::kOpenExisting,
                               sys::kFileAttributeNormal, nullptr);
    if (handle_ == kInvalidHandle || !GetFileSize64(handle_, size_)) return false;
    if (size_ == 0) return true;
    view_ = SysMapView(handle_, size_);
    return view_ != nullptr;
}

void TMappedFile::Close() {
    SysUnmapView(view_, size_);
    if (handle_ != kInvalidHandle) SysCloseHandle(handle_);
    handle_ = kInvalidHandle;
    view_ = nullptr;
    size_ = 0;
}

bool TDebugInfoSource::Open(const std::u16string& path, const std::u16string& tdsPath, std::u16string& message) {
    if (OpenModule(path, tdsPath, message)) return true;
    if (hasModule_ || !tdsPath.empty()) return false;
    // Not a module: a TDS file alone.
    if (!file_.Open(path)) {
        message = LastErrorText();
        return false;
    }
    block_ = TrailingBlock(file_.Bytes());
    if (block_.size() == file_.Bytes().size()) return ReadBlock(path, message);
    // A file that starts as a module keeps the editor's reason.
    auto const bytes = file_.Bytes();
    if (bytes.size() < 2 || bytes[0] != 'M' || bytes[1] != 'Z') message = std::u16string(msg::NotModuleOrTds);
    return false;
}

bool TDebugInfoSource::OpenModule(const std::u16string& path, const std::u16string& tdsPath, std::u16string& message) {
    TkvPEFileUtils editor;
    if (!editor.Open(path, true)) {
        message = EditorText(editor);
        return false;
    }
    hasModule_ = true;
    layout_.ImageBase = editor.GetImageBase();
    layout_.SizeOfImage = editor.GetSizeOfImage();
    for (std::int32_t i = 0; i < editor.GetSectionCount(); ++i) {
        layout_.SectionAddresses.push_back(editor.GetSectionHeader(i).VirtualAddress);
    }
    editor.Close(false);
    // A TDS file named on the command line is the user's choice.
    if (!tdsPath.empty()) return OpenTds(tdsPath, message);
    if (!file_.Open(path)) {
        message = LastErrorText();
        return false;
    }
    block_ = TrailingBlock(file_.Bytes());
    if (!block_.empty()) return ReadBlock(path, message);
    std::u16string const besideIt = ReplaceExtension(path, u".tds");
    if (!IsExistingFile(besideIt)) {
        message = FormatText(msg::NoDebugInfo, {besideIt});
        return false;
    }
    return OpenTds(besideIt, message);
}

bool TDebugInfoSource::OpenTds(const std::u16string& path, std::u16string& message) {
    if (!IsExistingFile(path)) {
        message = FormatText(msg::TdsMissing, {path});
        return false;
    }
    if (!file_.Open(path)) {
        message = LastErrorText();
        return false;
    }
    block_ = TrailingBlock(file_.Bytes());
    if (block_.empty() || block_.size() != file_.Bytes().size()) {
        message = FormatText(msg::TdsNotTd32, {path});
        return false;
    }
    return ReadBlock(path, message);
}

bool TDebugInfoSource::ReadBlock(const std::u16string& path, std::u16string& message) {
    std::u16string_view reason;
    if (info_.Read(block_, reason)) return true;
    message = FormatText(msg::DamagedDebugInfo, {path, reason});
    return false;
}
