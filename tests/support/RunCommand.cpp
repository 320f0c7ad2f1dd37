#include "RunCommand.h"

#include <cstdlib>
#include <string>

#include "TestFiles.h"

namespace testsupport {

namespace {

#ifdef _WIN32
// The command processor drops the outer pair of quotes of a command line
// that starts with one.
std::string ForCommandProcessor(const std::string& commandLine) { return "\"" + commandLine + "\""; }
int ExitCodeOf(int status) { return status; }
#else
std::string ForCommandProcessor(const std::string& commandLine) { return commandLine; }
// std::system gives a wait status: the exit code sits in bits 8-15 when the
// program ended normally.
int ExitCodeOf(int status) { return (status & 0x7F) == 0 ? (status >> 8) & 0xFF : -1; }
#endif

std::string ToText(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

CommandResult RunCommand(const std::string& commandLine) {
    TempDir folder;
    auto const output = folder.File("output.txt");
    int const status =
        std::system(ForCommandProcessor(commandLine + " > " + Quote(output.string()) + " 2>&1").c_str());
    CommandResult result;
    result.ExitCode = ExitCodeOf(status);
    if (std::filesystem::exists(output)) {
        result.Output = ToText(ReadAll(output));
    }
    return result;
}

bool PeCheckAvailable() {
#ifdef QUILLON_PECHECK_SCRIPT
    return true;
#else
    return false;
#endif
}

CommandResult RunPeCheck(const std::filesystem::path& module) {
#ifdef QUILLON_PECHECK_SCRIPT
    return RunCommand(Quote(QUILLON_PYTHON) + " " + Quote(QUILLON_PECHECK_SCRIPT) + " " + Quote(module.string()));
#else
    return {-1, "pecheck is not available in this build"};
#endif
}

std::optional<std::uint32_t> PefileChecksum(const std::filesystem::path& module) {
#ifdef QUILLON_PECHECK_SCRIPT
    CommandResult const result = RunCommand(Quote(QUILLON_PYTHON) + " " + Quote(QUILLON_PECHECK_SCRIPT) +
                                            " --checksum " + Quote(module.string()));
    if (result.ExitCode == 0 && !result.Output.empty()) {
        return static_cast<std::uint32_t>(std::stoul(result.Output));
    }
#endif
    return std::nullopt;
}

bool WindowsProgramsRunnable() {
#if defined(_WIN32) || defined(QUILLON_WINE_LOADER)
    return true;
#else
    return false;
#endif
}

CommandResult RunWindowsProgram(const std::filesystem::path& program, const std::string& arguments) {
    std::string const tail = arguments.empty() ? std::string() : " " + arguments;
#if defined(_WIN32)
    return RunCommand(Quote(program.string()) + tail);
#elif defined(QUILLON_WINE_LOADER)
    return RunCommand("WINEDEBUG=-all " + Quote(QUILLON_WINE_RUN) + " " + Quote(QUILLON_WINE_LOADER) + " " +
                      Quote(program.string()) + tail);
#else
    return {-1, "no way to run Windows programs in this build"};
#endif
}

std::filesystem::path TestModulesDir() { return std::filesystem::path(QUILLON_TEST_MODULES_DIR); }

}  // namespace testsupport
