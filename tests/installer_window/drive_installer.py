#!/usr/bin/env python3
"""A person installs the sample product through the installer window: xdotool
moves the pointer, clicks and types on the X display, screenshots show what
the window painted, and the prefix's files, registry, the product's launch
log and the statistics journal show what the installation did.

    drive_installer.py --wine-run <build>/wine-run --setup <ContosoTranslatorSetup.exe>
                       --out <folder> [--only install|dpi] [--docs <folder>]

install: the first page as drawn; clearing the licence box disables the
  install button (its disabled cell on screen) and the install button then
  does nothing; a folder without a drive letter gives the "安装路径非法" box;
  a folder typed into the path box, the start-menu option cleared; the install
  page's bar advances; the completion page appears; its start button starts
  the product and ends the installer with 0; files, registry values,
  shortcuts and the statistics journal are checked.
dpi: the first page at 100, 125, 150 and 200 % (the prefix's LogPixels): the
  window and its install button have the scaled sizes and the button's image
  fills it.

Needs port 8100 (the product's statistics gateway): run it under
flock /tmp/qvr-port8100.lock.
"""
import argparse
import http.server
import os
import re
import shutil
import subprocess
import sys
import threading
import time
import zlib

ARGS = None
FAILURES = []
STARTED = []  # installer processes, ended at the latest when the run ends
TITLE = "Contoso 翻译 标准版安装"
INSTALL_DIR = r"C:\ContosoHand\ContosoTranslator"
PRODUCT_KEY = r"HKCU\Software\ContosoTranslator"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        FAILURES.append(what)
    return cond


def xdo(*args, capture=False):
    r = subprocess.run(["xdotool"] + [str(a) for a in args], stdout=subprocess.PIPE, text=True)
    return r.stdout if capture else r.returncode == 0


def wine(*args, timeout=120):
    return subprocess.run([ARGS.wine_run] + list(args), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          timeout=timeout).stdout.decode("utf-8", "replace")


def prefix():
    return os.path.join(os.path.dirname(os.path.abspath(ARGS.wine_run)), "wineprefix")


def host_path(winpath):
    """The Linux path of a C: path of the prefix."""
    assert winpath[:3].upper() == "C:\\"
    return os.path.join(prefix(), "drive_c", *winpath[3:].split("\\"))


def user_folder(*parts):
    users = os.path.join(prefix(), "drive_c", "users", os.environ.get("USER", "root"))
    if not os.path.isdir(users):
        users = os.path.join(prefix(), "drive_c", "users", "root")
    return os.path.join(users, *parts)


# --- the statistics gateway the sample product reports to ------------------------------------------
class Gateway(http.server.BaseHTTPRequestHandler):
    received = []

    def log_message(self, *args):
        pass

    def do_POST(self):
        n = int(self.headers.get("Content-Length") or 0)
        Gateway.received.append((self.path, self.rfile.read(n) if n else b""))
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.end_headers()
        self.wfile.write(b'{"code":0}')

    do_GET = do_POST


def start_gateway():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 8100), Gateway)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


# --- the window on the X display ----------------------------------------------------------------
def geometry(wid):
    """x, y, width, height of a window, or None when it is gone."""
    r = subprocess.run(["xdotool", "getwindowgeometry", "--shell", wid], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True)
    g = dict(line.split("=", 1) for line in r.stdout.split() if "=" in line)
    if r.returncode != 0 or "X" not in g:
        return None
    return int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"])


