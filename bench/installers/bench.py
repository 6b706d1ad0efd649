"""Installer benchmark driver: ours against NSIS, same payloads, under Wine.

    bench.py <checkout> <runs> [--sizes 100,200,400] [--no-shipped]

Two payloads: the benchmark payload (~70 MB of PE files and text) and payloads
of large incompressible files in several sizes (MiB), each installed by both
installers in alternation into fresh folders."""
import fcntl
import glob
import json
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
options = sys.argv[3:]
BIG_SIZES = [100, 200, 400]
with_shipped = True
while options:
    opt = options.pop(0)
    if opt == "--sizes" and options:
        BIG_SIZES = [int(x) for x in options.pop(0).split(",") if x]
    elif opt == "--no-shipped":
        with_shipped = False
    else:
        raise SystemExit("usage: bench.py <checkout> <runs> [--sizes 100,200,400] [--no-shipped]")
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


HERE = os.path.join(root, "bench", "installers")


def pack_qvr(payload, out, env, timeout=None):
    """qvrpack under Wine: payload is a folder (packed by qvrpack itself) or a ready .7z."""
    os.makedirs(os.path.dirname(out), exist_ok=True)
    if os.path.exists(out):
        os.remove(out)
    qvrpack = os.path.join(build, "bin", "qvrpack.exe")
    return timed([wine_run, qvrpack,
                  "--config", "Z:" + os.path.join(HERE, "bench_config.lua"),
                  "--install", "Z:" + traced_install_script(),
                  "--uninstall", "Z:" + os.path.join(HERE, "bench_uninstall.lua"),
                  "--payload", "Z:" + payload, "--as-invoker", "--output", "Z:" + out], env, timeout)


def traced_install_script():
    """The benchmark's install script with trace.lua appended: every run of
    ours logs where its time went (a few wrapped calls, no measurable cost)."""
    path = os.path.join(work, "bench_install_traced.lua")
    with open(path, "w") as f:
        for part in ("bench_install.lua", "trace.lua"):
            f.write(open(os.path.join(HERE, part)).read() + "\n")
    return path


def pack_nsis(payload, out, env, per_file=False):
    if os.path.exists(out):
        os.remove(out)
    return timed(["makensis", "-V1", "-DOUTFILE=" + out, "-DPAYLOAD_DIR=" + payload] +
                 (["-DPER_FILE=1"] if per_file else []) + [os.path.join(HERE, "bench.nsi")], env)


def build_installers(payload, env):
    """Packs both installers from the payload folder, timing each packer.

    Ours: qvrpack under Wine (the packer's own LZMA2 and x86 converter,
    16 MiB solid blocks). NSIS: makensis natively (SetCompressor /SOLID lzma).
    The packing times are one run each, after the build; the Wine prefix is warm."""
    ours = os.path.join(work, "qvr_setup", "bench_qvr_setup.exe")
    pack_ours = pack_qvr(payload, ours, env)
    if pack_ours[3] != 0:
        raise SystemExit("qvrpack failed with exit code %s" % pack_ours[3])
    nsis = os.path.join(work, "nsis_setup.exe")
    pack_n = pack_nsis(payload, nsis, env)
    if pack_n[3] != 0:
        raise SystemExit("makensis failed with exit code %s" % pack_n[3])
    empty = os.path.join(work, "empty")
    os.makedirs(empty, exist_ok=True)
    nsis_stub = os.path.join(work, "nsis_stub.exe")
    if not os.path.exists(nsis_stub):
        subprocess.run(["makensis", "-V1", "-DOUTFILE=" + nsis_stub, "-DPAYLOAD_DIR=" + empty,
                        os.path.join(HERE, "bench.nsi")], check=True)
    return ours, nsis, nsis_stub, pack_ours, pack_n


# --- Payloads of large incompressible files ------------------------------------

MIB = 1 << 20
BIG_VERSION = "1"  # change when the recipe below changes: rebuilds the big payloads and their installers
BIG_FIRST_FILE = 64  # MiB: every payload holds the largest file, so its largest block is the same size
BIG_FILE_MIB = (16, 64)
BIG_7Z_ARGS = ["-t7z", "-m0=lzma2", "-mx=1", "-ms=16m", "-mmt=2", "-mtc=off", "-mta=off"]
QVRPACK_BIG_TIMEOUT = 600  # s: qvrpack's own encoder on the smallest big payload, once


