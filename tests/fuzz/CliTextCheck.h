// The tool's text functions on any text: argument scanning, console
// wrapping, message filling, path helpers and the UTF-8 conversions. Each
// check tests a property the function must keep for every input.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace fuzzcheck {

// The input read as UTF-16 little-endian units (an odd last byte dropped).
std::u16string Utf16Units(std::span<const std::uint8_t> input);

std::string CheckScanArgument(const std::u16string& text);
std::string CheckWrapping(const std::u16string& text, int width);
std::string CheckFormatText(const std::u16string& pattern, std::size_t argumentCount);
std::string CheckPathHelpers(const std::u16string& path);
std::string CheckUtf8RoundTrips(std::span<const std::uint8_t> bytes, const std::u16string& units);

// All of the above on one input (the width and the argument count come
// from its first byte).
std::string CheckCliText(std::span<const std::uint8_t> input);

}  // namespace fuzzcheck
