#include "DebugInfoExtraction.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "SysApi.h"
#include "Td32Block.h"
#include "TextFormat.h"
#include "WideText.h"
#include "kvPEFileUtils.h"
#include "uMsg_Quillon.h"

namespace {

// The block is copied in pieces of this size: memory stays bounded for a
// block of any size, and a piece that fits in the processor's caches is not
// carried through main memory twice more (measured here: 64 KiB to 1 MiB
// copy at the speed of a plain pread/write loop, 4 MiB pieces at half).
constexpr std::uint32_t kCopyChunkSize = 128u << 10;
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
    const std::uint64_t directoryEnd = std::uint64_t{directory.RVA} + std::uint64_t{kDebugEntrySize} * directory.Size;
    const std::uint64_t sectionEnd = std::uint64_t{section.VirtualAddress} + section.MappedSize();
    return section.VirtualAddress <= directory.RVA && directoryEnd <= sectionEnd;
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
    return BlockSitsInSection(editor, block) ? Check::Ok : Check::FormatFailure;
}

// The checks that need no module: a .tds path that is the module itself,
// or an existing file that may not be replaced.
std::optional<std::u16string> RefuseTdsPath(const std::u16string& modulePath, const std::u16string& tdsPath,
                                            bool overwrite) {
    if (SysIsSameFile(modulePath, tdsPath)) return FormatText(msg::TdsIsTheModule, {tdsPath});
    if (!IsExistingFile(tdsPath)) return std::nullopt;
    if (!overwrite) return FormatText(msg::TdsExists, {tdsPath});
    // A shell can expand "*.dll" into two names, handing the second module
    // over as the .tds path: replacing it would destroy a module.
    if (IsPeModule(tdsPath)) return FormatText(msg::TdsIsAModule, {tdsPath});
    return std::nullopt;
}

// What creating the .tds file would meet without creating it: a folder at
// its path, no folder for it, or a read-only file that is not replaced.
bool TdsFileCreatable(const std::u16string& tdsPath) {
    const std::uint32_t attributes = GetPathAttributes(tdsPath);
    if (attributes != sys::kInvalidFileAttributes)
        return (attributes & (sys::kFileAttributeDirectory | sys::kFileAttributeReadOnly)) == 0;
    const std::u16string folder = ExtractFolderPart(tdsPath);
    const std::uint32_t folderAttributes = folder.empty() ? sys::kFileAttributeDirectory : GetPathAttributes(folder);
    return folderAttributes != sys::kInvalidFileAttributes && (folderAttributes & sys::kFileAttributeDirectory) != 0;
}

// The .tds file of one call. It is written under a temporary name beside
// its path and moved into place in one step once it is complete and on
// disk, so that no reader ever sees part of it and an earlier file stays
// whole until then. Whatever is not kept is deleted again.
class TdsOutput {
public:
    enum class Placed { Done, Exists, CreateFailed, WriteFailed };

    explicit TdsOutput(const std::u16string& path) : path_(path) {}
    TdsOutput(const TdsOutput&) = delete;
    TdsOutput& operator=(const TdsOutput&) = delete;
    ~TdsOutput() { Discard(); }

    bool Create() {
        for (int i = 0; i < kTemporaryNames; ++i) {
            temporary_ = path_ + u"." + IntToText(i) + u".tmp";
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
        if (!SysMoveFile(temporary_, path_, replaceExisting)) {
            const std::uint32_t error = SysGetLastError();
            return error == sys::kErrorAlreadyExists || error == sys::kErrorFileExists ? Placed::Exists
                                                                                       : Placed::CreateFailed;
        }
        temporary_.clear();
        moved_ = true;
        return SysFlushFolderOf(path_) ? Placed::Done : Placed::WriteFailed;
    }

    void Keep() { keep_ = true; }

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
bool ExtractWithEditor(TkvPEFileUtils& editor, const std::u16string& modulePath, const std::u16string& tdsPath,
                       bool overwrite, std::u16string& errorText) {
    DebugBlock block;
    if (!Prepare(editor, modulePath, tdsPath, overwrite, block, errorText)) return false;
    TdsOutput output(tdsPath);
    if (!SaveBlock(editor, block, output, tdsPath, overwrite, errorText)) return false;
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
    // hold it; only a module left as it was lets the file go.
    errorText = EditorText(editor);
    if (editor.WriteStarted()) {
        output.Keep();
        errorText += u" " + FormatText(msg::DebugInfoKept, {tdsPath});
    }
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
                      std::u16string& errorText) {
    errorText.clear();
    TkvPEFileUtils editor;
    try {
        return ExtractWithEditor(editor, modulePath, tdsPath, overwrite, errorText);
    } catch (...) {
        if (errorText.empty()) errorText = EditorText(editor);
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
