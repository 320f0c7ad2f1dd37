// The symbols of a compilation unit (subsection 0x125): a signature word,
// then records of a u16 length (not counting itself), a u16 type and the
// body. Only the procedures (0x204 local, 0x205 global) are kept.
#include "Td32Cursor.h"
#include "Td32DebugInfo.h"
#include "uMsg_Td32DebugInfo.h"

using namespace uMsg_Td32DebugInfo;

namespace {

constexpr std::uint16_t kLocalProcedure = 0x204;
constexpr std::uint16_t kGlobalProcedure = 0x205;
// Parent, end, next, length (at 12), debug start and end, offset (24),
// segment (28), flags, type and name (36); an unknown word and the linkage
// name may follow.
constexpr std::uint32_t kProcedureSize = 40;
constexpr std::uint32_t kLinkageNameAt = 44;

}  // namespace

bool TTd32DebugInfo::ReadSymbols(const Subsection& subsection) {
    std::uint32_t module = 0;
    if (!ModuleAt(subsection.Module, module)) return false;
    std::uint32_t const end = subsection.Offset + subsection.Size;  // checked to lie in the block
    for (std::uint32_t at = subsection.Offset + 4; end > at && end - at >= 4;) {
        std::uint16_t const length = LoadLe16(&block_[at]);
        std::uint16_t const type = LoadLe16(&block_[at + 2]);
        if (length < 2 || length - 2u > end - at - 4) return Fail(SSymbolsDamaged);
        if ((type == kLocalProcedure || type == kGlobalProcedure) && !ReadProcedure(at + 4, length - 2u, module))
            return false;
        at += 2u + length;
    }
    return true;
}

bool TTd32DebugInfo::ReadProcedure(std::uint32_t body, std::uint32_t bodySize, std::uint32_t module) {
    if (bodySize < kProcedureSize) return Fail(SSymbolsDamaged);
    const std::uint8_t* fields = block_.data() + body;
    TTd32Procedure procedure;
    procedure.Module = static_cast<std::uint16_t>(module);
    procedure.Length = LoadLe32(fields + 12);
    procedure.Offset = LoadLe32(fields + 24);
    procedure.Segment = LoadLe16(fields + 28);
    std::uint32_t const name = LoadLe32(fields + 36);
    if (name > nameCount_) return Fail(SNameOutOfRange);
    if (bodySize > kLinkageNameAt) {
        std::uint32_t const linkage = body + kLinkageNameAt;
        std::uint8_t const length = block_[linkage];
        if (1u + length > bodySize - kLinkageNameAt) return Fail(SSymbolsDamaged);
        if (length > 0) procedure.NameAt = linkage;
    }
    // The name entry is looked up only when no linkage name replaces it.
    if (procedure.NameAt == 0 && !ResolveName(name, procedure.NameAt)) return false;
    procedures_.push_back(procedure);
    return true;
}
