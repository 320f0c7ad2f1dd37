"""The batch run: masks, the subfolder walk, per-module lines, the summary
and every exit code."""
import os
import shutil
import tempfile
import unittest

import modules
from modules import write
from runner import NL, SEP, UNDER_WINE, run

FORMAT = "the module does not contain TD32 debug info or has an invalid or unknown debug info format."


def lines(out):
    return out.decode("utf-8", "replace").split(NL)


def module_lines(out):
    """The per-module lines between the banner and the summary, each with its
    wrapped continuation lines joined back on."""
    result = []
    for line in lines(out)[3:-2]:
        if line.startswith("An error occurred") or line == "No modules were found.":
            continue
        if ": " in line:
            result.append(line)
        else:
            result[-1] += " " + line
    return result


class BatchCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillon-batch-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.good = modules.with_debug_block("x86_64", "dll")
        self.bad = modules.plain("x86_64", "dll")

    def put(self, rel, data):
        path = os.path.join(self.dir, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write(path, data)

    def quillon(self, *args):
        return run([a.replace("/", SEP) for a in args], cwd=self.dir)

    @staticmethod
    def p(rel):
        return rel.replace("/", SEP)


class Masks(BatchCase):
    def test_typical_run_one_done_one_failed(self):
        self.put("build/a.dll", self.good)
        self.put("build/b.dll", self.bad)
        code, out, _ = self.quillon("-w", "build/*.dll")
        self.assertEqual(code, 2, out)
        self.assertEqual(sorted(module_lines(out)),
                         [f"{self.p('build/a.dll')}: done.", f"{self.p('build/b.dll')}: {FORMAT}"])
        self.assertEqual(lines(out)[-2], "1 module(s) processed, 1 module(s) failed.")
        self.assertTrue(os.path.exists(os.path.join(self.dir, "build", "a.tds")))
        self.assertFalse(os.path.exists(os.path.join(self.dir, "build", "b.tds")))

    def test_wildcards_question_mark_and_star(self):
        for name in ("a1.dll", "a2.dll", "a10.dll", "b1.dll"):
            self.put(name, self.good)
        code, out, _ = self.quillon("a?.dll")
        self.assertEqual(code, 0, out)
        self.assertEqual(sorted(module_lines(out)), ["a1.dll: done.", "a2.dll: done."])
        code, out, _ = self.quillon("-w", "*1*.dll")
        self.assertEqual(sorted(module_lines(out)),
                         ["a1.dll: " + FORMAT, "a10.dll: done.", "b1.dll: done."])
        self.assertEqual(code, 2)

    def test_mask_matching_nothing(self):
        self.put("x.dll", self.good)
        code, out, _ = self.quillon("*.exe")
        self.assertEqual(code, 1)
        self.assertEqual(lines(out)[-3:], ["No modules were found.", "0 module(s) processed, 0 module(s) failed.", ""])

    def test_all_failed(self):
        self.put("a.dll", self.bad)
        self.put("b.dll", self.bad)
        code, out, _ = self.quillon("*.dll")
        self.assertEqual(code, 3)
        self.assertEqual(lines(out)[-2], "0 module(s) processed, 2 module(s) failed.")

    def test_mask_naming_a_folder_finds_nothing(self):
        os.mkdir(os.path.join(self.dir, "lib"))
        code, out, _ = self.quillon("lib")
        self.assertEqual(code, 1)
        self.assertIn("No modules were found.", lines(out))

    def test_tds_argument_is_ignored_for_masks(self):
        self.put("a.dll", self.good)
        code, out, _ = self.quillon("*.dll", "x.tds")
        self.assertEqual(code, 0, out)
        self.assertTrue(os.path.exists(os.path.join(self.dir, "a.tds")))
        self.assertFalse(os.path.exists(os.path.join(self.dir, "x.tds")))

    def test_name_without_extension_and_dotted_folder(self):
        self.put("dir.old/tool", self.good)
        code, out, _ = self.quillon("dir.old/tool")
        self.assertEqual(code, 0, out)
        self.assertTrue(os.path.exists(os.path.join(self.dir, "dir.old", "tool.tds")))


class SearchErrors(BatchCase):
    def test_missing_folder(self):
        code, out, _ = self.quillon("missing/*.dll")
        self.assertEqual(code, 4)
        self.assertEqual(lines(out)[3:], ["An error occurred while searching in the following folder: missing",
                                          "0 module(s) processed, 0 module(s) failed.", ""])

    def test_missing_folder_recursive_reports_both_searches(self):
        code, out, _ = self.quillon("-r", "missing/*.dll")
        self.assertEqual(code, 4)
        error = "An error occurred while searching in the following folder: missing"
        self.assertEqual(lines(out)[3:5], [error, error])

    def test_long_search_error_line_breaks_after_the_colon(self):
        folder = "f" * 70
        code, out, _ = self.quillon(f"{folder}/*.dll")
        self.assertEqual(code, 4)
        self.assertEqual(lines(out)[3:5], ["An error occurred while searching in the following folder:", folder])


class Recursive(BatchCase):
    def test_depth_first_pre_order(self):
        for rel in ("x.dll", "one/x.dll", "one/deep/x.dll", "one/deep/deeper/x.dll", "two/x.dll", "lib.old/x.dll"):
            self.put(rel, self.good)
        code, out, _ = self.quillon("-r", "x.dll")
        self.assertEqual(code, 0, out)
        found = [line.split(": ")[0] for line in module_lines(out)]
        self.assertEqual(len(found), 6)
        self.assertEqual(found[0], "x.dll")
        # Each subfolder is walked completely before the next one starts.
        for sub in ("one", "two", "lib.old"):
            positions = [i for i, f in enumerate(found) if f.startswith(sub + SEP)]
            self.assertEqual(positions, list(range(positions[0], positions[0] + len(positions))))
        one = [f for f in found if f.startswith("one" + SEP)]
        self.assertEqual(one, [self.p("one/x.dll"), self.p("one/deep/x.dll"), self.p("one/deep/deeper/x.dll")])
        self.assertEqual(lines(out)[-2], "6 module(s) processed, 0 module(s) failed.")

    def test_tds_argument_is_ignored_with_recursion(self):
        self.put("a.dll", self.good)
        code, _, _ = self.quillon("-r", "a.dll", "x.tds")
        self.assertEqual(code, 0)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "x.tds")))

    def test_rerun_over_a_stripped_tree_keeps_every_tds(self):
        for rel in ("a.dll", "sub/b.dll"):
            self.put(rel, self.good)
        self.assertEqual(self.quillon("-w", "-r", "*.dll")[0], 0)
        tds = {rel: modules.read(os.path.join(self.dir, rel)) for rel in ("a.tds", "sub/b.tds")}
        code, _, _ = self.quillon("-w", "-r", "*.dll")
        self.assertEqual(code, 3)
        for rel, data in tds.items():
            self.assertEqual(modules.read(os.path.join(self.dir, rel)), data)


@unittest.skipUnless(UNDER_WINE, "drive letters exist on Windows only")
class Drives(BatchCase):
    def setUp(self):
        super().setUp()
        prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
        self.drive = os.path.join(prefix, "dosdevices", "q:")
        if os.path.lexists(self.drive):
            os.remove(self.drive)
        os.symlink(self.dir, self.drive)
        self.addCleanup(os.remove, self.drive)
        self.put("a.dll", self.good)

    def test_drive_root_mask(self):
        code, out, _ = self.quillon("q:\\*.dll")
        self.assertEqual(code, 0, out)
        self.assertEqual(module_lines(out), ["q:\\a.dll: done."])

    def test_bare_drive_mask(self):
        code, out, _ = self.quillon("q:*.dll")
        self.assertEqual(code, 0, out)
        self.assertEqual(module_lines(out), ["q:a.dll: done."])


if __name__ == "__main__":
    unittest.main()
