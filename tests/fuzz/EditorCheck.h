// The PE module editor driven with any bytes as a module file: every query
// of a read-only open, then section removals and data directory changes
// written back on fresh copies. Every call stays within the editor's
// contract (valid indexes and ranges), so an exception that escapes is a
// fault, as is a result that disagrees with the bytes of the file.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace fuzzcheck {

// Empty when the editor behaved; otherwise what went wrong.
std::string CheckEditor(std::span<const std::uint8_t> input);

}  // namespace fuzzcheck
