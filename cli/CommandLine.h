// The switches and positional arguments of the tool.
#pragma once

#include <string>

// Reads the arguments (switches -r and -w before the module argument, then
// the module mask and an optional .tds path). False for an invalid command
// line: no module argument, or more than two positional arguments.
bool ParseCommandLine(bool& recursive, bool& overwrite, std::u16string& moduleMask, std::u16string& tdsFile);
