"""One module at a time through the whole program: the TD32 block moves into
the .tds file and the module comes out as it was before the block was added;
every refusal leaves the module and any existing .tds file as they were."""
import os
import unittest

import pefile

from quillon import (EARLIER, FORMAT, SEP, WINE, WINE_RUN, Case, Layout, bound_imports, loader, module, put32, run,
                     summary, u32, unsized, with_block)

NOT_PE = "The file is not a valid Portable Executable file."
SMALL_ALIGNMENT = "The modules whose SectionAlignment value is less than the page size (4Kb) cannot be modified."


def expected_after_strip(original, data):
    """The original module, but for the CheckSum: recomputed when the module
    had one, else 0 still. The freed section header slot is zero again."""
    checksum = Layout(data).opt + 64
    stored = pefile.PE(data=original).generate_checksum() if u32(data, checksum) else 0
    return put32(original, checksum, stored)


def shapes():
    """Real programs of shapes loaders accept: a COFF symbol table behind the last section; bound
    imports past the section table's end rounded up, within SizeOfHeaders; a last section whose
    VirtualSize is 0; the section table where SizeOfOptionalHeader puts it, after 15 directories."""
    plain, hello32 = module("hello64.exe"), module("hello32.exe")
    return {"symbols.exe": module("hellosyms32.exe"), "bound.exe": bound_imports(plain, 0x400),
            "unsized.exe": unsized(plain), "dirs15.exe": put32(hello32, Layout(hello32).opt + 92, 15)}


class Success(Case):
    def test_real_modules_lose_exactly_their_block(self):
        """Also those of shapes(); with directory 6 Size 28, .debug has VirtualSize 0."""
        exes = {name: module(name) for name in ("hello32.exe", "hello64.exe")} | shapes()
        dlls = {name: module(name) for name in ("hellodll32.dll", "hellodll64.dll")}
        for mask, originals in (("*.exe", exes), ("*.dll", dlls)):
            made = {}
            for name, original in originals.items():
                # A debug directory Size of 28 counts bytes: one entry, whatever the block's size.
                for checksum, dir_size, size in ((True, 1, 7001), (False, 28, 100)):
                    key, data = f"{checksum}-{name}", with_block(original, size, checksum, dir_size)
                    made[key] = (original, data if dir_size == 1 else put32(data, Layout(data).section(-1) + 8, 0), size)
                    self.put(key, made[key][1])
            code, lines = self.quillon(mask)
            self.assertEqual(code, 0)
            self.assert_module_lines(lines, [(n, "done.") for n in made], summary(len(made), 0))
            for name, (original, data, size) in made.items():
                self.assertEqual(self.read(name[:-4] + ".tds"), data[-size:])
                self.assertEqual(self.read(name), expected_after_strip(original, data), name)
                self.assertEqual(pefile.PE(self.path(name)).get_warnings(), [], name)

    @unittest.skipIf(WINE, "the Windows builds write the same bytes, which the native run starts")
    def test_stripped_programs_still_run(self):
        """The programs, one loading the DLL its argument names, and those of shapes()."""
        programs = {f"hello{bits}.exe": [f"hellodll{bits}.dll"] for bits in ("32", "64")}
        for name in ["hello32.exe", "hello64.exe", "hellodll32.dll", "hellodll64.dll"]:
            self.put(name, with_block(name))
        for name, data in shapes().items():
            self.put(name, with_block(data))
            programs[name] = []
        runs = {name: [WINE_RUN, loader(self.read(name)), name] + args for name, args in programs.items()}
        before = {name: run(command, self.dir) for name, command in runs.items()}
        self.assertEqual(self.quillon("*.*")[0], 0)
        self.assertEqual({name: run(command, self.dir) for name, command in runs.items()}, before)
        self.assertEqual({code for code, _, _ in before.values()}, {7})
        self.assertEqual([b"QuillonTestAdd(2, 3) = 1005" in before[f"hello{bits}.exe"][1] for bits in ("32", "64")],
                         [True, True])


