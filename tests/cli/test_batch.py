"""The command line and the batch run: help and usage, masks, the subfolder
walk, per-module lines, search errors, the summary and every exit code."""
import os
import unittest

from quillon import BANNER, EARLIER, EXE, FORMAT, SEP, SHARING, USAGE, WINE, Case, module, summary, u32, with_block

INVALID = BANNER + ["Invalid command-line parameters.", ""] + USAGE + [""]
SEARCH_ERROR = "An error occurred while searching in the following folder: "
CREATE_EXISTS = 'unable to create a TDS file, because the "c.tds" file already exists.'
CLAIMED = 'unable to create a TDS file, because the "%s" file was created for another module in this run.'


class CommandLine(Case):
    def test_help_and_invalid_command_lines(self):
        lead = "Use this tool to remove TDS debug info from a module and save it to a file."
        for args, code, lines in [
            (["/?"], 0, BANNER + [lead] + USAGE + [""]),
            (["-?"], 0, BANNER + [lead] + USAGE + [""]),
            (["-h"], 0, BANNER + [lead] + USAGE + [""]),
            (["--help"], 0, BANNER + [lead] + USAGE + [""]),
            ([], 5, INVALID),
            (["-r"], 5, INVALID),
            (["-w", "-r"], 5, INVALID),
            (["/W", "/R"], 5, INVALID),
        ] + [(["a.dll", "b.tds", "c.tds"], 5, INVALID)] * bool(WINE):
            with self.subTest(args=args):
                self.assertEqual(self.quillon(*args), (code, lines))
        code, lines = self.quillon("/?", "x")  # a mask then, and a .tds path
        self.assertNotIn(code, (0, 5))
        self.assertNotIn(lead, lines)

    def test_switches_and_a_tds_path_that_masks_and_recursion_ignore(self):
        self.put("a.dll", with_block())
        self.put("sub/b.dll", with_block())
        self.assertEqual(self.quillon("*.dll", "x.tds")[0], 0)
        self.assertEqual(self.quillon("-R", "/W", "b.dll", "y.tds")[0], 0)
        self.assertFalse(self.exists("x.tds") or self.exists("y.tds"))
        self.assertTrue(self.exists("a.tds") and self.exists("sub/b.tds"))

    @unittest.skipIf(WINE, "on Windows the program expands masks itself")
    def test_names_a_shell_expanded_are_modules_each(self):
        for name in ("a.dll", "b.dll", "c.dll", "d.dll"):
            self.put(name, with_block())
        self.assert_module_lines(self.quillon("a.dll", "b.dll", "c.dll")[1],
                                 [("a.dll", "done."), ("b.dll", "done."), ("c.dll", "done.")], summary(3, 0))
        self.assertEqual(self.quillon("-w", "d.dll", "a.dll")[0], 2)  # a.dll, stripped, is still a module
        self.assertTrue(self.exists("d.tds"))
        self.put("e.dll", with_block())
        self.assertEqual(self.quillon("e.dll", "x.tds")[0], 0)  # no module: the .tds path
        self.assertTrue(self.exists("x.tds") and not self.exists("e.tds"))
        for name in ("x?.dll", "xy.dll", "z?.dll"):  # a name the shell found is that file, no mask
            self.put(name, with_block())
        self.assertEqual((self.quillon("x?.dll", "xy.dll")[0], self.quillon("z?.dll", "y.tds")[0]), (0, 0))
        self.assertTrue(self.exists("y.tds") and not self.exists("z?.tds"))

    @unittest.skipIf(WINE, "arguments and names are UTF-16 on Windows")
    def test_arguments_and_names_that_are_not_valid_utf8(self):
        self.put("x.dll", with_block())
        os.rename(self.path("x.dll"), os.path.join(self.dir.encode(), b"bad\xff.dll"))
        code, lines = self.quillon(b"\xff\xfe-missing.dll")
        self.assertEqual((code, lines[-3:]), (1, ["No modules were found.", summary(0, 0), ""]))
        code, lines = self.quillon("*.dll")
        self.assertEqual((code, lines[3]), (0, "bad\udcff.dll: done."))
        self.assertTrue(os.path.exists(os.path.join(self.dir.encode(), b"bad\xff.tds")))


def would_move(tds, size=100):
    return f'{size} bytes of TD32 debug info would move to "{tds}".'


