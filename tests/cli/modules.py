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


def tiny_module(block_size=0, seed=1):
    """A minimal PE32 DLL image (one .text section, about 1 KiB), with a TD32
    block appended when block_size is given: cheap enough for trees of
    thousands of modules."""
    data = bytearray(0x400)
    data[0:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, 0x80)
    data[0x80:0x84] = b"PE\0\0"
    coff = 0x84
    struct.pack_into("<HHIIIHH", data, coff, 0x14C, 1, 0, 0, 0, 224, 0x2102)
    opt = coff + 20
    struct.pack_into("<HBBIIIIIII", data, opt, 0x10B, 2, 0, 0x200, 0, 0, 0x1000, 0x1000, 0x2000, 0x10000000)
    struct.pack_into("<II", data, opt + 32, 0x1000, 0x200)
    struct.pack_into("<HHHHHH", data, opt + 40, 4, 0, 0, 0, 4, 0)
    struct.pack_into("<IIII", data, opt + 56, 0x2000, 0x200, 0, 3)
    struct.pack_into("<HH", data, opt + 68, 2, 0)
    struct.pack_into("<IIIIII", data, opt + 72, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    table = opt + 96 + 16 * 8
    struct.pack_into("<8sIIIIIIHHI", data, table, b".text\0\0\0", 0x10, 0x1000, 0x200, 0x200, 0, 0, 0, 0,
                     0x60000020)
    data[0x200:0x201] = b"\xC3"
    if block_size:
        return add_td32_section.add_section(bytes(data), block_size, 1, False, random.Random(seed))
    return bytes(data)
