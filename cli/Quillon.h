// The program entry of the console tool: banner, help or command line,
// the batch run, the summary and the exit code.
#pragma once

// Exit codes.
constexpr int kExitAllDone = 0;
constexpr int kExitNothingFound = 1;
constexpr int kExitSomeFailed = 2;
constexpr int kExitAllFailed = 3;
constexpr int kExitSearchError = 4;
constexpr int kExitBadCommandLine = 5;

// Runs the tool on the process's arguments and returns the exit code.
int RunQuillon();
// Says that the command line is invalid, shows the usage, and returns the
// exit code for it.
int RejectCommandLine();
