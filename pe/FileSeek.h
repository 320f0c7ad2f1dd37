// Positioning a file through the 64-bit form of SetFilePointer.
#pragma once

#include <cstdint>

#include "SysApi.h"

// False only when the call reports failure (0xFFFFFFFF with a last error).
bool SeekFile(SysHandle handle, std::uint32_t moveMethod, std::int64_t distance);
