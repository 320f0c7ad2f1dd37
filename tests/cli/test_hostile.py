"""Hostile and unusual input through the whole program: every module gets its
clear message, the exit code is right, and the run goes on with the next
module."""
import contextlib
import fcntl
import os
import shutil
import subprocess
import tempfile
import unittest

import modules
from modules import read, write
from runner import NL, SEP, UNDER_WINE, WINE, run

NOT_PE = "The file is not a valid Portable Executable file."
FORMAT = "the module does not contain TD32 debug info or has an invalid or unknown debug info format."


def text_of(out):
    return out.decode("utf-8", "replace").replace(NL, " ")


class HostileCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillon-hostile-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.good = modules.with_debug_block("i686", "dll", block_size=3000)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def quillon(self, *args, cwd=None):
        return run(list(args), cwd=cwd or self.dir)


class Names(HostileCase):
    def test_names_outside_the_ansi_code_page_with_blanks_and_quotes(self):
        folder = "папка 目录 🎉"
        names = ["модуль.dll", "模块.dll", "😀 emoji.dll", "with blank.dll", "it's.dll"]
        if not UNDER_WINE:
            names.append('quo"te.dll')
        os.mkdir(self.path(folder))
        for name in names:
            write(self.path(folder, name), self.good)
        code, out, _ = self.quillon(f"{folder}{SEP}*.dll")
        self.assertEqual(code, 0, out)
        self.assertIn(f"{len(names)} module(s) processed, 0 module(s) failed.", text_of(out))
        for name in names:
            tds = self.path(folder, name[:-4] + ".tds")
            self.assertEqual(read(tds), self.good[-3000:], name)
        if not UNDER_WINE:
            # UTF-8 console output names every module as it is.
            for name in names:
                self.assertIn(f"{folder}/{name}: done.", text_of(out))

    @unittest.skipIf(UNDER_WINE, "file names are UTF-16 on Windows")
    def test_name_that_is_not_valid_utf8(self):
        raw = os.path.join(self.dir.encode(), b"bad\xff\xfename.dll")
        write(raw, self.good)
        code, out, _ = self.quillon("*.dll")
        self.assertEqual(code, 0, out)
        self.assertTrue(os.path.exists(os.path.join(self.dir.encode(), b"bad\xff\xfename.tds")))
        self.assertIn(b"bad\xff\xfename.dll: done.", out)


class ProblemFiles(HostileCase):
    """One run over a folder of problem files and one good module."""

    def test_problem_files_fail_one_by_one_and_the_run_goes_on(self):
        write(self.path("a-good.dll"), self.good)
        write(self.path("empty.dll"), b"")
        with open(self.path("huge.dll"), "wb") as f:
            f.truncate(4 * 1024 ** 3 + 512)  # sparse: takes no disk space
        expected = {"a-good.dll": "done.", "empty.dll": NOT_PE, "huge.dll": NOT_PE}
        if not UNDER_WINE:
            # Wine run as root does not enforce the read-only attribute.
            write(self.path("readonly.dll"), self.good)
            os.chmod(self.path("readonly.dll"), 0o444)
            expected["readonly.dll"] = "Access is denied."
        code, out, _ = self.quillon("*.dll")
        self.assertEqual(code, 2, out)
        for name, message in expected.items():
            self.assertIn(f"{name}: {message}", text_of(out))
        self.assertIn(f"1 module(s) processed, {len(expected) - 1} module(s) failed.", text_of(out))
        self.assertEqual(os.path.getsize(self.path("empty.dll")), 0)
        self.assertEqual(os.path.getsize(self.path("huge.dll")), 4 * 1024 ** 3 + 512)
        if not UNDER_WINE:
            self.assertEqual(read(self.path("readonly.dll")), self.good)
        for name in ("empty.tds", "huge.tds", "readonly.tds"):
            self.assertFalse(os.path.exists(self.path(name)))

    def test_module_locked_by_another_process(self):
        write(self.path("locked.dll"), self.good)
        write(self.path("other.dll"), self.good)
        with self.lock(self.path("locked.dll")):
            code, out, _ = self.quillon("*.dll")
        self.assertEqual(code, 2, out)
        # The system's text for a sharing violation (Wine words it its own way).
        sharing = ("Sharing violation." if UNDER_WINE
                   else "The process cannot access the file because it is being used by another process.")
        self.assertIn(f"locked.dll: {sharing}", text_of(out))
        self.assertIn("other.dll: done.", text_of(out))
        self.assertEqual(read(self.path("locked.dll")), self.good)
        self.assertFalse(os.path.exists(self.path("locked.tds")))

    @contextlib.contextmanager
    def lock(self, path):
        if not UNDER_WINE:
            with open(path, "rb") as f:
                fcntl.flock(f, fcntl.LOCK_EX)
                yield
            return
        # A Windows process that opens the file without sharing.
        source = self.path("holder.c")
        write(source, b"""#include <windows.h>
#include <stdio.h>
int main(int argc, char **argv) {
    HANDLE h = CreateFileA(argv[1], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) return 1;
    puts("locked"); fflush(stdout);
    getchar();
    CloseHandle(h);
    return 0;
}
""")
        holder = self.path("holder.exe")
        subprocess.run(["x86_64-w64-mingw32-gcc", "-o", holder, source], check=True)
        proc = self.start_holder(holder, os.path.basename(path))
        try:
            yield
        finally:
            proc.communicate(b"\n", timeout=60)

    def start_holder(self, holder, name):
        """Starts the holder and waits until it holds the file. A holder that
        ended without a word never ran (Wine failed to start it); it is
        started again, at most twice more."""
        for _ in range(3):
            proc = subprocess.Popen([WINE, holder, name], cwd=self.dir, stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, env=dict(os.environ, WINEDEBUG="-all"))
            line = proc.stdout.readline()
            if line:
                self.assertEqual(line.strip(), b"locked")
                return proc
            proc.communicate(timeout=60)
        self.fail("the holder program never reported that it holds the file")


