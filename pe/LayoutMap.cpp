// The layout map: where each movable block of the module lies in the file,
// and how the blocks behind a changed one are re-laid.
#include <algorithm>

#include "kvPEFileUtils.h"

namespace {

constexpr std::uint64_t kMaxFileOffset = 0xFFFFFFFFu;
constexpr std::uint32_t kCertificateAlignment = 8;
constexpr std::uint32_t kOverlayStep = 8;  // trailing data moves by multiples of this
constexpr std::size_t kCertificateDirectory = 4;

std::uint64_t AlignUp64(std::uint64_t value, std::uint32_t alignment) {
    return (value + alignment - 1) & ~std::uint64_t{alignment - 1};
}

std::uint64_t EndOf(const TOffsetsMapEntry& region) { return std::uint64_t{region.Offset} + region.Size; }

// Raw data that starts past the end of the file holds none of its bytes: it
// gets no region and does not hide the trailing data.
bool StartsInFile(const TImageSectionHeader& section, std::uint32_t moduleSize) {
    return section.PointerToRawData != 0 && section.SizeOfRawData != 0 && section.PointerToRawData < moduleSize;
}

}  // namespace

void TkvPEFileUtils::BuildOffsetsMap() {
    LayoutChanged = false;
    LayoutOverflow = false;
    OffsetsMap.clear();
    std::uint32_t const directoriesOffset = FileHeaderOffset + TImageFileHeader::kSize + OptionalHeaderSize();
    auto const directoriesSize = static_cast<std::uint32_t>(DataDirectories.size() * TImageDataDirectory::kSize);
    OffsetsMap.push_back({directoriesOffset, directoriesSize, 1, ekDataDirectories, {}, -1});
    // The section table starts where SizeOfOptionalHeader says, which may
    // leave a gap after the directories.
    OffsetsMap.push_back({static_cast<std::uint32_t>(SectionTableStart()),
                          static_cast<std::uint32_t>(Sections.size() * TImageSectionHeader::kSize),
                          1,
                          ekSectionTable,
                          {},
                          -1});
    for (std::size_t i = 0; i < Sections.size(); ++i) {
        auto const& section = Sections[i];
        if (StartsInFile(section, ModuleSize)) {
            AddOffsetsMapEntry(section.PointerToRawData, section.SizeOfRawData, GetFileAlignment(), ekSection,
                               SectionNameToText(section.Name), SectionIds[i]);
        } else if (AlignUp64(section.PointerToRawData, GetFileAlignment()) + section.SizeOfRawData > kMaxFileOffset) {
            LayoutOverflow = true;  // refused as a region beyond 4 GiB would be
        }
    }
    if (CertificateSize != 0) {
        auto const& certificates = DataDirectories[kCertificateDirectory];
        AddOffsetsMapEntry(certificates.RVA, certificates.Size, kCertificateAlignment, ekCertificates, {});
    }
    if (SymbolTableSize != 0) {
        AddOffsetsMapEntry(SymbolTableOffset, SymbolTableSize, 1, ekSymbolTable, {});
    }
    AddTrailingDataRegion();
    // A region placed apart from where the headers say its data lies (an
    // unaligned PointerToRawData, or data pushed behind an overlapping
    // block) is a move like any other: pointers into it must follow.
    if (!RegionsMatchHeaders()) {
        LayoutChanged = true;
    }
}

// Where the trailing data starts in the file: after every block that the
// headers place in it, measured at their file offsets rather than at the
// offsets that alignment gave their regions, so that no trailing byte is
// taken for section data.
std::uint32_t TkvPEFileUtils::TrailingDataStart() const {
    std::uint64_t end = std::max(EndOf(OffsetsMap[1]), SectionDataEnd());
    if (CertificateSize != 0) {
        end = std::max(end, std::uint64_t{CertificateOffset} + CertificateSize);
    }
    if (SymbolTableSize != 0) {
        end = std::max(end, std::uint64_t{SymbolTableOffset} + SymbolTableSize);
    }
    return static_cast<std::uint32_t>(std::min(end, std::uint64_t{ModuleSize}));
}

void TkvPEFileUtils::AddTrailingDataRegion() {
    std::uint32_t const start = TrailingDataStart();
    if (start >= ModuleSize) {
        return;
    }
    std::uint64_t mapEnd = 0;
    for (auto const& region : OffsetsMap) {
        mapEnd = std::max(mapEnd, EndOf(region));
    }
    std::uint64_t offset = start;
    if (mapEnd > start) {
        offset += AlignUp64(mapEnd - start, kOverlayStep);
    }
    if (offset > kMaxFileOffset) {
        LayoutOverflow = true;
    }
    OverlayOffset = start;
    OverlayNewOffset = start;
    OverlaySize = ModuleSize - start;
    AddOffsetsMapEntry(static_cast<std::uint32_t>(offset), OverlaySize, 1, ekOverlay, {});
}

