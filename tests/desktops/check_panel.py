#!/usr/bin/env python3
"""Kelvo's panel under XWayland on the desktops most people run: KDE Plasma (KWin), GNOME (Mutter) and sway, each
headless with its real shell and tray (see desktops.py), the real build/kelvo on XWayland against kelvo-sim. On
demand only (make check-desktops). It opens the panel as the tray host does and checks from outside, several times:
  - it does not close by itself: still mapped 1.5 s after it opened;
  - it has the keyboard: keys sent through the compositor's own input (desktops.py: never xdotool, which reaches
    XWayland's focus even where the compositor gives none) move its focus (Tab changes its picture) and Escape
    closes it;
  - a click elsewhere closes it: on an X window, on a Wayland window, on a bare part of the desktop, and on the tray
    icon where the desktop shows one;
  - it sits next to the bar, inside the screen;
  - a second start (from a menu, a shortcut) opens it, with the keyboard.
One line per check with its count ("plasma (top bar): Tab moves the focus inside it: 10 of 10"); screenshots of the
open panel go to BUILD_DIR/desktops. A desktop's known limits are counted but do not fail it (GNOME: no window takes
the focus on its bare desktop, so a click there leaves the panel open). Where the desktop shows no icon for Kelvo
(GNOME's extension opens the menu on a click), the panel is opened as the host does, with Activate at a point on the
bar, and the click on the icon is not tried.

Usage: check_panel.py BUILD_DIR [gnome] [plasma] [sway] [--tries N] [--edges top,bottom] [--hold]
  (all when none is named; gnome-wayland is not this check's: there the panel is an ordinary window)
  --hold  start the first named desktop with Kelvo, print how to reach it, and wait for Ctrl+C.
The last line is "check-desktops: N passed, M failed", a desktop and bar edge each.
"""

import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktops import POLL, SCREEN, CheckFailed, Session, gnome_icon, log, wait_until  # noqa: E402

OTHER_X = (100, 100, 300, 120)  # where the other X window goes
OTHER_WAYLAND = (100, 420, 400, 220)  # where the Wayland window goes
BARE = (800, 300)  # a bare part of the desktop
WAYLAND_APP_ID = "app.kelvo.Kelvo"  # the other Kelvo's window on Qt's Wayland platform


