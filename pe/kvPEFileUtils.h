// TkvPEFileUtils: edits one PE32 or PE32+ module file in place. Open reads
// and checks the headers, the data directories and the section table and
// builds a layout map of the movable file regions; the model is then read
// and changed in memory; Close(true) writes it back into the same file with
// fresh SizeOfHeaders, SizeOfImage and checksum.
//
// Misuse (no module open, a change on a read-only module, a bad index)
// raises an exception. Failures of the file or its format return false (or
// -1) and leave a reason for GetLastErrorText.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Exception.h"
#include "PeRecords.h"
#include "SysApi.h"

class ENoModuleOpened : public Exception {
public:
    ENoModuleOpened();
};

class EOpenedAsReadOnly : public Exception {
public:
    EOpenedAsReadOnly();
};

// What a layout map region holds.
enum TOffsetsMapEntryKind : std::uint8_t {
    ekDataDirectories = 0,
    ekSectionTable = 1,
    ekSection = 2,
    ekCertificates = 3,
    ekOverlay = 4,
    ekSymbolTable = 5,
};

// One region of the module file in the layout map.
struct TOffsetsMapEntry {
    std::uint32_t Offset = 0;
    std::uint32_t Size = 0;
    std::uint32_t Alignment = 1;
    std::uint8_t Kind = ekDataDirectories;
    std::string Name;  // a section region's name; empty for other kinds
    // The section that owns an ekSection region, by its index in the table
    // as opened; -1 for other kinds. Regions and sections are paired by this
    // identity, so sections with equal names stay apart.
    std::int32_t SectionId = -1;
};

// A file pointer held in the headers, collected while file offsets are
// brought in line with the layout map.
enum TFileOffsetRefKind : std::uint8_t {
    rkSymbolTable = 0,
    rkLineNumbers = 1,
    rkCertificates = 2,
    rkDebugData = 4,
};

// Fills buffer with size bytes of an added section's raw data, starting at
// offset within the section: the data is asked for piece by piece when the
// module is written back, so it never has to be held whole. False, with
// the system's last error set when it has one, when the bytes cannot be had.
using TSectionDataSource = std::function<bool(std::uint32_t offset, void* buffer, std::uint32_t size)>;

// The pieces in which large data is copied: memory stays bounded for data
// of any size, and a piece that fits in the processor's caches is not
// carried through main memory twice more (measured here: 64 KiB to 1 MiB
// copy at the speed of a plain pread/write loop, 4 MiB pieces at half).
constexpr std::uint32_t kCopyChunkSize = 128u << 10;

struct TFileOffsetRef {
    std::uint32_t OldOffset = 0;
    std::uint8_t RefKind = rkSymbolTable;
    std::int32_t OwnerIndex = 0;
    std::uint32_t NewOffset = 0;  // 0: not rebased
};

class TkvPEFileUtils {
public:
    TkvPEFileUtils() = default;
    virtual ~TkvPEFileUtils();
    TkvPEFileUtils(const TkvPEFileUtils&) = delete;
    TkvPEFileUtils& operator=(const TkvPEFileUtils&) = delete;

    // ---- Opening, closing, error state
    bool Open(const WideString& fileName, bool readOnly);
    bool Close(bool applyChanges);
    WideString GetLastErrorText() const;
    // True when the last Close(true) issued any write, truncation or
    // checksum store to the module file, whether or not it succeeded; false
    // when it left the file untouched. Cleared by Open.
    bool WriteStarted() const { return WriteStartedFlag; }
    // Runs every check and read that Close(true) makes before its first
    // write, and nothing else: false, with the reason, when the write-back
    // would be refused. Raises as the changing operations do.
    bool CheckWriteBack();

    // ---- Queries
    std::uint32_t GetModuleSize() const;
    bool IsPE32Plus() const;
    std::uint32_t GetFileAlignment() const;
    std::uint32_t GetSectionAlignment() const;
    // ImageBase and SizeOfImage as the headers state them.
    std::uint64_t GetImageBase() const;
    std::uint32_t GetSizeOfImage() const;
    std::int32_t GetDataDirectoryCount() const;
    TImageDataDirectory GetDataDirectory(std::int32_t index) const;
    std::int32_t GetSectionCount() const;
    TImageSectionHeader GetSectionHeader(std::int32_t index) const;
    std::string GetSectionName(std::int32_t index) const;
    // Offset + Size of the last layout region: the length of the module as
    // it will be written.
    std::uint32_t GetLayoutEnd() const;

