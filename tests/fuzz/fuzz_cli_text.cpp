// libFuzzer target: any bytes as text for the command-line text functions
// and as a fake argv for ParseCommandLine.
#include <cstddef>
#include <cstdint>

#include "CliTextCheck.h"
#include "CommandLineCheck.h"
#include "FuzzMain.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzcheck::AbortOnViolation(fuzzcheck::CheckCliText({data, size}));
    fuzzcheck::AbortOnViolation(fuzzcheck::CheckCommandLine({data, size}));
    return 0;
}
