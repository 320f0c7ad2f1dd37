// Error state, read-only queries and small helpers of the editor.
#include "kvPEFileUtils.h"
#include "uMsg_kvPEFileUtils.h"

using namespace uMsg_kvPEFileUtils;

ENoModuleOpened::ENoModuleOpened() : Exception(std::u16string(SNoModuleOpened)) {}

EOpenedAsReadOnly::EOpenedAsReadOnly() : Exception(std::u16string(SOpenedAsReadOnly)) {}

TkvPEFileUtils::~TkvPEFileUtils() { Close(false); }

void TkvPEFileUtils::RequireModule() const {
    if (FileName.empty()) {
        throw ENoModuleOpened();
    }
}

void TkvPEFileUtils::RequireWritable() const {
    RequireModule();
    if (ReadOnly) {
        throw EOpenedAsReadOnly();
    }
}

void TkvPEFileUtils::SetError(std::u16string_view text) { LastErrorText = text; }

void TkvPEFileUtils::SetOSErrorOr(std::uint32_t fallbackCode) {
    LastOSError = SysGetLastError();
    if (LastOSError == 0) {
        LastOSError = fallbackCode;
    }
}

WideString TkvPEFileUtils::GetLastErrorText() const {
    return LastOSError != 0 ? OSErrorText(LastOSError) : LastErrorText;
}

std::uint32_t TkvPEFileUtils::GetModuleSize() const {
    RequireModule();
    return ModuleSize;
}

bool TkvPEFileUtils::IsPE32Plus() const {
    RequireModule();
    return OptionalHeaderMagic == TImageOptionalHeader64::kMagic;
}

std::uint32_t TkvPEFileUtils::GetFileAlignment() const {
    return IsPE32Plus() ? OptionalHeader64.FileAlignment : OptionalHeader32.FileAlignment;
}

std::uint32_t TkvPEFileUtils::GetSectionAlignment() const {
    return IsPE32Plus() ? OptionalHeader64.SectionAlignment : OptionalHeader32.SectionAlignment;
}

std::uint64_t TkvPEFileUtils::GetImageBase() const {
    return IsPE32Plus() ? OptionalHeader64.ImageBase : OptionalHeader32.ImageBase;
}

std::uint32_t TkvPEFileUtils::GetSizeOfImage() const {
    return IsPE32Plus() ? OptionalHeader64.SizeOfImage : OptionalHeader32.SizeOfImage;
}

std::int32_t TkvPEFileUtils::GetDataDirectoryCount() const {
    RequireModule();
    return static_cast<std::int32_t>(DataDirectories.size());
}

TImageDataDirectory TkvPEFileUtils::GetDataDirectory(std::int32_t index) const {
    RequireModule();
    if (index < 0 || static_cast<std::size_t>(index) >= DataDirectories.size()) {
        throw Exception();
    }
    return DataDirectories[static_cast<std::size_t>(index)];
}

std::int32_t TkvPEFileUtils::GetSectionCount() const {
    RequireModule();
    return static_cast<std::int32_t>(Sections.size());
}

TImageSectionHeader TkvPEFileUtils::GetSectionHeader(std::int32_t index) const {
    RequireModule();
    if (index < 0 || static_cast<std::size_t>(index) >= Sections.size()) {
        throw Exception();
    }
    return Sections[static_cast<std::size_t>(index)];
}

std::string TkvPEFileUtils::GetSectionName(std::int32_t index) const {
    return SectionNameToText(GetSectionHeader(index).Name);
}

bool TkvPEFileUtils::IsPowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

std::uint32_t TkvPEFileUtils::AlignUp(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}

std::string TkvPEFileUtils::SectionNameToText(const std::array<std::uint8_t, 8>& name) {
    std::string text;
    for (std::uint8_t const c : name) {
        if (c == 0) {
            break;
        }
        text.push_back(static_cast<char>(c));
    }
    return text;
}
