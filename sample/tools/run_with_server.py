#!/usr/bin/env python3
"""Runs one test program of the sample product under Wine with the product's
statistics gateway stood in for by a small HTTP server on 127.0.0.1.

    run_with_server.py --port 8100 --wine-run <build>/wine-run <test.exe> [test arguments...]

The server answers every POST with {"code":0} and appends one line per
request to a file whose Windows path the test finds in QVR_SAMPLE_REQUESTS:

    <path>\t<valid|invalid>\t<body with \\, tab and line breaks escaped>

("valid" when the body parses as JSON). The drive D: of the Wine prefix is
mapped to a folder of the build tree when the prefix has no D: yet, so that
tests can install to another drive than the temporary folder's.

With --small-drive <letter>:<size> (for instance q:3m) a small file system of
that size (tmpfs, mounted under /tmp; needs the right to mount) is mapped as
that drive for the run and named in QVR_SMALL_DRIVE; it is unmapped and
unmounted afterwards. When it cannot be mounted, QVR_SMALL_DRIVE stays unset
and the reason is printed.
"""
import argparse
import contextlib
import json
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
    received = []

    def log_message(self, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length) if length > 0 else b""
        body = raw.decode("utf-8", errors="replace")
        try:
            json.loads(raw.decode("utf-8"))
            valid = "valid"
        except (ValueError, UnicodeDecodeError):
            valid = "invalid"
        with Recorder.lock, open(Recorder.out_path, "a", encoding="utf-8", newline="\n") as f:
            f.write("%s\t%s\t%s\n" % (self.path, valid, escape(body)))
            Recorder.received.append((self.path, valid, body))
        reply = b'{"code":0}'
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def do_GET(self):
        reply = "<html><body>Contoso 翻译</body></html>".encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def ensure_drive_d(prefix, build_dir):
    link = os.path.join(prefix, "dosdevices", "d:")
    if os.path.lexists(link):
        return
    target = os.path.join(build_dir, "tests", "sample_e2e", "drive_d")
    os.makedirs(target, exist_ok=True)
    try:
        os.symlink(target, link)
    except FileExistsError:
        pass


@contextlib.contextmanager
def small_drive(prefix, spec, env):
    """Maps a tmpfs of the given size as a drive of the prefix for the block."""
    if not spec:
        yield
        return
    letter, size = spec.split(":", 1)
    mount_point = tempfile.mkdtemp(prefix="qvr-small-drive-")
    link = os.path.join(prefix, "dosdevices", letter.lower() + ":")
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", mount_point],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        print("small drive not available (mount: %s)" % mounted.stderr.strip(), file=sys.stderr)
        os.rmdir(mount_point)
        yield
        return
    try:
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(mount_point, link)
        env["QVR_SMALL_DRIVE"] = letter.upper() + ":"
        yield
    finally:
        if os.path.islink(link):
            os.remove(link)
        # Lazily: a Wine process that still holds a file there must not fail the run.
        subprocess.run(["umount", "-l", mount_point])
        try:
            os.rmdir(mount_point)
        except OSError:
            pass


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=8100)
    p.add_argument("--wine-run", required=True)
    p.add_argument("--timeout", type=int, default=1500)
    p.add_argument("--small-drive", default="")
    p.add_argument("test")
    p.add_argument("args", nargs=argparse.REMAINDER)
    a = p.parse_args()

    build_dir = os.environ.get("QVR_BUILD_DIR") or os.path.dirname(os.path.abspath(a.wine_run))
    prefix = os.environ.get("QVR_WINEPREFIX") or os.path.join(build_dir, "wineprefix")
    ensure_drive_d(prefix, build_dir)

    work = tempfile.mkdtemp(prefix="contoso-server-")
    Recorder.out_path = os.path.join(work, "requests.txt")
    open(Recorder.out_path, "w").close()
    try:
        server = ThreadingHTTPServer(("127.0.0.1", a.port), Recorder)
    except OSError as e:
        print("cannot serve on 127.0.0.1:%d: %s" % (a.port, e), file=sys.stderr)
        return 2
    threading.Thread(target=server.serve_forever, daemon=True).start()

    env = dict(os.environ)
    env["QVR_SAMPLE_REQUESTS"] = windows_path(Recorder.out_path)
    # Shortcuts made in the prefix stay in the prefix (no desktop entries on the host).
    overrides = env.get("WINEDLLOVERRIDES", "mscoree,mshtml=")
    env["WINEDLLOVERRIDES"] = overrides + ";winemenubuilder.exe=d"
    try:
        with small_drive(prefix, a.small_drive, env):
            rc = subprocess.run([a.wine_run, a.test] + a.args, env=env, timeout=a.timeout).returncode
    except subprocess.TimeoutExpired:
        print("test program timed out after %d s" % a.timeout, file=sys.stderr)
        rc = 3
    finally:
        server.shutdown()
        server.server_close()
    if Recorder.received:
        print("--- requests received by 127.0.0.1:%d" % a.port)
        for path, valid, body in Recorder.received:
            print("POST %s (%s JSON)\n  %s" % (path, valid, body))
    os.remove(Recorder.out_path)
    os.rmdir(work)
    return rc


if __name__ == "__main__":
    sys.exit(main())
