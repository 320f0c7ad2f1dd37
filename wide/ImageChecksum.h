// The PE image checksum, as MapFileAndCheckSum computes it: the file's
// 16-bit little-endian words (an odd last byte padded with zero) added with
// end-around carry folded to 16 bits, the stored CheckSum field left out,
// plus the file length. Fed in consecutive chunks of any size, so a file of
// any length is summed without holding it in memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "SysApi.h"

class ImageChecksum {
public:
    // checksumFieldOffset: file offset of the optional header's CheckSum
    // field (e_lfanew + 88); kNoChecksumField when the file has no PE header.
    static constexpr std::uint64_t kNoChecksumField = ~std::uint64_t{0};
    explicit ImageChecksum(std::uint64_t checksumFieldOffset);

    void Add(const std::uint8_t* data, std::size_t size);
    // The checksum of all bytes added so far, file length included.
    std::uint32_t Finish() const;

private:
    std::uint64_t fieldOffset_;
    std::uint64_t length_ = 0;
    std::uint64_t sum_ = 0;
    int pendingByte_ = -1;        // low byte of a word split across chunks
    std::uint8_t field_[4] = {};  // the stored CheckSum field, as seen so far
};

// MapFileAndCheckSum done with ImageChecksum over the file at path, read in
// chunks through the seam: 0 on success with both sums set (headerSum is the
// value stored in the file's CheckSum field), 1 when the file cannot be
// opened, 2 when it cannot be read.
std::uint32_t ComputeFileImageChecksum(const WideString& path, std::uint32_t* headerSum, std::uint32_t* checkSum);
