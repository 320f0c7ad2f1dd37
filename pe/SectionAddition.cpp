// Appending a section: its header at the end of the section table and its
// raw data at the end of the layout.
#include <algorithm>

#include "kvPEFileUtils.h"
#include "uMsg_kvPEFileUtils.h"

using namespace uMsg_kvPEFileUtils;

bool TkvPEFileUtils::AddSection(const TImageSectionHeader& header, TSectionDataSource source) {
    RequireWritable();
    if (!source || header.SizeOfRawData == 0 || FileHeader.NumberOfSections == 0xFFFF ||
        (!Sections.empty() && header.VirtualAddress <= Sections.back().VirtualAddress)) {
        throw Exception(std::u16string(SInvalidParameters));
    }
    LastErrorText.clear();
    LastOSError = 0;
    auto const& table = OffsetsMap[1];
    std::uint64_t const tableEnd = std::uint64_t{table.Offset} + table.Size + TImageSectionHeader::kSize;
    if ((OffsetsMap.size() > 2 && tableEnd > OffsetsMap[2].Offset) || HeadersReachNamedData(tableEnd)) {
        SetError(SNoRoomForSection);
        return false;
    }
    if (!CheckHeaderRoom(tableEnd, &header, SNoRoomForSection)) {
        return false;
    }
    if (OverlaySize != 0) {
        SetError(SDataAfterLastSection);
        return false;
    }
    Modified = true;
    FileHeader.NumberOfSections = static_cast<std::uint16_t>(FileHeader.NumberOfSections + 1);
    ResizeOffsetsMapEntry(1, std::uint32_t{FileHeader.NumberOfSections} * TImageSectionHeader::kSize, false);
    // A new identity, apart from those of the sections as opened.
    std::int32_t id = static_cast<std::int32_t>(SectionsAsRead.size());
    for (std::int32_t const other : SectionIds) {
        id = std::max(id, other + 1);
    }
    Sections.push_back(header);
    Sections.back().PointerToRawData = GetLayoutEnd();
    SectionData.emplace_back();
    SectionFeeds[id] = std::move(source);
    SectionSources.push_back(-1);
    SectionIds.push_back(id);
    // Alignment 1: the data starts exactly where the file ended.
    AddOffsetsMapEntry(Sections.back().PointerToRawData, header.SizeOfRawData, 1, ekSection,
                       SectionNameToText(header.Name), id);
    return true;
}
