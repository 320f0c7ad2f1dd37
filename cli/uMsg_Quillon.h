// The console tool's own texts.
#pragma once

#include <string_view>

namespace msg {

inline constexpr std::u16string_view Banner =
    u"Korvane TDS Debug Info Processor\n\r"
    u"Version " QUILLON_VERSION ". Copyright (c) 2026 Korvane. All rights reserved.\n\r";
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
    u"    -n - lists what would be done without changing any file.\r\n"
    u"    -a - puts the debug info of the TDS file back into the module.\r\n"
    u"    -l - finds the procedure and source line of each address.\r\n"
    u"    -i - lists the TD32 debug info of a module or TDS file.\r\n";

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
inline constexpr std::u16string_view TdsNotReplaceable =
    u"unable to create a TDS file, because the \"%s\" file is not a TDS file and cannot be replaced.";
inline constexpr std::u16string_view TdsOfAnotherModule =
    u"unable to create a TDS file, because the \"%s\" file was created for another module in this run.";
inline constexpr std::u16string_view FolderFlushFailed =
    u"unable to flush the folder of the \"%s\" file: the file may not survive a power failure, so the module was "
    u"not changed.";
// Follows the editor's text when a failed write-back may have changed the
// module: the block is safe in the .tds file.
inline constexpr std::u16string_view DebugInfoKept = u"The debug information was saved to the \"%s\" file.";

// Attachment (-a).
inline constexpr std::u16string_view AlreadyHasDebugInfo = u"the module already contains TD32 debug info.";
inline constexpr std::u16string_view HasDebugDirectory = u"the module already has a debug directory.";
inline constexpr std::u16string_view IsSigned =
    u"the module is signed: attaching debug info would break its signature.";
inline constexpr std::u16string_view HasTrailingData = u"the module has data after its last section.";
inline constexpr std::u16string_view NoRoomForSection = u"the module's section table has no room for another section.";
inline constexpr std::u16string_view TdsMissing = u"the \"%s\" file does not exist.";
inline constexpr std::u16string_view TdsNotTd32 = u"the \"%s\" file does not contain TD32 debug info.";
inline constexpr std::u16string_view TdsReadFailed = u"unable to read the \"%s\" file.";
// %d the block size in bytes, %s the .tds path.
inline constexpr std::u16string_view WouldAttach =
    u"%d bytes of TD32 debug info would move from \"%s\" into the module.";
// Follows the editor's text when a failed write-back may have changed the
// module.
inline constexpr std::u16string_view DebugInfoStillInTds = u"The debug information is still in the \"%s\" file.";

// Reading the debug info (-l, -i).
inline constexpr std::u16string_view NoDebugInfo =
    u"the module does not contain TD32 debug info, and the \"%s\" file does not exist.";
inline constexpr std::u16string_view NotModuleOrTds = u"the file is neither a module nor a TDS file.";
// %s the file that holds the block, %s the reader's reason.
inline constexpr std::u16string_view DamagedDebugInfo = u"the TD32 debug info in \"%s\" is damaged: %s";
// %s the path, then the block size and the four counts.
inline constexpr std::u16string_view DebugInfoSummary =
    u"%s: %d bytes of TD32 debug info: %d modules, %d source files, %d procedures, %d line entries.";
inline constexpr std::u16string_view NoProcedure = u"no procedure at this address.";
inline constexpr std::u16string_view ModuleNeeded = u"without the module only a segment:offset address can be mapped.";

// Uncaught exception.
inline constexpr std::u16string_view OutOfMemory = u"Out of memory.";

}  // namespace msg
