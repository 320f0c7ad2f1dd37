#include "AddressArgument.h"

#include <array>

namespace {

// The value of each ASCII character as a hexadecimal digit, or -1: a table,
// as -l may parse a great many addresses.
constexpr std::array<signed char, 128> kHexDigits = [] {
    std::array<signed char, 128> digits{};
    for (int c = 0; c < 128; ++c) {
        digits[c] = static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                             : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                    : -1);
    }
    return digits;
}();

int HexDigit(char c) {
    auto const byte = static_cast<unsigned char>(c);
    return byte < kHexDigits.size() ? kHexDigits[byte] : -1;
}

// A hexadecimal number of at most limit, with or without "0x".
std::optional<std::uint64_t> ParseHex(std::string_view text, std::uint64_t limit) {
    if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char const c : text) {
        int const digit = HexDigit(c);
        if (digit < 0 || value > (limit - digit) / 16) return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

}  // namespace

std::optional<TAddressArgument> ParseAddress(std::string_view text) {
    std::size_t const colon = text.find(':');
    if (colon == std::string_view::npos) {
        auto const value = ParseHex(text, UINT64_MAX);
        return value ? std::optional(TAddressArgument{false, 0, *value}) : std::nullopt;
    }
    auto const segment = ParseHex(text.substr(0, colon), 0xFFFF);
    auto const offset = ParseHex(text.substr(colon + 1), 0xFFFFFFFF);
    if (!segment || !offset) return std::nullopt;
    return TAddressArgument{true, static_cast<std::uint16_t>(*segment), *offset};
}
