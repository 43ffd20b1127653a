#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_tvfs_name_map into fuzz/corpus/tvfs_name_map/:
"index" name maps of "path|rest" lines, with the odd lines and line breaks a
reader must pass over, and maps that a repeated key drops. Re-run after
changing a seed."""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus",
                   "tvfs_name_map")


def index(paths, odd=(), brk=b"\n", tail=b"0"):
    lines = list(odd) + [p + b"|" + tail for p in paths]
    return brk.join(lines) + brk


SEEDS = {
    "plain": index([b"unit/terran/marine.grp", b"sound\\misc\\button.wav"]),
    "odd_lines": index([b"rez/a"], odd=[b"no bar", b"|bar/first", b"", b"   "]),
    "crlf": index([b"a/b", b"c/d"], brk=b"\r\n"),
    "cr_only": index([b"a/b", b"c/d"], brk=b"\r"),
    "no_final_break": b"x/y|1\nz/w|2",
    "several_bars": index([b"a|b|c", b"d/e"]),
    "duplicate": index([b"unit/marine.grp", b"UNIT\\MARINE.GRP"]),
    "prefix_keys": index([b"data/abc", b"data/ab", b"dat/aa/b"]),
    "separators_only": index([b"/", b"\\\\"]),
    "many": index([b"file%d" % i for i in range(300)]),
    "high_bytes": index([b"caf\xe9/\xff\xfe", b"\x00nul/x"]),
    "empty": b"",
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
