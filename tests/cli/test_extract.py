"""One module at a time through the whole program: the TD32 block moves into
the .tds file, the module is rewritten without it, and every refusal leaves
the module and any existing .tds file as they were."""
import os
import shutil
import struct
import tempfile
import unittest

import modules
from modules import Layout, read, write
from runner import NL, SEP, UNDER_WINE, run, run_windows_program

import pefile

FORMAT = "the module does not contain TD32 debug info or has an invalid or unknown debug info format."


def unwrapped(out):
    """Console text with the wrap undone: a break replaced one blank."""
    return out.decode("utf-8", "replace").replace(NL, " ")


def align(value, alignment):
    return (value + alignment - 1) // alignment * alignment


class ExtractionCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillon-extract-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def quillon(self, *args):
        return run(list(args), cwd=self.dir)

    def assert_refused(self, data, message, args=("m.exe",), name="m.exe"):
        write(self.path(name), data)
        code, out, _ = self.quillon(*args)
        self.assertEqual(code, 3, out)
        self.assertIn(f"{name}: {message}", unwrapped(out))
        self.assertEqual(read(self.path(name)), data, "module changed")
        self.assertFalse(os.path.exists(self.path(os.path.splitext(name)[0] + ".tds")))


class Success(ExtractionCase):
    def check_stripped(self, name, before, had_checksum):
        block_size = struct.unpack_from("<I", before, len(before) - 4)[0]
        self.assertEqual(read(self.path(os.path.splitext(name)[0] + ".tds")), before[-block_size:])
        pe = pefile.PE(self.path(name))
        self.assertEqual(pe.get_warnings(), [])
        names = [s.Name.rstrip(b"\0") for s in pe.sections]
        self.assertNotIn(b".debug", names)
        self.assertEqual(len(names), Layout(before).nsections - 1)
        debug = pe.OPTIONAL_HEADER.DATA_DIRECTORY[6]
        self.assertEqual((debug.VirtualAddress, debug.Size), (0, 0))
        last = pe.sections[-1]
        self.assertEqual(pe.OPTIONAL_HEADER.SizeOfImage,
                         align(last.VirtualAddress + last.Misc_VirtualSize, pe.OPTIONAL_HEADER.SectionAlignment))
        self.assertEqual(os.path.getsize(self.path(name)), last.PointerToRawData + last.SizeOfRawData)
        if had_checksum:
            self.assertNotEqual(pe.OPTIONAL_HEADER.CheckSum, 0)
            self.assertTrue(pe.verify_checksum())
        else:
            self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, 0)
        pe.close()

    def test_programs_and_dlls_of_both_widths(self):
        for arch in ("i686", "x86_64"):
            for kind in ("exe", "dll"):
                for checksum in (True, False):
                    with self.subTest(arch=arch, kind=kind, checksum=checksum):
                        name = f"m{arch}{int(checksum)}{kind}.{kind}"
                        data = modules.with_debug_block(arch, kind, checksum=checksum, block_size=7001)
                        write(self.path(name), data)
                        code, out, _ = self.quillon(name)
                        self.assertEqual(code, 0, out)
                        self.assertIn(f"{name}: done.{NL}", out.decode())
                        self.assertIn(f"1 module(s) processed, 0 module(s) failed.{NL}", out.decode())
                        self.check_stripped(name, data, checksum)

    def test_directory_size_given_in_bytes(self):
        data = modules.with_debug_block("i686", "dll", dir_size=28)
        write(self.path("m.dll"), data)
        self.assertEqual(self.quillon("m.dll")[0], 0)
        self.check_stripped("m.dll", data, True)

    def test_block_larger_than_the_copy_piece(self):
        data = modules.with_debug_block("x86_64", "dll", block_size=9 * 1024 * 1024 + 3)
        write(self.path("big.dll"), data)
        self.assertEqual(self.quillon("big.dll")[0], 0)
        self.check_stripped("big.dll", data, True)

    def test_explicit_tds_path(self):
        data = modules.with_debug_block()
        os.mkdir(self.path("out"))
        write(self.path("m.exe"), data)
        code, out, _ = self.quillon("m.exe", f"out{SEP}saved.dbg")
        self.assertEqual(code, 0, out)
        block_size = struct.unpack_from("<I", data, len(data) - 4)[0]
        self.assertEqual(read(self.path("out/saved.dbg")), data[-block_size:])
        self.assertFalse(os.path.exists(self.path("m.tds")))

    @unittest.skipUnless(os.path.exists("/usr/lib/wine/wine64"), "needs wine64")
    def test_stripped_program_runs_as_before(self):
        data = modules.with_debug_block("x86_64", "exe")
        write(self.path("p.exe"), data)
        before = run_windows_program("/usr/lib/wine/wine64", "p.exe", ["x"], cwd=self.dir)
        self.assertEqual(self.quillon("p.exe")[0], 0)
        after = run_windows_program("/usr/lib/wine/wine64", "p.exe", ["x"], cwd=self.dir)
        self.assertEqual(before[0], 7)
        self.assertEqual(before[1], after[1])
        self.assertEqual(before[0], after[0])


