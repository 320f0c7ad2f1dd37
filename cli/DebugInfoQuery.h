// -l and -i: reading the TD32 debug information that the tool moves, to
// turn a crash address into a procedure and a source line, or to list it.
#pragma once

#include "CommandLine.h"

// True when the command line asks for -l or -i.
bool IsDebugInfoQuery(const TRunSettings& settings);
// False when -l or -i come with another switch or the wrong arguments: -i
// takes one path; -l a module or TDS file, then optionally a TDS file, then
// at least one address (that each is an address, RunDebugInfoQuery checks
// as it reads them once: there may be a great many). True for any other
// command line.
bool IsValidDebugInfoQuery(const TRunSettings& settings);
// Runs -l or -i and returns the exit code: 0 when the debug information was
// read, 3 when it could not be (the path's line says why), and 5, before
// anything is read, with the command line rejected, when an address of -l
// is not one.
int RunDebugInfoQuery(const TRunSettings& settings);