class FullFileSystem(HostileCase):
    def setUp(self):
        super().setUp()
        self.mount = self.path("small")
        os.mkdir(self.mount)
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", self.mount],
                                capture_output=True)
        if result.returncode != 0:
            self.skipTest("cannot mount a small file system here: " + result.stderr.decode())
        self.addCleanup(subprocess.run, ["umount", "-l", self.mount])

    def test_tds_that_does_not_fit(self):
        big = modules.with_debug_block("x86_64", "dll", block_size=600 * 1024)
        small = modules.with_debug_block("x86_64", "dll", block_size=2000)
        write(os.path.join(self.mount, "a-big.dll"), big)
        write(os.path.join(self.mount, "b-small.dll"), small)
        code, out, _ = self.quillon("*.dll", cwd=self.mount)
        self.assertEqual(code, 2, out)
        self.assertIn("a-big.dll: failed to write data to the TDS file.", text_of(out))
        self.assertIn("b-small.dll: done.", text_of(out))
        self.assertEqual(read(os.path.join(self.mount, "a-big.dll")), big)
        self.assertFalse(os.path.exists(os.path.join(self.mount, "a-big.tds")))
        self.assertEqual(read(os.path.join(self.mount, "b-small.tds")), small[-2000:])


class LargeTrees(HostileCase):
    def test_fifty_levels_and_ten_thousand_modules(self):
        good, bad = modules.tiny_module(block_size=64), modules.tiny_module()
        folder = self.dir
        count = failing = 0
        for level in range(50):
            folder = os.path.join(folder, "d")
            os.mkdir(folder)
            for i in range(200):
                data = bad if i % 50 == 0 else good
                failing += data is bad
                write(os.path.join(folder, f"m{i}.dll"), data)
                count += 1
        self.assertEqual(count, 10000)
        code, out, _ = self.quillon("-r", "*.dll", cwd=self.dir)
        self.assertEqual(code, 2, out[-500:])
        self.assertIn(f"{count - failing} module(s) processed, {failing} module(s) failed.", text_of(out))
        deepest = os.path.join(*(["d"] * 50), "m1.dll")
        self.assertIn(f"{deepest.replace('/', SEP)}: done.", text_of(out))

    @unittest.skipIf(UNDER_WINE, "symbolic links are a POSIX matter here")
    def test_folder_link_back_up_the_tree_is_not_followed(self):
        os.mkdir(self.path("sub"))
        write(self.path("sub", "m.dll"), self.good)
        os.symlink("..", self.path("sub", "up"))
        code, out, _ = self.quillon("-r", "*.dll")
        self.assertEqual(code, 0, out)
        self.assertIn("1 module(s) processed, 0 module(s) failed.", text_of(out))


if __name__ == "__main__":
    unittest.main()
