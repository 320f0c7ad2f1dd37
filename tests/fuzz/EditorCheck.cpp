#include "EditorCheck.h"

#include <exception>

#include "EditorChanges.h"
#include "EditorQueries.h"
#include "ScratchFiles.h"
#include "TestFiles.h"
#include "WideText.h"

namespace fuzzcheck {

namespace {

constexpr std::uint32_t kLargestFileAlignment = 0x10000;

std::string CheckReadOnly(std::span<const std::uint8_t> input, InputChoices& choices, bool& opened) {
    auto const path = ScratchFolder() / "editor-module.bin";
    WriteBytes(path, input);
    TkvPEFileUtils editor;
    opened = editor.Open(testsupport::Wide(path), true);
    if (!opened) {
        return editor.GetLastErrorText().empty() ? "Open failed without a reason" : "";
    }
    auto const raw = ReadRawModule(input);
    if (!raw) {
        return "Open accepted a file whose headers or section table do not fit in it";
    }
    return CheckQueries(editor, *raw, input, choices);
}

}  // namespace

std::string CheckEditor(std::span<const std::uint8_t> input) {
    InputChoices choices(input);
    bool opened = false;
    try {
        if (auto failure = CheckReadOnly(input, choices, opened); !failure.empty() || !opened) {
            return failure;
        }
    } catch (const std::exception& error) {
        return std::string("a query within the contract raised an exception: ") + error.what();
    }
    auto const raw = ReadRawModule(input);
    // The write-back puts unaligned raw data at multiples of FileAlignment,
    // which the PE format limits to 64 KiB but the editor takes as it is:
    // beyond that a small module can be written back gigabytes long. Left
    // out until it is decided how the editor should treat such modules.
    if (raw->FileAlignment > kLargestFileAlignment) {
        return {};
    }
    for (auto const& change : PlanChanges(*raw, choices)) {
        if (auto failure = CheckChange(*raw, input, change); !failure.empty()) {
            return failure;
        }
    }
    return {};
}

}  // namespace fuzzcheck
