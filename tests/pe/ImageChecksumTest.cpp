// The PE image checksum: the fast accumulator against the word-by-word
// reference, the file helper against python3-pefile (native) and against
// the system's MapFileAndCheckSumW (Windows build, under Wine).
#include <gtest/gtest.h>

#include <random>

#include "ImageChecksum.h"
#include "RunCommand.h"
#include "TestFiles.h"
#include "TestModuleBuilder.h"

using namespace testsupport;

namespace {

Bytes RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

// Random content with an "MZ" header whose e_lfanew leads to "PE\0\0" and
// a garbage CheckSum field.
Bytes RandomImage(std::size_t size, std::uint32_t eLfanew, unsigned seed) {
    Bytes image = RandomBytes(size, seed);
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, eLfanew);
    image[eLfanew] = 'P';
    image[eLfanew + 1] = 'E';
    image[eLfanew + 2] = 0;
    image[eLfanew + 3] = 0;
    return image;
}

std::uint32_t Accumulate(const Bytes& image, std::uint64_t fieldOffset, const std::vector<std::size_t>& chunks) {
    ImageChecksum checksum(fieldOffset);
    std::size_t at = 0;
    for (std::size_t i = 0; at < image.size(); ++i) {
        std::size_t const size = std::min(chunks[i % chunks.size()], image.size() - at);
        checksum.Add(image.data() + at, size);
        at += size;
    }
    return checksum.Finish();
}

// Files whose checksums exercise the corners: odd lengths, the sum folding
// to 0xFFFF, stored fields larger than the running sum (the borrow), a
// field at an odd offset, a field that straddles a chunk boundary.
std::vector<std::pair<std::string, Bytes>> CornerFiles() {
    std::vector<std::pair<std::string, Bytes>> files;
    for (std::size_t size : {0x200u, 0x201u, 0x3FFu, 0x1001u}) {
        files.push_back({"random-" + std::to_string(size), RandomImage(size, 0x80, static_cast<unsigned>(size))});
    }
    files.push_back({"odd-elfanew", RandomImage(0x301, 0x81, 7)});
    Bytes zeros(0x400, 0);
    zeros[0] = 'M';
    zeros[1] = 'Z';
    Put32(zeros, 0x3C, 0x80);
    zeros[0x80] = 'P';
    zeros[0x81] = 'E';
    for (std::uint32_t field : {0xFFFFFFFFu, 0x0000FFFFu, 0xFFFF0000u, 0x12345678u}) {
        Bytes image = zeros;
        Put32(image, 0x80 + 88, field);
        files.push_back({"borrow-" + std::to_string(field), image});
    }
    Bytes allOnes(0x400, 0xFF);
    allOnes[0] = 'M';
    allOnes[1] = 'Z';
    Put32(allOnes, 0x3C, 0x80);
    Put32(allOnes, 0x80, 0x4550);
    files.push_back({"all-ones", allOnes});
    files.push_back({"mz-without-pe", [] {
                         Bytes image = RandomBytes(0x333, 3);
                         image[0] = 'M';
                         image[1] = 'Z';
                         Put32(image, 0x3C, 0x100);
                         return image;
                     }()});
    files.push_back({"big-odd", RandomImage((3u << 20) + 5, 0x80, 11)});
    Bytes straddling = RandomImage((1u << 20) + 0x400, 0x100000 - 90, 13);  // the field crosses the 1 MiB chunk
    files.push_back({"field-across-chunks", straddling});
    return files;
}

}  // namespace

TEST(ImageChecksum, AgreesWithTheWordByWordReferenceForAnyChunking) {
    std::vector<std::vector<std::size_t>> const chunkings = {{1}, {3}, {7, 1}, {8}, {4096}, {5, 9, 1, 64}, {1u << 30}};
    for (auto const& [name, image] : CornerFiles()) {
        if (image.size() < 0x40) {
            continue;
        }
        std::uint64_t const field = Get32(image, 0x3C) + 88;
        bool const hasPe = Get32(image, Get32(image, 0x3C)) == 0x4550;
        std::uint32_t const expected = ReferenceImageChecksum(image);
        for (auto const& chunks : chunkings) {
            EXPECT_EQ(Accumulate(image, hasPe ? field : ImageChecksum::kNoChecksumField, chunks), expected)
                << name << " in chunks of " << chunks.front();
        }
    }
}

