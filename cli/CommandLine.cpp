#include "CommandLine.h"

#include "SysApi.h"

namespace {

// Moves to the next argument when there is one.
bool Advance(int& index)
{
    if (GetArgumentCount() < index + 1)
        return false;
    ++index;
    return true;
}

bool IsSwitch(const std::u16string& argument, char16_t letter)
{
    const std::u16string dash{u'-', letter};
    const std::u16string slash{u'/', letter};
    return SameTextIgnoreCase(argument, dash) || SameTextIgnoreCase(argument, slash);
}

}  // namespace

bool ParseCommandLine(bool& recursive, bool& overwrite, std::u16string& moduleMask, std::u16string& tdsFile)
{
    recursive = false;
    overwrite = false;
    moduleMask.clear();
    tdsFile.clear();

    int index = 0;
    if (!Advance(index))
        return false;
    for (;;) {
        const std::u16string argument = GetArgument(index);
        if (IsSwitch(argument, u'r'))
            recursive = true;
        else if (IsSwitch(argument, u'w'))
            overwrite = true;
        else
            break;
        if (!Advance(index))
            return false;
    }
    moduleMask = GetArgument(index);
    if (Advance(index))
        tdsFile = GetArgument(index);
    return index == GetArgumentCount();
}
