#!/usr/bin/env python3
"""Writes the seed corpus of fuzz/remote_index_fuzz.cpp into fuzz/corpus/remote_index/.

Each seed is a remote archive index: blocks of entries (key, size, offset,
big-endian), a block table the reader only counts, and the 20-byte footer
checked by the first 8 bytes of its MD5. Run again after changing a seed.
"""
import hashlib
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus", "remote_index")


def key(seed):
    if seed is None:
        return bytes(16)
    return bytes((seed * 53 + i * 7 + 1) & 0xFF for i in range(16))


def index(entries, block_kb=1, k=16, z=4, o=4, breaks=(), version=1, bad_checksum=False):
    """entries: (seed or None for a zero key, size, offset); breaks: entry numbers that start a new block."""
    block = block_kb * 1024
    size = k + z + o
    blocks, used, data = 0, block, bytearray()
    for number, (seed, length, offset) in enumerate(entries):
        if used + size > block or number in breaks:
            data = data.ljust(blocks * block, b"\0")
            blocks, used = blocks + 1, 0
        data += key(seed)[:k].ljust(k, b"\0") + length.to_bytes(z, "big") + offset.to_bytes(o, "big")
        used += size
    data = data.ljust(blocks * block, b"\0") + bytes(blocks * 16 + 16)
    footer = bytearray(struct.pack(">BHBBBBBI8x", version, 0, block_kb, o, z, k, 8, len(entries)))
    digest = hashlib.md5(bytes(footer)).digest()
    footer[12:20] = digest[:8]
    if bad_checksum:
        footer[12] ^= 1
    return bytes(data + footer)


def write(name, data):
    os.makedirs(ROOT, exist_ok=True)
    with open(os.path.join(ROOT, name), "wb") as f:
        f.write(data)


def main():
    entries = [(i, 1000 + i, 0x100 * i) for i in range(8)]
    write("standard", index(entries))
    write("two_blocks", index(entries, breaks=(4,)))
    write("short_keys", index(entries, k=9, z=3, o=5))
    cut = entries[:3] + [(None, 0, 0)] + entries[3:5] + [(9, 1, 0x10000000)] + entries[5:]
    write("zero_key_and_big_offset", index(cut, breaks=(5,)))
    write("footer_only", index([]))
    write("bad_checksum", index(entries, bad_checksum=True))
    write("version_2", index(entries[:2], version=2))


if __name__ == "__main__":
    main()
