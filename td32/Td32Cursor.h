// Reads little-endian fields from one stretch [start, end) of a block. A
// read that would pass the end yields 0 and marks the cursor failed, so a
// run of reads is checked once, after it.
#pragma once

#include <cstdint>
#include <span>

class TTd32Cursor {
public:
    TTd32Cursor(std::span<const std::uint8_t> block, std::uint64_t start, std::uint64_t end)
        : block_(block), position_(start), end_(end), ok_(start <= end && end <= block.size()) {}

    std::uint8_t U8() { return static_cast<std::uint8_t>(Take(1)); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Take(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Take(4)); }
    void Skip(std::uint64_t count) {
        if (Fits(count)) position_ += count;
    }
    // True when count more bytes lie within the stretch.
    bool Has(std::uint64_t count) const { return ok_ && count <= end_ - position_; }
    std::uint32_t Position() const { return static_cast<std::uint32_t>(position_); }
    bool Ok() const { return ok_; }

private:
    bool Fits(std::uint64_t count) {
        ok_ = Has(count);
        return ok_;
    }
    std::uint64_t Take(unsigned size) {
        if (!Fits(size)) return 0;
        std::uint64_t value = 0;
        for (unsigned i = 0; i < size; ++i) value |= std::uint64_t{block_[position_ + i]} << (8 * i);
        position_ += size;
        return value;
    }

    std::span<const std::uint8_t> block_;
    std::uint64_t position_;
    std::uint64_t end_;
    bool ok_;
};

// A field at a position already checked to lie in the block.
inline std::uint32_t Td32Le32(std::span<const std::uint8_t> block, std::uint64_t at) {
    return TTd32Cursor(block, at, block.size()).U32();
}
inline std::uint16_t Td32Le16(std::span<const std::uint8_t> block, std::uint64_t at) {
    return TTd32Cursor(block, at, block.size()).U16();
}
