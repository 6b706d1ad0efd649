"""Installer benchmark driver: ours against NSIS, same payload, under Wine."""
import glob
import os
import re
import random
import shutil
import statistics
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

root = sys.argv[1]
runs = int(sys.argv[2])
build = os.environ.get("BUILD_DIR", os.path.join(root, "build"))
work = os.path.join(build, "bench-installers")
wine_run = os.path.join(build, "wine-run")
prefix = os.path.join(build, "wineprefix")
drive_c = os.path.join(prefix, "drive_c")

PE_SOURCE = "/usr/lib/i386-linux-gnu/wine/i386-windows"
PE_BYTES = 60 * 1024 * 1024
TEXT_BYTES = 10 * 1024 * 1024
MAX_FILE = 2 * 1024 * 1024  # many mid-sized PE files, as a product ships them
PAYLOAD_VERSION = "2"  # change when the payload recipe changes: rebuilds payload and installers


def log(*a):
    print(*a, file=sys.stderr, flush=True)


def prepare_payload():
    payload = os.path.join(work, "payload")
    stamp = os.path.join(work, "payload.done")
    if os.path.exists(stamp) and open(stamp).read() == PAYLOAD_VERSION:
        return payload
    shutil.rmtree(payload, ignore_errors=True)
    for old in ("app.7z", "nsis_setup.exe", "nsis_stub.exe"):
        if os.path.exists(os.path.join(work, old)):
            os.remove(os.path.join(work, old))
    os.makedirs(os.path.join(payload, "bin"))
    total = 0
    for name in sorted(os.listdir(PE_SOURCE)):
        src = os.path.join(PE_SOURCE, name)
        size = os.path.getsize(src)
        if not name.endswith((".dll", ".exe")) or size > MAX_FILE:
            continue
        shutil.copyfile(src, os.path.join(payload, "bin", name))
        total += size
        if total >= PE_BYTES:
            break
    # Text: deterministic word soup in a few folders.
    rng = random.Random(7)
    words = [w.strip() for w in open("/usr/share/dict/words")] if os.path.exists("/usr/share/dict/words") else \
        ["contoso", "translator", "install", "window", "payload", "script", "folder", "registry", "shortcut"]
    written = 0
    i = 0
    while written < TEXT_BYTES:
        folder = os.path.join(payload, "docs", "part%02d" % (i % 8))
        os.makedirs(folder, exist_ok=True)
        n = rng.randint(8_000, 60_000)
        text = " ".join(rng.choice(words) for _ in range(n // 7))[:n]
        with open(os.path.join(folder, "doc%03d.txt" % i), "w") as f:
            f.write(text)
        written += len(text)
        i += 1
    with open(stamp, "w") as f:
        f.write(PAYLOAD_VERSION)
    return payload


def count_files(path):
    return sum(len(files) for _, _, files in os.walk(path))


def build_installers(payload, env):
    """Packs both installers from the payload folder, timing each packer.

    Ours: qvrpack under Wine (the packer's own LZMA2 and x86 converter,
    16 MiB solid blocks). NSIS: makensis natively (SetCompressor /SOLID lzma).
    The packing times are one run each, after the build; the Wine prefix is warm."""
    here = os.path.join(root, "bench", "installers")
    ours = os.path.join(work, "qvr_setup", "bench_qvr_setup.exe")
    os.makedirs(os.path.dirname(ours), exist_ok=True)
    if os.path.exists(ours):
        os.remove(ours)
    qvrpack = os.path.join(build, "bin", "qvrpack.exe")
    pack_ours = timed([wine_run, qvrpack,
                       "--config", "Z:" + os.path.join(here, "bench_config.lua"),
                       "--install", "Z:" + os.path.join(here, "bench_install.lua"),
                       "--uninstall", "Z:" + os.path.join(here, "bench_uninstall.lua"),
                       "--payload", "Z:" + payload, "--as-invoker", "--output", "Z:" + ours], env)
    if pack_ours[3] != 0:
        raise SystemExit("qvrpack failed with exit code %d" % pack_ours[3])

    nsi = os.path.join(here, "bench.nsi")
    nsis = os.path.join(work, "nsis_setup.exe")
    if os.path.exists(nsis):
        os.remove(nsis)
    pack_nsis = timed(["makensis", "-V1", "-DOUTFILE=" + nsis, "-DPAYLOAD_DIR=" + payload, nsi], env)
    if pack_nsis[3] != 0:
        raise SystemExit("makensis failed with exit code %d" % pack_nsis[3])
    empty = os.path.join(work, "empty")
    os.makedirs(empty, exist_ok=True)
    nsis_stub = os.path.join(work, "nsis_stub.exe")
    if not os.path.exists(nsis_stub):
        subprocess.run(["makensis", "-V1", "-DOUTFILE=" + nsis_stub, "-DPAYLOAD_DIR=" + empty, nsi], check=True)
    return ours, nsis, nsis_stub, pack_ours, pack_nsis


def timed(cmd, env):
    """Runs cmd under /usr/bin/time; returns (wall, cpu, peak KiB, exit code)."""
    fmt = "QVRTIME %e %U %S %M"
    t0 = time.time()
    p = subprocess.run(["/usr/bin/time", "-f", fmt] + cmd, env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True, errors="replace")
    wall = time.time() - t0
    line = [l for l in p.stderr.splitlines() if l.startswith("QVRTIME")][-1].split()
    return wall, float(line[2]) + float(line[3]), int(line[4]), p.returncode


# --- The shipped installer: the sample product's full silent install ---------

PRODUCT_DIR = "C:\\Program Files (x86)\\ContosoTranslator"


class Gateway(BaseHTTPRequestHandler):
    """The product's statistics gateway: answers every report with code 0."""

    def log_message(self, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(length)
        body = b'{"code":0}'
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def host_path(win_path):
    return os.path.join(drive_c, win_path[3:].replace("\\", "/"))


def wine_processes(fragment):
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        if fragment.lower() in cmd.lower():
            found.append(pid)
    return found


def uninstall_product(env):
    """Runs the product's uninstaller silently and waits until it is done."""
    uninst = PRODUCT_DIR + "\\ContosoUninst.exe"
    if not os.path.exists(host_path(uninst)):
        return None
    t0 = time.time()
    subprocess.run([wine_run, uninst, "/s"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 180
    while wine_processes("ContosoUninst") and time.time() < deadline:
        time.sleep(0.1)
    if wine_processes("ContosoUninst"):
        raise SystemExit("the product's uninstaller did not finish within 180 s")
    return time.time() - t0


def log_files():
    return {p: os.path.getsize(p) for p in glob.glob(os.path.join(drive_c, "users", "*", "Temp", "Install_*.log"))}


def new_log_text(before):
    text = ""
    for path, size in log_files().items():
        with open(path, "rb") as f:
            f.seek(before.get(path, 0) if before.get(path, 0) <= os.path.getsize(path) else 0)
            text += f.read().decode("gbk", "replace")
    return text


TRACE = re.compile(r"log:trace: (\w+) (\S+) calls=(\d+) ms=(\d+)")
TRACE_TOTAL = re.compile(r"log:trace: process ms=(\d+)")


def shipped_install(runs, env):
    shipped = os.path.join(build, "bin", "ContosoTranslatorSetup.exe")
    traced = os.path.join(work, "traced", "ContosoTranslatorSetup.exe")
    subprocess.run(["cmake", "--build", build, "--target", "bench_shipped_traced"], check=True,
                   stdout=subprocess.DEVNULL)
    try:
        server = ThreadingHTTPServer(("127.0.0.1", 8100), Gateway)
    except OSError as e:
        raise SystemExit("cannot listen on 127.0.0.1:8100 for the product's reports (%s); is a test running?" % e)
    threading.Thread(target=server.serve_forever, daemon=True).start()

    plain, profiles, uninstalls = [], [], []

    def install(exe):
        before = log_files()
        r = timed([wine_run, exe, "/InstallSlience", "true"], env)
        if r[3] != 0 or not os.path.exists(host_path(PRODUCT_DIR + "\\ContosoTranslator.exe")):
            raise SystemExit("shipped install %s: exit %d, product not installed" % (exe, r[3]))
        return r, new_log_text(before)

    uninstall_product(env)  # from an earlier run or test
    log("shipped installer: warm-up")
    install(shipped)
    uninstall_product(env)
    for i in range(1, runs + 1):
        r, _ = install(shipped)
        plain.append(r)
        uninstalls.append(uninstall_product(env))
        r2, text = install(traced)
        calls = {(m.group(1), m.group(2)): (int(m.group(3)), int(m.group(4))) for m in TRACE.finditer(text)}
        total = TRACE_TOTAL.search(text)
        if not calls or not total:
            raise SystemExit("traced install %d: no time profile in the log" % i)
        profiles.append((r2[0], int(total.group(1)) / 1000.0, calls))
        uninstall_product(env)
        log("shipped run %d: wall %.2f s (traced %.2f s), cpu %.2f s, peak %d KiB; uninstall %.2f s" %
            (i, r[0], r2[0], r[1], r[2], uninstalls[-1]))
    server.shutdown()

    med = statistics.median
    wall = med(x[0] for x in plain)
    out = ["", "## The shipped installer (ContosoTranslatorSetup.exe /InstallSlience true)", "",
           "Fresh install of the sample product each run (uninstalled in between), %d runs after a warm-up; "
           "the product's statistics gateway answers on 127.0.0.1:8100." % runs, "",
           "| measure | value |", "|---|---|",
           "| median wall time (s) | %.2f |" % wall,
           "| spread of wall time (s) | %.2f |" % (max(x[0] for x in plain) - min(x[0] for x in plain)),
           "| median CPU time (s) | %.2f |" % med(x[1] for x in plain),
           "| median peak memory (MiB) | %.2f |" % (med(x[2] for x in plain) / 1024),
           "| median wall time with the time profile (s) | %.2f |" % med(p[0] for p in profiles),
           "| median uninstall wall time (s) | %.2f |" % med(uninstalls), "",
           "Where the time goes (medians of the profiled runs; inclusive wall time):", "",
           "| part | calls | ms |", "|---|---|---|"]
    in_process = med(p[1] for p in profiles) * 1000
    keys = sorted(set(k for p in profiles for k in p[2]))

    def med_of(key):
        return med(p[2].get(key, (0, 0))[1] for p in profiles), med(p[2].get(key, (0, 0))[0] for p in profiles)

    events = [k for k in keys if k[0] == "event"]
    event_ms = sum(med_of(k)[0] for k in events)
    out.append("| Wine process start and exit (wall minus time in the process) | | %d |" %
               (med(p[0] for p in profiles) * 1000 - in_process))
    out.append("| start-up before and between the events (engine, chunks, command line) | | %d |" %
               (in_process - event_ms))
    order = ["QVRSE_BeforeInit", "QVRSE_BeforeInstall", "QVRSE_OnInstall", "QVRSE_BeforeComplete",
             "QVRSE_AfterComplete"]
    for name in order:
        if ("event", name) in keys:
            ms, n = med_of(("event", name))
            out.append("| event %s | %d | %d |" % (name, n, ms))
    for kind in ("native", "script"):
        rows = sorted(((med_of(k), k[1]) for k in keys if k[0] == kind), reverse=True)
        for (ms, n), name in rows:
            if ms >= 20:
                out.append("| %s %s | %d | %d |" % (kind, name, n, ms))
    out.append("")
    out.append("Script functions are inclusive: the natives they call are counted again in the native rows. "
               "Rows under 20 ms are left out.")
    return out


def main():
    os.makedirs(work, exist_ok=True)
    payload = prepare_payload()
    nfiles = count_files(payload)
    psize = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(payload) for f in fs)
    log("payload: %d files, %.1f MB" % (nfiles, psize / 1e6))
    env = dict(os.environ, WINEDEBUG="-all")
    subprocess.run([wine_run, "wineboot"], env=env, check=False)
    subprocess.Popen(["wineserver", "-p"], env=dict(env, WINEPREFIX=prefix))  # keep the server up between runs
    ours, nsis, nsis_stub, pack_ours, pack_nsis = build_installers(payload, env)

    targets = os.path.join(drive_c, "bench")
    results = {"ours": [], "nsis": []}

    def one(kind, i):
        folder = "%s_%d" % (kind, i)
        shutil.rmtree(os.path.join(targets, folder), ignore_errors=True)
        win_target = "C:\\bench\\" + folder
        if kind == "ours":
            e = dict(env, QVR_BENCH_TARGET=win_target)
            r = timed([wine_run, ours, "/InstallSlience", "true"], e)
        else:
            r = timed([wine_run, nsis, "/S", "/D=" + win_target], env)
        got = count_files(os.path.join(targets, folder))
        expected = nfiles + (2 if kind == "ours" else 1)
        if r[3] != 0 or got != expected:
            raise SystemExit("%s run %d: exit %d, %d files installed (expected %d)" % (kind, i, r[3], got, expected))
        shutil.rmtree(os.path.join(targets, folder), ignore_errors=True)
        return r

    log("warm-up")
    first = {"ours": one("ours", 0), "nsis": one("nsis", 0)}
    for i in range(1, runs + 1):
        for kind in ("ours", "nsis"):
            r = one(kind, i)
            results[kind].append(r)
            log("%s run %d: wall %.2f s, cpu %.2f s, peak %d KiB" % (kind, i, r[0], r[1], r[2]))

    def med(kind, k):
        return statistics.median(x[k] for x in results[kind])

    def spread(kind, k):
        xs = [x[k] for x in results[kind]]
        return max(xs) - min(xs)

    sizes = {"ours": os.path.getsize(ours), "nsis": os.path.getsize(nsis)}
    stubs = {"ours": os.path.getsize(os.path.join(build, "bin", "qvrengine.exe")), "nsis": os.path.getsize(nsis_stub)}
    rows = [
        ("packing wall time (s; qvrpack under Wine, makensis native)", pack_ours[0], pack_nsis[0]),
        ("packing CPU time (s)", pack_ours[1], pack_nsis[1]),
        ("packing peak memory (MiB)", pack_ours[2] / 1024, pack_nsis[2] / 1024),
        ("median wall time (s)", med("ours", 0), med("nsis", 0)),
        ("spread of wall time (s)", spread("ours", 0), spread("nsis", 0)),
        ("median CPU time (s)", med("ours", 1), med("nsis", 1)),
        ("median peak memory (MiB)", med("ours", 2) / 1024, med("nsis", 2) / 1024),
        ("installer size (MB)", sizes["ours"] / 1e6, sizes["nsis"] / 1e6),
        ("stub size (KB)", stubs["ours"] / 1e3, stubs["nsis"] / 1e3),
    ]
    out = ["# Installer benchmark", "",
           "payload: %d files, %.1f MB; %d runs each after one warm-up, alternating; Wine prefix warm" %
           (nfiles, psize / 1e6, runs), "",
           "| measure | ours | NSIS | ours/NSIS |", "|---|---|---|---|"]
    for name, a, b in rows:
        out.append("| %s | %.2f | %.2f | %s |" % (name, a, b, ("%.2f" % (a / b)) if b else "-"))
    out.append("")
    out.append("Warm-up runs (first run of each installer in this session, not in the medians): ours %.2f s, "
               "NSIS %.2f s wall." % (first["ours"][0], first["nsis"][0]))
    out.append("")
    out.append("Start of the interactive installer to its first painted window: skipped "
               "(the installer has no window yet).")
    out += shipped_install(runs, env)
    text = "\n".join(out) + "\n"
    print(text)
    with open(os.path.join(work, "results.md"), "w") as f:
        f.write(text)
    log("written to " + os.path.join(work, "results.md"))


main()
