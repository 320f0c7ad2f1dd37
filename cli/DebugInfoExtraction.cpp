#include "DebugInfoExtraction.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "SysApi.h"
#include "TdsInput.h"
#include "Td32Block.h"
#include "TextFormat.h"
#include "WideText.h"
#include "kvPEFileUtils.h"
#include "uMsg_Quillon.h"

namespace {

// A larger FileAlignment lets a write-back place raw data gigabytes away.
constexpr std::uint32_t kLargestFileAlignment = 0x10000;
// Names tried for the temporary file beside the .tds path.
constexpr int kTemporaryNames = 100;

// Where the block lies and what has to change in the module.
struct DebugBlock {
    std::uint32_t Start = 0;  // P
    std::uint32_t Size = 0;   // B
    int SectionIndex = -1;
    std::uint32_t DirectoryRva = 0;  // 0 when directory 6 is left as it is
    std::int32_t DirectoryEntries = 0;
};

enum class Check { Ok, EditorFailure, FormatFailure };

Check ReadWord(TkvPEFileUtils& editor, std::int64_t offset, bool fromEnd, std::uint32_t& value) {
    std::array<std::uint8_t, 4> bytes{};
    if (!editor.ReadFileData(bytes.data(), 4, offset, fromEnd)) return Check::EditorFailure;
    value = ReadLe32(bytes, 0);
    return Check::Ok;
}

// Index of the single ".debug" section: -1 when there is none, -2 when
// there are several.
int FindDebugSection(TkvPEFileUtils& editor) {
    int index = -1;
    for (int i = 0; i < editor.GetSectionCount(); ++i) {
        if (IsDebugSectionName(editor.GetSectionHeader(i).ToBytes())) index = index == -1 ? i : -2;
    }
    return index;
}

// The section holds the block, ends at the end of the file, is the last
// one, and the debug directory (when set) lies inside it.
bool BlockSitsInSection(TkvPEFileUtils& editor, DebugBlock& block) {
    // Removing the only section would leave a module that no loader accepts.
    if (block.SectionIndex < 1 || block.SectionIndex != editor.GetSectionCount() - 1 ||
        editor.GetFileAlignment() > kLargestFileAlignment)
        return false;
    const TImageSectionHeader section = editor.GetSectionHeader(block.SectionIndex);
    const std::uint64_t rawEnd = std::uint64_t{section.PointerToRawData} + section.SizeOfRawData;
    if (section.PointerToRawData > block.Start || rawEnd != editor.GetModuleSize()) return false;
    if (editor.GetDataDirectoryCount() <= kDebugDirectoryIndex) return true;
    const TImageDataDirectory directory = editor.GetDataDirectory(kDebugDirectoryIndex);
    block.DirectoryRva = directory.RVA;
    if (directory.RVA == 0) return true;
    // The editor's reading of the directory's Size, as its fix-ups use it.
    block.DirectoryEntries = editor.GetDebugDirectoryCount();
    const std::uint64_t directoryEnd =
        std::uint64_t{directory.RVA} + std::uint64_t{kDebugEntrySize} * block.DirectoryEntries;
    const std::uint64_t sectionEnd = std::uint64_t{section.VirtualAddress} + section.MappedSize();
    return block.DirectoryEntries >= 0 && section.VirtualAddress <= directory.RVA && directoryEnd <= sectionEnd;
}

// A debug directory entry that names the block and nothing else.
bool DescribesBlock(std::span<const std::uint8_t> bytes, const DebugBlock& block, std::uint32_t blockRva) {
    const TImageDebugDirectory entry = TImageDebugDirectory::Read(bytes);
    return entry.SizeOfData == block.Size && entry.PointerToRawData == block.Start &&
           (entry.AddressOfRawData == 0 || entry.AddressOfRawData == blockRva);
}

// Before the block the section may hold only debug directory entries that
// name the block, and zeros: anything else would be lost with the section.
// The entries are those of directory 6 or, where no directory names them,
// one at the section's start.
bool OnlyTheBlockInSection(TkvPEFileUtils& editor, const DebugBlock& block) {
    const TImageSectionHeader section = editor.GetSectionHeader(block.SectionIndex);
    const std::uint32_t before = block.Start - section.PointerToRawData;
    const std::uint32_t blockRva = section.VirtualAddress + before;
    const std::uint64_t entriesAt = block.DirectoryRva != 0 ? block.DirectoryRva - section.VirtualAddress : 0;
    const std::uint64_t entriesEnd = block.DirectoryRva != 0
                                         ? entriesAt + std::uint64_t{kDebugEntrySize} * block.DirectoryEntries
                                         : (before >= kDebugEntrySize ? kDebugEntrySize : 0);
    if (entriesEnd > before) return false;
    auto const buffer = std::make_unique_for_overwrite<std::uint8_t[]>(std::min(before, kCopyChunkSize));
    std::array<std::uint8_t, kDebugEntrySize> entry{};
    for (std::uint32_t done = 0; done < before;) {
        const std::uint32_t piece = std::min(before - done, kCopyChunkSize);
        if (!editor.ReadFileData(buffer.get(), piece, std::int64_t{section.PointerToRawData} + done, false))
            return false;
        for (std::uint32_t i = 0; i < piece; ++i) {
            const std::uint64_t at = done + i;
            if (at < entriesAt || at >= entriesEnd) {
                if (buffer[i] != 0) return false;
                continue;
            }
            entry[(at - entriesAt) % kDebugEntrySize] = buffer[i];
            if ((at - entriesAt) % kDebugEntrySize == kDebugEntrySize - 1 && !DescribesBlock(entry, block, blockRva)) {
                // Unnamed, the bytes at the start need not be an entry: zeros do.
                if (block.DirectoryRva != 0 || std::any_of(entry.begin(), entry.end(), [](auto b) { return b != 0; }))
                    return false;
            }
        }
        done += piece;
    }
    return true;
}

// Reads the trailer, the size word and the head signature, and finds the
// section that must hold the block.
Check LocateDebugBlock(TkvPEFileUtils& editor, DebugBlock& block) {
    std::uint32_t trailer = 0;
    if (ReadWord(editor, -8, true, trailer) != Check::Ok) return Check::EditorFailure;
    if (trailer != kTd32Signature) return Check::FormatFailure;
    if (ReadWord(editor, -4, true, block.Size) != Check::Ok) return Check::EditorFailure;
    if (editor.GetModuleSize() <= block.Size) return Check::FormatFailure;
    block.Start = editor.GetModuleSize() - block.Size;
    std::uint32_t head = 0;
    if (ReadWord(editor, block.Start, false, head) != Check::Ok) return Check::EditorFailure;
    // A block shorter than its head and trailer is a trailer alone: removing
    // the section for it would throw away the rest of the section's data.
    if (!IsTd32Block(head, trailer, block.Size, block.Size)) return Check::FormatFailure;
    block.SectionIndex = FindDebugSection(editor);
    return BlockSitsInSection(editor, block) && OnlyTheBlockInSection(editor, block) ? Check::Ok : Check::FormatFailure;
}

// The checks that need no module: a .tds path that is the module itself,
// or an existing file that may not be replaced.
std::optional<std::u16string> RefuseTdsPath(const std::u16string& modulePath, const std::u16string& tdsPath,
                                            bool overwrite) {
    if (SysIsSameFile(modulePath, tdsPath)) return FormatText(msg::TdsIsTheModule, {tdsPath});
    if (!IsExistingFile(tdsPath)) return std::nullopt;
    if (!overwrite) return FormatText(msg::TdsExists, {tdsPath});
    // -w replaces an earlier .tds file only: a shell can expand "*.exe" into
    // two names, handing the second program over as the .tds path.
    if (!IsReplaceableTds(tdsPath)) return FormatText(msg::TdsNotReplaceable, {tdsPath});
    return std::nullopt;
}

// What creating the .tds file would meet without creating it: a folder at
// its path, a read-only file that is not replaced, a name the file system
// refuses, or a folder that is missing or that the user may not write to.
bool TdsFileCreatable(const std::u16string& tdsPath) {
    const std::uint32_t attributes = GetPathAttributes(tdsPath);
    if (attributes == sys::kInvalidFileAttributes
            ? SysGetLastError() != sys::kErrorFileNotFound
            : (attributes & (sys::kFileAttributeDirectory | sys::kFileAttributeReadOnly)) != 0)
        return false;
    const std::u16string folder = ExtractFolderPart(tdsPath);
    return SysMayCreateFilesIn(folder.empty() ? u"." : folder);
}

// The name of temporary file number index beside path: the .tds name with
// ".<index>.tmp" added, the name shortened where needed so that it stays
// within the 255 bytes a file system allows whenever the .tds name does.
std::u16string TemporaryName(const std::u16string& path, int index) {
    constexpr std::size_t kNameLimit = 255;  // bytes of UTF-8, the strictest count
    const std::u16string suffix = u"." + IntToText(index) + u".tmp";
    std::u16string name = ExtractNamePart(path);
    const std::u16string folder = path.substr(0, path.size() - name.size());
    while (!name.empty() && WideToUtf8(name + suffix).size() > kNameLimit) {
        name.pop_back();
        if (!name.empty() && name.back() >= 0xD800 && name.back() <= 0xDBFF) name.pop_back();  // half a pair
    }
    return folder + name + suffix;
}

// The .tds file of one call. It is written under a temporary name beside
// its path and moved into place in one step once it is complete and on
// disk, so that no reader ever sees part of it and an earlier file stays
// whole until then. Once moved, it is taken away again only where the path
// was free before and the module keeps its block; the temporary file is
// always deleted.
class TdsOutput {
public:
    enum class Placed { Done, Exists, CreateFailed, WriteFailed, FolderNotFlushed };

