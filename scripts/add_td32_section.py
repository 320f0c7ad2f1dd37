#!/usr/bin/env python3
"""Appends a TD32 debug block to a PE module the way RAD-tool linkers lay it out.

The new last section ".debug" starts where the file ended (after any data
behind the last section, such as a COFF symbol table, padded with zeros to
the file alignment). Its raw data is a 28-byte debug directory entry (type
0) naming the block, 4 zero bytes, then the TD32 block ("FB09" ... "FB09" +
32-bit size), raw and virtual size exactly that; Characteristics
0x40000040. Data directory 6 points at the entry with Size 1 (or 28).
NumberOfSections, SizeOfImage and SizeOfHeaders follow; the CheckSum is 0
unless --checksum asks for a computed one. The headers are read as loaders
read them: the section table where SizeOfOptionalHeader puts it, and
SizeOfRawData as the size of a section whose VirtualSize is 0.

usage: add_td32_section.py MODULE [--block-size N] [--dir-size 1|28]
                           [--checksum] [--seed S]
"""
import argparse
import random
import struct
import sys


def align(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def pe_checksum(data, checksum_offset):
    total = 0
    for (word,) in struct.iter_unpack("<H", data + b"\0" * (len(data) % 2)):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    for (word,) in struct.iter_unpack("<H", data[checksum_offset:checksum_offset + 4]):
        total = total - word if total >= word else ((total - word) & 0xFFFF) - 1
    return (total + len(data)) & 0xFFFFFFFF


def td32_block(size, rng):
    body = b"".join(rng.randbytes(min(1 << 20, size - 12 - i)) for i in range(0, size - 12, 1 << 20))
    return b"FB09" + body + b"FB09" + struct.pack("<I", size)


def add_section(data, block_size, dir_size=1, checksum=False, rng=None, block=None):
    """Appends a random block of block_size bytes, or the given block."""
    data = bytearray(data)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("not a PE module")
    coff, opt = pe + 4, pe + 24
    nsections = struct.unpack_from("<H", data, coff + 2)[0]
    fixed = 96 if struct.unpack_from("<H", data, opt)[0] == 0x10B else 112
    section_alignment, file_alignment = struct.unpack_from("<II", data, opt + 32)
    optional_size = struct.unpack_from("<H", data, coff + 16)[0]
    ndirs = min(struct.unpack_from("<I", data, opt + fixed - 4)[0], (optional_size - fixed) // 8)
    header = opt + optional_size + nsections * 40
    sections = [struct.unpack_from("<IIII", data, header - 40 * (nsections - i) + 8) for i in range(nsections)]
    last_vs, last_va, last_raw_size, last_raw_ptr = sections[-1]
    first_raw = min(ptr for _, _, raw_size, ptr in sections if ptr and raw_size)
    if ndirs <= 6 or header + 40 > first_raw:
        raise SystemExit("no room for the section: no debug directory slot or a full section table")
    data += b"\0" * (align(len(data), file_alignment) - len(data))
    raw_ptr = len(data)
    va = align(last_va + (last_vs or last_raw_size), section_alignment)
    block = block or td32_block(block_size, rng or random.Random(1))
    block_size = len(block)
    data += struct.pack("<IIHHIIII", 0, 0, 0, 0, 0, block_size, va + 32, raw_ptr + 32) + b"\0" * 4 + block
    size = 32 + block_size
    struct.pack_into("<8sIIIIIIHHI", data, header, b".debug", size, va, size, raw_ptr, 0, 0, 0, 0, 0x40000040)
    struct.pack_into("<H", data, coff + 2, nsections + 1)
    struct.pack_into("<II", data, opt + fixed + 6 * 8, va, dir_size)
    headers = max(struct.unpack_from("<I", data, opt + 60)[0], align(header + 40, file_alignment))
    struct.pack_into("<III", data, opt + 56, align(va + size, section_alignment), headers, 0)
    if checksum:
        struct.pack_into("<I", data, opt + 64, pe_checksum(bytes(data), opt + 64))
    return bytes(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("module")
    parser.add_argument("--block-size", type=int, default=4096)
    parser.add_argument("--dir-size", type=int, choices=(1, 28), default=1)
    parser.add_argument("--checksum", action="store_true")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    with open(args.module, "rb") as f:
        data = f.read()
    data = add_section(data, args.block_size, args.dir_size, args.checksum, random.Random(args.seed))
    with open(args.module, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    sys.exit(main())
