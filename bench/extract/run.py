#!/usr/bin/env python3
"""Payload extraction benchmark: Extract7zToDirectory under Wine against the
host's native 7zz on the same archive. See README.md.

usage: bench/extract/run.py [--runs N] [--build-dir DIR] [--work DIR]
"""
import argparse
import glob
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DLL_BYTES = 57 * 1024 * 1024   # PE files from the Wine prefix
TEXT_BYTES = 13 * 1024 * 1024  # Python sources of the host
SDK_FILES = ["7zAlloc.c", "7zArcIn.c", "7zBuf.c", "7zBuf2.c", "7zCrc.c", "7zCrcOpt.c", "7zDec.c", "7zFile.c",
             "7zStream.c", "Bcj2.c", "Bra.c", "Bra86.c", "BraIA64.c", "CpuArch.c", "Delta.c", "Lzma2Dec.c",
             "LzmaDec.c"]


def log(msg):
    print(f"[bench] {msg}", file=sys.stderr, flush=True)


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def qemu_runs_i686():
    """True when 32-bit programs go through qemu-user registered with binfmt_misc."""
    for entry in glob.glob("/proc/sys/fs/binfmt_misc/*"):
        try:
            with open(entry) as f:
                text = f.read()
        except OSError:
            continue
        if text.startswith("enabled") and "qemu-i386" in text:
            return True
    return False


def make_corpus(build, work):
    corpus = os.path.join(work, "corpus")
    stamp = os.path.join(corpus, ".done")
    if os.path.exists(stamp):
        return corpus
    shutil.rmtree(corpus, ignore_errors=True)
    dlls = os.path.join(build, "wineprefix", "drive_c", "windows", "syswow64")
    total = 0
    os.makedirs(os.path.join(corpus, "bin"))
    for name in sorted(os.listdir(dlls)):
        path = os.path.join(dlls, name)
        if not name.lower().endswith((".dll", ".exe")) or not os.path.isfile(path):
            continue
        shutil.copyfile(path, os.path.join(corpus, "bin", name))
        total += os.path.getsize(path)
        if total >= DLL_BYTES:
            break
    text_total = 0
    src = "/usr/lib/python3.11" if os.path.isdir("/usr/lib/python3.11") else os.path.dirname(os.__file__)
    for dirpath, _, names in sorted(os.walk(src)):
        for name in sorted(names):
            if not name.endswith(".py"):
                continue
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, src)
            dst = os.path.join(corpus, "text", rel)
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            shutil.copyfile(path, dst)
            text_total += os.path.getsize(path)
        if text_total >= TEXT_BYTES:
            break
    open(stamp, "w").close()
    log(f"corpus: {total / 2**20:.1f} MiB of PE files, {text_total / 2**20:.1f} MiB of text")
    return corpus


def make_archive(work, corpus, block_mib):
    """Solid blocks of at most block_mib MiB unpacked, like qvrpack's payloads."""
    archive = os.path.join(work, f"payload-{block_mib}m.7z")
    if not os.path.exists(archive):
        run(["7zz", "a", "-t7z", "-bd", "-mx=5", f"-ms={block_mib}m", "-mf=BCJ", archive, "bin", "text"],
            cwd=corpus, stdout=subprocess.DEVNULL)
    listing = run(["7zz", "l", "-slt", archive], capture_output=True, text=True).stdout
    folders = {}
    files = 0
    for item in listing.split("\n\n"):
        fields = dict(l.split(" = ", 1) for l in item.splitlines() if " = " in l)
        if "Block" in fields and fields["Block"] != "" and fields.get("Size"):
            folders[fields["Block"]] = folders.get(fields["Block"], 0) + int(fields["Size"])
            files += 1
    methods = sorted({m for m in re.findall(r"^Method = (.*)$", listing, re.M) if m})
    return archive, folders, files, methods


def fetch_sdk(work):
    """The 7-Zip C reader from Debian's source package (for the x64 build)."""
    src = os.path.join(work, "7zip-src")
    # The tree cmake/build-deps.sh unpacked from the same source package, when it is still there.
    deps = os.environ.get("QVR_DEPS_CACHE", os.path.expanduser("~/.cache/qvr-deps"))
    roots = [src] + sorted(glob.glob(os.path.join(deps, "work-*", "7zip")))
    for root in roots:
        found = [os.path.join(d, "") for d, _, f in os.walk(root) if "7zDec.c" in f and d.endswith("/C")]
        if found:
            return found[0]
    os.makedirs(src, exist_ok=True)
    run(["apt-get", "source", "--download-only", "-qq", "7zip"], cwd=src, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL)
    tarball = [f for f in os.listdir(src) if ".orig.tar." in f][0]
    run(["tar", "-xf", tarball], cwd=src)
    return [os.path.join(d, "") for d, _, f in os.walk(src) if "7zDec.c" in f and d.endswith("/C")][0]


