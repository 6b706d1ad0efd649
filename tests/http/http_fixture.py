#!/usr/bin/env python3
"""Runs a test program next to small servers on 127.0.0.1.

usage: http_fixture.py <program> [args...]

Servers, announced to the program through the environment:
  QVR_HTTP_PORT   plain HTTP
  QVR_HTTPS_PORT  HTTPS with a self-signed certificate made now (openssl)
  QVR_HANG_PORT   accepts connections and never answers
  QVR_CLOSED_PORT a port nobody listens on (connections are refused)

Both HTTP servers answer POST requests by path:
  /echo          200, the request as received: request line, header lines,
                 an empty line, the body (CRLF line ends)
  /status/<n>    status n with the body "status <n> body"
  /empty         200 with an empty body
The exit code is the program's.
"""
import http.server
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("[http_fixture] " + (fmt % args) + "\n")

    def answer(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length else b""
        if self.path == "/echo":
            lines = [self.requestline] + [f"{k}: {v}" for k, v in self.headers.items()]
            self.answer(200, ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body)
        elif self.path.startswith("/status/"):
            code = int(self.path.rsplit("/", 1)[1])
            self.answer(code, f"status {code} body".encode())
        elif self.path == "/empty":
            self.answer(200, b"")
        else:
            self.answer(400, b"unknown path")


def serve(server):
    t = threading.Thread(target=server.serve_forever, daemon=True)
    t.start()
    return server.server_address[1]


def make_certificate(folder):
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=qvr-test.localhost", "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def hang_server():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    s.listen(16)
    held = []

    def accept():
        while True:
            conn, _ = s.accept()
            held.append(conn)  # never read, never answered, never closed

    threading.Thread(target=accept, daemon=True).start()
    return s.getsockname()[1], s


def closed_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    folder = tempfile.mkdtemp(prefix="qvr-http-")
    try:
        plain = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        secure = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        cert, key = make_certificate(folder)
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(cert, key)
        secure.socket = ctx.wrap_socket(secure.socket, server_side=True)
        hang_port, _keep = hang_server()
        env = dict(os.environ,
                   QVR_HTTP_PORT=str(serve(plain)),
                   QVR_HTTPS_PORT=str(serve(secure)),
                   QVR_HANG_PORT=str(hang_port),
                   QVR_CLOSED_PORT=str(closed_port()))
        return subprocess.run(sys.argv[1:], env=env).returncode
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
