// Section raw data, loaded on first use, and the debug directory entries
// that live inside it.
#include <cstring>

#include "kvPEFileUtils.h"
#include "uMsg_kvPEFileUtils.h"

using namespace uMsg_kvPEFileUtils;

namespace {

constexpr std::size_t kDebugDirectory = 6;
constexpr std::uint32_t kDebugEntrySize = TImageDebugDirectory::kSize;

}  // namespace

TImageSectionHeader& TkvPEFileUtils::SectionAt(std::int32_t index) { return Sections[static_cast<std::size_t>(index)]; }

bool TkvPEFileUtils::LoadSectionData(std::int32_t index, std::uint8_t*& data) {
    RequireModule();
    if (index < 0 || index >= GetSectionCount()) {
        throw Exception();
    }
    LastOSError = 0;
    LastErrorText.clear();
    data = nullptr;
    auto& slot = SectionData[static_cast<std::size_t>(index)];
    std::uint32_t const size = SectionAt(index).SizeOfRawData;
    if (!slot && size != 0 && FeedOf(static_cast<std::size_t>(index)) != nullptr) {
        std::vector<std::uint8_t> buffer(size);
        SysSetLastError(0);
        if (!(*FeedOf(static_cast<std::size_t>(index)))(0, buffer.data(), size)) {
            SetOSErrorOr(sys::kErrorReadFault);
            return false;
        }
        slot = std::move(buffer);
    } else if (!slot && size != 0) {
        auto const& source = SectionsAsRead[static_cast<std::size_t>(SectionSources[static_cast<std::size_t>(index)])];
        // Raw data that is not wholly in the file cannot be loaded; checked
        // before anything is allocated.
        if (source.PointerToRawData == 0 || std::uint64_t{source.PointerToRawData} + size > ModuleSize) {
            SetError(SInvalidPEFile);
            return false;
        }
        std::vector<std::uint8_t> buffer(size);
        if (!ReadFileData(buffer.data(), size, source.PointerToRawData, false)) {
            if (LastOSError == 0) {
                SetError(SFailedToReadModule);
            }
            return false;
        }
        slot = std::move(buffer);
        SectionSources[static_cast<std::size_t>(index)] = -1;
    }
    if (slot) {
        data = slot->data();
    }
    return true;
}

bool TkvPEFileUtils::ReadSectionData(std::int32_t index, std::uint32_t offset, void* buffer, std::uint32_t size) {
    RequireModule();
    if (index >= GetSectionCount() || index < 0) {
        throw Exception();
    }
    if (std::uint64_t{offset} + size > SectionAt(index).SizeOfRawData) {
        throw Exception();
    }
    std::uint8_t* data = nullptr;
    if (!LoadSectionData(index, data)) {
        return false;
    }
    if (size != 0) {
        std::memcpy(buffer, data + offset, size);
    }
    return true;
}

bool TkvPEFileUtils::WriteSectionData(std::int32_t index, std::uint32_t offset, const void* source,
                                      std::uint32_t size) {
    RequireWritable();
    if (index >= GetSectionCount()) {
        throw Exception(std::u16string(SInvalidParameters));
    }
    if (index < 0 || std::uint64_t{offset} + size > SectionAt(index).SizeOfRawData) {
        throw Exception();
    }
    std::uint8_t* data = nullptr;
    if (!LoadSectionData(index, data)) {
        return false;
    }
    if (size != 0) {
        std::memcpy(data + offset, source, size);
    }
    Modified = true;
    return true;
}

std::int32_t TkvPEFileUtils::FindSectionByRva(std::uint32_t rva) const {
    RequireModule();
    for (std::size_t i = 0; i < Sections.size(); ++i) {
        auto const& section = Sections[i];
        if (section.VirtualAddress <= rva && rva < std::uint64_t{section.VirtualAddress} + section.MappedSize()) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

// A Size that is a multiple of 28 counts bytes; a Size below 28 counts
// entries. The whole directory must lie in one section.
std::int32_t TkvPEFileUtils::GetDebugDirectoryCount() {
    RequireModule();
    if (DataDirectories.size() <= kDebugDirectory || DataDirectories[kDebugDirectory].Size == 0) {
        return 0;
    }
    auto const [rva, size] = DataDirectories[kDebugDirectory];
    std::uint32_t count = 0;
    if (size % kDebugEntrySize == 0) {
        count = size / kDebugEntrySize;
    } else if (size < kDebugEntrySize) {
        count = size;
    } else {
        SetError(SInvalidPEFile);
        return -1;
    }
    std::int32_t const section = FindSectionByRva(rva);
    std::uint64_t const last = std::uint64_t{rva} + std::uint64_t{count} * kDebugEntrySize - 1;
    if (section == -1 || last > 0xFFFFFFFFu || FindSectionByRva(static_cast<std::uint32_t>(last)) != section) {
        SetError(SInvalidPEFile);
        return -1;
    }
    return static_cast<std::int32_t>(count);
}

// Finds the section and the raw-data offset of debug directory entry index.
// An entry that the section's raw data does not hold is a fault of the
// file, reported like a directory in no section.
bool TkvPEFileUtils::DebugEntryOffset(std::int32_t index, std::int32_t& section, std::uint32_t& offset) {
    if (index < 0) {
        throw Exception();
    }
    std::uint32_t const rva = GetDataDirectory(static_cast<std::int32_t>(kDebugDirectory)).RVA;
    section = FindSectionByRva(rva);
    if (section == -1) {
        SetError(SInvalidPEFile);
        return false;
    }
    std::uint64_t const at =
        std::uint64_t{rva} - SectionAt(section).VirtualAddress + std::uint64_t{kDebugEntrySize} * index;
    if (at + kDebugEntrySize > SectionAt(section).SizeOfRawData) {
        SetError(SInvalidPEFile);
        return false;
    }
    offset = static_cast<std::uint32_t>(at);
    return true;
}

bool TkvPEFileUtils::ReadDebugDirectoryEntry(std::int32_t index, TImageDebugDirectory& entry) {
    RequireModule();
    std::int32_t section = -1;
    std::uint32_t offset = 0;
    std::array<std::uint8_t, kDebugEntrySize> bytes{};
    if (!DebugEntryOffset(index, section, offset) || !ReadSectionData(section, offset, bytes.data(), kDebugEntrySize)) {
        return false;
    }
    entry = TImageDebugDirectory::Read(bytes);
    return true;
}

bool TkvPEFileUtils::WriteDebugDirectoryEntry(std::int32_t index, const TImageDebugDirectory& entry) {
    RequireWritable();
    std::int32_t section = -1;
    std::uint32_t offset = 0;
    if (!DebugEntryOffset(index, section, offset)) {
        return false;
    }
    auto const bytes = entry.ToBytes();
    return WriteSectionData(section, offset, bytes.data(), kDebugEntrySize);
}
