#!/usr/bin/env python3
"""Drives the test skin's window from outside, the way a user would: xdotool
moves the pointer, clicks, types and drags on the X display; the program logs
what the framework did (notifications, focus, tooltip, window and control
rectangles) and the screenshots show what it painted.

Checks, in one run of the window at 100 %:
  hover and leave change a button's state image (screenshot pixels); the
  tooltip appears after the hover time; a click gives buttondown, buttonup,
  click once and in order; an option group keeps one option selected (log
  order and pixels); Tab and Shift+Tab walk the TabSuppot controls in order;
  typing into the rich edit changes its text; the control timer fires three
  times and stops; the caption band drags the window; the close button ends
  the message loop. Then one run at 150 % (sizes and pixels), and 1,000
  windows created and destroyed with the object counts compared.
"""
import argparse
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
import xrobot  # noqa: E402
from xrobot import FAILURES, check, near  # noqa: E402

ARGS = None


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def xdo(*args):
    xrobot.xdo(*args, must=True)


class App:
    def __init__(self, name, extra=()):
        self.log = os.path.join(ARGS.out, name + ".log")
        if os.path.exists(self.log):
            os.remove(self.log)
        self.proc = subprocess.Popen([ARGS.wine_run, ARGS.app, "--skin", winpath(ARGS.skin), "--log",
                                      winpath(self.log)] + list(extra))

    def lines(self):
        try:
            with open(self.log, encoding="utf-8") as f:
                return [l.rstrip("\n") for l in f]
        except FileNotFoundError:
            return []

    def wait_for(self, pattern, timeout=30.0, start=0):
        """Index of the first line at or after `start` matching `pattern`, or -1."""
        deadline = time.time() + timeout
        rx = re.compile(pattern)
        while time.time() < deadline:
            lines = self.lines()
            for i in range(start, len(lines)):
                if rx.search(lines[i]):
                    return i
            if self.proc.poll() is not None:
                break
            time.sleep(0.1)
        return -1

    def last(self, prefix):
        found = None
        for line in self.lines():
            if line.startswith(prefix):
                found = line
        return found

    def window(self):
        l, t, r, b = map(int, self.last("rect ").split()[1:5])
        return l, t, r, b

    def control(self, name):
        """Screen rectangle of a control."""
        parts = self.last("ctl %s " % name).split()
        l, t, r, b = map(int, parts[2:6])
        wl, wt, _, _ = self.window()
        return wl + l, wt + t, wl + r, wt + b

    def notifications(self, start=0, types=None):
        out = []
        for line in self.lines()[start:]:
            if line.startswith("notify "):
                parts = line.split(" ")
                if types is None or parts[1] in types:
                    out.append((parts[1], parts[2] if len(parts) > 2 else ""))
        return out

    def end(self, timeout=30):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return None


def Shot(name):
    """A screenshot of the whole screen, kept in the output folder."""
    return xrobot.Shot(os.path.join(ARGS.out, name + ".png"))


def centre(rc):
    return (rc[0] + rc[2]) // 2, (rc[1] + rc[3]) // 2


def move(x, y):
    xdo("mousemove", x, y)


def click_at(x, y):
    move(x, y)
    time.sleep(0.3)
    xdo("click", 1)


