#include "CommandLineCheck.h"

#include <vector>

#include "CommandLine.h"
#include "SysApi.h"
#include "WideText.h"

namespace fuzzcheck {

namespace {

bool IsSwitch(const std::string& argument, char letter) {
    return argument.size() == 2 && (argument[0] == '-' || argument[0] == '/') &&
           (argument[1] == letter || argument[1] == letter - 'a' + 'A');
}

}  // namespace

std::string CheckCommandLine(std::span<const std::uint8_t> input) {
    std::vector<std::string> arguments{"quillon"};
    std::string current;
    for (std::uint8_t const byte : input) {
        if (byte == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(byte));
        }
    }
    arguments.push_back(current);
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    InitPlatform(static_cast<int>(arguments.size()), argv.data());

    // The arguments the program sees end at the first empty one.
    std::size_t count = 0;
    while (count + 1 < arguments.size() && !arguments[count + 1].empty()) {
        ++count;
    }
    if (GetArgumentCount() != static_cast<int>(count)) {
        return "GetArgumentCount does not stop at the first empty argument";
    }
    bool recursive = false;
    bool overwrite = false;
    std::size_t first = 1;
    for (; first <= count && (IsSwitch(arguments[first], 'r') || IsSwitch(arguments[first], 'w')); ++first) {
        recursive = recursive || IsSwitch(arguments[first], 'r');
        overwrite = overwrite || IsSwitch(arguments[first], 'w');
    }
    std::size_t const positional = count + 1 - first;
    bool const valid = positional == 1 || positional == 2;

    bool parsedRecursive = false;
    bool parsedOverwrite = false;
    std::u16string mask;
    std::u16string tds;
    if (ParseCommandLine(parsedRecursive, parsedOverwrite, mask, tds) != valid) {
        return valid ? "ParseCommandLine refused a valid command line" : "ParseCommandLine accepted an invalid one";
    }
    if (valid && (parsedRecursive != recursive || parsedOverwrite != overwrite ||
                  mask != Utf8ToWide(arguments[first]) ||
                  tds != (positional == 2 ? Utf8ToWide(arguments[first + 1]) : u""))) {
        return "ParseCommandLine read the switches or the positional arguments otherwise";
    }
    return {};
}

}  // namespace fuzzcheck
