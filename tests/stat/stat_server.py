#!/usr/bin/env python3
"""Runs a test program next to a statistics gateway stand-in on 127.0.0.1.

usage: stat_server.py <wine-run> <program> [args...]

The server listens on a free port and answers every POST with {"code":0}.
The program finds, in its environment:
  QVR_STAT_PORT      the port
  QVR_STAT_REQUESTS  Windows path of a file with one line per request received:
                     <path>\t<body with \\, tab and line breaks escaped>
The exit code is the program's.
"""
import os
import subprocess
import sys
import tempfile
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


class Recorder(BaseHTTPRequestHandler):
    out_path = None
    lock = threading.Lock()

    def log_message(self, fmt, *args):
        sys.stderr.write("[stat_server] " + (fmt % args) + "\n")

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = (self.rfile.read(length) if length > 0 else b"").decode("utf-8", errors="replace")
        with Recorder.lock, open(Recorder.out_path, "a", encoding="utf-8", newline="\n") as f:
            f.write("%s\t%s\n" % (self.path, escape(body)))
        reply = b'{"code":0}'
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)


def main():
    wine_run, program, args = sys.argv[1], sys.argv[2], sys.argv[3:]
    work = tempfile.mkdtemp(prefix="qvr-stat-server-")
    Recorder.out_path = os.path.join(work, "requests.txt")
    open(Recorder.out_path, "w").close()
    server = ThreadingHTTPServer(("127.0.0.1", 0), Recorder)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ)
    env["QVR_STAT_PORT"] = str(server.server_address[1])
    env["QVR_STAT_REQUESTS"] = "Z:" + os.path.abspath(Recorder.out_path).replace("/", "\\")
    try:
        rc = subprocess.run([wine_run, program] + args, env=env).returncode
    finally:
        server.shutdown()
        server.server_close()
        os.remove(Recorder.out_path)
        os.rmdir(work)
    return rc


if __name__ == "__main__":
    sys.exit(main())
