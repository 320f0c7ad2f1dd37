#include "DebugInfoQuery.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>

#include "AddressArgument.h"
#include "ConsoleOutput.h"
#include "DebugInfoSource.h"
#include "Quillon.h"
#include "ReadableName.h"
#include "TextFormat.h"
#include "WideText.h"
#include "uMsg_Quillon.h"

namespace {

// True when one of the eight bytes of word is a control character: below
// 0x20, or 0x7F. Each half is the known test for a byte below n (here 0x20,
// and 1 once 0x7F is turned into 0): the lowest such byte borrows from no
// other, so its high bit shows, and a word without one shows none.
bool HasControlByte(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    std::uint64_t const del = word ^ (kOnes * 0x7F);
    return ((((word - kOnes * 0x20) & ~word) | ((del - kOnes) & ~del)) & (kOnes * 0x80)) != 0;
}

// The lines of -l and -i, built in place in a buffer that goes out in large
// pieces. They are not wrapped: each stays one line for grep, sort and
// diff. A line has a fixed room, enough for two names from the block (at
// most 255 bytes each) and a few numbers; text beyond it is cut, never
// written past, and a line's text cut is the same whichever pieces it was
// put in.
class TLineOutput {
public:
    TLineOutput() = default;
    TLineOutput(const TLineOutput&) = delete;
    TLineOutput& operator=(const TLineOutput&) = delete;
    ~TLineOutput() { Flush(); }

    void Put(std::string_view text) {
        std::size_t const n = std::min(text.size(), Room());
        std::copy_n(text.data(), n, &buffer_[used_]);
        used_ += n;
    }
    // Text of any length, as the first of a line.
    void PutLong(std::string_view text) {
        if (text.size() <= Room()) return Put(text);
        Flush();
        WriteStdOutUtf8(text);
    }
    void PutNumber(std::uint64_t value, unsigned base, std::size_t width = 0) {
        char digits[24];
        std::size_t first = sizeof digits;
        do {
            digits[--first] = "0123456789abcdef"[base == 16 ? value & 15 : value % 10];
            value = base == 16 ? value >> 4 : value / 10;
        } while (value != 0);
        while (sizeof digits - first < width && first > 0) digits[--first] = '0';
        Put({digits + first, sizeof digits - first});
    }
    // Text from the block, with its control characters, which would break
    // the line, shown as '?'.
    void PutPrintable(std::string_view text) {
        std::size_t const from = used_;
        Put(text);
        MakePrintable(from);
    }
    void PutName(std::string_view name) {
        std::size_t const from = used_;
        // The readable form is never longer than the name.
        if (name.size() <= Room())
            used_ += WriteReadableName(name, &buffer_[used_]);
        else
            Put(ReadableName(name));
        if (used_ == from) Put("?");
        MakePrintable(from);
    }
    void EndLine() {
        for (char const* end = kConsoleLineEnd; *end != 0; ++end) buffer_[used_++] = *end;
        lineStart_ = used_;
        if (used_ + kLineRoom + 2 > kSize) Flush();
    }

private:
    static constexpr std::size_t kPiece = 1 << 18;  // written out once this full
    static constexpr std::size_t kLineRoom = 1024;  // and the line end after it

    std::size_t Room() const { return lineStart_ + kLineRoom - used_; }
    void MakePrintable(std::size_t from) {
        // Eight bytes at a time while none needs a change, as is usual.
        for (std::uint64_t word; from + 8 <= used_; from += 8) {
            std::memcpy(&word, &buffer_[from], 8);
            if (HasControlByte(word)) break;
        }
        for (std::size_t i = from; i < used_; ++i) {
            auto const c = static_cast<unsigned char>(buffer_[i]);
            buffer_[i] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
        }
    }
    void Flush() {
        if (used_ > 0) WriteStdOutUtf8({buffer_.get(), used_});
        used_ = lineStart_ = 0;
    }