def build_x64(work):
    """The same driver and reader built for x86-64 Windows: Wine runs it
    natively here, which separates the cost of emulating 32-bit code."""
    exe = os.path.join(work, "extract_bench64.exe")
    sources = [os.path.join(ROOT, "bench", "extract", "extract_bench.cpp"), os.path.join(ROOT, "archive", "qvr7z.cpp")]
    if os.path.exists(exe) and all(os.path.getmtime(s) < os.path.getmtime(exe) for s in sources):
        return exe
    sdk = fetch_sdk(work)
    objs = os.path.join(work, "obj64")
    os.makedirs(objs, exist_ok=True)
    flags = ["-O2", "-DZ7_PPMD_SUPPORT_OFF", "-DUNICODE", "-D_UNICODE", "-DNOMINMAX", "-D_WIN32_WINNT=0x0601"]
    out = []
    for f in SDK_FILES:
        o = os.path.join(objs, f + ".o")
        run(["x86_64-w64-mingw32-gcc-posix", *flags, "-c", os.path.join(sdk, f), "-o", o])
        out.append(o)
    run(["x86_64-w64-mingw32-g++-posix", *flags, "-std=c++17", "-municode", "-I" + ROOT, "-I" + sdk, *sources, *out,
         "-lpsapi", "-static", "-o", exe])
    return exe


def timed(cmd, env=None):
    """Runs cmd under /usr/bin/time: (stdout, outer wall s, user+sys s, max RSS KiB)."""
    tfile = "/tmp/qvr-bench-time.txt"
    p = subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M", "-o", tfile, *cmd], capture_output=True, text=True,
                       env=env)
    if p.returncode != 0:
        raise SystemExit(f"failed: {' '.join(cmd)}\n{p.stdout}\n{p.stderr}")
    wall, user, sys_, rss = open(tfile).read().split()[-4:]
    return p.stdout, float(wall), float(user) + float(sys_), int(rss)


def inner(stdout):
    m = dict(re.findall(r"(\w+)=([\d.]+)", stdout))
    return {k: float(v) for k, v in m.items()}


