// What the extraction and the attachment share: the TD32 block's shape and
// the editor's reason for a failure.
#pragma once

#include <cstdint>
#include <string>

class TkvPEFileUtils;

constexpr std::uint32_t kTd32Signature = 0x39304246;  // "FB09"
// A TD32 block has a head ("FB09" and the directory offset) and a trailer
// ("FB09" and the size); anything shorter is a trailer alone.
constexpr std::uint32_t kMinimumBlockSize = 16;
constexpr int kDebugDirectoryIndex = 6;
constexpr std::uint32_t kDebugEntrySize = 28;

// True when a stretch of size bytes that starts with the word head and ends
// with the words trailer and sizeWord is a TD32 block.
inline bool IsTd32Block(std::uint32_t head, std::uint32_t trailer, std::uint32_t sizeWord, std::uint64_t size) {
    return head == kTd32Signature && trailer == kTd32Signature && sizeWord == size && size >= kMinimumBlockSize;
}

// The editor's text for its last failure, or "unknown error." when it has
// none.
std::u16string EditorText(TkvPEFileUtils& editor);
