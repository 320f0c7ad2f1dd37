// Removing a section: its header, its raw data and its layout region.
#include <algorithm>

#include "kvPEFileUtils.h"
#include "uMsg_kvPEFileUtils.h"

using namespace uMsg_kvPEFileUtils;

bool TkvPEFileUtils::RemoveSection(std::int32_t index) {
    RequireWritable();
    if (index < 0) {
        throw Exception(std::u16string(SInvalidParameters));
    }
    if (FileHeader.NumberOfSections <= index) {
        throw Exception(std::u16string(SNoSectionsToRemove));
    }
    Modified = true;
    // The region closes up: every block behind it moves back as far as its
    // alignment allows.
    std::int32_t const region = FindSectionRegion(SectionIds[static_cast<std::size_t>(index)]);
    if (region >= 0) {
        DeleteOffsetsMapEntry(region, true);
    }
    FreedTableEnd = std::max(FreedTableEnd, OffsetsMap[1].Offset + OffsetsMap[1].Size);
    FileHeader.NumberOfSections = static_cast<std::uint16_t>(FileHeader.NumberOfSections - 1);
    // The section table shrinks in place; the freed 40 bytes become a gap,
    // cleared when the module is written back.
    ResizeOffsetsMapEntry(1, std::uint32_t{FileHeader.NumberOfSections} * TImageSectionHeader::kSize, false);
    DeleteSectionEntry(index);
    return UpdateFileOffsets();
}

// A middle section's address range goes to the section before it.
void TkvPEFileUtils::DeleteSectionEntry(std::int32_t index) {
    auto const at = static_cast<std::size_t>(index);
    if (at != 0 && at + 1 != Sections.size()) {
        Sections[at - 1].VirtualSize = Sections[at + 1].VirtualAddress - Sections[at - 1].VirtualAddress;
    }
    Sections.erase(Sections.begin() + index);
    SectionData.erase(SectionData.begin() + index);
    SectionSources.erase(SectionSources.begin() + index);
    SectionFeeds.erase(SectionIds[at]);
    SectionIds.erase(SectionIds.begin() + index);
}
