// The little-endian records: every field at the offset the PE/COFF format
// gives it, exact round trips, and bounds checks.
#include <gtest/gtest.h>

#include <random>

#include "Exception.h"
#include "PeRecords.h"

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> RandomBlock(unsigned seed) {
    std::mt19937 generator(seed);
    std::array<std::uint8_t, N> bytes{};
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

template <class Record>
void ExpectExactRoundTrip() {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        auto const bytes = RandomBlock<Record::kSize>(seed);
        EXPECT_EQ(Record::Read(bytes).ToBytes(), bytes);
    }
}

template <std::size_t N>
void Put32(std::array<std::uint8_t, N>& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

TEST(PeRecords, EveryRecordRoundTripsByteForByte) {
    ExpectExactRoundTrip<TImageFileHeader>();
    ExpectExactRoundTrip<TImageOptionalHeader32>();
    ExpectExactRoundTrip<TImageOptionalHeader64>();
    ExpectExactRoundTrip<TImageDataDirectory>();
    ExpectExactRoundTrip<TImageSectionHeader>();
    ExpectExactRoundTrip<TImageDebugDirectory>();
}

TEST(PeRecords, FieldsSitAtTheirFormatOffsets) {
    std::array<std::uint8_t, 96> pe32{};
    Put32(pe32, 28, 0x00400000);
    Put32(pe32, 32, 0x1000);
    Put32(pe32, 36, 0x200);
    Put32(pe32, 56, 0x12000);
    Put32(pe32, 60, 0x400);
    Put32(pe32, 64, 0xCAFEBABE);
    Put32(pe32, 92, 16);
    auto const h32 = TImageOptionalHeader32::Read(pe32);
    EXPECT_EQ(h32.ImageBase, 0x00400000u);
    EXPECT_EQ(h32.SectionAlignment, 0x1000u);
    EXPECT_EQ(h32.FileAlignment, 0x200u);
    EXPECT_EQ(h32.SizeOfImage, 0x12000u);
    EXPECT_EQ(h32.SizeOfHeaders, 0x400u);
    EXPECT_EQ(h32.CheckSum, 0xCAFEBABEu);
    EXPECT_EQ(h32.NumberOfRvaAndSizes, 16u);

    std::array<std::uint8_t, 112> pe64{};
    Put32(pe64, 24, 0x40000000);
    Put32(pe64, 28, 0x1);
    Put32(pe64, 32, 0x1000);
    Put32(pe64, 64, 0x01020304);
    Put32(pe64, 72, 0x100000);
    Put32(pe64, 108, 6);
    auto const h64 = TImageOptionalHeader64::Read(pe64);
    EXPECT_EQ(h64.ImageBase, 0x140000000ull);
    EXPECT_EQ(h64.SectionAlignment, 0x1000u);
    EXPECT_EQ(h64.CheckSum, 0x01020304u);
    EXPECT_EQ(h64.SizeOfStackReserve, 0x100000u);
    EXPECT_EQ(h64.NumberOfRvaAndSizes, 6u);

    std::array<std::uint8_t, 40> section{'.', 't', 'e', 'x', 't'};
    Put32(section, 8, 0x7144);
    Put32(section, 12, 0x1000);
    Put32(section, 16, 0x7200);
    Put32(section, 20, 0x400);
    Put32(section, 28, 0x9999);
    section[34] = 3;
    auto const s = TImageSectionHeader::Read(section);
    EXPECT_EQ(s.VirtualSize, 0x7144u);
    EXPECT_EQ(s.VirtualAddress, 0x1000u);
    EXPECT_EQ(s.SizeOfRawData, 0x7200u);
    EXPECT_EQ(s.PointerToRawData, 0x400u);
    EXPECT_EQ(s.PointerToLinenumbers, 0x9999u);
    EXPECT_EQ(s.NumberOfLinenumbers, 3u);

    std::array<std::uint8_t, 28> debug{};
    Put32(debug, 12, 2);
    Put32(debug, 16, 0x40);
    Put32(debug, 24, 0x1234);
    auto const d = TImageDebugDirectory::Read(debug);
    EXPECT_EQ(d.Type, 2u);
    EXPECT_EQ(d.SizeOfData, 0x40u);
    EXPECT_EQ(d.PointerToRawData, 0x1234u);

    std::array<std::uint8_t, 20> file{0x4C, 0x01, 0x05, 0x00};
    Put32(file, 8, 0x31E00);
    Put32(file, 12, 1921);
    file[16] = 0xE0;
    auto const f = TImageFileHeader::Read(file);
    EXPECT_EQ(f.Machine, 0x14Cu);
    EXPECT_EQ(f.NumberOfSections, 5u);
    EXPECT_EQ(f.PointerToSymbolTable, 0x31E00u);
    EXPECT_EQ(f.NumberOfSymbols, 1921u);
    EXPECT_EQ(f.SizeOfOptionalHeader, 224u);
}

TEST(PeRecords, ShortInputAndOverrunsRaise) {
    std::array<std::uint8_t, 39> shortSection{};
    EXPECT_THROW(TImageSectionHeader::Read(shortSection), Exception);
    std::array<std::uint8_t, 3> three{};
    TByteReader reader(three);
    EXPECT_EQ(reader.U16(), 0u);
    EXPECT_THROW(reader.U16(), Exception);
    TByteWriter writer{std::span<std::uint8_t>(three)};
    writer.U16(0xBEEF);
    EXPECT_THROW(writer.U32(1), Exception);
    EXPECT_EQ(three[0], 0xEF);
    EXPECT_EQ(three[1], 0xBE);
    EXPECT_EQ(three[2], 0);  // a refused write changes nothing
    EXPECT_THROW(ReadLe32(three, 0), Exception);
    EXPECT_THROW(ReadLe32(three, 100), Exception);
}
