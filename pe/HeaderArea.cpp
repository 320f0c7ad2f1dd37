// Data that the data directories name inside the header area, which no
// region of the layout map holds and the headers must leave alone.
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
