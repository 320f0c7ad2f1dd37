// TTd32DebugInfo: reads a TD32 ("FB09") debug block held in memory and
// answers what a crash address means: the compilation units with their code
// ranges, the source files with their line tables, the procedures, and the
// procedure and source line of a segment:offset. It does no file access.
//
// The block is untrusted: every offset, count and size is checked against
// it before use, nothing is allocated for a count the block cannot hold,
// and a damaged block is refused with a reason. The block must outlive the
// object, whose names are views into it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A stretch of a segment that a compilation unit contributes.
struct TTd32CodeRange {
    std::uint16_t Segment = 0;
    bool IsCode = false;
    std::uint32_t Offset = 0;
    std::uint32_t Size = 0;
};

// A compilation unit, by its 1-based index in the block.
struct TTd32Module {
    std::uint16_t Index = 0;
    std::string_view Name;
    std::vector<TTd32CodeRange> Ranges;
};

struct TTd32SourceFile {
    std::uint32_t Module = 0;  // position in Modules()
    std::string_view Name;
};

// The line entries of one source file in one segment, ascending by offset;
// the entries stay in the block.
struct TTd32LineTable {
    std::uint32_t File = 0;  // position in SourceFiles()
    std::uint16_t Segment = 0;
    std::uint32_t Count = 0;
    std::uint32_t OffsetsAt = 0;  // Count u32 offsets, then Count u16 lines
    std::uint32_t FirstOffset = 0;
    std::uint32_t LastOffset = 0;
};

struct TTd32Procedure {
    std::uint32_t Offset = 0;
    std::uint32_t Length = 0;
    std::uint16_t Segment = 0;
    std::uint16_t Module = 0;  // position in Modules()
    std::uint32_t NameAt = 0;  // the length byte of its name in the block; 0: none
};

struct TTd32Line {
    std::uint32_t File = 0;  // position in SourceFiles()
    std::uint32_t Offset = 0;
    std::uint16_t Line = 0;
};

class TTd32DebugInfo {
public:
    TTd32DebugInfo() = default;
    // It keeps pointers into its own tables; a move keeps them valid.
    TTd32DebugInfo(const TTd32DebugInfo&) = delete;
    TTd32DebugInfo& operator=(const TTd32DebugInfo&) = delete;
    TTd32DebugInfo(TTd32DebugInfo&&) = default;
    TTd32DebugInfo& operator=(TTd32DebugInfo&&) = default;

    // Reads the block: true, or false with the reason, a lower-case
    // sentence that ends with a full stop.
    bool Read(std::span<const std::uint8_t> block, std::u16string_view& reason);

    const std::vector<TTd32Module>& Modules() const { return modules_; }
    const std::vector<TTd32SourceFile>& SourceFiles() const { return files_; }
    const std::vector<TTd32LineTable>& LineTables() const { return tables_; }
    // In address order: by segment, offset, then the longer first.
    const std::vector<TTd32Procedure>& Procedures() const { return procedures_; }
    std::uint64_t LineEntryCount() const { return lineEntries_; }
    // Source file names told apart by their text.
    std::size_t DistinctSourceFileCount() const;

    // The linkage name where the record carries one, else its name entry;
    // empty when it has neither.
    std::string_view ProcedureName(const TTd32Procedure& procedure) const { return NameAt(procedure.NameAt); }
    // The name whose length byte is at `at`, as TTd32Procedure::NameAt
    // gives it; empty for 0. Inline: where only the text's address is
    // wanted, the length byte is not read.
    std::string_view NameAt(std::uint32_t at) const {
        if (at == 0 || at >= block_.size()) return {};
        std::size_t const length = std::min<std::size_t>(block_[at], block_.size() - at - 1);
        return {reinterpret_cast<const char*>(block_.data()) + at + 1, length};
    }
    // The innermost procedure that holds the address: the one that starts
    // last, then the shortest.
    const TTd32Procedure* FindProcedure(std::uint16_t segment, std::uint32_t offset) const;
    // The last line entry of the procedure's compilation unit at or before
    // offset and not before the procedure's start.
    std::optional<TTd32Line> FindLine(const TTd32Procedure& procedure, std::uint32_t offset) const;
    // The first line entry within the procedure.
    std::optional<TTd32Line> FirstLine(const TTd32Procedure& procedure) const;

private:
    // Subsection types.
    static constexpr std::uint16_t kModule = 0x120;
    static constexpr std::uint16_t kAlignSymbols = 0x125;
    static constexpr std::uint16_t kSourceModule = 0x127;
    static constexpr std::uint16_t kNames = 0x130;

