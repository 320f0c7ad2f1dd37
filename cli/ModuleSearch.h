// The batch run: finds the modules a mask names (optionally in every
// subfolder, depth first), extracts each one and prints one line per module.
#pragma once

#include <functional>
#include <string>

#include "SysApi.h"

// Joins a folder part and a name with one separator, adding none when the
// folder is empty or already ends with a folder delimiter (a root).
std::u16string JoinPath(const std::u16string& folder, const std::u16string& name, char16_t separator = kPathSeparator);

// Where the shell expands masks, a name that holds "*" or "?" and names an
// existing file was handed over by the shell: it is that file, in the start
// folder and, with the subfolder search, in every subfolder; never a mask.
bool IsShellExpandedName(const std::u16string& name);
// True when name is searched as a mask: it holds a wildcard and is no
// file name the shell handed over.
bool IsMask(const std::u16string& name);

// What the batch run does with one module and its .tds path: true on
// success; message is the text of the module's line either way.
using TModuleAction =
    std::function<bool(const std::u16string& modulePath, const std::u16string& tdsPath, std::u16string& message)>;

// Runs action on every module the mask names, the .tds path being tdsFile
// or, when that is empty, the module's path with the extension ".tds".
// False when a folder search failed with an error other than "no more
// files" or "file not found", here or in a subfolder; the counts are valid
// either way.
bool ProcessModules(const std::u16string& mask, const std::u16string& tdsFile, bool recursive,
                    const TModuleAction& action, int& processed, int& failed);
