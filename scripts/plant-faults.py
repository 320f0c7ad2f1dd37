#!/usr/bin/env python3
"""Plants faults in the product code, one at a time, and runs the README's
test command on each: the suite must fail for every one of them. Prints one
line a fault, "caught by <first failing test>" or "MISSED", and restores
each file afterwards.

usage: scripts/plant-faults.py [--build DIR] [--only N[,N...]] [--list]
"""
import argparse
import os
import re
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))

# (what the fault does, file, text to replace, replacement); the last two
# may be tuples of several replacements made in turn.
FAULTS = [
    ("a broken head signature is accepted", "cli/DebugInfoExtraction.cpp",
     "IsTd32Block(head, trailer, block.Size, block.Size)", "IsTd32Block(kTd32Signature, trailer, block.Size, block.Size)"),
    ("a .debug section that is not the last one is accepted", "cli/DebugInfoExtraction.cpp",
     "block.SectionIndex < 1 || block.SectionIndex != editor.GetSectionCount() - 1", "block.SectionIndex < 1"),
    ("a module whose only section is .debug is stripped", "cli/DebugInfoExtraction.cpp",
     "block.SectionIndex < 1 ||", "block.SectionIndex < 0 ||"),
    ("a FileAlignment above 64 KiB is accepted", "cli/DebugInfoExtraction.cpp",
     "editor.GetFileAlignment() > kLargestFileAlignment", "false"),
    ("a second .debug section is ignored", "cli/DebugInfoExtraction.cpp",
     "index = index == -1 ? i : -2;", "index = i;"),
    ("all failed gives exit code 2", "cli/Quillon.cpp",
     "if (processed == 0) return kExitAllFailed;", "if (processed == 0) return kExitSomeFailed;"),
    ("the debug directory is left dangling", "cli/DebugInfoExtraction.cpp",
     "editor.SetDataDirectory(kDebugDirectoryIndex, TImageDataDirectory{0, 0});", ""),
    ("the .tds file is deleted after a half-done write-back", "cli/DebugInfoExtraction.cpp",
     "    if (editor.WriteStarted()) output.Keep();\n    if (output.Kept())", "    if (output.Kept())"),
    ("the stored checksum is off by one", "pe/WriteBack.cpp",
     "WriteLe32(bytes, 0, checkSum);", "WriteLe32(bytes, 0, checkSum + 1);"),
    ("our checksum is off by one", "wide/ImageChecksum.cpp",
     "return partial + static_cast<std::uint32_t>(length_);", "return partial + 1 + static_cast<std::uint32_t>(length_);"),
    ("a pointer is not rebased after its section moves", "pe/FileOffsetFixup.cpp",
     "ref.NewOffset = ref.OldOffset + delta;", "ref.NewOffset = ref.OldOffset;"),
    ("the certificate pointer is not rebased", "pe/FileOffsetFixup.cpp",
     "DataDirectories[kCertificateDirectory].RVA = ref.NewOffset;", ""),
    ("the wrap misses a blank in the 80th column", "cli/ConsoleOutput.cpp",
     "std::size_t q = start + w;", "std::size_t q = start + w - 1;"),
    ("a dot in a folder name is taken for an extension", "wide/WideText.cpp",
     "FindLastDelimiter(kExtensionDelimiters, path);", "FindLastDelimiter(u\".\", path);"),
    ("a read-only module is written", "wide/SysApi_posix.cpp",
     "else if (existed && IsReadOnlyFile(info)", "else if (false"),
    ("trailing data moves by any amount", "pe/LayoutMap.cpp",
     "constexpr std::uint32_t kOverlayStep = 8;", "constexpr std::uint32_t kOverlayStep = 1;"),
    ("a middle section's address range is not taken over", "pe/SectionRemoval.cpp",
     "Sections[at - 1].VirtualSize = Sections[at + 1].VirtualAddress - Sections[at - 1].VirtualAddress;", ""),
    ("a SectionAlignment below a page is written", "pe/WriteBack.cpp",
     "if (GetSectionAlignment() < kPageSize) {", "if (false) {"),
    ("overlapping regions are written", "pe/WriteBack.cpp",
     "valid = OffsetsMap[i].Offset >= std::uint64_t{OffsetsMap[i - 1].Offset} + OffsetsMap[i - 1].Size;", "valid = true;"),
    ("section addresses need not rise", "pe/ModuleOpen.cpp",
     "if (SectionsAsRead[i].VirtualAddress <= previous) {", "if (false) {"),
    ("an empty quote pair becomes part of an argument", "wide/WideText.cpp",
     "if (commandLine[position] != kQuote || commandLine[position + 1] != kQuote) return;", "return;"),
    ("a folder search that cannot start is not reported", "cli/ModuleSearch.cpp",
     "return true;\n        ReportSearchError(searchFolder);", "return true;"),
    ("a .tds path naming the module itself is not refused", "cli/DebugInfoExtraction.cpp",
     "if (SysIsSameFile(modulePath, tdsPath))", "if (false)"),
    ("the .tds file of a failed extraction is kept", "cli/DebugInfoExtraction.cpp",
     "if (moved_ && !keep_) DeleteFileByPath(path_);", ""),
    ("the temporary file of a failed extraction is left", "cli/DebugInfoExtraction.cpp",
     "if (!temporary_.empty()) DeleteFileByPath(temporary_);", ""),
    ("the .tds file is written in place", "cli/DebugInfoExtraction.cpp",
     "temporary_ = TemporaryName(path_, i);", "temporary_ = path_;"),
    ("a .tds file that appeared meanwhile is replaced without -w", "cli/DebugInfoExtraction.cpp",
     "output.MoveIntoPlace(overwrite)", "output.MoveIntoPlace(true)"),
    ("the list mode never refuses an uncreatable .tds path", "cli/DebugInfoExtraction.cpp",
     "if (!TdsFileCreatable(tdsPath)) {", "if (false) {"),
    ("an attached block is written after the headers", "pe/WriteBack.cpp",
     "    if (!WriteSectionsData(true)) {\n        return false;\n    }\n    if (WriteStartedFlag && !SysFlushFileBuffers(FileHandle)) {\n"
     "        SetOSErrorOr(sys::kErrorWriteFault);\n        return false;\n    }\n    if (!WriteHeaders() || !WriteSectionsData(false)",
     "    if (!WriteHeaders() || !WriteSectionsData(true) || !WriteSectionsData(false)"),
    ("an attachment ignores a signature", "cli/DebugInfoAttachment.cpp",
     "if (directory(4).Size != 0)", "if (false)"),
    ("a search reports no end of the list", "wide/SysApi_posix.cpp",
     "        FailWith(sys::kErrorNoMoreFiles);\n", ""),
    ("the slash does not separate folders on Windows", "wide/SysApi.h",
     'kFolderDelimiters[] = u"\\\\/:";', 'kFolderDelimiters[] = u"\\\\:";'),
    ("the paths a search builds take the platform's separator, not the one typed", "cli/ModuleSearch.cpp",
     "return i == 0 ? kPathSeparator : path[i - 1];", "return kPathSeparator;"),
    ("a name the shell expanded is searched as a mask again", "cli/ModuleSearch.cpp",
     "return kShellExpandsWildcards && HasWildcard(name) && IsExistingFile(name);", "return false;"),
    ("an empty argument ends the argument list", "wide/SysApi_posix.cpp",
     "if (i == 0 || argv[i][0] != '\\0') savedArguments.push_back(argv[i]);",
     "if (i > 0 && argv[i][0] == '\\0') break;\n        else savedArguments.push_back(argv[i]);"),
    ("the folder search matches case-sensitively", "wide/SysApi_posix.cpp",
     "FoldAscii(mask[m]) == FoldAscii(name[n])", "mask[m] == name[n]"),
    ("a mask's trailing dots must match too", "wide/SysApi_posix.cpp",
     "(mask[m] == U'*' || mask[m] == U'.')", "mask[m] == U'*'"),
    ("long paths reach Windows without the \\\\?\\ form", "wide/SysApi_win32.cpp",
     "if (path.size() < kLongPathLength ||", "if (true ||"),
    ("the headers grow over data a directory names in the header area", "pe/WriteBack.cpp",
     "if (HeadersReachNamedData(headersEnd)) {", "if (false) {"),
    ("a new section header reaches data a directory names in the headers", "pe/SectionAddition.cpp",
     " || HeadersReachNamedData(tableEnd)", ""),
    ("the headers take the room after the section table without looking", "pe/HeaderArea.cpp",
     "if (end <= TableEndAsOpened) {", "if (true) {"),
    ("a header left after the section table is known by the first byte of its name", "pe/HeaderArea.cpp",
     "std::equal(section.Name.begin(), section.Name.end(), bytes.begin())",
     "std::equal(section.Name.begin(), section.Name.begin() + 1, bytes.begin())"),
    ("SizeOfHeaders ends before data a directory names in the headers", "pe/WriteBack.cpp",
     "headerEnd = std::max<std::uint64_t>(headerEnd, range.second);", "(void)range;"),
    ("a symbol table between raw data gets no region", "pe/LayoutMap.cpp",
     "AddOffsetsMapEntry(SymbolTableOffset, SymbolTableSize, 1, ekSymbolTable, {});", ""),
    ("a moved symbol table is not written", "pe/WriteBack.cpp",
     " || !WriteRegion(ekSymbolTable, SymbolTableData)", ""),
    ("PointerToSymbolTable does not follow its region", "pe/FileOffsetFixup.cpp",
     "} else if (region.Kind == ekSymbolTable) {", "} else if (false) {"),
    ("a symbol table that runs out of its gap is written", "pe/WriteBack.cpp",
     "if (SymbolTableLoose) {", "if (false) {"),
    ("SizeOfImage reads VirtualSize alone", "pe/WriteBack.cpp",
     "Sections.back().MappedSize()", "Sections.back().VirtualSize"),
    ("a section with VirtualSize 0 holds no RVA", "pe/SectionData.cpp",
     "std::uint64_t{section.VirtualAddress} + section.MappedSize()", "std::uint64_t{section.VirtualAddress} + section.VirtualSize"),
    ("the extraction reads .debug's VirtualSize alone", "cli/DebugInfoExtraction.cpp",
     "section.VirtualAddress} + section.MappedSize();", "section.VirtualAddress} + section.VirtualSize;"),
    ("an attached section follows the last section's VirtualSize alone", "cli/DebugInfoAttachment.cpp",
     "std::max(last.MappedSize(), 1u)", "std::max(last.VirtualSize, 1u)"),
    ("all NumberOfRvaAndSizes directories are read", "pe/ModuleOpen.cpp",
     "std::min<std::uint64_t>(\n        NumberOfRvaAndSizesOfHeader(), (optionalHeaderSize - OptionalHeaderSize()) / TImageDataDirectory::kSize)",
     "NumberOfRvaAndSizesOfHeader()"),
    ("widening sets SizeOfOptionalHeader to the full size", "pe/DataDirectoryChange.cpp",
     "static_cast<std::uint16_t>(OffsetsMap[1].Offset - FileHeaderOffset - TImageFileHeader::kSize)",
     "static_cast<std::uint16_t>(IsPE32Plus() ? 240 : 224)"),
    ("the section table is written right after the directories", "pe/WriteBack.cpp",
     "!SeekFile(FileHandle, sys::kFileBegin, OffsetsMap[1].Offset)", "false"),
    ("an optional header shorter than its fixed part is accepted", "pe/ModuleOpen.cpp",
     "optionalHeaderSize < OptionalHeaderSize() ||", ""),
    ("the section table is taken to follow the directories", "pe/ModuleOpen.cpp",
     "TImageFileHeader::kSize + FileHeader.SizeOfOptionalHeader;",
     "TImageFileHeader::kSize + OptionalHeaderSize() + NumberOfRvaAndSizesOfHeader() * TImageDataDirectory::kSize;"),
    ("the .tds file is not flushed before it is moved", "cli/DebugInfoExtraction.cpp",
     "bool ok = SysFlushFileBuffers(handle_);", "bool ok = true;"),
    ("the folder is not flushed after the move", "cli/DebugInfoExtraction.cpp",
     "if (SysFlushFolderOf(path_))", "if (true)"),
    ("the folder is flushed after the module is written", "cli/DebugInfoExtraction.cpp",
     ("if (SysFlushFolderOf(path_)) return Placed::Done;", "if (editor.Close(true)) {"),
     ("return Placed::Done;", "if (editor.Close(true) && SysFlushFolderOf(tdsPath)) {")),
    ("an attached block is not flushed before the headers", "pe/WriteBack.cpp",
     "if (WriteStartedFlag && !SysFlushFileBuffers(FileHandle)) {", "if (false) {"),
    ("a later module replaces the .tds file an earlier one made", "cli/Quillon.cpp",
     "if (claims.Claimed(tds)) {", "if (false) {"),
    ("-w replaces any file", "cli/DebugInfoExtraction.cpp",
     "if (!IsReplaceableTds(tdsPath))", "if (false)"),
    ("a folder that does not flush fails every extraction", "wide/SysApi_posix.cpp",
     " || errno == EINVAL || errno == ENOTSUP;", ";"),
    ("the moved .tds file is deleted after a failed folder flush", "cli/DebugInfoExtraction.cpp",
     "keep_ = true;\n        return Placed::FolderNotFlushed;", "return Placed::FolderNotFlushed;"),
    ("a full section table raises instead of refusing", "cli/DebugInfoAttachment.cpp",
     "editor.GetSectionCount() >= kMaxSections || ", ""),
    ("a short directory table is widened after the section is placed", "cli/DebugInfoAttachment.cpp",
     "if (editor.GetDataDirectoryCount() <= kDebugDirectoryIndex)\n        editor.SetDataDirectory(kDebugDirectoryIndex, "
     "TImageDataDirectory{});", ""),
    ("the debug directory Size is read as a count of entries", "cli/DebugInfoExtraction.cpp",
     "block.DirectoryEntries = editor.GetDebugDirectoryCount();",
     "block.DirectoryEntries = static_cast<std::int32_t>(directory.Size);"),
    ("other data in the .debug section is dropped", "cli/DebugInfoExtraction.cpp",
     "BlockSitsInSection(editor, block) && OnlyTheBlockInSection(editor, block)", "BlockSitsInSection(editor, block)"),
    ("a freed section header is left in the file", "pe/WriteBack.cpp",
     "    return ClearFreedHeaders();\n}", "    return true;\n}"),
    ("-n does not ask whether the folder may be written", "cli/DebugInfoExtraction.cpp",
     "return SysMayCreateFilesIn(folder.empty() ? u\".\" : folder);", "return true;"),
    ("the temporary name passes the 255-byte limit", "cli/DebugInfoExtraction.cpp",
     "while (!name.empty() && WideToUtf8(name + suffix).size() > kNameLimit) {", "while (false) {"),
    ("an attached block is read from the .tds file twice", "cli/DebugInfoAttachment.cpp",
     "return size == 0 || tds.Read(offset - kEntryAndPadding, out, size);",
     "return size == 0 || (tds.Read(offset - kEntryAndPadding, out, size) && "
     "tds.Read(offset - kEntryAndPadding, out, size));"),
    ("a line table out of address order is read", "td32/Td32Lines.cpp",
     "if (offset < table.LastOffset) return Fail(SLinesUnordered);", ""),
    ("a name index past the name table is used", "td32/Td32Names.cpp",
     "if (index > nameCount_) return Fail(SNameOutOfRange);", ""),
    ("a unit's segment count is not held against the block", "td32/Td32Modules.cpp",
     "if (!unit.Has(std::uint64_t{count} * kRangeSize)) return Fail(SModuleDamaged);", ""),
    ("subsections that share bytes are read", "td32/Td32Directory.cpp",
     "if (read[i].Offset < std::uint64_t{read[i - 1].Offset} + read[i - 1].Size) return Fail(SSubsectionsOverlap);", ""),
    ("a nested procedure hides the rest of its parent", "td32/Td32AddressMap.cpp",
     "if (!Overlapping(procedures_)) return;", "return;"),
    ("a line before the procedure's start is given", "td32/Td32Lines.cpp",
     "if (line.Offset >= procedure.Offset && (!best || line.Offset > best->Offset)) best = line;",
     "if (!best || line.Offset > best->Offset) best = line;"),
    ("a search from the last one's end stops one entry short", "td32/Td32Search.h",
     "while (low + step <= count &&", "while (low + step < count &&"),
    ("procedures are listed in the block's order", "td32/Td32DebugInfo.cpp",
     "std::sort(procedures_.begin(), procedures_.end(), AddressOrder);", ""),
    ("\"@@\" reads as two dots", "td32/ReadableName.cpp",
     "if (i + 1 < name.size() && name[i + 1] == '@') ++i;", ""),
    ("a virtual address is taken for an RVA", "cli/DebugInfoQuery.cpp",
     "if (address >= layout.ImageBase && address - layout.ImageBase < layout.SizeOfImage)", "if (false)"),
    ("the TDS file named with the module is ignored", "cli/DebugInfoSource.cpp",
     "if (!tdsPath.empty()) return OpenTds(tdsPath, message);", ""),
    ("a control character of a name reaches the output", "cli/DebugInfoQuery.cpp",
     "buffer_[i] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);", "buffer_[i] = static_cast<char>(c);"),
    ("-l without an address is accepted", "cli/DebugInfoQuery.cpp",
     "return LookupArgumentCount(settings) > FirstAddress(settings);", "return true;"),
]


