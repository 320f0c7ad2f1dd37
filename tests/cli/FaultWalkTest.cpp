// Every file operation of a run is made to fail in turn, at the platform
// seam. Each failure must be reported truthfully, a write-back that says it
// left the module untouched must have done so, and the debug block must
// never be lost: whenever the module no longer holds it, the .tds file does.
// The .tds path never holds part of a file, and no temporary file is left.
// The order of the operations, recorded at the seam, is the one that makes
// a power cut at any moment safe.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "DebugInfoAttachment.h"
#include "DebugInfoExtraction.h"
#include "FaultInjection.h"
#include "TestFiles.h"
#include "TestModuleBuilder.h"
#include "WideText.h"
#include "kvPEFileUtils.h"

using namespace testsupport;

namespace {

constexpr std::uint32_t kInjectedError = sys::kErrorDiskFull;

// Runs step with call number failingCall failing (0: none); returns how many
// calls the step made.
std::uint64_t WithFault(std::uint64_t failingCall, const std::function<void()>& step) {
    fault::Arm(failingCall, kInjectedError);
    try {
        step();
    } catch (...) {
        fault::Disarm();
        throw;
    }
    std::uint64_t const calls = fault::CallCount();
    fault::Disarm();
    return calls;
}

using fault::Op;
using Log = std::vector<fault::Operation>;

// Where in the log the operations of one kind on one file are (the size of
// the log for a missing one, which then comes after everything); for writes
// with a from, only those that land at or beyond it (or before it).
std::vector<std::size_t> Find(const Log& log, Op kind, const std::u16string& path, std::optional<bool> beyond = {},
                              std::uint64_t from = 0) {
    std::vector<std::size_t> at;
    std::uint64_t position = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i].Path != path) continue;
        position = log[i].Kind == Op::Seek ? log[i].Value : position;
        if (log[i].Kind == kind && (!beyond || (position >= from) == *beyond)) at.push_back(i);
        position += log[i].Kind == Op::Write ? log[i].Value : 0;
    }
    return at.empty() ? std::vector<std::size_t>{log.size()} : at;
}

// Every write of the .tds data, its flush, the move, the folder flush and
// only then the first change of the module.
void ExpectDurableBeforeTheModuleChanges(const Log& log, const std::u16string& module, const std::u16string& tds) {
    auto const data = Find(log, Op::Write, tds + u".0.tmp");
    std::size_t const flush = Find(log, Op::Flush, tds + u".0.tmp")[0], move = Find(log, Op::Move, tds)[0];
    std::size_t const folderFlush = Find(log, Op::FlushFolder, tds)[0];
    std::size_t const moduleChange = std::min(Find(log, Op::Write, module)[0], Find(log, Op::SetEnd, module)[0]);
    EXPECT_GE(data.size(), 3u);  // the block goes in pieces
    EXPECT_LT(data.back(), flush);
    EXPECT_LT(flush, move);
    EXPECT_LT(move, folderFlush);
    EXPECT_LT(folderFlush, moduleChange);
    EXPECT_LT(moduleChange, log.size());
}

}  // namespace

