// A libFuzzer target; the build names its check (QUILLON_FUZZ_CHECK). A
// violated property is printed and ends the run with abort(), which
// libFuzzer reports as a crash and saves the input for.
#include <cstdio>
#include <cstdlib>

#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string const violation = fuzzcheck::QUILLON_FUZZ_CHECK({data, size});
    if (!violation.empty()) {
        std::fprintf(stderr, "\n==== fuzz check violated: %s\n", violation.c_str());
        std::abort();
    }
    return 0;
}
