// ExtractDebugInfo run on any bytes as a module, with or without an earlier
// .tds file and the overwrite switch (both from bits of the input), and its
// outcome checked: on success the .tds file holds exactly the former last B
// bytes and the module reads back without its ".debug" section; on failure
// the module is byte for byte as it was and no new .tds file is left,
// unless the message says the debug information was saved to it, in which
// case the file holds the block.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace fuzzcheck {

// Where the fuzz input keeps the two switches: the low bits of byte 2 (in
// the DOS header's e_cblp, which neither the editor nor the loader reads).
constexpr std::size_t kSwitchByte = 2;
constexpr std::uint8_t kOverwriteBit = 1;
constexpr std::uint8_t kEarlierTdsBit = 2;

// Empty when the extraction behaved; otherwise what went wrong.
std::string CheckExtraction(std::span<const std::uint8_t> input);

}  // namespace fuzzcheck
