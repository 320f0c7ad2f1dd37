#include "DebugInfoQuery.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <span>

#include "AddressArgument.h"
#include "ConsoleOutput.h"
#include "DebugInfoSource.h"
#include "Quillon.h"
#include "ReadableName.h"
#include "TextFormat.h"
#include "WideText.h"
#include "uMsg_Quillon.h"

namespace {

// The lines of -l and -i, built in place in a buffer that goes out in large
// pieces (or, kept, is read back by the caller). They are not wrapped: each
// stays one line for grep, sort and diff. A line has a fixed room, enough
// for two names from the block (at most 255 bytes each) and a few numbers;
// text beyond it is cut, never written past.
class TLineOutput {
public:
    // Kept, the text is read back by the caller; room is the size it will
    // likely need.
    explicit TLineOutput(bool keep = false, std::size_t room = 0)
        : keep_(keep), size_(std::max(room, kPiece) + kLineRoom + 2) {}
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
        std::size_t length = 0;
        do {
            digits[length++] = "0123456789abcdef"[base == 16 ? value & 15 : value % 10];
            value = base == 16 ? value >> 4 : value / 10;
        } while (value != 0);
        while (length < width && length < sizeof digits) digits[length++] = '0';
        if (length > Room()) return;
        while (length > 0) buffer_[used_++] = digits[--length];
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
        used_ += WriteReadableName(name.substr(0, Room()), &buffer_[used_]);
        if (used_ == from) Put("?");
        MakePrintable(from);
    }
    void EndLine() {
        for (char const* end = kConsoleLineEnd; *end != 0; ++end) buffer_[used_++] = *end;
        lineStart_ = used_;
        if (used_ + kLineRoom + 2 > size_) Flush();
    }
    std::size_t Size() const { return used_; }
    std::string_view Kept(std::size_t from, std::size_t to) const { return {buffer_.get() + from, to - from}; }

private:
    static constexpr std::size_t kPiece = 1 << 20;  // written out once this full
    static constexpr std::size_t kLineRoom = 1024;  // and the line end after it

    std::size_t Room() const { return lineStart_ + kLineRoom - used_; }
    void MakePrintable(std::size_t from) {
        for (std::size_t i = from; i < used_; ++i) {
            auto const c = static_cast<unsigned char>(buffer_[i]);
            buffer_[i] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
        }
    }
    void Flush() {
        if (!keep_) {
            if (used_ > 0) WriteStdOutUtf8({buffer_.get(), used_});
            used_ = lineStart_ = 0;
            return;
        }
        // Every byte below used_ was written: the rest needs no zeros.
        auto larger = std::make_unique_for_overwrite<char[]>(2 * size_);
        std::copy_n(buffer_.get(), used_, larger.get());
        buffer_ = std::move(larger);
        size_ *= 2;
    }

    bool keep_;
    std::size_t size_;
    std::unique_ptr<char[]> buffer_ = std::make_unique_for_overwrite<char[]>(size_);
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

// What follows the address as typed on its line.
void PutAnswer(TLineOutput& out, const TDebugInfoSource& source, const TAddressArgument& address) {
    static std::string const noProcedure = WideToUtf8(std::u16string(msg::NoProcedure));
    static std::string const moduleNeeded = WideToUtf8(std::u16string(msg::ModuleNeeded));
    out.Put(": ");
    TFound const found = Find(source, address);
    if (!address.Segmented && !source.HasModule()) return out.Put(moduleNeeded);
    if (found.Procedure == nullptr) return out.Put(noProcedure);
    out.PutName(source.Info().ProcedureName(*found.Procedure));
    out.Put(" + 0x");
    out.PutNumber(found.Offset - found.Procedure->Offset, 16);
    PutSourceLine(out, source.Info(), source.Info().FindLine(*found.Procedure, found.Offset));
}

// The answers are found and written in address order, which keeps the
// reads in the block close together, and then printed in the order given.
void LookUpAddresses(const TDebugInfoSource& source, std::span<const std::u16string> texts) {
    struct Query {
        TAddressArgument Address;
        std::size_t Index;
    };
    std::vector<Query> queries;
    queries.reserve(texts.size());
    for (const std::u16string& text : texts) queries.push_back({*ParseAddress(text), queries.size()});
    std::sort(queries.begin(), queries.end(), [](const Query& a, const Query& b) {
        return std::pair(a.Address.Segment, a.Address.Value) < std::pair(b.Address.Segment, b.Address.Value);
    });
    TLineOutput answers(true, texts.size() * 96);
    std::vector<std::pair<std::size_t, std::size_t>> kept(texts.size());
    for (const Query& query : queries) {
        kept[query.Index].first = answers.Size();
        PutAnswer(answers, source, query.Address);
        kept[query.Index].second = answers.Size();
        answers.EndLine();
    }
    TLineOutput output;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        output.PutLong(WideToUtf8(texts[i]));
        output.Put(answers.Kept(kept[i].first, kept[i].second));
        output.EndLine();
    }
}

// Where the addresses of -l start: an argument after the module that is no
// address is the TDS file.
std::size_t FirstAddress(const TRunSettings& settings) {
    return settings.Positional.size() > 1 && !ParseAddress(settings.Positional[1]) ? 2 : 1;
}

}  // namespace

bool IsDebugInfoQuery(const TRunSettings& settings) { return settings.Lookup || settings.List; }

bool IsValidDebugInfoQuery(const TRunSettings& settings) {
    if (!IsDebugInfoQuery(settings)) return true;
    if ((settings.Lookup && settings.List) || settings.Recursive || settings.Overwrite || settings.ListOnly ||
        settings.Attach)
        return false;
    if (settings.List) return settings.Positional.size() == 1;
    std::size_t const first = FirstAddress(settings);
    if (settings.Positional.size() <= first) return false;
    for (std::size_t i = first; i < settings.Positional.size(); ++i) {
        if (!ParseAddress(settings.Positional[i])) return false;
    }
    return true;
}

int RunDebugInfoQuery(const TRunSettings& settings) {
    const std::u16string& path = settings.Positional[0];
    std::size_t const first = settings.Lookup ? FirstAddress(settings) : 1;
    TDebugInfoSource source;
    std::u16string message;
    if (!source.Open(path, first == 2 ? settings.Positional[1] : u"", message)) {
        WriteConsoleLine(path + u": " + message);
        return kExitAllFailed;  // 3: no debug information could be read
    }
    if (settings.List)
        ListDebugInfo(path, source);
    else
        LookUpAddresses(source,
                        {settings.Positional.begin() + static_cast<std::ptrdiff_t>(first), settings.Positional.end()});
    return kExitAllDone;
}
