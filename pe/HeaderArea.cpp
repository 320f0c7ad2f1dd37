// Data in the header area that no region of the layout map holds and the
// headers must leave alone: what the data directories name there, and any
// other bytes than zeros in the room after the section table.
#include <algorithm>

#include "kvPEFileUtils.h"

namespace {

constexpr std::size_t kCertificateDirectory = 4;

}  // namespace

// The loader maps the first SizeOfHeaders bytes of the file at RVA 0, below
// the first section, so there an RVA is a file offset: bound imports, for
// one, lie right after the section table. Each range [start, end) is
// clipped to what the loader maps. The certificate entry holds a file offset, not an RVA.
std::vector<std::pair<std::uint32_t, std::uint32_t>> TkvPEFileUtils::HeaderAreaData() const {
    std::uint32_t const sizeOfHeaders = IsPE32Plus() ? OptionalHeader64.SizeOfHeaders : OptionalHeader32.SizeOfHeaders;
    std::uint64_t const mapped = std::min(sizeOfHeaders, SectionsAsRead.front().VirtualAddress);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    for (std::size_t i = 0; i < DataDirectories.size(); ++i) {
        auto const [rva, size] = DataDirectories[i];
        if (i != kCertificateDirectory && rva != 0 && size != 0 && rva < mapped) {
            ranges.emplace_back(rva, static_cast<std::uint32_t>(std::min(std::uint64_t{rva} + size, mapped)));
        }
    }
    return ranges;
}

// Whether headers written from the file header up to headersEnd would
// cover any of that data.
bool TkvPEFileUtils::HeadersReachNamedData(std::uint64_t headersEnd) const {
    auto const ranges = HeaderAreaData();
    return std::any_of(ranges.begin(), ranges.end(),
                       [&](const auto& range) { return range.second > FileHeaderOffset && range.first < headersEnd; });
}

// Where the room after the section table as opened ends: at the first block
// of the file that a region of the layout map holds (raw data, certificate
// data, the symbol table, the trailing data), which moves on when the
// headers reach it, or at the end of the file.
std::uint64_t TkvPEFileUtils::HeaderRoomEnd() const {
    std::uint64_t end = ModuleSize;
    for (auto const& section : SectionsAsRead) {
        if (section.PointerToRawData != 0 && section.SizeOfRawData != 0) {
            end = std::min<std::uint64_t>(end, section.PointerToRawData);
        }
    }
    for (auto const& [offset, size] :
         {std::pair{CertificateOffset, CertificateSize}, std::pair{SymbolTableOffset, SymbolTableSize},
          std::pair{OverlayOffset, OverlaySize}}) {
        if (size != 0) {
            end = std::min<std::uint64_t>(end, offset);
        }
    }
    return end;
}

// Linkers leave the room after the section table zero; anything else there
// may be data the program uses, so headers written up to headersEnd may
// take only zeros from it. One exception: 40 bytes right after the table
// that are a section header by the name of a section being added (adding,
// or one added before) are the header that an earlier release of this tool
// left in place when it removed that section. False, with reason taken, when
// the headers would take other bytes; with the system's reason when the
// bytes cannot be read.
bool TkvPEFileUtils::CheckHeaderRoom(std::uint64_t headersEnd, const TImageSectionHeader* adding,
                                     std::u16string_view taken) {
    std::uint64_t const end = std::min(headersEnd, HeaderRoomEnd());
    if (end <= TableEndAsOpened) {
        return true;
    }
    std::vector<std::uint8_t> bytes(end - TableEndAsOpened);
    if (!ReadFileData(bytes.data(), static_cast<std::uint32_t>(bytes.size()), TableEndAsOpened, false)) {
        if (LastOSError == 0) {
            LastOSError = sys::kErrorHandleEof;
        }
        return false;
    }
    auto const leftOver = [&](const TImageSectionHeader& section) {
        return bytes.size() >= section.Name.size() &&
               std::equal(section.Name.begin(), section.Name.end(), bytes.begin());
    };
    bool found = adding != nullptr && leftOver(*adding);
    for (std::size_t i = 0; !found && i < Sections.size(); ++i) {
        found = SectionIds[i] >= static_cast<std::int32_t>(SectionsAsRead.size()) && leftOver(Sections[i]);
    }
    std::size_t const free = found ? std::min(bytes.size(), TImageSectionHeader::kSize) : 0;
    if (std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(free), bytes.end(),
                    [](std::uint8_t byte) { return byte == 0; })) {
        return true;
    }
    SetError(taken);
    return false;
}
