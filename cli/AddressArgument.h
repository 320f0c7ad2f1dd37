// An address on the command line of -l: hexadecimal, with or without "0x",
// or segment:offset in hexadecimal.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

struct TAddressArgument {
    bool Segmented = false;
    std::uint16_t Segment = 0;
    std::uint64_t Value = 0;  // the offset when Segmented
};

// The address the text, in UTF-8, gives, or nothing when it is not one.
std::optional<TAddressArgument> ParseAddress(std::string_view text);
