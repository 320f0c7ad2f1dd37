#include "FuzzChecks.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "CommandLine.h"
#include "DebugInfoAttachment.h"
#include "ConsoleOutput.h"
#include "DebugInfoExtraction.h"
#include "TestFiles.h"
#include "ReadableName.h"
#include "Td32BlockBuilder.h"
#include "Td32DebugInfo.h"
#include "TestModuleBuilder.h"
#include "WideText.h"
#include "kvPEFileUtils.h"

namespace fuzzcheck {

namespace {

using testsupport::Bytes;
namespace fs = std::filesystem;

// Beyond 64 KiB a FileAlignment lets a write-back of a small module place
// its raw data gigabytes away: the editor takes the value as it is.
constexpr std::uint32_t kLargestFileAlignment = 0x10000;
const Bytes kEarlierTds = testsupport::MakeTd32Block(24, 9);  // -w may replace it

const testsupport::TempDir& Scratch() {
    static testsupport::TempDir folder;
    return folder;
}

std::string Utf8(const std::u16string& text) { return WideToUtf8(text); }

// The editor's change, chosen by a byte of the input.
void ChangeModule(TkvPEFileUtils& editor, std::uint8_t choice) {
    std::int32_t const last = editor.GetSectionCount() - 1;
    switch (choice % 4) {
        case 0:
            editor.RemoveSection(last);
            break;
        case 1:
            editor.RemoveSection(choice / 4 % (last + 1));
            break;
        case 2:
            editor.SetDataDirectory(choice / 4 % 16, {0x1000, 8});  // widens a short table
            break;
        default:  // the extraction's pair
            if (editor.GetDataDirectoryCount() > 6) {
                editor.SetDataDirectory(6, {0, 0});
            }
            editor.RemoveSection(last);
    }
}

std::string CheckEdit(const Bytes& input, const fs::path& path) {
    TkvPEFileUtils editor;
    if (!editor.Open(testsupport::Wide(path), false)) {
        return editor.GetLastErrorText().empty() ? "Open failed without a reason" : "";
    }
    std::uint8_t byte = 0;
    for (std::int32_t i = 0; i < editor.GetSectionCount(); ++i) {
        editor.ReadSectionData(i, 0, &byte, 0);
    }
    editor.GetDebugDirectoryCount();
    if (editor.GetFileAlignment() > kLargestFileAlignment) {
        return {};
    }
    std::uint8_t const choice = input[input.size() / 2];
    ChangeModule(editor, choice);
    bool const sectionsLeft = editor.GetSectionCount() > 0;
    if (!editor.Close(true)) {
        if (editor.GetLastErrorText().empty()) {
            return "a refused write-back gave no reason";
        }
        return editor.WriteStarted() || testsupport::ReadAll(path) == input ? ""
                                                                            : "a refused write-back changed the file";
    }
    TkvPEFileUtils reader;
    return !sectionsLeft || reader.Open(testsupport::Wide(path), true)
               ? ""
               : "the written module no longer opens: " + Utf8(reader.GetLastErrorText());
}

// The TD32 block as the last B bytes of the input, when the size word fits.
std::optional<Bytes> FormerTail(const Bytes& input) {
    if (input.size() < 8) {
        return std::nullopt;
    }
    std::uint32_t const size = testsupport::Get32(input, input.size() - 4);
    return size <= input.size() ? std::optional<Bytes>(Bytes(input.end() - size, input.end())) : std::nullopt;
}

std::string CheckDone(const Bytes& input, const fs::path& module, const std::optional<Bytes>& tds, int sectionsBefore) {
    if (!tds || tds != FormerTail(input)) {
        return "done, but the .tds file is not the module's former tail";
    }
    TkvPEFileUtils reader;
    if (!reader.Open(testsupport::Wide(module), true)) {
        return "done, but the module no longer opens: " + Utf8(reader.GetLastErrorText());
    }
    if (reader.GetSectionCount() + 1 != sectionsBefore) {
        return "done, but the module did not lose exactly one section";
    }
    for (std::int32_t i = 0; i < reader.GetSectionCount(); ++i) {
        if (IsDebugSectionName(reader.GetSectionHeader(i).ToBytes())) {
            return "done, but a \".debug\" section is left";
        }
    }
    return {};
}

std::string CheckFailed(const Bytes& input, const Bytes& module, const std::optional<Bytes>& tds, bool earlierTds,
                        const std::u16string& message) {
    if (message.empty()) {
        return "a failure without a message";
    }
    std::string const said = " (" + Utf8(message) + ")";
    if (message.find(u"The debug information was saved to") != std::u16string::npos) {
        return tds == FormerTail(input) ? "" : "the message says the block was saved, but it was not" + said;
    }
    if (module != input) {
        return "a failure changed the module" + said;
    }
    return !tds || (earlierTds && tds == kEarlierTds) ? "" : "a failure left a new .tds file" + said;
}

// The module as the editor writes it with nothing changed but a data
// directory table widened to the 16 entries an attachment gives it.
Bytes AsWrittenByTheEditor(const Bytes& module, const fs::path& path) {
    testsupport::WriteAll(path, module);
    TkvPEFileUtils editor;
    if (!editor.Open(testsupport::Wide(path), false)) {
        return {};
    }
    editor.SetDataDirectory(6, {1, 0});  // forces a write-back
    editor.SetDataDirectory(6, {0, 0});
    return editor.Close(true) ? testsupport::ReadAll(path) : Bytes{};
}

// The attached block strips off again, giving back the .tds bytes and the
// module as the editor writes it, but for the 40 bytes after the table that
// held the added header: zero once it is removed. Attaching took them only
// when they held zeros, the header of a ".debug" that an earlier strip left
// there, or raw data that moved on. The extraction refuses a FileAlignment
// above 64 KiB.
std::string CheckAttached(const Bytes& module, const Bytes& block, const fs::path& folder) {
    std::u16string message;
    auto const attached = folder / "m.exe", stripped = folder / "back.tds";
    if (testsupport::Get32(testsupport::ReadAll(attached), testsupport::Get32(module, 0x3C) + 60) >
        kLargestFileAlignment) {
        return {};
    }
    if (!ExtractDebugInfo(testsupport::Wide(attached), testsupport::Wide(stripped), false, message) ||
        testsupport::ReadAll(stripped) != block) {
        return "an attached block does not strip off to the .tds bytes: " + Utf8(message);
    }
    Bytes expected = AsWrittenByTheEditor(module, folder / "expected.exe");
    testsupport::ModuleView const view = testsupport::ReadModuleView(expected);
    std::size_t const slot = std::min<std::size_t>(view.SectionTableOffset + 40 * view.NumberOfSections, module.size());
    Bytes cleared = module;
    std::fill_n(cleared.begin() + static_cast<std::ptrdiff_t>(slot), std::min<std::size_t>(40, module.size() - slot),
                0);
    return testsupport::ReadAll(attached) == AsWrittenByTheEditor(cleared, folder / "expected.exe")
               ? ""
               : "stripping an attached block does not give back the module";
}

std::u16string Units(std::span<const std::uint8_t> input) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < input.size(); i += 2) {
        units.push_back(static_cast<char16_t>(input[i] | (input[i + 1] << 8)));
    }
    return units;
}