def run_suite(build):
    env = dict(os.environ, QUILLON_TEST_BUILD=build)
    proc = subprocess.run([os.path.join(ROOT, "scripts", "test.sh"), "--stop-on-failure"], cwd=ROOT, env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    failed = re.findall(r"Test +#\d+: (\S+) .*\*\*\*(?:Failed|Timeout|Exception)", proc.stdout)
    if proc.returncode == 0:
        return None
    return failed[0] if failed else "the build or the set-up (exit %d)" % proc.returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "faults"))
    parser.add_argument("--only", help="comma-separated fault numbers")
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    chosen = [int(n) for n in args.only.split(",")] if args.only else range(1, len(FAULTS) + 1)
    missed = 0
    for number in chosen:
        what, rel, olds, news = FAULTS[number - 1]
        if args.list:
            print(f"{number:2}. {what} ({rel})")
            continue
        path = os.path.join(ROOT, rel)
        with open(path) as f:
            original = f.read()
        planted = original
        # A fault is one replacement, or several (tuples) made in turn.
        for old, new in zip(*((olds, news) if isinstance(olds, tuple) else ((olds,), (news,)))):
            if planted.count(old) != 1:
                sys.exit(f"fault {number}: the text to replace is not in {rel} exactly once")
            planted = planted.replace(old, new)
        with open(path, "w") as f:
            f.write(planted)
        # The test command checks the formatting: a fault must fail a test, not that check.
        subprocess.run(["clang-format", "-i", path], check=True)
        try:
            caught = run_suite(args.build)
        finally:
            with open(path, "w") as f:
                f.write(original)
        missed += caught is None
        print(f"{number:2}. {what}: " + (f"caught by {caught}" if caught else "MISSED"), flush=True)
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
