#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_config into fuzz/corpus/config/.

The real build, CDN, patch, key-ring and product configurations are copied
from tests/data/config/ (sources in tests/data/SOURCES.md); the other seeds
are built here from parameters. Re-run after changing a seed.
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "fuzz", "corpus", "config")
REAL = os.path.join(HERE, "..", "tests", "data", "config")


def key(seed):
    return ("%08x" % (seed * 2654435761 % 2**32)) * 4


def config(title, lines, eol="\n"):
    text = "# %s%s%s" % (title, eol, eol)
    return (text + "".join("%s = %s%s" % (k, v, eol) for k, v in lines)).encode("latin-1")


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def copy_real():
    for folder in sorted(os.listdir(REAL)):
        for name in sorted(os.listdir(os.path.join(REAL, folder))):
            shutil.copyfile(os.path.join(REAL, folder, name), os.path.join(OUT, "real_%s_%s" % (folder, name)))


def main():
    os.makedirs(OUT, exist_ok=True)
    copy_real()
    two = lambda s: "%s %s" % (key(s), key(s + 1))
    write("build_full", config("Build Configuration", [
        ("root", key(1)), ("install", two(2)), ("install-size", "100 90"), ("encoding", two(4)),
        ("encoding-size", "4294967295 4294967296"), ("patch", key(6)), ("patch-size", "7"),
        ("patch-index", two(7)), ("size", two(9)), ("build-name", "WOW-25996patch7.3.5_Retail"),
        ("build-uid", "wow")], "\r\n"))
    write("build_vfs", config("Build Configuration", [
        ("vfs-root", two(1)), ("vfs-root-size", "10 5"), ("vfs-root-espec", "z"), ("vfs-3", two(3)),
        ("vfs-2-size", "1 2"), ("vfs-0", key(5)), ("vfs-70000", key(6)), ("encoding", two(7))]))
    write("line_rules", b"root=" + key(1).encode() + b"\x85encoding = " + two(2).encode() +
          b"~Pcut\n  size = " + key(4).encode() + b" " + key(5).encode() + b" " + key(6).encode() +
          b"\n~P\nafter = end\n")
    write("cdn_lists", config("CDN Configuration", [
        ("archives", " ".join(key(i) for i in range(1, 6))), ("archive-group", key(9)),
        ("patch-archives", key(10) + " bad"), ("PATCH-ARCHIVE-GROUP", key(11)), ("builds", two(12))]))
    write("empty_values", config("Build Configuration", [("root", ""), ("encoding-size", ""), ("archives", "")]))


if __name__ == "__main__":
    main()
