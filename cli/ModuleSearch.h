// The batch run: finds the modules a mask names (optionally in every
// subfolder, depth first), extracts each one and prints one line per module.
#pragma once

#include <string>

// Joins a folder part and a name with one separator, adding none when the
// folder is empty or already ends with a folder delimiter (a root).
std::u16string JoinPath(const std::u16string& folder, const std::u16string& name);

// False when a folder search failed with an error other than "no more
// files" or "file not found", here or in a subfolder; the counts are valid
// either way.
bool ProcessModules(const std::u16string& mask, const std::u16string& tdsFile, bool recursive, bool overwrite,
                    int& processed, int& failed);