// The words of a text: the runs between blanks and line feeds, once the
// carriage returns (which the console output drops) are gone.
std::vector<std::u16string> Words(const std::u16string& text) {
    std::vector<std::u16string> words(1);
    for (char16_t const c : text) {
        if (c == u' ' || c == u'\n') {
            words.emplace_back();
        } else if (c != u'\r') {
            words.back().push_back(c);
        }
    }
    std::erase(words, std::u16string());
    return words;
}

std::string CheckWrap(const std::u16string& text) {
    std::u16string const wrapped = WrapText(text, ConsoleWidth);
    if (Words(wrapped) != Words(text)) {
        return "the wrap lost, split or joined a word";
    }
    for (std::size_t start = 0; start <= wrapped.size();) {
        std::size_t const end = std::min(wrapped.find(u"\r\n", start), wrapped.size());
        if (end - start > ConsoleWidth &&
            std::u16string_view(wrapped).substr(start, ConsoleWidth + 1).find(u' ') != std::u16string_view::npos) {
            return "a wrapped line runs past the width although it had a blank to break at";
        }
        start = end + 2;
    }
    return {};
}

std::string CheckArguments(const std::u16string& text) {
    std::u16string const line = text + u'\0';
    std::size_t position = 0;
    for (;;) {
        std::size_t const before = position;
        std::u16string const argument = ScanArgument(line.c_str(), position);
        if (argument.empty()) {
            return {};
        }
        if (argument.size() > kMaxArgumentLength || argument.find(u'"') != std::u16string::npos) {
            return "an argument longer than the limit or with a quotation mark";
        }
        if (position <= before || position > text.size()) {
            return "argument splitting stands still or runs past the end";
        }
    }
}

