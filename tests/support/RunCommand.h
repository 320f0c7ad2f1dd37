// Running other programs from tests: a command line with its output
// captured, Debian's python3-pefile as an independent PE reader, and
// Windows programs (under Wine in the native build, directly in the Windows
// build, which itself runs under Wine).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace testsupport {

struct CommandResult {
    int ExitCode = -1;
    std::string Output;  // standard output and standard error
};

// Runs commandLine through the system's command processor.
CommandResult RunCommand(const std::string& commandLine);

// Quotes an argument for the command processor.
std::string Quote(const std::string& text);

// True when pecheck.py can be run (the native build on a machine with
// python3-pefile).
bool PeCheckAvailable();
// tests/support/pecheck.py on the module: exit code 0 when pefile reads it
// without any warning and, when its CheckSum is not 0, the checksum verifies.
CommandResult RunPeCheck(const std::filesystem::path& module);
// pefile's generate_checksum() for the file; nothing when pefile cannot
// give it.
std::optional<std::uint32_t> PefileChecksum(const std::filesystem::path& module);

// True when Windows programs can be started from this test program.
bool WindowsProgramsRunnable();
// Runs a Windows program with arguments, output captured.
CommandResult RunWindowsProgram(const std::filesystem::path& program, const std::string& arguments = {});

// The folder of the real modules built with mingw-w64 for the tests.
std::filesystem::path TestModulesDir();

}  // namespace testsupport
