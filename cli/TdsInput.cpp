#include "TdsInput.h"

#include <array>

#include "FileSeek.h"
#include "PeRecords.h"
#include "Td32Block.h"
#include "WideText.h"

TdsInput::~TdsInput() {
    if (handle_ != kInvalidHandle) SysCloseHandle(handle_);
}

TdsInput::Content TdsInput::Open(const std::u16string& path) {
    handle_ = CreateFileByPath(path, sys::kGenericRead, sys::kFileShareRead, nullptr, sys::kOpenExisting,
                               sys::kFileAttributeNormal, nullptr);
    if (handle_ == kInvalidHandle || !GetFileSize64(handle_, size_)) return Content::Unreadable;
    if (size_ == 0) return Content::Empty;
    if (size_ < kMinimumBlockSize) return Content::Other;
    std::array<std::uint8_t, 4> head{};
    std::array<std::uint8_t, 8> tail{};
    if (!Read(0, head.data(), 4) || !Read(size_ - 8, tail.data(), 8)) return Content::Unreadable;
    return IsTd32Block(ReadLe32(head, 0), ReadLe32(tail, 0), ReadLe32(tail, 4), size_) ? Content::Td32Block
                                                                                       : Content::Other;
}

bool TdsInput::Read(std::uint64_t offset, void* buffer, std::uint32_t size) {
    if (offset != position_ && !SeekFile(handle_, sys::kFileBegin, static_cast<std::int64_t>(offset))) return false;
    std::uint32_t done = 0;
    bool const read = SysReadFile(handle_, buffer, size, &done) && done == size;
    position_ = read ? offset + size : ~std::uint64_t{0};
    return read;
}

bool IsReplaceableTds(const std::u16string& path) {
    TdsInput earlier;
    TdsInput::Content const content = earlier.Open(path);
    return content == TdsInput::Content::Td32Block || content == TdsInput::Content::Empty;
}
