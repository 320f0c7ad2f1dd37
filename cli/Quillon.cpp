#include "Quillon.h"

#include "CommandLine.h"
#include "ConsoleOutput.h"
#include "DebugInfoQuery.h"
#include "DebugInfoAttachment.h"
#include "DebugInfoExtraction.h"
#include "ModuleSearch.h"
#include "SysApi.h"
#include "TextFormat.h"
#include "uMsg_Quillon.h"

namespace {

// A lone "/?" or "-?", or the "-h" and "--help" that Linux users type first.
bool IsHelpRequest() {
    if (GetArgumentCount() != 1) return false;
    const std::u16string argument = GetArgument(1);
    return argument == u"/?" || argument == u"-?" || argument == u"-h" || argument == u"--help";
}

bool HasWildcard(const std::u16string& mask) { return mask.find_first_of(u"?*") != std::u16string::npos; }

int ExitCodeFor(bool searchSucceeded, int processed, int failed) {
    if (!searchSucceeded) return kExitSearchError;
    if (processed == 0 && failed == 0) {
        WriteConsoleLine(std::u16string(msg::NoModulesFound));
        return kExitNothingFound;
    }
    if (processed == 0) return kExitAllFailed;
    return failed != 0 ? kExitSomeFailed : kExitAllDone;
}

// What the run does with one module: attach or extract, or only check and
// say what would be done.
bool ActOnModule(const TRunSettings& settings, const std::u16string& module, const std::u16string& tds,
                 std::u16string& message) {
    std::uint32_t size = 0;
    bool const ok = settings.ListOnly
                        ? (settings.Attach ? CheckAttachDebugInfo(module, tds, size, message)
                                           : CheckDebugInfo(module, tds, settings.Overwrite, size, message))
                        : (settings.Attach ? AttachDebugInfo(module, tds, message)
                                           : ExtractDebugInfo(module, tds, settings.Overwrite, message));
    if (!ok) return false;
    if (!settings.ListOnly)
        message = std::u16string(msg::Done);
    else
        message = FormatText(settings.Attach ? msg::WouldAttach : msg::WouldMove, {IntToText(size), tds});
    return true;
}

// Where the shell expanded a mask into several names, every positional
// argument is a module: more than two of them, or a second one that is a
// module itself. Otherwise the second is the .tds path.
bool AreAllModules(const std::vector<std::u16string>& positional) {
    return kShellExpandsWildcards && (positional.size() > 2 || (positional.size() == 2 && IsPeModule(positional[1])));
}

}  // namespace

int RunQuillon() {
    WriteConsoleLine(std::u16string(msg::Banner));
    if (IsHelpRequest()) {
        WriteConsoleLine(std::u16string(msg::HelpLead));
        PrintUsage();
        return kExitAllDone;
    }

    TRunSettings settings;
    if (!ParseCommandLine(settings) || !IsValidDebugInfoQuery(settings)) {
        WriteConsoleLine(std::u16string(msg::InvalidCommandLine));
        PrintUsage();
        return kExitBadCommandLine;
    }
    if (IsDebugInfoQuery(settings)) return RunDebugInfoQuery(settings);
    std::vector<std::u16string> masks = settings.Positional;
    std::u16string tdsFile;
    if (!AreAllModules(masks)) {
        tdsFile = masks.size() == 2 ? masks[1] : u"";
        masks.resize(1);
    }
    // An explicit .tds path only applies to one module named without
    // wildcards and without a subfolder search.
    if (settings.Recursive || HasWildcard(masks[0])) tdsFile.clear();

    int processed = 0;
    int failed = 0;
    bool searchSucceeded = true;
    const TModuleAction action = [&settings](const std::u16string& module, const std::u16string& tds,
                                             std::u16string& message) {
        return ActOnModule(settings, module, tds, message);
    };
    for (const std::u16string& mask : masks) {
        int maskProcessed = 0;
        int maskFailed = 0;
        searchSucceeded =
            ProcessModules(mask, tdsFile, settings.Recursive, action, maskProcessed, maskFailed) && searchSucceeded;
        processed += maskProcessed;
        failed += maskFailed;
    }
    const int exitCode = ExitCodeFor(searchSucceeded, processed, failed);
    WriteConsoleLine(FormatText(msg::Summary, {IntToText(processed), IntToText(failed)}));
    return exitCode;
}