    static constexpr std::size_t kSize = kPiece + kLineRoom + 2;
    std::unique_ptr<char[]> buffer_ = std::make_unique_for_overwrite<char[]>(kSize);
    std::size_t used_ = 0;
    std::size_t lineStart_ = 0;
};

void PutSourceLine(TLineOutput& out, const TTd32DebugInfo& info, const std::optional<TTd32Line>& line) {
    if (!line) return;
    out.Put(" (");
    out.PutPrintable(info.SourceFiles()[line->File].Name);
    out.Put(", line ");
    out.PutNumber(line->Line, 10);
    out.Put(")");
}

// Where a procedure lies: its RVA when the module is known, else (or when
// its segment is no section) segment:offset.
void PutWhere(TLineOutput& out, const TDebugInfoSource& source, const TTd32Procedure& procedure) {
    auto const& sections = source.Layout().SectionAddresses;
    if (source.HasModule() && procedure.Segment >= 1 && procedure.Segment <= sections.size()) {
        std::uint64_t const rva = std::uint64_t{sections[procedure.Segment - 1]} + procedure.Offset;
        if (rva <= 0xFFFFFFFFu) return out.PutNumber(rva, 16, 8);
    }
    out.PutNumber(procedure.Segment, 16, 4);
    out.Put(":");
    out.PutNumber(procedure.Offset, 16, 8);
}

void ListDebugInfo(const std::u16string& path, const TDebugInfoSource& source) {
    const TTd32DebugInfo& info = source.Info();
    TLineOutput output;
    output.PutLong(WideToUtf8(FormatText(
        msg::DebugInfoSummary, {path, IntToText(source.BlockSize()), IntToText(info.Modules().size()),
                                IntToText(info.DistinctSourceFileCount()), IntToText(info.Procedures().size()),
                                IntToText(static_cast<std::int64_t>(info.LineEntryCount()))})));
    output.EndLine();
    for (const TTd32Procedure& procedure : info.Procedures()) {
        PutWhere(output, source, procedure);
        output.Put(" 0x");
        output.PutNumber(procedure.Length, 16);
        output.Put(" ");
        output.PutName(info.ProcedureName(procedure));
        PutSourceLine(output, info, info.FirstLine(procedure));
        output.EndLine();
    }
}

// Asks for the memory at address ahead of its use: the answers of -l read
// names all over a large block.
void Prefetch(const void* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#endif
}

struct TFound {
    const TTd32Procedure* Procedure = nullptr;
    std::uint32_t Offset = 0;
};

// A module address is a virtual address between ImageBase and ImageBase +
// SizeOfImage, or an RVA below SizeOfImage; segment n is the n-th section.
// Sections are tried from the last one that starts at or below the RVA
// down, as a segment may run on into the next section.
TFound FindInModule(const TDebugInfoSource& source, std::uint64_t address) {
    const TModuleLayout& layout = source.Layout();
    std::uint64_t rva = address;
    if (address >= layout.ImageBase && address - layout.ImageBase < layout.SizeOfImage)
        rva = address - layout.ImageBase;
    else if (address >= layout.SizeOfImage)
        return {};
    for (std::size_t n = layout.SectionAddresses.size(); n >= 1; --n) {
        if (layout.SectionAddresses[n - 1] > rva) continue;
        auto const offset = static_cast<std::uint32_t>(rva - layout.SectionAddresses[n - 1]);
        if (auto const* procedure = source.Info().FindProcedure(static_cast<std::uint16_t>(n), offset))
            return {procedure, offset};
    }
    return {};
}

TFound Find(const TDebugInfoSource& source, const TAddressArgument& address) {
    TFound found;
    if (address.Segmented) {
        found.Offset = static_cast<std::uint32_t>(address.Value);
        found.Procedure = source.Info().FindProcedure(address.Segment, found.Offset);
    } else if (source.HasModule()) {
        found = FindInModule(source, address.Value);
    }
    return found;
}

// An address of -l, with its place among the addresses given.
struct TQuery {
    std::uint64_t Value;
    std::uint32_t Index;
    std::uint16_t Segment;
    bool Segmented;
};

// Puts the queries in address order, by segment and value: a radix sort on
// the bytes in which they differ, as a comparison sort mispredicts its way
// through many random addresses.
void SortQueries(std::vector<TQuery>& queries) {
    constexpr unsigned kDigits = 10;  // the value's eight bytes, then the segment's two
    auto const digit = [](const TQuery& q, unsigned d) {
        return static_cast<unsigned>(d < 8 ? q.Value >> 8 * d : q.Segment >> 8 * (d - 8)) & 0xFF;
    };
    std::vector<std::array<std::uint32_t, 256>> counts(kDigits);
    for (const TQuery& query : queries) {
        for (unsigned d = 0; d < kDigits; ++d) ++counts[d][digit(query, d)];
    }
    std::vector<TQuery> sorted;
    for (unsigned d = 0; d < kDigits; ++d) {
        if (queries.empty() || counts[d][digit(queries[0], d)] == queries.size()) continue;  // all alike
        std::uint32_t at = 0;
        for (std::uint32_t& count : counts[d]) at += std::exchange(count, at);
        sorted.resize(queries.size());
        for (const TQuery& query : queries) sorted[counts[d][digit(query, d)]++] = query;
        queries.swap(sorted);
    }
}

// What -l found for one address, all that its line needs without the
// procedure's record.
struct TAnswer {
    enum TKind : std::uint8_t { kNoProcedure, kModuleNeeded, kProcedure, kProcedureAndLine };
    std::uint32_t NameAt = 0;  // the procedure's name, as its record gives it
    std::uint32_t Offset = 0;  // from the procedure's start
    std::uint32_t File = 0;    // of Line
    std::uint16_t Line = 0;
    TKind Kind = kNoProcedure;
};

TAnswer Answer(const TDebugInfoSource& source, const TQuery& query) {
    TAnswer answer;
    TFound const found = Find(source, {query.Segmented, query.Segment, query.Value});
    if (!query.Segmented && !source.HasModule()) {
        answer.Kind = TAnswer::kModuleNeeded;
    } else if (found.Procedure != nullptr) {
        answer.Kind = TAnswer::kProcedure;
        answer.NameAt = found.Procedure->NameAt;
        answer.Offset = found.Offset - found.Procedure->Offset;
        if (auto const line = source.Info().FindLine(*found.Procedure, found.Offset)) {
            answer.Kind = TAnswer::kProcedureAndLine;
            answer.File = line->File;
            answer.Line = line->Line;
        }
    }
    return answer;
}

// What follows the address as typed on its line.
void PutAnswer(TLineOutput& out, const TTd32DebugInfo& info, const TAnswer& answer) {
    static std::string const noProcedure = WideToUtf8(std::u16string(msg::NoProcedure));
    static std::string const moduleNeeded = WideToUtf8(std::u16string(msg::ModuleNeeded));
    out.Put(": ");
    if (answer.Kind == TAnswer::kModuleNeeded) return out.Put(moduleNeeded);
    if (answer.Kind == TAnswer::kNoProcedure) return out.Put(noProcedure);
    out.PutName(info.NameAt(answer.NameAt));
    out.Put(" + 0x");
    out.PutNumber(answer.Offset, 16);
    if (answer.Kind == TAnswer::kProcedureAndLine) PutSourceLine(out, info, TTd32Line{answer.File, 0, answer.Line});
}

// The arguments of -l after the module, read from the command line in
// UTF-8: an optional TDS file, then the addresses.
std::size_t LookupArgumentCount(const TRunSettings& settings) {
    return static_cast<std::size_t>(std::max(0, GetArgumentCount() + 1 - settings.LookupFrom));
}

std::string_view LookupArgument(const TRunSettings& settings, std::size_t i) {
    return GetArgumentUtf8(settings.LookupFrom + static_cast<int>(i));
}

// Where the addresses start among them: an argument after the module that
// is no address is the TDS file.
std::size_t FirstAddress(const TRunSettings& settings) {
    return LookupArgumentCount(settings) > 0 && !ParseAddress(LookupArgument(settings, 0)) ? 1 : 0;
}

// The addresses of -l, in the order given; false when an argument is no
// address.
bool ReadAddresses(const TRunSettings& settings, std::vector<TQuery>& queries) {
    std::size_t const first = FirstAddress(settings);
    std::size_t const count = LookupArgumentCount(settings) - first;
    queries.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        auto const address = ParseAddress(LookupArgument(settings, first + i));
        if (!address) return false;
        queries.push_back({address->Value, static_cast<std::uint32_t>(i), address->Segment, address->Segmented});
    }
    return true;
}

