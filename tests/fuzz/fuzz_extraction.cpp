// libFuzzer target: any bytes as a module for ExtractDebugInfo.
#include <cstddef>
#include <cstdint>

#include "ExtractionCheck.h"
#include "FuzzMain.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzcheck::AbortOnViolation(fuzzcheck::CheckExtraction({data, size}));
    return 0;
}
