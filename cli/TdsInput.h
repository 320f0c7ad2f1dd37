// Reading an existing .tds file: whether it is one TD32 block, and its
// bytes in pieces.
#pragma once

#include <cstdint>
#include <string>

#include "SysApi.h"

class TdsInput {
public:
    enum class Content { Td32Block, Empty, Other, Unreadable };

    TdsInput() = default;
    TdsInput(const TdsInput&) = delete;
    TdsInput& operator=(const TdsInput&) = delete;
    ~TdsInput();

    // Opens the existing file at path for reading (others may read it too)
    // and tells what it holds: a TD32 block when its head, trailer and size
    // word agree with its length.
    Content Open(const std::u16string& path);
    std::uint64_t Size() const { return size_; }
    // Exactly size bytes from offset. Reads in order need no seek, so a
    // block taken piece by piece is read straight through, once.
    bool Read(std::uint64_t offset, void* buffer, std::uint32_t size);

private:
    SysHandle handle_ = kInvalidHandle;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

// True when an existing file at path may be replaced by a new .tds file:
// it is an earlier .tds file (one TD32 block) or empty.
bool IsReplaceableTds(const std::u16string& path);
