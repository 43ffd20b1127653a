#!/usr/bin/env python3
"""Writes the seed corpus of the WoW root fuzz target into fuzz/corpus/wow_root/.

Each seed is a locale mask (u32), a list-file flags byte (bit 0: "id;name"
lines), the root's size (u16), the root, then the list file. The roots list
the CKeys of testkit::MakeKey(seed) for the seeds 0..63 that the fuzz target's
storage knows, with name hashes of the names the list files give.

Run again after changing a seed; the files are committed.
"""
import struct

from seeds_index_file import hashlittle2
from seeds_roots import make_key, write

EN_US, EN_GB, PT_BR, PT_PT, DE_DE = 0x2, 0x200, 0x4000, 0x10000, 0x20
NO_HASHES, SECOND_PASS = 0x10000000, 0x80000000


def name_hash(name):
    normalised = bytes(c - 32 if 97 <= c <= 122 else 92 if c == 47 else c for c in name[:260])
    c, b = hashlittle2(normalised)
    return (c << 32) | b


def block(files, locale=EN_US, content=0, version=0, old=False):
    """files: list of (file id, key seed, name or None)."""
    out = struct.pack("<I", len(files))
    if version < 2:
        out += struct.pack("<II", content, locale)
    else:
        out += struct.pack("<IIIB", locale, content & 0xFFFF, content & ~0xFFFF & ~(0xFF << 17),
                           (content >> 17) & 0xFF)
    previous = 0
    for i, (file_id, _, _) in enumerate(files):
        out += struct.pack("<I", file_id if i == 0 else (file_id - previous - 1) & 0xFFFFFFFF)
        previous = file_id
    hashes = [name_hash(name) if name else 0 for _, _, name in files]
    if old:
        return out + b"".join(make_key(s) + struct.pack("<Q", h) for (_, s, _), h in zip(files, hashes))
    out += b"".join(make_key(s) for _, s, _ in files)
    if not content & NO_HASHES:
        out += b"".join(struct.pack("<Q", h) for h in hashes)
    return out


def headed(blocks, version, total, named, header_size=20):
    header = b"TSFM" + struct.pack("<IIII", header_size, version, total, named)
    return header + bytes(max(0, header_size - 20)) + b"".join(blocks)


def seed(locale, root, list_file=b"", id_list=False):
    return struct.pack("<IBH", locale, 1 if id_list else 0, len(root)) + root + list_file


FILES = [(3, 1, b"World/Maps/Azeroth.wdt"), (4, 2, None), (10, 3, b"Sound/Music/Theme.mp3")]
LOCAL = [(11, 4, b"Sound/Music/Theme.mp3"), (0x1234, 5, None)]
ID_LIST = (b"4660;Interface/Icons/Named.blp\r\n4;No/Hash.txt\n3;world/maps/azeroth.wdt~P\n"
           b"10485760;too/big\n12345678901234567890;stop\n")
NAME_LIST = b"world/maps/azeroth.wdt\n  sound\\music\\THEME.mp3\r\nnot/listed\x85x\n"


def main():
    for version in (1, 2):
        blocks = [block(FILES, version=version), block(LOCAL, EN_GB, version=version),
                  block(LOCAL, PT_BR, NO_HASHES | SECOND_PASS, version)]
        root = headed(blocks, version, 7, 4)
        write("wow_root", "headed_v%d_en_gb" % version, seed(EN_GB, root, ID_LIST, True))
        write("wow_root", "headed_v%d_pt_pt" % version, seed(PT_PT, root, ID_LIST, True))
    short = b"TSFM" + struct.pack("<II", 5, 3) + block(FILES) + block(LOCAL, 0, NO_HASHES)
    write("wow_root", "short_header", seed(EN_US, short, ID_LIST, True))
    write("wow_root", "small_header_size",
          seed(EN_US, headed([bytes(20)], 1, 0, 0, header_size=0)))
    headerless = block(FILES, old=True) + block(LOCAL, EN_GB, old=True) + block(FILES, DE_DE, 0x80, old=True)
    write("wow_root", "headerless", seed(EN_GB, headerless, NAME_LIST))
    write("wow_root", "headerless_id_list", seed(EN_US, headerless, ID_LIST, True))
    write("wow_root", "count_past_end", seed(EN_US, headed([block(FILES)[:-5]], 1, 3, 2)))


if __name__ == "__main__":
    main()