    struct Subsection {
        std::uint16_t Type = 0;
        std::uint16_t Module = 0;
        std::uint32_t Offset = 0;
        std::uint32_t Size = 0;
    };
    // A run of LineTables() of one unit and segment, sorted by first offset.
    struct TableGroup {
        std::uint32_t Module = 0;
        std::uint16_t Segment = 0;
        std::uint32_t First = 0;
        std::uint32_t End = 0;
    };
    // From Start on, up to the next piece, the innermost procedure is
    // Procedure (kNone: none).
    struct AddressPiece {
        std::uint64_t Start = 0;  // segment << 32 | offset
        std::uint32_t Procedure = 0;
    };

    bool Fail(std::u16string_view reason);

    // Directory (Td32Directory.cpp)
    bool ReadDirectories(std::vector<Subsection>& subsections);
    bool ReadDirectory(std::uint32_t at, std::vector<Subsection>& subsections, std::uint32_t& next);
    bool ReadSubsections(const std::vector<Subsection>& subsections);
    // Names (Td32Names.cpp)
    bool ReadNameTable(const std::vector<Subsection>& subsections);
    bool ResolveName(std::uint32_t index, std::uint32_t& at);
    // Compilation units (Td32Modules.cpp)
    bool ReadModules(const std::vector<Subsection>& subsections);
    bool ReadModule(const Subsection& subsection, std::uint64_t& end);
    bool ModuleAt(std::uint16_t index, std::uint32_t& position);
    // Line tables (Td32Lines.cpp)
    bool ReadSourceModule(const Subsection& subsection);
    bool ReadSourceFile(std::uint64_t at, std::uint64_t start, std::uint64_t end, std::uint32_t module,
                        std::vector<std::pair<std::uint64_t, std::uint32_t>>& tables, std::uint64_t& entryEnd);
    bool ReadLineTable(std::uint64_t at, std::uint64_t end, std::uint32_t file, std::uint64_t& tableEnd);
    void GroupLineTables();
    const TableGroup* FindGroup(std::uint32_t module, std::uint16_t segment) const;
    template <class Visit>
    void VisitTables(const TTd32Procedure& procedure, std::uint32_t low, std::uint32_t high, Visit visit) const;
    std::uint32_t EntryOffset(const TTd32LineTable& table, std::uint32_t entry) const;
    std::uint32_t FindEntry(const TTd32LineTable& table, std::uint32_t value, bool atOrAbove) const;
    TTd32Line LineOf(const TTd32LineTable& table, std::uint32_t entry) const;
    // Procedures (Td32Symbols.cpp)
    bool ReadSymbols(const Subsection& subsection);
    bool ReadProcedure(std::uint32_t body, std::uint32_t bodySize, std::uint32_t module);
    // Address map (Td32AddressMap.cpp)
    void BuildAddressMap();

    std::span<const std::uint8_t> block_;
    std::u16string_view reason_;
    // While reading: the number of names, and where the length byte of every
    // kNameStride-th name is; a name between two is found by walking on.
    static constexpr std::uint32_t kNameStride = 8;
    std::uint32_t nameCount_ = 0;
    std::vector<std::uint32_t> nameMarks_;
    std::vector<TTd32Module> modules_;
    std::vector<std::uint32_t> moduleByIndex_;  // block index -> position + 1; 0: not listed
    std::vector<TTd32SourceFile> files_;
    std::vector<TTd32LineTable> tables_;
    std::vector<std::uint32_t> tableLastMax_;  // per table: the highest LastOffset of its group so far
    std::vector<TableGroup> groups_;
    // Where the last searches ended: a listing asks in address order.
    mutable const TableGroup* lastGroup_ = nullptr;
    mutable const TTd32LineTable* hintTable_ = nullptr;
    mutable std::uint32_t hintEntry_ = 0;
    std::vector<TTd32Procedure> procedures_;
    std::vector<AddressPiece> pieces_;  // empty where no two procedures share an address
    // Where the last FindProcedure ended, in procedures_ or pieces_: -l asks
    // in address order.
    mutable std::size_t findHint_ = 0;
    std::uint64_t lineEntries_ = 0;
};