    explicit TdsOutput(const std::u16string& path) : path_(path) {}
    TdsOutput(const TdsOutput&) = delete;
    TdsOutput& operator=(const TdsOutput&) = delete;
    ~TdsOutput() { Discard(); }

    bool Create() {
        for (int i = 0; i < kTemporaryNames; ++i) {
            temporary_ = TemporaryName(path_, i);
            handle_ = CreateFileByPath(temporary_, sys::kGenericWrite, 0, nullptr, sys::kCreateNew,
                                       sys::kFileAttributeNormal, nullptr);
            if (handle_ != kInvalidHandle) return true;
            if (SysGetLastError() != sys::kErrorFileExists && SysGetLastError() != sys::kErrorAlreadyExists) break;
        }
        temporary_.clear();
        return false;
    }

    bool Write(const std::uint8_t* data, std::uint32_t size) {
        std::uint32_t written = 0;
        return SysWriteFile(handle_, data, size, &written) && written == size;
    }

    // Flushes and closes the temporary file, moves it to the .tds path and
    // makes the folder entry durable.
    Placed MoveIntoPlace(bool replaceExisting) {
        bool ok = SysFlushFileBuffers(handle_);
        ok = SysCloseHandle(handle_) && ok;
        handle_ = kInvalidHandle;
        if (!ok) return Placed::WriteFailed;
        const bool earlier = IsExistingFile(path_);
        if (!SysMoveFile(temporary_, path_, replaceExisting)) {
            const std::uint32_t error = SysGetLastError();
            return error == sys::kErrorAlreadyExists || error == sys::kErrorFileExists ? Placed::Exists
                                                                                       : Placed::CreateFailed;
        }
        temporary_.clear();
        moved_ = true;
        // An earlier file is gone now: the new one, whole and flushed, stays
        // in its place whatever happens to the module.
        keep_ = earlier;
        if (SysFlushFolderOf(path_)) return Placed::Done;
        keep_ = true;
        return Placed::FolderNotFlushed;
    }

