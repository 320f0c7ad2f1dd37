"""Hostile and unusual input through the whole program: every module gets its
clear message, the exit code is right, nothing is lost, and the run goes on
with the next module."""
import os
import subprocess
import unittest

from quillon import EARLIER, SEP, WINE, Case, summary, with_block

NOT_PE = "The file is not a valid Portable Executable file."


class Hostile(Case):
    def setUp(self):
        super().setUp()
        self.good = with_block("hellodll32.dll", 3000)

    def test_names_in_other_scripts_with_blanks_and_quotes(self):
        names = ["модуль.dll", "模块.dll", "😀 emoji.dll", "with blank.dll", "it's.dll"] + ([] if WINE else ['quo"te.dll'])
        for name in names:
            self.put(f"папка 目录/{name}", self.good)
        code, lines = self.quillon("папка 目录/*.dll")
        self.assertEqual((code, lines[-2]), (0, summary(len(names), 0)))
        for name in names:
            self.assertEqual(self.read(f"папка 目录/{name[:-4]}.tds"), self.good[-3000:])
            if not WINE:  # UTF-8 output names every module as it is
                self.assertIn(f"папка 目录/{name}: done.", lines)

    def test_problem_files_fail_one_by_one(self):
        self.put("a-good.dll", self.good)
        self.put("empty.dll", b"")
        with open(self.path("huge.dll"), "wb") as f:
            f.truncate(4 * 1024 ** 3 + 512)  # sparse: takes no disk space
        expected = [("a-good.dll", "done."), ("empty.dll", NOT_PE), ("huge.dll", NOT_PE)]
        if not WINE:  # Wine run as root does not enforce the read-only attribute
            self.put("readonly.dll", self.good)
            os.chmod(self.path("readonly.dll"), 0o444)
            expected.append(("readonly.dll", "Access is denied.\n"))
        code, lines = self.quillon("*.dll")
        self.assertEqual(code, 2)
        self.assert_module_lines(lines, expected, summary(1, len(expected) - 1))
        self.assertEqual(os.path.getsize(self.path("huge.dll")), 4 * 1024 ** 3 + 512)
        self.assertEqual(self.read("empty.dll"), b"")
        if not WINE:
            self.assertEqual(self.read("readonly.dll"), self.good)
        self.assertEqual(sorted(n for n in os.listdir(self.dir) if n.endswith(".tds")), ["a-good.tds"])

    def test_a_tds_file_that_does_not_fit(self):
        mount = self.path("small")
        os.mkdir(mount)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", mount]).returncode != 0:
            self.skipTest("cannot mount a small file system here")
        self.addCleanup(subprocess.run, ["umount", "-l", mount])
        big, small = with_block("hellodll64.dll", 600 * 1024), with_block("hellodll64.dll", 2000)
        self.put("small/a-big.dll", big)
        self.put("small/a-big.tds", EARLIER)
        self.put("small/b-small.dll", small)
        code, lines = self.quillon("-w", "*.dll", cwd=mount)
        self.assertEqual(code, 2)
        self.assert_module_lines(lines, [("a-big.dll", "failed to write data to the TDS file."),
                                         ("b-small.dll", "done.")], summary(1, 1))
        self.assertEqual(self.read("small/a-big.dll"), big)
        self.assertEqual(self.read("small/a-big.tds"), EARLIER)  # whole until a new one is complete
        self.assertEqual(self.read("small/b-small.tds"), small[-2000:])
        self.assertEqual(sorted(os.listdir(mount)), ["a-big.dll", "a-big.tds", "b-small.dll", "b-small.tds"])

    @unittest.skipIf(WINE, "the shim is for the native program")
    def test_a_folder_that_cannot_be_flushed(self):
        # A file system that does not flush folders (EINVAL, ENOTSUP) flushed
        # the file itself; any other failure keeps the new .tds file, whole,
        # leaves the module as it was, and says so.
        data, asan = with_block(size=3000), os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
        for error, code in ((22, 0), (95, 0), (5, 3)):
            self.put("a.exe", data)
            self.put("a.tds", EARLIER)
            shim = {"LD_PRELOAD": os.environ["QUILLON_FSYNC_SHIM"], "QUILLON_FOLDER_FSYNC_ERRNO": str(error)}
            self.assertEqual(self.quillon("-w", "a.exe", env=dict(shim, ASAN_OPTIONS=asan))[0], code, error)
            self.assertEqual((self.read("a.tds"), self.read("a.exe") == data), (data[-3000:], code == 3))

    def test_a_deep_tree_and_a_folder_link_back_up_it(self):
        bad = self.good[:-4] + b"\0\0\0\0"
        folder = ""
        for level in range(50):
            folder += "dddddd/"  # 350 characters deep: the Windows build needs long paths there
            for i in range(20):
                self.put(f"{folder}m{i}.dll", bad if i == 0 else self.good)
        if not WINE:  # symbolic links are a POSIX matter here
            os.symlink("..", self.path("dddddd/dddddd/up"))
        code, lines = self.quillon("-r", "*.dll")
        self.assertEqual((code, lines[-2]), (2, summary(50 * 19, 50)))
        self.assertIn(f"{SEP.join(['dddddd'] * 50)}{SEP}m1.dll: done.", lines)


if __name__ == "__main__":
    unittest.main()
