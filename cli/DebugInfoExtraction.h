// Moves the TD32 debug block at the end of one module into a .tds file and
// rewrites the module without its ".debug" section.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// True when a 40-byte section header's name field is ".debug" followed by a
// zero byte (the eighth byte is not examined).
bool IsDebugSectionName(const std::array<std::uint8_t, 40>& sectionHeader);

// True on success: the .tds file holds the block and the module has been
// written back without it. On failure errorText holds one message; an
// existing .tds file is never destroyed by a module that fails its checks,
// the .tds path never holds part of a file, and the new .tds file is kept
// whenever the module no longer holds the block or an earlier file made
// room for it (the message then says so). tdsKept, when given, tells
// whether the file at tdsPath is this call's, after success or failure.
bool ExtractDebugInfo(const std::u16string& modulePath, const std::u16string& tdsPath, bool overwrite,
                      std::u16string& errorText, bool* tdsKept = nullptr);

// Runs every check of ExtractDebugInfo that comes before its first write and
// changes no file: true, with the block's size, when the extraction would be
// done; false with the message it would give.
bool CheckDebugInfo(const std::u16string& modulePath, const std::u16string& tdsPath, bool overwrite,
                    std::uint32_t& blockSize, std::u16string& errorText);

// True when the existing file at path opens as a PE module.
bool IsPeModule(const std::u16string& path);
