// The argument functions against real process command lines: a probe
// program is started with an exact command line and reports what it saw.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SysApi.h"
#include "WideText.h"

namespace {

struct ProbeRun {
    int count = -1;
    std::vector<WideString> arguments;  // 0 to count + 1
};

WideString ProbePath() { return ExtractFolderPart(GetArgument(0)) + u"\\wide_args_probe.exe"; }

WideString ParseUnits(const std::string& line) {
    std::istringstream units(line);
    WideString text;
    unsigned unit;
    while (units >> std::hex >> unit) text.push_back(static_cast<char16_t>(unit));
    return text;
}

ProbeRun RunProbe(const WideString& commandLine) {
    wchar_t folder[MAX_PATH], outputPath[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"qpr", 0, outputPath);
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE output = CreateFileW(outputPath, GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(output, INVALID_HANDLE_VALUE);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    std::wstring line(commandLine.begin(), commandLine.end());
    WideString probe = ProbePath();
    std::wstring program(probe.begin(), probe.end());
    BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    EXPECT_TRUE(started) << GetLastError();
    if (started) {
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(output);

    ProbeRun run;
    std::ifstream report(outputPath);
    std::string text;
    if (std::getline(report, text)) run.count = std::stoi(text);
    while (std::getline(report, text)) run.arguments.push_back(ParseUnits(text));
    report.close();
    DeleteFileW(outputPath);
    return run;
}

// The arguments after the program name, checked against what the probe saw.
void ExpectArguments(const WideString& commandLine, const std::vector<WideString>& expected) {
    SCOPED_TRACE(WideToUtf8(commandLine));
    ProbeRun run = RunProbe(commandLine);
    ASSERT_EQ(run.count, static_cast<int>(expected.size()));
    ASSERT_EQ(run.arguments.size(), expected.size() + 2);
    EXPECT_TRUE(SameTextIgnoreCase(run.arguments[0], ProbePath())) << WideToUtf8(run.arguments[0]);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(run.arguments[i + 1], expected[i]) << i + 1;
    EXPECT_EQ(run.arguments.back(), u"");
}

TEST(ProcessArguments, QuotingRules) {
    ExpectArguments(u"probe a\"b c\"d", {u"ab cd"});
    ExpectArguments(u"probe  a  \"\"  b   ", {u"a", u"b"});
    ExpectArguments(u"probe a\"\"b", {u"ab"});
    ExpectArguments(u"probe\ta\t\"x\ty\"", {u"a", u"x\ty"});
    ExpectArguments(u"probe a\\\"b c\" d\\", {u"a\\b c", u"d\\"});
    ExpectArguments(u"probe \"unclosed x  ", {u"unclosed x  "});
}

TEST(ProcessArguments, ProgramNameIsSkippedByTheSameRules) {
    ExpectArguments(u"\"C:\\some folder\\probe.exe\" -r x.dll", {u"-r", u"x.dll"});
    ExpectArguments(u"pr\"o b\"e x", {u"x"});
    ExpectArguments(u"probe", {});
    ExpectArguments(u"probe   ", {});
}

TEST(ProcessArguments, UnicodeArgumentsArriveWhole) {
    ExpectArguments(u"probe \u0416\u0443\u043A.dll \U0001F600 \"\u00E9t\u00E9 \u4E2D.dll\"",
                    {u"\u0416\u0443\u043A.dll", u"\U0001F600", u"\u00E9t\u00E9 \u4E2D.dll"});
}

TEST(ProcessArguments, LongArgumentsSplitAtTheLimit) {
    WideString run(5000, u'y');
    ExpectArguments(u"probe " + run, {WideString(kMaxArgumentLength, u'y'), WideString(5000 - kMaxArgumentLength, u'y')});
}

TEST(ProcessArguments, AnsiModeReadsTheSameArguments) {
    SetEnvironmentVariableW(L"QUILLON_PROBE_ANSI", L"1");
    ExpectArguments(u"probe -w \"a b.dll\"", {u"-w", u"a b.dll"});
    SetEnvironmentVariableW(L"QUILLON_PROBE_ANSI", nullptr);
}

}  // namespace
