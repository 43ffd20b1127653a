#!/usr/bin/env python3
"""Writes the seed corpus of fuzz/blte_fuzz.cpp into fuzz/corpus/blte/.

Each seed is one encoded file: BLTE data with or without a frame table (behind
a 30-byte archive record header for some), frames in the modes 'N', 'Z' and
'E' (nested too), and a few faulty ones. Encrypted frames use the key the fuzz
target registers. Run again after changing a seed; the files are committed.
"""
import hashlib
import os
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus", "blte")
KEY_NAME = 0x0123456789ABCDEF  # as registered by the fuzz target
KEY = bytes(range(16))
M = 0xFFFFFFFF


# ---- Salsa20/20 with a 128-bit key ----

def _rotl(x, k):
    return ((x << k) | (x >> (32 - k))) & M


def _quarter(s, a, b, c, d):
    s[b] ^= _rotl((s[a] + s[d]) & M, 7)
    s[c] ^= _rotl((s[b] + s[a]) & M, 9)
    s[d] ^= _rotl((s[c] + s[b]) & M, 13)
    s[a] ^= _rotl((s[d] + s[c]) & M, 18)


def _block(key, nonce, counter):
    k = struct.unpack("<4I", key)
    n = struct.unpack("<2I", nonce)
    tau = struct.unpack("<4I", b"expand 16-byte k")
    x = [tau[0], k[0], k[1], k[2], k[3], tau[1], n[0], n[1],
         counter & M, counter >> 32, tau[2], k[0], k[1], k[2], k[3], tau[3]]
    s = list(x)
    for _ in range(10):
        _quarter(s, 0, 4, 8, 12); _quarter(s, 5, 9, 13, 1)
        _quarter(s, 10, 14, 2, 6); _quarter(s, 15, 3, 7, 11)
        _quarter(s, 0, 1, 2, 3); _quarter(s, 5, 6, 7, 4)
        _quarter(s, 10, 11, 8, 9); _quarter(s, 15, 12, 13, 14)
    return struct.pack("<16I", *[(a + b) & M for a, b in zip(s, x)])


def salsa20(key, nonce, data):
    stream = b"".join(_block(key, nonce, i) for i in range((len(data) + 63) // 64))
    return bytes(a ^ b for a, b in zip(data, stream))


# ---- frames and containers ----

def encrypt(inner, index, iv=b"\x01\x02\x03\x04\x05\x06\x07\x08", kind=b"S", name=KEY_NAME):
    nonce = bytearray(iv.ljust(8, b"\0"))
    for i in range(4):
        nonce[i] ^= (index >> (8 * i)) & 0xFF
    return (b"E" + bytes([8]) + struct.pack("<Q", name) + bytes([len(iv)]) + iv + kind +
            salsa20(KEY, bytes(nonce), inner))


def blte(frames, contents, md5=True, flags=0x0F):
    """frames: encoded frames; contents: their content sizes."""
    table = b""
    for frame, size in zip(frames, contents):
        digest = hashlib.md5(frame).digest() if md5 else bytes(16)
        table += struct.pack(">II", len(frame), size) + digest
    header = struct.pack(">I", 12 + 24 * len(frames)) + bytes([flags]) + struct.pack(">I", len(frames))[1:]
    return b"BLTE" + header + table + b"".join(frames)


def write(name, data):
    os.makedirs(ROOT, exist_ok=True)
    with open(os.path.join(ROOT, name), "wb") as f:
        f.write(data)


def main():
    text = b"kestrine reads storages frame by frame. " * 8
    write("no_table_plain", b"BLTE" + bytes(4) + b"N" + text)
    write("no_table_zlib", b"BLTE" + bytes(4) + b"Z" + zlib.compress(text))
    write("archive_record", bytes(30) + b"BLTE" + bytes(4) + b"N" + text)
    parts = [text[:100], text[100:200], text[200:]]
    write("table_mixed", blte([b"N" + parts[0], b"Z" + zlib.compress(parts[1]), b"N" + parts[2]],
                              [len(p) for p in parts]))
    write("table_zero_md5", blte([b"Z" + zlib.compress(p) for p in parts], [len(p) for p in parts],
                                 md5=False))
    write("encrypted", blte([encrypt(b"Z" + zlib.compress(p), i) for i, p in enumerate(parts)],
                            [len(p) for p in parts]))
    write("encrypted_iv4", blte([encrypt(b"N" + p, i, iv=b"\x0a\x0b\x0c\x0d") for i, p in enumerate(parts)],
                                [len(p) for p in parts]))
    write("nested", blte([encrypt(encrypt(b"N" + parts[0], 0), 0)], [len(parts[0])]))
    write("type_a", blte([encrypt(b"N" + parts[0], 0, kind=b"A")], [len(parts[0])]))
    write("unknown_key", blte([encrypt(b"N" + parts[0], 0, name=1)], [len(parts[0])]))
    write("wrong_md5", blte([b"N" + parts[0]], [len(parts[0])])[:-1] + b"!")
    write("short_zlib", blte([b"Z" + zlib.compress(parts[0])], [len(parts[0]) + 40]))
    write("bad_flags", blte([b"N" + parts[0]], [len(parts[0])], flags=0x10))
    write("truncated_table", blte([b"N" + p for p in parts], [len(p) for p in parts])[:40])
    write("plain_content", text)


if __name__ == "__main__":
    main()