def winpath(p):
    return "Z:" + p.replace("/", "\\")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--block-mib", type=int, default=16, help="solid block size of the archive (qvrpack's default)")
    ap.add_argument("--flat", default="", help="payload sizes in MiB (e.g. 32,128,384) of incompressible files "
                    "for a row of peak memory per size")
    ap.add_argument("--build-dir", default=os.environ.get("BUILD_DIR", os.path.join(ROOT, "build")))
    ap.add_argument("--work", default=None)
    a = ap.parse_args()
    build = os.path.abspath(a.build_dir)
    work = os.path.abspath(a.work or os.path.join(build, "bench-extract"))
    os.makedirs(work, exist_ok=True)
    wine_run = os.path.join(build, "wine-run")

    log("building extract_bench (i686)")
    run(["cmake", "--build", build, "--target", "extract_bench"], stdout=subprocess.DEVNULL)
    exe32 = os.path.join(build, "bin", "extract_bench.exe")
    log("building extract_bench64 (x86-64, same sources)")
    exe64 = build_x64(work)
    corpus = make_corpus(build, work)
    archive, folders, nfiles, methods = make_archive(work, corpus, a.block_mib)
    asize = os.path.getsize(archive)
    unpacked = sum(folders.values())
    largest = max(folders.values())
    cores = os.cpu_count()
    log(f"archive: {asize / 2**20:.1f} MiB, {nfiles} files, {unpacked / 2**20:.1f} MiB unpacked, "
        f"{len(folders)} solid blocks, largest {largest / 2**20:.1f} MiB; methods {methods}; {cores} cores")

    out = os.path.join(work, "out")

    def fresh():
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)

    env = dict(os.environ, LC_ALL="C.UTF-8")
    emulated = qemu_runs_i686()
    K64, K64_1 = "ours x86-64 (Wine)", "ours x86-64 1 thread"
    K32 = "ours i686 (Wine+qemu)" if emulated else "ours i686 (Wine)"
    KZ, KZ1 = "7zz x (native)", "7zz x -mmt=1 (native)"
    # Ours read the archive as the installer reads its payload: from the file
    # through CFileRangeInStream, one decoding worker per processor.
    configs = {
        K64: lambda: timed([wine_run, exe64, winpath(archive), winpath(out)], env),
        K64_1: lambda: timed([wine_run, exe64, winpath(archive), winpath(out), "--workers", "1"], env),
        K32: lambda: timed([wine_run, exe32, winpath(archive), winpath(out)], env),
        KZ: lambda: timed(["7zz", "x", "-y", "-bd", "-o" + out, archive]),
        KZ1: lambda: timed(["7zz", "x", "-y", "-bd", "-mmt=1", "-o" + out, archive]),
    }
    startup = {
        K32: lambda: timed([wine_run, exe32, "--noop"], env),
        K64: lambda: timed([wine_run, exe64, "--noop"], env),
    }
    # Warm up: the wineserver, the page cache.
    for f in startup.values():
        f()
    fresh()
    timed(["7zz", "x", "-y", "-bd", "-o" + out, archive])
    reference = os.path.join(work, "reference")
    shutil.rmtree(reference, ignore_errors=True)
    shutil.move(out, reference)

    # Alternating: every configuration once per round, so that load from
    # other work on the machine falls on all of them alike.
    results = {k: [] for k in configs}
    start_costs = {k: [] for k in startup}
    for i in range(a.runs):
        for name, f in configs.items():
            fresh()
            stdout, wall, cpu, rss = f()
            results[name].append((inner(stdout), wall, cpu, rss))
            if i == 0 and "ours" in name:
                d = subprocess.run(["diff", "-rq", reference, out], capture_output=True, text=True)
                if d.returncode != 0:
                    raise SystemExit(f"{name}: output differs from 7zz's\n{d.stdout[:2000]}")
        for name, f in startup.items():
            stdout, wall, cpu, rss = f()
            start_costs[name].append((inner(stdout), wall, cpu, rss))
        log(f"run {i + 1}/{a.runs} done")
    shutil.rmtree(out, ignore_errors=True)

    med = statistics.median
    processors = int(results[K64][0][0].get("processors", 0))
    print()
    print(f"archive {asize / 2**20:.1f} MiB, {nfiles} files, {unpacked / 2**20:.1f} MiB unpacked in "
          f"{len(folders)} solid blocks of at most {a.block_mib} MiB (largest {largest / 2**20:.1f} MiB), "
          f"methods {', '.join(methods)}")
    print(f"machine: {cores} cores (the extraction sees {processors} processors: {processors} workers); "
          f"{a.runs} alternating runs, medians")
    print("  wall/cpu: the whole program as seen from Linux (/usr/bin/time); in-process: the extraction call")
    print("  alone, timed inside the Windows program; peak memory: in-process peak working set for ours,")
    print("  max RSS for 7zz")
    print(f"{'':26} {'wall s':>8} {'cpu s':>8} {'in-proc wall s':>15} {'in-proc cpu s':>14} {'peak MiB':>9}")
    rows = {}
    for name, rs in results.items():
        wall, cpu = med(r[1] for r in rs), med(r[2] for r in rs)
        ours = "ours" in name
        iw = med(r[0]["wall_ms"] for r in rs) / 1000 if ours else None
        ic = med(r[0]["cpu_ms"] for r in rs) / 1000 if ours else None
        peak = med(r[0]["peak_ws_kb"] for r in rs) / 1024 if ours else med(r[3] for r in rs) / 1024
        rows[name] = (wall, cpu, iw, ic, peak)
        f = lambda v, w: f"{v:>{w}.2f}" if v is not None else f"{'-':>{w}}"
        print(f"{name:26} {wall:>8.2f} {cpu:>8.2f} {f(iw, 15)} {f(ic, 14)} {peak:>9.1f}")
    base = {}
    for name, rs in start_costs.items():
        wall, cpu = med(r[1] for r in rs), med(r[2] for r in rs)
        peak = med(r[0]["peak_ws_kb"] for r in rs) / 1024
        base[name] = (wall, peak)
        label = "trivial program, " + ("i686" if "i686" in name else "x86-64")
        print(f"{label:26} {wall:>8.2f} {cpu:>8.2f} {'-':>15} {'-':>14} {peak:>9.1f}")

    o64, o64_1, o32, z, z1 = rows[K64], rows[K64_1], rows[K32], rows[KZ], rows[KZ1]
    print()
    print("x86-64 build, parallel, against native 7zz x (same archive, same machine):")
    print(f"  wall, whole program    {o64[0] / z[0]:5.2f}x   (extraction call only {o64[2] / z[0]:.2f}x)")
    # Linux does not see the CPU time of the 64-bit Windows process (Wine starts it outside the child
    # tree /usr/bin/time waits for); the program's own GetProcessTimes counts it.
    print(f"  cpu, extraction call   {o64[3] / z[1]:5.2f}x   ({o64[3]:.2f} s in-process against {z[1]:.2f} s)")
    print(f"  peak memory            {o64[4] / z[4]:5.2f}x   ({o64[4]:.1f} MiB against {z[4]:.1f} MiB)")
    print(f"  against 7zz x -mmt=1: wall {o64[0] / z1[0]:.2f}x, cpu {o64[3] / z1[1]:.2f}x")
    print("workers against one thread (x86-64, extraction call):")
    print(f"  wall {o64_1[2]:.2f} s -> {o64[2]:.2f} s: {o64_1[2] / o64[2]:.2f}x faster; "
          f"cpu {o64_1[3]:.2f} s -> {o64[3]:.2f} s; peak {o64_1[4]:.1f} -> {o64[4]:.1f} MiB")
    print("cost of the emulation:" if emulated else "i686 against x86-64 (32-bit programs run natively here, no qemu):")
    print(f"  start-up of a trivial program: i686 {base[K32][0]:.2f} s, x86-64 {base[K64][0]:.2f} s")
    print(f"  the same extraction, i686{' under qemu' if emulated else ''} / x86-64 native: "
          f"{o32[2] / o64[2]:.2f}x wall, {o32[3] / o64[3]:.2f}x cpu")
    bound = (processors + 1) * largest / 2**20
    print(f"memory (bound: (workers + 1) x largest block = {processors + 1} x {largest / 2**20:.1f} = {bound:.1f} MiB "
          "on top of a trivial program; the archive itself is not held):")
    for k, o in ((K64, o64), (K64_1, o64_1), (K32, o32)):
        b = base[K32 if "i686" in k else K64][1]
        print(f"  {k}: peak {o[4]:.1f} MiB, trivial program {b:.1f} MiB, extraction adds {o[4] - b:.1f} MiB")

    if a.flat:
        flat_rows(work, exe64, wine_run, env, [int(x) for x in a.flat.split(",")], a.block_mib)