    // ---- File and section data, debug directory
    bool ReadFileData(void* buffer, std::uint32_t size, std::int64_t offset, bool fromEnd);
    bool ReadSectionData(std::int32_t index, std::uint32_t offset, void* buffer, std::uint32_t size);
    bool WriteSectionData(std::int32_t index, std::uint32_t offset, const void* source, std::uint32_t size);
    std::int32_t FindSectionByRva(std::uint32_t rva) const;
    std::int32_t GetDebugDirectoryCount();
    bool ReadDebugDirectoryEntry(std::int32_t index, TImageDebugDirectory& entry);
    bool WriteDebugDirectoryEntry(std::int32_t index, const TImageDebugDirectory& entry);

    // ---- Structure changes
    bool RemoveSection(std::int32_t index);
    // Appends a section whose raw data starts where the layout ends (the
    // header's PointerToRawData is set to that offset; its VirtualAddress
    // must follow the last section's, and SizeOfRawData, not 0, is the size
    // of the data that source gives). False, with the reason, when the
    // section table has no room for one more header before the first
    // section's data (bytes there other than zeros are taken), or the
    // module has data after its last section.
    bool AddSection(const TImageSectionHeader& header, TSectionDataSource source);
    bool SetDataDirectory(std::int32_t index, TImageDataDirectory entry);

    // ---- Helpers
    static bool IsPowerOfTwo(std::uint32_t value);
    static std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment);
    static std::string SectionNameToText(const std::array<std::uint8_t, 8>& name);

protected:
    // Internal operations; protected so that tests can drive them directly.
    void ResetState();
    bool LoadSectionData(std::int32_t index, std::uint8_t*& data);

    void BuildOffsetsMap();
    void AddOffsetsMapEntry(std::uint32_t offset, std::uint32_t size, std::uint32_t alignment, std::uint8_t kind,
                            const std::string& name, std::int32_t sectionId = -1);
    void ResizeOffsetsMapEntry(std::int32_t index, std::uint32_t newSize, bool compact);
    void MoveOffsetsMapEntries(std::int32_t index, std::uint32_t minOffset, bool compact);
    void DeleteOffsetsMapEntry(std::int32_t index, bool compact);
    std::int64_t FindOffsetsMapEntryOffset(std::uint8_t kind, const std::string& name) const;
    std::int64_t FindOffsetsMapEntrySize(std::uint8_t kind, const std::string& name) const;

    void DeleteSectionEntry(std::int32_t index);
    bool UpdateFileOffsets();

    // ---- Model
    std::uint32_t LastOSError = 0;
    WideString LastErrorText;
    SysHandle FileHandle = kInvalidHandle;
    WideString FileName;  // empty: no module open
    bool ReadOnly = false;
    std::uint32_t ModuleSize = 0;
    bool Modified = false;
    TImageFileHeader FileHeader;
    std::uint16_t OptionalHeaderMagic = 0;
    TImageOptionalHeader32 OptionalHeader32;
    TImageOptionalHeader64 OptionalHeader64;
    std::vector<TImageDataDirectory> DataDirectories;
    std::vector<TImageSectionHeader> SectionsAsRead;
    std::vector<TImageSectionHeader> Sections;
    std::vector<std::int32_t> SectionSources;  // index into SectionsAsRead, -1 once loaded
    std::vector<std::optional<std::vector<std::uint8_t>>> SectionData;
    std::vector<std::int32_t> SectionIds;  // per current section: its index in the table as opened
    // The sources of added sections that are not loaded, by section identity.
    std::map<std::int32_t, TSectionDataSource> SectionFeeds;
    // The end of the section table before sections were removed: the
    // headers freed there are cleared when the module is written back.
    std::uint32_t FreedTableEnd = 0;
    // The end of the section table as opened: the headers as the file
    // holds them end there, and the room behind may hold other data.
    std::uint32_t TableEndAsOpened = 0;
    std::uint32_t FileHeaderOffset = 0;
    std::uint32_t CertificateOffset = 0;
    std::optional<std::vector<std::uint8_t>> CertificateData;
    std::uint32_t CertificateSize = 0;
    std::optional<std::vector<std::uint8_t>> OverlayData;
    std::uint32_t OverlaySize = 0;
    std::uint32_t OverlayOffset = 0;
    std::uint32_t OverlayNewOffset = 0;
    // The COFF symbol table with its string table, when it lies between
    // section raw data and so has a region of its own.
    std::uint32_t SymbolTableOffset = 0;
    std::uint32_t SymbolTableSize = 0;
    std::optional<std::vector<std::uint8_t>> SymbolTableData;
    // The symbol table runs out of the gap it starts in: it cannot be kept.
    bool SymbolTableLoose = false;
    std::vector<TOffsetsMapEntry> OffsetsMap;
    bool LayoutChanged = false;
    // A map operation produced an offset or an end beyond 4 GiB.
    bool LayoutOverflow = false;
    bool WriteStartedFlag = false;

