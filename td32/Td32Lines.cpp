// Line numbers (subsection 0x127): per compilation unit, source files, each
// with one line table per segment: ascending code offsets and their lines.
// Offsets are from the subsection's start; nothing is padded.
#include <algorithm>
#include <tuple>
#include <utility>

#include "Td32Cursor.h"
#include "Td32DebugInfo.h"
#include "Td32Search.h"
#include "uMsg_Td32DebugInfo.h"

using namespace uMsg_Td32DebugInfo;

namespace {

constexpr std::uint32_t kEntrySize = 6;  // a u32 offset and a u16 line

}  // namespace

// File entries and line tables are each read in offset order, and none may
// share bytes with another: entries that all name the same table would
// otherwise be read over and over.
bool TTd32DebugInfo::ReadSourceModule(const Subsection& subsection) {
    std::uint32_t module = 0;
    if (!ModuleAt(subsection.Module, module)) return false;
    std::uint64_t const start = subsection.Offset;
    std::uint64_t const end = start + subsection.Size;
    TTd32Cursor header(block_, start, end);
    std::uint16_t const fileCount = header.U16();
    std::uint16_t const segmentCount = header.U16();
    // File offsets, then a start and end offset and a segment per segment.
    if (!header.Has(fileCount * 4ull + segmentCount * 10ull)) return Fail(SLinesDamaged);
    std::vector<std::uint64_t> fileEntries(fileCount);
    for (std::uint64_t& at : fileEntries) at = start + header.U32();
    std::sort(fileEntries.begin(), fileEntries.end());
    std::vector<std::pair<std::uint64_t, std::uint32_t>> tables;  // where, and the file
    std::uint64_t previousEnd = 0;
    for (std::uint64_t const at : fileEntries) {
        if (at < previousEnd) return Fail(SLinesOverlap);
        if (!ReadSourceFile(at, start, end, module, tables, previousEnd)) return false;
    }
    std::sort(tables.begin(), tables.end());
    previousEnd = 0;
    for (auto const& [at, file] : tables) {
        if (at < previousEnd) return Fail(SLinesOverlap);
        if (!ReadLineTable(at, end, file, previousEnd)) return false;
    }
    return true;
}

bool TTd32DebugInfo::ReadSourceFile(std::uint64_t at, std::uint64_t start, std::uint64_t end, std::uint32_t module,
                                    std::vector<std::pair<std::uint64_t, std::uint32_t>>& tables,
                                    std::uint64_t& entryEnd) {
    TTd32Cursor file(block_, at, end);
    std::uint16_t const count = file.U16();
    std::uint32_t const name = file.U32();
    // Table offsets, then the start and end offset of each table.
    if (!file.Has(count * 12ull)) return Fail(SLinesDamaged);
    std::uint32_t nameAt = 0;
    if (!ResolveName(name, nameAt)) return false;
    files_.push_back({module, NameAt(nameAt)});
    for (std::uint16_t i = 0; i < count; ++i) {
        tables.emplace_back(start + file.U32(), static_cast<std::uint32_t>(files_.size() - 1));
    }
    file.Skip(count * 8ull);
    entryEnd = file.Position();
    return true;
}

bool TTd32DebugInfo::ReadLineTable(std::uint64_t at, std::uint64_t end, std::uint32_t file, std::uint64_t& tableEnd) {
    TTd32Cursor entries(block_, at, end);
    TTd32LineTable table;
    table.File = file;
    table.Segment = entries.U16();
    table.Count = entries.U16();
    table.OffsetsAt = entries.Position();
    if (!entries.Has(std::uint64_t{table.Count} * kEntrySize)) return Fail(SLinesDamaged);
    const std::uint8_t* offsets = block_.data() + table.OffsetsAt;
    table.FirstOffset = table.Count > 0 ? LoadLe32(offsets) : 0;
    table.LastOffset = table.FirstOffset;
    for (std::uint32_t i = 1; i < table.Count; ++i) {
        std::uint32_t const offset = LoadLe32(offsets + 4ull * i);
        if (offset < table.LastOffset) return Fail(SLinesUnordered);
        table.LastOffset = offset;
    }
    entries.Skip(table.Count * 6ull);
    tableEnd = entries.Position();
    lineEntries_ += table.Count;
    if (table.Count > 0) tables_.push_back(table);
    return true;
}

// Sorts the tables by unit, segment and first offset, and notes for each
// the highest last offset of its group so far: a search that walks a group
// down from the table that starts last can stop where no earlier table
// reaches the procedure.
void TTd32DebugInfo::GroupLineTables() {
    auto const key = [this](const TTd32LineTable& t) {
        return std::tuple(files_[t.File].Module, t.Segment, t.FirstOffset, t.OffsetsAt);
    };
    std::sort(tables_.begin(), tables_.end(), [&](auto& a, auto& b) { return key(a) < key(b); });
    tableLastMax_.resize(tables_.size());
    for (std::uint32_t i = 0; i < tables_.size(); ++i) {
        std::uint32_t const module = files_[tables_[i].File].Module;
        if (groups_.empty() || groups_.back().Module != module || groups_.back().Segment != tables_[i].Segment) {
            groups_.push_back({module, tables_[i].Segment, i, i});
        }
        bool const first = groups_.back().First == i;
        tableLastMax_[i] = first ? tables_[i].LastOffset : std::max(tableLastMax_[i - 1], tables_[i].LastOffset);
        groups_.back().End = i + 1;
    }
}