    void Keep() { keep_ = true; }
    // True when the file at the .tds path is this call's and stays there.
    bool Kept() const { return moved_ && keep_; }

private:
    void Discard() {
        if (handle_ != kInvalidHandle) SysCloseHandle(handle_);
        if (!temporary_.empty()) DeleteFileByPath(temporary_);
        if (moved_ && !keep_) DeleteFileByPath(path_);
    }

    std::u16string path_;
    std::u16string temporary_;
    SysHandle handle_ = kInvalidHandle;
    bool moved_ = false;
    bool keep_ = false;
};

// Copies the block from the module into the .tds file in bounded pieces.
Check CopyBlock(TkvPEFileUtils& editor, const DebugBlock& block, TdsOutput& output, bool& writeFailed) {
    // Every byte is read before it is written: no need to zero the buffer.
    auto const buffer = std::make_unique_for_overwrite<std::uint8_t[]>(std::min(block.Size, kCopyChunkSize));
    for (std::uint32_t done = 0; done < block.Size;) {
        const std::uint32_t piece = std::min(block.Size - done, kCopyChunkSize);
        if (!editor.ReadFileData(buffer.get(), piece, std::int64_t{block.Start} + done, false))
            return Check::EditorFailure;
        if (!output.Write(buffer.get(), piece)) {
            writeFailed = true;
            return Check::Ok;
        }
        done += piece;
    }
    return Check::Ok;
}

// Opens the module for writing, checks its block and makes the change in
// the editor's model, with every refusal the write-back would give: all
// that can be known before anything is written.
bool PrepareModule(TkvPEFileUtils& editor, const std::u16string& modulePath, DebugBlock& block,
                   std::u16string& errorText) {
    if (!editor.Open(modulePath, false)) {
        errorText = EditorText(editor);
        return false;
    }
    const Check located = LocateDebugBlock(editor, block);
    if (located != Check::Ok) {
        errorText = located == Check::FormatFailure ? std::u16string(msg::BadDebugInfo) : EditorText(editor);
        return false;
    }
    // Directory 6 is cleared first, so the section removal finds no debug
    // entries to move along.
    if (block.DirectoryRva != 0) editor.SetDataDirectory(kDebugDirectoryIndex, TImageDataDirectory{0, 0});
    editor.RemoveSection(block.SectionIndex);
    if (!editor.CheckWriteBack()) {
        errorText = EditorText(editor);
        return false;
    }
    return true;
}

// Writes the block to the .tds path: false with the message on failure.
bool SaveBlock(TkvPEFileUtils& editor, const DebugBlock& block, TdsOutput& output, const std::u16string& tdsPath,
               bool overwrite, std::u16string& errorText) {
    if (!output.Create()) {
        errorText = FormatText(msg::TdsCreateFailed, {tdsPath});
        return false;
    }
    bool writeFailed = false;
    if (CopyBlock(editor, block, output, writeFailed) != Check::Ok) {
        errorText = EditorText(editor);
        return false;
    }
    const TdsOutput::Placed placed = writeFailed ? TdsOutput::Placed::WriteFailed : output.MoveIntoPlace(overwrite);
    if (placed == TdsOutput::Placed::Exists)
        errorText = FormatText(msg::TdsExists, {tdsPath});
    else if (placed == TdsOutput::Placed::CreateFailed)
        errorText = FormatText(msg::TdsCreateFailed, {tdsPath});
    else if (placed == TdsOutput::Placed::WriteFailed)
        errorText = std::u16string(msg::TdsWriteFailed);
    else if (placed == TdsOutput::Placed::FolderNotFlushed)
        errorText = FormatText(msg::FolderFlushFailed, {tdsPath}) + u" " + FormatText(msg::DebugInfoKept, {tdsPath});
    return placed == TdsOutput::Placed::Done;
}

// Every check of an extraction, in the order a run makes them, before
// anything is created or written: the .tds path, the module and its block,
// the write-back, and whether the .tds file can be put in place.
bool Prepare(TkvPEFileUtils& editor, const std::u16string& modulePath, const std::u16string& tdsPath, bool overwrite,
             DebugBlock& block, std::u16string& errorText) {
    if (auto refusal = RefuseTdsPath(modulePath, tdsPath, overwrite)) {
        errorText = *refusal;
        return false;
    }
    if (!PrepareModule(editor, modulePath, block, errorText)) return false;
    if (!TdsFileCreatable(tdsPath)) {
        errorText = FormatText(msg::TdsCreateFailed, {tdsPath});
        return false;
    }
    return true;
}

// One extraction. The module is checked before the .tds file is created, so
// a module that fails leaves an existing .tds file alone.
bool ExtractWithEditor(TkvPEFileUtils& editor, TdsOutput& output, const std::u16string& modulePath,
                       const std::u16string& tdsPath, bool overwrite, std::u16string& errorText) {
    DebugBlock block;
    if (!Prepare(editor, modulePath, tdsPath, overwrite, block, errorText) ||
        !SaveBlock(editor, block, output, tdsPath, overwrite, errorText))
        return false;
    try {
        if (editor.Close(true)) {
            output.Keep();
            return true;
        }
    } catch (...) {
        if (editor.WriteStarted()) output.Keep();
        throw;
    }
    // The block stays in the .tds file whenever the module may no longer
    // hold it, or an earlier file had to make room for it; only a module
    // left as it was lets a file at a free path go.
    errorText = EditorText(editor);
    if (editor.WriteStarted()) output.Keep();
    if (output.Kept()) errorText += u" " + FormatText(msg::DebugInfoKept, {tdsPath});
    return false;
}

}  // namespace

