// Choices drawn from the fuzz input itself (which section to remove, which
// directory to set, which width to wrap at), so that every run is repeated
// exactly from its input alone.
#pragma once

#include <cstdint>
#include <span>

namespace fuzzcheck {

class InputChoices {
public:
    explicit InputChoices(std::span<const std::uint8_t> input);
    std::uint32_t Next();
    // A value in [0, bound); 0 when bound is 0.
    std::uint32_t Below(std::uint32_t bound);

private:
    std::uint64_t state_;
};

}  // namespace fuzzcheck
