#!/usr/bin/env python3
"""Writes the seed corpus of the Diablo III root fuzz target into fuzz/corpus/diablo_root/.

Each seed is a root, then the files it names, each behind the separator
FE ED FA CE; the i-th file is the content of testkit::MakeKey(i), one of the
CKeys 0..63 the fuzz target's storage lists. Keys 10 and above name assets.

Run again after changing a seed; the files are committed.
"""
import struct

from seeds_roots import make_key as xorshift_key, write

SEPARATOR = b"\xfe\xed\xfa\xce"
ROOT_SIGNATURE = 0x8007D0C4
DIRECTORY_SIGNATURE = 0xEAF1FE87
PACKAGES_SIGNATURE = 0xAABB0002
TOC_HEADER = 844
TOC_TABLES = 70


def make_key(seed):
    """testkit::MakeKey: the xorshift32 key, its first four bytes XORed with the seed."""
    key = bytearray(xorshift_key(seed))
    for i in range(4):
        key[i] = ((seed >> (8 * i)) & 0xFF) ^ key[8 + i]
    return bytes(key)


def named_entries(named):
    return b"".join(make_key(key) + name + b"\0" for key, name in named)


def root(named, count=None):
    count = len(named) if count is None else count
    return struct.pack("<II", ROOT_SIGNATURE, count) + named_entries(named)


def directory(assets=(), parts=(), named=(), named_count=None):
    out = struct.pack("<II", DIRECTORY_SIGNATURE, len(assets))
    out += b"".join(make_key(key) + struct.pack("<I", sno) for key, sno in assets)
    out += struct.pack("<I", len(parts))
    out += b"".join(make_key(key) + struct.pack("<II", sno, sub) for key, sno, sub in parts)
    count = len(named) if named_count is None else named_count
    return out + struct.pack("<I", count) + named_entries(named)


def core_toc(records):
    """records: (group, sno id, name); each in the table of its group."""
    counts, offsets, body = [0] * TOC_TABLES, [0] * TOC_TABLES, b""
    for table in range(TOC_TABLES):
        mine = [r for r in records if r[0] == table]
        counts[table], offsets[table] = len(mine), len(body)
        names, at = b"", []
        for _, _, name in mine:
            at.append(len(names))
            names += name + b"\0"
        body += b"".join(struct.pack("<III", g, sno, o) for (g, sno, _), o in zip(mine, at)) + names
    header = struct.pack("<%dI" % TOC_TABLES, *counts) + struct.pack("<%dI" % TOC_TABLES, *offsets)
    return header + bytes(TOC_HEADER - len(header)) + body


def packages(names, count=None):
    count = len(names) if count is None else count
    return struct.pack("<II", PACKAGES_SIGNATURE, count) + b"".join(n + b"\0" for n in names)


def files(*contents):
    return SEPARATOR.join(contents)


def main():
    toc = core_toc([(1, 7, b"Barbarian"), (3, 9, b"Odd"), (62, 4, b"Theme"), (1, 2, b"Wizard")])
    base = directory(assets=[(10, 7), (11, 9), (12, 99)], parts=[(13, 7, 3), (14, 2, 1)],
                     named=[(15, b"Readme.txt"), (2, b"CoreTOC.dat"),
                            (3, b"Data_D3\\PC\\Misc\\Packages.dat")])
    locale = directory(assets=[(16, 4)], named=[(17, b"Sub/Voice.ogg")])
    pack = packages([b"Actor\\Barbarian.ac2", b"ACTOR\\BARBARIAN.xyz", b"Sound\\Door"])
    write("diablo_root", "two_directories",
          files(root([(1, b"Base"), (4, b"enUS")]), base, toc, pack, locale))
    write("diablo_root", "no_packages", files(root([(1, b"Base")]), base, toc))
    write("diablo_root", "no_toc", files(root([(1, b"Base")]), directory(named=[(15, b"a")])))
    write("diablo_root", "duplicate_directory",
          files(root([(1, b"Base"), (4, b"BASE"), (1, b"Copy")]), base, toc, pack,
                directory(parts=[(18, 7, 2)], named=[(19, b"One.txt")])))
    write("diablo_root", "named_only",
          files(root([(1, b"Base")]), root([(2, b"CoreTOC.dat"), (15, b"x")]), toc))
    write("diablo_root", "named_count_zero",
          files(root([(1, b"Base")]), directory(assets=[(10, 7)], named=[(2, b"CoreTOC.dat")],
                                                 named_count=0), toc))
    many = [((1, 4)[d % 2], b"Dir%02d" % d) for d in range(40)]
    write("diablo_root", "many_directories",
          files(root(many + [(1, b"Base")]), base, toc, pack, locale))
    write("diablo_root", "packages_count_large",
          files(root([(1, b"Base")]), base, toc, packages([b"Actor\\Barbarian.ac2"], 0xFFFFFFFF)))


if __name__ == "__main__":
    main()