const TTd32DebugInfo::TableGroup* TTd32DebugInfo::FindGroup(std::uint32_t module, std::uint16_t segment) const {
    // A listing asks for one unit's procedures one after another.
    if (lastGroup_ != nullptr && lastGroup_->Module == module && lastGroup_->Segment == segment) return lastGroup_;
    auto const it =
        std::lower_bound(groups_.begin(), groups_.end(), std::pair(module, segment),
                         [](const TableGroup& g, auto key) { return std::pair(g.Module, g.Segment) < key; });
    if (it == groups_.end() || it->Module != module || it->Segment != segment) return nullptr;
    lastGroup_ = &*it;
    return lastGroup_;
}

std::uint32_t TTd32DebugInfo::EntryOffset(const TTd32LineTable& table, std::uint32_t entry) const {
    return Td32Le32(block_, table.OffsetsAt + 4ull * entry);
}

// The first entry of the table whose offset is above value (or at least
// value, when atOrAbove). The search starts from where the last one in the
// same table ended, as a listing and -l ask in address order, else from
// where the value would lie were the entries evenly spread: a few reads of
// the block each.
std::uint32_t TTd32DebugInfo::FindEntry(const TTd32LineTable& table, std::uint32_t value, bool atOrAbove) const {
    auto const before = [&](std::uint64_t entry) {
        std::uint32_t const offset = EntryOffset(table, static_cast<std::uint32_t>(entry));
        return atOrAbove ? offset < value : offset <= value;
    };
    std::uint32_t start = 0;  // Count > 0, as for every table kept
    if (hintTable_ == &table && hintEntry_ < table.Count)
        start = hintEntry_;
    else if (value >= table.LastOffset)
        start = table.Count - 1;
    else if (value > table.FirstOffset)
        start = static_cast<std::uint32_t>(std::uint64_t{value - table.FirstOffset} * (table.Count - 1) /
                                           (table.LastOffset - table.FirstOffset));
    auto const low = static_cast<std::uint32_t>(PartitionFrom(table.Count, start, before));
    hintTable_ = &table;
    hintEntry_ = low > 0 ? low - 1 : 0;
    return low;
}

TTd32Line TTd32DebugInfo::LineOf(const TTd32LineTable& table, std::uint32_t entry) const {
    return {table.File, EntryOffset(table, entry),
            Td32Le16(block_, table.OffsetsAt + 4ull * table.Count + 2ull * entry)};
}

// Calls visit for each table of the unit and segment that may hold an entry
// in [low, high].
template <class Visit>
void TTd32DebugInfo::VisitTables(const TTd32Procedure& procedure, std::uint32_t low, std::uint32_t high,
                                 Visit visit) const {
    const TableGroup* group = FindGroup(procedure.Module, procedure.Segment);
    if (group == nullptr) return;
    auto const begin = tables_.begin() + group->First;
    auto const after = std::upper_bound(begin, tables_.begin() + group->End, high,
                                        [](std::uint32_t v, const TTd32LineTable& t) { return v < t.FirstOffset; });
    for (auto j = static_cast<std::size_t>(after - tables_.begin()); j > group->First && tableLastMax_[j - 1] >= low;
         --j) {
        visit(tables_[j - 1]);
    }
}

std::optional<TTd32Line> TTd32DebugInfo::FindLine(const TTd32Procedure& procedure, std::uint32_t offset) const {
    std::optional<TTd32Line> best;
    if (offset < procedure.Offset) return best;
    VisitTables(procedure, procedure.Offset, offset, [&](const TTd32LineTable& table) {
        std::uint32_t const above = FindEntry(table, offset, false);
        if (above == 0) return;
        TTd32Line const line = LineOf(table, above - 1);
        if (line.Offset >= procedure.Offset && (!best || line.Offset > best->Offset)) best = line;
    });
    return best;
}

std::optional<TTd32Line> TTd32DebugInfo::FirstLine(const TTd32Procedure& procedure) const {
    std::optional<TTd32Line> best;
    if (procedure.Length == 0) return best;
    std::uint32_t const last = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{procedure.Offset} + procedure.Length - 1, 0xFFFFFFFFu));
    VisitTables(procedure, procedure.Offset, last, [&](const TTd32LineTable& table) {
        std::uint32_t const first = FindEntry(table, procedure.Offset, true);
        if (first == table.Count) return;
        TTd32Line const line = LineOf(table, first);
        if (line.Offset <= last && (!best || line.Offset < best->Offset)) best = line;
    });
    return best;
}
