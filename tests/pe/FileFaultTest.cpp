// Every file operation of an open and of a write-back is made to fail in
// turn at the platform seam. Each failure must be reported with its reason,
// and a write-back that reports it left the file untouched must have done so.
#include <gtest/gtest.h>

#include "FaultInjection.h"
#include "PeTestSupport.h"

using namespace testsupport;
using namespace uMsg_kvPEFileUtils;

namespace {

constexpr std::uint32_t kInjectedError = sys::kErrorDiskFull;

// Sections behind the removed one move; certificate and trailing data
// move; the CheckSum is recomputed: every step of the write-back runs.
Bytes EditedModule() {
    TestModuleBuilder builder = SmallModule();
    SectionDefinition last;
    last.Name = ".last";
    last.Data = Pattern(0x200, 6);
    last.PointerToRawData = 0x1000;
    builder.AddSection(last).Certificate(Pattern(0x30, 7), 0xC00).Trailing(Pattern(0x41, 8));
    builder.Checksum(ChecksumMode::Computed);
    return builder.Build().Image;
}

struct Outcome {
    bool Result = false;
    bool WriteStarted = false;
    std::u16string Reason;
    std::uint64_t Calls = 0;
};

Outcome CloseWithFault(const std::filesystem::path& path, const Bytes& image, std::uint64_t failingCall) {
    WriteAll(path, image);
    TkvPEFileUtils editor;
    EXPECT_TRUE(editor.Open(Wide(path), false));
    EXPECT_TRUE(editor.RemoveSection(1));
    std::uint8_t byte = 0;
    EXPECT_TRUE(editor.ReadSectionData(0, 0, &byte, 1));
    fault::Arm(failingCall, kInjectedError);
    Outcome outcome;
    outcome.Result = editor.Close(true);
    outcome.Calls = fault::CallCount();
    fault::Disarm();
    outcome.WriteStarted = editor.WriteStarted();
    outcome.Reason = editor.GetLastErrorText();
    return outcome;
}

}  // namespace

TEST(FileFaults, EveryFailingCallOfAWriteBackIsReportedTruthfully) {
    TempDir dir;
    auto const path = dir.File("m.exe");
    Bytes const image = EditedModule();
    Outcome const clean = CloseWithFault(path, image, 0);
    ASSERT_TRUE(clean.Result);
    Bytes const written = ReadAll(path);
    ExpectPefileAccepts(path);
    ASSERT_GT(clean.Calls, 10u);

    int untouched = 0, partly = 0;
    for (std::uint64_t call = 1; call <= clean.Calls; ++call) {
        SCOPED_TRACE("failing call " + std::to_string(call));
        Outcome const outcome = CloseWithFault(path, image, call);
        Bytes const after = ReadAll(path);
        if (outcome.Result) {
            // Only a failure of the final close of a descriptor that was
            // already released may pass unnoticed; the file is then complete.
            EXPECT_EQ(after, written);
            continue;
        }
        EXPECT_TRUE(outcome.Reason == OSErrorText(kInjectedError) || outcome.Reason == Text(SChecksumFailed))
            << std::string(outcome.Reason.begin(), outcome.Reason.end());
        if (outcome.WriteStarted) {
            ++partly;
        } else {
            ++untouched;
            EXPECT_EQ(after, image);
        }
    }
    EXPECT_GT(untouched, 0);  // failures while reading back moved regions
    EXPECT_GT(partly, 0);     // failures of writes, the cut and the checksum store
}

TEST(FileFaults, EveryFailingCallOfAnOpenIsReported) {
    TempDir dir;
    auto const path = dir.Write("m.exe", EditedModule());
    TkvPEFileUtils probe;
    fault::Arm(0, 0);
    ASSERT_TRUE(probe.Open(Wide(path), true));
    std::uint64_t const calls = fault::CallCount();
    ASSERT_TRUE(probe.Close(false));
    for (std::uint64_t call = 1; call <= calls; ++call) {
        SCOPED_TRACE("failing call " + std::to_string(call));
        TkvPEFileUtils editor;
        fault::Arm(call, kInjectedError);
        bool const opened = editor.Open(Wide(path), false);
        fault::Disarm();
        EXPECT_FALSE(opened);
        EXPECT_EQ(editor.GetLastErrorText(), OSErrorText(kInjectedError));
        EXPECT_THROW(editor.GetSectionCount(), ENoModuleOpened);
    }
    TkvPEFileUtils again;  // nothing left locked behind
    EXPECT_TRUE(again.Open(Wide(path), false));
}

TEST(FileFaults, ASectionIsReadFromTheFileOnce) {
    TempDir dir;
    auto const path = dir.Write("m.exe", SmallModule().Build().Image);
    TkvPEFileUtils editor;
    ASSERT_TRUE(editor.Open(Wide(path), true));
    std::uint8_t byte = 0;
    fault::Arm(0, 0);
    ASSERT_TRUE(editor.ReadSectionData(1, 0, &byte, 1));
    EXPECT_GT(fault::CallCount(), 0u);
    fault::Arm(0, 0);
    ASSERT_TRUE(editor.ReadSectionData(1, 5, &byte, 1));
    EXPECT_EQ(fault::CallCount(), 0u);
    fault::Disarm();
}