class Desktop:
    """The panel's view of one desktop session: where things are and how to reach them."""

    name = "?"
    has_icon = True  # the desktop shows Kelvo's icon, so a click on it can be tried
    known_limits = set()  # checks counted and shown, but not failing the run
    bar_height = 48
    clock_width = 140  # the clock at the bar's right end, which changes by itself

    def __init__(self, session, edge):
        self.session, self.edge = session, edge
        self.item = None
        self.icon = None  # where the tray icon is, when known

    def start(self):
        raise NotImplementedError

    def bar_thickness(self):
        """How far the bar reaches in from its edge, as the desktop draws it."""
        raise NotImplementedError

    def start_kelvo(self):
        self.session.start_kelvo()
        self.item = wait_until("Kelvo's item with the watcher", self.session.kelvo_item, timeout=45)

    def run(self, args):
        return self.session.run(args).stdout

    def start_others(self):
        """Another X window and a Wayland window to click on, each at a known place."""
        s = self.session
        x, y, w, h = OTHER_X
        s.start("xmessage", ["xmessage", "-xrm", "*input: true", "-geometry", f"{w}x{h}+{x}+{y}", "another X window"])
        # Another Kelvo on Qt's Wayland platform, with no tray on its own bus: its panel is an ordinary window.
        other = s.path("other")
        os.makedirs(os.path.join(other, "run"), mode=0o700, exist_ok=True)
        s.chown(other)
        s.start("other-kelvo", ["dbus-run-session", "--", s.path("tools/kelvo")],
                {"DISPLAY": None, "QT_QPA_PLATFORM": "wayland", "XDG_CONFIG_HOME": other, "TMPDIR": other,
                 "DBUS_SESSION_BUS_ADDRESS": None})
        wait_until("the other X window", lambda: self.x_window("^xmessage$"))
        self.place_others()
        time.sleep(1)
        x, y, w, h = wait_until("the other X window in place", lambda: self.x_window("^xmessage$"))
        self.other_x_point = (x + w // 2, y + h // 3)
        x, y, w, h = self.wayland_window()
        self.other_wayland_point = (x + w // 2, y + h // 2)

    def x_window(self, name):
        found = self.run(["xdotool", "search", "--onlyvisible", "--name", name]).split()
        return self.geometry(found[0]) if found else None

    def geometry(self, window):
        info = self.run(["xwininfo", "-id", str(window)])
        numbers = dict(re.findall(r"^\s*(Absolute upper-left X|Absolute upper-left Y|Width|Height):\s+(-?\d+)",
                                  info, re.M))
        if len(numbers) < 4 or "Map State: IsViewable" not in info:
            return None
        return tuple(int(numbers[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))

    def panel(self):
        """The open panel's geometry and X window, or None."""
        for window in self.run(["xdotool", "search", "--onlyvisible", "--name", "^Kelvo$"]).split():
            rect = self.geometry(window)
            if rect:
                return rect, window
        return None

    def panel_picture(self, window):
        path = self.session.path("runtime/panel.rgb")
        self.run(["timeout", "5", "import", "-window", str(window), "rgb:" + path])
        try:
            with open(path, "rb") as picture:
                return picture.read()
        except OSError:
            return b""

    def activate(self, point):
        """What the tray host sends when the icon is clicked."""
        self.session.gdbus(self.item, "/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate", *point)

    def open_panel(self):
        if self.icon:
            self.session.click(*self.icon)
        else:
            self.activate(self.bar_point())
        return wait_until("the panel to open", self.panel, timeout=5)

    def bar_point(self):
        """Where a click on the icon would be, for a desktop that does not show it."""
        return (SCREEN[0] - 240, 12 if self.edge == "top" else SCREEN[1] - 12)

    def opened_within(self, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.panel():
                return True
            time.sleep(0.1)
        return False

    def closed_within(self, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if not self.panel():
                return True
            time.sleep(0.1)
        return False

    def locate_icon(self):
        """Finds Kelvo's icon in the bar (sets self.icon) and keeps it only if a click on it opens the panel."""
        bar = (SCREEN[0] // 2, 0 if self.edge == "top" else SCREEN[1] - self.bar_height,
               SCREEN[0] // 2 - self.clock_width, self.bar_height)
        self.icon = self.session.new_icon(bar)
        if not self.icon:
            log(f"{self.name} ({self.edge} bar): Kelvo's icon is not shown; the panel is opened as the host would")
            return
        self.session.click(*self.icon)
        if not self.opened_within(3):  # the panel takes a moment to map: judged before that, it "opens nothing"
            log(f"{self.name} ({self.edge} bar): a click at {self.icon} opens nothing")
            self.icon = None
        else:
            self.session.key("Escape")
            self.closed_within(1.5)
            time.sleep(0.5)

    def place_others(self):
        pass

    def wayland_window(self):
        """Where the other Kelvo's Wayland window is."""
        return OTHER_WAYLAND


class Plasma(Desktop):
    name = "plasma"

    def start(self):
        self.session.start_plasma(self.edge)

    def bar_thickness(self):
        out = self.session.gdbus("org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript",
                                 "print(panels()[0].height)")
        return int(re.search(r"(\d+)", out).group(1))

    def place_others(self):
        s = self.session
        wait_until("the Wayland window", lambda: f"window: Kelvo {WAYLAND_APP_ID}" in self.windows_report())
        x, y, w, h = OTHER_WAYLAND
        s.kwin_script(
            f"workspace.clientList().forEach(function (c) {{ if (c.resourceClass == '{WAYLAND_APP_ID}') "
            f"c.frameGeometry = {{x: {x}, y: {y}, width: {w}, height: {h}}}; }});")

    def windows_report(self):
        self.session.kwin_script("workspace.clientList().forEach(function (c) { "
                                 "print('window: ' + c.caption + ' ' + c.resourceClass); });")
        return self.session.read(self.session.log_path("kwin"))


class Sway(Desktop):
    name = "sway"
    bar_height = 40
    clock_width = 0  # the bars here have none

    bar = "swaybar"

    def start(self):
        self.session.start_sway(self.edge, self.bar)

    def bar_thickness(self):
        """What sway keeps for the bar: the output less the workspace."""
        output = json.loads(self.session.swaymsg("-t", "get_outputs", "-r"))[0]["rect"]
        workspace = next(w for w in json.loads(self.session.swaymsg("-t", "get_workspaces", "-r")) if w["visible"])
        return output["height"] - workspace["rect"]["height"]

    def place_others(self):
        s = self.session
        wait_until("the Wayland window", lambda: f'"{WAYLAND_APP_ID}"' in s.swaymsg("-t", "get_tree"))
        for criteria, (x, y, w, h) in ((f"[app_id={WAYLAND_APP_ID}]", OTHER_WAYLAND), ("[class=Xmessage]", OTHER_X)):
            for command in ("floating enable", f"resize set width {w} px height {h} px",
                            f"move absolute position {x} {y}"):
                s.swaymsg(f"{criteria} {command}")


class Gnome(Desktop):
    name = "gnome"
    has_icon = False  # a click on the icon opens the extension's menu; a double click is Activate
    # No window takes the focus on GNOME's bare desktop, and XWayland's pointer grab ends at its own windows.
    known_limits = {"a click on the bare desktop closes it"}

    def start(self):
        self.session.start_gnome()

    def start_kelvo(self):
        super().start_kelvo()
        # The icon is shown small first and takes its place in the bar a moment later: wait until it stays put.
        seen = []

        def settled_icon():
            seen.append(gnome_icon(self.session))
            steady = round(1 / POLL)  # the same for a second
            return seen[-1] if len(seen) >= steady and seen[-1] and seen[-steady:].count(seen[-1]) == steady else None

        self.double_click = wait_until("Kelvo's icon in the top bar", settled_icon)

    def open_panel(self):
        """A double click on the icon, as a user opens it: the extension sends Activate."""
        icon = self.double_click
        self.session.click(round(icon["x"] + icon["width"] / 2), round(icon["y"] + icon["height"] / 2), clicks=2)
        return wait_until("the panel to open", self.panel, timeout=5)

    def bar_thickness(self):
        return round(self.double_click["y"] + self.double_click["height"])

    def bar_point(self):
        icon = self.double_click
        return (round(icon["x"] + icon["width"] / 2), round(icon["y"] + icon["height"] / 2))

    def place_others(self):
        s = self.session
        wait_until("the Wayland window", lambda: s.gnome_eval(
            f"global.get_window_actors().some(a => a.meta_window.get_wm_class() == '{WAYLAND_APP_ID}')") == "true")
        for wm_class, (x, y, w, h) in ((WAYLAND_APP_ID, OTHER_WAYLAND), ("Xmessage", OTHER_X)):
            s.gnome_eval("global.get_window_actors().map(a => a.meta_window)"
                         f".filter(w => w.get_wm_class() == '{wm_class}')"
                         f".forEach(w => w.move_resize_frame(true, {x}, {y}, {w}, {h})); 'ok'")

    def wayland_window(self):
        rect = self.session.gnome_eval(
            "global.get_window_actors().map(a => a.meta_window)"
            f".filter(w => w.get_wm_class() == '{WAYLAND_APP_ID}')"
            ".map(w => { const r = w.get_frame_rect(); return [r.x, r.y, r.width, r.height].join(' '); })[0]")
        return tuple(int(v) for v in rect.split())


DESKTOPS = {"plasma": Plasma, "gnome": Gnome, "sway": Sway}


class Checks:
    def __init__(self, desktop):
        self.desktop = desktop
        self.counts = {}

    def count(self, what, passed):
        good, total = self.counts.get(what, (0, 0))
        self.counts[what] = (good + bool(passed), total + 1)
        if not passed and what not in self.desktop.known_limits:
            log(f"{self.desktop.name} ({self.desktop.edge} bar): try {total + 1}: not so: {what}")

    def report(self):
        failed = False
        for what, (good, total) in self.counts.items():
            limit = what in self.desktop.known_limits
            log(f"{self.desktop.name} ({self.desktop.edge} bar): {what}: {good} of {total}"
                + (" (a known limit)" if limit else ""))
            failed |= good != total and not limit
        return not failed

    def close_if_open(self):
        if self.desktop.panel():
            self.desktop.session.key("Escape")
            if not self.desktop.closed_within(1.5):
                self.desktop.activate(self.desktop.bar_point())  # a second activation closes it
                self.desktop.closed_within(1.5)
        time.sleep(0.4)  # a click right after closing does not reopen it

    def open(self):
        try:
            return self.desktop.open_panel()
        except CheckFailed:
            self.count("opens", False)
            return None

    def keep_shot(self, name):
        if not self.desktop.session.screenshot(name):
            log(f"{self.desktop.name}: no screenshot {name}")

    def run(self, tries):
        d = self.desktop
        thickness = d.bar_thickness()
        for attempt in range(tries):
            opened = self.open()
            if not opened:
                continue
            self.count("opens", True)
            time.sleep(1.5)
            still = d.panel()
            self.count("stays open 1.5 s", bool(still))
            if not still:
                continue
            rect, window = still
            self.count("inside the screen", rect[0] >= 0 and rect[1] >= 0 and rect[0] + rect[2] <= SCREEN[0]
                       and rect[1] + rect[3] <= SCREEN[1])
            icon = d.icon or d.bar_point()
            gap = rect[1] - icon[1] if d.edge == "top" else icon[1] - (rect[1] + rect[3])
            self.count("next to the icon, on the side away from the bar",
                       4 <= gap <= 60 and rect[0] - 40 <= icon[0] <= rect[0] + rect[2] + 40)
            bar = rect[1] - thickness if d.edge == "top" else SCREEN[1] - thickness - (rect[1] + rect[3])
            self.count("4 px from the bar", bar == 4)
            if bar != 4:
                log(f"{d.name} ({d.edge} bar): the panel {rect} is {bar} px from the bar ({thickness} px)")
            before = d.panel_picture(window)
            d.session.key("Tab")
            time.sleep(0.5)
            self.count("Tab moves the focus inside it", d.panel_picture(window) != before)
            if attempt == 0:  # after the keys: GNOME's screenshot takes the keyboard for a moment
                self.keep_shot("open")
                log(f"{d.name} ({d.edge} bar): panel at {rect}, icon at {d.icon}")
            d.session.key("Escape")
            self.count("Escape closes it", d.closed_within(1.5))
            self.close_if_open()

            for what, point in (("a click on an X window closes it", d.other_x_point),
                                ("a click on a Wayland window closes it", d.other_wayland_point),
                                ("a click on the bare desktop closes it", BARE)):
                if not self.open():
                    continue
                if attempt == 0 and what.startswith("a click on an X"):
                    self.keep_shot("before-click")
                d.session.click(*point)
                self.count(what, d.closed_within(1.5))
                self.close_if_open()
            if d.icon:
                if self.open():
                    time.sleep(0.6)  # past a double-click
                    d.session.click(*d.icon)
                    closed = d.closed_within(1.5)
                    time.sleep(0.6)
                    self.count("a click on the icon closes it (and does not reopen it)", closed and not d.panel())
                    self.close_if_open()
            opened = d.session.start_kelvo_again() and d.opened_within(5)
            self.count("a second start opens it", opened)
            if opened:
                time.sleep(1)
                d.session.key("Escape")
                self.count("... with the keyboard: Escape closes it", d.closed_within(1.5))
                self.close_if_open()


def check(name, edge, build_dir, tries, hold):
    """One desktop with its bar at `edge`: True when every check passed every time."""
    with Session(build_dir, name if edge == "top" else f"{name}-{edge}") as session:
        desktop = DESKTOPS[name](session, edge)
        desktop.start()
        desktop.start_kelvo()
        if hold:
            log(f"{name}: holding ({session.work}); Ctrl+C ends it")
            log(" ".join(f"{k}={v}" for k, v in session.environment(session.kelvo_env).items() if k != "PATH"))
            signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
            signal.sigwait({signal.SIGINT, signal.SIGTERM})
            return True
        desktop.start_others()
        if desktop.has_icon:
            time.sleep(2)
            desktop.locate_icon()
        checks = Checks(desktop)
        checks.run(tries)
        return checks.report()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build_dir")
    parser.add_argument("desktops", nargs="*")
    parser.add_argument("--tries", type=int, default=10)
    parser.add_argument("--edges", default="top,bottom")
    parser.add_argument("--hold", action="store_true")
    # Debian 12's waybar (0.9.17) reports a click on its tray as a point inside the icon, not on the screen, so
    # the panel cannot open next to it: swaybar, which reports the point on the screen, by default.
    parser.add_argument("--sway-bar", choices=("swaybar", "waybar"), default="swaybar")
    options = parser.parse_args()
    Sway.bar = options.sway_bar
    if os.geteuid() != 0:
        sys.exit("check_panel.py runs the compositors as a throwaway user: run it as root")
    names = [n for n in options.desktops or DESKTOPS if n in DESKTOPS]
    passed = failed = 0
    for name in names:
        for edge in options.edges.split(","):
            if name == "gnome" and edge == "bottom":
                continue  # GNOME's top bar does not move
            started = time.monotonic()
            try:
                ok = check(name, edge, options.build_dir, options.tries, options.hold)
            except (CheckFailed, OSError, subprocess.SubprocessError) as error:
                log(f"{name} ({edge} bar): did not run: {error}")
                ok = False
            passed += ok
            failed += not ok
            log(f"{'ok  ' if ok else 'FAIL'} panel on {name} ({edge} bar, {time.monotonic() - started:.0f} s)")
            if options.hold:
                return 0
    log(f"check-desktops: {passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