class Paths(Case):
    def test_the_separators_typed_name_the_module_and_stay_in_the_paths_printed(self):
        for rel in ("a.exe", "d/a.exe", "d/b.exe", "d/e/c.exe", "d/e/f/g.exe", "dir.x/tool", "dir.x/x.y.dll"):
            self.put(rel, with_block(size=100))
        ab = [("d/a.exe", "d/a.tds"), ("d/b.exe", "d/b.tds")]
        deeper = [("d/e/c.exe", "d/e/c.tds"), ("d/e/f/g.exe", "d/e/f/g.tds")]
        rows = [(["d/a.exe"], ab[:1]), (["d/*.exe"], ab),  # not a.exe beside the program for d/a.exe
                (["dir.x/*"], [("dir.x/tool", "dir.x/tool.tds"), ("dir.x/x.y.dll", "dir.x/x.y.tds")]),
                (["-r", "d/*.exe"], ab + deeper)]
        if WINE:  # a folder named d\e on Linux
            rows += [(["-r", "d\\e/*.exe"], [tuple(p.replace("d/e", "d\\e") for p in pair) for pair in deeper])]
        for args, found in rows:
            with self.subTest(args=args):
                lines = self.quillon("-n", *args, as_typed=True)[1]
                self.assert_module_lines(lines, [(m, would_move(t)) for m, t in found], summary(len(found), 0), True)
        self.assert_module_lines(self.quillon("d/a.exe", as_typed=True)[1], [("d/a.exe", "done.")], summary(1, 0), True)
        self.assertTrue(self.exists("d/a.tds") and not self.exists("a.tds"))  # a.exe beside it left alone

    def test_a_tds_path_longer_than_260_characters(self):  # test_hostile walks a tree deeper than 300
        deep, made = "/".join(["d" * 60] * 5), with_block(size=100)
        path, tds, shown = deep + "/m.exe", deep + "/x.tds", (deep + "/x.tds").replace("/", SEP)  # 310 characters
        self.put(path, made)
        attach = f'100 bytes of TD32 debug info would move from "{shown}" into the module.'
        for args, message in [(["-n", path, tds], would_move(shown)), ([path, tds], "done."),
                              (["-n", "-a", path, tds], attach), (["-a", path, tds], "done.")]:
            with self.subTest(args=args[:2]):
                self.assert_module_lines(self.quillon(*args)[1], [(path, message)], summary(1, 0))
        self.assertEqual((self.read(path), self.read(tds)), (made, made[-100:]))
        if WINE:  # where Windows allows it, long paths work without the "\\?\" form too
            with open(EXE, "rb") as f:
                image = f.read()
            self.assertIn(b"<ws2:longPathAware>true</ws2:longPathAware>", image)
            # and it may use 4 GiB of address space, to map large .tds files (-l, -i)
            self.assertTrue(u32(image, u32(image, 0x3C) + 20) >> 16 & 0x20)


class ListMode(Case):
    def test_lists_what_a_run_would_do_and_changes_nothing(self):
        block = with_block(size=4321)
        for name, data in (("a.dll", block), ("b.dll", module("hellodll64.dll")), ("c.dll", block), ("d.dll", block)):
            self.put(name, data)
        self.put("c.tds", EARLIER)
        os.mkdir(self.path("e.tds"))
        self.put("e.dll", block)
        would = 'bytes of TD32 debug info would move to'
        failures = [("b.dll", FORMAT), ("d.dll", SHARING), ("e.dll", 'unable to create the "e.tds" file.')]
        with self.locked("d.dll"):
            code, lines = self.quillon("/N", "*.dll")
            self.assertEqual(code, 2)
            self.assert_module_lines(lines, [("a.dll", f'4321 {would} "a.tds".'), ("c.dll", CREATE_EXISTS)] + failures,
                                     summary(1, 4))
            code, lines = self.assert_listed_as_done("-w", "*.dll")  # the same lines as the real run's
            self.assertEqual(code, 2)
            self.assert_module_lines(lines, [("a.dll", "done."), ("c.dll", "done.")] + failures, summary(2, 3))
        self.assertEqual((self.read("d.dll"), self.exists("d.tds")), (block, False))  # a module in use stays whole

    def test_lists_the_real_run_s_line_where_only_the_run_would_tell(self):
        # The temporary name beside a .tds name of 252 bytes stays within the
        # 255-byte limit too; a name that is too long fails in both (Windows
        # cannot tell without writing: the manual says so).
        for name in ("x" * 248 + ".exe", "y" * 253)[:1 if WINE else 2]:
            self.put("m.exe", with_block())
            os.rename(self.path("m.exe"), self.path(name))
            self.assertEqual(self.assert_listed_as_done(name)[0], 0 if name[0] == "x" else 3)
            self.assertEqual(len(os.listdir(self.dir)), 2 if name[0] == "x" else 3)  # no temporary file left
        if WINE or os.geteuid() != 0:
            return  # root may write anywhere
        os.chmod(self.dir, 0o755)
        self.put("ro/m.exe", with_block())
        os.chmod(self.path("ro/m.exe"), 0o666)
        nobody = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
        code, lines = self.assert_listed_as_done("ro/m.exe", prefix=nobody)
        self.assert_module_lines(lines, [("ro/m.exe", 'unable to create the "ro/m.tds" file.')], summary(0, 1))


