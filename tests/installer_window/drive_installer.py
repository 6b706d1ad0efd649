#!/usr/bin/env python3
"""A person installs the sample product through the installer window: xdotool
moves the pointer, clicks and types on the X display, screenshots show what
the window painted, and the prefix's files, registry, the product's launch
log and the statistics journal show what the installation did.

    drive_installer.py --wine-run <build>/wine-run --setup <ContosoTranslatorSetup.exe>
                       --out <folder> [--only install|dpi] [--docs <folder>]

install: the first page as drawn; clearing the licence box disables the
  install button (its disabled cell on screen) and the install button then
  does nothing; the licence link opens the licence address in the browser (a
  stand-in that records it); a folder without a drive letter gives the
  "安装路径非法" box; a folder typed into the path box, then one chosen in the
  folder picker (typed into it, OK): the box shows it with the product's
  folder name and the install goes there; the start-menu option cleared; the
  install page's bar advances, Alt+F4 asks and Cancel goes on; the completion
  page appears; its start button starts the product and ends the installer
  with 0; files, registry values, shortcuts and the statistics journal are
  checked. Then a second installation ended by OK on the close question
  (exit code 7, nothing left running, no file left truncated), and one
  installation per completion card: each starts the product with its page
  argument and closes the window.
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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
import xrobot  # noqa: E402
from xrobot import FAILURES, check, find_window, geometry, near, xdo  # noqa: E402

ARGS = None
STARTED = []  # installer processes, ended at the latest when the run ends
TITLE = "Contoso 翻译 标准版安装"
TYPED_DIR = r"C:\ContosoHand\ContosoTranslator"    # typed into the path box
PICKED_PARENT = r"C:\ContosoPicked"                  # then chosen in the folder picker
INSTALL_DIR = PICKED_PARENT + r"\ContosoTranslator"  # the picked folder + the product's folder name
ENDED_DIR = r"C:\ContosoEnded\ContosoTranslator"    # the installation ended halfway
LICENCE_URL = "http://127.0.0.1:8100/legal/licence.html"  # global_licence_url of the sample
PRODUCT_KEY = r"HKCU\Software\ContosoTranslator"
MACHINE_PRODUCT_KEY = r"HKLM\Software\ContosoTranslator"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\ContosoTranslator"


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


def start_gateway(wait=600):
    """The gateway on 127.0.0.1:8100. The port is the machine's one: while
    another run holds it, this one waits for it."""
    deadline = time.time() + wait
    while True:
        try:
            server = http.server.ThreadingHTTPServer(("127.0.0.1", 8100), Gateway)
            break
        except OSError:
            if time.time() >= deadline:
                raise
            print("port 8100 is in use; waiting for it", flush=True)
            time.sleep(5)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


# --- the window on the X display ----------------------------------------------------------------
def Shot(name, area=None):
    """A screenshot of the screen or of an area of it, kept in the output folder."""
    return xrobot.Shot(os.path.join(ARGS.out, name + ".png"), area)


class Installer:
    """The installer process and its window; points are given in the layout's
    100 % coordinates and scaled."""

    def __init__(self, scale=1.0):
        self.scale = scale
        self.logs_before = installer_logs()
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

    def log(self):
        """What this run wrote to the installer's log (a dated log collects a day's runs)."""
        text = ""
        for path in installer_logs():
            with open(path, "rb") as f:
                f.seek(self.logs_before.get(path, 0))
                text += f.read().decode("utf-8", "replace")
        return text

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
SELECT_PATH_BTN = (531, 344)         # floats at the right end of the path box
CARDS = {"Fy_pic": (125, 212), "Fy_txt": (300, 212), "Fy_doc": (475, 212)}  # completion page
CARD_ARGUMENTS = {"Fy_pic": "#/translate?tab=image", "Fy_txt": "#/translate?tab=online",
                  "Fy_doc": "#/translate?tab=doc"}
START_MENU_OPTION = (57, 387)        # its check box
START_BTN = (199 + 20, 383)          # completion page, left of the text
CLOSE_BTN = (578, 22)


START_MENU_FOLDER = None  # set in main: the product's folder in the machine's start menu


def reset_product():
    for exe in ("ContosoTranslator.exe", "ContosoHelper.exe", "ContosoUninst.exe"):
        wine("taskkill", "/F", "/IM", exe)
    for folder in (TYPED_DIR, INSTALL_DIR, ENDED_DIR):
        shutil.rmtree(host_path(folder).rsplit(os.sep, 1)[0], ignore_errors=True)
    shutil.rmtree(START_MENU_FOLDER, ignore_errors=True)
    wine("reg", "delete", PRODUCT_KEY, "/f")
    # The first page proposes the folder of a registered installation.
    wine("reg", "delete", UNINSTALL_KEY, "/f")
    wine("reg", "delete", MACHINE_PRODUCT_KEY, "/f")
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


def installer_logs():
    """The installer's logs (Install_<date>.log in the user's temporary folder) with their sizes."""
    found = {}
    for folder in (user_folder("Temp"), user_folder("AppData", "Local", "Temp")):
        if os.path.isdir(folder):
            for n in os.listdir(folder):
                if n.startswith("Install") and n.endswith(".log"):
                    found[os.path.join(folder, n)] = os.path.getsize(os.path.join(folder, n))
    return found


def launch_lines():
    """The product's launch log: one line per start of one of its programs."""
    path = user_folder("AppData", "Local", "ContosoTranslator", "launches.log")
    if not os.path.exists(path):
        return []
    return [l for l in open(path, encoding="utf-8", errors="replace").read().splitlines() if l.strip()]


