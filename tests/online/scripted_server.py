#!/usr/bin/env python3
"""A TCP responder for the transfer tests: it answers what a well-behaved
server never sends, chosen by the request's path.

    python3 scripted_server.py --port 0 --log LOGFILE [--answers FOLDER]

A request that starts with "GET " is HTTP (read up to the empty line);
anything else is a Ribbit request (its first line). Each request appends
"<client port> <HTTP|RIBBIT> <path> active=<n>" to LOGFILE, n being the
requests being answered at that moment, this one included.

HTTP paths (answers with a Content-Length keep the connection open):
    /ok/TEXT              200, TEXT
    /slow/MS/TEXT         200, TEXT after MS milliseconds
    /status/CODE          CODE with a short body
    /empty                200, Content-Length: 0
    /close-crlf/TEXT      200, no length, TEXT CR LF, then close
    /close-plain/TEXT     200, no length, TEXT, then close
    /huge                 200, Content-Length: 0x40000001, 1000 bytes, close
    /short                200, Content-Length: 100, 10 bytes, close
    /reset-start          connection reset before any byte
    /reset-mid            200, Content-Length: 100, 10 bytes, reset
    /silent               accepts the request and never answers
    /stall-mid            200, Content-Length: 100, 10 bytes, then silence
    /chunked/TEXT         200, TEXT in two chunks and a trailer field
    /chunked-empty        200, chunked, no data
    /file/SIZE            SIZE bytes (byte i is i % 251), honouring a Range
    /ignore-range/SIZE    the same file, always whole with 200
    /bad-range/SIZE       206 whose Content-Range starts one byte late
    /redirect/PATH        302 to /PATH
    /redirect-loop        302 to itself
    /echo                 200 whose body is the request as received

Ribbit lines:
    answer/NAME           the file NAME of the answers folder, then close
    hold/NAME             the same, then silence until the client closes
    reset                 connection reset before any byte
    silent                never answers
"""
import os
import socket
import socketserver
import struct
import threading
import time

import loopback

CRLF = b"\r\n"
SILENCE_SECONDS = 60


class State:
    lock = threading.Lock()
    active = 0
    log_path = ""
    answers = ""


def log(line):
    with State.lock:
        with open(State.log_path, "a") as f:
            f.write(line + "\n")
            f.flush()


def file_bytes(size):
    return bytes(i % 251 for i in range(size))


def header(status, fields):
    reasons = {200: "OK", 206: "Partial Content", 302: "Found", 404: "Not Found"}
    lines = [b"HTTP/1.1 %d %s" % (status, reasons.get(status, "Status").encode())]
    lines += [f.encode() for f in fields]
    return CRLF.join(lines) + CRLF + CRLF


def answer(status, body, fields=()):
    return header(status, list(fields) + ["Content-Length: %d" % len(body)]) + body


def reset(sock):
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


def wait_for_close(sock):
    sock.settimeout(SILENCE_SECONDS)
    try:
        while sock.recv(4096):
            pass
    except OSError:
        pass


def requested_range(request):
    for line in request.split(CRLF):
        if line.lower().startswith(b"range: bytes="):
            first, last = line.split(b"=", 1)[1].split(b"-")
            return int(first), int(last)
    return None


