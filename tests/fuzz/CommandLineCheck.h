// ParseCommandLine through the POSIX argument source: the input split at
// zero bytes into a fake argv (an empty argument ends the list, as on
// Windows), parsed, and compared with the switch and positional rules.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace fuzzcheck {

std::string CheckCommandLine(std::span<const std::uint8_t> input);

}  // namespace fuzzcheck
