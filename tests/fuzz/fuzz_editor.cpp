// libFuzzer target: any bytes as a module file for the PE module editor.
#include <cstddef>
#include <cstdint>

#include "EditorCheck.h"
#include "FuzzMain.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzcheck::AbortOnViolation(fuzzcheck::CheckEditor({data, size}));
    return 0;
}
