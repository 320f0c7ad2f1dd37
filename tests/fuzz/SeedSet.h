// The seed inputs of the fuzz targets, made in memory: modules from the
// test module builder and the real mingw-w64 modules (each also with a TD32
// ".debug" section appended), and texts and argument lists.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fuzzcheck {

using Seed = std::pair<std::string, std::vector<std::uint8_t>>;

std::vector<Seed> ModuleSeeds();
std::vector<Seed> TextSeeds();

}  // namespace fuzzcheck
