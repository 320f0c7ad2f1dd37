"""Runs a Quillon build (native, or Windows under Wine) in a fresh folder per
test, on modules made from real mingw-w64 programs and DLLs with a TD32 block
appended the way RAD-tool linkers lay it out."""
import contextlib
import fcntl
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import add_td32_section  # noqa: E402

EXE = os.environ["QUILLON_EXE"]
MODULES = os.environ["QUILLON_MODULES"]
WINE = os.environ.get("QUILLON_WINE", "")  # the Wine loader of a Windows build
WINE_RUN = os.path.join(ROOT, "tests", "support", "wine-run.sh")
NL = "\r\n" if WINE else "\n"
SEP = "\\" if WINE else "/"

# The system's text for a file in use (Wine words it its own way).
SHARING = ("Sharing violation.\n" if WINE
           else "The process cannot access the file because it is being used by another process.\n")
FORMAT = "the module does not contain TD32 debug info or has an invalid or unknown debug info format."
VERSION = os.environ["QUILLON_VERSION"]  # the build's project() version
BANNER = ["Korvane TDS Debug Info Processor", f"Version {VERSION}. Copyright (c) 2026 Korvane. All rights reserved.", ""]
USAGE = [
    "Command line format:",
    "",
    "Syntax: Quillon [-r] [-w] module [TDS_file]",
    "",
    "    module - the path to the module(s) from which debug info will be extracted.",
    "The path can contain wildcards.",
    "    TDS_file - the path to the file to which debug info will be saved. If it is",
    "not specified, TD32 debug info is saved to the file whose name coincides with",
    "the module's name, but has the .TDS extension. If the <module> parameter",
    "contains wildcards or the -r switch is specified, this parameter is ignored.",
    "    -r - if this switch is specified, modules are searched for in all",
    "subfolders recursively.",
    "    -w - allows you to overwrite files.",
    "    -n - lists what would be done without changing any file.",
    "    -a - puts the debug info of the TDS file back into the module.",
    "    -l - finds the procedure and source line of each address.",
    "    -i - lists the TD32 debug info of a module or TDS file.",
    "",
]


def module(name):
    """The bytes of a real module: hello32.exe, hello64.exe, hellodll32.dll or hellodll64.dll."""
    with open(os.path.join(MODULES, name), "rb") as f:
        return f.read()


def with_block(name="hello64.exe", size=5000, checksum=False, dir_size=1, seed=1):
    data = module(name) if isinstance(name, str) else name  # a module's name or its bytes
    return add_td32_section.add_section(data, size, dir_size, checksum, random.Random(seed))


# An earlier .tds file: one TD32 block, which -w may replace.
EARLIER = add_td32_section.td32_block(24, random.Random(9))


def tiny_module(sections=2):
    """A PE32 module of that many sections, only the last with raw data (512
    bytes), with room for one more section header."""
    table_end = 0x40 + 24 + 224 + 40 * (sections + 1)
    first = (table_end + 0x1FF) // 0x200 * 0x200
    pe = first - table_end + 0x40
    data = bytearray(first + 0x200)
    data[0:2], data[0x3C:0x40], data[pe:pe + 4] = b"MZ", struct.pack("<I", pe), b"PE\0\0"
    struct.pack_into("<HHIIIHH", data, pe + 4, 0x14C, sections, 0, 0, 0, 224, 0x102)
    struct.pack_into("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", data, pe + 24, 0x10B, 2, 0, 0x200, 0, 0, 0x1000, 0x1000, 0,
                     0x400000, 0x1000, 0x200, 4, 0, 0, 0, 4, 0, 0, 0x1000 * (sections + 1), first, 0, 3, 0, 0x100000,
                     0x1000, 0x100000, 0x1000, 0, 16)
    for i in range(sections):
        raw = (0x200, first) if i == sections - 1 else (0, 0)
        struct.pack_into("<8sIIII", data, pe + 24 + 224 + 40 * i, b".s", 0x1000, 0x1000 * (i + 1), *raw)
    return bytes(data)


def u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0]


def put32(data, offset, value):
    data = bytearray(data)
    struct.pack_into("<I", data, offset, value)
    return bytes(data)


class Layout:
    """Offsets of the headers of a module held as bytes."""

    def __init__(self, data):
        self.coff = u32(data, 0x3C) + 4
        self.sections = struct.unpack_from("<H", data, self.coff + 2)[0]
        self.opt = self.coff + 20
        fixed = 96 if struct.unpack_from("<H", data, self.opt)[0] == 0x10B else 112
        self.directories = self.opt + fixed
        self.table = self.opt + struct.unpack_from("<H", data, self.coff + 16)[0]

    def section(self, i):
        return self.table + 40 * (i % self.sections)


def bound_imports(data, at):
    """The module with a bound import table at file offset at in its headers (grown by 0x200
    bytes if it would not fit), named by directory 11; no DLL matches it, so loaders bind anew."""
    table = struct.pack("<IHH", 0x12345678, 16, 0) + bytes(8) + b"KERNEL32.dll\0\0\0\0"
    lay, end = Layout(data), u32(data, Layout(data).opt + 60)  # SizeOfHeaders, where the raw data starts
    if at + len(table) > end:
        for pointer in (lay.section(i) + 20 for i in range(lay.sections) if u32(data, lay.section(i) + 20)):
            data = put32(data, pointer, u32(data, pointer) + 0x200)
        data = put32(data[:end] + bytes(0x200) + data[end:], lay.opt + 60, end + 0x200)
    data = data[:at] + table + data[at + len(table):]
    return put32(put32(data, lay.directories + 88, at), lay.directories + 92, len(table))