class Refusals(Case):
    def assert_refused(self, data, message, args=("m.exe",), tds="m.tds", tds_before=None):
        self.put("m.exe", data)
        code, lines = self.quillon(*args)
        self.assertEqual(code, 3)
        self.assert_module_lines(lines, [("m.exe", message)], summary(0, 1))
        self.assertEqual(self.read("m.exe"), data)
        self.assertEqual(self.read(tds) if self.exists(tds) else None, tds_before)

    def test_modules_without_a_sound_block(self):
        data = with_block(size=3000)
        lay = Layout(data)
        last, size = lay.section(-1), len(data)
        swapped = bytearray(data)  # ".debug" and the section before it trade names and raw data
        for field in (slice(0, 8), slice(16, 24)):
            a, b = slice(last + field.start, last + field.stop), slice(last - 40 + field.start, last - 40 + field.stop)
            swapped[a], swapped[b] = data[b], data[a]
        rows = {
            "no block": (module("hello64.exe"), FORMAT),
            "not a module": (b"FB09" * 40, NOT_PE),
            "size word 8": (put32(data, size - 4, 8), FORMAT),
            "size word of the whole file": (put32(data, size - 4, size), FORMAT),
            "size word beyond the file": (put32(data, size - 4, size + 100), FORMAT),
            "size word 0": (put32(data, size - 4, 0), "unknown error."),
            "broken head signature": (put32(data, size - 3000, 0x39304247), FORMAT),
            "two .debug sections": (data[:lay.section(0)] + b".debug\0\0" + data[lay.section(0) + 8:], FORMAT),
            ".DEBUG": (data[:last] + b".DEBUG\0\0" + data[last + 8:], FORMAT),
            ".debugX": (data[:last] + b".debugX\0" + data[last + 8:], FORMAT),
            ".debug not last": (put32(bytes(swapped), lay.directories + 48, 0), FORMAT),
            "data after the .debug section": (put32(data, last + 16, u32(data, last + 16) - 4), FORMAT),
            "debug directory outside": (put32(data, lay.directories + 48, u32(data, lay.section(0) + 12)), FORMAT),
            "debug directory too large": (put32(data, lay.directories + 52, 200), FORMAT),
            # Whatever else the section holds would be lost with it.
            "data before the block": (put32(data, size - 3000 - 4, 1), FORMAT),
            "entry for other data": (put32(data, size - 3000 - 16, 2999), FORMAT),
            "two debug entries": (put32(data, lay.directories + 52, 56), FORMAT),
            "section alignment 512": (put32(data, lay.opt + 32, 512), SMALL_ALIGNMENT),
            "file alignment above 64 KiB": (put32(data, lay.opt + 36, 0x20000), FORMAT),
            # No loader accepts a module without sections.
            "only section .debug": (data[:lay.coff + 2] + b"\1\0" + data[lay.coff + 4:lay.table]
                                    + data[last:last + 40] + data[lay.table + 40:], FORMAT),
        }
        for name, (bytes_, message) in rows.items():
            with self.subTest(name):
                self.assert_refused(bytes_, message)

    def test_tds_paths_that_are_refused(self):
        data = with_block()
        self.put("m.tds", b"earlier")
        self.assert_refused(data, 'unable to create a TDS file, because the "m.tds" file already exists.',
                            tds_before=b"earlier")
        self.put("ro.tds", EARLIER)
        os.chmod(self.path("ro.tds"), 0o444)
        self.assert_refused(data, 'unable to create the "ro.tds" file.', args=("-w", "m.exe", "ro.tds"),
                            tds_before=b"earlier")
        self.assertEqual(self.read("ro.tds"), EARLIER)
        # -w replaces an earlier .tds file only: not a program (a DOS one is no module) nor any other file.
        others = [("dos.exe", b"MZ" + bytes(62)), ("notes.txt", b"notes" * 10)]
        if WINE:  # elsewhere a module as the second name is taken for a second module
            others.append(("b.dll", module("hellodll64.dll")))
        for name, other in others:
            self.put(name, other)
            self.assert_refused(data, f'unable to create a TDS file, because the "{name}" file is not a TDS file and '
                                      'cannot be replaced.', args=("-w", "m.exe", name), tds_before=b"earlier")
            self.assertEqual(self.read(name), other)
        os.mkdir(self.path("dir.tds"))
        self.assert_refused(data, 'unable to create the "dir.tds" file.', args=("-w", "m.exe", "dir.tds"),
                            tds_before=b"earlier")
        if not WINE:
            return  # elsewhere a second argument that is a module is taken for one a shell expanded
        os.link(self.path("m.exe"), self.path("hard.tds"))
        for same in ["m.exe", f".{SEP}m.exe", "hard.tds", "M.EXE"]:
            self.assert_refused(data, f'unable to create a TDS file, because the "{same}" file is the module itself.',
                                args=("-w", "m.exe", same), tds_before=b"earlier")

    def test_a_module_named_like_its_tds_file_is_left_alone(self):
        data = with_block()
        self.put("x.tds", data)
        code, lines = self.quillon("-w", "x.tds")
        self.assertEqual(code, 3)
        self.assert_module_lines(lines, [("x.tds", 'unable to create a TDS file, because the "x.tds" file is the '
                                                   'module itself.')], summary(0, 1))
        self.assertEqual(self.read("x.tds"), data)


if __name__ == "__main__":
    unittest.main()
