#include "ExtractionCheck.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "DebugInfoExtraction.h"
#include "RawModule.h"
#include "ScratchFiles.h"
#include "TestFiles.h"
#include "WideText.h"
#include "kvPEFileUtils.h"

namespace fuzzcheck {

namespace {

const std::u16string kSavedNote = u"The debug information was saved to";
const Bytes kEarlierTds = {'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 't', 'd', 's'};

struct Outcome {
    bool Succeeded = false;
    std::u16string Message;
    std::optional<Bytes> Module;
    std::optional<Bytes> Tds;
};

// The TD32 block as the former last B bytes of the module; nothing when the
// size word does not fit.
std::optional<Bytes> FormerBlock(std::span<const std::uint8_t> input) {
    if (input.size() < 8) {
        return std::nullopt;
    }
    std::uint32_t const size = Le32At(input, input.size() - 4);
    if (size > input.size()) {
        return std::nullopt;
    }
    return Bytes(input.end() - size, input.end());
}

std::string CheckSuccess(std::span<const std::uint8_t> input, const Outcome& outcome,
                         const std::filesystem::path& module) {
    if (!outcome.Message.empty()) {
        return "success with a message: " + WideToUtf8(outcome.Message);
    }
    auto const block = FormerBlock(input);
    if (!block || outcome.Tds != block) {
        return "success, but the .tds file is not the former last B bytes of the module";
    }
    auto const before = ReadRawModule(input);
    if (!before) {
        return "success on a module whose headers do not fit in it";
    }
    if (!outcome.Module) {
        return "success, but the module is gone";
    }
    if (auto failure = CheckChecksum(*before, *outcome.Module); !failure.empty()) {
        return "success, but " + failure;
    }
    if (before->Sections.size() == 1) {
        // The ".debug" section was the only one: the module keeps its
        // headers and no section (which the editor does not open again).
        return Le16At(*outcome.Module, before->NtOffset + 6) == 0 ? "" : "success, but the section is still counted";
    }
    TkvPEFileUtils reader;
    if (!reader.Open(testsupport::Wide(module), true)) {
        return "success, but the module no longer opens: " + WideToUtf8(reader.GetLastErrorText());
    }
    if (reader.GetSectionCount() + 1 != static_cast<std::int64_t>(before->Sections.size())) {
        return "success, but the module did not lose exactly one section";
    }
    for (std::int32_t i = 0; i < reader.GetSectionCount(); ++i) {
        if (IsDebugSectionName(reader.GetSectionHeader(i).ToBytes())) {
            return "success, but the module still has a \".debug\" section";
        }
    }
    return {};
}

std::string CheckFailure(std::span<const std::uint8_t> input, const Outcome& outcome, bool earlierTds) {
    if (outcome.Message.empty()) {
        return "failure without a message";
    }
    std::string const said = " (message: " + WideToUtf8(outcome.Message) + ")";
    if (outcome.Message.find(kSavedNote) != std::u16string::npos) {
        return outcome.Tds == FormerBlock(input) ? "" : "the message says the block was saved, but it was not" + said;
    }
    if (!outcome.Module || !std::equal(input.begin(), input.end(), outcome.Module->begin(), outcome.Module->end())) {
        return "failure, but the module changed" + said;
    }
    if (outcome.Tds && !(earlierTds && outcome.Tds == kEarlierTds)) {
        return "failure, but a new .tds file was left" + said;
    }
    return {};
}

}  // namespace

std::string CheckExtraction(std::span<const std::uint8_t> input) {
    std::uint8_t const switches = input.size() > kSwitchByte ? input[kSwitchByte] : 0;
    bool const overwrite = (switches & kOverwriteBit) != 0;
    bool const earlierTds = (switches & kEarlierTdsBit) != 0;
    auto const module = ScratchFolder() / "module.exe";
    auto const tds = ScratchFolder() / "module.tds";
    WriteBytes(module, input);
    RemoveIfAny(tds);
    if (earlierTds) {
        WriteBytes(tds, kEarlierTds);
    }
    Outcome outcome;
    try {
        outcome.Succeeded =
            ExtractDebugInfo(testsupport::Wide(module), testsupport::Wide(tds), overwrite, outcome.Message);
    } catch (const std::exception& error) {
        return std::string("ExtractDebugInfo raised an exception: ") + error.what();
    }
    outcome.Module = ReadBytesIfAny(module);
    outcome.Tds = ReadBytesIfAny(tds);
    return outcome.Succeeded ? CheckSuccess(input, outcome, module) : CheckFailure(input, outcome, earlierTds);
}

}  // namespace fuzzcheck
