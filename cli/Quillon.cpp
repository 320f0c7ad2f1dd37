#include "Quillon.h"

#include "CommandLine.h"
#include "ConsoleOutput.h"
#include "ModuleSearch.h"
#include "SysApi.h"
#include "TextFormat.h"
#include "uMsg_Quillon.h"

namespace {

bool IsHelpRequest()
{
    if (GetArgumentCount() != 1)
        return false;
    const std::u16string argument = GetArgument(1);
    return argument == u"/?" || argument == u"-?";
}

bool HasWildcard(const std::u16string& mask)
{
    return mask.find_first_of(u"?*") != std::u16string::npos;
}

int ExitCodeFor(bool searchSucceeded, int processed, int failed)
{
    if (!searchSucceeded)
        return kExitSearchError;
    if (processed == 0 && failed == 0) {
        WriteConsoleLine(std::u16string(msg::NoModulesFound));
        return kExitNothingFound;
    }
    if (processed == 0)
        return kExitAllFailed;
    return failed != 0 ? kExitSomeFailed : kExitAllDone;
}

}  // namespace

int RunQuillon()
{
    WriteConsoleLine(std::u16string(msg::Banner));
    if (IsHelpRequest()) {
        WriteConsoleLine(std::u16string(msg::HelpLead));
        PrintUsage();
        return kExitAllDone;
    }

    bool recursive = false;
    bool overwrite = false;
    std::u16string moduleMask;
    std::u16string tdsFile;
    if (!ParseCommandLine(recursive, overwrite, moduleMask, tdsFile)) {
        WriteConsoleLine(std::u16string(msg::InvalidCommandLine));
        PrintUsage();
        return kExitBadCommandLine;
    }
    // An explicit .tds path only applies to one module named without
    // wildcards and without a subfolder search.
    if (recursive || HasWildcard(moduleMask))
        tdsFile.clear();

    int processed = 0;
    int failed = 0;
    const bool searchSucceeded = ProcessModules(moduleMask, tdsFile, recursive, overwrite, processed, failed);
    const int exitCode = ExitCodeFor(searchSucceeded, processed, failed);
    WriteConsoleLine(FormatText(msg::Summary, {IntToText(processed), IntToText(failed)}));
    return exitCode;
}