// The answers are found in address order, which keeps the reads in the
// block close together, and kept in a small record each; their lines are
// then printed in the order given.
void LookUpAddresses(const TDebugInfoSource& source, const TRunSettings& settings, std::vector<TQuery> queries) {
    std::size_t const first = FirstAddress(settings);
    std::size_t const count = queries.size();
    SortQueries(queries);
    std::vector<TAnswer> answers(count);
    for (const TQuery& query : queries) answers[query.Index] = Answer(source, query);
    queries = {};
    // The names of the lines ahead are asked for.
    constexpr std::size_t kAhead = 16;
    const TTd32DebugInfo& info = source.Info();
    TLineOutput output;
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kAhead < count) {
            const TAnswer& ahead = answers[i + kAhead];
            // A name may run on into a second cache line.
            auto const name = reinterpret_cast<std::uintptr_t>(info.NameAt(ahead.NameAt).data());
            Prefetch(reinterpret_cast<const void*>(name));
            Prefetch(reinterpret_cast<const void*>(name + 63));
            if (ahead.Kind == TAnswer::kProcedureAndLine) Prefetch(info.SourceFiles()[ahead.File].Name.data());
        }
        output.PutLong(LookupArgument(settings, first + i));
        PutAnswer(output, info, answers[i]);
        output.EndLine();
    }
}

}  // namespace

bool IsDebugInfoQuery(const TRunSettings& settings) { return settings.Lookup || settings.List; }

bool IsValidDebugInfoQuery(const TRunSettings& settings) {
    if (!IsDebugInfoQuery(settings)) return true;
    if ((settings.Lookup && settings.List) || settings.Recursive || settings.Overwrite || settings.ListOnly ||
        settings.Attach)
        return false;
    if (settings.List) return settings.Positional.size() == 1;
    return LookupArgumentCount(settings) > FirstAddress(settings);
}

int RunDebugInfoQuery(const TRunSettings& settings) {
    std::vector<TQuery> queries;
    if (settings.Lookup && !ReadAddresses(settings, queries)) return RejectCommandLine();
    const std::u16string& path = settings.Positional[0];
    std::u16string const tdsPath =
        settings.Lookup && FirstAddress(settings) == 1 ? GetArgument(settings.LookupFrom) : u"";
    TDebugInfoSource source;
    std::u16string message;
    if (!source.Open(path, tdsPath, message)) {
        WriteConsoleLine(path + u": " + message);
        return kExitAllFailed;  // 3: no debug information could be read
    }
    if (settings.List)
        ListDebugInfo(path, source);
    else
        LookUpAddresses(source, settings, std::move(queries));
    return kExitAllDone;
}
