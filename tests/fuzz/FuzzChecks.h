// The properties the fuzz targets check on any input, shared with the tests
// of every build. Each check returns the violated property, or nothing.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace fuzzcheck {

// The input as a module for the editor: opening never crashes and a refusal
// gives a reason; after one change chosen by the input, a refused write-back
// that says it wrote nothing left the file alone, and a written module opens
// again.
std::string CheckEditor(std::span<const std::uint8_t> input);
// The input as a module for the extraction (byte 2: bit 0 is -w, bit 1 puts
// an earlier .tds file in place): a done module gave its exact tail to the
// .tds file and still reads without its ".debug" section; a failed one is
// unchanged and left no new .tds file, unless the message says the block was
// saved, and then it was. Never part of a file at the .tds path.
std::string CheckExtraction(std::span<const std::uint8_t> input);
// The input as a module and a .tds file, whose length its last 4 bytes give:
// a refusal left both files alone (the module unless the message says the
// block is still in the .tds file); an attached block strips off again to
// the .tds bytes and the module's bytes as the editor writes them.
std::string CheckAttachment(std::span<const std::uint8_t> input);
// The input as text: argument splitting ends and never overruns, the wrap
// keeps every word and breaks wherever a blank allows, the UTF-8 round trip
// gives the bytes back, a new extension never changes the folder part, and
// (POSIX) the command line parses.
std::string CheckCliText(std::span<const std::uint8_t> input);

// The input as a TD32 block: reading never crashes, and a refusal gives a
// reason and keeps nothing. A lookup of any address (each procedure's first
// and last byte, and addresses the input names) gives a procedure that holds
// it and starts last among those that do, or none when none does; its line
// is the unit's last line entry within the procedure at or before the
// address, and a procedure's first line its first entry.
std::string CheckTd32Reader(std::span<const std::uint8_t> input);

using Seed = std::pair<std::string, std::vector<std::uint8_t>>;
// Modules from the test builder and the real mingw-w64 modules, with and
// without TD32 blocks; texts for the command-line functions.
std::vector<Seed> ModuleSeeds();
// The module seeds, each followed by a .tds file and its length.
std::vector<Seed> AttachmentSeeds();
std::vector<Seed> TextSeeds();
// TD32 blocks from the test block builder.
std::vector<Seed> Td32Seeds();

}  // namespace fuzzcheck
