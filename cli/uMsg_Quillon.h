// The console tool's own texts.
#pragma once

#include <string_view>

namespace msg {

inline constexpr std::u16string_view Banner =
    u"Korvane TDS Debug Info Processor\n\r"
    u"Copyright (c) 2026 Korvane. All rights reserved.\n\r";
inline constexpr std::u16string_view HelpLead =
    u"Use this tool to remove TDS debug info from a module and save it to a file.";
inline constexpr std::u16string_view InvalidCommandLine = u"Invalid command-line parameters.\r\n";
inline constexpr std::u16string_view NoModulesFound = u"No modules were found.";
inline constexpr std::u16string_view Summary = u"%d module(s) processed, %d module(s) failed.";
inline constexpr std::u16string_view UsageText =
    u"Command line format:\r\n\n\r"
    u"Syntax: Quillon [-r] [-w] module [TDS_file]\n\r\n\r"
    u"    module - the path to the module(s) from which debug info will be extracted. "
    u"The path can contain wildcards.\r\n"
    u"    TDS_file - the path to the file to which debug info will be saved. If it is not "
    u"specified, TD32 debug info is saved to the file whose name coincides with the module's "
    u"name, but has the .TDS extension. If the <module> parameter contains wildcards or the -r "
    u"switch is specified, this parameter is ignored.\n\r"
    u"    -r - if this switch is specified, modules are searched for in all subfolders "
    u"recursively.\r\n"
    u"    -w - allows you to overwrite files.\r\n"
    u"    -n - lists what would be done without changing any file.\r\n";

// Batch run.
inline constexpr std::u16string_view Done = u"done.";
// List mode: %d the block size in bytes, %s the .tds path.
inline constexpr std::u16string_view WouldMove = u"%d bytes of TD32 debug info would move to \"%s\".";
inline constexpr std::u16string_view SearchError = u"An error occurred while searching in the following folder: %s";

// Extraction.
inline constexpr std::u16string_view TdsExists =
    u"unable to create a TDS file, because the \"%s\" file already exists.";
inline constexpr std::u16string_view TdsCreateFailed = u"unable to create the \"%s\" file.";
inline constexpr std::u16string_view TdsWriteFailed = u"failed to write data to the TDS file.";
inline constexpr std::u16string_view BadDebugInfo =
    u"the module does not contain TD32 debug info or has an invalid or unknown debug info format.";
inline constexpr std::u16string_view UnknownError = u"unknown error.";
inline constexpr std::u16string_view TdsIsTheModule =
    u"unable to create a TDS file, because the \"%s\" file is the module itself.";
inline constexpr std::u16string_view TdsIsAModule =
    u"unable to create a TDS file, because the \"%s\" file is a module and cannot be replaced.";
// Follows the editor's text when a failed write-back may have changed the
// module: the block is safe in the .tds file.
inline constexpr std::u16string_view DebugInfoKept = u"The debug information was saved to the \"%s\" file.";

// Uncaught exception.
inline constexpr std::u16string_view OutOfMemory = u"Out of memory.";

}  // namespace msg
