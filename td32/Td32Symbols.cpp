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
// Parent, end, next, length, debug start and end, offset, segment, flags,
// type and name; an unknown word and the linkage name may follow.
constexpr std::uint32_t kProcedureSize = 40;
constexpr std::uint32_t kLinkageNameAt = 44;

}  // namespace

bool TTd32DebugInfo::ReadSymbols(const Subsection& subsection) {
    std::uint32_t module = 0;
    if (!ModuleAt(subsection.Module, module)) return false;
    TTd32Cursor records(block_, subsection.Offset, std::uint64_t{subsection.Offset} + subsection.Size);
    records.Skip(4);  // signature
    while (records.Has(4)) {
        std::uint16_t const length = records.U16();
        std::uint16_t const type = records.U16();
        if (length < 2 || !records.Has(length - 2u)) return Fail(SSymbolsDamaged);
        if ((type == kLocalProcedure || type == kGlobalProcedure) &&
            !ReadProcedure(records.Position(), length - 2u, module))
            return false;
        records.Skip(length - 2u);
    }
    return true;
}

bool TTd32DebugInfo::ReadProcedure(std::uint32_t body, std::uint32_t bodySize, std::uint32_t module) {
    if (bodySize < kProcedureSize) return Fail(SSymbolsDamaged);
    TTd32Cursor fields(block_, body, std::uint64_t{body} + bodySize);
    TTd32Procedure procedure;
    procedure.Module = static_cast<std::uint16_t>(module);
    fields.Skip(12);  // parent, end, next
    procedure.Length = fields.U32();
    fields.Skip(8);  // debug start and end
    procedure.Offset = fields.U32();
    procedure.Segment = fields.U16();
    fields.Skip(6);  // flags, type
    if (!ResolveName(fields.U32(), procedure.NameAt)) return false;
    if (bodySize > kLinkageNameAt) {
        std::uint32_t const linkage = body + kLinkageNameAt;
        std::uint8_t const length = block_[linkage];
        if (1u + length > bodySize - kLinkageNameAt) return Fail(SSymbolsDamaged);
        if (length > 0) procedure.NameAt = linkage;
    }
    procedures_.push_back(procedure);
    return true;
}
