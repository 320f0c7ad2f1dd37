// Reading a block: the order of the steps, and the small queries.
#include "Td32DebugInfo.h"

#include <algorithm>
#include <tuple>
#include <unordered_set>

#include "Td32Cursor.h"
#include "uMsg_Td32DebugInfo.h"

using namespace uMsg_Td32DebugInfo;

namespace {

constexpr std::uint32_t kSignature = 0x39304246;  // "FB09"
constexpr std::uint32_t kSmallestProcedure = 44;  // record length, type and the fields up to the name

bool AddressOrder(const TTd32Procedure& a, const TTd32Procedure& b) {
    return std::tuple(a.Segment, a.Offset, b.Length, a.NameAt) < std::tuple(b.Segment, b.Offset, a.Length, b.NameAt);
}

}  // namespace

bool TTd32DebugInfo::Fail(std::u16string_view reason) {
    reason_ = reason;
    return false;
}

bool TTd32DebugInfo::Read(std::span<const std::uint8_t> block, std::u16string_view& reason) {
    *this = TTd32DebugInfo();
    block_ = block;
    std::vector<Subsection> subsections;
    bool const ok = TTd32Cursor(block, 0, block.size()).U32() == kSignature
                        ? ReadDirectories(subsections) && ReadSubsections(subsections)
                        : Fail(SNoSignature);
    nameMarks_ = {};
    if (!ok) {
        reason = reason_;
        *this = TTd32DebugInfo();
        return false;
    }
    if (!std::is_sorted(procedures_.begin(), procedures_.end(), AddressOrder))
        std::sort(procedures_.begin(), procedures_.end(), AddressOrder);
    GroupLineTables();
    BuildAddressMap();
    return true;
}

// The compilation units first: the line tables and symbols name theirs.
bool TTd32DebugInfo::ReadSubsections(const std::vector<Subsection>& subsections) {
    if (!ReadNameTable(subsections) || !ReadModules(subsections)) return false;
    // Room for as many procedures as the symbols can hold: pages that are
    // never written cost no memory.
    std::uint64_t symbolBytes = 0;
    for (const Subsection& subsection : subsections) {
        if (subsection.Type == kAlignSymbols) symbolBytes += subsection.Size;
    }
    procedures_.reserve(symbolBytes / kSmallestProcedure);
    for (const Subsection& subsection : subsections) {
        if (subsection.Type == kSourceModule && !ReadSourceModule(subsection)) return false;
        if (subsection.Type == kAlignSymbols && !ReadSymbols(subsection)) return false;
    }
    return true;
}

std::size_t TTd32DebugInfo::DistinctSourceFileCount() const {
    std::unordered_set<std::string_view> names;
    for (const TTd32SourceFile& file : files_) names.insert(file.Name);
    return names.size();
}
