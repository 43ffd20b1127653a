#!/usr/bin/env python3
"""Writes the seed corpus of the TVFS root fuzz target into fuzz/corpus/tvfs_root/.

Each seed is a kind byte (bit 0: a storage keyed by full EKeys) followed by a
TVFS root whose EKeys are those of testkit::MakeKey(seed + 0x10000) for the
seeds 0..63 the fuzz target's storage lists, or keys it does not list.

Run again after changing a seed; the files are committed.
"""
import struct

from seeds_roots import make_key, write


def ekey(seed):
    return make_key(seed + 0x10000)


def width(cft_size):
    return 1 if cft_size < 0x100 else 2 if cft_size < 0x10000 else 3 if cft_size < 0x1000000 else 4


def folder_value(content):
    return 0x80000000 | (len(content) + 4)


def entry(fragment=None, before=False, after=False, value=None):
    out = b"\0" if before else b""
    if fragment is not None:
        out += bytes([len(fragment)]) + fragment
    if after:
        out += b"\0"
    if value is not None:
        out += b"\xff" + struct.pack(">I", value)
    return out


def tvfs(files, ekey_size=9, cft_pad=0, root_folder=True, header_size=38, version=1, tree=None):
    """files: list of (name, [span seeds]); names become one entry each,
    unless `tree` gives the path table's entries (with VFS offsets i * 0)."""
    cft_entries = sum(len(spans) for _, spans in files) * (ekey_size + 4)
    cft = bytearray(cft_pad)
    w = width(cft_pad + cft_entries)
    vfs = bytearray()
    offsets = []
    for _, spans in files:
        offsets.append(len(vfs))
        vfs.append(len(spans))
        for seed in spans:
            vfs += struct.pack(">II", 0, 100) + len(cft).to_bytes(w, "big")
            cft += ekey(seed)[:ekey_size] + struct.pack(">I", 130)
    if tree is None:
        tree = b"".join(entry(name, value=offsets[i]) for i, (name, _) in enumerate(files))
    else:
        tree = tree(offsets)
    path = (b"\xff" + struct.pack(">I", folder_value(tree)) + tree) if root_folder else tree
    tables = [path, bytes(vfs), bytes(cft)]
    fields, at = [], header_size
    for table in tables:
        fields += [at, len(table)]
        at += len(table)
    header = b"TVFS" + bytes([version, header_size, ekey_size, ekey_size]) + struct.pack(">I", 0)
    header += struct.pack(">6IH", *fields, 8)
    header = (header + bytes(max(0, header_size - len(header))))[:header_size]
    return header + b"".join(tables)


def main():
    files = [(b"arr/units.dat", [1]), (b"unit\\terran/marine.grp", [2]), (b"music/long.ogg", [3, 4, 5]),
             (b"unknown.bin", [200]), (b"0123456789ab:" + b"c" * 40, [6])]
    for kind in (0, 1):
        prefix = bytes([kind])
        write("tvfs_root", "flat_%d" % kind, prefix + tvfs(files[:4]))
        write("tvfs_root", "full_ekeys_%d" % kind, prefix + tvfs(files[:4], ekey_size=16))
        write("tvfs_root", "key_form_%d" % kind, prefix + tvfs(files))
    write("tvfs_root", "cft_width_2", b"\0" + tvfs(files[:2], cft_pad=0x100))
    write("tvfs_root", "no_root_folder", b"\0" + tvfs(files[:2], root_folder=False))
    write("tvfs_root", "short_header", b"\0" + tvfs(files[:2], header_size=8))
    write("tvfs_root", "version_2", b"\0" + tvfs(files[:2], version=2))

    def folders(offsets):
        inner = entry(b"b", value=offsets[1]) + entry(b"c", value=offsets[2])
        return (entry(b"a") + entry(b"b", value=offsets[0]) +
                entry(b"f", after=True, value=folder_value(inner)) + inner +
                entry(b"x/y\\z", before=True, value=offsets[3]))
    write("tvfs_root", "folders", b"\0" + tvfs([(b"", [1]), (b"", [2]), (b"", [3]), (b"", [4])],
                                               tree=folders))


if __name__ == "__main__":
    main()
