"""Driving real windows on the X display from outside, as a person would:
xdotool for the pointer, the keys and the window tree, ImageMagick for
screenshots. Used by the tests that drive the skinned windows and by the
first-paint benchmark.

    import xrobot
    wid = xrobot.find_window("^Title$", 60)
    shot = xrobot.Shot("/tmp/first.png", xrobot.geometry(wid))
    xrobot.check(xrobot.near(shot.pixel(10, 10), "#8A3CFF"), "the button is drawn")
"""
import shutil
import subprocess
import time

FAILURES = []
TOOLS = ("xdotool", "import", "convert", "identify")


def missing_tools():
    return [tool for tool in TOOLS if not shutil.which(tool)]


def check(cond, what):
    """Prints the check's outcome; a failed one is kept in FAILURES."""
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        FAILURES.append(what)
    return cond


def xdo(*args, capture=False, must=False):
    """Runs xdotool: its output with capture, else whether it succeeded
    (must: a failure raises)."""
    r = subprocess.run(["xdotool"] + [str(a) for a in args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                       text=True)
    if must and r.returncode != 0:
        raise RuntimeError("xdotool %s failed" % " ".join(str(a) for a in args))
    return r.stdout if capture else r.returncode == 0


def geometry(wid):
    """x, y, width, height of a window, or None when it is gone."""
    r = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(wid)], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True)
    g = dict(line.split("=", 1) for line in r.stdout.split() if "=" in line)
    if r.returncode != 0 or "X" not in g:
        return None
    return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])


def visible_windows(name="."):
    """Ids of the mapped windows whose name matches the pattern."""
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True).stdout.split()


def find_window(name, timeout, min_width=50, exclude=()):
    """A mapped window of that name (and not in `exclude`) that stays: Wine
    may replace the X window of a top-level window while it is set up."""
    deadline = time.time() + timeout
    while True:
        for wid in reversed(visible_windows(name)):
            if wid in exclude:
                continue
            g = geometry(wid)
            if g and g[2] > min_width:
                return wid
        if time.time() >= deadline:
            return None
        time.sleep(0.2)


class Shot:
    """A screenshot of the screen, or of an area (x, y, width, height) of it,
    saved as PNG at `path`, with its pixels at hand."""

    def __init__(self, path, area=None):
        self.path = path
        subprocess.run(["import", "-window", "root", self.path], check=True)
        if area:
            x, y, w, h = area
            subprocess.run(["convert", self.path, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", self.path],
                           check=True)
        self.raw = subprocess.run(["convert", self.path, "-depth", "8", "rgb:-"], check=True,
                                  stdout=subprocess.PIPE).stdout
        size = subprocess.run(["identify", "-format", "%w %h", self.path], check=True, stdout=subprocess.PIPE,
                              text=True).stdout.split()
        self.width, self.height = int(size[0]), int(size[1])

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.raw[i:i + 3])

    def colours(self, step=4):
        """The number of distinct colours on a grid of every `step` pixels:
        1 for a blank picture."""
        seen = set()
        for y in range(0, self.height, step):
            row = y * self.width * 3
            for x in range(0, self.width, step):
                i = row + x * 3
                seen.add(self.raw[i:i + 3])
        return len(seen)


def near(rgb, hex_colour, tolerance=40):
    want = tuple(int(hex_colour[i:i + 2], 16) for i in (1, 3, 5))
    return all(abs(a - b) <= tolerance for a, b in zip(rgb, want))
