"""-l and -i end to end: a block made by scripts/td32_block.py in a real
mingw-w64 program, then stripped into its .tds file; damaged blocks; bad
command lines."""
import os
import struct

from quillon import BANNER, USAGE, Case, add_td32_section, module, put32, u32
import td32_block  # noqa: E402 (importing quillon puts scripts/ on the path)

# Segment 1 is .text (RVA 0x1000), segment 2 .data (0x9000); ImageBase 0x400000.
BLOCK = td32_block.build([
    td32_block.Unit("Unit1", [("Unit1.pas", 1, [(0x100, 30), (0x108, 31), (0x140, 40)])],
                    [("@Unit1@TForm1@Button1Click", 1, 0x100, 0x40, "@Unit1@TForm1@Button1Click$qqrp14System@TObject"),
                     ("@Unit1@Helper$qqrv", 1, 0x140, 0x20, None)]),
    # Control characters in the block's names must not break a line.
    td32_block.Unit("Odd", [("Odd\nFile.pas", 2, [(0x10, 7)])], [("@Odd@Na\tme", 2, 0x10, 0x10, None)]),
])
LOOKUPS = [
    ("0x401100", "Unit1.TForm1.Button1Click + 0x0 (Unit1.pas, line 30)"),
    ("1107", "Unit1.TForm1.Button1Click + 0x7 (Unit1.pas, line 30)"),
    ("0001:00000108", "Unit1.TForm1.Button1Click + 0x8 (Unit1.pas, line 31)"),
    ("0X40114F", "Unit1.Helper + 0xf (Unit1.pas, line 40)"),
    ("2:10", "Odd.Na?me + 0x0 (Odd?File.pas, line 7)"),
    ("1:160", "no procedure at this address."),
    ("deadbeef", "no procedure at this address."),
]
LISTING = ["Unit1.TForm1.Button1Click (Unit1.pas, line 30)", "Unit1.Helper (Unit1.pas, line 40)",
           "Odd.Na?me (Odd?File.pas, line 7)"]
SUMMARY = f"{len(BLOCK)} bytes of TD32 debug info: 2 modules, 2 source files, 3 procedures, 4 line entries."


def damaged(reason):
    return f'm.tds: the TD32 debug info in "m.tds" is damaged: {reason}'


class Lookup(Case):
    def test_addresses_in_the_module_then_in_its_tds_file(self):
        self.put("m.exe", add_td32_section.add_section(module("hello32.exe"), 0, block=BLOCK))
        for stripped in (False, True):
            code, lines = self.quillon("-l", "m.exe", *(a for a, _ in LOOKUPS))
            self.assertEqual((code, lines), (0, BANNER + [f"{a}: {found}" for a, found in LOOKUPS] + [""]))
            code, lines = self.quillon("-i", "m.exe")
            where = ["00001100 0x40", "00001140 0x20", "00009010 0x10"]
            self.assertEqual((code, lines[3:]), (0, ["m.exe: " + SUMMARY] + [
                f"{w} {p}" for w, p in zip(where, LISTING)] + [""]))
            if not stripped:
                self.assertEqual(self.quillon("m.exe")[0], 0)
        self.assertEqual(self.read("m.tds"), BLOCK)
        # Alone, the .tds file maps segment:offset addresses only.
        code, lines = self.quillon("-l", "m.tds", "1:107", "401107")
        self.assertEqual((code, lines[3:]), (0, [f"1:107: {LOOKUPS[1][1]}",
                                                 "401107: without the module only a segment:offset address can be mapped.",
                                                 ""]))
        code, lines = self.quillon("-i", "m.tds")
        where = ["0001:00000100 0x40", "0001:00000140 0x20", "0002:00000010 0x10"]
        self.assertEqual(lines[3:], ["m.tds: " + SUMMARY] + [f"{w} {p}" for w, p in zip(where, LISTING)] + [""])
        # A TDS file named with the module is used; without it there is none.
        self.put("other.tds", self.read("m.tds"))
        os.remove(self.path("m.tds"))
        self.assertEqual(self.quillon("-l", "m.exe", "other.tds", "1107")[1][3], f"1107: {LOOKUPS[1][1]}")
        code, lines = self.quillon("-l", "m.exe", "1107")
        self.assertEqual((code, " ".join(lines[3:-1])), (
            3, 'm.exe: the module does not contain TD32 debug info, and the "m.tds" file does not exist.'))

    def test_damaged_blocks_give_exit_code_3_and_the_reason(self):
        directory = u32(BLOCK, 4)
        symbols = next(u32(BLOCK, e + 4) for e in range(directory + 16, len(BLOCK) - 8, 12)
                       if struct.unpack_from("<H", BLOCK, e)[0] == 0x125)
        half = BLOCK[:len(BLOCK) // 2]
        for block, line in [
            (BLOCK[:-100], "m.tds: the file is neither a module nor a TDS file."),
            (b"MZ" + BLOCK, "m.tds: The file is not a valid Portable Executable file."),
            (half + b"FB09" + struct.pack("<I", len(half) + 8),
             damaged("a subsection directory lies outside the block.")),
            (put32(BLOCK, 4, 0xFFFFFF00), damaged("a subsection directory lies outside the block.")),
            (put32(BLOCK, directory + 4, 0x7FFFFFFF),
             damaged("a subsection directory lists more entries than the block holds.")),
            (put32(BLOCK, symbols + 8 + 36, 999), damaged("a name index lies outside the name table.")),
            (put32(BLOCK, directory + 8, directory), damaged("the subsection directories form a cycle.")),
        ]:
            self.put("m.tds", block)
            code, lines = self.quillon("-i", "m.tds")
            self.assertEqual((code, " ".join(lines[3:-1])), (3, line))  # a message, wrapped as all are

    def test_bad_command_lines(self):
        self.put("m.tds", BLOCK)
        invalid = BANNER + ["Invalid command-line parameters.", ""] + USAGE + [""]
        for args in (["-l", "m.tds"], ["-l", "m.tds", "x.tds"], ["-l", "m.tds", "1:0", "zz"], ["-l", "m.tds", "10000:0"],
                     ["-l", "m.tds", "1:100000000"], ["-l", "m.tds", "0x"], ["-i"], ["-i", "m.tds", "1:0"],
                     ["-i", "-l", "m.tds", "1:0"], ["-w", "-l", "m.tds", "1:0"], ["-i", "-r", "m.tds"]):
            with self.subTest(args=args):
                self.assertEqual(self.quillon(*args), (5, invalid))
