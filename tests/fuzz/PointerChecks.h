// After a write-back, the file pointers held in the headers and in the
// debug directory must still lead to the bytes they led to before: the
// certificate table, the COFF symbol table and each debug entry's data.
// Data that lay in the removed section, or nowhere the editor keeps track
// of, is not followed, nor a pointer of the directory the change set
// (changedDirectory, -1 for none).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "RawModule.h"
#include "kvPEFileUtils.h"

namespace fuzzcheck {

std::string CheckPointersFollow(const RawModule& raw, std::span<const std::uint8_t> input,
                                const std::vector<std::uint8_t>& after, TkvPEFileUtils& reader,
                                std::int32_t removedSection, std::int32_t changedDirectory);

}  // namespace fuzzcheck