def find_window(name, timeout):
    """A mapped window of that name that stays (Wine may replace the X window
    of a top-level window while it is set up)."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True).stdout.split()
        for wid in reversed(ids):
            g = geometry(wid)
            if g and g[2] > 50:
                return wid
        time.sleep(0.3)
    return None


class Shot:
    def __init__(self, name, area=None):
        self.path = os.path.join(ARGS.out, name + ".png")
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


def near(rgb, hex_colour, tolerance=40):
    want = tuple(int(hex_colour[i:i + 2], 16) for i in (1, 3, 5))
    return all(abs(a - b) <= tolerance for a, b in zip(rgb, want))


class Installer:
    """The installer process and its window; points are given in the layout's
    100 % coordinates and scaled."""

    def __init__(self, scale=1.0):
        self.scale = scale
        self.proc = subprocess.Popen([ARGS.wine_run, ARGS.setup], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        STARTED.append(self.proc)
        self.area = None
        self.wid = find_window(TITLE, 90)
        if self.wid:
            time.sleep(1.5)  # first paint
            self.area = geometry(self.wid)
            if not self.area:
                self.wid = find_window(TITLE, 20)
                self.area = geometry(self.wid) if self.wid else None
            if not self.area:
                self.wid = None

    def at(self, x, y):
        return self.area[0] + round(x * self.scale), self.area[1] + round(y * self.scale)

    def click(self, x, y, pause=0.6):
        sx, sy = self.at(x, y)
        xdo("mousemove", sx, sy)
        time.sleep(0.3)
        xdo("click", 1)
        time.sleep(pause)

    def shot(self, name):
        return Shot(name, self.area)

    def pixel(self, shot, x, y):
        return shot.pixel(round(x * self.scale), round(y * self.scale))

    def end(self, timeout=60):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return None


# Layout points (100 %): see resources/skin/Layout/Layout.xml.
INSTALL_BTN_LEFT = (192 + 24, 202)   # inside the rounded button, left of its text
LICENCE_TEXT = (250, 259)            # the licence option's text
PATH_BOX = (250, 344)
START_MENU_OPTION = (57, 387)        # its check box
START_BTN = (199 + 20, 383)          # completion page, left of the text
CLOSE_BTN = (578, 22)


def reset_product():
    for exe in ("ContosoTranslator.exe", "ContosoHelper.exe", "ContosoUninst.exe"):
        wine("taskkill", "/F", "/IM", exe)
    shutil.rmtree(host_path(INSTALL_DIR).rsplit(os.sep, 1)[0], ignore_errors=True)
    wine("reg", "delete", PRODUCT_KEY, "/f")
    wine("reg", "delete", RUN_KEY, "/v", "ContosoTranslator", "/f")
    launches = user_folder("AppData", "Local", "ContosoTranslator", "launches.log")
    if os.path.exists(launches):
        os.remove(launches)
    journal = os.path.join(os.path.dirname(ARGS.setup), "qmstat_journal.log")
    if os.path.exists(journal):
        os.remove(journal)


def reg_value(key, name):
    out = wine("reg", "query", key, "/v", name)
    m = re.search(r"^\s*%s\s+(REG_\w+)\s*(.*)$" % re.escape(name), out, re.M)
    return (m.group(1), m.group(2).strip()) if m else None


def type_into_path_box(app, text):
    app.click(*PATH_BOX, pause=0.3)
    xdo("key", "ctrl+a")
    time.sleep(0.2)
    xdo("key", "BackSpace")
    time.sleep(0.2)
    xdo("type", "--delay", "60", text)
    time.sleep(0.5)


def install_run():
    reset_product()
    app = Installer()
    try:
        install_steps(app)
    finally:
        if app.proc.poll() is None:
            app.proc.kill()
        wine("taskkill", "/F", "/IM", "ContosoTranslator.exe")


def install_steps(app):
    if not check(app.wid is not None, "the installer window appears with the title \"%s\"" % TITLE):
        app.end(1)
        return
    check(app.area[2:] == (600, 460), "the window is 600x460 at 100 %%: %s" % (app.area[2:],))
    first = app.shot("first_page")
    check(near(app.pixel(first, *INSTALL_BTN_LEFT), "#8A3CFF", 50), "the install button paints its normal cell")

    # A second start while the window is open ends at once and leaves one window.
    second = subprocess.Popen([ARGS.wine_run, ARGS.setup], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        code = second.wait(60)
    except subprocess.TimeoutExpired:
        second.kill()
        code = None
    windows = xdo("search", "--onlyvisible", "--name", TITLE, capture=True).split()
    check(code == 0 and len(windows) == 1, "a second start ends with 0 and leaves one window (%s, %d)" % (code, len(windows)))

    # Licence cleared: the install button shows its disabled cell and does nothing.
    app.click(*LICENCE_TEXT)
    app.click(*INSTALL_BTN_LEFT, pause=1.0)
    cleared = app.shot("licence_cleared")
    check(near(app.pixel(cleared, *INSTALL_BTN_LEFT), "#CBC4DD", 20),
          "licence cleared: the install button shows its disabled cell and a click leaves the first page %s" % (app.pixel(cleared, *INSTALL_BTN_LEFT),))
    app.click(*LICENCE_TEXT)
    again = app.shot("licence_again")
    check(near(app.pixel(again, *INSTALL_BTN_LEFT), "#8A3CFF", 50), "licence selected again: the button is enabled")

    # A folder without a drive letter: the warning box, the first page stays.
    type_into_path_box(app, r"relative\path")
    app.click(*INSTALL_BTN_LEFT, pause=0.2)
    box = find_window("^错误$", 20)
    check(box is not None, "a folder without a drive letter gives the \"错误\" box")
    if box:
        Shot("invalid_folder_box")
        xdo("key", "--window", box, "Return")
        time.sleep(0.8)

    # The real folder, the start-menu option cleared, then install.
    type_into_path_box(app, INSTALL_DIR)
    app.click(*START_MENU_OPTION)
    app.shot("choices")
    app.click(*INSTALL_BTN_LEFT, pause=1.5)
    page = app.shot("install_page")
    # The bar is the bottom 10 pixels. Its empty track has the colour of its
    # right end at the start of the installation; later shots are compared
    # with that colour, since a fast installation may fill the bar to its end.
    empty = app.pixel(page, 598, 455)
    def filled(shot):
        return sum(1 for x in range(0, 600, 4)
                   if max(abs(a - b) for a, b in zip(app.pixel(shot, x, 455), empty)) > 24)
    check(not near(app.pixel(page, 560, 200), "#FFFFFF", 30), "the install page replaces the first page")
    # Closing through the system while the installation runs asks first; Cancel goes on.
    xdo("key", "--window", app.wid, "alt+F4")
    question = find_window("^提醒$", 20)
    if check(question is not None, "Alt+F4 during the installation asks \"您确定要退出安装程序？\""):
        Shot("close_question")
        xdo("key", "--window", question, "Escape")
        time.sleep(0.8)
    check(app.proc.poll() is None, "Cancel: the installation goes on")
    # The bar moves every 300 ms; a quick installation may reach the
    # completion page within seconds, so look until it advances or the page goes.
    start, seen = filled(page), filled(page)
    deadline = time.time() + 10
    while time.time() < deadline and seen <= start:
        later = app.shot("install_page_later")
        if near(app.pixel(later, 560, 200), "#FFFFFF", 30):
            break  # the install page is gone
        seen = filled(later)
        time.sleep(0.3)
    check(seen > start > 0, "the install page's bar advances (%d -> %d of 150 columns)" % (start, seen))

    # The completion page: the start button's cell is drawn.
    deadline = time.time() + 240
    done = None
    while time.time() < deadline:
        s = app.shot("completion_page")
        if near(app.pixel(s, 300, 370), "#8A3CFF", 70) or near(app.pixel(s, *START_BTN), "#8A3CFF", 70):
            done = s
            break
        time.sleep(2)
    check(done is not None, "the completion page appears")
    if ARGS.docs and done:
        os.makedirs(ARGS.docs, exist_ok=True)
        shutil.copy(first.path, os.path.join(ARGS.docs, "first-page.png"))
        shutil.copy(done.path, os.path.join(ARGS.docs, "completion-page.png"))

    # The start button starts the product and ends the installer.
    app.click(*START_BTN, pause=0.5)
    code = app.end(60)
    check(code == 0, "the start button closes the installer with exit code 0 (%s)" % code)
    launches = user_folder("AppData", "Local", "ContosoTranslator", "launches.log")
    deadline = time.time() + 30
    while time.time() < deadline and not os.path.exists(launches):
        time.sleep(0.5)
    check(os.path.exists(launches) and "ContosoTranslator" in open(launches, encoding="utf-8", errors="replace").read(),
          "the product was started from the completion page")

    # What the installation left, as after a silent install to that folder.
    folder = host_path(INSTALL_DIR)
    for name in ("ContosoTranslator.exe", "qmstat.dll", "Uninst.dar0", "Uninst.dar1"):
        check(os.path.isfile(os.path.join(folder, name)), "installed: %s" % name)
    manifest = ARGS.manifest
    if manifest and os.path.exists(manifest):
        wrong = []
        count = 0
        for line in open(manifest, encoding="utf-8"):
            parts = line.strip().split("|")
            if len(parts) < 4:
                continue
            count += 1
            path = os.path.join(folder, *parts[0].split("\\"))
            if parts[0] == "ContosoRoot.cer":  # imported, then deleted by the script
                if os.path.exists(path):
                    wrong.append(parts[0])
                continue
            if not os.path.isfile(path) or os.path.getsize(path) != int(parts[1]) or \
                    zlib.crc32(open(path, "rb").read()) != int(parts[3], 16):
                wrong.append(parts[0])
        check(count > 0 and not wrong, "all %d payload files installed whole (wrong: %s)" % (count, wrong[:5]))
    check(reg_value(PRODUCT_KEY, "StartMenuShortcutChk") == ("REG_DWORD", "0x0"),
          "the cleared start-menu option reached the script: %s" % (reg_value(PRODUCT_KEY, "StartMenuShortcutChk"),))
    run = reg_value(RUN_KEY, "ContosoTranslator")
    check(run is not None and INSTALL_DIR.lower() in run[1].lower(),
          "the selected start-with-Windows option reached the script: %s" % (run,))
    menu = os.path.join(prefix(), "drive_c", "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
                        "Contoso 翻译 标准版")
    check(not os.path.exists(menu), "no start-menu folder without the option")
    journal = os.path.join(os.path.dirname(ARGS.setup), "qmstat_journal.log")
    text = open(journal, encoding="utf-8", errors="replace").read() if os.path.exists(journal) else ""
    lines = [l.strip() for l in text.splitlines()]
    def at(line):
        return lines.index(line) if line in lines else -1
    check(at("stat_unionid(31000)") >= 0 and at("stat_appid(123)") >= 0,
          "the statistics module starts with the app id 123 and the default union id")
    a, b = at("stat_mutilaction([25104], 1, 0)"), at("stat_mutilaction([25106], 1, 0)")
    check(0 <= a < b, "the statistics journal holds the window's actions 25104, then 25106")
    check(b < at("stat_offline()") < at("stat_close(200)"), "after the window the module goes offline and closes")
    wine("taskkill", "/F", "/IM", "ContosoTranslator.exe")


def set_log_pixels(dpi):
    for key in (r"HKCU\Control Panel\Desktop",
                r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts"):
        wine("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")


def dpi_run():
    try:
        for percent in (100, 125, 150, 200):
            set_log_pixels(96 * percent // 100)
            scale = percent / 100.0
            app = Installer(scale)
            if not check(app.wid is not None, "the window shows at %d %%" % percent):
                app.end(1)
                continue
            w, h = app.area[2:]
            check(abs(w - 600 * scale) <= 2 and abs(h - 460 * scale) <= 2,
                  "the window at %d %% is %dx%d" % (percent, w, h))
            s = app.shot("first_page_%d" % percent)
            check(near(app.pixel(s, *INSTALL_BTN_LEFT), "#8A3CFF", 50),
                  "at %d %% the install button's image is drawn at its scaled place" % percent)
            check(near(app.pixel(s, 192 + 216 - 26, 202), "#5A5CFF", 60),
                  "at %d %% the install button's image reaches its scaled right end" % percent)
            app.click(*CLOSE_BTN, pause=0.2)
            box = find_window("^提醒$", 20)
            if check(box is not None, "at %d %% the close button asks first" % percent):
                xdo("key", "--window", box, "Return")
            check(app.end(30) == 0, "at %d %% the window closes" % percent)
    finally:
        set_log_pixels(96)


def stage_installer():
    """The installer in a folder of its own with the product's statistics DLLs
    beside it, as the product ships them: the statistics module loads
    qmstat.dll from the installer's folder and its journal lands there."""
    folder = os.path.join(ARGS.out, "setup")
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    shutil.copy(ARGS.setup, folder)
    for dll in ("qmstat.dll", "qmnet.dll"):
        src = os.path.join(ARGS.product_bin, dll)
        if os.path.exists(src):
            shutil.copy(src, folder)
    ARGS.setup = os.path.join(folder, os.path.basename(ARGS.setup))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--setup", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--manifest")
    parser.add_argument("--product-bin", required=True)
    parser.add_argument("--docs")
    parser.add_argument("--only", choices=["install", "dpi"])
    ARGS = parser.parse_args()
    for tool in ("xdotool", "import", "convert"):
        if not shutil.which(tool):
            print("missing tool: " + tool)
            return 1
    os.makedirs(ARGS.out, exist_ok=True)
    stage_installer()
    server = start_gateway()
    try:
        if ARGS.only in (None, "install"):
            install_run()
        if ARGS.only in (None, "dpi"):
            dpi_run()
    finally:
        for proc in STARTED:
            if proc.poll() is None:
                proc.kill()
        server.shutdown()
    print("screenshots in " + ARGS.out)
    if FAILURES:
        print("%d check(s) failed" % len(FAILURES))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
