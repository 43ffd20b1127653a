#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_text_table into fuzz/corpus/text_table/.

Real ".build.info" files and patch-service tables are copied from
tests/data/ (sources in tests/data/SOURCES.md); the other seeds are built
here from parameters. Re-run after changing a seed.
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "fuzz", "corpus", "text_table")
REAL = os.path.join(HERE, "..", "tests", "data")

BUILD_INFO_COLUMNS = ["Branch!STRING:0", "Active!DEC:1", "Build Key!HEX:16", "CDN Key!HEX:16",
                      "CDN Path!STRING:0", "CDN Hosts!STRING:0", "Tags!STRING:0",
                      "Version!STRING:0", "Product!STRING:0"]


def key(seed):
    return ("%08x" % (seed * 2654435761 % 2**32)) * 4


def table(columns, rows, eol="\n"):
    lines = ["|".join(columns)] + ["|".join(row) for row in rows]
    return (eol.join(lines) + eol).encode()


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def copy_real(folder, prefix):
    source = os.path.join(REAL, folder)
    for name in sorted(os.listdir(source)):
        shutil.copyfile(os.path.join(source, name), os.path.join(OUT, prefix + name))


def main():
    os.makedirs(OUT, exist_ok=True)
    copy_real("build_info", "real_")
    copy_real("patchservice", "real_")

    def row(seed, active, product):
        return ["us", active, key(seed), key(seed + 1), "tpr/x", "h1 h2", "enUS deDE", "1.2.3.%d" % seed,
                product]

    write("two_products_crlf", table(BUILD_INFO_COLUMNS, [row(1, "1", "wow"), row(2, "1", "wowt")], "\r\n"))
    write("inactive_only", table(BUILD_INFO_COLUMNS, [row(3, "0", "wow")]))
    write("short_key", table(BUILD_INFO_COLUMNS, [row(4, "1", "wow")[:2] + [key(4)[1:]] + row(4, "1", "")[3:]]))
    write("wide_row", table(BUILD_INFO_COLUMNS, [row(5, "1", "wow") + ["extra"], row(6, "1", "x")]))
    write("wide_header", ("|" * 31 + "\n" + "A|B\n1|2\n").encode())
    write("hash_header", b"#Region!STRING:0|Name!STRING:0\nus|eu\n\n\rxx|us")
    write("build_db", ("%s|%s|enUS koKR\n" % (key(7), key(8))).encode())
    write("embedded_nul", b"A|B\n1|2\n\x003|4\n")
    write("many_rows", table(["N"], [[str(i)] for i in range(70)]))


if __name__ == "__main__":
    main()