class Batch(Case):
    def test_a_tds_file_made_in_this_run_is_never_replaced(self):
        # Two modules whose .tds paths name one file, spelled alike or not:
        # the first one's block stays there, the second module stays as it is.
        other = "A.dll" if WINE else "a.dll"  # Windows names ignore case
        sizes = {"a.exe": 3000, other: 4000}
        blocks = {"a.exe": with_block(size=3000), other: with_block("hellodll64.dll", 4000)}
        spellings = [{"a.exe": "a.tds", other: other[:-4] + ".tds"}] + [{"./a.exe": "./a.tds", "a.dll": "a.tds"}] * (
            not WINE)
        for flags in ((), ("-w",)):
            for paths in spellings:
                with self.subTest(flags=flags, paths=paths):
                    for name in os.listdir(self.dir):
                        os.remove(self.path(name))
                    for name, data in blocks.items():
                        self.put(name, data)
                    code, lines = self.assert_listed_as_done(*flags, *(["*"] if "a.exe" in paths else paths))
                    first, later = sorted(paths, key=lambda path: f"{path}: done." not in lines)
                    self.assert_module_lines(lines, [(first, "done."), (later, CLAIMED % paths[later])], summary(1, 1))
                    self.assertEqual(code, 2)
                    name = os.path.basename(first)  # its .tds file is spelled as its path gives it
                    self.assertEqual(self.read(paths[first]), blocks[name][-sizes[name]:])
                    self.assertEqual(self.read(later), blocks[os.path.basename(later)])

    def test_masks_give_one_line_a_module_and_the_exit_code_of_the_counts(self):
        good, bad = with_block("hellodll64.dll"), module("hellodll64.dll")
        for name, data in (("a1.dll", good), ("a2.dll", good), ("a10.dll", good), ("b1.dll", bad), ("b2.dll", bad)):
            self.put(name, data)
        os.mkdir(self.path("lib.dll"))  # a folder that matches is no module
        code, lines = self.quillon("a?.dll")
        self.assertEqual(code, 0)
        self.assert_module_lines(lines, [("a1.dll", "done."), ("a2.dll", "done.")], summary(2, 0))
        code, lines = self.quillon("-w", "*1*.dll")
        self.assertEqual(code, 2)
        self.assert_module_lines(lines, [("a1.dll", FORMAT), ("a10.dll", "done."), ("b1.dll", FORMAT)], summary(1, 2))
        self.assertEqual(self.quillon("b2.dll")[0], 3)
        self.assertEqual(self.quillon("*.exe")[1][3:], ["No modules were found.", summary(0, 0), ""])
        self.assertEqual(self.quillon("lib.dll")[0], 1)

    def test_subfolders_are_walked_depth_first_whatever_the_mask(self):
        paths = ["x.dll", "one/x.dll", "one/deep/x.dll", "one/deep/deeper/x.dll", "two.old/x.dll"]
        for rel in paths:
            self.put(rel, with_block())
        code, lines = self.quillon("-r", "x.dll")
        self.assertEqual(code, 0)
        found = [line.split(": ")[0].replace(SEP, "/") for line in lines[3:-2]]
        # Each folder's modules, then its subfolders, each walked completely.
        self.assertIn(found, [paths, paths[:1] + paths[-1:] + paths[1:-1]])
        self.assertEqual(lines[-2], summary(5, 0))

    def test_folder_searches_that_fail(self):
        self.assertEqual(self.quillon("missing/*.dll"), (4, BANNER + [SEARCH_ERROR + "missing", summary(0, 0), ""]))
        self.assertEqual(self.quillon("-r", "missing/*.dll")[1][3:5], [SEARCH_ERROR + "missing"] * 2)
        # Too long for one line: the wrap breaks after the colon.
        self.assertEqual(self.quillon("f" * 70 + "/*.dll")[1][3:5], [SEARCH_ERROR.strip(), "f" * 70])

    @unittest.skipUnless(WINE, "drive letters exist on Windows only")
    def test_drive_roots(self):
        devices = os.path.join(os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine")), "dosdevices")
        for letter in "qrstuvwxy":  # the first free one: builds run side by side in one prefix
            try:
                os.symlink(self.dir, os.path.join(devices, letter + ":"))
                break
            except FileExistsError:
                continue
        self.addCleanup(os.remove, os.path.join(devices, letter + ":"))
        self.put("a.dll", with_block())
        self.put("b.dll", with_block())
        self.assert_module_lines(self.quillon(f"{letter}:/a.dll", as_typed=True)[1], [(f"{letter}:/a.dll", "done.")],
                                 summary(1, 0), True)
        self.assert_module_lines(self.quillon(f"{letter}:b.dll")[1], [(f"{letter}:b.dll", "done.")], summary(1, 0))

if __name__ == "__main__":
    unittest.main()
