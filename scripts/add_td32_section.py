#!/usr/bin/env python3
"""Appends a TD32 debug block to a PE module the way RAD-tool linkers lay it out.

The new last section ".debug" holds one 28-byte debug directory entry (type 0)
whose PointerToRawData and SizeOfData name the block, 4 bytes of padding, then
the TD32 block ("FB09" ... "FB09" + 32-bit size) running to the end of the
file. Data directory 6 points at the entry with Size 1 (or 28). The section's
raw size is exactly entry + padding + block, not rounded to the file alignment.

usage: add_td32_section.py MODULE [--block-size N] [--dir-size 1|28]
                           [--checksum | --no-checksum] [--seed S]
"""
import argparse
import random
import struct
import sys


def align(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def pe_checksum(data, checksum_offset):
    total = 0
    padded = data + (b"\0" if len(data) % 2 else b"")
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    # Leave the stored CheckSum field out of the sum.
    for (word,) in struct.iter_unpack("<H", data[checksum_offset:checksum_offset + 4]):
        total -= word
        if total < 0:
            total += 0xFFFF
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def td32_block(size, rng):
    if size < 12:
        raise SystemExit("block size must be at least 12")
    n = size - 12
    piece = 1 << 20
    body = b"".join(rng.randbytes(min(piece, n - i)) for i in range(0, n, piece))
    return b"FB09" + body + b"FB09" + struct.pack("<I", size)


def add_section(data, block_size, dir_size, checksum, rng):
    data = bytearray(data)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("not a PE module")
    coff = pe + 4
    nsections = struct.unpack_from("<H", data, coff + 2)[0]
    opt = coff + 20
    magic = struct.unpack_from("<H", data, opt)[0]
    fixed = 96 if magic == 0x10B else 112
    section_alignment, file_alignment = struct.unpack_from("<II", data, opt + 32)
    ndirs = struct.unpack_from("<I", data, opt + fixed - 4)[0]
    table = opt + fixed + ndirs * 8
    size_of_headers = struct.unpack_from("<I", data, opt + 60)[0]
    new_header = table + nsections * 40
    if new_header + 40 > size_of_headers:
        raise SystemExit("no room for another section header")
    if ndirs <= 6:
        raise SystemExit("module has no debug data directory slot")
    last = table + (nsections - 1) * 40
    last_vs, last_va, last_raw_size, last_raw_ptr = struct.unpack_from("<IIII", data, last + 8)
    if len(data) != last_raw_ptr + last_raw_size:
        # Trailing data (a COFF symbol table) would end up before the block.
        raise SystemExit("module has data after its last section; strip it first")

    raw_ptr = align(len(data), file_alignment)
    data += b"\0" * (raw_ptr - len(data))
    va = align(last_va + max(last_vs, last_raw_size), section_alignment)
    block_start = raw_ptr + 28 + 4
    entry = struct.pack("<IIHHIIII", 0, 0, 0, 0, 0, block_size, 0, block_start)
    raw = entry + b"\0" * 4 + td32_block(block_size, rng)
    data += raw

    name = b".debug\0\0"
    characteristics = 0x42000040  # initialized data, discardable, readable
    struct.pack_into("<8sIIIIIIHHI", data, new_header, name, len(raw), va, len(raw), raw_ptr,
                     0, 0, 0, 0, characteristics)
    struct.pack_into("<H", data, coff + 2, nsections + 1)
    struct.pack_into("<II", data, opt + fixed + 6 * 8, va, dir_size)
    struct.pack_into("<I", data, opt + 56, align(va + len(raw), section_alignment))

    checksum_offset = opt + 64
    struct.pack_into("<I", data, checksum_offset, 0)
    if checksum:
        struct.pack_into("<I", data, checksum_offset, pe_checksum(bytes(data), checksum_offset))
    return bytes(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("module")
    parser.add_argument("--block-size", type=int, default=4096)
    parser.add_argument("--dir-size", type=int, choices=(1, 28), default=1)
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--checksum", dest="checksum", action="store_true", default=True)
    group.add_argument("--no-checksum", dest="checksum", action="store_false")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    with open(args.module, "rb") as f:
        data = f.read()
    out = add_section(data, args.block_size, args.dir_size, args.checksum, random.Random(args.seed))
    with open(args.module, "wb") as f:
        f.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
