#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_match_mask into fuzz/corpus/match_mask/:
each seed is a mask, a NUL and a name. Re-run after changing a seed."""
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus", "match_mask")

PAIRS = [
    (b"*", b""),
    (b"root*", b"ROOT-size"),
    (b"vfs-*", b"vfs-12-size"),
    (b"data/Config/??", b"DATA\\config\\ab"),
    (b"*a*a*a*a*b", b"a" * 200),
    (b"*.dat", b"x.dat.dat"),
    (b"caf\xe9*", b"CAF\xc9.txt"),
    (b"a?c", b"ac"),
    (b"", b"anything"),
    (b"**?**", b"x"),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    for i, (mask, name) in enumerate(PAIRS):
        with open(os.path.join(OUT, "pair%02d" % i), "wb") as f:
            f.write(mask + b"\0" + name)


if __name__ == "__main__":
    main()
