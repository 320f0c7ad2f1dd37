// Where the TD32 debug information of -l and -i comes from: the module's
// own block, a TDS file named with it, the .tds file beside it, or a TDS
// file alone. The file is mapped into memory, not copied, and read by the
// TD32 reader.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "SysApi.h"
#include "Td32DebugInfo.h"

// A whole file, open for reading and mapped into memory.
class TMappedFile {
public:
    TMappedFile() = default;
    TMappedFile(const TMappedFile&) = delete;
    TMappedFile& operator=(const TMappedFile&) = delete;
    ~TMappedFile();

    // False with the reason in the thread's last error.
    bool Open(const std::u16string& path);
    std::span<const std::uint8_t> Bytes() const { return {view_, static_cast<std::size_t>(size_)}; }
    void Close();

private:
    SysHandle handle_ = kInvalidHandle;
    const std::uint8_t* view_ = nullptr;
    std::uint64_t size_ = 0;
};

// What maps a module's addresses to segments: segment n is the n-th section.
struct TModuleLayout {
    std::uint64_t ImageBase = 0;
    std::uint32_t SizeOfImage = 0;
    std::vector<std::uint32_t> SectionAddresses;
};

class TDebugInfoSource {
public:
    // Reads the debug information for path, a module or a TDS file; with a
    // module, tdsPath (when not empty) names the TDS file to use. False with
    // the message for the path's line.
    bool Open(const std::u16string& path, const std::u16string& tdsPath, std::u16string& message);

    bool HasModule() const { return hasModule_; }
    const TModuleLayout& Layout() const { return layout_; }
    const TTd32DebugInfo& Info() const { return info_; }
    std::uint32_t BlockSize() const { return static_cast<std::uint32_t>(block_.size()); }

private:
    bool OpenModule(const std::u16string& path, const std::u16string& tdsPath, std::u16string& message);
    bool OpenTds(const std::u16string& path, std::u16string& message);
    bool ReadBlock(const std::u16string& path, std::u16string& message);

    TMappedFile file_;
    std::span<const std::uint8_t> block_;
    bool hasModule_ = false;
    TModuleLayout layout_;
    TTd32DebugInfo info_;
};