std::string CheckPathsAndUtf8(std::span<const std::uint8_t> input) {
    std::string const bytes(input.begin(), input.end());
    WideString const path = Utf8ToWide(bytes);
    if (WideToUtf8(path) != bytes) {
        return "the UTF-8 round trip changed the bytes";
    }
    WideString const tds = ReplaceExtension(path, u".tds");
    if (!tds.ends_with(u".tds") || ExtractFolderPart(tds) != ExtractFolderPart(path)) {
        return "the new extension is missing or changed the folder part";
    }
#ifndef _WIN32
    std::vector<std::string> parts{"quillon"};
    for (char c : bytes) {
        if (c == '\0') {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    std::vector<char*> argv;
    for (auto& part : parts) {
        argv.push_back(part.data());
    }
    InitPlatform(static_cast<int>(argv.size()), argv.data());
    TRunSettings settings;
    if (ParseCommandLine(settings) && (settings.Positional.empty() || settings.Positional[0].empty())) {
        return "a valid command line without a module";
    }
#endif
    return {};
}

bool Holds(const TTd32Procedure& p, std::uint16_t segment, std::uint32_t offset) {
    return p.Segment == segment && offset >= p.Offset && offset - p.Offset < p.Length;
}

// The line entries of the procedure's unit and segment within [low, high],
// by brute force over the block: the reader's answers must be the last and
// the first of them.
std::vector<TTd32Line> EntriesWithin(const TTd32DebugInfo& info, std::span<const std::uint8_t> block,
                                     const TTd32Procedure& p, std::uint64_t low, std::uint64_t high) {
    std::vector<TTd32Line> entries;
    for (const TTd32LineTable& t : info.LineTables()) {
        if (info.SourceFiles()[t.File].Module != p.Module || t.Segment != p.Segment) continue;
        for (std::uint32_t i = 0; i < t.Count; ++i) {
            std::uint32_t const offset = ReadLe32(block, t.OffsetsAt + 4 * i);
            if (offset >= low && offset <= high) entries.push_back({t.File, offset, 0});
        }
    }
    return entries;
}

std::string CheckLookup(const TTd32DebugInfo& info, std::span<const std::uint8_t> block, std::uint16_t segment,
                        std::uint32_t offset) {
    const TTd32Procedure* found = info.FindProcedure(segment, offset);
    bool held = false;
    for (const TTd32Procedure& p : info.Procedures()) {
        held = held || Holds(p, segment, offset);
        if (found != nullptr && Holds(p, segment, offset) && p.Offset > found->Offset) {
            return "a lookup gave a procedure that is not the innermost";
        }
    }
    if (held != (found != nullptr) || (found != nullptr && !Holds(*found, segment, offset))) {
        return "a lookup missed the procedure or gave one that does not hold the address";
    }
    if (found == nullptr) return {};
    auto const line = info.FindLine(*found, offset);
    auto const entries = EntriesWithin(info, block, *found, found->Offset, offset);
    auto const last =
        std::max_element(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.Offset < b.Offset; });
    if (line.has_value() != !entries.empty() || (line && line->Offset != last->Offset)) {
        return "a lookup's line is not the last entry at or before the address within the procedure";
    }
    return {};
}

std::string CheckFirstLine(const TTd32DebugInfo& info, std::span<const std::uint8_t> block, const TTd32Procedure& p) {
    auto const first = info.FirstLine(p);
    auto const entries = p.Length == 0
                             ? std::vector<TTd32Line>()
                             : EntriesWithin(info, block, p, p.Offset, std::uint64_t{p.Offset} + p.Length - 1);
    auto const lowest =
        std::min_element(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.Offset < b.Offset; });
    return first.has_value() != !entries.empty() || (first && first->Offset != lowest->Offset)
               ? "a procedure's first line is not its first line entry"
               : "";
}

}  // namespace

