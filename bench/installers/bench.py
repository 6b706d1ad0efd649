"""Installer benchmark driver: ours against NSIS, same payload, under Wine."""
import hashlib
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

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
MAX_FILE = 8 * 1024 * 1024  # keeps every solid block small for both engines


def log(*a):
    print(*a, file=sys.stderr, flush=True)


def prepare_payload():
    payload = os.path.join(work, "payload")
    stamp = os.path.join(work, "payload.done")
    if os.path.exists(stamp):
        return payload
    shutil.rmtree(payload, ignore_errors=True)
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
        n = rng.randint(20_000, 200_000)
        text = " ".join(rng.choice(words) for _ in range(n // 7))[:n]
        with open(os.path.join(folder, "doc%03d.txt" % i), "w") as f:
            f.write(text)
        written += len(text)
        i += 1
    open(stamp, "w").close()
    return payload


def count_files(path):
    return sum(len(files) for _, _, files in os.walk(path))


def build_installers(payload):
    sevenz = os.path.join(work, "app.7z")
    if not os.path.exists(sevenz):
        subprocess.run(["7zz", "a", "-t7z", "-mx=5", "-ms=4m", "-bd", "-bso0", sevenz, "."], cwd=payload, check=True)
    subprocess.run(["cmake", "-S", root, "-B", build, "-DQVR_BENCH_PAYLOAD=" + sevenz], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "bench_qvr_setup"], check=True, stdout=subprocess.DEVNULL)
    ours = os.path.join(build, "bin", "bench_qvr_setup.exe")

    nsi = os.path.join(root, "bench", "installers", "bench.nsi")
    nsis = os.path.join(work, "nsis_setup.exe")
    if not os.path.exists(nsis):
        subprocess.run(["makensis", "-V1", "-DOUTFILE=" + nsis, "-DPAYLOAD_DIR=" + payload, nsi], check=True)
    empty = os.path.join(work, "empty")
    os.makedirs(empty, exist_ok=True)
    nsis_stub = os.path.join(work, "nsis_stub.exe")
    if not os.path.exists(nsis_stub):
        subprocess.run(["makensis", "-V1", "-DOUTFILE=" + nsis_stub, "-DPAYLOAD_DIR=" + empty, nsi], check=True)
    return ours, sevenz, nsis, nsis_stub


def timed(cmd, env):
    """Runs cmd under /usr/bin/time; returns (wall, cpu, peak KiB, exit code)."""
    fmt = "QVRTIME %e %U %S %M"
    t0 = time.time()
    p = subprocess.run(["/usr/bin/time", "-f", fmt] + cmd, env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True, errors="replace")
    wall = time.time() - t0
    line = [l for l in p.stderr.splitlines() if l.startswith("QVRTIME")][-1].split()
    return wall, float(line[2]) + float(line[3]), int(line[4]), p.returncode


def main():
    os.makedirs(work, exist_ok=True)
    payload = prepare_payload()
    nfiles = count_files(payload)
    psize = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(payload) for f in fs)
    log("payload: %d files, %.1f MB" % (nfiles, psize / 1e6))
    ours, sevenz, nsis, nsis_stub = build_installers(payload)
    env = dict(os.environ, WINEDEBUG="-all")
    subprocess.run([wine_run, "wineboot"], env=env, check=False)
    subprocess.Popen(["wineserver", "-p"], env=dict(env, WINEPREFIX=prefix))  # keep the server up between runs

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
    one("ours", 0)
    one("nsis", 0)
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
    stubs = {"ours": os.path.getsize(ours) - os.path.getsize(sevenz), "nsis": os.path.getsize(nsis_stub)}
    rows = [
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
    text = "\n".join(out) + "\n"
    print(text)
    with open(os.path.join(work, "results.md"), "w") as f:
        f.write(text)
    log("written to " + os.path.join(work, "results.md"))


main()