class Refusals(ExtractionCase):
    def set_u32(self, data, offset, value):
        data = bytearray(data)
        struct.pack_into("<I", data, offset, value)
        return bytes(data)

    def test_module_without_a_block(self):
        self.assert_refused(modules.plain(), FORMAT)

    def test_block_sizes_that_cannot_be(self):
        data = modules.with_debug_block()
        for size in (8, len(data), len(data) + 100):
            with self.subTest(size=size):
                self.assert_refused(self.set_u32(data, len(data) - 4, size), FORMAT)

    def test_block_size_zero(self):
        data = self.set_u32(modules.with_debug_block(), len(modules.with_debug_block()) - 4, 0)
        write(self.path("m.exe"), data)
        code, out, _ = self.quillon("m.exe")
        self.assertEqual(code, 3)
        self.assertRegex(unwrapped(out), r"m\.exe: \S")
        self.assertEqual(read(self.path("m.exe")), data)
        self.assertFalse(os.path.exists(self.path("m.tds")))

    def test_two_debug_sections(self):
        data = bytearray(modules.with_debug_block())
        struct.pack_into("<8s", data, Layout(data).section(0), b".debug\0\0")
        self.assert_refused(bytes(data), FORMAT)

    def test_debug_section_not_last(self):
        data = bytearray(modules.with_debug_block())
        lay = Layout(data)
        debug, prev = lay.section(lay.nsections - 1), lay.section(lay.nsections - 2)
        # Swap names and raw data but keep the rising addresses.
        for field, size in ((0, 8), (16, 8)):
            a, b = data[debug + field:debug + field + size], data[prev + field:prev + field + size]
            data[debug + field:debug + field + size], data[prev + field:prev + field + size] = b, a
        struct.pack_into("<II", data, lay.directory(6), 0, 0)
        self.assert_refused(bytes(data), FORMAT)

    def test_data_after_the_debug_section(self):
        data = modules.with_debug_block()
        lay = Layout(data)
        raw_size = struct.unpack_from("<I", data, lay.section(lay.nsections - 1) + 16)[0]
        self.assert_refused(self.set_u32(data, lay.section(lay.nsections - 1) + 16, raw_size - 4), FORMAT)

    def test_debug_directory_outside_the_section(self):
        data = modules.with_debug_block()
        lay = Layout(data)
        first_va = struct.unpack_from("<I", data, lay.section(0) + 12)[0]
        self.assert_refused(self.set_u32(data, lay.directory(6), first_va), FORMAT)

    def test_existing_tds_without_overwrite(self):
        write(self.path("m.tds"), b"earlier")
        data = modules.with_debug_block()
        write(self.path("m.exe"), data)
        code, out, _ = self.quillon("m.exe")
        self.assertEqual(code, 3)
        self.assertIn('m.exe: unable to create a TDS file, because the "m.tds" file already exists.',
                      unwrapped(out))
        self.assertEqual(read(self.path("m.tds")), b"earlier")
        self.assertEqual(read(self.path("m.exe")), data)

    def test_tds_path_that_is_a_folder(self):
        os.mkdir(self.path("m.tds"))
        data = modules.with_debug_block()
        write(self.path("m.exe"), data)
        code, out, _ = self.quillon("-w", "m.exe")
        self.assertEqual(code, 3)
        self.assertIn('m.exe: unable to create the "m.tds" file.', unwrapped(out))
        self.assertEqual(read(self.path("m.exe")), data)
        self.assertTrue(os.path.isdir(self.path("m.tds")))

    def test_section_alignment_below_the_page_size(self):
        data = modules.with_debug_block("i686", "dll")
        data = self.set_u32(data, Layout(data).opt + 32, 512)
        self.assert_refused(data, "The modules whose SectionAlignment value is less than the page size (4Kb) "
                                  "cannot be modified.", args=("m.dll",), name="m.dll")


