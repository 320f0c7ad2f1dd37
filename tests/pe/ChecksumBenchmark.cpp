// Measures the PE image checksum: the accumulator over a buffer in memory,
// the word-by-word reference for comparison, and the whole-file helper
// (the platform's MapFileAndCheckSum in the Windows build). Prints MiB/s.
//
// usage: pe_checksum_benchmark [MiB]   (default 256)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "ImageChecksum.h"
#include "TestFiles.h"
#include "TestModuleBuilder.h"

using namespace testsupport;

namespace {

template <class F>
double SecondsFor(F&& work) {
    auto const start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs work, which stores its result in sum, and prints its speed.
template <class F>
void Measure(const char* what, double mebibytes, const std::uint32_t& sum, F&& work) {
    double const seconds = SecondsFor(work);
    std::printf("%-34s %8.1f MiB/s  (%.3f s, checksum %08X)\n", what, mebibytes / seconds, seconds,
                static_cast<unsigned>(sum));
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t const mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    Bytes image(mebibytes << 20);
    std::mt19937_64 random(1);
    for (std::size_t i = 0; i + 8 <= image.size(); i += 8) {
        std::uint64_t const v = random();
        for (int b = 0; b < 8; ++b) {
            image[i + b] = static_cast<std::uint8_t>(v >> (8 * b));
        }
    }
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, 0x80);
    Put32(image, 0x80, 0x4550);
    auto const size = static_cast<double>(mebibytes);

    std::uint32_t sum = 0;
    Measure("accumulator, one buffer", size, sum, [&] {
        ImageChecksum checksum(0x80 + 88);
        checksum.Add(image.data(), image.size());
        sum = checksum.Finish();
    });
    Measure("word-by-word reference", size, sum, [&] { sum = ReferenceImageChecksum(image); });

    TempDir dir;
    auto const path = dir.Write("big.bin", image);
    std::uint32_t headerSum = 0;
    Measure("file helper, 1 MiB chunks", size, sum, [&] { ComputeFileImageChecksum(Wide(path), &headerSum, &sum); });
    Measure("MapFileAndCheckSumByPath (seam)", size, sum,
            [&] { MapFileAndCheckSumByPath(Wide(path), &headerSum, &sum); });
    return 0;
}
