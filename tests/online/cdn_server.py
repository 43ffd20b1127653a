#!/usr/bin/env python3
"""A content server for the tests: serves a folder read-only over HTTP/1.1.

    python3 cdn_server.py --port 0 --log LOGFILE --root DIR
                          [--delay-ms N] [--cut SUFFIX]...

Binds 127.0.0.1 (port 0: any free one), prints "PORT <n>" on standard output
once it accepts connections, and nothing else. Connections are kept alive
between requests. Every request is appended to LOGFILE at once as

    <client port> <method> <path> <Range header or ->

GET only (other methods: 405). Every response carries Content-Length. A
"Range: bytes=A-B", "bytes=A-" or "bytes=-N" header is answered 206 with
Content-Range, or 416 when it starts behind the file's end; a range header
of any other form is ignored (200 with the whole file). A missing file, a
folder or a path that leaves the root is 404.

--delay-ms N   every response waits N milliseconds before it is sent
--cut SUFFIX   a request whose path ends with SUFFIX gets the full
               Content-Length but only the first half of the body, then
               the connection closes (repeatable)
"""

import http.server
import os
import re
import socket
import time
import urllib.parse

import loopback

CHUNK = 64 * 1024
RANGE = re.compile(r"^bytes=(\d*)-(\d*)$")


def parse_range(header, size):
    """(start, end) inclusive, "unsatisfiable", or None to serve the whole file."""
    match = RANGE.match(header.strip()) if header else None
    if not match or (not match.group(1) and not match.group(2)):
        return None
    first, last = match.group(1), match.group(2)
    if not first:  # the last N bytes
        count = int(last)
        if count == 0 or size == 0:
            return "unsatisfiable"
        return max(size - count, 0), size - 1
    start = int(first)
    if last and int(last) < start:
        return None
    if start >= size:
        return "unsatisfiable"
    end = int(last) if last else size - 1
    return start, min(end, size - 1)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True  # headers and body are separate writes

    def version_string(self):
        return "kestrine-test-cdn"

    def log_message(self, format, *args):  # quiet: the request log is enough
        pass

    def do_GET(self):
        self.log_request_line()
        self.delay()
        path = self.local_path()
        if path is None or not os.path.isfile(path):
            self.send_plain_error(404)
            return
        with open(path, "rb") as file:
            size = os.fstat(file.fileno()).st_size
            wanted = parse_range(self.headers.get("Range"), size)
            if wanted == "unsatisfiable":
                self.send_plain_error(416, headers={"Content-Range": "bytes */%d" % size})
                return
            start, end = wanted if wanted else (0, size - 1)
            self.send_response(206 if wanted else 200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Accept-Ranges", "bytes")
            if wanted:
                self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
            length = end - start + 1
            self.send_header("Content-Length", str(length))
            self.end_headers()
            if self.is_cut():
                length //= 2
                self.close_connection = True
            file.seek(start)
            self.copy_body(file, length)

    def send_plain_error(self, code, headers=None):
        """A short text body; unlike send_error, the connection stays open."""
        body = ("%d %s\n" % (code, self.responses.get(code, ("",))[0])).encode()
        self.send_response(code)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def refuse(self):
        self.log_request_line()
        self.delay()
        self.close_connection = True  # a request body, if any, is not read
        self.send_plain_error(405, headers={"Allow": "GET"})

    do_HEAD = do_POST = do_PUT = do_DELETE = do_OPTIONS = refuse

    def log_request_line(self):
        self.server.request_log.write(
            "%d %s %s %s" % (self.client_address[1], self.command, self.path,
                             self.headers.get("Range") or "-"))

    def delay(self):
        if self.server.delay_ms > 0:
            time.sleep(self.server.delay_ms / 1000.0)

    def local_path(self):
        """The file below the root that the request names, or None."""
        url_path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        root = self.server.root
        path = os.path.realpath(os.path.join(root, url_path.lstrip("/")))
        return path if path.startswith(root + os.sep) else None

    def is_cut(self):
        url_path = urllib.parse.urlsplit(self.path).path
        return any(url_path.endswith(suffix) for suffix in self.server.cut_suffixes)

    def copy_body(self, file, length):
        while length > 0:
            chunk = file.read(min(CHUNK, length))
            if not chunk:
                break
            self.wfile.write(chunk)
            length -= len(chunk)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128  # many clients connect at once in the benchmark


def main():
    parser = loopback.arguments(__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--delay-ms", type=int, default=0)
    parser.add_argument("--cut", action="append", default=[])
    args = parser.parse_args()

    server = Server(("127.0.0.1", args.port), Handler)
    server.root = os.path.realpath(args.root)
    server.request_log = loopback.RequestLog(args.log)
    server.delay_ms = args.delay_ms
    server.cut_suffixes = args.cut
    loopback.serve(server)


if __name__ == "__main__":
    main()
