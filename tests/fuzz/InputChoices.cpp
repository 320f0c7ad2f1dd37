#include "InputChoices.h"

namespace fuzzcheck {

InputChoices::InputChoices(std::span<const std::uint8_t> input) {
    // FNV-1a over the input seeds a SplitMix64 sequence.
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (std::uint8_t const byte : input) {
        hash = (hash ^ byte) * 0x100000001B3ull;
    }
    state_ = hash;
}

std::uint32_t InputChoices::Next() {
    state_ += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
}

std::uint32_t InputChoices::Below(std::uint32_t bound) { return bound == 0 ? 0 : Next() % bound; }

}  // namespace fuzzcheck
