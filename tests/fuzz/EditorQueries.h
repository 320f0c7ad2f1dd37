// The read-only part of the editor check: queries and reads compared with
// the bytes of the file.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "InputChoices.h"
#include "RawModule.h"
#include "kvPEFileUtils.h"

namespace fuzzcheck {

std::string CheckQueries(TkvPEFileUtils& editor, const RawModule& raw, std::span<const std::uint8_t> input,
                         InputChoices& choices);

}  // namespace fuzzcheck
