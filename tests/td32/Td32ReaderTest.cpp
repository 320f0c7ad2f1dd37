// The TD32 reader on blocks from the test block builder: lookups, the
// listing queries, readable names, and damaged blocks refused with their
// reason.
#include <gtest/gtest.h>

#include <functional>

#include "ReadableName.h"
#include "Td32BlockBuilder.h"
#include "Td32DebugInfo.h"
#include "uMsg_Td32DebugInfo.h"

using namespace testsupport;
namespace msg = uMsg_Td32DebugInfo;

namespace {

std::string Describe(const TTd32DebugInfo& info, std::uint16_t segment, std::uint32_t offset) {
    const TTd32Procedure* procedure = info.FindProcedure(segment, offset);
    if (procedure == nullptr) return "none";
    std::string text = ReadableName(info.ProcedureName(*procedure)) + "+" + std::to_string(offset - procedure->Offset);
    if (auto line = info.FindLine(*procedure, offset))
        text += " " + std::string(info.SourceFiles()[line->File].Name) + ":" + std::to_string(line->Line);
    return text;
}

std::size_t At(const Bytes& b, std::uint16_t type, int nth = 0) { return Get32(b, Td32EntryAt(b, type, nth) + 4); }

}  // namespace

TEST(Td32Reader, FindsProcedureAndLine) {
    Bytes const block = Td32ExampleBlock();
    TTd32DebugInfo info;
    std::u16string_view reason;
    ASSERT_TRUE(info.Read(block, reason));
    struct {
        std::uint16_t Segment;
        std::uint32_t Offset;
        std::string Expected;
    } const rows[] = {
        {1, 0x100, "Unit1.TForm1.Button1Click+0 Unit1.pas:10"},
        {1, 0x106, "Unit1.TForm1.Button1Click+6 Unit1.pas:11"},
        {1, 0x110, "Inner+0 Inc.inc:50"},                       // the nested procedure is the innermost
        {1, 0x118, "Unit1.TForm1.Button1Click+24 Inc.inc:50"},  // the last entry of any of the unit's files
        {1, 0x132, "Unit1.Late+2"},                             // no entry since its start
        {1, 0x13f, "Unit1.TForm1.Button1Click+63 Unit1.pas:12"},
        {1, 0x140, "none"},
        {1, 0x4, "Unit2.Helper+4"},  // Dummy's line at 1:0 is another unit's
        {2, 0xf, "Unit2.initialization+15"},
        {3, 0x100, "none"},
    };
    for (auto const& row : rows) EXPECT_EQ(Describe(info, row.Segment, row.Offset), row.Expected) << row.Offset;
    std::vector<std::string> order;
    for (const TTd32Procedure& p : info.Procedures()) {
        auto const first = info.FirstLine(p);
        order.push_back(ReadableName(info.ProcedureName(p)) + (first ? ":" + std::to_string(first->Line) : ""));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"Unit2.Helper", "Unit1.TForm1.Button1Click:10", "Inner:50", "Unit1.Late",
                                               "Unit2.initialization"}));
    EXPECT_EQ(std::tuple(info.Modules().size(), info.DistinctSourceFileCount(), info.LineEntryCount()),
              std::tuple(3u, 3u, 5u));
    EXPECT_EQ(info.Modules()[2].Name, "Unit2");
}

TEST(Td32Reader, ReadableNames) {
    std::pair<std::string, std::string> const rows[] = {
        {"@Unit1@TForm1@Button1Click$qqrp14System@TObject", "Unit1.TForm1.Button1Click"},
        {"@Sysinit@@_dbk_fcall_wrapper$qqrv", "Sysinit._dbk_fcall_wrapper"},
        {"initialization", "initialization"},
        {"@My_package@@PackageLoad$qqrv", "My_package.PackageLoad"},
        {"a@@@b$", "a..b"},
        {"@", ""},
    };
    for (auto const& [name, readable] : rows) EXPECT_EQ(ReadableName(name), readable);
}

// Each change makes the block damaged in one way; the reader refuses it
// with that reason and keeps nothing. The last row is not damage: linkers
// state the size of the unit records wrongly.
TEST(Td32Reader, RefusesDamagedBlocks) {
    auto const directory = [](const Bytes& b) { return Get32(b, 4); };
    struct {
        std::u16string_view Reason;
        std::function<void(Bytes&)> Change;
    } const rows[] = {
        {msg::SNoSignature, [](Bytes& b) { b[0] = 'X'; }},
        {msg::SDirectoryOutside, [](Bytes& b) { b.resize(b.size() / 2); }},
        {msg::SDirectoryOutside, [](Bytes& b) { Put32(b, 4, 0xFFFFFFF0); }},
        {msg::SDirectoryLayout, [&](Bytes& b) { Put16(b, directory(b), 8); }},
        {msg::SDirectoryCount, [&](Bytes& b) { Put32(b, directory(b) + 4, 0x7FFFFFFF); }},
        {msg::SDirectoryCycle, [&](Bytes& b) { Put32(b, directory(b) + 8, directory(b)); }},
        {msg::SSubsectionOutside, [](Bytes& b) { Put32(b, Td32EntryAt(b, 0x125) + 8, 0xFFFFFF00); }},
        {msg::SSubsectionsOverlap, [](Bytes& b) { Put32(b, Td32EntryAt(b, 0x125) + 4, At(b, 0x127)); }},
        {msg::STwoNameTables, [](Bytes& b) { Put16(b, Td32EntryAt(b, 0x125, 1), 0x130); }},
        {msg::SNameTableDamaged, [](Bytes& b) { Put32(b, At(b, 0x130), 0x40000000); }},
        {msg::SNameOutOfRange, [](Bytes& b) { Put32(b, At(b, 0x125) + 8 + 36, 999); }},
        {msg::SModuleDamaged, [](Bytes& b) { Put16(b, At(b, 0x120, 2) + 4, 0xFFFF); }},
        {msg::SModuleTwice, [](Bytes& b) { Put16(b, Td32EntryAt(b, 0x120, 1) + 2, 1); }},
        {msg::SModuleUnknown, [](Bytes& b) { Put16(b, Td32EntryAt(b, 0x125) + 2, 9); }},
        {msg::SLinesDamaged, [](Bytes& b) { Put16(b, At(b, 0x127) + 4 + 28 + 36 + 2, 0xFFFF); }},
        {msg::SLinesUnordered, [](Bytes& b) { Put32(b, At(b, 0x127) + 4 + 28 + 36 + 8, 0x50); }},
        {msg::SLinesOverlap, [](Bytes& b) { Put32(b, At(b, 0x127) + 8, Get32(b, At(b, 0x127) + 4)); }},
        {msg::SSymbolsDamaged, [](Bytes& b) { Put16(b, At(b, 0x125) + 4, 0xFFF0); }},
        {u"",
         [](Bytes& b) {
             for (int i = 0; i < 3; ++i) Put32(b, Td32EntryAt(b, 0x120, i) + 8, 76);
         }},
    };
    for (auto const& row : rows) {
        Bytes block = Td32ExampleBlock();
        row.Change(block);
        TTd32DebugInfo info;
        std::u16string_view reason;
        EXPECT_EQ(info.Read(block, reason), row.Reason.empty());
        EXPECT_EQ(reason, row.Reason);
        EXPECT_EQ(info.Procedures().size(), row.Reason.empty() ? 5u : 0u);
    }
}
