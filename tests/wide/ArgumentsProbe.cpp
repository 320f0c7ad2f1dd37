// Prints what the argument functions see in this process: the count, then
// argument 0 to count + 1 as hexadecimal UTF-16 units, one per line.
// With QUILLON_PROBE_ANSI set it reads them with UseWideApi false.
#include <cstdio>
#include <cstdlib>

#include "SysApi.h"

int main(int argc, char** argv) {
    InitPlatform(argc, argv);
    if (std::getenv("QUILLON_PROBE_ANSI") != nullptr) UseWideApi = false;
    int count = GetArgumentCount();
    std::printf("%d\n", count);
    for (int index = 0; index <= count + 1; ++index) {
        for (char16_t unit : GetArgument(index)) std::printf("%04X ", static_cast<unsigned>(unit));
        std::printf("\n");
    }
    return 0;
}