def unsized(data):
    """The module with its last section VirtualSize 0 and 0x1000 bytes longer in the file, and
    SizeOfImage a page larger: loaders map that section by its SizeOfRawData."""
    lay = Layout(data)
    last, data = lay.section(-1), put32(data, lay.opt + 56, u32(data, lay.opt + 56) + 0x1000)
    return put32(put32(data, last + 8, 0), last + 16, u32(data, last + 16) + 0x1000) + bytes(0x1000)


def loader(data):  # the Wine loader for the module's machine
    return "/usr/lib/wine/wine" + ("64" if struct.unpack_from("<H", data, Layout(data).coff)[0] == 0x8664 else "")


class Case(unittest.TestCase):
    """A test with its own folder, in which the program runs."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillon-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, rel):
        return os.path.join(self.dir, *rel.split("/"))

    def put(self, rel, data):
        os.makedirs(os.path.dirname(self.path(rel)), exist_ok=True)
        with open(self.path(rel), "wb") as f:
            f.write(data)

    def read(self, rel):
        with open(self.path(rel), "rb") as f:
            return f.read()

    def exists(self, rel):
        return os.path.lexists(self.path(rel))

    def state(self):
        """Every file below the folder with its bytes and time stamp, and the
        folder's own time stamp, which any file made and removed changes."""
        paths = [os.path.join(folder, name) for folder, _, names in os.walk(self.dir) for name in names]
        files = {path: (self.read(os.path.relpath(path, self.dir)), os.stat(path).st_mtime_ns) for path in paths}
        return files, os.stat(self.dir).st_mtime_ns

    @contextlib.contextmanager
    def locked(self, rel):
        """Holds the file open without sharing, from another process."""
        if not WINE:
            with open(self.path(rel), "rb") as f:
                fcntl.flock(f, fcntl.LOCK_EX)
                yield
            return
        # A Windows program that holds the file until it reads a line; started
        # again when Wine failed to start it.
        holder = os.path.join(self.dir, "..", os.path.basename(self.dir) + "-holder.exe")
        source = b'#include <windows.h>\n#include <stdio.h>\nint main(int c, char **v) {\n' \
                 b'  if (CreateFileA(v[1], GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0) == INVALID_HANDLE_VALUE) return 1;\n' \
                 b'  puts("locked"); fflush(stdout); getchar(); return 0;\n}\n'
        subprocess.run(["x86_64-w64-mingw32-gcc", "-x", "c", "-o", holder, "-"], input=source, check=True)
        self.addCleanup(os.remove, holder)
        for _ in range(3):
            proc = subprocess.Popen(["/usr/lib/wine/wine64", holder, rel.replace("/", SEP)], cwd=self.dir,
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=dict(os.environ, WINEDEBUG="-all"))
            if proc.stdout.readline().strip() == b"locked":
                break
            proc.communicate(timeout=60)
        else:
            self.fail("the holder program never held the file")
        try:
            yield
        finally:
            proc.communicate(b"\n", timeout=60)

    def quillon(self, *args, cwd=None, env=None, prefix=(), as_typed=False):
        """Runs the program (behind the command prefix, with env added to the
        environment); returns the exit code and its output as lines. A "/" in
        an argument that is no switch becomes the build's separator unless as_typed."""
        args = [a.replace("/", SEP) if isinstance(a, str) and a[:1] != "/" and not as_typed else a for a in args]
        command = list(prefix) + ([WINE_RUN, WINE, EXE] if WINE else [EXE])
        code, out, err = run(command + args, cwd or self.dir, env=env)
        self.assertEqual(err, b"")
        return code, out.decode("utf-8", "surrogateescape").split(NL)

    def assert_module_lines(self, lines, expected, summary, as_typed=False):
        """The lines between the banner and the summary, in any order, with
        the continuation lines of a wrapped message joined back on and the
        line break that ends a system's error text as "\n"."""
        self.assertEqual(lines[:3], BANNER)
        self.assertEqual(lines[-2:], [summary, ""])
        sep = "/" if as_typed else SEP
        self.assertEqual(sorted(module_lines(lines)), sorted(f"{p.replace('/', sep)}: {m}" for p, m in expected))

    def assert_listed_as_done(self, *args, prefix=()):
        """-n changes nothing and gives the real run's lines ("done." for "would move") and exit code."""
        before = self.state()
        listed = self.quillon("-n", *args, prefix=prefix)
        self.assertEqual(self.state(), before)
        code, lines = self.quillon(*args, prefix=prefix)
        self.assertEqual(code, listed[0])
        done = [re.sub(r": \d+ bytes of TD32 debug info would move to .*", ": done.", line)
                for line in module_lines(listed[1])]
        self.assertEqual(done, module_lines(lines))
        return code, lines


def module_lines(lines):
    """The lines between the banner and the summary, wrapped ones joined back."""
    found = []
    for line in lines[3:-2]:
        if found and ": " not in line:
            found[-1] += " " + line if line else "\n"
        else:
            found.append(line)
    return found


def run(cmd, cwd, timeout=600, env=None):
    proc = subprocess.run(cmd, cwd=cwd, env=dict(os.environ, WINEDEBUG="-all", **(env or {})), capture_output=True,
                          timeout=timeout)
    return proc.returncode, proc.stdout, proc.stderr


def summary(processed, failed):
    return f"{processed} module(s) processed, {failed} module(s) failed."