class DebugDataIsNeverLost(ExtractionCase):
    def test_second_run_keeps_the_tds_files_of_the_first(self):
        data = modules.with_debug_block()
        write(self.path("m.exe"), data)
        self.assertEqual(self.quillon("-w", "m.exe")[0], 0)
        tds, stripped = read(self.path("m.tds")), read(self.path("m.exe"))
        code, out, _ = self.quillon("-w", "m.exe")
        self.assertEqual(code, 3)
        self.assertIn(f"m.exe: {FORMAT}", unwrapped(out))
        self.assertEqual(read(self.path("m.tds")), tds)
        self.assertEqual(read(self.path("m.exe")), stripped)

    def test_tds_path_naming_the_module_itself(self):
        data = modules.with_debug_block()
        write(self.path("m.exe"), data)
        os.link(self.path("m.exe"), self.path("hard.tds"))
        for tds in ("m.exe", f".{SEP}m.exe", "M.EXE" if UNDER_WINE else f"..{SEP}{os.path.basename(self.dir)}{SEP}m.exe",
                    "hard.tds"):
            with self.subTest(tds=tds):
                code, out, _ = self.quillon("-w", "m.exe", tds)
                self.assertEqual(code, 3)
                self.assertIn(f'm.exe: unable to create a TDS file, because the "{tds}" file is the module itself.',
                              unwrapped(out))
                self.assertEqual(read(self.path("m.exe")), data)

    @unittest.skipIf(UNDER_WINE, "symbolic links are a POSIX matter here")
    def test_tds_path_that_is_a_symbolic_link_to_the_module(self):
        data = modules.with_debug_block()
        write(self.path("m.exe"), data)
        os.symlink("m.exe", self.path("m.tds"))
        code, out, _ = self.quillon("-w", "m.exe")
        self.assertEqual(code, 3)
        self.assertIn("is the module itself.", unwrapped(out))
        self.assertEqual(read(self.path("m.exe")), data)

    def test_module_named_like_its_tds_file(self):
        data = modules.with_debug_block()
        write(self.path("x.tds"), data)
        code, out, _ = self.quillon("-w", "x.tds")
        self.assertEqual(code, 3)
        self.assertIn('x.tds: unable to create a TDS file, because the "x.tds" file is the module itself.',
                      unwrapped(out))
        self.assertEqual(read(self.path("x.tds")), data)

    def test_an_existing_module_is_never_replaced_by_a_tds_file(self):
        data, other = modules.with_debug_block(), modules.plain("x86_64", "dll")
        write(self.path("a.exe"), data)
        write(self.path("b.dll"), other)
        code, out, _ = self.quillon("-w", "a.exe", "b.dll")
        self.assertEqual(code, 3)
        self.assertIn('a.exe: unable to create a TDS file, because the "b.dll" file is a module and cannot be '
                      'replaced.', unwrapped(out))
        self.assertEqual(read(self.path("a.exe")), data)
        self.assertEqual(read(self.path("b.dll")), other)


if __name__ == "__main__":
    unittest.main()
