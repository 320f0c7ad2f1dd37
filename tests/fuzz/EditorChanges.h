// The writing part of the editor check: one change per fresh copy of the
// module (nothing, a section removal, a data directory set, with widening
// where the table is short, or the extraction's pair of both), written back
// with Close(true) and compared with the module as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "InputChoices.h"
#include "RawModule.h"
#include "kvPEFileUtils.h"

namespace fuzzcheck {

struct EditorChange {
    std::optional<std::pair<std::int32_t, TImageDataDirectory>> Directory;  // set first
    std::int32_t RemovedSection = -1;                                        // -1: none
    std::string Describe() const;
};

std::vector<EditorChange> PlanChanges(const RawModule& raw, InputChoices& choices);

// Applies the change to a fresh copy of input and checks the outcome.
std::string CheckChange(const RawModule& raw, std::span<const std::uint8_t> input, const EditorChange& change);

}  // namespace fuzzcheck
