#!/usr/bin/env python3
"""Writes TD32 debug blocks as RAD-tool linkers lay them out (docs/td32-layout.md):
the head, a record per compilation unit (0x120), per unit its line numbers
(0x127) and symbols (0x125), the global types (0x12b), the name table (0x130),
the directory and the trailer.

As a program it writes a synthetic block of a given size for the benchmark,
with the proportions of the real blocks in ../shared/td32-samples: a third
names, a quarter symbols (each procedure with two locals and four more
records, as in the oldest sample), eight line entries a procedure, the rest
types.

usage: td32_block.py OUTPUT [--mib N] [--addresses FILE]
"""
import argparse
import random
import struct
import sys

SIGNATURE = b"FB09"


class Unit:
    """A compilation unit: files are (name, segment, [(offset, line), ...]),
    procedures (name, segment, offset, length, linkage or None)."""

    def __init__(self, name, files=(), procedures=()):
        self.name, self.files, self.procedures = name, list(files), list(procedures)


class Names:
    def __init__(self):
        self.parts, self.count = [], 0

    def add(self, name):
        data = name.encode() if isinstance(name, str) else name
        self.parts.append(bytes([len(data)]) + data + b"\0")
        self.count += 1
        return self.count

    def table(self):
        return struct.pack("<I", self.count) + b"".join(self.parts)


def unit_record(unit, names):
    spans = {}  # per segment: the stretch its procedures cover
    for _, seg, offset, length, _ in unit.procedures:
        low, high = spans.get(seg, (offset, offset + length))
        spans[seg] = (min(low, offset), max(high, offset + length))
    ranges = [struct.pack("<HHII", seg, 1, low, high - low) for seg, (low, high) in sorted(spans.items())]
    return struct.pack("<HHH2sI16x", 0, 0, len(ranges), b"VC", names.add(unit.name)) + b"".join(ranges)


def line_numbers(unit, names):
    n = len(unit.files)
    header_size, entry_size = 4 + 14 * n, 18
    tables, at = [], header_size + entry_size * n
    entries = []
    for name, seg, lines in unit.files:
        first, last = (lines[0][0], lines[-1][0]) if lines else (0, 0)
        entries.append(struct.pack("<HIIII", 1, names.add(name), at, first, last))
        offsets = struct.pack("<%dI" % len(lines), *(o for o, _ in lines))
        numbers = struct.pack("<%dH" % len(lines), *(line for _, line in lines))
        tables.append(struct.pack("<HH", seg, len(lines)) + offsets + numbers)
        at += len(tables[-1])
    header = struct.pack("<HH", n, n) + struct.pack("<%dI" % n, *(header_size + entry_size * i for i in range(n)))
    header += b"".join(e[10:18] for e in entries) + struct.pack("<%dH" % n, *(f[1] for f in unit.files))
    return header + b"".join(entries) + b"".join(tables)


def symbols(unit, names, locals_per_procedure=0, others=0):
    parts = [struct.pack("<I", 1)]
    for name, seg, offset, length, linkage in unit.procedures:
        tail = bytes([len(linkage)]) + linkage.encode() if linkage else b""
        kind = 0x205 if linkage else 0x204
        parts.append(struct.pack("<HH7IHHIII", 46 + len(tail), kind, 0, 0, 0, length, 0, length, offset, seg, 0,
                                 0x1000, names.add(name), 0) + tail)
        for i in range(locals_per_procedure):
            parts.append(struct.pack("<HHiIII", 18, 0x200, -4 * (i + 1), 0x74, names.add("Local%d" % i), 0))
        parts += [struct.pack("<HH18x", 20, 0x27)] * others
        parts.append(struct.pack("<HH", 2, 6))
    return b"".join(parts)


def build(units, names=None, size=0, locals_per_procedure=0, others=0):
    """The block for units; names may hold names added before (type names),
    and the types fill the block up to about size bytes."""
    names = names or Names()
    subsections = [(0x120, i + 1, unit_record(u, names)) for i, u in enumerate(units)]
    for i, u in enumerate(units):
        if u.files:
            subsections.append((0x127, i + 1, line_numbers(u, names)))
        subsections.append((0x125, i + 1, symbols(u, names, locals_per_procedure, others)))
    table = names.table()
    used = 32 + sum(len(s[2]) + 12 for s in subsections) + len(table) + 24
    subsections += [(0x12B, 0, bytes(max(0, size - used))), (0x130, 0, table)]
    body, directory, at = [], [], 8
    for kind, module, data in subsections:
        directory.append(struct.pack("<HHII", kind, module, at, len(data)))
        body.append(data)
        at += len(data)
    directory = struct.pack("<HHIII", 16, 12, len(subsections), 0, 0) + b"".join(directory)
    block = SIGNATURE + struct.pack("<I", at) + b"".join(body) + directory
    return block + SIGNATURE + struct.pack("<I", len(block) + 8)


def synthetic(size, seed=1):
    """A block of about size bytes with the proportions of real ones, and the
    procedures' (segment, offset)."""
    rng = random.Random(seed)
    procedures_total = size // 900  # a quarter of the block in symbols of about 225 bytes each
    per_unit = 125
    names = Names()
    for i in range(size // 3 // 40 - procedures_total * 3):  # type and member names
        names.add("T%dTypeName%s" % (i, "x" * rng.randrange(20, 40)))
    units, addresses, offset = [], [], 0
    for u in range(procedures_total // per_unit):
        procedures, lines = [], []
        for p in range(per_unit):
            length = rng.randrange(0x20, 0x200)
            name = "@Unit%d@TClass%d@Method%d" % (u, p // 10, p)
            procedures.append((name, 1, offset, length, name + "$qqrp14System@TObject"))
            lines += [(offset + k * length // 8, 40 + p * 12 + k) for k in range(8)]
            addresses.append((1, offset))
            offset += length + 4
        units.append(Unit("Unit%d" % u, [("Unit%d.pas" % u, 1, lines)], procedures))
    return build(units, names, size, 2, 4), addresses


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--addresses", help="also write the procedures' segment:offset, one a line, to this file")
    args = parser.parse_args()
    block, addresses = synthetic(args.mib << 20)
    with open(args.output, "wb") as f:
        f.write(block)
    if args.addresses:
        with open(args.addresses, "w") as f:
            f.writelines("%x:%x\n" % a for a in addresses)


if __name__ == "__main__":
    sys.exit(main())
