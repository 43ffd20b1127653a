#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora into fuzz/corpus/ from parameters.

Run again after changing a seed below; the written files are committed.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import seeds_diablo_root  # noqa: E402
import seeds_mime  # noqa: E402
import seeds_response  # noqa: E402
import seeds_tvfs  # noqa: E402
import seeds_tvfs_name_map  # noqa: E402
import seeds_wow  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus")


def sound_table(names, offsets=None, count=None, tail=b""):
    """A sound table: u16 count, u16 offsets, then zero-terminated names."""
    count = len(names) if count is None else count
    header_size = 2 + 2 * len(offsets if offsets is not None else names)
    blob, places = b"", []
    for name in names:
        places.append(header_size + len(blob))
        blob += name + b"\0"
    offsets = places if offsets is None else offsets
    return struct.pack("<H", count) + b"".join(struct.pack("<H", o) for o in offsets) + blob + tail


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    write("sound_table", "empty_count", struct.pack("<H", 0))
    write("sound_table", "two_names", sound_table([b"Zerg\\Unit\\Sample00.wav", b"misc/button.wav"]))
    write("sound_table", "shared_offset", sound_table([b"a.wav"], offsets=[4, 4], count=2))
    write("sound_table", "empty_name", sound_table([b""]))
    write("sound_table", "truncated", struct.pack("<HB", 1, 0))
    write("sound_table", "bad_offset", struct.pack("<HH", 1, 4))
    write("sound_table", "unterminated", struct.pack("<HH", 1, 4) + b"abc")
    write("sound_table", "sd_prefix", sound_table([b"SD\\Terran\\Marine.WAV", b"\xc3\xa9t\xc3\xa9.ogg"]))

    names = [
        "SD\\Arr\\Units.dat", "arr/sfxdata.tbl", "sd/sd/unit/x.grp", "unit/a/b.dds.grp",
        "unit/b.lol", "unit/b.lo", "music/b.loa", "glue/palette/b.pcx", "glue/pal/b.pcx",
        "arr/../b.dat", "SD\\SOUND\\Zerg\\Unit\\Sample00.WAV", "game/tconsole.dds",
        "music/terran1.wav", "tileset/jungle.vx4ex", "rez/\xe9l\xe8ve.bin", "sd/", "",
    ]
    for i, name in enumerate(names):
        write("asset_name", "name%02d" % i, name.encode("latin-1"))

    # The roots, the TVFS name map, MIME documents and responses have
    # generators of their own.
    seeds_diablo_root.main()
    seeds_tvfs.main()
    seeds_tvfs_name_map.main()
    seeds_wow.main()
    seeds_mime.main()
    seeds_response.main()


if __name__ == "__main__":
    main()
