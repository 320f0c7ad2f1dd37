// Bringing the file offsets held in the headers in line with the layout
// map: region offsets go into the section headers, the certificate entry,
// the symbol table pointer and the trailing-data offset, and every file
// pointer into a moved region follows its region.
#include "kvPEFileUtils.h"

namespace {

constexpr std::size_t kCertificateDirectory = 4;

}  // namespace

bool TkvPEFileUtils::UpdateFileOffsets() {
    std::vector<TFileOffsetRef> refs;
    if (LayoutChanged && !CollectFileOffsetRefs(refs)) {
        return false;
    }
    MoveHeaderOffsets(refs);
    LayoutChanged = false;
    return ApplyFileOffsetRefs(refs);
}

bool TkvPEFileUtils::CollectFileOffsetRefs(std::vector<TFileOffsetRef>& refs) {
    if (FileHeader.NumberOfSymbols != 0) {
        refs.push_back({FileHeader.PointerToSymbolTable, rkSymbolTable, 0, 0});
    }
    if (DataDirectories.size() > kCertificateDirectory && DataDirectories[kCertificateDirectory].Size != 0) {
        refs.push_back({DataDirectories[kCertificateDirectory].RVA, rkCertificates, 0, 0});
    }
    for (std::size_t i = 0; i < Sections.size(); ++i) {
        if (Sections[i].NumberOfLinenumbers != 0) {
            refs.push_back({Sections[i].PointerToLinenumbers, rkLineNumbers, static_cast<std::int32_t>(i), 0});
        }
    }
    std::int32_t const count = GetDebugDirectoryCount();
    if (count < 0) {
        return false;
    }
    for (std::int32_t j = 0; j < count; ++j) {
        TImageDebugDirectory entry;
        if (!ReadDebugDirectoryEntry(j, entry)) {
            return false;
        }
        if (entry.SizeOfData != 0) {
            refs.push_back({entry.PointerToRawData, rkDebugData, j, 0});
        }
    }
    return true;
}

// Every reference into [oldStart, oldStart + size) moves with the block.
void TkvPEFileUtils::RebaseRefs(std::vector<TFileOffsetRef>& refs, std::uint32_t oldStart, std::uint32_t size,
                                std::uint32_t newStart) const {
    std::uint32_t const delta = newStart - oldStart;
    for (auto& ref : refs) {
        if (oldStart <= ref.OldOffset && ref.OldOffset < std::uint64_t{oldStart} + size) {
            ref.NewOffset = ref.OldOffset + delta;
        }
    }
}

void TkvPEFileUtils::MoveHeaderOffsets(std::vector<TFileOffsetRef>& refs) {
    for (auto const& region : OffsetsMap) {
        if (region.Kind == ekSection) {
            for (std::size_t j = 0; j < Sections.size(); ++j) {
                if (SectionIds[j] == region.SectionId) {
                    RebaseRefs(refs, Sections[j].PointerToRawData, Sections[j].SizeOfRawData, region.Offset);
                    Sections[j].PointerToRawData = region.Offset;
                    break;
                }
            }
        } else if (region.Kind == ekCertificates && DataDirectories.size() > kCertificateDirectory) {
            auto& certificates = DataDirectories[kCertificateDirectory];
            RebaseRefs(refs, certificates.RVA, certificates.Size, region.Offset);
            certificates.RVA = region.Offset;
        } else if (region.Kind == ekOverlay) {
            RebaseRefs(refs, OverlayNewOffset, OverlaySize, region.Offset);
            OverlayNewOffset = region.Offset;
        } else if (region.Kind == ekSymbolTable) {
            RebaseRefs(refs, FileHeader.PointerToSymbolTable, SymbolTableSize, region.Offset);
            FileHeader.PointerToSymbolTable = region.Offset;
        }
    }
}

bool TkvPEFileUtils::ApplyFileOffsetRefs(const std::vector<TFileOffsetRef>& refs) {
    for (auto const& ref : refs) {
        if (ref.NewOffset == 0 || ref.NewOffset == ref.OldOffset) {
            continue;
        }
        switch (ref.RefKind) {
            case rkSymbolTable:
                FileHeader.PointerToSymbolTable = ref.NewOffset;
                break;
            case rkLineNumbers:
                Sections[static_cast<std::size_t>(ref.OwnerIndex)].PointerToLinenumbers = ref.NewOffset;
                break;
            case rkCertificates:
                DataDirectories[kCertificateDirectory].RVA = ref.NewOffset;
                break;
            case rkDebugData: {
                TImageDebugDirectory entry;
                if (!ReadDebugDirectoryEntry(ref.OwnerIndex, entry)) {
                    return false;
                }
                entry.PointerToRawData = ref.NewOffset;
                if (!WriteDebugDirectoryEntry(ref.OwnerIndex, entry)) {
                    return false;
                }
                break;
            }
            default:
                break;
        }
    }
    return true;
}
