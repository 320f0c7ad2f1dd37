// Which procedure holds an address. Where no two procedures share an
// address, that is the last one to start at or before it. Procedures may
// nest, though, or in a damaged block overlap; then a map cuts the address
// space into pieces that each name the innermost procedure holding them, so
// a lookup is one binary search whatever the block holds.
#include <algorithm>
#include <limits>
#include <queue>

#include "Td32DebugInfo.h"
#include "Td32Search.h"

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

std::uint64_t Key(std::uint16_t segment, std::uint32_t offset) { return std::uint64_t{segment} << 32 | offset; }

std::uint64_t Start(const TTd32Procedure& p) { return Key(p.Segment, p.Offset); }

std::uint64_t End(const TTd32Procedure& p) {
    return std::min(Start(p) + p.Length, Key(p.Segment, 0) + (std::uint64_t{1} << 32));
}

bool Holds(const TTd32Procedure& p, std::uint64_t key) { return Start(p) <= key && key < End(p); }

// True when some procedure is empty or shares addresses with another.
bool Overlapping(const std::vector<TTd32Procedure>& procedures) {
    for (std::size_t i = 0; i < procedures.size(); ++i) {
        if (procedures[i].Length == 0 || (i > 0 && Start(procedures[i]) < End(procedures[i - 1]))) return true;
    }
    return false;
}

// The number of items that start at or below key, given that they are in
// order of their start. The search starts from where the last one ended
// (hint), so a run of lookups in address order costs a few steps each.
template <class Item, class StartOf>
std::size_t CountAtOrBelow(const std::vector<Item>& items, std::uint64_t key, std::size_t& hint, StartOf start) {
    auto const low = static_cast<std::size_t>(
        PartitionFrom(items.size(), hint, [&](std::uint64_t i) { return start(items[i]) <= key; }));
    hint = low > 0 ? low - 1 : 0;
    return low;
}

}  // namespace

// One sweep over the procedures in address order. The active procedure that
// comes last in that order is the innermost: it starts last and, among
// those starting there, is the shortest.
void TTd32DebugInfo::BuildAddressMap() {
    if (!Overlapping(procedures_)) return;
    auto const start = [this](std::uint32_t i) { return Start(procedures_[i]); };
    auto const end = [this](std::uint32_t i) { return End(procedures_[i]); };
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
    std::uint64_t const key = Key(segment, offset);
    if (pieces_.empty()) {
        std::size_t const next = CountAtOrBelow(procedures_, key, findHint_, [](auto& p) { return Start(p); });
        return next > 0 && Holds(procedures_[next - 1], key) ? &procedures_[next - 1] : nullptr;
    }
    std::size_t const after = CountAtOrBelow(pieces_, key, findHint_, [](auto& p) { return p.Start; });
    if (after == 0 || pieces_[after - 1].Procedure == kNone) return nullptr;
    return &procedures_[pieces_[after - 1].Procedure];
}
