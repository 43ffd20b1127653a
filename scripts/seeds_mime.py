#!/usr/bin/env python3
"""Writes the seed corpus of the MIME fuzz target into fuzz/corpus/mime/.

Each seed is a whole document as the Ribbit patch service answers: list
tables in a multipart answer with a base64 signature, single bodies in each
transfer encoding, nested and folded multipart documents, and the faults the
parser refuses.

Run again after changing a seed; the files are committed.
"""
import base64

from seeds_roots import write

CRLF = b"\r\n"


def leaf(body, headers=(), encoding=None):
    """A part's header and body, without the line break that ends it."""
    lines = list(headers)
    if encoding == "base64":
        body = base64.encodebytes(body).replace(b"\n", CRLF).rstrip(CRLF)
    elif encoding == "quoted-printable":
        body = b"".join(b"=%02X" % c if c <= 32 or c >= 127 or c == 61 else bytes([c])
                        for c in body)
    if encoding:
        lines.append(b"Content-Transfer-Encoding: " + encoding.encode())
    return b"".join(line + CRLF for line in lines) + CRLF + body


def multipart(boundary, parts, headers=(), fold=False, end=True, epilogue=b""):
    content_type = b"Content-Type: multipart/alternative;" + (CRLF + b"\t" if fold else b" ")
    content_type += b'boundary="' + boundary + b'"'
    out = b"".join(line + CRLF for line in headers) + content_type + CRLF + CRLF
    for part in parts:
        out += b"--" + boundary + CRLF + part + CRLF
    if end:
        out += b"--" + boundary + b"--" + CRLF
    return out + epilogue


def document(element, is_leaf=False, version=b"MIME-Version: 1.0"):
    return (version + CRLF if version else b"") + element + (CRLF if is_leaf else b"")


def table(rows):
    return b"".join(b"|".join(row) + b"\n" for row in rows)


def ribbit(name, rows):
    return document(multipart(b"a2f3c5d9e1b04d7f", [
        leaf(table(rows), [b"Content-Type: text/plain", b"Content-Disposition: " + name]),
        leaf(bytes(range(64)), [b"Content-Type: application/cms"], "base64"),
    ], headers=[b"From: Test Server", b"Subject: " + name], epilogue=b"Checksum: " + b"0" * 64 + CRLF))


def main():
    write("mime", "versions", ribbit(b"versions", [
        [b"Region!STRING:0", b"BuildConfig!HEX:16", b"VersionsName!String:0"],
        [b"us", b"a" * 32, b"1.18.10.1234"], [b"eu", b"b" * 32, b"1.18.10.1234"]]))
    write("mime", "cdns", ribbit(b"cdns", [
        [b"Name!STRING:0", b"Path!STRING:0", b"Hosts!STRING:0"],
        [b"us", b"tpr/sc1live", b"cdn.example level3.example"]]))
    write("mime", "leaf_plain", document(leaf(b"Region|x\nus|1"), is_leaf=True))
    write("mime", "leaf_base64", document(leaf(bytes(range(256)), [], "base64"), is_leaf=True))
    write("mime", "leaf_qp", document(leaf(b"a=b\r\nc\xe9", [], "quoted-printable"), is_leaf=True))
    write("mime", "http_status", document(leaf(b"x"), is_leaf=True, version=b"HTTP/1.1 200 OK"))
    inner = multipart(b"=" * 127, [leaf(b"first", [], "quoted-printable"), leaf(b"\0\1\2", [], "base64")],
                      fold=True, epilogue=b"ignored" + CRLF)
    write("mime", "nested", document(multipart(b"outer", [leaf(b"x", [b"X-Long: a" + CRLF + b"  b"]),
                                                          inner, leaf(b"last")])))
    write("mime", "no_parts", document(multipart(b"b", [])))
    write("mime", "first_part_multipart", document(multipart(b"b", [multipart(b"c", [leaf(b"x")])])))
    write("mime", "no_end_marker", document(multipart(b"b", [leaf(b"a")], end=False)))
    write("mime", "boundary_128", document(multipart(b"b" * 128, [leaf(b"a")])))
    write("mime", "bad_base64", document(leaf(b"", [b"Content-Transfer-Encoding: base64"]) + b"QU!D",
                                         is_leaf=True))
    write("mime", "bad_escape", document(leaf(b"a=4", [b"Content-Transfer-Encoding: quoted-printable"]),
                                         is_leaf=True))
    write("mime", "not_mime", document(leaf(b"x"), is_leaf=True, version=b""))
    write("mime", "lf_lines", document(multipart(b"b", [leaf(b"a")])).replace(CRLF, b"\n"))


if __name__ == "__main__":
    main()