private:
    void RequireModule() const;
    void RequireWritable() const;
    void SetError(std::u16string_view text);
    void SetOSErrorOr(std::uint32_t fallbackCode);

    // Opening
    bool OpenModule(const WideString& fileName, bool readOnly);
    bool ReadHeaders();
    bool ReadOptionalHeader();
    bool ReadDirectoriesAndSections();
    bool ReadSectionTable();
    bool RecordCertificate();
    bool RecordSymbolTable();
    bool OverlapsRawData(std::uint64_t start, std::uint64_t end) const;
    bool CheckLayoutAtOpen();
    void FailOpen();
    std::int32_t FindSectionAsReadByOffset(std::uint32_t offset) const;
    std::uint64_t SectionDataEnd() const;
    std::uint64_t SectionTableStart() const;
    std::uint64_t HeadersEnd() const;
    bool ReadExact(void* buffer, std::uint32_t size);
    std::uint32_t OptionalHeaderSize() const;
    std::uint32_t NumberOfRvaAndSizesOfHeader() const;

    // Header area
    std::vector<std::pair<std::uint32_t, std::uint32_t>> HeaderAreaData() const;
    bool HeadersReachNamedData(std::uint64_t headersEnd) const;
    std::uint64_t HeaderRoomEnd() const;
    bool CheckHeaderRoom(std::uint64_t headersEnd, const TImageSectionHeader* adding, std::u16string_view taken);

    // Layout map
    std::uint32_t TrailingDataStart() const;
    void AddTrailingDataRegion();
    bool RegionsMatchHeaders() const;
    std::int32_t FindSectionRegion(std::int32_t sectionId) const;

    // Section data
    TImageSectionHeader& SectionAt(std::int32_t index);
    bool DebugEntryOffset(std::int32_t index, std::int32_t& section, std::uint32_t& offset);

    // File offset fix-up
    bool CollectFileOffsetRefs(std::vector<TFileOffsetRef>& refs);
    void RebaseRefs(std::vector<TFileOffsetRef>& refs, std::uint32_t oldStart, std::uint32_t size,
                    std::uint32_t newStart) const;
    void MoveHeaderOffsets(std::vector<TFileOffsetRef>& refs);
    bool ApplyFileOffsetRefs(const std::vector<TFileOffsetRef>& refs);
    void WidenDataDirectories();

    // Closing
    bool WriteBack();
    bool WriteBackChecks(std::uint32_t& headers, std::uint32_t& image);
    bool CheckLayoutForWriteBack();
    bool CheckUnmappedData();
    bool ReadBackMovedRegions();
    bool ReadBackSection(std::int32_t index);
    bool ReadBackBlock(std::optional<std::vector<std::uint8_t>>& target, std::uint32_t offset, std::uint32_t size);
    bool ReadBackRegion(std::uint8_t kind, std::optional<std::vector<std::uint8_t>>& target, std::uint32_t offset,
                        std::uint32_t size);
    bool WriteRegion(std::uint8_t kind, const std::optional<std::vector<std::uint8_t>>& data);
    bool ComputeSizes(std::uint32_t& headers, std::uint32_t& image);
    bool WriteModel();
    bool WriteHeaders();
    bool WriteSectionsData(bool beyondOldEnd);
    const TSectionDataSource* FeedOf(std::size_t index) const;
    bool WriteFedSection(std::size_t index);
    bool ClearFreedHeaders();
    bool WriteMovedBlocks();
    bool WriteAt(std::uint32_t offset, const void* data, std::uint32_t size);
    bool WriteExact(SysHandle handle, const void* data, std::uint32_t size);
    bool StoreChecksum();
    void FinishClose(bool result);

    SysHandle ChecksumHandle = kInvalidHandle;  // the second open that stores the checksum
};

// The PE image checksum of the file at path, through the platform's
// MapFileAndCheckSum: 0 on success, with headerSum the value stored in the
// file and checkSum the computed one.
std::uint32_t ComputeChecksum(const WideString& path, std::uint32_t& headerSum, std::uint32_t& checkSum);
