#!/usr/bin/env python3
"""Writes the seed corpus of fuzz/download_fuzz.cpp into fuzz/corpus/download/.

Each seed is a DOWNLOAD manifest: a big-endian header of 11 (version 1),
12 (version 2) or 16 bytes (version 3), the entries (EKey, 40-bit encoded
size, priority, optional checksum, flag bytes), then the tags (name, NUL,
u16 type, one bit per entry, most significant bit first). Run again after
changing a seed; the files are committed.
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus", "download")


def key(seed):
    return bytes((seed * 41 + i * 17 + 9) & 0xFF for i in range(16))


def manifest(count, tags=(), version=3, key_length=16, checksums=False, flag_bytes=0,
             signature=b"DL", cut=0):
    """tags: (name, type, entry numbers)."""
    header = signature + bytes([version, key_length, 1 if checksums else 0]) + struct.pack(">IH", count, len(tags))
    if version >= 2:
        header += bytes([flag_bytes])
    if version >= 3:
        header += bytes(4)
    data = bytearray(header)
    for i in range(count):
        data += key(i)[:key_length] + (300 + i).to_bytes(5, "big") + bytes([i % 4])
        if checksums:
            data += struct.pack(">I", 0xC0DE0000 + i)
        data += bytes([0x5A]) * (flag_bytes if version >= 2 else 0)
    for name, kind, listed in tags:
        bits = bytearray((count + 7) // 8)
        for i in listed:
            bits[i // 8] |= 0x80 >> (i % 8)
        data += name + b"\0" + struct.pack(">H", kind) + bits
    data = bytes(data).ljust(16, b"\0")
    return data[:len(data) - cut] if cut else data


def write(name, data):
    os.makedirs(ROOT, exist_ok=True)
    with open(os.path.join(ROOT, name), "wb") as f:
        f.write(data)


def main():
    tags = [(b"Windows", 1, [0, 2, 5]), (b"enUS", 3, [1, 2])]
    write("v1", manifest(6, tags, version=1))
    write("v2_checksums", manifest(6, tags, version=2, checksums=True, flag_bytes=1))
    write("v3", manifest(6, tags))
    write("v3_short_keys", manifest(9, tags, key_length=9, flag_bytes=2))
    write("seventy_tags", manifest(20, [(b"tag%d" % t, t % 4 + 1, range(0, 20, t + 1)) for t in range(70)]))
    write("bit_field_cut", manifest(30, tags, cut=2))
    write("entries_cut", manifest(30, tags, cut=200))
    write("no_entries", manifest(0))
    write("bad_version", manifest(3, version=4))


if __name__ == "__main__":
    main()
