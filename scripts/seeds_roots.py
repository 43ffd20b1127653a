#!/usr/bin/env python3
"""Writes the seed corpora of the root fuzz targets into fuzz/corpus/:

- plain_root: plain-text roots whose CKeys are those of testkit::MakeKey(0..63),
  the keys the fuzz target's storage knows;
- install_root: INSTALL manifests over the same keys;
- file_tree: a flags byte, then names separated by newlines.

Run again after changing a seed; the files are committed.
"""
import os
import struct

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus")
M = 0xFFFFFFFF


def make_key(seed):
    """testkit::MakeKey: xorshift32 from a multiplicative start."""
    state = (seed * 2654435761 + 0x9E3779B9) & M
    out = bytearray()
    for _ in range(16):
        state ^= (state << 13) & M
        state ^= state >> 17
        state ^= (state << 5) & M
        out.append(state & 0xFF)
    return bytes(out)


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def plain_root(lines, eol="\n", hash_mark=False):
    text = "#" if hash_mark else ""
    text += "".join("|".join(fields) + eol for fields in lines)
    return text.encode("latin-1")


def install_manifest(entries, tags=(), version=1, hash_size=16, count=None, cut=0):
    count = len(entries) if count is None else count
    out = b"IN" + struct.pack(">BBHI", version, hash_size, len(tags), count)
    for name, kind, listed in tags:
        bitmap = bytearray((len(entries) + 7) // 8)
        for i in listed:
            bitmap[i // 8] |= 0x80 >> (i % 8)
        out += name + b"\0" + struct.pack(">H", kind) + bytes(bitmap)
    for name, seed, size in entries:
        out += name + b"\0" + make_key(seed) + struct.pack(">I", size)
    return out[:len(out) - cut]


def main():
    k = lambda seed, upper=False: (make_key(seed).hex().upper() if upper else make_key(seed).hex())
    write("plain_root", "classic", plain_root(
        [["arr/units.dat", k(1)], ["unit/terran/marine.grp", k(2), "x"], ["UNIT\\Terran\\Tank.grp", k(3)],
         ["music/title.wav", k(4, True)], ["unknown.bin", "00" * 16]]))
    write("plain_root", "crlf_hash", plain_root([["a/b/c", k(5)], ["a/b", k(6)], ["x:", k(7)], ["x:y", k(8)]],
                                                "\r\n", True))
    write("plain_root", "first_line_four_fields", plain_root([["a", k(1), "b", "c"], ["d", k(2)]]))
    write("plain_root", "short_key", plain_root([["a", k(1)[1:]], ["d", k(2)]]))
    write("plain_root", "wide_first_line", plain_root([["|" * 31], ["d", k(2)], ["e", k(2) + "zz"]]))
    write("plain_root", "blank_lines", plain_root([["d/e", k(9)], ["d/f", k(10)]], "\n\n\r\n"))

    entries = [(b"Installer.exe", 1, 100), (b"data/one.bin", 2, 5), (b"Data\\ONE.bin", 3, 5),
               (b"x:", 4, 1), (b"x:y", 5, 1)]
    tags = [(b"Windows", 1, [0, 1]), (b"enUS", 3, [2]), (b"", 2, [])]
    write("install_root", "tagged", install_manifest(entries, tags))
    write("install_root", "no_entries", install_manifest([]))
    write("install_root", "hash_size_9", install_manifest(entries[:2], hash_size=9))
    write("install_root", "hash_size_17", install_manifest(entries[:2], hash_size=17))
    write("install_root", "version_2", install_manifest(entries[:2], version=2))
    write("install_root", "count_too_big", install_manifest(entries, tags, count=1000))
    write("install_root", "cut_entry", install_manifest(entries, tags, cut=7))
    write("install_root", "header_only", install_manifest([])[:9])

    write("file_tree", "plain", b"\x00" + b"\n".join(
        [b"a/b/c", b"A\\B\\d", b"a", b"x:", b"x:y", b"x:/z", b"", b"/", b"::", b"d//e"]))
    write("file_tree", "with_ids", b"\x07" + b"\n".join([b"unit/Marine.grp", b"UNIT/marine.GRP", b"\xe9t\xe9/\xc9"]))
    write("file_tree", "long_name", b"\x01" + b"p" * 300 + b"\n" + b"p" * 260 + b"/q")


if __name__ == "__main__":
    main()
