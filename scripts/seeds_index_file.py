#!/usr/bin/env python3
"""Writes the seed corpus of fuzz/index_file_fuzz.cpp into fuzz/corpus/index_file/.

Each seed is one byte (the bucket) followed by a local index file in one of
the layouts: version 7 with either entries hash, the paged layout, version 5,
and a few faulty ones. Run again after changing a seed; the files are committed.
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus", "index_file")
M = 0xFFFFFFFF


# ---- Bob Jenkins' lookup3 (hashlittle, hashlittle2), on little-endian words ----

def _rot(x, k):
    return ((x << k) | (x >> (32 - k))) & M


def _mix(a, b, c):
    a = (a - c) & M; a ^= _rot(c, 4); c = (c + b) & M
    b = (b - a) & M; b ^= _rot(a, 6); a = (a + c) & M
    c = (c - b) & M; c ^= _rot(b, 8); b = (b + a) & M
    a = (a - c) & M; a ^= _rot(c, 16); c = (c + b) & M
    b = (b - a) & M; b ^= _rot(a, 19); a = (a + c) & M
    c = (c - b) & M; c ^= _rot(b, 4); b = (b + a) & M
    return a, b, c


def _final(a, b, c):
    c ^= b; c = (c - _rot(b, 14)) & M
    a ^= c; a = (a - _rot(c, 11)) & M
    b ^= a; b = (b - _rot(a, 25)) & M
    c ^= b; c = (c - _rot(b, 16)) & M
    a ^= c; a = (a - _rot(c, 4)) & M
    b ^= a; b = (b - _rot(a, 14)) & M
    c ^= b; c = (c - _rot(b, 24)) & M
    return a, b, c


def hashlittle2(data, pc=0, pb=0):
    """Returns (pc, pb) as lookup3's hashlittle2 leaves them."""
    length = len(data)
    a = b = c = (0xDEADBEEF + length + pc) & M
    c = (c + pb) & M
    i = 0
    while length > 12:
        x, y, z = struct.unpack_from("<III", data, i)
        a, b, c = _mix((a + x) & M, (b + y) & M, (c + z) & M)
        length -= 12
        i += 12
    if length == 0:
        return c, b
    x, y, z = struct.unpack("<III", data[i:] + bytes(12 - length))
    a, b, c = _final((a + x) & M, (b + y) & M, (c + z) & M)
    return c, b


def hashlittle(data, seed=0):
    return hashlittle2(data, seed, 0)[0]


assert hashlittle(b"Four score and seven years ago", 0) == 0x17770551
assert hashlittle(b"Four score and seven years ago", 1) == 0xCD628161


# ---- index files ----

def key(seed):
    return bytes((seed * 37 + i * 11 + 5) & 0xFF for i in range(16))


def entry(seed, archive=0, offset=0, size=100, bits=30):
    storage_offset = (archive << bits) | offset
    return key(seed)[:9] + storage_offset.to_bytes(5, "big") + struct.pack("<I", size)


def v7_header(bucket, bits=30, hashed=16):
    fields = struct.pack("<HBBBBBB", 7, bucket, 0, 4, 5, 9, bits).ljust(24, b"\0")
    return struct.pack("<II", hashed, hashlittle(fields[:hashed])) + fields


def v7(bucket, entries, chained=False, bad_hash=False, pad_to=0):
    area = b"".join(entries)
    if chained:
        h = 0
        for i in range(0, len(area), 18):
            h = hashlittle(area[i:i + 18], h)
    else:
        pc = pb = 0
        for i in range(0, len(area), 18):
            pc, pb = hashlittle2(area[i:i + 18], pc, pb)
        h = pc
    data = v7_header(bucket) + struct.pack("<II", len(area), h ^ int(bad_hash)) + area
    return data.ljust(pad_to, b"\0")


def paged(bucket, blocks, size=30752 + 1024):
    data = bytearray(v7_header(bucket) + bytes(8))
    for number, entries in enumerate(blocks):
        data = data.ljust(4096 + number * 512, b"\0")
        for e in entries:
            guarded = e + b"\0"
            data += struct.pack("<I", hashlittle(guarded) | 0x80000000) + guarded + b"\0"
    return bytes(data).ljust(size, b"\0")


def v5(bucket, first, second, trailing=b""):
    a, b = b"".join(first), b"".join(second)
    header = bytearray(struct.pack("<HB5xQ8xBBBBIIIII", 5, bucket, 1, 4, 5, 9, 30,
                                   len(first), len(second), hashlittle(a), hashlittle(b), 0))
    struct.pack_into("<I", header, 44, hashlittle(bytes(header)))
    return bytes(header) + a + b + trailing


def write(name, bucket, data):
    os.makedirs(ROOT, exist_ok=True)
    with open(os.path.join(ROOT, name), "wb") as f:
        f.write(bytes([bucket]) + data)


def main():
    entries = [entry(i, archive=i % 3, offset=i * 64) for i in range(6)]
    write("v7_hashlittle2", 0, v7(0, entries))
    write("v7_chained", 3, v7(3, entries, chained=True))
    write("v7_duplicate_keys", 1, v7(1, entries + entries[:2]))
    write("v7_unverifiable", 0, v7(0, entries, bad_hash=True))
    write("v7_other_bucket", 2, v7(5, entries))
    write("v7_header_only", 0, v7_header(0)[:24])
    write("paged", 4, paged(4, [entries, [], entries[:2], [entry(40)]]))
    write("v5", 7, v5(7, entries[:3], entries[3:], trailing=entry(50)))
    write("v5_empty", 0, v5(0, [], []))
    write("tiny", 0, b"\x10\0\0\0\0\0\0\0")


if __name__ == "__main__":
    main()
