#include "CommandLine.h"

#include "SysApi.h"

namespace {

// Moves to the next argument when there is one.
bool Advance(int& index, int count) {
    if (count < index + 1) return false;
    ++index;
    return true;
}

bool IsSwitch(const std::u16string& argument, char16_t letter) {
    const std::u16string dash{u'-', letter};
    const std::u16string slash{u'/', letter};
    return SameTextIgnoreCase(argument, dash) || SameTextIgnoreCase(argument, slash);
}

// Sets the flag of a switch argument; false for any other argument.
bool TakeSwitch(const std::u16string& argument, TRunSettings& settings) {
    for (auto [letter, flag] : {std::pair{u'r', &settings.Recursive}, std::pair{u'w', &settings.Overwrite},
                                std::pair{u'n', &settings.ListOnly}, std::pair{u'a', &settings.Attach},
                                std::pair{u'l', &settings.Lookup}, std::pair{u'i', &settings.List}}) {
        if (IsSwitch(argument, letter)) {
            *flag = true;
            return true;
        }
    }
    return false;
}

}  // namespace

bool ParseCommandLine(TRunSettings& settings) {
    settings = TRunSettings{};
    // Counted once: -l can take a great many addresses.
    int const count = GetArgumentCount();
    int index = 0;
    if (!Advance(index, count)) return false;
    while (TakeSwitch(GetArgument(index), settings)) {
        if (!Advance(index, count)) return false;
    }
    settings.Positional.reserve(count - index + 1);
    do {
        settings.Positional.push_back(GetArgument(index));
        if (settings.Lookup) {
            settings.LookupFrom = index + 1;
            break;
        }
    } while (Advance(index, count));
    return kShellExpandsWildcards || settings.Positional.size() <= 2 || settings.Lookup;
}
