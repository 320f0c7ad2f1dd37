// Reading and writing the open module file.
#include "FileSeek.h"
#include "kvPEFileUtils.h"

bool SeekFile(SysHandle handle, std::uint32_t moveMethod, std::int64_t distance) {
    auto const bits = static_cast<std::uint64_t>(distance);
    auto high = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32));
    // A stale last error must not turn a position whose low part is
    // 0xFFFFFFFF into a failure.
    SysSetLastError(0);
    std::uint32_t const low =
        SysSetFilePointer(handle, static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)), &high, moveMethod);
    return !(low == 0xFFFFFFFFu && SysGetLastError() != 0);
}

bool GetFileSize64(SysHandle handle, std::uint64_t& size) {
    std::uint32_t high = 0;
    // As for SeekFile: a size whose low part is 0xFFFFFFFF is no failure.
    SysSetLastError(0);
    std::uint32_t const low = SysGetFileSize(handle, &high);
    size = std::uint64_t{high} << 32 | low;
    return !(low == 0xFFFFFFFFu && SysGetLastError() != 0);
}

bool TkvPEFileUtils::ReadExact(void* buffer, std::uint32_t size) {
    // A read that stops early at the end of the file sets no error; clear
    // the last one so that it is not taken for the reason.
    SysSetLastError(0);
    std::uint32_t read = 0;
    return SysReadFile(FileHandle, buffer, size, &read) && read == size;
}

bool TkvPEFileUtils::WriteExact(SysHandle handle, const void* data, std::uint32_t size) {
    WriteStartedFlag = true;
    std::uint32_t written = 0;
    if (SysWriteFile(handle, data, size, &written) && written == size) {
        return true;
    }
    SetOSErrorOr(sys::kErrorWriteFault);
    return false;
}

bool TkvPEFileUtils::WriteAt(std::uint32_t offset, const void* data, std::uint32_t size) {
    if (!SeekFile(FileHandle, sys::kFileBegin, offset)) {
        SetOSErrorOr(sys::kErrorWriteFault);
        return false;
    }
    return WriteExact(FileHandle, data, size);
}

bool TkvPEFileUtils::ReadFileData(void* buffer, std::uint32_t size, std::int64_t offset, bool fromEnd) {
    RequireModule();
    if (!SeekFile(FileHandle, fromEnd ? sys::kFileEnd : sys::kFileBegin, offset)) {
        LastOSError = SysGetLastError();
        return false;
    }
    if (ReadExact(buffer, size)) {
        return true;
    }
    LastOSError = SysGetLastError();
    return false;
}