std::u16string EditorText(TkvPEFileUtils& editor) {
    std::u16string text = editor.GetLastErrorText();
    return text.empty() ? std::u16string(msg::UnknownError) : text;
}

bool IsDebugSectionName(const std::array<std::uint8_t, 40>& sectionHeader) {
    static constexpr std::uint8_t kName[6] = {'.', 'd', 'e', 'b', 'u', 'g'};
    return std::equal(kName, kName + 6, sectionHeader.begin()) && sectionHeader[6] == 0;
}

bool IsPeModule(const std::u16string& path) {
    TkvPEFileUtils probe;
    const bool isModule = probe.Open(path, true);
    probe.Close(false);
    return isModule;
}

bool ExtractDebugInfo(const std::u16string& modulePath, const std::u16string& tdsPath, bool overwrite,
                      std::u16string& errorText, bool* tdsKept) {
    errorText.clear();
    TkvPEFileUtils editor;
    TdsOutput output(tdsPath);
    try {
        const bool done = ExtractWithEditor(editor, output, modulePath, tdsPath, overwrite, errorText);
        if (tdsKept != nullptr) *tdsKept = output.Kept();
        return done;
    } catch (...) {
        if (errorText.empty()) errorText = EditorText(editor);
        if (tdsKept != nullptr) *tdsKept = output.Kept();
        throw;
    }
}

bool CheckDebugInfo(const std::u16string& modulePath, const std::u16string& tdsPath, bool overwrite,
                    std::uint32_t& blockSize, std::u16string& errorText) {
    errorText.clear();
    TkvPEFileUtils editor;
    DebugBlock block;
    if (!Prepare(editor, modulePath, tdsPath, overwrite, block, errorText)) return false;
    blockSize = block.Size;
    return true;
}
