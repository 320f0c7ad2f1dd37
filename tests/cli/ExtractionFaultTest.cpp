// Every file operation of a successful extraction is made to fail in turn,
// at the platform seam. After each run the result and the message must tell
// the truth, the module must be as it was or correctly stripped, and the
// debug block must never be lost: whenever the module no longer holds it,
// the .tds file holds it exactly.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "DebugInfoExtraction.h"
#include "FaultInjection.h"
#include "RunCommand.h"
#include "TestFiles.h"
#include "TestModuleBuilder.h"
#include "WideText.h"

namespace {

using testsupport::Bytes;
namespace fs = std::filesystem;

constexpr std::uint32_t kInjectedError = 112;  // ERROR_DISK_FULL
const std::u16string kSavedNote = u"The debug information was saved to";

struct Scenario {
    const char* Module;
    bool Checksum;
    bool ExistingTds;
};

std::string Name(const Scenario& s)
{
    std::string name = s.Module;
    for (char& c : name)
        if (c == '.' || c == '-')
            c = '_';
    return name + (s.Checksum ? "_checksum" : "_nochecksum") + (s.ExistingTds ? "_overwrite" : "_new");
}

class ExtractionFaults : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override
    {
        original_ = testsupport::ReadAll(testsupport::TestModulesDir() / GetParam().Module);
        block_ = testsupport::MakeTd32Block(70001, 7);
        testsupport::AppendTd32DebugSection(original_, block_);
        if (GetParam().Checksum)
            testsupport::StoreReferenceChecksum(original_);
    }

    // One extraction from fresh files, with the given call made to fail.
    bool Run(std::uint64_t failingCall, std::u16string& message)
    {
        testsupport::WriteAll(module_, original_);
        std::error_code ignored;
        fs::remove(tds_, ignored);
        if (GetParam().ExistingTds)
            testsupport::WriteAll(tds_, earlierTds_);
        fault::Arm(failingCall, kInjectedError);
        bool ok = false;
        try {
            ok = ExtractDebugInfo(testsupport::Wide(module_), testsupport::Wide(tds_), true, message);
        } catch (...) {
            fault::Disarm();
            throw;
        }
        calls_ = fault::CallCount();
        fault::Disarm();
        return ok;
    }

    std::optional<Bytes> TdsContents() const
    {
        if (!fs::exists(tds_))
            return std::nullopt;
        return testsupport::ReadAll(tds_);
    }

    testsupport::TempDir dir_;
    fs::path module_ = dir_.File("module.bin");
    fs::path tds_ = dir_.File("module.tds");
    Bytes original_;
    Bytes block_;
    const Bytes earlierTds_ = Bytes{'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    std::uint64_t calls_ = 0;
};

TEST_P(ExtractionFaults, EveryFailingCallLeavesTheDebugDataSafe)
{
    std::u16string message;
    ASSERT_TRUE(Run(0, message)) << WideToUtf8(message);
    const Bytes stripped = testsupport::ReadAll(module_);
    ASSERT_EQ(TdsContents(), block_);
    ASSERT_LT(stripped.size(), original_.size());
    const std::uint64_t total = calls_;
    ASSERT_GT(total, 10u);

    int failures = 0;
    for (std::uint64_t n = 1; n <= total; ++n) {
        SCOPED_TRACE("failing call " + std::to_string(n) + " of " + std::to_string(total));
        message.clear();
        const bool ok = Run(n, message);
        const Bytes module = testsupport::ReadAll(module_);
        const std::optional<Bytes> tds = TdsContents();
        if (ok) {
            // A fault that the code absorbed must not change the outcome.
            EXPECT_TRUE(message.empty());
            EXPECT_EQ(module, stripped);
            EXPECT_EQ(tds, block_);
            continue;
        }
        ++failures;
        EXPECT_FALSE(message.empty());
        if (module == original_) {
            // Nothing was lost; an earlier .tds file is either untouched or
            // was replaced by the new one and then removed.
            if (tds && *tds != block_ && GetParam().ExistingTds) {
                EXPECT_EQ(*tds, earlierTds_);
            }
        } else {
            // The module no longer holds its block: the .tds file must, and
            // the message must say where it is.
            EXPECT_EQ(tds, block_);
            EXPECT_NE(message.find(kSavedNote), std::u16string::npos) << WideToUtf8(message);
        }
    }
    EXPECT_GT(failures, 0);
    std::cout << "walked " << total << " failing calls, " << failures << " of them failed the extraction\n";
}

INSTANTIATE_TEST_SUITE_P(RealModules, ExtractionFaults,
                         ::testing::Values(Scenario{"hello32.exe", true, false}, Scenario{"hello32.exe", false, true},
                                           Scenario{"hellodll64.dll", true, true},
                                           Scenario{"hellodll64.dll", false, false},
                                           Scenario{"hello64.exe", true, false}, Scenario{"hellodll32.dll", true, true}),
                         [](const auto& info) { return Name(info.param); });

}  // namespace
