// The switches and positional arguments of the tool.
#pragma once

#include <string>
#include <vector>

struct TRunSettings {
    bool Recursive = false;  // -r
    bool Overwrite = false;  // -w
    bool ListOnly = false;   // -n
    bool Attach = false;     // -a
    bool Lookup = false;     // -l
    bool List = false;       // -i
    // The module argument, then the optional .tds path; where the shell
    // expands wildcards, any number of module names. With -l only the
    // module argument: what follows it, an optional TDS file and the
    // addresses, of which there may be a great many, is read where it is
    // used, from argument LookupFrom on.
    std::vector<std::u16string> Positional;
    int LookupFrom = 0;
};

// Reads the arguments: switches before the module argument, then the module
// mask and an optional .tds path (with -l, addresses follow). False for an
// invalid command line: no module argument, or more than two positional
// arguments where the program expands wildcards itself and -l is not given.
bool ParseCommandLine(TRunSettings& settings);
