#include "ImageChecksum.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace {

// The read size of the checksum pass: the sum runs at the same speed for
// reads of 64 KiB to 4 MiB (measured cold and warm), and the smaller buffer
// keeps the peak memory down.
constexpr std::size_t kChunkSize = std::size_t{128} << 10;
// Bytes summed between two folds of the running total, so that the 64-bit
// total cannot overflow whatever the size handed to Add.
constexpr std::size_t kFoldInterval = std::size_t{1} << 24;

constexpr std::uint32_t kChecksumSuccess = 0;
constexpr std::uint32_t kChecksumOpenFailure = 1;
constexpr std::uint32_t kChecksumReadFailure = 2;

std::uint64_t LoadLe64(const std::uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t value;
        std::memcpy(&value, p, sizeof value);
        return value;
    } else {
        std::uint64_t value = 0;
        for (int i = 7; i >= 0; --i) {
            value = (value << 8) | p[i];
        }
        return value;
    }
}

// Sum of the 16-bit little-endian words of an even-length run, reduced
// modulo 0xFFFF but never to 0 unless every word is 0: the same residue and
// the same zero test as adding the words one by one with end-around carry.
// Eight bytes at a time: 2^32 = 1 (mod 0xFFFF), so the two 32-bit halves of
// a 64-bit load add up to the sum of its four words.
std::uint64_t SumWords(const std::uint8_t* p, std::size_t size) {
    std::uint64_t total = 0;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t const v = LoadLe64(p + i);
        total += (v & 0xFFFFFFFFu) + (v >> 32);
    }
    for (; i + 2 <= size; i += 2) {
        total += static_cast<std::uint64_t>(p[i]) | (static_cast<std::uint64_t>(p[i + 1]) << 8);
    }
    return total;
}

std::uint64_t FoldTo32(std::uint64_t value) { return (value & 0xFFFFFFFFu) + (value >> 32); }

std::uint32_t FoldTo16(std::uint64_t value) {
    while (value >> 16) {
        value = (value & 0xFFFF) + (value >> 16);
    }
    return static_cast<std::uint32_t>(value);
}

// Removes one word from a 16-bit end-around-carry sum exactly as the image
// help library does, borrow included.
std::uint32_t SubtractWord(std::uint32_t sum, std::uint32_t word) {
    if (sum >= word) {
        return sum - word;
    }
    return ((sum - word) & 0xFFFF) - 1;
}

// Reads size bytes at offset; bytes past the end of the file read as zero,
// as they do in a mapped view of the file. False when a call fails.
bool ReadPadded(SysHandle file, std::uint32_t offset, std::uint8_t* buffer, std::uint32_t size) {
    std::memset(buffer, 0, size);
    std::int32_t high = 0;
    SysSetLastError(0);
    if (SysSetFilePointer(file, static_cast<std::int32_t>(offset), &high, sys::kFileBegin) == 0xFFFFFFFFu &&
        SysGetLastError() != 0) {
        return false;
    }
    std::uint32_t read = 0;
    return SysReadFile(file, buffer, size, &read);
}

std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Offset of the CheckSum field when the file starts with an "MZ" header
// whose e_lfanew leads to a "PE\0\0" signature; kNoChecksumField otherwise.
bool FindChecksumField(SysHandle file, std::uint64_t& fieldOffset) {
    fieldOffset = ImageChecksum::kNoChecksumField;
    std::uint8_t dos[64];
    if (!ReadPadded(file, 0, dos, sizeof dos)) {
        return false;
    }
    if (dos[0] != 'M' || dos[1] != 'Z') {
        return true;
    }
    std::uint32_t const ntHeader = ReadLe32(dos + 0x3C);
    std::uint8_t signature[4];
    if (!ReadPadded(file, ntHeader, signature, sizeof signature)) {
        return false;
    }
    if (std::memcmp(signature, "PE\0\0", 4) == 0) {
        fieldOffset = std::uint64_t{ntHeader} + 88;
    }
    return true;
}

