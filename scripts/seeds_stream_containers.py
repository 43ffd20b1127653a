#!/usr/bin/env python3
"""Writes the seed corpus of fuzz/stream_containers_fuzz.cpp from parameters.

Each seed is: one byte choosing the container (0 flat with bitmap, 1 partial,
2 four-part, 3 encrypted archive, 4 flat cache of a master, 5 partial cache),
one byte of flags (1 zero-fill, 2 bitmap), then the file. Run again after a
change; the written files are committed.
"""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus",
                   "stream_containers")
FUZZ_KEY = b"FUZZKEY0123456789ABCDEFGHIJKLMNO"
FUZZ_NONCE = b"FUZZNONC"
MASTER_SIZE = 50000  # the fuzz target's master file


def pattern(size, seed):
    return bytes((i * 131 + seed * 29 + (i >> 7)) & 0xFF for i in range(size))


def flat_bitmap(data, block_size, present, build=10958, version=3, signature=b"ptv3"):
    blocks = (len(data) + block_size - 1) // block_size
    bitmap = bytearray((blocks + 7) // 8)
    for k in range(blocks):
        if present[k]:
            bitmap[k // 8] |= 1 << (k % 8)
    footer = signature + struct.pack("<IIQI", version, build, len(data), block_size)
    return data + bytes(bitmap) + footer


def partial(data, block_size, present, build_text=b"10958", version=2):
    blocks = (len(data) + block_size - 1) // block_size
    header = struct.pack("<I", version) + build_text.ljust(32, b"\0")
    header += struct.pack("<IQI", 0, len(data), block_size)
    data_start = len(header) + 20 * blocks
    area, offsets = b"", [0] * blocks
    for k in reversed(range(blocks)):
        if present[k]:
            offsets[k] = data_start + len(area)
            area += data[k * block_size:(k + 1) * block_size]
    table = b"".join(struct.pack("<IQQ", 3 if present[k] else 0, offsets[k], 0)
                     for k in range(blocks))
    return header + table + area


def four_part(data):
    out = b""
    for k in range(0, len(data), 16384):
        out += data[k:k + 16384] + b"\xee" * 32
    return out


def rotl(v, n):
    return ((v << n) | (v >> (32 - n))) & 0xFFFFFFFF


def salsa20_block(key, nonce, counter):
    c = struct.unpack("<4I", b"expand 32-byte k")
    k = struct.unpack("<8I", key)
    n = struct.unpack("<2I", nonce)
    state = [c[0], k[0], k[1], k[2], k[3], c[1], n[0], n[1],
             counter & 0xFFFFFFFF, counter >> 32, c[2], k[4], k[5], k[6], k[7], c[3]]
    x = list(state)

    def qr(a, b, cc, d):
        x[b] ^= rotl((x[a] + x[d]) & 0xFFFFFFFF, 7)
        x[cc] ^= rotl((x[b] + x[a]) & 0xFFFFFFFF, 9)
        x[d] ^= rotl((x[cc] + x[b]) & 0xFFFFFFFF, 13)
        x[a] ^= rotl((x[d] + x[cc]) & 0xFFFFFFFF, 18)

    for _ in range(10):
        qr(0, 4, 8, 12); qr(5, 9, 13, 1); qr(10, 14, 2, 6); qr(15, 3, 7, 11)
        qr(0, 1, 2, 3); qr(5, 6, 7, 4); qr(10, 11, 8, 9); qr(15, 12, 13, 14)
    return struct.pack("<16I", *[(x[i] + state[i]) & 0xFFFFFFFF for i in range(16)])


def encrypt(plain, key, nonce):
    out = bytearray()
    for block in range(0, len(plain), 64):
        stream = salsa20_block(key, nonce, block // 64)
        out += bytes(a ^ b for a, b in zip(plain[block:block + 64], stream))
    return bytes(out)


def write(name, kind, flags, body):
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(bytes([kind, flags]) + body)


def main():
    data = pattern(5000, 1)
    write("flat_bitmap_complete", 0, 2, flat_bitmap(data, 1024, [True] * 5))
    write("flat_bitmap_gaps", 0, 3, flat_bitmap(data, 512, [k % 3 != 1 for k in range(10)]))
    write("flat_plain_zerofill", 0, 1, data[:300])
    write("partial_complete", 1, 0, partial(data, 1024, [True] * 5))
    write("partial_gaps", 1, 1, partial(data, 2048, [True, False, True]))
    write("partial_bad_build", 1, 0, partial(data, 1024, [True] * 5, build_text=b"1x3"))
    write("four_part_short", 2, 0, four_part(pattern(20000, 2)))
    write("four_part_trailer_only", 2, 0, b"\0" * 20)
    plain = b"MPQ\x1a" + pattern(700, 3)
    write("encrypted", 3, 0, encrypt(plain, FUZZ_KEY, FUZZ_NONCE))
    write("encrypted_wrong_key", 3, 0, encrypt(plain, FUZZ_KEY[::-1], FUZZ_NONCE))
    master = pattern(MASTER_SIZE, 4)
    blocks = (MASTER_SIZE + 16383) // 16384
    write("flat_cache", 4, 0, flat_bitmap(master, 16384, [k != 1 for k in range(blocks)]))
    write("flat_cache_empty", 4, 0, b"")
    write("partial_cache", 5, 0, partial(master, 16384, [k % 2 == 0 for k in range(blocks)]))
    write("partial_cache_odd", 5, 0, partial(master[:100], 16384, [True]) + b"\0" * 9)


if __name__ == "__main__":
    main()
