// The name table: every name elsewhere in the block is a 1-based index into
// it (0: no name). Each entry is a length byte, the bytes and a zero byte.
#include "Td32Cursor.h"
#include "Td32DebugInfo.h"
#include "uMsg_Td32DebugInfo.h"

using namespace uMsg_Td32DebugInfo;

namespace {

constexpr std::uint32_t kSmallestEntry = 2;  // an empty name and its zero byte

}  // namespace

bool TTd32DebugInfo::ReadNameTable(const std::vector<Subsection>& subsections) {
    const Subsection* table = nullptr;
    for (const Subsection& subsection : subsections) {
        if (subsection.Type != kNames) continue;
        if (table != nullptr) return Fail(STwoNameTables);
        table = &subsection;
    }
    if (table == nullptr) return true;
    TTd32Cursor names(block_, table->Offset, std::uint64_t{table->Offset} + table->Size);
    std::uint32_t const count = names.U32();
    if (!names.Has(std::uint64_t{count} * kSmallestEntry)) return Fail(SNameTableDamaged);
    // Only every kNameStride-th position is kept: a table of millions of
    // names would otherwise fill megabytes of fresh memory.
    nameMarks_.reserve(count / kNameStride + 1);
    // Each entry must start before the end; the last must also end by it.
    std::uint64_t at = names.Position();
    std::uint64_t const end = std::uint64_t{table->Offset} + table->Size;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (at >= end) return Fail(SNameTableDamaged);
        if (i % kNameStride == 0) nameMarks_.push_back(static_cast<std::uint32_t>(at));
        at += block_[at] + 2u;
    }
    if (at > end) return Fail(SNameTableDamaged);
    nameCount_ = count;
    return true;
}

bool TTd32DebugInfo::ResolveName(std::uint32_t index, std::uint32_t& at) {
    if (index > nameCount_) return Fail(SNameOutOfRange);
    if (index == 0) {
        at = 0;
        return true;
    }
    // Every entry up to the count was checked to start within the table.
    std::uint64_t position = nameMarks_[(index - 1) / kNameStride];
    for (std::uint32_t i = (index - 1) % kNameStride; i > 0; --i) position += block_[position] + 2u;
    at = static_cast<std::uint32_t>(position);
    return true;
}