def make_flat(work, mib, block_mib):
    """mib MiB of incompressible files (4 MiB each, the last one shorter) in
    solid blocks of block_mib MiB."""
    archive = os.path.join(work, f"flat-{mib}m-{block_mib}m.7z")
    if os.path.exists(archive):
        return archive
    src = os.path.join(work, "flat-src")
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(src)
    left, k = mib << 20, 0
    while left > 0:
        n = min(left, 4 << 20)
        with open(os.path.join(src, f"blob{k:04d}.bin"), "wb") as f:
            f.write(os.urandom(n))
        left -= n
        k += 1
    run(["7zz", "a", "-t7z", "-bd", "-mx=1", f"-ms={block_mib}m", archive, "."], cwd=src, stdout=subprocess.DEVNULL)
    shutil.rmtree(src)
    return archive


def flat_rows(work, exe64, wine_run, env, sizes, block_mib):
    """Peak memory of the x86-64 build as the payload grows: read as the
    installer reads its payload now (a range of the file) and, for contrast,
    copied whole into memory first (how it was read before)."""
    out = os.path.join(work, "out")
    print()
    print(f"peak memory against payload size (incompressible files, blocks of {block_mib} MiB, x86-64, "
          "one run each):")
    print(f"{'payload MiB':>12} {'archive MiB':>12} {'file range: peak MiB':>21} {'wall s':>7} "
          f"{'heap copy: peak MiB':>20} {'wall s':>7}")
    for mib in sizes:
        archive = make_flat(work, mib, block_mib)
        row = []
        for mode in ([], ["--memory"]):
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            stdout, wall, _, _ = timed([wine_run, exe64, winpath(archive), winpath(out), *mode], env)
            row.append((inner(stdout)["peak_ws_kb"] / 1024, wall))
        shutil.rmtree(out, ignore_errors=True)
        print(f"{mib:>12} {os.path.getsize(archive) / 2**20:>12.1f} {row[0][0]:>21.1f} {row[0][1]:>7.2f} "
              f"{row[1][0]:>20.1f} {row[1][1]:>7.2f}")


if __name__ == "__main__":
    main()