TEST(ImageChecksum, KnownValues) {
    // Without a PE header: the folded word sum plus the length.
    Bytes const words = {0x01, 0x00, 0xFF, 0xFF, 0x03};  // 1 + 0xFFFF -> 1 after the carry, + 3, + length 5
    EXPECT_EQ(Accumulate(words, ImageChecksum::kNoChecksumField, {2}), 0x4u + 5);
    EXPECT_EQ(ImageChecksum(ImageChecksum::kNoChecksumField).Finish(), 0u);
    // The stored field is taken out with a borrow: words 0x0002 and a field
    // word 0xFFFF fold to 0x0002; taking 0xFFFF out of it borrows, giving
    // ((0x0002 - 0xFFFF) mod 0x10000) - 1 = 2, not 3.
    Bytes image(8, 0);
    image[0] = 0x02;
    image[4] = 0xFF;
    image[5] = 0xFF;
    ImageChecksum withField(4);
    withField.Add(image.data(), image.size());
    EXPECT_EQ(withField.Finish(), 2u + 8);
}

TEST(ImageChecksum, FileHelperReadsHeaderAndChecksum) {
    TempDir dir;
    for (auto const& [name, image] : CornerFiles()) {
        auto const path = dir.Write(name, image);
        std::uint32_t headerSum = 0xDEAD;
        std::uint32_t checkSum = 0xBEEF;
        ASSERT_EQ(ComputeFileImageChecksum(Wide(path), &headerSum, &checkSum), 0u) << name;
        EXPECT_EQ(checkSum, ReferenceImageChecksum(image)) << name;
        bool const hasPe = Get32(image, Get32(image, 0x3C)) == 0x4550;
        EXPECT_EQ(headerSum, hasPe ? Get32(image, Get32(image, 0x3C) + 88) : 0u) << name;
    }
}

TEST(ImageChecksum, FileHelperFailures) {
    TempDir dir;
    std::uint32_t headerSum = 0;
    std::uint32_t checkSum = 0;
    EXPECT_EQ(ComputeFileImageChecksum(Wide(dir.File("missing.exe")), &headerSum, &checkSum), 1u);
    // An empty file cannot be mapped: the image help library reports a
    // mapping failure for it.
    EXPECT_EQ(ComputeFileImageChecksum(Wide(dir.Write("empty.exe", {})), &headerSum, &checkSum), 2u);
}

#ifndef _WIN32
TEST(ImageChecksum, AgreesWithPefileOnRealModules) {
    ASSERT_TRUE(PeCheckAvailable()) << "python3-pefile is needed for this check";
    TempDir dir;
    std::vector<std::filesystem::path> files;
    for (auto const& name : {"hello32.exe", "hello64-symbols.exe", "hellodll32.dll", "hellodll64.dll"}) {
        files.push_back(TestModulesDir() / name);
    }
    for (std::size_t trailing : {0u, 1u, 3u}) {  // odd lengths too
        Bytes image = ReadAll(TestModulesDir() / "hello64.exe");
        image.insert(image.end(), trailing, 0xA5);
        Put32(image, Get32(image, 0x3C) + 88, 0x9ABCDEF0u);  // a garbage stored CheckSum
        files.push_back(dir.Write("hello64-plus-" + std::to_string(trailing) + ".exe", image));
    }
    for (auto const& file : files) {
        std::uint32_t headerSum = 0;
        std::uint32_t checkSum = 0;
        ASSERT_EQ(ComputeFileImageChecksum(Wide(file), &headerSum, &checkSum), 0u) << file;
        auto const expected = PefileChecksum(file);
        ASSERT_TRUE(expected.has_value()) << file;
        EXPECT_EQ(checkSum, *expected) << file;
    }
}
#endif

#ifdef _WIN32
// In the Windows build the seam calls the system's MapFileAndCheckSumW: our
// implementation must give the same sums, bit for bit.
TEST(ImageChecksum, AgreesWithMapFileAndCheckSum) {
    TempDir dir;
    std::vector<std::filesystem::path> files;
    for (auto const& [name, image] : CornerFiles()) {
        if (name != "mz-without-pe") {  // Wine leaves both sums unset for a file without a PE header
            files.push_back(dir.Write(name, image));
        }
    }
    for (auto const& name : {"hello32.exe", "hello64.exe", "hello64-symbols.exe", "hellodll64.dll"}) {
        files.push_back(TestModulesDir() / name);
    }
    for (auto const& file : files) {
        std::uint32_t systemHeader = 1, systemSum = 1, ownHeader = 2, ownSum = 2;
        ASSERT_EQ(MapFileAndCheckSumByPath(Wide(file), &systemHeader, &systemSum), 0u) << file;
        ASSERT_EQ(ComputeFileImageChecksum(Wide(file), &ownHeader, &ownSum), 0u) << file;
        EXPECT_EQ(ownSum, systemSum) << file;
        EXPECT_EQ(ownHeader, systemHeader) << file;
    }
    std::uint32_t headerSum = 0, checkSum = 0;
    WideString const empty = Wide(dir.Write("empty.exe", {}));
    EXPECT_EQ(MapFileAndCheckSumByPath(empty, &headerSum, &checkSum), 2u);
    EXPECT_EQ(ComputeFileImageChecksum(empty, &headerSum, &checkSum), 2u);
}
#endif
