// The subsection directories: the word after the signature names the first,
// and each may name a next one.
#include <algorithm>
#include <iterator>
#include <set>

#include "Td32Cursor.h"
#include "Td32DebugInfo.h"
#include "uMsg_Td32DebugInfo.h"

using namespace uMsg_Td32DebugInfo;

namespace {

constexpr std::uint32_t kHeaderSize = 16;
constexpr std::uint32_t kEntrySize = 12;

}  // namespace

bool TTd32DebugInfo::ReadDirectories(std::vector<Subsection>& subsections) {
    std::set<std::uint32_t> seen;
    std::uint32_t at = Td32Le32(block_, 4);
    do {
        if (!seen.insert(at).second) return Fail(SDirectoryCycle);
        if (!ReadDirectory(at, subsections, at)) return false;
    } while (at != 0);
    // The subsections that are read must not share bytes: a block whose
    // entries all name the same bytes would otherwise be read over and over.
    // The compilation units are left out: linkers state their size wrongly.
    std::vector<Subsection> read;
    std::copy_if(subsections.begin(), subsections.end(), std::back_inserter(read), [](const Subsection& s) {
        return s.Type == kAlignSymbols || s.Type == kSourceModule || s.Type == kNames;
    });
    std::sort(read.begin(), read.end(), [](auto& a, auto& b) { return a.Offset < b.Offset; });
    for (std::size_t i = 1; i < read.size(); ++i) {
        if (read[i].Offset < std::uint64_t{read[i - 1].Offset} + read[i - 1].Size) return Fail(SSubsectionsOverlap);
    }
    return true;
}

bool TTd32DebugInfo::ReadDirectory(std::uint32_t at, std::vector<Subsection>& subsections, std::uint32_t& next) {
    TTd32Cursor header(block_, at, block_.size());
    std::uint16_t const headerSize = header.U16();
    std::uint16_t const entrySize = header.U16();
    std::uint32_t const count = header.U32();
    next = header.U32();
    if (!header.Ok()) return Fail(SDirectoryOutside);
    if (headerSize < kHeaderSize || entrySize < kEntrySize) return Fail(SDirectoryLayout);
    TTd32Cursor entries(block_, std::uint64_t{at} + headerSize, block_.size());
    if (!entries.Has(std::uint64_t{count} * entrySize)) return Fail(SDirectoryCount);
    subsections.reserve(subsections.size() + count);
    for (std::uint32_t i = 0; i < count; ++i) {
        Subsection entry;
        entry.Type = entries.U16();
        entry.Module = entries.U16();
        entry.Offset = entries.U32();
        entry.Size = entries.U32();
        entries.Skip(entrySize - kEntrySize);
        if (std::uint64_t{entry.Offset} + entry.Size > block_.size()) return Fail(SSubsectionOutside);
        subsections.push_back(entry);
    }
    return true;
}
