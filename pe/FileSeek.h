// Positioning a file and reading its size through the 64-bit forms of
// SetFilePointer and GetFileSize.
#pragma once

#include <cstdint>

#include "SysApi.h"

// False only when the call reports failure (0xFFFFFFFF with a last error).
bool SeekFile(SysHandle handle, std::uint32_t moveMethod, std::int64_t distance);
// False only when the call reports failure (0xFFFFFFFF with a last error).
bool GetFileSize64(SysHandle handle, std::uint64_t& size);
