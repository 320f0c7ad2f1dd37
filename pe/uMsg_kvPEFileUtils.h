// Message texts of the PE module editor.
#pragma once

#include <string_view>

namespace uMsg_kvPEFileUtils {

inline constexpr std::u16string_view SNoModuleOpened = u"No module is open.";
inline constexpr std::u16string_view SOpenedAsReadOnly = u"The module was opened for reading only.";
inline constexpr std::u16string_view SInvalidPEFile = u"The file is not a valid Portable Executable file.";
inline constexpr std::u16string_view SFailedToReadModule = u"Failed to read the module.";
inline constexpr std::u16string_view SInvalidParameters = u"Invalid parameters.";
inline constexpr std::u16string_view SNoSectionsToRemove =
    u"An attempt to remove a section from a file while it has no sections.";
inline constexpr std::u16string_view SSectionAlignmentTooSmall =
    u"The modules whose SectionAlignment value is less than the page size (4Kb) cannot be modified.";
// %d: the section's SizeOfRawData in decimal.
inline constexpr std::u16string_view SNotEnoughMemoryForSection =
    u"Failed to operate with a %d-byte section because there is not enough memory.";
inline constexpr std::u16string_view SChecksumFailed = u"Checksum calculation failed.";
inline constexpr std::u16string_view SNoRoomForSection =
    u"The section table has no room for another section header before the first section's data.";
inline constexpr std::u16string_view SDataAfterLastSection = u"The module has data after its last section.";
inline constexpr std::u16string_view SHeadersReachNamedData =
    u"The headers would overwrite data that a data directory names in the header area.";
inline constexpr std::u16string_view SHeadersReachOtherData =
    u"The headers would overwrite other data after the section table.";
inline constexpr std::u16string_view SSymbolTableNotKept =
    u"The COFF symbol table runs into other data of the module and cannot be kept.";

}  // namespace uMsg_kvPEFileUtils
