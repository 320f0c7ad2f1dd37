// A search for where a condition stops holding, started from a guess.
#pragma once

#include <algorithm>
#include <cstdint>

// The number of positions in [0, count) at which before holds, where it
// holds for a first run of them and for none after. The search starts at
// start, gallops up or down from there and then halves, so a guess near
// the answer (where the last search ended, say) costs a few steps.
template <class Before>
std::uint64_t PartitionFrom(std::uint64_t count, std::uint64_t start, Before before) {
    if (count == 0) return 0;
    start = std::min(start, count - 1);
    // The answer lies in [low, high].
    std::uint64_t low = 0;
    std::uint64_t high = count;
    std::uint64_t step = 1;
    if (before(start)) {
        low = start + 1;
        while (low + step <= count && before(low + step - 1)) {
            low += step;
            step *= 2;
        }
        high = std::min(count, low + step - 1);
    } else {
        high = start;
        while (step <= high && !before(high - step)) {
            high -= step;
            step *= 2;
        }
        low = step <= high ? high - step + 1 : 0;
    }
    while (low < high) {
        std::uint64_t const middle = low + (high - low) / 2;
        if (before(middle))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}
