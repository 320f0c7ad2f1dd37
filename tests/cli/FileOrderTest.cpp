// The order of the file operations that makes a run safe against a power
// cut at any moment, recorded at the platform seam: the .tds file is whole
// and durable, under its own name, before the module changes; an attached
// block is on disk before the headers that name it.
#include <gtest/gtest.h>

#include <algorithm>

#include "DebugInfoAttachment.h"
#include "DebugInfoExtraction.h"
#include "FaultInjection.h"
#include "TestFiles.h"
#include "TestModuleBuilder.h"

using namespace testsupport;
using fault::Op;

namespace {

using Log = std::vector<fault::Operation>;

// Positions in the log of the operations of one kind on one file.
std::vector<std::size_t> Find(const Log& log, Op kind, const std::u16string& path) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i].Kind == kind && log[i].Path == path) at.push_back(i);
    }
    return at;
}

// The first position, or the end of the log when there is none: a missing
// step then comes after everything.
std::size_t First(const std::vector<std::size_t>& at, const Log& log) { return at.empty() ? log.size() : at.front(); }
std::size_t Last(const std::vector<std::size_t>& at) { return at.empty() ? 0 : at.back(); }

Log Recorded(const std::function<bool()>& step) {
    Log log;
    fault::Record(&log);
    bool const ok = step();
    fault::Record(nullptr);
    EXPECT_TRUE(ok);
    return log;
}

// The writes to path that land at or beyond from (true) or before it
// (false), by the seek that precedes them.
std::vector<std::size_t> Writes(const Log& log, const std::u16string& path, std::uint64_t from, bool beyond) {
    std::vector<std::size_t> at;
    std::uint64_t position = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i].Path != path) continue;
        if (log[i].Kind == Op::Seek) position = log[i].Value;
        if (log[i].Kind != Op::Write) continue;
        if ((position >= from) == beyond) at.push_back(i);
        position += log[i].Value;
    }
    return at;
}

}  // namespace

TEST(FileOrder, AnExtractionMakesTheTdsFileDurableBeforeTheModuleChanges) {
    TempDir dir;
    auto const module = Wide(dir.Write("m.exe", SmallModule().Td32Section(MakeTd32Block(300001)).Build().Image));
    auto const tds = Wide(dir.File("m.tds"));
    std::u16string message;
    Log const log = Recorded([&] { return ExtractDebugInfo(module, tds, false, message); });
    auto const creates = Find(log, Op::Create, tds + u".0.tmp");
    ASSERT_EQ(creates.size(), 1u);
    std::u16string const temporary = log[creates[0]].Path;
    auto const data = Find(log, Op::Write, temporary);
    ASSERT_GE(data.size(), 3u);  // the block goes in pieces
    std::size_t const flush = First(Find(log, Op::Flush, temporary), log);
    std::size_t const move = First(Find(log, Op::Move, tds), log);
    std::size_t const folderFlush = First(Find(log, Op::FlushFolder, tds), log);
    std::size_t const moduleChange =
        std::min(First(Find(log, Op::Write, module), log), First(Find(log, Op::SetEnd, module), log));
    EXPECT_LT(Last(data), flush);
    EXPECT_LT(flush, move);
    EXPECT_LT(move, folderFlush);
    EXPECT_LT(folderFlush, moduleChange);
    EXPECT_LT(moduleChange, log.size());
}

TEST(FileOrder, AnAttachmentFlushesTheBlockBeforeTheHeadersNameIt) {
    TempDir dir;
    Bytes const plain = SmallModule().SpareHeaders(1).Build().Image;
    Bytes const block = MakeTd32Block(300001, 4);
    auto const module = Wide(dir.Write("m.exe", plain));
    auto const tds = Wide(dir.Write("m.tds", block));
    std::u16string message;
    Log const log = Recorded([&] { return AttachDebugInfo(module, tds, message); });
    auto const data = Writes(log, module, plain.size(), true);
    auto const headers = Writes(log, module, plain.size(), false);
    ASSERT_GE(data.size(), 3u);  // the block goes in pieces
    ASSERT_FALSE(headers.empty());
    auto const flushes = Find(log, Op::Flush, module);
    EXPECT_TRUE(std::any_of(flushes.begin(), flushes.end(),
                            [&](std::size_t flush) { return Last(data) < flush && flush < headers.front(); }));
    // The .tds file is read once: its head and trailer, then the block.
    std::uint64_t read = 0;
    for (std::size_t const i : Find(log, Op::Read, tds)) read += log[i].Value;
    EXPECT_EQ(read, block.size() + 12);
}
