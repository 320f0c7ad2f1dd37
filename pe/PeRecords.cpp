#include "PeRecords.h"

#include <algorithm>
#include <cstring>

#include "Exception.h"

// ---- Cursors ----------------------------------------------------------------

const std::uint8_t* TByteReader::Take(std::size_t count) {
    if (count > bytes_.size() - position_) {
        throw Exception();
    }
    const std::uint8_t* at = bytes_.data() + position_;
    position_ += count;
    return at;
}

std::uint8_t TByteReader::U8() { return *Take(1); }

std::uint16_t TByteReader::U16() {
    const std::uint8_t* p = Take(2);
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t TByteReader::U32() {
    const std::uint8_t* p = Take(4);
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t TByteReader::U64() {
    std::uint64_t const low = U32();
    return low | (static_cast<std::uint64_t>(U32()) << 32);
}

void TByteReader::Bytes(std::uint8_t* target, std::size_t count) { std::memcpy(target, Take(count), count); }

std::uint8_t* TByteWriter::Take(std::size_t count) {
    if (count > bytes_.size() - position_) {
        throw Exception();
    }
    std::uint8_t* at = bytes_.data() + position_;
    position_ += count;
    return at;
}

void TByteWriter::U8(std::uint8_t value) { *Take(1) = value; }

void TByteWriter::U16(std::uint16_t value) {
    std::uint8_t* p = Take(2);
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

void TByteWriter::U32(std::uint32_t value) {
    std::uint8_t* p = Take(4);
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void TByteWriter::U64(std::uint64_t value) {
    U32(static_cast<std::uint32_t>(value));
    U32(static_cast<std::uint32_t>(value >> 32));
}

void TByteWriter::Bytes(const std::uint8_t* source, std::size_t count) { std::memcpy(Take(count), source, count); }

std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (offset > bytes.size()) {
        throw Exception();
    }
    return TByteReader(bytes.subspan(offset)).U32();
}

void WriteLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    if (offset > bytes.size()) {
        throw Exception();
    }
    TByteWriter(bytes.subspan(offset)).U32(value);
}

// ---- Field lists --------------------------------------------------------------
// Each record's fields are listed once, in file order; the same list drives
// reading and writing.

namespace {

struct FieldReader {
    TByteReader& in;
    void operator()(std::uint8_t& v) { v = in.U8(); }
    void operator()(std::uint16_t& v) { v = in.U16(); }
    void operator()(std::uint32_t& v) { v = in.U32(); }
    void operator()(std::uint64_t& v) { v = in.U64(); }
    void operator()(std::array<std::uint8_t, 8>& v) { in.Bytes(v.data(), v.size()); }
};

struct FieldWriter {
    TByteWriter& out;
    void operator()(const std::uint8_t& v) { out.U8(v); }
    void operator()(const std::uint16_t& v) { out.U16(v); }
    void operator()(const std::uint32_t& v) { out.U32(v); }
    void operator()(const std::uint64_t& v) { out.U64(v); }
    void operator()(const std::array<std::uint8_t, 8>& v) { out.Bytes(v.data(), v.size()); }
};

template <class H, class F>
void FileHeaderFields(H& h, F&& f) {
    f(h.Machine);
    f(h.NumberOfSections);
    f(h.TimeDateStamp);
    f(h.PointerToSymbolTable);
    f(h.NumberOfSymbols);
    f(h.SizeOfOptionalHeader);
    f(h.Characteristics);
}

// The fields from SectionAlignment to DllCharacteristics, alike in both
// optional header layouts.
template <class H, class F>
void OptionalHeaderMiddleFields(H& h, F&& f) {
    f(h.SectionAlignment);
    f(h.FileAlignment);
    f(h.MajorOperatingSystemVersion);
    f(h.MinorOperatingSystemVersion);
    f(h.MajorImageVersion);
    f(h.MinorImageVersion);
    f(h.MajorSubsystemVersion);
    f(h.MinorSubsystemVersion);
    f(h.Win32VersionValue);
    f(h.SizeOfImage);
    f(h.SizeOfHeaders);
    f(h.CheckSum);
    f(h.Subsystem);
    f(h.DllCharacteristics);
}

template <class H, class F>
void OptionalHeaderFields(H& h, F&& f) {
    f(h.Magic);
    f(h.MajorLinkerVersion);
    f(h.MinorLinkerVersion);
    f(h.SizeOfCode);
    f(h.SizeOfInitializedData);
    f(h.SizeOfUninitializedData);
    f(h.AddressOfEntryPoint);
    f(h.BaseOfCode);
    if constexpr (requires { h.BaseOfData; }) {
        f(h.BaseOfData);
    }
    f(h.ImageBase);
    OptionalHeaderMiddleFields(h, f);
    f(h.SizeOfStackReserve);
    f(h.SizeOfStackCommit);
    f(h.SizeOfHeapReserve);
    f(h.SizeOfHeapCommit);
    f(h.LoaderFlags);
    f(h.NumberOfRvaAndSizes);
}

template <class H, class F>
void DataDirectoryFields(H& h, F&& f) {
    f(h.RVA);
    f(h.Size);
}

template <class H, class F>
void SectionHeaderFields(H& h, F&& f) {
    f(h.Name);
    f(h.VirtualSize);
    f(h.VirtualAddress);
    f(h.SizeOfRawData);
    f(h.PointerToRawData);
    f(h.PointerToRelocations);
    f(h.PointerToLinenumbers);
    f(h.NumberOfRelocations);
    f(h.NumberOfLinenumbers);
    f(h.Characteristics);
}

template <class H, class F>
void DebugDirectoryFields(H& h, F&& f) {
    f(h.Characteristics);
    f(h.TimeDateStamp);
    f(h.MajorVersion);
    f(h.MinorVersion);
    f(h.Type);
    f(h.SizeOfData);
    f(h.AddressOfRawData);
    f(h.PointerToRawData);
}

template <class H, class Fields>
H ReadRecord(std::span<const std::uint8_t> bytes, Fields fields) {
    H record;
    TByteReader in(bytes.first(std::min(bytes.size(), H::kSize)));
    fields(record, FieldReader{in});
    return record;
}

template <class H, class Fields>
std::array<std::uint8_t, H::kSize> WriteRecord(const H& record, Fields fields) {
    std::array<std::uint8_t, H::kSize> bytes{};
    TByteWriter out(bytes);
    fields(record, FieldWriter{out});
    return bytes;
}

}  // namespace

#define QUILLON_RECORD_IO(Type, Fields)                                          \
    Type Type::Read(std::span<const std::uint8_t> bytes) {                       \
        return ReadRecord<Type>(bytes, [](auto& h, auto&& f) { Fields(h, f); }); \
    }                                                                            \
    std::array<std::uint8_t, Type::kSize> Type::ToBytes() const {                \
        return WriteRecord(*this, [](auto& h, auto&& f) { Fields(h, f); });      \
    }

QUILLON_RECORD_IO(TImageFileHeader, FileHeaderFields)
QUILLON_RECORD_IO(TImageOptionalHeader32, OptionalHeaderFields)
QUILLON_RECORD_IO(TImageOptionalHeader64, OptionalHeaderFields)
QUILLON_RECORD_IO(TImageDataDirectory, DataDirectoryFields)
QUILLON_RECORD_IO(TImageSectionHeader, SectionHeaderFields)
QUILLON_RECORD_IO(TImageDebugDirectory, DebugDirectoryFields)

#undef QUILLON_RECORD_IO
