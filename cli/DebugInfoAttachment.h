// Puts the TD32 debug block of a .tds file back into its module, as the
// linker lays it out: a last section ".debug" whose raw data is a debug
// directory entry naming the block, 4 zero bytes and the block, with data
// directory 6 naming the entry.
#pragma once

#include <cstdint>
#include <string>

// True on success: the module carries the block again; the .tds file is
// kept either way. On failure errorText holds one message, and the module
// is as it was unless the message says otherwise.
bool AttachDebugInfo(const std::u16string& modulePath, const std::u16string& tdsPath, std::u16string& errorText);

// Runs every check of AttachDebugInfo and changes no file: true, with the
// block's size, when the block would be attached.
bool CheckAttachDebugInfo(const std::u16string& modulePath, const std::u16string& tdsPath, std::uint32_t& blockSize,
                          std::u16string& errorText);