TEST(FaultWalk, TheDebugBlockIsNeverLost) {
    struct Scenario {
        bool Plus, Checksum, EarlierTds;
    };
    Bytes const block = MakeTd32Block(300001, 7);
    Bytes const earlier = MakeTd32Block(40, 9);
    for (auto const [plus, checksum, earlierTds] :
         {Scenario{false, true, false}, Scenario{true, false, true}, Scenario{false, true, true}}) {
        Bytes const original = SmallModule(plus).Td32Section(block).Checksum(checksum).Build().Image;
        TempDir dir;
        auto const module = dir.File("m.exe"), tds = dir.File("m.tds");
        std::u16string message;
        auto run = [&](std::uint64_t failingCall, bool& ok) {
            WriteAll(module, original);
            std::filesystem::remove(tds);
            if (earlierTds) {
                WriteAll(tds, earlier);
            }
            message.clear();
            return WithFault(failingCall, [&] { ok = ExtractDebugInfo(Wide(module), Wide(tds), true, message); });
        };
        auto const npos = std::u16string::npos;
        bool ok = false;
        Log log;
        fault::Record(&log);
        std::uint64_t const calls = run(0, ok);
        fault::Record(nullptr);
        ASSERT_TRUE(ok) << WideToUtf8(message);
        ExpectDurableBeforeTheModuleChanges(log, Wide(module), Wide(tds));
        ASSERT_EQ(ReadIfAny(tds), block);
        Bytes const stripped = ReadAll(module);
        ASSERT_GT(calls, 10u);
        for (std::uint64_t n = 1; n <= calls; ++n) {
            SCOPED_TRACE("failing call " + std::to_string(n) + " of " + std::to_string(calls));
            run(n, ok);
            Bytes const after = ReadAll(module);
            std::optional<Bytes> const saved = ReadIfAny(tds);
            EXPECT_EQ(FilesIn(module.parent_path()), saved ? 2u : 1u);
            if (ok) {  // a fault the code absorbed must not change the outcome
                EXPECT_EQ(after, stripped);
                EXPECT_EQ(saved, block);
                continue;
            }
            bool const savedSaid = message.find(u"The debug information was saved to") != npos;
            EXPECT_NE(message, u"");
            // The .tds path holds the block or what it held before, never
            // nothing where there was a file; the new block stays only
            // where the message says so, and must where the module changed.
            EXPECT_TRUE(saved == block || saved == (earlierTds ? std::optional(earlier) : std::nullopt))
                << WideToUtf8(message);
            EXPECT_EQ(saved == block, savedSaid) << WideToUtf8(message);
            EXPECT_TRUE(after == original || savedSaid) << WideToUtf8(message);
        }
    }
}

// A .tds file that appears while a run without -w makes its own is never
// replaced, wherever in the run it appears.
std::filesystem::path gIntruderPath;

TEST(FaultWalk, AFileThatAppearsAtTheTdsPathIsNotReplacedWithoutOverwrite) {
    Bytes const original = SmallModule().Td32Section(MakeTd32Block(5000)).Build().Image;
    TempDir dir;
    auto const module = dir.File("m.exe");
    gIntruderPath = dir.File("m.tds");
    std::u16string message;
    bool ok = true;
    std::uint64_t const calls = WithFault(0, [&] {
        WriteAll(module, original);
        ok = ExtractDebugInfo(Wide(module), Wide(gIntruderPath), false, message);
    });
    ASSERT_TRUE(ok);
    for (std::uint64_t n = 1; n <= calls; ++n) {
        WriteAll(module, original);
        std::filesystem::remove(gIntruderPath);
        fault::ArmAction(n, [] { WriteAll(gIntruderPath, {'m', 'i', 'n', 'e'}); });
        ExtractDebugInfo(Wide(module), Wide(gIntruderPath), false, message);
        fault::Disarm();
        EXPECT_EQ(ReadIfAny(gIntruderPath), (Bytes{'m', 'i', 'n', 'e'})) << "appeared before call " << n;
    }
}

// An attachment writes the block beyond the end of the module and flushes
// it before the headers name it: cut off before, the module reads as it
// was. The .tds file is read once.
TEST(FaultWalk, AnAttachmentThatFailsLeavesAModuleThatReadsAsBefore) {
    Bytes const block = MakeTd32Block(300001, 3);
    Bytes const plain = SmallModule().SpareHeaders(1).Checksum(true).Build().Image;
    TempDir dir;
    auto const module = dir.File("m.exe"), tds = dir.Write("m.tds", block);
    std::u16string message;
    auto attach = [&](std::uint64_t failingCall, bool& ok) {
        WriteAll(module, plain);
        message.clear();
        return WithFault(failingCall, [&] { ok = AttachDebugInfo(Wide(module), Wide(tds), message); });
    };
    bool ok = false;
    Log log;
    fault::Record(&log);
    std::uint64_t const calls = attach(0, ok);
    fault::Record(nullptr);
    ASSERT_TRUE(ok) << WideToUtf8(message);
    Bytes const attached = ReadAll(module);
    auto const data = Find(log, Op::Write, Wide(module), true, plain.size());
    auto const headers = Find(log, Op::Write, Wide(module), false, plain.size());
    auto const flushes = Find(log, Op::Flush, Wide(module));
    EXPECT_GE(data.size(), 3u);  // the block goes in pieces
    EXPECT_TRUE(std::any_of(flushes.begin(), flushes.end(),
                            [&](std::size_t flush) { return data.back() < flush && flush < headers.front(); }));
    EXPECT_LT(headers.front(), log.size());
    std::uint64_t read = 0;
    for (std::size_t const i : Find(log, Op::Read, Wide(tds))) read += i < log.size() ? log[i].Value : 0;
    EXPECT_EQ(read, block.size() + 12);  // head and trailer, then the block
    int cutBeforeTheHeaders = 0;
    for (std::uint64_t n = 1; n <= calls; ++n) {
        SCOPED_TRACE("failing call " + std::to_string(n));
        attach(n, ok);
        Bytes const after = ReadAll(module);
        EXPECT_EQ(ReadAll(tds), block);
        EXPECT_EQ(message.find(u"no room"), std::u16string::npos);  // a failed read is no lack of room
        if (ok || after == plain) {
            EXPECT_EQ(after, ok ? attached : plain);
            continue;
        }
        EXPECT_NE(message.find(u"The debug information is still in"), std::u16string::npos) << WideToUtf8(message);
        if (std::equal(plain.begin(), plain.end(), after.begin())) {
            ++cutBeforeTheHeaders;
            TkvPEFileUtils reader;
            EXPECT_TRUE(reader.Open(Wide(module), true));
            EXPECT_EQ(reader.GetSectionCount(), 3);
        }
    }
    EXPECT_GT(cutBeforeTheHeaders, 0);
}

