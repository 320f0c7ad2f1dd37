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

# (what the fault does, file, text to replace, replacement)
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
     "if (editor.WriteStarted()) {\n        output.Keep();", "if (editor.WriteStarted()) {"),
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
     "temporary_ = path_ + u\".\" + IntToText(i) + u\".tmp\";", "temporary_ = path_;"),
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
    ("a line table out of address order is read", "td32/Td32Lines.cpp",
     "if (offset < table.LastOffset) return Fail(SLinesUnordered);", ""),
    ("a name index past the name table is used", "td32/Td32Names.cpp",
     "if (index > names_.size()) return Fail(SNameOutOfRange);", ""),
    ("a unit's segment count is not held against the block", "td32/Td32Modules.cpp",
     "if (!unit.Has(std::uint64_t{count} * kRangeSize)) return Fail(SModuleDamaged);", ""),
    ("subsections that share bytes are read", "td32/Td32Directory.cpp",
     "if (read[i].Offset < std::uint64_t{read[i - 1].Offset} + read[i - 1].Size) return Fail(SSubsectionsOverlap);", ""),
    ("a nested procedure hides the rest of its parent", "td32/Td32AddressMap.cpp",
     "if (!Overlapping(procedures_)) return;", "return;"),
    ("a line before the procedure's start is given", "td32/Td32Lines.cpp",
     "if (line.Offset >= procedure.Offset && (!best || line.Offset > best->Offset)) best = line;",
     "if (!best || line.Offset > best->Offset) best = line;"),
    ("a search from the last one's end stops one entry short", "td32/Td32Lines.cpp",
     "while (low + step <= table.Count &&", "while (low + step < table.Count &&"),
    ("procedures are listed in the block's order", "td32/Td32DebugInfo.cpp",
     "std::sort(procedures_.begin(), procedures_.end(), AddressOrder);", ""),
    ("\"@@\" reads as two dots", "td32/ReadableName.cpp",
     "i = at + (at + 1 < name.size() && name[at + 1] == '@' ? 2 : 1);", "i = at + 1;"),
    ("a virtual address is taken for an RVA", "cli/DebugInfoQuery.cpp",
     "if (address >= layout.ImageBase && address - layout.ImageBase < layout.SizeOfImage)", "if (false)"),
    ("the TDS file named with the module is ignored", "cli/DebugInfoSource.cpp",
     "if (!tdsPath.empty()) return OpenTds(tdsPath, message);", ""),
    ("a control character of a name reaches the output", "cli/DebugInfoQuery.cpp",
     "buffer_[i] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);", "buffer_[i] = static_cast<char>(c);"),
    ("-l without an address is accepted", "cli/DebugInfoQuery.cpp",
     "if (settings.Positional.size() <= first) return false;", ""),
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
        what, rel, old, new = FAULTS[number - 1]
        if args.list:
            print(f"{number:2}. {what} ({rel})")
            continue
        path = os.path.join(ROOT, rel)
        with open(path) as f:
            original = f.read()
        if original.count(old) != 1:
            sys.exit(f"fault {number}: the text to replace is not in {rel} exactly once")
        with open(path, "w") as f:
            f.write(original.replace(old, new))
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
