#!/usr/bin/env python3
"""First paint and idle memory of the installer window, ours against NSIS.

    firstpaint.py <build dir> [runs]        (default 5 runs each after one warm-up)

Both installers carry the sample product's payload and are started by hand
(no silent switch) under Wine on the X display, in alternation:

- ours: the shipped ContosoTranslatorSetup.exe, in a folder of its own with
  the product's statistics DLLs beside it, as the product ships it;
- NSIS: firstpaint.nsi, the Modern UI 2 pages welcome/licence/directory/
  install files (Simplified Chinese), packed by makensis.

Each run is measured the same way: the time from starting the process to its
window being mapped (the X window tree, polled) and to its first paint (the
first capture of the window's area that is not blank: more than a few
colours; a capture takes about 0.1-0.3 s, the resolution of the figure),
then, with the first page idle for a few seconds, the memory of the Windows
process as Linux sees it (/proc/<pid>: resident set and private bytes; where
32-bit code runs under qemu-user that includes the emulator's own share, the
same for both). The prefix's wineserver is kept running for the whole run. The table goes to stdout and to <build>/bench-installers/firstpaint.md.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "common"))
import xrobot  # noqa: E402

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
work = os.path.join(build, "bench-installers", "firstpaint")
wine_run = os.path.join(build, "wine-run")

IDLE_SECONDS = 4.0      # the first page left alone before memory is read
PAINT_COLOURS = 16      # a painted window shows more colours than this on a 4-pixel grid
START_TIMEOUT = 120.0


def log(*a):
    print(*a, file=sys.stderr, flush=True)


def stage_ours():
    folder = os.path.join(work, "ours")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copy(os.path.join(build, "bin", "ContosoTranslatorSetup.exe"), folder)
    for dll in ("qmstat.dll", "qmnet.dll"):
        src = os.path.join(build, "sample", "bin", dll)
        if os.path.exists(src):
            shutil.copy(src, folder)
    return os.path.join(folder, "ContosoTranslatorSetup.exe")


def make_nsis():
    """The NSIS installer, made again when the payload or the script changed."""
    payload = os.path.join(build, "sample", "payload", "stage")
    manifest = os.path.join(build, "sample", "payload", "manifest.txt")
    nsi = os.path.join(ROOT, "bench", "installers", "firstpaint.nsi")
    out = os.path.join(work, "nsis", "ContosoBenchUISetup.exe")
    stamp = out + ".stamp"
    key = "%s %s" % (os.path.getmtime(manifest), os.path.getmtime(nsi))
    if os.path.exists(out) and os.path.exists(stamp) and open(stamp).read() == key:
        return out
    os.makedirs(os.path.dirname(out), exist_ok=True)
    # Unicode NSIS reads a licence text as UTF-8 when it has the byte order mark.
    licence = os.path.join(work, "nsis", "licence.txt")
    text = open(os.path.join(ROOT, "sample", "data", "licence.txt"), encoding="utf-8").read()
    open(licence, "w", encoding="utf-8-sig").write(text)
    log("packing the NSIS installer (makensis, %s)" % payload)
    subprocess.run(["makensis", "-V1", "-DOUTFILE=" + out, "-DPAYLOAD_DIR=" + payload, "-DLICENCE=" + licence, nsi],
                   check=True)
    open(stamp, "w").write(key)
    return out


def private_and_rss(pid):
    """Resident set and private bytes (KiB) of a Linux process."""
    rss = private = None
    try:
        for line in open("/proc/%d/status" % pid):
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
        private = 0
        for line in open("/proc/%d/smaps_rollup" % pid):
            if line.startswith(("Private_Clean:", "Private_Dirty:")):
                private += int(line.split()[1])
    except OSError:
        pass
    return rss, private


def painted(area):
    """Whether the screen shows a painted window in `area` (x, y, w, h): one
    capture, its colours counted on a 4-pixel grid."""
    x, y, w, h = area
    raw = subprocess.run(["import", "-silent", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                          "-depth", "8", "rgb:-"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    seen = set()
    for row in range(0, h, 4):
        for col in range(0, w, 4):
            i = (row * w + col) * 3
            seen.add(raw[i:i + 3])
    return len(seen) > PAINT_COLOURS


class NoWindow(Exception):
    pass


RETRIES = []  # starts that ended without a window and were made again


def measured_run(name, exe, title, keep_shot=None):
    """one_run, made again once when the start ended without a window (now
    and then a Wine start right after the previous process was killed)."""
    try:
        return one_run(name, exe, title, keep_shot)
    except NoWindow as e:
        log("%s; once more" % e)
        RETRIES.append(str(e))
        time.sleep(3.0)
        return one_run(name, exe, title, keep_shot)


def one_run(name, exe, title, keep_shot=None):
    """Seconds to mapped and to first paint, and memory at idle, of one start."""
    before = set(xrobot.visible_windows(title))
    t0 = time.monotonic()
    proc = subprocess.Popen([wine_run, exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wid = area = None
        while time.monotonic() - t0 < START_TIMEOUT and proc.poll() is None:
            for candidate in xrobot.visible_windows(title):
                g = xrobot.geometry(candidate)
                if candidate not in before and g and g[2] > 100:
                    wid, area = candidate, g
                    break
            if wid:
                break
            time.sleep(0.02)
        if not wid:
            raise NoWindow("%s: no window within %d s (exit code %s)" % (name, START_TIMEOUT, proc.poll()))
        mapped = time.monotonic() - t0
        while not painted(xrobot.geometry(wid) or area):
            if time.monotonic() - t0 > START_TIMEOUT:
                raise SystemExit("%s: the window stayed blank" % name)
        first_paint = time.monotonic() - t0
        time.sleep(IDLE_SECONDS)
        if keep_shot:
            xrobot.Shot(keep_shot, xrobot.geometry(wid) or area)
        rss, private = private_and_rss(proc.pid)
        return mapped, first_paint, rss, private
    finally:
        proc.kill()
        proc.wait()
        time.sleep(1.0)  # the wineserver lets go of the process (its single-instance mutex among others)


def main():
    try:
        measure()
    finally:
        subprocess.run([wine_run, "--kill"])


def measure():
    if xrobot.missing_tools() or not shutil.which("makensis"):
        raise SystemExit("missing tools: %s" % (xrobot.missing_tools() + ([] if shutil.which("makensis") else
                                                                          ["makensis"])))
    if not os.environ.get("DISPLAY"):
        raise SystemExit("no X display (firstpaint.sh starts Xvfb)")
    os.makedirs(work, exist_ok=True)
    # One wineserver for the whole run, started before the first start: each
    # start then pays for its own process only, as on Windows.
    env = dict(os.environ, WINEPREFIX=os.path.join(build, "wineprefix"))
    subprocess.run(["wineserver", "-p"], env=env)
    sides = [("ours", stage_ours(), "Contoso 翻译 标准版安装"), ("NSIS MUI2", make_nsis(), "ContosoBenchUI")]
    sizes = {name: os.path.getsize(exe) for name, exe, _ in sides}
    results = {name: [] for name, _, _ in sides}
    for name, exe, title in sides:  # warm-up: the first Wine start of a program costs more
        log("warm-up: %s" % name)
        measured_run(name, exe, title, keep_shot=os.path.join(work, name.split()[0].lower() + "-first-page.png"))
    for i in range(runs):
        order = sides if i % 2 == 0 else sides[::-1]
        for name, exe, title in order:
            r = measured_run(name, exe, title)
            results[name].append(r)
            log("run %d %-9s mapped %.2f s, painted %.2f s, RSS %s KiB, private %s KiB" % ((i + 1, name) + r))

    def med(name, k):
        values = [r[k] for r in results[name] if r[k] is not None]
        return statistics.median(values) if values else float("nan")

    ours, nsis = "ours", "NSIS MUI2"
    lines = [
        "# First paint and idle memory of the installer window (%d runs each, medians)" % runs,
        "",
        "Under Wine %s and Xvfb on this machine (%d cores, shared), %s;"
        % (subprocess.run(["wine", "--version"], stdout=subprocess.PIPE, text=True).stdout.strip(), os.cpu_count(),
           "32-bit code emulated by qemu-user" if os.path.exists("/proc/sys/fs/binfmt_misc/qemu-i386")
           else "32-bit code run natively"),
        "both installers carry the sample product's payload and were started in alternation.",
        "",
        "| | ours | NSIS MUI2 | ours / NSIS |",
        "|---|---|---|---|",
    ]
    for label, k, unit, scale in (("start to window mapped", 0, "s", 1), ("start to first paint", 1, "s", 1),
                                  ("resident set at idle on the first page", 2, "MiB", 1 / 1024),
                                  ("private bytes at idle on the first page", 3, "MiB", 1 / 1024)):
        a, b = med(ours, k) * scale, med(nsis, k) * scale
        lines.append("| %s | %.2f %s | %.2f %s | %.2f |" % (label, a, unit, b, unit, a / b if b else float("nan")))
    lines.append("| installer size | %.1f MiB | %.1f MiB | %.2f |" % (sizes[ours] / 2 ** 20, sizes[nsis] / 2 ** 20,
                                                                      sizes[ours] / sizes[nsis]))
    if RETRIES:
        lines += ["", "Starts made again (no window): %d (%s)" % (len(RETRIES), "; ".join(RETRIES))]
    lines += ["", "Every run (mapped s, painted s, RSS KiB, private KiB):", ""]
    for name in (ours, nsis):
        lines.append("- %s: %s" % (name, "; ".join("%.2f, %.2f, %s, %s" % r for r in results[name])))
    text = "\n".join(lines) + "\n"
    print(text)
    with open(os.path.join(build, "bench-installers", "firstpaint.md"), "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