def wait_for_launch(seen, timeout=30):
    """The launch lines after the first `seen` ones, once the product's line has come."""
    deadline = time.time() + timeout
    while True:
        lines = launch_lines()[seen:]
        if any(l.startswith("ContosoTranslator") for l in lines) or time.time() >= deadline:
            return lines
        time.sleep(0.5)


def setup_processes():
    """Linux processes still running this test's staged installer."""
    staged = os.path.dirname(ARGS.setup).replace("/", "\\")
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            cmd = open("/proc/%s/cmdline" % pid, "rb").read().decode("utf-8", "replace").replace("\0", " ")
        except OSError:
            continue
        if "ContosoTranslatorSetup.exe" in cmd and (staged in cmd or os.path.dirname(ARGS.setup) in cmd) \
                and "drive_installer" not in cmd:
            found.append(pid)
    return found


class BrowserStandIn:
    """Wine opens web addresses with the programs its WineBrowser key lists:
    during the run that is a script that records its arguments."""
    KEY = r"HKCU\Software\Wine\WineBrowser"

    def __init__(self):
        self.record = os.path.join(ARGS.out, "browser.log")
        self.script = os.path.join(ARGS.out, "browser.sh")
        with open(self.script, "w") as f:
            f.write("#!/bin/sh\nprintf '%%s\\n' \"$*\" >> '%s'\n" % self.record)
        os.chmod(self.script, 0o755)
        if os.path.exists(self.record):
            os.remove(self.record)
        self.before = reg_value(self.KEY, "Browsers")
        wine("reg", "add", self.KEY, "/v", "Browsers", "/t", "REG_SZ", "/d", self.script, "/f")

    def opened(self, timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline and not os.path.exists(self.record):
            time.sleep(0.3)
        time.sleep(0.3)
        return open(self.record).read().split("\n")[0] if os.path.exists(self.record) else None

    def restore(self):
        if self.before:
            wine("reg", "add", self.KEY, "/v", "Browsers", "/t", self.before[0], "/d", self.before[1], "/f")
        else:
            wine("reg", "delete", self.KEY, "/v", "Browsers", "/f")


def wait_gone(wid, timeout):
    deadline = time.time() + timeout
    while geometry(wid) is not None:
        if time.time() >= deadline:
            return False
        time.sleep(0.3)
    return True


def link_centre(shot, app):
    """The licence link's place on the first page: the middle of its purple text."""
    xs = [x for x in range(300, 600) for y in range(253, 266, 2) if near(app.pixel(shot, x, y), "#832FFF", 60)]
    return ((min(xs) + max(xs)) // 2, 259) if xs else (350, 259)


def wait_for_completion(app, name, timeout=240):
    """The screenshot of the completion page once its start button is drawn, or None."""
    deadline = time.time() + timeout
    while True:
        s = app.shot(name)
        if near(app.pixel(s, 300, 370), "#8A3CFF", 70) or near(app.pixel(s, *START_BTN), "#8A3CFF", 70):
            return s
        if time.time() >= deadline or app.proc.poll() is not None:
            return None
        time.sleep(1)


def payload_state(folder):
    """The payload's files in `folder` against the build's manifest: the names
    present whole, missing, and present but not whole (size or CRC differs)."""
    whole, missing, wrong = [], [], []
    for line in open(ARGS.manifest, encoding="utf-8"):
        parts = line.strip().split("|")
        if len(parts) < 4 or parts[0] == "ContosoRoot.cer":  # imported, then deleted by the script
            continue
        path = os.path.join(folder, *parts[0].split("\\"))
        if not os.path.isfile(path):
            missing.append(parts[0])
        elif os.path.getsize(path) != int(parts[1]) or zlib.crc32(open(path, "rb").read()) != int(parts[3], 16):
            wrong.append(parts[0])
        else:
            whole.append(parts[0])
    return whole, missing, wrong


def install_run():
    reset_product()
    for run in (first_install, ended_install, card_installs):
        app = Installer()
        try:
            run(app)
        finally:
            if app.proc.poll() is None:
                app.proc.kill()
            wine("taskkill", "/F", "/IM", "ContosoTranslator.exe")


def ended_install(app):
    """OK on the close question while the installation runs: the run ends at
    once with the code for an installation the user ended, the window goes
    and nothing of the installer stays behind."""
    if not check(app.wid is not None, "the installer starts again for an installation ended halfway"):
        return
    type_into_path_box(app, ENDED_DIR)
    app.click(*INSTALL_BTN_LEFT, pause=0.3)
    xdo("key", "--window", app.wid, "alt+F4")
    question = find_window("^提醒$", 20)
    if not check(question is not None, "Alt+F4 during the installation asks again"):
        return
    Shot("close_question_ok")
    xdo("key", "--window", question, "Return")
    code = app.end(60)
    log = app.log()
    check(code == 7, "OK on the close question ends the installer with exit code 7, ended by the user (%s)" % code)
    check("installation ended by the user while it ran" in log and "run ends: aborted (exit code 7)" in log,
          "the log says the user ended the installation while it ran")
    check(not xrobot.visible_windows(re.escape(TITLE)), "the window is gone")
    time.sleep(1.0)
    left = setup_processes()
    check(not left, "no installer process is left running: %s" % left)
    whole, missing, wrong = payload_state(host_path(ENDED_DIR))
    chunks = [n for n in ("Uninst.dar0", "Uninst.dar1") if os.path.isfile(os.path.join(host_path(ENDED_DIR), n))]
    location = reg_value(UNINSTALL_KEY, "InstallLocation")
    print("     the ended installation's folder: %d payload files whole, %d not written, %d not whole %s; "
          "uninstaller chunks %s; the uninstall entry names %s"
          % (len(whole), len(missing), len(wrong), wrong[:5], chunks, location and location[1]), flush=True)
    check(not wrong, "no payload file is left truncated in the ended installation's folder")


def card_installs(app):
    """Each card of the completion page starts the product on its page and
    closes the window: one installation per card. The first goes into the
    folder of the installation ended halfway and completes it; the others
    take the folder the window proposes, the earlier installation's."""
    for card in ("Fy_pic", "Fy_txt", "Fy_doc"):
        if card != "Fy_pic":
            app = Installer()
        if not check(app.wid is not None, "the installer starts again for the card %s" % card):
            continue
        seen = len(launch_lines())
        if card == "Fy_pic":
            type_into_path_box(app, ENDED_DIR)
        app.click(*INSTALL_BTN_LEFT, pause=1.5)
        refused = find_window("^错误$", 3) if card == "Fy_pic" else None
        if refused:
            Shot("ended_folder_refused")
            xdo("key", "--window", refused, "Return")
            check(False, "the folder of the installation ended halfway is taken again")
            return
        done = wait_for_completion(app, "completion_" + card)
        if not check(done is not None, "the completion page appears again for the card %s" % card):
            continue
        if card == "Fy_pic":
            whole, missing, wrong = payload_state(host_path(ENDED_DIR))
            check(whole and not missing and not wrong,
                  "an installation into the ended one's folder completes it (missing %s, not whole %s)"
                  % (missing[:3], wrong[:3]))
        app.click(*CARDS[card], pause=0.5)
        code = app.end(60)
        check(code == 0 and not xrobot.visible_windows(re.escape(TITLE)),
              "the card %s closes the window, exit code 0 (%s)" % (card, code))
        want = "cmd=\"%s\\ContosoTranslator.exe\" %s" % (ENDED_DIR, CARD_ARGUMENTS[card])
        started = [l for l in wait_for_launch(seen) if l.startswith("ContosoTranslator")]
        check(len(started) == 1 and started[0].endswith(want),
              "the card %s starts the product with %s: %s" % (card, CARD_ARGUMENTS[card], started))
        wine("taskkill", "/F", "/IM", "ContosoTranslator.exe")


def first_install(app):
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
        check(wait_gone(box, 10), "Return closes the box")
        time.sleep(0.5)

    # The licence link opens the licence page in the browser; the window stays.
    browser = BrowserStandIn()
    try:
        app.click(*link_centre(first, app), pause=0.3)
        app.shot("licence_link")
        opened = browser.opened()
    finally:
        browser.restore()
    check(opened == LICENCE_URL, "the licence link opens %s in the browser: %s" % (LICENCE_URL, opened))
    check(app.proc.poll() is None and geometry(app.wid) is not None, "after the licence link the window stays")

    # A folder typed, then one picked in the folder picker: the box shows the
    # picked folder with the product's folder name, and the install goes there.
    os.makedirs(host_path(PICKED_PARENT), exist_ok=True)
    os.makedirs(host_path(TYPED_DIR.rsplit("\\", 1)[0]), exist_ok=True)
    type_into_path_box(app, TYPED_DIR)
    before = set(xrobot.visible_windows())
    app.click(*SELECT_PATH_BTN, pause=0.3)
    picker = find_window(".", 30, min_width=200, exclude=before)
    if check(picker is not None, "the folder button opens the folder picker"):
        time.sleep(1.0)
        Shot("folder_picker", geometry(picker))
        xdo("type", "--delay", "60", PICKED_PARENT)
        time.sleep(0.3)
        Shot("folder_picker_typed", geometry(picker))
        # Return is OK; a typed folder may first be opened in the picker,
        # then the next OK picks it.
        for _ in range(2):
            xdo("key", "Return")
            if wait_gone(picker, 5):
                break
        check(geometry(picker) is None, "OK closes the folder picker")
        time.sleep(0.5)
        app.shot("folder_picked")
        picked = re.findall(r"folder picked: ([^\r\n]*), install folder: ([^\r\n]*)", app.log())
        check(picked[-1:] == [(PICKED_PARENT, INSTALL_DIR)] if picked else False,
              "the path box shows the picked folder and the product's folder name: %s" % (picked[-1:],))

    # The start-menu option cleared, then install.
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

    check(re.findall(r"install folder chosen in the window: ([^\r\n]*)", app.log())[-1:] == [INSTALL_DIR],
          "the install takes the folder of the path box: %s" % INSTALL_DIR)
    done = wait_for_completion(app, "completion_page")
    check(done is not None, "the completion page appears")
    if ARGS.docs and done:
        os.makedirs(ARGS.docs, exist_ok=True)
        shutil.copy(first.path, os.path.join(ARGS.docs, "first-page.png"))
        shutil.copy(done.path, os.path.join(ARGS.docs, "completion-page.png"))

    # The start button starts the product (no arguments: the sample sets no
    # global_start_parameter) and ends the installer.
    seen = len(launch_lines())
    app.click(*START_BTN, pause=0.5)
    code = app.end(60)
    check(code == 0, "the start button closes the installer with exit code 0 (%s)" % code)
    started = [l for l in wait_for_launch(seen) if l.startswith("ContosoTranslator")]
    program = "\"%s\\ContosoTranslator.exe\"" % INSTALL_DIR
    check(len(started) == 1 and started[0].split("\tcmd=")[-1].strip() in (program, program[1:-1]),
          "the start button started the installed product without arguments: %s" % started)

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
    check(not os.path.exists(START_MENU_FOLDER), "no start-menu folder without the option")
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
    global START_MENU_FOLDER
    START_MENU_FOLDER = os.path.join(prefix(), "drive_c", "ProgramData", "Microsoft", "Windows", "Start Menu",
                                     "Programs", "Contoso 翻译 标准版")
    if xrobot.missing_tools():
        print("missing tools: " + " ".join(xrobot.missing_tools()))
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