bool TkvPEFileUtils::RegionsMatchHeaders() const {
    for (auto const& region : OffsetsMap) {
        if (region.Kind == ekSection) {
            auto const at = std::find(SectionIds.begin(), SectionIds.end(), region.SectionId);
            if (at != SectionIds.end() && Sections[at - SectionIds.begin()].PointerToRawData != region.Offset) {
                return false;
            }
        } else if (region.Kind == ekCertificates) {
            if (DataDirectories[kCertificateDirectory].RVA != region.Offset) {
                return false;
            }
        } else if ((region.Kind == ekOverlay && OverlayNewOffset != region.Offset) ||
                   (region.Kind == ekSymbolTable && FileHeader.PointerToSymbolTable != region.Offset)) {
            return false;
        }
    }
    return true;
}

void TkvPEFileUtils::AddOffsetsMapEntry(std::uint32_t offset, std::uint32_t size, std::uint32_t alignment,
                                        std::uint8_t kind, const std::string& name, std::int32_t sectionId) {
    std::uint64_t const aligned = AlignUp64(offset, alignment);
    if (aligned + size > kMaxFileOffset) {
        LayoutOverflow = true;
    }
    TOffsetsMapEntry entry{static_cast<std::uint32_t>(aligned), size, alignment, kind, name, sectionId};
    // Zero-sized regions at the same offset stay in front of the new one.
    auto const at = std::find_if(OffsetsMap.begin(), OffsetsMap.end(), [&](const TOffsetsMapEntry& region) {
        return region.Offset > entry.Offset || (region.Offset == entry.Offset && region.Size != 0);
    });
    auto const index = at - OffsetsMap.begin();
    if (at != OffsetsMap.end() && at->Offset < EndOf(entry)) {
        MoveOffsetsMapEntries(static_cast<std::int32_t>(index), static_cast<std::uint32_t>(EndOf(entry)), false);
    }
    OffsetsMap.insert(OffsetsMap.begin() + index, std::move(entry));
}

void TkvPEFileUtils::ResizeOffsetsMapEntry(std::int32_t index, std::uint32_t newSize, bool compact) {
    if (index < 0 || static_cast<std::size_t>(index) >= OffsetsMap.size()) {
        throw Exception();
    }
    auto& region = OffsetsMap[static_cast<std::size_t>(index)];
    if (newSize == region.Size) {
        return;
    }
    bool const shrinksInPlace = newSize < region.Size && !compact;
    region.Size = newSize;
    if (shrinksInPlace) {
        return;
    }
    if (EndOf(region) > kMaxFileOffset) {
        LayoutOverflow = true;
    }
    if (static_cast<std::size_t>(index) + 1 < OffsetsMap.size()) {
        MoveOffsetsMapEntries(index + 1, static_cast<std::uint32_t>(EndOf(region)), compact);
    }
}

// Walks from region index on; each region either stays (it already starts
// at the minimum, or beyond it without compaction) and ends the walk, or
// takes the lowest offset its alignment allows and hands its end on.
void TkvPEFileUtils::MoveOffsetsMapEntries(std::int32_t index, std::uint32_t minOffset, bool compact) {
    if (index < 0) {
        throw Exception();
    }
    for (auto i = static_cast<std::size_t>(index); i < OffsetsMap.size(); ++i) {
        auto& region = OffsetsMap[i];
        if (region.Offset == minOffset || (region.Offset > minOffset && !compact)) {
            return;
        }
        std::uint64_t newOffset = 0;
        if (region.Kind == ekOverlay && region.Offset < minOffset) {
            newOffset = region.Offset + AlignUp64(minOffset - region.Offset, kOverlayStep);
        } else if (region.Kind == ekOverlay) {
            newOffset = region.Offset - ((region.Offset - minOffset) & ~(kOverlayStep - 1));
        } else {
            newOffset = AlignUp64(minOffset, region.Alignment);
        }
        if (newOffset + region.Size > kMaxFileOffset) {
            LayoutOverflow = true;
        }
        region.Offset = static_cast<std::uint32_t>(newOffset);
        if (region.Kind != ekDataDirectories && region.Kind != ekSectionTable) {
            LayoutChanged = true;
        }
        minOffset = static_cast<std::uint32_t>(EndOf(region));
    }
}

void TkvPEFileUtils::DeleteOffsetsMapEntry(std::int32_t index, bool compact) {
    ResizeOffsetsMapEntry(index, 0, compact);
    OffsetsMap.erase(OffsetsMap.begin() + index);
}

std::uint32_t TkvPEFileUtils::GetLayoutEnd() const {
    RequireModule();
    return static_cast<std::uint32_t>(EndOf(OffsetsMap.back()));
}

std::int64_t TkvPEFileUtils::FindOffsetsMapEntryOffset(std::uint8_t kind, const std::string& name) const {
    for (auto const& region : OffsetsMap) {
        if (region.Kind == kind && (kind != ekSection || region.Name == name)) {
            return region.Offset;
        }
    }
    return -1;
}

std::int64_t TkvPEFileUtils::FindOffsetsMapEntrySize(std::uint8_t kind, const std::string& name) const {
    for (auto const& region : OffsetsMap) {
        if (region.Kind == kind && (kind != ekSection || region.Name == name)) {
            return region.Size;
        }
    }
    return -1;
}

std::int32_t TkvPEFileUtils::FindSectionRegion(std::int32_t sectionId) const {
    for (std::size_t i = 0; i < OffsetsMap.size(); ++i) {
        if (OffsetsMap[i].Kind == ekSection && OffsetsMap[i].SectionId == sectionId) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}