def big_files():
    """(name, MiB) of the files of the largest payload; a smaller payload takes
    the first of them, the last one cut to its size."""
    rng = random.Random(17)
    total, sizes = max(BIG_SIZES), [BIG_FIRST_FILE]
    while sum(sizes) < total:
        sizes.append(rng.randint(*BIG_FILE_MIB))
    return [("data/blob%02d.bin" % i, n) for i, n in enumerate(sizes)]


def prepare_big_payloads():
    """One folder per size under big/<MiB>: random bytes from a fixed seed per
    file (incompressible), hard links to one pool of files."""
    base = os.path.join(work, "big")
    stamp = os.path.join(base, "payloads.done")
    want = BIG_VERSION + " " + ",".join(map(str, BIG_SIZES))
    if os.path.exists(stamp) and open(stamp).read() == want:
        return {n: os.path.join(base, str(n)) for n in BIG_SIZES}
    shutil.rmtree(base, ignore_errors=True)
    os.makedirs(os.path.join(base, "pool"))
    folders = {}
    for size in BIG_SIZES:
        folder = os.path.join(base, str(size))
        left = size
        for i, (name, mib) in enumerate(big_files()):
            if left <= 0:
                break
            mib = min(mib, left)
            left -= mib
            pooled = os.path.join(base, "pool", "%02d_%d" % (i, mib))
            if not os.path.exists(pooled):
                rng = random.Random(1000 + i)
                with open(pooled, "wb") as f:
                    for _ in range(mib):
                        f.write(rng.randbytes(MIB))
                os.utime(pooled, (1700000000, 1700000000))
            os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
            os.link(pooled, os.path.join(folder, name))
        folders[size] = folder
    with open(stamp, "w") as f:
        f.write(want)
    return folders


