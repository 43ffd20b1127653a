#!/usr/bin/env python3
"""Writes the seed corpus of the response fuzz target into fuzz/corpus/response/.

Each seed is one byte choosing the piece size the response arrives in,
followed by the response: HTTP answers with and without a length, chunked
and ranged answers, Ribbit answers read to the close, and the faults the
transfer refuses.

Run again after changing a seed; the files are committed.
"""
from seeds_roots import write

CRLF = b"\r\n"


def http(status_line, fields, body=b""):
    return status_line + CRLF + b"".join(f + CRLF for f in fields) + CRLF + body


def seed(name, response, step=3):
    write("response", name, bytes([step]) + response)


def main():
    seed("ok_length", http(b"HTTP/1.1 200 OK", [b"Content-Length: 5"], b"hello"))
    seed("lower_length", http(b"HTTP/1.1 200 OK", [b"content-length: 5"], b"hello"), step=0)
    seed("no_length_crlf", http(b"HTTP/1.1 200 OK", [b"Server: x"], b"hello" + CRLF))
    seed("no_length_plain", http(b"HTTP/1.1 200 OK", [], b"hello"))
    seed("not_found", http(b"HTTP/1.1 404 Not Found", [b"Content-Length: 3"], b"no\n"))
    seed("zero_length", http(b"HTTP/1.1 200 OK", [b"Content-Length: 0"]))
    seed("huge_length", http(b"HTTP/1.1 200 OK", [b"Content-Length: 1073741825"], b"x" * 10))
    seed("overflow_length", http(b"HTTP/1.1 200 OK", [b"Content-Length: 99999999999999999999999"]))
    seed("short_body", http(b"HTTP/1.1 200 OK", [b"Content-Length: 100"], b"x" * 10))
    seed("chunked", http(b"HTTP/1.1 200 OK", [b"Transfer-Encoding: chunked"], b"5\r\nhello\r\n0\r\n\r\n"))
    seed("partial", http(b"HTTP/1.1 206 Partial Content",
                         [b"Content-Range: bytes 100-104/1000", b"Content-Length: 5"], b"abcde"))
    seed("redirect_then_ok", http(b"HTTP/1.1 302 Found", [b"Location: /x", b"Content-Length: 0"])
         + http(b"HTTP/1.1 200 OK", [b"Content-Length: 2"], b"ok"), step=15)
    seed("status_no_digits", http(b"HTTP/1.1 OK", []))
    seed("no_header_end", b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", step=1)
    seed("ribbit", b"MIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=\"b\"\r\n\r\n"
         b"--b\r\n\r\ntable\r\n--b--\r\nChecksum: 00\r\n", step=7)
    seed("ribbit_length", b"MIME-Version: 1.0\r\nContent-Length: 4\r\n\r\nbody")
    seed("empty", b"")


if __name__ == "__main__":
    main()
