#!/usr/bin/env python3
"""A Ribbit patch service for the tests: answers files of a folder.

    python3 ribbit_server.py --port 0 --log LOGFILE --root DIR [--delay-ms N]

Binds 127.0.0.1 (port 0: any free one) and prints "PORT <n>" on standard
output once it accepts connections, and nothing else. Per connection it
reads one request line up to CR LF (at most 4096 bytes), appends
"<client port> <line>" to LOGFILE at once, sends the bytes of the file
DIR/<line> and closes the connection. A missing file, a line that leaves DIR
or a connection closed before CR LF: the connection closes without an answer.

--delay-ms N   every answer waits N milliseconds before it is sent
"""

import os
import socket
import socketserver
import time

import loopback

MAX_LINE = 4096


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        line = self.read_line()
        if line is None:
            return
        self.server.write_log("%d %s" % (self.client_address[1], line))
        if self.server.delay_ms > 0:
            time.sleep(self.server.delay_ms / 1000.0)
        path = self.local_path(line)
        if path is None or not os.path.isfile(path):
            return
        with open(path, "rb") as file:
            self.request.sendall(file.read())

    def read_line(self):
        data = b""
        while b"\r\n" not in data:
            if len(data) > MAX_LINE:
                return None
            chunk = self.request.recv(1024)
            if not chunk:
                return None
            data += chunk
        return data.split(b"\r\n", 1)[0].decode("utf-8", "replace")

    def local_path(self, line):
        root = self.server.root
        path = os.path.realpath(os.path.join(root, line.lstrip("/")))
        return path if path.startswith(root + os.sep) else None


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128

    def shutdown_request(self, request):
        # Half-close first so that the client reads the whole answer, then
        # its end, rather than a reset.
        try:
            request.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        request.close()


def main():
    parser = loopback.arguments(__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--delay-ms", type=int, default=0)
    args = parser.parse_args()

    server = Server(("127.0.0.1", args.port), Handler)
    server.root = os.path.realpath(args.root)
    server.delay_ms = args.delay_ms
    server.write_log = loopback.RequestLog(args.log).write
    loopback.serve(server)


if __name__ == "__main__":
    main()