def build_big_installers(folders, env):
    """Per size: the payload packed by the native 7zz into a ready .7z (LZMA2
    at -mx=1, solid blocks of at most 16 MiB, so every file is a block of its
    own) and qvrpack's installer from it; NSIS's installer from the folder
    (per-file LZMA). NSIS's installers and the .7z files are kept between runs
    with their packing figures (they do not depend on our engine); ours is
    packed again every run."""
    base = os.path.join(work, "big")
    cache_path = os.path.join(base, "packing.json")
    cache = json.load(open(cache_path)) if os.path.exists(cache_path) else {}
    out = {}
    for size, folder in sorted(folders.items()):
        key = str(size)
        seven = os.path.join(base, "app_%d.7z" % size)
        nsis = os.path.join(base, "nsis_%d.exe" % size)
        entry = cache.get(key, {})
        if "7zz" not in entry or not os.path.exists(seven):
            if os.path.exists(seven):
                os.remove(seven)
            log("big payload %d MiB: 7zz" % size)
            t0 = time.time()
            p = subprocess.Popen(["7zz", "a"] + BIG_7Z_ARGS + [seven, "data"], cwd=folder,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            _, status, usage = os.wait4(p.pid, 0)
            if os.waitstatus_to_exitcode(status) != 0:
                raise SystemExit("7zz failed on the %d MiB payload" % size)
            entry["7zz"] = [time.time() - t0, usage.ru_utime + usage.ru_stime, usage.ru_maxrss]
        if "nsis" not in entry or not os.path.exists(nsis):
            log("big payload %d MiB: makensis" % size)
            r = pack_nsis(folder, nsis, env, per_file=True)
            if r[3] != 0:
                raise SystemExit("makensis failed on the %d MiB payload (exit %s)" % (size, r[3]))
            entry["nsis"] = [r[0], r[1], r[2]]
        cache[key] = entry
        json.dump(cache, open(cache_path, "w"))
        ours = os.path.join(base, "qvr_%d" % size, "bench_qvr_setup.exe")
        log("big payload %d MiB: qvrpack from the .7z" % size)
        r = pack_qvr(seven, ours, env)
        out[size] = {"ours": ours, "nsis": nsis, "pack_7zz": entry["7zz"], "pack_nsis": entry["nsis"],
                     "pack_qvr_7z": [r[0], r[1], r[2]]}
        if r[3] != 0:  # NSIS is still measured on this payload
            out[size]["ours"] = None
            out[size]["pack_failed"] = "qvrpack failed on the %d MiB .7z with exit code %s (peak %.0f MiB)" % (
                size, r[3], r[2] / 1024)
            log(out[size]["pack_failed"])
    return out


def qvrpack_folder_trial(folders, env):
    """qvrpack's own encoder on the smallest folder, timed once and kept: what
    packing the folder instead of the ready .7z would cost."""
    base = os.path.join(work, "big")
    cache_path = os.path.join(base, "packing.json")
    cache = json.load(open(cache_path))
    smallest = min(folders)
    if "qvrpack_folder" not in cache.get(str(smallest), {}):
        log("big payload %d MiB: qvrpack's own encoder on the folder (at most %d s)" %
            (smallest, QVRPACK_BIG_TIMEOUT))
        trial = os.path.join(base, "qvr_folder_trial", "bench_qvr_setup.exe")
        r = pack_qvr(folders[smallest], trial, env, QVRPACK_BIG_TIMEOUT)
        cache[str(smallest)]["qvrpack_folder"] = [r[0], r[1], r[2], r[3]]
        json.dump(cache, open(cache_path, "w"))
        if os.path.exists(trial):
            os.remove(trial)
    return smallest, cache[str(smallest)]["qvrpack_folder"]


def read_int(path, field=None):
    try:
        with open(path) as f:
            if field is None:
                return int(f.read().split()[1])  # statm: resident pages
            for line in f:
                if line.startswith(field):
                    return int(line.split()[1])  # KiB
    except (OSError, ValueError, IndexError):
        pass
    return None


PAGE_KIB = os.sysconf("SC_PAGE_SIZE") // 1024


def descendants(pid):
    """pid and every process below it, from one pass over /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        children.setdefault(ppid, []).append(int(entry))
    found, todo = [], [pid]
    while todo:
        p = todo.pop()
        found.append(p)
        todo += children.get(p, [])
    return found


class TreeMemory(threading.Thread):
    """Peak resident memory of a whole process tree while it runs.

    Every 20 ms it sums the resident sets of the processes below the root (the
    tree is looked up again every 200 ms), and it keeps each process's own
    high-water mark (VmHWM) as last read. The peak is the larger of the
    highest sum and the highest single high-water mark: the sum can miss a
    spike between two samples, the kernel's mark of one process cannot."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid = pid
        self.done = threading.Event()
        self.peak_sum = 0
        self.hwm = {}
        self.names = set()

    def run(self):
        tree, looked = [self.pid], 0.0
        while not self.done.is_set():
            now = time.time()
            if now - looked >= 0.2:
                tree, looked = descendants(self.pid), now
                for p in tree:
                    try:
                        with open("/proc/%d/cmdline" % p, "rb") as f:
                            self.names.add(f.read().split(b"\0")[0].decode("utf-8", "replace")[-40:])
                    except OSError:
                        pass
            total = 0
            for p in tree:
                pages = read_int("/proc/%d/statm" % p)
                if pages:
                    total += pages * PAGE_KIB
                    hwm = read_int("/proc/%d/status" % p, "VmHWM:")
                    if hwm:
                        self.hwm[p] = hwm
            self.peak_sum = max(self.peak_sum, total)
            self.done.wait(0.02)

    def peak(self):
        return max([self.peak_sum] + list(self.hwm.values()))


def timed(cmd, env, timeout=None):
    """Runs cmd; returns (wall s, CPU s, peak KiB, exit code, largest single process KiB,
    the programs seen in the tree).

    CPU time and the largest process's resident high-water mark come from the
    kernel's account of the child and every descendant it waited for (wait4);
    the peak is the whole tree's (TreeMemory). The exit code is None when the
    command ran past timeout and was stopped."""
    t0 = time.time()
    p = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    sampler = TreeMemory(p.pid)
    sampler.start()
    timer = None
    expired = []
    if timeout:
        def stop():
            expired.append(True)
            p.kill()
        timer = threading.Timer(timeout, stop)
        timer.start()
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.time() - t0
    if timer:
        timer.cancel()
    p.returncode = os.waitstatus_to_exitcode(status)
    sampler.done.set()
    sampler.join()
    rc = None if expired else p.returncode
    return (wall, usage.ru_utime + usage.ru_stime, max(sampler.peak(), usage.ru_maxrss), rc, usage.ru_maxrss,
            sorted(sampler.names))


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
    # The port is the whole machine's: another worktree's test may hold it for a while.
    deadline = time.time() + 300
    while True:
        try:
            server = ThreadingHTTPServer(("127.0.0.1", 8100), Gateway)
            break
        except OSError as e:
            if time.time() > deadline:
                log("cannot listen on 127.0.0.1:8100 for the product's reports (%s): shipped installer skipped" % e)
                return ["", "## The shipped installer", "",
                        "Skipped: 127.0.0.1:8100, where the product's statistics gateway answers, stayed taken by "
                        "another program for 5 minutes (%s)." % e]
            time.sleep(5)
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


def tests_running():
    """ctest or a test program running in this build tree (they share its Wine prefix and port 8100)."""
    busy = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            cwd = os.readlink("/proc/%s/cwd" % pid)
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmd = f.read().split(b"\0")
        except OSError:
            continue
        name = os.path.basename(cmd[0].decode("utf-8", "replace")) if cmd else ""
        if name == "ctest" and (cwd + "/").startswith(build.rstrip("/") + "/"):
            busy.append("ctest (pid %s)" % pid)
    return busy


def fmt_ms(xs, scale=1.0, digits=2):
    """median (spread) of xs"""
    if not xs:
        return "-"
    xs = [x * scale for x in xs]
    return "%.*f (%.*f)" % (digits, statistics.median(xs), digits, max(xs) - min(xs))


def ratio(a, b):
    return a / b if b else float("nan")


def verdict(value, limit):
    if value != value:
        return "-"
    return "met" if value <= limit else "missed by %.0f %%" % ((value / limit - 1) * 100)


def sizes_of(path):
    """{relative path: size} of the files below path."""
    return {os.path.relpath(os.path.join(d, f), path): os.path.getsize(os.path.join(d, f))
            for d, _, fs in os.walk(path) for f in fs}


def install_runs(label, installers, payload, env, runs, fatal):
    """One warm-up each, then runs alternating ours/NSIS, each into a fresh
    folder; exit code, file count and every payload file's size checked. A
    failing run of ours is recorded (fatal=False) and ours is not run again on
    that payload."""
    want = sizes_of(payload)
    nfiles = len(want)
    targets = os.path.join(drive_c, "bench")
    res = {"ours": [], "nsis": [], "warm": {}, "failed": {}, "profile": []}

    def one(kind, i):
        folder = "%s_%s_%s" % (label, kind, i)
        shutil.rmtree(os.path.join(targets, folder), ignore_errors=True)
        win_target = "C:\\bench\\" + folder
        if kind == "ours":
            before = log_files()
            r = timed([wine_run, installers["ours"], "/InstallSlience", "true"],
                      dict(env, QVR_BENCH_TARGET=win_target))
            text = new_log_text(before)
            calls = {name: int(ms) for _, name, _, ms in TRACE.findall(text)}
            total = TRACE_TOTAL.search(text)
            if total and i != "warm":
                res["profile"].append((r[0], int(total.group(1)) / 1000.0, calls))
        else:
            r = timed([wine_run, installers["nsis"], "/S", "/D=" + win_target], env)
        installed = sizes_of(os.path.join(targets, folder))
        got = len(installed)
        expected = nfiles + (2 if kind == "ours" else 1)
        wrong = [p for p, n in want.items() if installed.get(p) != n]
        shutil.rmtree(os.path.join(targets, folder), ignore_errors=True)
        if r[3] != 0 or got != expected or wrong:
            why = "%s run %s on %s: exit %s, %d files installed (expected %d), %d of the payload's files missing " \
                  "or of another size, peak %.0f MiB" % (kind, i, label, r[3], got, expected, len(wrong), r[2] / 1024)
            if fatal:
                raise SystemExit(why)
            log(why)
            res["failed"][kind] = why
            return None
        log("%s %s run %s: wall %.2f s, cpu %.2f s, peak %d KiB (largest process %d KiB)%s" %
            (label, kind, i, r[0], r[1], r[2], r[4], "; tree: " + ", ".join(r[5]) if i == "warm" else ""))
        return r

    if not installers["ours"]:
        res["failed"]["ours"] = installers.get("pack_failed", "no installer of ours")
    log("%s: warm-up" % label)
    for kind in ("ours", "nsis"):
        if kind in res["failed"]:
            continue
        res["warm"][kind] = one(kind, "warm")
    for i in range(1, runs + 1):
        for kind in ("ours", "nsis"):
            if kind in res["failed"]:
                continue
            r = one(kind, i)
            if r:
                res[kind].append(r)
    return res


def emulation():
    """How this machine runs 32-bit programs: natively, or through qemu-user registered with binfmt_misc."""
    for entry in glob.glob("/proc/sys/fs/binfmt_misc/*"):
        try:
            text = open(entry).read()
        except OSError:
            continue
        if text.startswith("enabled") and "qemu-i386" in text:
            return "through qemu-user emulation (about 2.5x slower by itself)"
    return "natively (no qemu-user emulation on this machine)"


def profile_table(named):
    """Where our installs' time went, from the trace lines of each run (medians)."""
    out = ["", "Where the time of our installs goes (medians of the measured runs of ours, from trace.lua in the "
           "benchmark's install script; ms):", "",
           "| payload | wall | Wine start and exit (wall minus the process's own time) | in the process | "
           "start-up before the events | event QVRSE_OnInstall | native Lua_UnCompress7z | rest of the events |",
           "|---|---|---|---|---|---|---|---|"]
    for label, res in named:
        prof = res["profile"]
        if not prof:
            out.append("| %s | - | | | | | | |" % label)
            continue
        med = statistics.median
        wall = med(p[0] for p in prof) * 1000
        inproc = med(p[1] for p in prof) * 1000
        events = med(sum(v for k, v in p[2].items() if k.startswith("QVRSE_")) for p in prof)
        oninst = med(p[2].get("QVRSE_OnInstall", 0) for p in prof)
        unc = med(p[2].get("Lua_UnCompress7z", 0) for p in prof)
        out.append("| %s | %d | %d | %d | %d | %d | %d | %d |" % (
            label, wall, wall - inproc, inproc, inproc - events, oninst, unc, events - oninst))
    return out


def main():
    os.makedirs(work, exist_ok=True)
    lock = open(os.path.join(work, "bench.lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        raise SystemExit("another installer benchmark runs in this build tree")
    busy = tests_running()
    if busy:
        raise SystemExit("tests run in this build tree (%s): the benchmark shares its Wine prefix and "
                         "port 8100; run it when they are done" % ", ".join(busy))
    cores = os.cpu_count()
    load = os.getloadavg()[0]
    rev = subprocess.run(["git", "-C", root, "log", "-1", "--format=%h %s"], capture_output=True,
                         text=True).stdout.strip()
    payload = prepare_payload()
    nfiles = count_files(payload)
    psize = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(payload) for f in fs)
    log("payload: %d files, %.1f MB" % (nfiles, psize / 1e6))
    env = dict(os.environ, WINEDEBUG="-all")
    subprocess.run([wine_run, "wineboot"], env=env, check=False)
    subprocess.Popen(["wineserver", "-p"], env=dict(env, WINEPREFIX=prefix))  # keep the server up between runs
    ours, nsis, nsis_stub, pack_ours, pack_n = build_installers(payload, env)
    big_folders = prepare_big_payloads() if BIG_SIZES else {}
    big = build_big_installers(big_folders, env) if big_folders else {}

    results = install_runs("bench", {"ours": ours, "nsis": nsis}, payload, env, runs, fatal=True)
    big_results = {}
    for size in sorted(big):
        big_results[size] = install_runs("big%d" % size, big[size], big_folders[size], env, runs, fatal=False)

    # After the installs, so that it does not load the machine while they run.
    qvr_trial_size, qvr_trial = qvrpack_folder_trial(big_folders, env) if big_folders else (0, None)

    def med(kind, k, res=results):
        return statistics.median(x[k] for x in res[kind]) if res[kind] else float("nan")

    def spread(kind, k, res=results):
        xs = [x[k] for x in res[kind]]
        return max(xs) - min(xs)

    sizes = {"ours": os.path.getsize(ours), "nsis": os.path.getsize(nsis)}
    stubs = {"ours": os.path.getsize(os.path.join(build, "bin", "qvrengine.exe")), "nsis": os.path.getsize(nsis_stub)}
    rows = [
        ("packing wall time (s; qvrpack under Wine, makensis native)", pack_ours[0], pack_n[0], None),
        ("packing CPU time (s)", pack_ours[1], pack_n[1], None),
        ("packing peak memory (MiB)", pack_ours[2] / 1024, pack_n[2] / 1024, None),
        ("median wall time (s)", med("ours", 0), med("nsis", 0), 0.70),
        ("spread of wall time (s)", spread("ours", 0), spread("nsis", 0), None),
        ("median CPU time (s)", med("ours", 1), med("nsis", 1), None),
        ("median peak memory, whole process tree (MiB)", med("ours", 2) / 1024, med("nsis", 2) / 1024, 1.00),
        ("spread of peak memory (MiB)", spread("ours", 2) / 1024, spread("nsis", 2) / 1024, None),
        ("installer size (MB)", sizes["ours"] / 1e6, sizes["nsis"] / 1e6, None),
        ("stub size (KB)", stubs["ours"] / 1e3, stubs["nsis"] / 1e3, None),
    ]
    out = ["# Installer benchmark", "",
           "Engine: %s. Machine: %d cores (shared; load average %.2f at the start); 32-bit Windows code runs "
           "under Wine, %s." % (rev, cores, load, emulation()), "",
           "## The benchmark payload", "",
           "payload: %d files, %.1f MB; %d runs each after one warm-up, alternating ours/NSIS, fresh folders, "
           "exit code, file count and file sizes checked; medians, spread = largest minus smallest; Wine prefix warm. "
           "NSIS: `SetCompressor /SOLID lzma`." % (nfiles, psize / 1e6, runs), "",
           "| measure | ours | NSIS | ours/NSIS | target | |", "|---|---|---|---|---|---|"]
    for name, a, b, limit in rows:
        r = ratio(a, b)
        out.append("| %s | %.2f | %.2f | %.2f | %s | %s |" % (
            name, a, b, r, ("<= %.2fx" % limit) if limit else "", verdict(r, limit) if limit else ""))
    out.append("")
    out.append("Stub (the engine without payload, `qvrengine.exe`): %d bytes (%.2f MiB) against NSIS's %d bytes; "
               "target <= 1 MiB (1,048,576 bytes): %s." % (stubs["ours"], stubs["ours"] / MIB, stubs["nsis"],
                                                           verdict(stubs["ours"] / MIB, 1.0)))
    out.append("")
    out.append("Warm-up runs (first run of each installer in this session, not in the medians): ours %.2f s, "
               "NSIS %.2f s wall." % (results["warm"]["ours"][0], results["warm"]["nsis"][0]))
    out.append("")
    out.append("Peak memory is the whole process tree's: the resident sets of the started process and every "
               "process below it summed every 20 ms, or the largest process's own kernel high-water mark when "
               "that is higher; measured the same way for both installers.")
    if big:
        out += big_table(big, big_results, big_folders, qvr_trial_size, qvr_trial, runs)
    out += profile_table([("benchmark payload", results)] +
                         [("%d MiB" % size, big_results[size]) for size in sorted(big_results)])
    out.append("")
    out.append("Start of the interactive installer to its first painted window: not measured by this run "
               "(bench/installers/firstpaint.py).")
    if with_shipped:
        with open(os.path.join(work, "results.md"), "w") as f:
            f.write("\n".join(out) + "\n\n(the shipped installer's runs follow)\n")
        out += shipped_install(runs, env)
    text = "\n".join(out) + "\n"
    print(text)
    with open(os.path.join(work, "results.md"), "w") as f:
        f.write(text)
    log("written to " + os.path.join(work, "results.md"))


def big_table(big, res, folders, trial_size, trial, runs):
    out = ["", "## Payloads of large incompressible files", "",
           "Random bytes from a fixed seed, files of %d-%d MiB (the first one %d MiB, so every payload's largest "
           "block is the same); %d runs each after one warm-up, alternating ours/NSIS, fresh folders, exit code, "
           "file count and file sizes checked. Cells: median (spread)." % (BIG_FILE_MIB[0], BIG_FILE_MIB[1], BIG_FIRST_FILE,
                                                                runs), "",
           "Ours: the payload packed by the native `7zz a %s` into a ready .7z (every file a block of its own: "
           "blocks of 16-64 MiB, stored as LZMA2's uncompressed chunks), given to qvrpack. NSIS: `SetCompressor "
           "lzma` per file (each file decoded on its own, as each is a block of ours), the stronger peer: makensis "
           "then stores the incompressible files as they are, while its solid mode LZMA-decodes the whole payload "
           "as one stream (measured once on the 100 MiB payload: 15 s against 0.5 s per file)." %
           " ".join(BIG_7Z_ARGS), "",
           "| payload | files | installer ours / NSIS (MB) | wall ours (s) | wall NSIS (s) | wall ours/NSIS "
           "(<= 0.70) | CPU ours (s) | CPU NSIS (s) | CPU ours/NSIS | peak ours (MiB) | peak NSIS (MiB) | "
           "peak ours/NSIS (<= 1.00) |", "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    peaks = {}
    verdicts = []
    for size in sorted(big):
        r = res[size]
        col = lambda kind, k, scale=1.0: [x[k] * scale for x in r[kind]]
        med = lambda xs: statistics.median(xs) if xs else float("nan")
        wall_r = ratio(med(col("ours", 0)), med(col("nsis", 0)))
        cpu_r = ratio(med(col("ours", 1)), med(col("nsis", 1)))
        mem_r = ratio(med(col("ours", 2)), med(col("nsis", 2)))
        peaks[size] = (med(col("ours", 2, 1 / 1024)), med(col("nsis", 2, 1 / 1024)))
        ours_cells = [fmt_ms(col("ours", 0)), fmt_ms(col("ours", 1)), fmt_ms(col("ours", 2, 1 / 1024), digits=1)]
        if "ours" in r["failed"]:
            ours_cells = ["failed"] * 3
        out.append("| %d MiB | %d | %.1f / %.1f | %s | %s | %.2f | %s | %s | %.2f | %s | %s | %.2f |" % (
            size, count_files(folders[size]), os.path.getsize(big[size]["ours"]) / 1e6 if big[size]["ours"] else 0,
            os.path.getsize(big[size]["nsis"]) / 1e6, ours_cells[0], fmt_ms(col("nsis", 0)), wall_r,
            ours_cells[1], fmt_ms(col("nsis", 1)), cpu_r, ours_cells[2], fmt_ms(col("nsis", 2, 1 / 1024), digits=1),
            mem_r))
        verdicts.append("%d MiB: wall %s, peak memory %s" % (size, verdict(wall_r, 0.70), verdict(mem_r, 1.00)))
    out.append("")
    for kind, why in ((k, w) for size in sorted(big) for k, w in res[size]["failed"].items()):
        out.append("Failed: %s." % why)
    out.append("Targets: " + "; ".join(verdicts) + ".")
    order = sorted(peaks)
    if len(order) >= 2:
        steps = ["%d -> %d MiB: ours %+.1f MiB, NSIS %+.1f MiB" % (a, b, peaks[b][0] - peaks[a][0],
                                                                    peaks[b][1] - peaks[a][1])
                 for a, b in zip(order, order[1:])]
        # Bounded means: once the payload holds more blocks than are in flight,
        # a larger payload costs no more memory. The last step (the largest
        # payload against the one before it) shows that; the first steps may
        # still climb while the smallest payloads hold fewer blocks than that.
        last = ratio(peaks[order[-1]][0], peaks[order[-2]][0])
        out.append("Peak memory as the payload grows (%s); target flat, ours at %d MiB within +10 %% of ours at "
                   "%d MiB: %.2fx, %s." % ("; ".join(steps), order[-1], order[-2], last,
                                           verdict(last, 1.10) if last == last else "-"))
    out += ["", "Packing the large payloads (one run each; NSIS's installers and the .7z files are kept between "
            "benchmark runs with these figures):", "",
            "| payload | 7zz, native: wall / CPU (s) | qvrpack from the .7z, under Wine: wall (s) | "
            "makensis, native: wall / CPU (s) |", "|---|---|---|---|"]
    for size in sorted(big):
        b = big[size]
        out.append("| %d MiB | %.1f / %.1f | %.1f | %.1f / %.1f |" % (
            size, b["pack_7zz"][0], b["pack_7zz"][1], b["pack_qvr_7z"][0], b["pack_nsis"][0], b["pack_nsis"][1]))
    if trial:
        if trial[3] is None:
            what = "did not finish within %.0f s (stopped; CPU %.0f s)" % (trial[0], trial[1])
        elif trial[3] != 0:
            what = "failed with exit code %d after %.1f s (peak %.0f MiB)" % (trial[3], trial[0], trial[2] / 1024)
        else:
            what = "took %.1f s wall, %.1f s CPU, peak %.0f MiB (%.1f MiB/s)" % (
                trial[0], trial[1], trial[2] / 1024, trial_size / trial[0])
        out.append("")
        out.append("qvrpack's own LZMA2 encoder under Wine on the %d MiB folder (timed once, kept): %s; hence "
                   "the ready .7z." % (trial_size, what))
    return out


main()
