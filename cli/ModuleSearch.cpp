#include "ModuleSearch.h"

#include "ConsoleOutput.h"
#include "SysApi.h"
#include "TextFormat.h"
#include "WideText.h"
#include "uMsg_Quillon.h"

namespace {

bool IsFolder(const FindEntry& entry) { return (entry.Attributes & sys::kFileAttributeDirectory) != 0; }

// A folder that is a link (symbolic link, junction) is not walked: one that
// points back up the tree would make the walk endless and process the same
// modules again and again.
bool IsLinkedFolder(const FindEntry& entry) { return (entry.Attributes & sys::kFileAttributeReparsePoint) != 0; }

// "No more files" and "file not found" end a search normally; anything else
// is a search error.
bool IsSearchError(std::uint32_t code) { return code != sys::kErrorNoMoreFiles && code != sys::kErrorFileNotFound; }

void ReportSearchError(const std::u16string& folder) { WriteConsoleLine(FormatText(msg::SearchError, {folder})); }

// Runs visit on every entry of a folder search; false on a search error
// (which has been reported).
template <typename Visit>
bool ForEachEntry(const std::u16string& mask, const std::u16string& searchFolder, Visit visit) {
    FindEntry entry;
    SysHandle handle = FindFirstEntry(mask, entry);
    if (handle == kInvalidHandle) {
        if (!IsSearchError(SysGetLastError())) return true;
        ReportSearchError(searchFolder);
        return false;
    }
    do {
        visit(entry);
    } while (FindNextEntry(handle, entry));
    const bool ok = !IsSearchError(SysGetLastError());
    FindCloseEntry(handle);
    if (!ok) ReportSearchError(searchFolder);
    return ok;
}

void ProcessOneModule(const std::u16string& modulePath, const std::u16string& tdsFile, const TModuleAction& action,
                      int& processed, int& failed) {
    const std::u16string tdsPath = tdsFile.empty() ? ReplaceExtension(modulePath, u".tds") : tdsFile;
    std::u16string message;
    ++(action(modulePath, tdsPath, message) ? processed : failed);
    WriteConsoleLine(modulePath + u": " + message);
}

bool HasWildcard(const std::u16string& name) { return name.find_first_of(u"?*") != std::u16string::npos; }

// The separator the user wrote last, so that the paths the search builds
// read as the user's own; the platform's where the user wrote none.
char16_t SeparatorIn(const std::u16string& path) {
    const std::size_t i = FindLastDelimiter(kPathSeparators, path);
    return i == 0 ? kPathSeparator : path[i - 1];
}

// The files step of one folder: the modules the mask matches, or the one
// file a literal name names there.
bool ProcessFiles(const std::u16string& mask, bool literal, const std::u16string& searchFolder,
                  const std::u16string& tdsFile, const TModuleAction& action, int& processed, int& failed) {
    if (literal) {
        if (IsExistingFile(mask)) ProcessOneModule(mask, tdsFile, action, processed, failed);
        return true;
    }
    const char16_t separator = SeparatorIn(mask);
    return ForEachEntry(mask, searchFolder, [&](const FindEntry& entry) {
        if (!IsFolder(entry))
            ProcessOneModule(JoinPath(searchFolder, entry.FileName, separator), tdsFile, action, processed, failed);
    });
}

bool ProcessTree(const std::u16string& mask, bool literal, const std::u16string& tdsFile, bool recursive,
                 const TModuleAction& action, int& processed, int& failed) {
    processed = 0;
    failed = 0;
    const std::u16string searchFolder = ExtractFolderPart(mask);
    const bool result = ProcessFiles(mask, literal, searchFolder, tdsFile, action, processed, failed);
    if (!recursive) return result;

    const std::u16string namePattern = ExtractNamePart(mask);
    const char16_t separator = SeparatorIn(mask);
    bool subfoldersOk = true;
    const bool listed =
        ForEachEntry(JoinPath(searchFolder, u"*", separator), searchFolder, [&](const FindEntry& entry) {
            if (!IsFolder(entry) || IsLinkedFolder(entry) || entry.FileName == u"." || entry.FileName == u"..") return;
            int subProcessed = 0;
            int subFailed = 0;
            const std::u16string subMask =
                JoinPath(JoinPath(searchFolder, entry.FileName, separator), namePattern, separator);
            if (!ProcessTree(subMask, literal, tdsFile, true, action, subProcessed, subFailed)) subfoldersOk = false;
            processed += subProcessed;
            failed += subFailed;
        });
    return result && listed && subfoldersOk;
}

}  // namespace

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name, char16_t separator) {
    if (folder.empty()) return name;
    const std::u16string_view delimiters(kFolderDelimiters);
    if (delimiters.find(folder.back()) != std::u16string_view::npos) return folder + name;
    return folder + separator + name;
}

bool IsShellExpandedName(const std::u16string& name) {
    return kShellExpandsWildcards && HasWildcard(name) && IsExistingFile(name);
}

bool IsMask(const std::u16string& name) { return HasWildcard(name) && !IsShellExpandedName(name); }

bool ProcessModules(const std::u16string& mask, const std::u16string& tdsFile, bool recursive,
                    const TModuleAction& action, int& processed, int& failed) {
    return ProcessTree(mask, IsShellExpandedName(mask), tdsFile, recursive, action, processed, failed);
}
