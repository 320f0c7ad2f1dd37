"""-a puts the debug information of a .tds file back into its module: on
modules as the linker laid them out, stripping and attaching undo each other
byte for byte (the checksum mingw-w64 stored included; the stripped
programs run, test_extract), and every refusal leaves the module and the
.tds file alone."""
import os
import unittest

from quillon import (SHARING, WINE, WINE_RUN, Case, Layout, bound_imports, loader, module, put32, run, summary,
                     tiny_module, u32, unsized, with_block)

ALREADY = "the module already contains TD32 debug info."
NO_ROOM = "the module's section table has no room for another section."


class Attach(Case):
    def test_strip_and_attach_undo_each_other(self):
        """Also with bound imports after room for one more section header, with a last section that
        loaders map by its SizeOfRawData, and on a module stripped the old way; the programs run
        alike without and with the block."""
        made = {name: with_block(name, 6000 + len(name))
                for name in ["hello32.exe", "hello64.exe", "hellodll32.dll", "hellodll64.dll"]}
        made.update({"bound.exe": with_block(bound_imports(module("hello64.exe"), 0x340), 6000),
                     "unsized.exe": with_block(unsized(module("hello64.exe")), 6001),
                     "old.dll": with_block("hellodll32.dll", 6002)})
        for name, data in made.items():
            self.put(name, data)
        masks = ("*.exe", "*.dll")
        self.assertEqual([self.quillon(mask)[0] for mask in masks], [0, 0])
        stripped = {name: self.read(name) for name in made}
        tds = {name: self.read(name[:-4] + ".tds") for name in made}
        ran = {name: run([WINE_RUN, loader(data), name], self.dir) for name, data in made.items()
               if name.endswith(".exe") and not WINE}
        # An earlier release left the removed header after the shortened table: attaching takes its room.
        end = Layout(made["old.dll"]).section(-1)
        self.put("old.dll", stripped["old.dll"][:end] + made["old.dll"][end:end + 40] + stripped["old.dll"][end + 40:])
        self.assertEqual([self.quillon("-a", mask)[0] for mask in masks], [0, 0])
        for name in made:
            self.assertEqual(self.read(name), made[name])
            self.assertEqual(self.read(name[:-4] + ".tds"), tds[name])
        for name, before in ran.items():
            self.assertEqual((run([WINE_RUN, loader(made[name]), name], self.dir), before[0]), (before, 7))
        self.assertEqual([self.quillon("-w", mask)[0] for mask in masks], [0, 0])
        for name in made:
            self.assertEqual((self.read(name), self.read(name[:-4] + ".tds")), (stripped[name], tds[name]))

    def test_a_full_section_table_ends_only_its_module(self):
        block = with_block(size=3000)[-3000:]
        for name, data in (("a.exe", tiny_module(sections=65535)), ("b.exe", tiny_module())):
            self.put(name, data)
            self.put(name[0] + ".tds", block)
        code, lines = self.quillon("-a", "*.exe")
        self.assert_module_lines(lines, [("a.exe", NO_ROOM), ("b.exe", "done.")], summary(1, 1))

    def test_refusals_leave_the_module_and_the_tds_file_alone(self):
        block = with_block(size=3000)[-3000:]
        plain = module("hello64.exe")
        lay = Layout(plain)
        first_raw = min(u32(plain, lay.section(i) + 20) for i in range(lay.sections) if u32(plain, lay.section(i) + 20))
        signed = put32(put32(plain, lay.directories + 32, len(plain) - 8), lay.directories + 36, 8)
        # FileAlignment 32 and raw data at the first multiple of it after the table.
        crowded = put32(put32(plain, lay.opt + 36, 32), lay.section(0) + 20, (lay.table + 40 * lay.sections + 31) // 32 * 32)
        slot = lay.table + 40 * lay.sections  # where the added header goes; linkers leave it zero
        rows = {
            "stripped module with its block": (with_block(size=3000), block, ALREADY),
            "a .debug section": (plain[:lay.section(0)] + b".debug\0\0" + plain[lay.section(0) + 8:], block, ALREADY),
            "a debug directory": (put32(plain, lay.directories + 48, 0x1000), block, "the module already has a debug "
                                                                                   "directory."),
            "certificate data": (signed, block, "the module is signed: attaching debug info would break its signature."),
            "data after its last section": (plain + b"trailing", block, "the module has data after its last section."),
            "no room for a header": (crowded, block, NO_ROOM),
            "other data after the section table": (plain[:slot + 39] + b"\1" + plain[slot + 40:], block, NO_ROOM),
            "another section's header after the table": (plain[:slot] + plain[lay.table:lay.table + 40] +
                                                         plain[slot + 40:], block, NO_ROOM),
            "bound imports right after the section table": (bound_imports(plain, slot), block, NO_ROOM),
            "not a module": (b"MZ" * 100, block, "The file is not a valid Portable Executable file."),
            "a .tds file that is no block": (plain, block[:-1], 'the "m.tds" file does not contain TD32 debug info.'),
            "a .tds file that is too short": (plain, b"FB09FB09\x0c\0\0\0", 'the "m.tds" file does not contain TD32 '
                                                                            'debug info.'),
        }
        self.assertLess(lay.table + 40 * (lay.sections + 1), first_raw)  # the real module has room
        for name, (data, tds, message) in rows.items():
            with self.subTest(name):
                self.put("m.exe", data)
                self.put("m.tds", tds)
                for args in (["-a", "m.exe"], ["-n", "-a", "m.exe"]):
                    self.assertEqual(self.quillon(*args)[1][3:], [f"m.exe: {message}", summary(0, 1), ""])
                self.assertEqual((self.read("m.exe"), self.read("m.tds")), (data, tds))
        os.remove(self.path("m.tds"))
        self.assertEqual(self.quillon("-a", "m.exe")[1][3], 'm.exe: the "m.tds" file does not exist.')
        self.put("m.tds", block)
        with self.locked("m.exe"):
            self.assert_module_lines(self.quillon("-a", "m.exe")[1], [("m.exe", SHARING)], summary(0, 1))


if __name__ == "__main__":
    unittest.main()
