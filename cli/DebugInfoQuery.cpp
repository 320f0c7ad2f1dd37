#include "DebugInfoQuery.h"

#include <charconv>

#include "AddressArgument.h"
#include "ConsoleOutput.h"
#include "DebugInfoSource.h"
#include "Quillon.h"
#include "ReadableName.h"
#include "TextFormat.h"
#include "WideText.h"
#include "uMsg_Quillon.h"

namespace {

// Lines of -l and -i, gathered and written in large pieces. They are not
// wrapped: each stays one line for grep, sort and diff.
class TLineOutput {
public:
    TLineOutput() = default;
    TLineOutput(const TLineOutput&) = delete;
    TLineOutput& operator=(const TLineOutput&) = delete;
    ~TLineOutput() { Flush(); }

    std::string& Text() { return text_; }
    void EndLine() {
        text_ += "\r\n";
        if (text_.size() >= kPiece) Flush();
    }

private:
    static constexpr std::size_t kPiece = 1 << 20;
    void Flush() {
        if (!text_.empty()) WriteStdOutUtf8(text_);
        text_.clear();
    }
    std::string text_;
};

// Text from the block, with control characters (which would break the line)
// shown as '?'.
void AppendPrintable(std::string& out, std::string_view text) {
    for (char const c : text) out.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
}

void AppendNumber(std::string& out, std::uint64_t value, int base, std::size_t width = 0) {
    char digits[24];
    auto const end = std::to_chars(digits, digits + sizeof digits, value, base).ptr;
    if (static_cast<std::size_t>(end - digits) < width) out.append(width - (end - digits), '0');
    out.append(digits, end);
}

void AppendName(std::string& out, const TTd32DebugInfo& info, const TTd32Procedure& procedure) {
    std::string const name = ReadableName(info.ProcedureName(procedure));
    AppendPrintable(out, name.empty() ? "?" : name);
}

void AppendSourceLine(std::string& out, const TTd32DebugInfo& info, const std::optional<TTd32Line>& line) {
    if (!line) return;
    out += " (";
    AppendPrintable(out, info.SourceFiles()[line->File].Name);
    out += ", line ";
    AppendNumber(out, line->Line, 10);
    out += ')';
}

// Where a procedure lies: its RVA when the module is known, else (or when
// its segment is no section) segment:offset.
void AppendWhere(std::string& out, const TDebugInfoSource& source, const TTd32Procedure& procedure) {
    auto const& sections = source.Layout().SectionAddresses;
    if (source.HasModule() && procedure.Segment >= 1 && procedure.Segment <= sections.size()) {
        std::uint64_t const rva = std::uint64_t{sections[procedure.Segment - 1]} + procedure.Offset;
        if (rva <= 0xFFFFFFFFu) return AppendNumber(out, rva, 16, 8);
    }
    AppendNumber(out, procedure.Segment, 16, 4);
    out += ':';
    AppendNumber(out, procedure.Offset, 16, 8);
}

void ListDebugInfo(const std::u16string& path, const TDebugInfoSource& source) {
    const TTd32DebugInfo& info = source.Info();
    TLineOutput output;
    output.Text() = WideToUtf8(FormatText(
        msg::DebugInfoSummary, {path, IntToText(source.BlockSize()), IntToText(info.Modules().size()),
                                IntToText(info.DistinctSourceFileCount()), IntToText(info.Procedures().size()),
                                IntToText(static_cast<std::int64_t>(info.LineEntryCount()))}));
    output.EndLine();
    for (const TTd32Procedure& procedure : info.Procedures()) {
        std::string& line = output.Text();
        AppendWhere(line, source, procedure);
        line += " 0x";
        AppendNumber(line, procedure.Length, 16);
        line += ' ';
        AppendName(line, info, procedure);
        AppendSourceLine(line, info, info.FirstLine(procedure));
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

void LookUpAddresses(const TDebugInfoSource& source, const std::vector<std::u16string>& addresses) {
    std::string const noProcedure = WideToUtf8(std::u16string(msg::NoProcedure));
    std::string const moduleNeeded = WideToUtf8(std::u16string(msg::ModuleNeeded));
    const TTd32DebugInfo& info = source.Info();
    TLineOutput output;
    for (const std::u16string& text : addresses) {
        TAddressArgument const address = *ParseAddress(text);
        std::string& line = output.Text();
        line += WideToUtf8(text) + ": ";
        TFound found;
        if (address.Segmented)
            found = {info.FindProcedure(address.Segment, static_cast<std::uint32_t>(address.Value)),
                     static_cast<std::uint32_t>(address.Value)};
        else if (source.HasModule())
            found = FindInModule(source, address.Value);
        if (!address.Segmented && !source.HasModule()) {
            line += moduleNeeded;
        } else if (found.Procedure == nullptr) {
            line += noProcedure;
        } else {
            AppendName(line, info, *found.Procedure);
            line += " + 0x";
            AppendNumber(line, found.Offset - found.Procedure->Offset, 16);
            AppendSourceLine(line, info, info.FindLine(*found.Procedure, found.Offset));
        }
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