std::string CheckTd32Reader(std::span<const std::uint8_t> input) {
    TTd32DebugInfo info;
    std::u16string_view reason;
    if (!info.Read(input, reason)) {
        return reason.empty() || !info.Procedures().empty() ? "a refusal without a reason, or with data kept" : "";
    }
    std::vector<std::pair<std::uint16_t, std::uint32_t>> addresses;
    for (const TTd32Procedure& p : info.Procedures()) {
        addresses.emplace_back(p.Segment, p.Offset);
        addresses.emplace_back(p.Segment, p.Offset + p.Length - 1);
        if (auto failure = CheckFirstLine(info, input, p); !failure.empty()) return failure;
        ReadableName(info.ProcedureName(p));
    }
    for (std::size_t i = 0; i + 6 <= input.size() && addresses.size() < 512; i += 6) {
        addresses.emplace_back(input[i] | input[i + 1] << 8, ReadLe32(input, i + 2));
    }
    addresses.resize(std::min<std::size_t>(addresses.size(), 512));
    for (auto const& [segment, offset] : addresses) {
        if (auto failure = CheckLookup(info, input, segment, offset); !failure.empty()) return failure;
    }
    return {};
}

std::string CheckEditor(std::span<const std::uint8_t> input) {
    Bytes const bytes(input.begin(), input.end());
    try {
        return CheckEdit(bytes, Scratch().Write("editor.exe", bytes));
    } catch (const std::exception& error) {
        return std::string("the editor raised an exception within its contract: ") + error.what();
    }
}

std::string CheckExtraction(std::span<const std::uint8_t> input) {
    Bytes const bytes(input.begin(), input.end());
    bool const overwrite = bytes.size() > 2 && (bytes[2] & 1) != 0;
    bool const earlierTds = bytes.size() > 2 && (bytes[2] & 2) != 0;
    auto const folder = Scratch().File("extraction");
    fs::remove_all(folder);
    fs::create_directory(folder);
    auto const module = folder / "m.exe", tds = folder / "m.tds";
    testsupport::WriteAll(module, bytes);
    if (earlierTds) {
        testsupport::WriteAll(tds, kEarlierTds);
    }
    TkvPEFileUtils probe;
    int const sectionsBefore = probe.Open(testsupport::Wide(module), true) ? probe.GetSectionCount() : 0;
    probe.Close(false);
    std::u16string message;
    bool done = false;
    try {
        done = ExtractDebugInfo(testsupport::Wide(module), testsupport::Wide(tds), overwrite, message);
    } catch (const std::exception& error) {
        return std::string("the extraction raised an exception: ") + error.what();
    }
    if (done && !message.empty()) {
        return "done, with a message";
    }
    if (testsupport::FilesIn(folder) > 2) {
        return "a temporary file was left beside the .tds file";
    }
    return done ? CheckDone(bytes, module, testsupport::ReadIfAny(tds), sectionsBefore)
                : CheckFailed(bytes, testsupport::ReadAll(module), testsupport::ReadIfAny(tds), earlierTds, message);
}

