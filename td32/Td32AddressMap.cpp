// Which procedure holds an address. Procedures may nest or, in a damaged
// block, overlap; the map cuts the address space into pieces that each
// name the innermost procedure holding them, so a lookup is one binary
// search whatever the block holds.
#include <algorithm>
#include <limits>
#include <queue>

#include "Td32DebugInfo.h"

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

std::uint64_t Key(std::uint16_t segment, std::uint32_t offset) { return std::uint64_t{segment} << 32 | offset; }

}  // namespace

// One sweep over the procedures in address order. The active procedure that
// comes last in that order is the innermost: it starts last and, among
// those starting there, is the shortest.
void TTd32DebugInfo::BuildAddressMap() {
    auto const start = [this](std::uint32_t i) { return Key(procedures_[i].Segment, procedures_[i].Offset); };
    auto const end = [&](std::uint32_t i) {
        return std::min(start(i) + procedures_[i].Length, Key(procedures_[i].Segment, 0) + (std::uint64_t{1} << 32));
    };
    auto const emit = [this](std::uint64_t at, std::uint32_t procedure) {
        if (!pieces_.empty() && pieces_.back().Start == at)
            pieces_.back().Procedure = procedure;
        else if (pieces_.empty() || pieces_.back().Procedure != procedure)
            pieces_.push_back({at, procedure});
    };
    std::priority_queue<std::uint32_t> active;
    std::uint64_t cursor = 0;
    auto const advance = [&](std::uint64_t target) {
        while (cursor < target) {
            while (!active.empty() && end(active.top()) <= cursor) active.pop();
            if (active.empty()) {
                emit(cursor, kNone);
                cursor = target;
            } else {
                emit(cursor, active.top());
                cursor = std::min(target, end(active.top()));
            }
        }
    };
    pieces_.reserve(2 * procedures_.size() + 2);
    for (std::uint32_t i = 0; i < procedures_.size(); ++i) {
        if (procedures_[i].Length == 0) continue;  // holds no address
        advance(start(i));
        active.push(i);
    }
    advance(std::numeric_limits<std::uint64_t>::max());
}

const TTd32Procedure* TTd32DebugInfo::FindProcedure(std::uint16_t segment, std::uint32_t offset) const {
    auto const after = std::upper_bound(pieces_.begin(), pieces_.end(), Key(segment, offset),
                                        [](std::uint64_t key, const AddressPiece& p) { return key < p.Start; });
    if (after == pieces_.begin() || std::prev(after)->Procedure == kNone) return nullptr;
    return &procedures_[std::prev(after)->Procedure];
}
