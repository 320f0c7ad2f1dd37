#include "Quillon.h"

#include <new>
#include <set>

#include "CommandLine.h"
#include "ConsoleOutput.h"
#include "DebugInfoQuery.h"
#include "DebugInfoAttachment.h"
#include "DebugInfoExtraction.h"
#include "Exception.h"
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

int ExitCodeFor(bool searchSucceeded, int processed, int failed) {
    if (!searchSucceeded) return kExitSearchError;
    if (processed == 0 && failed == 0) {
        WriteConsoleLine(std::u16string(msg::NoModulesFound));
        return kExitNothingFound;
    }
    if (processed == 0) return kExitAllFailed;
    return failed != 0 ? kExitSomeFailed : kExitAllDone;
}

// The .tds files this run has created (with -n: would create), by their
// identity: a later module never replaces one, -w or not.
class TdsClaims {
public:
    bool Claimed(const std::u16string& tds) const { return claims_.contains(SysPathIdentity(tds)); }
    void Claim(const std::u16string& tds) { claims_.insert(SysPathIdentity(tds)); }

private:
    std::set<std::u16string> claims_;
};

bool Extract(const TRunSettings& settings, TdsClaims& claims, const std::u16string& module, const std::u16string& tds,
             std::uint32_t& size, std::u16string& message) {
    if (claims.Claimed(tds)) {
        message = FormatText(msg::TdsOfAnotherModule, {tds});
        return false;
    }
    bool kept = false;
    bool const ok = settings.ListOnly ? CheckDebugInfo(module, tds, settings.Overwrite, size, message)
                                      : ExtractDebugInfo(module, tds, settings.Overwrite, message, &kept);
    if (ok || kept) claims.Claim(tds);
    return ok;
}

// What the run does with one module: attach or extract, or only check and
// say what would be done.
bool ActOnModule(const TRunSettings& settings, TdsClaims& claims, const std::u16string& module,
                 const std::u16string& tds, std::u16string& message) {
    std::uint32_t size = 0;
    bool const ok = !settings.Attach    ? Extract(settings, claims, module, tds, size, message)
                    : settings.ListOnly ? CheckAttachDebugInfo(module, tds, size, message)
                                        : AttachDebugInfo(module, tds, message);
    if (!ok) return false;
    if (!settings.ListOnly)
        message = std::u16string(msg::Done);
    else
        message = FormatText(settings.Attach ? msg::WouldAttach : msg::WouldMove, {IntToText(size), tds});
    return true;
}

// What a module's content makes the editor raise (a misuse it runs into,
// or no memory for what the module asks) ends that module, not the run.
bool ActOnModuleSafely(const TRunSettings& settings, TdsClaims& claims, const std::u16string& module,
                       const std::u16string& tds, std::u16string& message) {
    try {
        return ActOnModule(settings, claims, module, tds, message);
    } catch (const Exception& error) {
        message = error.Message().empty() ? std::u16string(msg::UnknownError) : error.Message();
    } catch (const std::bad_alloc&) {
        message = std::u16string(msg::OutOfMemory);
    }
    return false;
}

// Where the shell expanded a mask into several names, every positional
// argument is a module: more than two of them, or a second one that is a
// module itself. Otherwise the second is the .tds path.
bool AreAllModules(const std::vector<std::u16string>& positional) {
    return kShellExpandsWildcards && (positional.size() > 2 || (positional.size() == 2 && IsPeModule(positional[1])));
}

}  // namespace

int RejectCommandLine() {
    WriteConsoleLine(std::u16string(msg::InvalidCommandLine));
    PrintUsage();
    return kExitBadCommandLine;
}

int RunQuillon() {
    WriteConsoleLine(std::u16string(msg::Banner));
    if (IsHelpRequest()) {
        WriteConsoleLine(std::u16string(msg::HelpLead));
        PrintUsage();
        return kExitAllDone;
    }

    TRunSettings settings;
    if (!ParseCommandLine(settings) || !IsValidDebugInfoQuery(settings)) return RejectCommandLine();
    if (IsDebugInfoQuery(settings)) return RunDebugInfoQuery(settings);
    std::vector<std::u16string> masks = settings.Positional;
    std::u16string tdsFile;
    if (!AreAllModules(masks)) {
        tdsFile = masks.size() == 2 ? masks[1] : u"";
        masks.resize(1);
    }
    // An explicit .tds path only applies to one module named without
    // wildcards and without a subfolder search.
    if (settings.Recursive || IsMask(masks[0])) tdsFile.clear();

    int processed = 0;
    int failed = 0;
    bool searchSucceeded = true;
    TdsClaims claims;
    const TModuleAction action = [&settings, &claims](const std::u16string& module, const std::u16string& tds,
                                                      std::u16string& message) {
        return ActOnModuleSafely(settings, claims, module, tds, message);
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
