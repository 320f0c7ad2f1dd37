// The shared end of the fuzz targets: a violation found by a check is
// printed and ends the run with abort(), which libFuzzer reports as a crash
// and saves the input for.
#pragma once

#include <string>

namespace fuzzcheck {

void AbortOnViolation(const std::string& violation);

}  // namespace fuzzcheck
