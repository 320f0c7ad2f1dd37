// Why a TD32 block could not be read: the reasons TTd32DebugInfo gives.
#pragma once

#include <string_view>

namespace uMsg_Td32DebugInfo {

inline constexpr std::u16string_view SBlockTooLarge = u"the block is larger than 4 GiB.";
inline constexpr std::u16string_view SNoSignature = u"the block does not start with \"FB09\".";
inline constexpr std::u16string_view SDirectoryOutside = u"a subsection directory lies outside the block.";
inline constexpr std::u16string_view SDirectoryLayout = u"a subsection directory has an unknown layout.";
inline constexpr std::u16string_view SDirectoryCount =
    u"a subsection directory lists more entries than the block holds.";
inline constexpr std::u16string_view SDirectoryCycle = u"the subsection directories form a cycle.";
inline constexpr std::u16string_view SSubsectionOutside = u"a subsection lies outside the block.";
inline constexpr std::u16string_view SSubsectionsOverlap = u"two subsections overlap.";
inline constexpr std::u16string_view STwoNameTables = u"the block has more than one name table.";
inline constexpr std::u16string_view SNameTableDamaged = u"the name table runs past its subsection.";
inline constexpr std::u16string_view SNameOutOfRange = u"a name index lies outside the name table.";
inline constexpr std::u16string_view SModuleDamaged = u"a compilation unit's segment list runs past the block.";
inline constexpr std::u16string_view SModuleTwice = u"a compilation unit is listed twice.";
inline constexpr std::u16string_view SModuleUnknown = u"a subsection belongs to a compilation unit that is not listed.";
inline constexpr std::u16string_view SLinesDamaged = u"a line number subsection runs past its end.";
inline constexpr std::u16string_view SLinesOverlap = u"two entries of a line number subsection overlap.";
inline constexpr std::u16string_view SLinesUnordered = u"a line table is not in address order.";
inline constexpr std::u16string_view SSymbolsDamaged = u"a symbol record runs past its subsection.";

}  // namespace uMsg_Td32DebugInfo
