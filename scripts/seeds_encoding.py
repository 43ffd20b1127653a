#!/usr/bin/env python3
"""Writes the seed corpus of fuzz/encoding_fuzz.cpp into fuzz/corpus/encoding/.

Each seed is an ENCODING manifest: the 22-byte big-endian header, the
encoding-spec text, the CKey page table (first CKey and MD5 of each page),
then the CKey pages, each padded with zeros to the page size. Run again after
changing a seed; the files are committed.
"""
import hashlib
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus", "encoding")


def key(seed):
    return bytes((seed * 29 + i * 13 + 3) & 0xFF for i in range(16))


def entry(seed, size, ekeys=1):
    """One CKey-page entry: EKey count, 40-bit content size, CKey, EKeys."""
    return (bytes([ekeys]) + size.to_bytes(5, "big") + key(seed)
            + b"".join(key(0x100 * (k + 1) + seed) for k in range(ekeys)))


def manifest(pages, page_kb=1, espec=b"b:{*=z}", signature=b"EN", version=1,
             key_lengths=(16, 16), page_count=None, bad_table_page=None, cut=0):
    """pages: lists of entries (bytes); each page is padded to page_kb KiB."""
    size = page_kb * 1024
    bodies = [b"".join(p).ljust(size, b"\0") for p in pages]
    count = len(bodies) if page_count is None else page_count
    header = (signature + bytes([version, *key_lengths]) + struct.pack(">HHIIB", page_kb, page_kb, count, 0, 0)
              + struct.pack(">I", len(espec)))
    table = b""
    for number, body in enumerate(bodies):
        first = bytearray(body[6:22])
        if number == bad_table_page:
            first[0] ^= 0xFF
        table += bytes(first) + hashlib.md5(body).digest()
    data = header + espec + table + b"".join(bodies)
    return data[:len(data) - cut] if cut else data


def write(name, data):
    os.makedirs(ROOT, exist_ok=True)
    with open(os.path.join(ROOT, name), "wb") as f:
        f.write(data)


def main():
    page0 = [entry(i, 1000 + i, 1 + i % 3) for i in range(6)]
    page1 = [entry(10 + i, 50 * i, 1) for i in range(4)]
    write("two_pages", manifest([page0, page1]))
    write("duplicate_ckeys", manifest([[entry(1, 10), entry(1, 20, 2), entry(2, 30)]]))
    write("large_file", manifest([[entry(3, 0x123456789), entry(4, 40)]]))
    write("bad_table_key", manifest([page0, page1], bad_table_page=1))
    write("page_cut", manifest([page0, page1], cut=100))
    write("extra_page", manifest([page0], page_count=2))
    write("header_only", manifest([], espec=b""))
    write("bad_version", manifest([page0], version=2))
    write("short_header", manifest([], espec=b"")[:21])


if __name__ == "__main__":
    main()
