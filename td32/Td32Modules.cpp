// The compilation units (subsection 0x120): a name and the stretches of
// segments that the unit's code and data occupy.
#include <algorithm>

#include "Td32Cursor.h"
#include "Td32DebugInfo.h"
#include "uMsg_Td32DebugInfo.h"

using namespace uMsg_Td32DebugInfo;

namespace {

constexpr std::uint32_t kFixedPart = 28;
constexpr std::uint32_t kRangeSize = 12;
constexpr std::uint16_t kCodeFlag = 1;

}  // namespace

// Linkers state the size of these subsections wrongly (a fixed 76 bytes), so
// each is read as far as its segment count says; read in offset order, no
// two units may share bytes.
bool TTd32DebugInfo::ReadModules(const std::vector<Subsection>& subsections) {
    std::vector<const Subsection*> units;
    for (const Subsection& subsection : subsections) {
        if (subsection.Type == kModule) units.push_back(&subsection);
    }
    std::sort(units.begin(), units.end(), [](auto* a, auto* b) { return a->Offset < b->Offset; });
    std::uint64_t end = 0;
    for (const Subsection* unit : units) {
        if (unit->Offset < end) return Fail(SSubsectionsOverlap);
        if (!ReadModule(*unit, end)) return false;
    }
    return true;
}

bool TTd32DebugInfo::ReadModule(const Subsection& subsection, std::uint64_t& end) {
    TTd32Cursor unit(block_, subsection.Offset, block_.size());
    unit.Skip(4);  // overlay, library
    std::uint16_t const count = unit.U16();
    unit.Skip(2);  // style
    std::uint32_t const name = unit.U32();
    unit.Skip(kFixedPart - 12);
    if (!unit.Has(std::uint64_t{count} * kRangeSize)) return Fail(SModuleDamaged);
    TTd32Module module;
    module.Index = subsection.Module;
    std::uint32_t nameAt = 0;
    if (!ResolveName(name, nameAt)) return false;
    module.Name = NameAt(nameAt);
    module.Ranges.resize(count);
    for (TTd32CodeRange& range : module.Ranges) {
        range.Segment = unit.U16();
        range.IsCode = (unit.U16() & kCodeFlag) != 0;
        range.Offset = unit.U32();
        range.Size = unit.U32();
    }
    end = unit.Position();
    if (moduleByIndex_.size() <= module.Index) moduleByIndex_.resize(module.Index + 1u);
    if (moduleByIndex_[module.Index] != 0) return Fail(SModuleTwice);
    modules_.push_back(std::move(module));
    moduleByIndex_[subsection.Module] = static_cast<std::uint32_t>(modules_.size());
    return true;
}

bool TTd32DebugInfo::ModuleAt(std::uint16_t index, std::uint32_t& position) {
    if (index >= moduleByIndex_.size() || moduleByIndex_[index] == 0) return Fail(SModuleUnknown);
    position = moduleByIndex_[index] - 1;
    return true;
}
