#include "FuzzMain.h"

#include <cstdio>
#include <cstdlib>

namespace fuzzcheck {

void AbortOnViolation(const std::string& violation) {
    if (violation.empty()) {
        return;
    }
    std::fprintf(stderr, "\n==== fuzz check violated: %s\n", violation.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzzcheck
