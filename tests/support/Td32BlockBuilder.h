// Builds TD32 debug blocks for tests as linkers lay them out: the head, a
// unit record (0x120) per compilation unit, then per unit its line numbers
// (0x127, one table per source file entry) and symbols (0x125), the name
// table (0x130), the directory and the trailer.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "TestModuleBuilder.h"

namespace testsupport {

struct Td32Proc {
    std::string Name;
    std::uint16_t Segment = 1;
    std::uint32_t Offset = 0;
    std::uint32_t Length = 0;
    std::string Linkage = {};  // appended to the record when not empty
};

struct Td32Lines {
    std::string File;
    std::uint16_t Segment = 1;
    std::vector<std::pair<std::uint32_t, std::uint16_t>> Entries;  // offset, line
};

struct Td32Unit {
    std::string Name;
    std::vector<Td32Lines> Files = {};
    std::vector<Td32Proc> Procs = {};
};

Bytes BuildTd32Block(const std::vector<Td32Unit>& units);
// Three units: Unit1 with a procedure, two nested ones (the second after
// the last line entry) and lines in two files (an include file in the
// middle); Dummy with only a line at 1:0, as linkers
// give units without code; Unit2 with two procedures and no lines.
Bytes Td32ExampleBlock();
// Where the nth directory entry of the given subsection type lies.
std::size_t Td32EntryAt(const Bytes& block, std::uint16_t type, int nth = 0);

}  // namespace testsupport
