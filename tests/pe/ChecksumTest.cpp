// The PE image checksum of the POSIX build, fed in chunks of any size,
// against the word-by-word reference; in the Windows build the reference
// and our implementation against the system's MapFileAndCheckSumW.
#include <gtest/gtest.h>

#include <random>

#include "ImageChecksum.h"
#include "TestFiles.h"
#include "TestModuleBuilder.h"

using namespace testsupport;

namespace {

// Random bytes with "MZ" and an e_lfanew that leads to "PE\0\0".
Bytes RandomImage(std::size_t size, std::uint32_t eLfanew, unsigned seed) {
    std::mt19937 random(seed);
    Bytes image(size);
    for (auto& byte : image) {
        byte = static_cast<std::uint8_t>(random());
    }
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, eLfanew);
    Put32(image, eLfanew, 0x4550);
    return image;
}

// Odd lengths, a field at an odd offset and one across the 1 MiB read
// chunk, and stored fields larger than the running sum (the borrow).
std::vector<Bytes> CornerFiles() {
    std::vector<Bytes> files = {RandomImage(0x200, 0x80, 1), RandomImage(0x3FF, 0x81, 2),
                                RandomImage((3u << 20) + 5, 0x80, 3),
                                RandomImage((1u << 20) + 0x400, 0x100000 - 90, 4)};
    for (std::uint32_t field : {0xFFFFFFFFu, 0x0000FFFFu, 0xFFFF0000u}) {
        Bytes image = RandomImage(0x400, 0x80, 5);
        std::fill(image.begin() + 0x84, image.end(), std::uint8_t{0});
        Put32(image, 0x80 + 88, field);
        files.push_back(image);
    }
    return files;
}

}  // namespace

TEST(Checksum, AgreesWithTheReferenceInChunksOfAnySize) {
    TempDir dir;
    for (Bytes const& image : CornerFiles()) {
        std::uint32_t const expected = ReferenceImageChecksum(image);
        for (std::size_t chunk : {1u, 7u, 8u, 4096u, 1u << 30}) {
            ImageChecksum checksum(Get32(image, 0x3C) + 88);
            for (std::size_t at = 0; at < image.size(); at += chunk) {
                checksum.Add(image.data() + at, std::min(chunk, image.size() - at));
            }
            EXPECT_EQ(checksum.Finish(), expected) << image.size() << " bytes in chunks of " << chunk;
        }
        std::uint32_t headerSum = 0, checkSum = 0;
        ASSERT_EQ(ComputeFileImageChecksum(Wide(dir.Write("m.exe", image)), &headerSum, &checkSum), 0u);
        EXPECT_EQ(checkSum, expected);
        EXPECT_EQ(headerSum, Get32(image, Get32(image, 0x3C) + 88));
#ifdef _WIN32
        std::uint32_t systemHeader = 0, systemSum = 0;
        ASSERT_EQ(MapFileAndCheckSumByPath(Wide(dir.File("m.exe")), &systemHeader, &systemSum), 0u);
        EXPECT_EQ(systemSum, expected);
        EXPECT_EQ(systemHeader, headerSum);
#endif
    }
    std::uint32_t headerSum = 0, checkSum = 0;
    EXPECT_EQ(ComputeFileImageChecksum(Wide(dir.File("missing.exe")), &headerSum, &checkSum), 1u);
    EXPECT_EQ(ComputeFileImageChecksum(Wide(dir.Write("empty.exe", {})), &headerSum, &checkSum), 2u);
}
