"""What the loopback servers of the tests share: the request log and the
start-up contract of tests/online/loopback_server.h (bind 127.0.0.1, print
"PORT <n>" once accepting, append one line per request to the log)."""
import argparse
import threading


class RequestLog:
    """Appends lines to the log file, whole and flushed, from any thread."""

    def __init__(self, path):
        self._file = open(path, "a", encoding="utf-8")
        self._lock = threading.Lock()

    def write(self, line):
        with self._lock:
            self._file.write(line + "\n")
            self._file.flush()


def arguments(description):
    """A parser that already knows --port and --log."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log", required=True)
    return parser


def serve(server):
    """Reports the port, then serves until the process is stopped."""
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
