// Replacing a data directory entry, widening the table to 16 entries when
// the entry does not exist yet.
#include "kvPEFileUtils.h"
#include "uMsg_kvPEFileUtils.h"

using namespace uMsg_kvPEFileUtils;

namespace {

constexpr std::size_t kFullDirectoryCount = 16;

}  // namespace

bool TkvPEFileUtils::SetDataDirectory(std::int32_t index, TImageDataDirectory entry) {
    RequireWritable();
    auto const at = static_cast<std::size_t>(index);
    if (index < 0 || (at >= DataDirectories.size() && at >= kFullDirectoryCount)) {
        throw Exception(std::u16string(SInvalidParameters));
    }
    bool result = true;
    if (at >= DataDirectories.size()) {
        WidenDataDirectories();
        result = UpdateFileOffsets();
        if (IsPE32Plus()) {
            OptionalHeader64.NumberOfRvaAndSizes = kFullDirectoryCount;
        } else {
            OptionalHeader32.NumberOfRvaAndSizes = kFullDirectoryCount;
        }
        // The optional header ends where the section table now starts: right
        // after the 16 directories, or where it was if they fit before it.
        FileHeader.SizeOfOptionalHeader =
            static_cast<std::uint16_t>(OffsetsMap[1].Offset - FileHeaderOffset - TImageFileHeader::kSize);
    }
    if (DataDirectories[at] != entry) {
        Modified = true;
        DataDirectories[at] = entry;
    }
    return result;
}

// The table grows in place; the section table behind it moves up, and any
// block it would now overlap is pushed on to its alignment.
void TkvPEFileUtils::WidenDataDirectories() {
    Modified = true;
    DataDirectories.resize(kFullDirectoryCount);
    ResizeOffsetsMapEntry(0, kFullDirectoryCount * TImageDataDirectory::kSize, false);
}
