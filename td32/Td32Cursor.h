// Reads little-endian fields from one stretch [start, end) of a block. A
// read that would pass the end yields 0 and marks the cursor failed, so a
// run of reads is checked once, after it.
#pragma once

#include <cstdint>
#include <span>

// The little-endian fields at p.
inline std::uint16_t LoadLe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}

class TTd32Cursor {
public:
    TTd32Cursor(std::span<const std::uint8_t> block, std::uint64_t start, std::uint64_t end)
        : block_(block), position_(start), end_(end), ok_(start <= end && end <= block.size()) {}

    std::uint8_t U8() { return Fits(1) ? block_[position_++] : 0; }
    std::uint16_t U16() { return Fits(2) ? LoadLe16(Advance(2)) : 0; }
    std::uint32_t U32() { return Fits(4) ? LoadLe32(Advance(4)) : 0; }
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
    const std::uint8_t* Advance(unsigned size) {
        position_ += size;
        return block_.data() + position_ - size;
    }

    std::span<const std::uint8_t> block_;
    std::uint64_t position_;
    std::uint64_t end_;
    bool ok_;
};

// A field at a position already checked to lie in the block (0 past it).
inline std::uint32_t Td32Le32(std::span<const std::uint8_t> block, std::uint64_t at) {
    return at <= block.size() && block.size() - at >= 4 ? LoadLe32(block.data() + at) : 0;
}
inline std::uint16_t Td32Le16(std::span<const std::uint8_t> block, std::uint64_t at) {
    return at <= block.size() && block.size() - at >= 2 ? LoadLe16(block.data() + at) : 0;
}