std::string CheckAttachment(std::span<const std::uint8_t> input) {
    if (input.size() < 4) {
        return {};
    }
    std::size_t const rest = input.size() - 4;
    std::size_t const tdsSize = std::min<std::size_t>(testsupport::Get32(Bytes(input.end() - 4, input.end()), 0), rest);
    Bytes const module(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(rest - tdsSize));
    Bytes const block(input.begin() + static_cast<std::ptrdiff_t>(rest - tdsSize), input.end() - 4);
    auto const folder = Scratch().File("attachment");
    fs::remove_all(folder);
    fs::create_directory(folder);
    auto const path = folder / "m.exe", tds = folder / "m.tds";
    testsupport::WriteAll(path, module);
    testsupport::WriteAll(tds, block);
    std::u16string message;
    bool done = false;
    try {
        done = AttachDebugInfo(testsupport::Wide(path), testsupport::Wide(tds), message);
    } catch (const std::exception& error) {
        return std::string("the attachment raised an exception: ") + error.what();
    }
    bool const mayHaveChanged = message.find(u"The debug information is still in") != std::u16string::npos;
    if (testsupport::ReadAll(tds) != block || (!done && !mayHaveChanged && testsupport::ReadAll(path) != module)) {
        return "the attachment changed the .tds file, or refused and changed the module";
    }
    if (!done) {
        return message.empty() ? "a refusal without a message" : "";
    }
    return CheckAttached(module, block, folder);
}

std::string CheckCliText(std::span<const std::uint8_t> input) {
    std::u16string const narrow(input.begin(), input.end());
    for (std::u16string const& text : {narrow, Units(input)}) {
        if (auto failure = CheckWrap(text); !failure.empty()) {
            return failure;
        }
        if (auto failure = CheckArguments(text); !failure.empty()) {
            return failure;
        }
    }
    return CheckPathsAndUtf8(input);
}

// ---- Seeds -----------------------------------------------------------------

std::vector<Seed> ModuleSeeds() {
    using testsupport::Pattern;
    using testsupport::TestModuleBuilder;
    auto basic = [](bool plus, std::optional<std::uint32_t> dataVirtualSize = {}) {
        return TestModuleBuilder(plus)
            .AddSection(".text", Pattern(0x180, 1))
            .AddSection({".data", Pattern(0x90, 2), {}, dataVirtualSize});
    };
    auto td32 = [](TestModuleBuilder builder, std::uint32_t size, std::uint32_t directorySize = 1) {
        return builder.Td32Section(testsupport::MakeTd32Block(size), directorySize).Build().Image;
    };
    std::vector<Seed> seeds;
    for (bool const plus : {false, true}) {
        std::string const kind = plus ? "pe32plus-" : "pe32-";
        seeds.emplace_back(kind + "plain", basic(plus).Build().Image);
        seeds.emplace_back(kind + "td32", td32(basic(plus), 64));
        seeds.emplace_back(kind + "td32-dir28-checksum", td32(basic(plus).Checksum(true), 48, 28));
        seeds.emplace_back(kind + "certificate-trailing",
                           basic(plus).Certificate(Pattern(0x30, 3)).Trailing(Pattern(0x21, 4)).Build().Image);
        seeds.emplace_back(kind + "symbols", td32(basic(plus).SymbolTable(0x400, 3).Trailing(Pattern(0x40, 5)), 32));
        seeds.emplace_back(kind + "debug-directory",
                           basic(plus).DebugDirectory(1, 0x10, {{0x20, 0x40, true}, {0x10, 0x60, true}}).Build().Image);
        seeds.emplace_back(kind + "few-directories", td32(basic(plus).DirectoryCount(5), 24));
        // Shapes loaders accept (a COFF symbol table: the hellosyms modules).
        seeds.emplace_back(kind + "slots", td32(basic(plus).DirectoryCount(15).SizeOfOptionalHeader(224), 36));
        seeds.emplace_back(kind + "unsized", td32(basic(plus, 0), 44));
        seeds.emplace_back(kind + "header-data",
                           td32(basic(plus).DirectoryCount(14).Directory(11, plus ? 0x1F0 : 0x1E0, 8), 52));
        // Room for one more header until the directory table is widened.
        seeds.emplace_back(kind + "tight",
                           testsupport::SmallModule(plus).SpareHeaders(1).DirectoryCount(6).Build().Image);
        // A ".debug" header that an earlier strip left after the table, then other data there.
        testsupport::ModuleView roomy = testsupport::SmallModule(plus).SpareHeaders(1).Build();
        std::copy_n(".debug", 6, roomy.Image.begin() + roomy.SectionTableOffset + 3 * 40);
        seeds.emplace_back(kind + "stripped-old-way", roomy.Image);
        roomy.Image[roomy.SectionTableOffset + 3 * 40] = 1;
        seeds.emplace_back(kind + "room-data", roomy.Image);
    }
    seeds.emplace_back("small-alignment", td32(basic(false).SectionAlignment(0x200), 20));
    seeds.emplace_back("only-debug", td32(TestModuleBuilder(), 28));
    for (std::uint8_t switches = 1; switches < 4; ++switches) {
        Bytes image = td32(basic(false), 40);
        image[2] = switches;
        seeds.emplace_back("switches" + std::to_string(switches), image);
    }
    for (auto const& entry : fs::directory_iterator(QUILLON_TEST_MODULES_DIR)) {
        seeds.emplace_back(entry.path().filename().string(), testsupport::ReadAll(entry.path()));
    }
    return seeds;
}