// Sections behind the removed one, the certificate and the trailing data
// all move and the checksum is recomputed: every step of a write-back runs.
TEST(FaultWalk, EveryFailureOfAWriteBackIsReportedTruthfully) {
    SectionDefinition last{".last", Pattern(0x200, 6)};
    last.PointerToRawData = 0x1000;
    Bytes const image = SmallModule()
                            .AddSection(last)
                            .Certificate(Pattern(0x30, 7), 0xC00)
                            .Trailing(Pattern(0x41, 8))
                            .Checksum(true)
                            .Build()
                            .Image;
    TempDir dir;
    auto const path = dir.Write("m.exe", image);
    auto close = [&](std::uint64_t failingCall, bool& ok, TkvPEFileUtils& editor) {
        WriteAll(path, image);
        EXPECT_TRUE(editor.Open(Wide(path), false));
        EXPECT_TRUE(editor.RemoveSection(1));
        return WithFault(failingCall, [&] { ok = editor.Close(true); });
    };
    bool ok = false;
    TkvPEFileUtils clean;
    std::uint64_t const calls = close(0, ok, clean);
    ASSERT_TRUE(ok);
    ASSERT_EQ(PefileProblems(path), "");
    Bytes const written = ReadAll(path);
    int untouched = 0;
    for (std::uint64_t n = 1; n <= calls; ++n) {
        SCOPED_TRACE("failing call " + std::to_string(n));
        TkvPEFileUtils editor;
        close(n, ok, editor);
        if (ok) {  // only the close of a released descriptor may pass unnoticed
            EXPECT_EQ(ReadAll(path), written);
            continue;
        }
        EXPECT_TRUE(editor.GetLastErrorText() == OSErrorText(kInjectedError) ||
                    editor.GetLastErrorText() == u"Checksum calculation failed.");
        if (!editor.WriteStarted()) {
            ++untouched;
            EXPECT_EQ(ReadAll(path), image);
        }
    }
    EXPECT_GT(untouched, 0);  // failures while reading back the moved regions
}

TEST(FaultWalk, EveryFailureOfAnOpenIsReportedAndReleasesTheFile) {
    TempDir dir;
    auto const path = dir.Write("m.exe", SmallModule().Certificate(Pattern(0x30, 7)).Build().Image);
    TkvPEFileUtils editor;
    bool ok = false;
    std::uint64_t const calls = WithFault(0, [&] { ok = editor.Open(Wide(path), false); });
    ASSERT_TRUE(ok && editor.Close(false));
    for (std::uint64_t n = 1; n <= calls; ++n) {
        WithFault(n, [&] { ok = editor.Open(Wide(path), false); });
        EXPECT_FALSE(ok) << n;
        EXPECT_EQ(editor.GetLastErrorText(), OSErrorText(kInjectedError)) << n;
        EXPECT_THROW(editor.GetSectionCount(), ENoModuleOpened);
    }
    EXPECT_TRUE(editor.Open(Wide(path), false));  // nothing left locked behind
}
