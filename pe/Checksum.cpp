// The PE image checksum of a module file, through the platform seam.
#include "kvPEFileUtils.h"

std::uint32_t ComputeChecksum(const WideString& path, std::uint32_t& headerSum, std::uint32_t& checkSum) {
    return MapFileAndCheckSumByPath(path, &headerSum, &checkSum);
}