std::vector<Seed> AttachmentSeeds() {
    std::vector<Seed> seeds = ModuleSeeds();
    Bytes const block = testsupport::MakeTd32Block(64);
    for (auto& [name, bytes] : seeds) {
        bytes.insert(bytes.end(), block.begin(), block.end());
        bytes.resize(bytes.size() + 4);
        testsupport::Put32(bytes, bytes.size() - 4, 64);
    }
    return seeds;
}

std::vector<Seed> Td32Seeds() {
    using testsupport::Td32Proc;
    std::vector<Td32Proc> many;
    for (std::uint32_t i = 0; i < 40; ++i) {
        many.push_back({"@Big@P" + std::to_string(i), static_cast<std::uint16_t>(1 + i % 2), i * 0x20, 0x30 - i % 3});
    }
    return {{"example", testsupport::Td32ExampleBlock()},
            {"overlapping", testsupport::BuildTd32Block({{"Big", {{"Big.pas", 1, {{0, 1}, {0x40, 2}}}}, many}})}};
}

std::vector<Seed> TextSeeds() {
    using namespace std::string_literals;
    std::vector<std::string> const texts = {
        "quillon -r -w \"C:\\Program Files\\app\\*.dll\" \"\" out.tds",
        "\"a b\"c\" d\"\"e \"\" \"f",
        "-r\0/W\0build/*.dll\0build/a.tds"s,
        "a.dll: the module does not contain TD32 debug info or has an invalid or unknown debug info format.\r\nsecond "
        "line\nwith a veryveryveryveryveryveryveryveryveryveryveryveryveryveryveryveryveryveryverylongword in it",
        "/home/user/dir.name/module /root/ C:\\a\\b.c d:e.f ./x .hidden",
        "na\xc3\xafve \xe2\x82\xac \xf0\x9f\x98\x80 bad \xc0\xaf \xed\xa0\x80 \xff\xfe end",
    };
    std::vector<Seed> seeds;
    for (auto const& text : texts) {
        seeds.emplace_back("text" + std::to_string(seeds.size()), Bytes(text.begin(), text.end()));
    }
    return seeds;
}

}  // namespace fuzzcheck
