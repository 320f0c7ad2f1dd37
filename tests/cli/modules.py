"""Real Windows modules for the program tests: built with mingw-w64 once per
run, then given a TD32 debug block the way RAD-tool linkers lay it out."""
import functools
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import add_td32_section  # noqa: E402

PROGRAM_C = r"""
#include <stdio.h>
int main(int argc, char **argv)
{
    printf("stripped program says %d\n", argc * 21);
    return 7;
}
"""
LIBRARY_C = r"""
__declspec(dllexport) int answer(void) { return 42; }
"""
COMPILERS = {"i686": "i686-w64-mingw32-gcc", "x86_64": "x86_64-w64-mingw32-gcc"}
_cache = tempfile.mkdtemp(prefix="quillon-modules-")


@functools.lru_cache(maxsize=None)
def base_module(arch, kind):
    """Path of a freshly compiled, stripped program ("exe") or DLL ("dll")."""
    source = os.path.join(_cache, f"{kind}.c")
    with open(source, "w") as f:
        f.write(PROGRAM_C if kind == "exe" else LIBRARY_C)
    out = os.path.join(_cache, f"{arch}.{kind}")
    flags = ["-shared"] if kind == "dll" else []
    subprocess.run([COMPILERS[arch], "-O1", "-s", *flags, "-o", out, source], check=True)
    return out


def with_debug_block(arch="x86_64", kind="exe", block_size=5000, dir_size=1, checksum=True, seed=1):
    """Bytes of a module with a ".debug" section holding a TD32 block."""
    with open(base_module(arch, kind), "rb") as f:
        data = f.read()
    return add_td32_section.add_section(data, block_size, dir_size, checksum, random.Random(seed))


def plain(arch="x86_64", kind="exe"):
    with open(base_module(arch, kind), "rb") as f:
        return f.read()


class Layout:
    """Offsets of the headers of a module held as bytes."""

    def __init__(self, data):
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        self.coff = self.pe + 4
        self.nsections = struct.unpack_from("<H", data, self.coff + 2)[0]
        self.opt = self.coff + 20
        magic = struct.unpack_from("<H", data, self.opt)[0]
        self.fixed = 96 if magic == 0x10B else 112
        self.ndirs = struct.unpack_from("<I", data, self.opt + self.fixed - 4)[0]
        self.table = self.opt + self.fixed + self.ndirs * 8

    def section(self, i):
        return self.table + 40 * i

    def directory(self, i):
        return self.opt + self.fixed + 8 * i


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def copy(src, dst):
    shutil.copyfile(src, dst)