bool SumWholeFile(SysHandle file, ImageChecksum& checksum) {
    std::int32_t high = 0;
    SysSetLastError(0);
    if (SysSetFilePointer(file, 0, &high, sys::kFileBegin) == 0xFFFFFFFFu && SysGetLastError() != 0) {
        return false;
    }
    // A small module needs no full-sized buffer: zero-filling one per call
    // would cost more than summing the file.
    std::uint32_t sizeHigh = 0;
    std::uint32_t const sizeLow = SysGetFileSize(file, &sizeHigh);
    std::uint64_t const fileSize = (std::uint64_t{sizeHigh} << 32) | sizeLow;
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::clamp<std::uint64_t>(fileSize, 1, kChunkSize)));
    for (;;) {
        std::uint32_t read = 0;
        if (!SysReadFile(file, chunk.data(), static_cast<std::uint32_t>(chunk.size()), &read)) {
            return false;
        }
        if (read == 0) {
            return true;
        }
        checksum.Add(chunk.data(), read);
    }
}

}  // namespace

ImageChecksum::ImageChecksum(std::uint64_t checksumFieldOffset) : fieldOffset_(checksumFieldOffset) {}

void ImageChecksum::Add(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    if (fieldOffset_ != kNoChecksumField) {
        for (std::uint64_t k = 0; k < 4; ++k) {
            std::uint64_t const position = fieldOffset_ + k;
            if (position >= length_ && position - length_ < size) {
                field_[k] = data[position - length_];
            }
        }
    }
    std::size_t start = 0;
    if (pendingByte_ >= 0) {
        sum_ += static_cast<std::uint64_t>(pendingByte_) | (static_cast<std::uint64_t>(data[0]) << 8);
        pendingByte_ = -1;
        start = 1;
    }
    std::size_t const evenEnd = start + ((size - start) & ~std::size_t{1});
    for (std::size_t at = start; at < evenEnd; at += kFoldInterval) {
        std::size_t const run = std::min(kFoldInterval, evenEnd - at);
        sum_ = FoldTo32(sum_ + SumWords(data + at, run));
    }
    if (evenEnd < size) {
        pendingByte_ = data[size - 1];
    }
    length_ += size;
}

std::uint32_t ImageChecksum::Finish() const {
    std::uint64_t total = sum_;
    if (pendingByte_ >= 0) {
        total += static_cast<std::uint64_t>(pendingByte_);  // the odd last byte, padded with zero
    }
    std::uint32_t partial = FoldTo16(total);
    if (fieldOffset_ != kNoChecksumField) {
        partial = SubtractWord(partial, static_cast<std::uint32_t>(field_[0] | (field_[1] << 8)));
        partial = SubtractWord(partial, static_cast<std::uint32_t>(field_[2] | (field_[3] << 8)));
    }
    return partial + static_cast<std::uint32_t>(length_);
}

std::uint32_t ComputeFileImageChecksum(const WideString& path, std::uint32_t* headerSum, std::uint32_t* checkSum) {
    SysHandle const file = CreateFileByPath(path, sys::kGenericRead, sys::kFileShareRead, nullptr, sys::kOpenExisting,
                                            sys::kFileAttributeNormal, nullptr);
    if (file == kInvalidHandle) {
        return kChecksumOpenFailure;
    }
    std::uint32_t result = kChecksumReadFailure;
    std::uint32_t high = 0;
    SysSetLastError(0);
    std::uint32_t const low = SysGetFileSize(file, &high);
    bool const sizeKnown = !(low == 0xFFFFFFFFu && SysGetLastError() != 0);
    // An empty file cannot be mapped, so the image help library fails on it.
    std::uint64_t fieldOffset = ImageChecksum::kNoChecksumField;
    if (sizeKnown && (low != 0 || high != 0) && FindChecksumField(file, fieldOffset)) {
        ImageChecksum checksum(fieldOffset);
        if (SumWholeFile(file, checksum)) {
            std::uint8_t stored[4] = {};
            if (fieldOffset == ImageChecksum::kNoChecksumField ||
                (fieldOffset <= 0xFFFFFFFFu &&
                 ReadPadded(file, static_cast<std::uint32_t>(fieldOffset), stored, sizeof stored))) {
                *headerSum = ReadLe32(stored);
                *checkSum = checksum.Finish();
                result = kChecksumSuccess;
            }
        }
    }
    SysCloseHandle(file);
    return result;
}