def chunk(data):
    return b"%x" % len(data) + CRLF + data + CRLF


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        self.buffer = b""
        self.counted = False
        while True:
            first = self.read_until(CRLF)
            if first is None:
                return
            if not first.startswith(b"GET "):
                return self.ribbit(first.decode("latin-1"))
            rest = self.read_until(CRLF + CRLF) if not self.buffer.startswith(CRLF) else self.take(2)
            if rest is None:
                return
            request = first + CRLF + rest
            path = first.split(b" ")[1].decode("latin-1")
            self.arrive("HTTP", path)
            try:
                keep = self.http(path, request)
            finally:
                self.leave()
            if not keep:
                return

    def read_until(self, marker):
        while marker not in self.buffer:
            data = self.request.recv(4096)
            if not data:
                return None
            self.buffer += data
        at = self.buffer.index(marker)
        line, self.buffer = self.buffer[:at], self.buffer[at + len(marker):]
        return line

    def take(self, count):
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def arrive(self, kind, path):
        with State.lock:
            State.active += 1
            active = State.active
        self.counted = True
        log("%d %s %s active=%d" % (self.client_address[1], kind, path, active))

    def leave(self):
        # Before the answer goes out: once a client has it, its next request
        # may arrive at once and must not find this one still counted.
        if self.counted:
            self.counted = False
            with State.lock:
                State.active -= 1

    def send(self, data):
        self.leave()
        self.request.sendall(data)

    def http(self, path, request):
        """Answers one request; True when the connection stays open."""
        parts = path.split("/")
        kind = parts[1] if len(parts) > 1 else ""
        arg = "/".join(parts[2:]).encode()
        sock = self.request
        if kind == "ok":
            self.send(answer(200, arg))
        elif kind == "slow":
            time.sleep(int(parts[2]) / 1000.0)
            self.send(answer(200, "/".join(parts[3:]).encode()))
        elif kind == "status":
            self.send(answer(int(parts[2]), b"no such page\n"))
        elif kind == "empty":
            self.send(answer(200, b""))
        elif kind == "close-crlf":
            self.send(header(200, []) + arg + CRLF)
            return False
        elif kind == "close-plain":
            self.send(header(200, []) + arg)
            return False
        elif kind == "huge":
            self.send(header(200, ["Content-Length: %d" % (0x40000001)]) + b"x" * 1000)
            return False
        elif kind == "short":
            self.send(header(200, ["Content-Length: 100"]) + b"x" * 10)
            return False
        elif kind == "reset-start":
            reset(sock)
            return False
        elif kind == "reset-mid":
            self.send(header(200, ["Content-Length: 100"]) + b"x" * 10)
            time.sleep(0.1)
            reset(sock)
            return False
        elif kind == "silent":
            wait_for_close(sock)
            return False
        elif kind == "stall-mid":
            self.send(header(200, ["Content-Length: 100"]) + b"x" * 10)
            wait_for_close(sock)
            return False
        elif kind == "chunked":
            half = len(arg) // 2
            body = chunk(arg[:half]) + chunk(arg[half:]) + b"0" + CRLF + b"X-Trailer: 1" + CRLF + CRLF
            self.send(header(200, ["Transfer-Encoding: chunked", "Trailer: X-Trailer"]) + body)
        elif kind == "chunked-empty":
            self.send(header(200, ["Transfer-Encoding: chunked"]) + b"0" + CRLF + CRLF)
        elif kind in ("file", "ignore-range", "bad-range"):
            self.file(kind, int(parts[2]), requested_range(request))
        elif kind == "redirect":
            self.send(answer(302, b"", ["Location: /" + "/".join(parts[2:])]))
        elif kind == "redirect-loop":
            self.send(answer(302, b"", ["Location: /redirect-loop"]))
        elif kind == "echo":
            self.send(answer(200, request + CRLF + CRLF))
        else:
            self.send(answer(404, b"unknown script\n"))
        return True

    def file(self, kind, size, wanted):
        data = file_bytes(size)
        if wanted is None or kind == "ignore-range":
            self.send(answer(200, data))
            return
        first, last = wanted
        piece = data[first:last + 1]
        start = first + 1 if kind == "bad-range" else first
        self.send(answer(206, piece, ["Content-Range: bytes %d-%d/%d" % (start, start + len(piece) - 1, size)]))

    def ribbit(self, line):
        self.arrive("RIBBIT", line)
        try:
            if line.startswith("answer/"):
                with open(os.path.join(State.answers, line[len("answer/"):]), "rb") as f:
                    self.send(f.read())
                self.request.shutdown(socket.SHUT_WR)
            elif line.startswith("hold/"):
                with open(os.path.join(State.answers, line[len("hold/"):]), "rb") as f:
                    self.send(f.read())
                wait_for_close(self.request)
            elif line == "reset":
                reset(self.request)
            elif line == "silent":
                wait_for_close(self.request)
        finally:
            self.leave()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def main():
    parser = loopback.arguments(__doc__.splitlines()[0])
    parser.add_argument("--answers", default=".")
    args = parser.parse_args()
    State.log_path = args.log
    State.answers = args.answers
    server = Server(("127.0.0.1", args.port), Handler)
    loopback.serve(server)


if __name__ == "__main__":
    main()
