#include "AddressArgument.h"

namespace {

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// A hexadecimal number of at most limit, with or without "0x".
std::optional<std::uint64_t> ParseHex(std::u16string_view text, std::uint64_t limit) {
    if (text.starts_with(u"0x") || text.starts_with(u"0X")) text.remove_prefix(2);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char16_t const c : text) {
        int const digit = HexDigit(c);
        if (digit < 0 || value > (limit - digit) / 16) return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

}  // namespace

std::optional<TAddressArgument> ParseAddress(std::u16string_view text) {
    std::size_t const colon = text.find(u':');
    if (colon == std::u16string_view::npos) {
        auto const value = ParseHex(text, UINT64_MAX);
        return value ? std::optional(TAddressArgument{false, 0, *value}) : std::nullopt;
    }
    auto const segment = ParseHex(text.substr(0, colon), 0xFFFF);
    auto const offset = ParseHex(text.substr(colon + 1), 0xFFFFFFFF);
    if (!segment || !offset) return std::nullopt;
    return TAddressArgument{true, static_cast<std::uint16_t>(*segment), *offset};
}