def main_run():
    app = App("run100")
    check(app.wait_for(r"^ctl edit ", 60) >= 0, "the window shows and lays out")
    time.sleep(0.5)
    shot = Shot("initial")
    tabs, floater = app.control("tabs"), app.control("floater")
    check(floater[2] == tabs[2] - 16 and floater[3] == tabs[3] - 12 and
          near(shot.pixel(*centre(floater)), "#CC3333"),
          "a floating control aligned right and bottom sits in its page's corner: %s in %s" % (floater, tabs))

    # --- hover, tooltip, leave --------------------------------------------------
    a = app.control("btnA")
    ax, ay = a[0] + 8, (a[1] + a[3]) // 2  # left of the text, inside the rounded rectangle
    body = centre(app.control("tabs"))
    move(*body)
    time.sleep(0.5)
    check(near(Shot("btnA_normal").pixel(ax, ay), "#2F6FD0"), "button paints its normal image")
    mark = len(app.lines())
    move(ax, ay)
    tip = app.wait_for(r"^tooltip 1 ", 10, mark)
    check(tip >= 0, "a tooltip window appears after the hover time")
    check(near(Shot("btnA_hot").pixel(ax, ay), "#F08A1C"), "hover paints the hot image")
    check(("mouseenter", "btnA") in app.notifications(mark), "hover sends mouseenter")
    mark = len(app.lines())
    move(*body)
    time.sleep(0.6)
    check(near(Shot("btnA_left").pixel(ax, ay), "#2F6FD0"), "leaving paints the normal image again")
    check(("mouseleave", "btnA") in app.notifications(mark), "leaving sends mouseleave")
    check(app.wait_for(r"^tooltip 0 ", 5, mark) >= 0, "the tooltip goes when the pointer leaves")

    # --- click: buttondown, buttonup, click, once each -----------------------------
    mark = len(app.lines())
    click_at(ax, ay)
    app.wait_for(r"^notify click btnA", 10, mark)
    time.sleep(0.3)
    seq = [n for n in app.notifications(mark, {"buttondown", "buttonup", "click"}) if n[1] == "btnA"]
    check(seq == [("buttondown", "btnA"), ("buttonup", "btnA"), ("click", "btnA")],
          "a click gives buttondown, buttonup, click once and in order: %s" % seq)

    # --- option group ----------------------------------------------------------------
    def option_dot(name):
        rc = app.control(name)
        return rc[0] + 10, rc[1] + 12

    mark = len(app.lines())
    click_at(*option_dot("optGreen"))
    app.wait_for(r"^notify selectchanged optGreen", 10, mark)
    time.sleep(0.4)
    seq = app.notifications(mark, {"selectchanged"})
    check(seq == [("selectchanged", "optRed"), ("selectchanged", "optGreen")],
          "selecting an option deselects the other first: %s" % seq)
    shot = Shot("option_green")
    check(near(shot.pixel(*option_dot("optGreen")), "#8E2FC0"), "the selected option paints selected")
    check(near(shot.pixel(*option_dot("optRed")), "#FFFFFF"), "the former option paints unselected")
    check(near(shot.pixel(*option_dot("optBlue")), "#FFFFFF"), "the third option stays unselected")
    mark = len(app.lines())
    click_at(*option_dot("optGreen"))  # clicking the selected option keeps it selected
    time.sleep(0.6)
    check(app.notifications(mark, {"selectchanged"}) == [], "a selected option stays selected on a click")

    # --- check box -----------------------------------------------------------------------
    mark = len(app.lines())
    click_at(*option_dot("chkAgree"))
    app.wait_for(r"^notify selectchanged chkAgree", 10, mark)
    time.sleep(0.4)
    box = app.control("chkAgree")
    check(near(Shot("check_on").pixel(box[0] + 15, box[1] + 18), "#1B9E8A"), "the check box paints checked")

    # --- Tab and Shift+Tab ---------------------------------------------------------------
    order = ["btnA", "btnB", "optRed", "optGreen", "edit"]
    mark = len(app.lines())
    for _ in range(6):
        xdo("key", "Tab")
        time.sleep(0.35)
    time.sleep(0.4)
    forward = [n[1] for n in app.notifications(mark, {"setfocus"})]
    ok = len(forward) >= 5
    if ok:
        start = order.index(forward[0]) if forward[0] in order else -1
        ok = start >= 0 and all(forward[i] == order[(start + i) % 5] for i in range(len(forward)))
    check(ok, "Tab walks the TabSuppot controls in order: %s" % forward)
    # Shift+Tab goes on through the list the same way (the window's Tab order
    # is the registration order whichever way the key is pressed).
    mark = len(app.lines())
    for _ in range(3):
        xdo("keydown", "Shift_L")
        time.sleep(0.15)
        xdo("key", "Tab")
        time.sleep(0.15)
        xdo("keyup", "Shift_L")
        time.sleep(0.3)
    time.sleep(0.4)
    shifted = [n[1] for n in app.notifications(mark, {"setfocus"})]
    ok = len(shifted) == 3 and forward and forward[-1] in order
    if ok:
        last = order.index(forward[-1])
        ok = shifted == [order[(last + i) % 5] for i in range(1, 4)]
    check(ok, "Shift+Tab walks them in the same order: %s" % shifted)

    # --- typing into the rich edit ------------------------------------------------------
    e = app.control("edit")
    mark = len(app.lines())
    click_at(e[2] - 20, (e[1] + e[3]) // 2)
    time.sleep(0.4)
    xdo("key", "End")
    xdo("type", "--delay", "120", "xyz")
    found = app.wait_for(r"^text edit .*xyz", 10, mark)
    check(found >= 0, "typing changes the rich edit's text: %s" % app.last("text edit"))
    Shot("typed")

    # --- the control timer fired three times and stopped ------------------------------
    timers = [n for n in app.notifications(0, {"timer"}) if n[1] == "status"]
    time.sleep(0.6)
    later = [n for n in app.notifications(0, {"timer"}) if n[1] == "status"]
    check(len(timers) == 3 and len(later) == 3, "the control timer fired 3 times and stopped: %d" % len(later))

    # --- the caption band drags the window ------------------------------------------------
    before = app.window()
    t = app.control("title")
    gx, gy = t[0] + 150, (t[1] + t[3]) // 2  # past the label's text, still over the label
    move(gx, gy)
    time.sleep(0.3)
    xdo("mousedown", 1)
    for step in range(1, 7):
        move(gx + 10 * step, gy + 7 * step)
        time.sleep(0.1)
    time.sleep(0.2)
    xdo("mouseup", 1)
    time.sleep(0.8)
    after = app.window()
    check(abs(after[0] - before[0] - 60) <= 3 and abs(after[1] - before[1] - 42) <= 3,
          "the caption band drags the window: %s -> %s" % (before, after))
    Shot("dragged")

    # --- a button bound to the tab layout shows its page -------------------------------------
    mark = len(app.lines())
    b = app.control("btnB")
    click_at(b[0] + 8, (b[1] + b[3]) // 2)
    app.wait_for(r"^notify click btnB", 10, mark)
    time.sleep(0.5)
    page = app.control("tabs")
    check(near(Shot("page2").pixel(page[0] + 40, page[3] - 30), "#F7E9E3"), "the bound button shows the second page")

    # --- the close button ends the message loop ---------------------------------------------
    c = app.control("closebtn")
    click_at(*centre(c))
    code = app.end(30)
    check(code == 0 and app.wait_for(r"^loop ended", 1) >= 0, "the close button ends the message loop (%s)" % code)


def dpi_run():
    app = App("run150", ["--dpi", "144"])
    ok = app.wait_for(r"^ctl edit ", 60) >= 0
    time.sleep(1.0)
    ok = ok and app.wait_for(r"^rect ", 5) >= 0
    if not check(ok, "the window shows at 150 %"):
        app.end(1)
        return
    time.sleep(0.5)
    l, t, r, b = app.window()
    check((r - l, b - t) == (720, 540), "the window is 150 %% of 480x360: %dx%d" % (r - l, b - t))
    a = app.control("btnA")
    check(a[2] - a[0] == 180 and a[3] - a[1] == 54, "a 120x36 button is 180x54: %s" % (a,))
    shot = Shot("dpi150")
    check(near(shot.pixel(a[0] + 12, (a[1] + a[3]) // 2), "#2F6FD0"), "the button image fills the scaled button")
    check(near(shot.pixel(a[2] - 4, (a[1] + a[3]) // 2), "#2F6FD0"), "... up to its right edge")
    p = app.control("progress")
    fill = p[0] + (p[2] - p[0]) * 40 // 100
    check(near(shot.pixel(fill - 4, (p[1] + p[3]) // 2), "#27AE60") and
          near(shot.pixel(fill + 4, (p[1] + p[3]) // 2), "#D8DCE3"), "the progress bar is filled to 40 %")
    xdo("mousemove", *centre(app.control("closebtn")))
    time.sleep(0.3)
    xdo("click", 1)
    check(app.end(30) == 0, "the window at 150 % closes")


def cycles_run():
    out = subprocess.run([ARGS.wine_run, ARGS.app, "--skin", winpath(ARGS.skin), "--layout", "cycle.xml",
                          "--cycles", str(ARGS.cycles)],
                         stdout=subprocess.PIPE, text=True, timeout=900).stdout
    print(out, end="")
    counts = {}
    for line in out.splitlines():
        parts = line.split()
        if parts and parts[0] in ("before", "after"):
            counts[parts[0]] = dict(p.split("=") for p in parts[1:])
    if not check("before" in counts and "after" in counts, "%d windows made and destroyed" % ARGS.cycles):
        return
    check("own_dc" in counts["after"], "the object counters are installed")
    for key in ("own_gdi", "own_dc", "own_timers", "own_icons", "gdi", "user", "framework_gdi", "windows",
                "managers"):
        check(counts["before"][key] == counts["after"][key],
              "%s objects after %d windows: %s -> %s" % (key, ARGS.cycles, counts["before"][key],
                                                        counts["after"][key]))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--app", required=True)
    parser.add_argument("--skin", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--cycles", type=int, default=1000)
    parser.add_argument("--only", choices=["run", "dpi", "cycles", "run+dpi"])
    ARGS = parser.parse_args()
    if xrobot.missing_tools():
        print("missing tools: " + " ".join(xrobot.missing_tools()))
        return 1
    os.makedirs(ARGS.out, exist_ok=True)
    if ARGS.only in (None, "run", "run+dpi"):
        main_run()
    if ARGS.only in (None, "dpi", "run+dpi"):
        dpi_run()
    if ARGS.only in (None, "cycles"):
        cycles_run()
    print("screenshots in " + ARGS.out)
    if FAILURES:
        print("%d check(s) failed" % len(FAILURES))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
