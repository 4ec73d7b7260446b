#!/usr/bin/env python3
"""Kelvo end to end, as a person uses it.

Starts a virtual X display (Xvfb) with a system tray (trayer), the fake Sensibo cloud and maker's site of
kelvo-sim on 127.0.0.1, and the real Kelvo with an empty configuration. Then it drives Kelvo with the mouse and
keyboard (xdotool) and reads the screen (ImageMagick screenshots, tesseract OCR):

  1. the first start without an API key sends nothing to the cloud and the panel says so;
  2. the settings window takes a key and connects: "2 devices found";
  3. closed again, the tray icon's panel lists the devices;
  4. power on, one step up in temperature and a fan level reach the cloud as exactly those three changes;
  5. Quit from the panel ends Kelvo with status 0;
  6. started again, the key is still there, the devices load at once and the launch notice stays quiet;
  7. a right click on trayer's icon shows Kelvo's menu, and its "Quit Kelvo" ends Kelvo;
  8. a StatusNotifierItem host (status-notifier-watcher and gtk-sni-tray-standalone on a private D-Bus session
     bus) at the top, started 2 s after Kelvo: the item registers, the panel turns from a window into a popup,
     a click opens it, power off and on keep it on screen, a second click closes it; Kelvo's D-Bus menu, read
     with GetLayout, lists the modes, and Event(id, "clicked") on "Heat" sends exactly one PATCH; a right click
     shows that menu drawn by the host (with the Mode submenu), and its "Quit Kelvo" quits Kelvo;
  9. the same with the host at the bottom of the screen, started before Kelvo.
 10. with a window manager (openbox) and trayer at the bottom edge: the panel opens above the icon, 4 px from it
     and inside the screen, keeps that edge while it shrinks and grows, and closes on a click on the icon,
     Escape, a click elsewhere and another window taking the focus; a second start opens the running Kelvo's
     panel and leaves.
 11. with the accessibility bus (at-spi-bus-launcher on a private session bus, read with python3-pyatspi): the
     open panel is an active window named "Kelvo" under the application, listing its controls by name (the timer's
     among them), the temperature as a spin button with its value and range, the readings with their meaning, the
     room's last day as a chart with its summary, one control focused.

Usage: run_e2e.py BUILD_DIR   (BUILD_DIR holds kelvo and kelvo-sim; screenshots go to BUILD_DIR/e2e)

Standard library only. Every wait has a deadline; a failure names its step, and every process started here is
ended on the way out. The last line is "e2e: 1 passed, 0 failed" or "e2e: 0 passed, 1 failed".
"""

import ctypes
import ctypes.util
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass

STEP_TIMEOUT = 20.0  # the longest any one thing may take to show up
COMMAND_TIMEOUT = 15.0  # the longest one helper command (xdotool, import, convert, tesseract) may run
RUN_TIMEOUT = 600  # the whole run, whatever happens
POLL_INTERVAL = 0.25

SCREEN = (1280, 800)
DISPLAYS = range(91, 100)
API_KEY = "e2e-key-4711"
NOTICE = "Kelvo 1.1 is out with quieter refreshes."
PANEL_WIDTH = 300
SCREEN_TOP_BAR = 28  # trayer's height: the tray icon lives above it
PANEL_GAP = 4  # between the panel and the tray icon
CONTROL_MARGIN = 16  # the climate controls' right margin inside the panel
SWITCH_WIDTH = 36  # a toggle switch, focus margin included
STEPPER_LABEL_WIDTH = 44  # the temperature text's fixed box; the plus button follows 4 px after it
STEP_BUTTON_WIDTH = 24
FOOTER_MARGIN = 12  # the footer's margin; its icon buttons are about 24 px square

# ImageMagick treatments of a crop before OCR, tried in turn while polling: tesseract reads some texts better
# from the blocky, some from the smooth enlargement.
# Where the panel opens from a host's click point: inside the screen, next to the bar without covering the icon,
# its edge at the bar fixed while its height changes. A miss fails the run; with this off it is only reported as a
# note (and repeated in the summary).
STRICT_PLACEMENT = True
NEXT_TO_BAR = 40  # the most a panel may stand off its bar
# A session bus of its own for each StatusNotifierItem case, with no service activation: nothing but the host and
# Kelvo lives on it, and nothing outlives it.
# The accessibility bus and the Python that has python3-pyatspi (the Debian packages at-spi2-core, python3-pyatspi).
AT_SPI_BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
SYSTEM_PYTHON = "/usr/bin/python3"

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir={directory}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

OCR_VARIANTS = (("-scale", "300%", 3), ("-resize", "400%", 4), ("-resize", "300%", 3))


class StepFailed(Exception):
    pass


class Interrupted(Exception):
    pass


@dataclass
class Box:
    left: float
    top: float
    width: float
    height: float

    @property
    def right(self):
        return self.left + self.width

    @property
    def bottom(self):
        return self.top + self.height

    @property
    def cx(self):
        return self.left + self.width / 2

    @property
    def cy(self):
        return self.top + self.height / 2

    def union(self, other):
        left, top = min(self.left, other.left), min(self.top, other.top)
        return Box(left, top, max(self.right, other.right) - left, max(self.bottom, other.bottom) - top)

    def __str__(self):
        return f"{self.width:.0f}x{self.height:.0f}+{self.left:.0f}+{self.top:.0f}"


@dataclass
class Word(Box):
    text: str = ""
    norm: str = ""


def normalize(text):
    """What a word is compared by: lower case, letters, digits, degree and percent signs, and dots only."""
    text = text.lower().replace("¢", "c").replace("º", "°").replace("…", "...")
    return re.sub(r"[^0-9a-z°%.]", "", text)


def same_word(token, norm):
    """Whether a word read on screen is the expected one. Dots are left out of the comparison, except that a
    token ending in dots (a button's "Settings...") wants a word that ends in a dot too, unlike a plain
    "Settings" in a sentence."""
    if token.rstrip(".") != norm.strip("."):
        return False
    return not token.endswith(".") or norm.endswith(".")


def temperature_pattern(value):
    """OCR reads the stepper's "22°C" as "22°C", "22°c", "227¢" or "22": the number, then something like "°C"."""
    return re.compile(rf"^{value}[°7o]?c{{0,2}}°?$")


def find_phrase(words, phrase):
    """Where the words of `phrase` stand in a row, left to right (one stray word such as a misread "&" may sit
    between two of them), topmost first. A phrase may also be one compiled pattern for a single word."""
    if isinstance(phrase, re.Pattern):
        return sorted((w for w in words if phrase.match(w.norm.strip("."))), key=lambda w: (w.top, w.left))
    tokens = [normalize(t) for t in phrase.split()]
    tokens = [t for t in tokens if t.strip(".")]
    found = []
    for first in words:
        if not same_word(tokens[0], first.norm):
            continue
        box, last = Box(first.left, first.top, first.width, first.height), first
        for token in tokens[1:]:
            following = sorted(
                (
                    w
                    for w in words
                    if w is not last
                    and abs(w.cy - last.cy) < max(w.height, last.height) * 0.7
                    and w.left > last.left + last.width / 2
                    and w.left - last.right < 3 * last.height + 8
                ),
                key=lambda w: w.left,
            )
            match = next((w for w in following[:2] if same_word(token, w.norm)), None)
            if match is None:
                box = None
                break
            box, last = box.union(match), match
        if box is not None:
            found.append(box)
    return sorted(found, key=lambda b: (b.top, b.left))


def first(words, phrase):
    """The topmost place of `phrase`, or None."""
    found = find_phrase(words, phrase)
    return found[0] if found else None


def overlap(a, b):
    return not (a.right <= b.left or b.right <= a.left or a.bottom <= b.top or b.bottom <= a.top)


def in_row(box, label):
    """Whether `box` stands right of `label` in the same row."""
    return abs(box.cy - label.cy) < max(label.height, 10) * 1.2 and box.left > label.right


def display_in_use(number):
    """Whether an X server holds display `number`. A lock whose process is gone is stale: Xvfb replaces it."""
    lock = f"/tmp/.X{number}-lock"
    try:
        with open(lock) as f:
            pid = int(f.read().strip())
    except FileNotFoundError:
        return os.path.exists(f"/tmp/.X11-unix/X{number}")  # a socket without a lock: leave it alone
    except (OSError, ValueError):
        return True
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


class X11:
    """The two things xdotool cannot do, straight through libX11: ask who owns a selection, and ask a window to
    close the way a window manager's close button does (WM_DELETE_WINDOW)."""

    class _ClientMessageData(ctypes.Union):
        _fields_ = [("b", ctypes.c_char * 20), ("s", ctypes.c_short * 10), ("l", ctypes.c_long * 5)]

    class _ClientMessage(ctypes.Structure):
        pass

    class _Event(ctypes.Union):
        pass

    _ClientMessage._fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("window", ctypes.c_ulong),
        ("message_type", ctypes.c_ulong),
        ("format", ctypes.c_int),
        ("data", _ClientMessageData),
    ]
    _Event._fields_ = [("xclient", _ClientMessage), ("pad", ctypes.c_long * 24)]

    def __init__(self):
        name = ctypes.util.find_library("X11") or "libX11.so.6"
        lib = ctypes.CDLL(name)
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XGetSelectionOwner.restype = ctypes.c_ulong
        lib.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        lib.XFlush.argtypes = [ctypes.c_void_p]
        lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.lib = lib

    def _open(self, display):
        return self.lib.XOpenDisplay(display.encode())

    def can_open(self, display):
        handle = self._open(display)
        if handle:
            self.lib.XCloseDisplay(handle)
        return bool(handle)

    def selection_owner(self, display, selection):
        handle = self._open(display)
        if not handle:
            return 0
        try:
            return self.lib.XGetSelectionOwner(handle, self.lib.XInternAtom(handle, selection.encode(), 0))
        finally:
            self.lib.XCloseDisplay(handle)

    def request_close(self, display, window):
        handle = self._open(display)
        if not handle:
            raise StepFailed(f"cannot open display {display}")
        try:
            event = self._Event()
            event.xclient.type = 33  # ClientMessage
            event.xclient.window = window
            event.xclient.message_type = self.lib.XInternAtom(handle, b"WM_PROTOCOLS", 0)
            event.xclient.format = 32
            event.xclient.data.l[0] = self.lib.XInternAtom(handle, b"WM_DELETE_WINDOW", 0)
            event.xclient.data.l[1] = 0  # CurrentTime
            if not self.lib.XSendEvent(handle, window, 0, 0, ctypes.byref(event)):
                raise StepFailed(f"could not send WM_DELETE_WINDOW to window {window}")
            self.lib.XSync(handle, 0)
        finally:
            self.lib.XCloseDisplay(handle)


class E2E:
    def __init__(self, build_dir):
        self.build_dir = os.path.abspath(build_dir)
        self.kelvo = os.path.join(self.build_dir, "kelvo")
        self.sim = os.path.join(self.build_dir, "kelvo-sim")
        self.shots = os.path.join(self.build_dir, "e2e")
        self.work = tempfile.mkdtemp(prefix="kelvo-e2e-")
        self.config_home = os.path.join(self.work, "config")
        self.request_log = os.path.join(self.work, "requests.jsonl")
        self.processes = []  # (name, Popen), in the order started
        self.display = None
        self.x11 = X11()
        self.step = "setting up"
        self.shot_count = 0
        self.last_ocr = ""
        self.kelvo_process = None
        self.kelvo_output = None
        self.kelvo_may_exit = False
        self.tray_edge = "top"
        self.notes = []  # placement misses while STRICT_PLACEMENT is off

    # --- plumbing -------------------------------------------------------------------------------------------

    def log(self, text):
        print(f"e2e: {text}", flush=True)

    def fail(self, message):
        raise StepFailed(message)

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def command(self, args, check=True, timeout=COMMAND_TIMEOUT):
        try:
            result = subprocess.run(
                args, env=self.env(), capture_output=True, text=True, timeout=timeout, check=False
            )
        except subprocess.TimeoutExpired:
            self.fail(f"`{' '.join(args)}` did not finish within {timeout:.0f} s")
        if check and result.returncode != 0:
            self.fail(f"`{' '.join(args)}` failed ({result.returncode}): {result.stderr.strip()}")
        return result

    def start(self, name, args, env, stdout_path):
        with open(stdout_path, "wb") as out, open(stdout_path + ".err", "wb") as err:
            process = subprocess.Popen(args, env=env, stdout=out, stderr=err, stdin=subprocess.DEVNULL)
        process.stderr_path = stdout_path + ".err"
        self.processes.append((name, process))
        return process

    def stop(self, name, process):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    print(f"e2e: warning: {name} (pid {process.pid}) did not end", file=sys.stderr)

    def cleanup(self):
        for name, process in reversed(self.processes):
            self.stop(name, process)
        self.processes.clear()
        try:
            for name in sorted(os.listdir(self.work)) if os.path.isdir(self.shots) else []:
                path = os.path.join(self.work, name)
                if os.path.isfile(path) and (name.endswith((".out", ".err", ".jsonl"))):
                    shutil.copy(path, os.path.join(self.shots, name))
            prefs = os.path.join(self.config_home, "kelvo", "preferences.json")
            if os.path.isfile(prefs):
                shutil.copy(prefs, os.path.join(self.shots, "preferences.json"))
        except OSError as error:
            print(f"e2e: warning: could not keep the logs: {error}", file=sys.stderr)
        shutil.rmtree(self.work, ignore_errors=True)

    def ensure_running(self):
        """A process that ends while we wait for it to show something will never show it."""
        for name, process in self.processes:
            if process is self.kelvo_process and self.kelvo_may_exit:
                continue
            code = process.poll()
            if code is not None:
                tail = self.read_text(process.stderr_path)[-800:].strip()
                self.fail(f"{name} ended unexpectedly with status {code}" + (f"; stderr: {tail}" if tail else ""))

    def wait_until(self, what, probe, timeout=STEP_TIMEOUT):
        """Polls `probe` until it returns something true, and returns that; fails after `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while True:
            self.ensure_running()
            result = probe()
            if result:
                return result
            if time.monotonic() > deadline:
                self.fail(f"timed out after {timeout:.0f} s waiting for {what}")
            time.sleep(POLL_INTERVAL)

    def read_text(self, path):
        try:
            with open(path, errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    # --- the fake cloud's request log -----------------------------------------------------------------------

    def requests(self, server=None):
        found = []
        for line in self.read_text(self.request_log).splitlines():
            if not line.strip():
                continue
            try:
                entry = json.loads(line)
            except json.JSONDecodeError:
                continue  # a line still being written
            if server is None or entry.get("server") == server:
                found.append(entry)
        return found

    def device_list_requests(self, since=0):
        return [
            r
            for r in self.requests("cloud")[since:]
            if r["method"] == "GET" and r["target"].split("?")[0] == "/api/v2/users/me/pods"
        ]

    def patches(self):
        return [r for r in self.requests("cloud") if r["method"] == "PATCH"]

    @staticmethod
    def query_value(target, name):
        from urllib.parse import parse_qs, urlsplit

        values = parse_qs(urlsplit(target).query).get(name)
        return values[0] if values else None

    # --- the screen -----------------------------------------------------------------------------------------

    def grab(self):
        path = os.path.join(self.work, "screen.png")
        self.command(["import", "-window", "root", path])
        return path

    def keep_shot(self, screen_png, name):
        self.shot_count += 1
        target = os.path.join(self.shots, f"{self.shot_count:02d}-{name}.png")
        shutil.copy(screen_png, target)
        return target

    def last_screen(self):
        """The screen as the failure left it, for a person to look at."""
        if self.display is None:
            return
        try:
            print(f"e2e: the screen at the failure: {self.keep_shot(self.grab(), 'at-failure')}", flush=True)
        except (StepFailed, OSError) as error:
            print(f"e2e: no screenshot of the failure: {error}", flush=True)

    def ocr(self, screen_png, region, variant, psm="11"):
        """The words tesseract reads in `region` of the screenshot, in screen coordinates. Page segmentation 11
        (sparse text) reads a window's scattered labels; a single line, such as a tooltip, wants 7."""
        option, amount, factor = variant
        crop = os.path.join(self.work, "crop.png")
        self.command(
            [
                "convert",
                screen_png,
                "-crop",
                f"{int(region.width)}x{int(region.height)}+{int(region.left)}+{int(region.top)}",
                "+repage",
                option,
                amount,
                crop,
            ]
        )
        result = self.command(["tesseract", crop, "-", "--psm", psm, "tsv"])
        words = []
        for line in result.stdout.splitlines()[1:]:
            cells = line.split("\t")
            if len(cells) < 12 or not cells[11].strip():
                continue
            left, top, width, height = (float(c) / factor for c in cells[6:10])
            text = cells[11].strip()
            words.append(
                Word(region.left + left, region.top + top, width, height, text=text, norm=normalize(text))
            )
        self.last_ocr = " ".join(w.text for w in words)
        return words

    def see(self, what, region, probe, shot, timeout=STEP_TIMEOUT, keep_failure=True, psm="11"):
        """Screenshots and reads `region()` until `probe(words)` finds what it looks for; keeps the screenshot
        that showed it as `shot`. On failure keeps the last screenshot and says what was read."""
        deadline = time.monotonic() + timeout
        attempt = 0
        while True:
            self.ensure_running()
            screen = self.grab()
            area = region()
            if area is not None:
                result = probe(self.ocr(screen, area, OCR_VARIANTS[attempt % len(OCR_VARIANTS)], psm))
                if result:
                    if shot:
                        self.keep_shot(screen, shot)
                    return result
            attempt += 1
            if time.monotonic() > deadline:
                kept = self.keep_shot(screen, f"{shot or 'screen'}-FAILED") if keep_failure else "not kept"
                where = f"in {area}" if area is not None else "(its window was not on screen)"
                self.fail(
                    f"{what} not seen on screen {where} within {timeout:.0f} s; "
                    f"last read: {self.last_ocr!r}; screenshot {kept}"
                )
            time.sleep(POLL_INTERVAL)

    def click(self, x, y):
        self.command(["xdotool", "mousemove", str(round(x)), str(round(y)), "click", "1"])

    def hover(self, x, y):
        self.command(["xdotool", "mousemove", str(round(x)), str(round(y))])

    # --- windows --------------------------------------------------------------------------------------------

    def windows(self, *search):
        result = self.command(["xdotool", "search", "--onlyvisible", *search], check=False)
        found = []
        for line in result.stdout.split():
            geometry = self.command(["xdotool", "getwindowgeometry", "--shell", line], check=False)
            if geometry.returncode != 0:
                continue  # gone meanwhile
            values = dict(item.split("=", 1) for item in geometry.stdout.split() if "=" in item)
            try:
                box = Box(int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))
            except (KeyError, ValueError):
                continue
            found.append((int(line), box))
        return found

    def kelvo_windows(self):
        """Kelvo's visible windows: the tray icon, the panel, the settings window, a menu or a tooltip. (A Qt menu
        has no WM_NAME, so it is found by its class.)"""
        return self.windows("--class", "kelvo")

    def panel(self):
        """The panel: Kelvo's widest visible window titled "Kelvo" (the tray icon has that title too)."""
        candidates = [box for _, box in self.windows("--name", "^Kelvo$") if box.width >= PANEL_WIDTH - 20]
        return max(candidates, key=lambda b: b.width * b.height) if candidates else None

    def popups(self):
        """Kelvo's small windows over the panel: an open menu, a tooltip."""
        panel, settings = self.panel(), self.settings_window()
        return [
            box
            for window, box in self.kelvo_windows()
            if box != panel and (settings is None or window != settings[0]) and not self.in_tray_bar(box)
        ]

    def settings_window(self):
        found = self.windows("--name", "^Kelvo Settings$")
        return found[0] if found else None

    def in_tray_bar(self, box):
        if self.tray_edge == "top":
            return box.top <= SCREEN_TOP_BAR
        return box.top >= SCREEN[1] - SCREEN_TOP_BAR

    def tray(self):
        """trayer's panel, once Kelvo's icon is embedded in it: (trayer's box, the icon's box)."""
        trays = [box for _, box in self.windows("--class", "trayer") if box.height >= 20 and self.in_tray_bar(box)]
        if not trays:
            return None
        tray = max(trays, key=lambda b: b.width)
        for _, icon in self.windows("--class", "kelvo"):
            if tray.left <= icon.cx <= tray.right and tray.top <= icon.cy <= tray.bottom:
                return tray, icon
        return None

    def click_tray_icon(self):
        tray, _ = self.wait_until("Kelvo's icon in trayer's system tray", self.tray)
        # The icon sits at the right end of trayer's panel.
        self.click(tray.right - 12, tray.cy)

    def open_panel(self):
        self.click_tray_icon()
        panel = self.wait_until("the panel to open after a click on the tray icon", self.panel)
        # Off the tray icon, so that no tooltip of the icon covers the panel.
        self.hover(panel.cx, panel.bottom - 4)
        return panel

    # --- the processes --------------------------------------------------------------------------------------

    def start_display(self):
        for number in DISPLAYS:
            if display_in_use(number):
                continue
            display = f":{number}"
            out = os.path.join(self.work, f"xvfb{number}.out")
            process = self.start(
                "Xvfb",
                ["Xvfb", display, "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp", "-noreset"],
                dict(os.environ),
                out,
            )
            deadline = time.monotonic() + STEP_TIMEOUT
            while process.poll() is None and time.monotonic() < deadline:
                if os.path.exists(f"/tmp/.X11-unix/X{number}") and self.x11.can_open(display):
                    self.display = display
                    return
                time.sleep(POLL_INTERVAL)
            # Taken meanwhile by someone else, or too slow: the next number.
            self.stop("Xvfb", process)
            self.processes.remove(("Xvfb", process))
        self.fail(f"no free X display among :{DISPLAYS.start}..:{DISPLAYS.stop - 1} that Xvfb could start on")

    def start_tray(self):
        self.start(
            "trayer",
            ["trayer", "--edge", self.tray_edge, "--align", "right", "--widthtype", "request", "--height", "28"],
            self.env(),
            os.path.join(self.work, "trayer.out"),
        )
        # Kelvo asks once, at start, whether there is a system tray.
        self.wait_until(
            "trayer to own the system tray selection",
            lambda: self.x11.selection_owner(self.display, "_NET_SYSTEM_TRAY_S0"),
        )
        self.wait_until(
            "trayer's panel on screen",
            lambda: [b for _, b in self.windows("--class", "trayer") if b.height >= 20],
        )

    def start_sim(self):
        out = os.path.join(self.work, "kelvo-sim.out")
        process = self.start(
            "kelvo-sim",
            [
                self.sim,
                "--scenario", "e2e",
                "--port", "0",
                "--site-port", "0",
                "--key", API_KEY,
                "--notice", NOTICE,
                "--log-requests", self.request_log,
            ],
            dict(os.environ),
            out,
        )

        def addresses():
            text = self.read_text(out)
            cloud = re.search(r"Sensibo demo cloud at (http://127\.0\.0\.1:\d+/api/v2)", text)
            site = re.search(r"maker's site at (http://127\.0\.0\.1:\d+)", text)
            return (cloud.group(1), site.group(1)) if cloud and site else None

        self.cloud_url, self.site_url = self.wait_until("kelvo-sim to print where it listens", addresses)

    def start_kelvo(self, run, bus=None):
        out = os.path.join(self.work, f"kelvo-run{run}.out")
        process = self.start(f"kelvo (run {run})", [self.kelvo], self.kelvo_env(bus), out)
        self.kelvo_process, self.kelvo_output, self.kelvo_may_exit = process, out, False
        return process

    def kelvo_env(self, bus=None):
        env = self.env()
        for name in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORMTHEME"):
            env.pop(name, None)
        if bus:
            env.update({"DBUS_SESSION_BUS_ADDRESS": bus, "NO_AT_BRIDGE": "1"})
        runtime = os.path.join(self.work, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env.update(
            {
                "XDG_CONFIG_HOME": self.config_home,
                "XDG_RUNTIME_DIR": runtime,
                # Kelvo's one-instance socket lives in the temporary directory: this run's own, so that a Kelvo
                # the person running the tests has open is not the one that answers.
                "TMPDIR": self.work,
                "KELVO_SENSIBO_API_URL": self.cloud_url,
                "KELVO_SITE_URL": self.site_url,
            }
        )
        return env

    def wait_for_output(self, line, what):
        self.wait_until(what, lambda: line in self.read_text(self.kelvo_output).splitlines())

    # --- the steps ------------------------------------------------------------------------------------------

    def step1_first_start(self):
        self.start_kelvo(1)
        self.wait_for_output(
            "[Update] Suppressed (first launch)", 'Kelvo\'s first launch check of the notice ("[Update] Suppressed")'
        )
        panel = self.open_panel()
        self.see(
            '"No API Key Configured"',
            self.panel,
            lambda words: find_phrase(words, "No API Key Configured") and find_phrase(words, "Open Settings..."),
            "no-key-panel",
        )
        cloud = self.requests("cloud")
        if cloud:
            self.fail(f"without a key nothing may reach the cloud, but it received: {cloud}")
        if not self.requests("site"):
            self.fail("the first launch did not ask the maker's site for the notice")
        return panel

    def step2_settings(self):
        button = self.see('"Open Settings..." in the panel', self.panel, lambda w: first(w, "Open Settings..."), None)
        self.click(button.cx, button.cy)
        self.wait_until("the panel to close", lambda: self.panel() is None)
        _, window = self.wait_until('the settings window ("Kelvo Settings")', self.settings_window)
        if (window.width, window.height) != (450, 680):
            self.fail(f"the settings window is {window}, not 450x680")

        def region():
            # The "Sensibo API" section at the top of the window: the key, Save & Connect and its outcome.
            found = self.settings_window()
            return Box(found[1].left, found[1].top, found[1].width, 220) if found else None

        # The key field lies between the section title "Sensibo API" and the help text; it has the focus when the
        # window opens (its text cursor covers the placeholder's first letter, so OCR cannot go by "API Key").
        def field_area(words):
            title, help_text = first(words, "Sensibo API"), first(words, "To generate")
            if not title or not help_text or help_text.top - title.bottom < 20:
                return None
            return Box(title.left + 8, title.bottom + 6, 360, help_text.top - title.bottom - 14)

        field = self.see('the API key field under "Sensibo API"', region, field_area, "settings-empty")
        self.command(["xdotool", "type", "--delay", "40", API_KEY])

        # The field alone: OCR loses its text among the window's other lines and the field's focus frame.
        inside = field
        self.see(f'the typed key "{API_KEY}" in the field', lambda: inside, lambda w: find_phrase(w, API_KEY), None)
        save = self.see(
            '"Save & Connect" (enabled by the key)', region, lambda w: first(w, "Save & Connect"), "settings-key-typed"
        )
        if self.requests("cloud"):
            self.fail(f"typing the key sent something before Save & Connect: {self.requests('cloud')}")
        self.click(save.cx, save.cy)
        self.see('"2 devices found"', region, lambda w: find_phrase(w, "2 devices found"), "settings-devices-found")
        lists = self.device_list_requests()
        if not lists or any(self.query_value(r["target"], "apiKey") != API_KEY for r in lists):
            self.fail(f"the device list was not asked for with the typed key: {lists}")
        stored = self.preferences().get("sensiboAPIKey")
        if stored != API_KEY:
            self.fail(f"Save & Connect did not store the key: preferences.json has {stored!r}")

    def preferences(self):
        path = os.path.join(self.config_home, "kelvo", "preferences.json")
        try:
            with open(path) as f:
                return json.load(f)
        except (OSError, json.JSONDecodeError):
            return {}

    def step3_panel_lists_devices(self):
        # No window manager draws a close button here: the request it would send on a click goes straight out.
        window, _ = self.wait_until("the settings window", self.settings_window)
        self.x11.request_close(self.display, window)
        self.wait_until("the settings window to close", lambda: self.settings_window() is None)
        self.open_panel()
        self.check_next_to_icon("at the top edge")
        self.see(
            'the devices ("Living Room" and its "Power" row)',
            self.panel,
            lambda words: find_phrase(words, "Living Room") and find_phrase(words, "Power"),
            "panel-devices",
        )

    def step4_controls(self):
        # Power: the switch at the right end of the "Power" row.
        power = self.see('the "Power" row', self.panel, lambda w: first(w, "Power"), None)
        panel = self.panel()
        self.click(panel.right - CONTROL_MARGIN - SWITCH_WIDTH / 2, power.cy)
        self.wait_until("the cloud to receive the power change", lambda: len(self.patches()) >= 1)

        # Temperature: the plus button right of "22°C", in the "Temp" row that power on shows.
        def temperature(words, value):
            temp = first(words, "Temp")
            if not temp:
                return None
            values = [b for b in find_phrase(words, temperature_pattern(value)) if in_row(b, temp)]
            return values[0] if values else None

        value = self.see('"22°C" in the Temp row', self.panel, lambda w: temperature(w, 22), "power-on")
        plus_x = value.cx + STEPPER_LABEL_WIDTH / 2 + 4 + STEP_BUTTON_WIDTH / 2
        if plus_x > self.panel().right - CONTROL_MARGIN:
            self.fail(f"the plus button would be outside the panel (x {plus_x:.0f}, panel {self.panel()})")
        self.click(plus_x, value.cy)
        self.wait_until("the cloud to receive the temperature change", lambda: len(self.patches()) >= 2)
        self.see('"23°C" in the Temp row', self.panel, lambda w: temperature(w, 23), "temperature-23")

        # Fan: the menu of the Fan row's control, then "High" in it.
        def fan_value(words, name):
            fan = first(words, "Fan")
            if not fan:
                return None
            values = [b for b in find_phrase(words, name) if in_row(b, fan)]
            return values[0] if values else None

        auto = self.see('"Auto" in the Fan row', self.panel, lambda w: fan_value(w, "Auto"), None)
        self.click(auto.cx, auto.cy)

        def menu():
            menus = [box for box in self.popups() if box.top >= auto.top - 150]
            return max(menus, key=lambda b: b.height) if menus else None

        self.wait_until("the fan level menu to open", menu)
        high = self.see(
            '"High" in the fan level menu',
            menu,
            lambda w: find_phrase(w, "Low") and first(w, "High"),
            "fan-menu",
        )
        self.click(high.cx, high.cy)
        self.wait_until("the fan level menu to close", lambda: menu() is None)
        self.wait_until("the cloud to receive the fan level change", lambda: len(self.patches()) >= 3)
        self.see('"High" in the Fan row', self.panel, lambda w: fan_value(w, "High"), "fan-high")
        self.check_patches()

    def check_patches(self):
        expected = [
            ("/api/v2/pods/abc123/acStates/on", {"newValue": True}),
            ("/api/v2/pods/abc123/acStates/targetTemperature", {"newValue": 23}),
            ("/api/v2/pods/abc123/acStates/fanLevel", {"newValue": "high"}),
        ]
        patches = self.patches()
        seen = []
        for request in patches:
            try:
                body = json.loads(request["body"])
            except json.JSONDecodeError:
                body = request["body"]
            seen.append((request["target"].split("?")[0], body))
        # Compared as JSON text, so that true and 1 (or 23 and 23.0) differ as they do on the wire.
        canonical = lambda pairs: [(path, json.dumps(body, sort_keys=True)) for path, body in pairs]
        if canonical(seen) != canonical(expected):
            self.fail(f"the cloud received the state changes {seen}, expected exactly {expected}")
        keys = {self.query_value(r["target"], "apiKey") for r in patches}
        if keys != {API_KEY}:
            self.fail(f"the state changes carried the API keys {keys}, expected {API_KEY!r}")

    def quit_from_panel(self, shot):
        panel = self.panel()
        if panel is None:
            panel = self.open_panel()
        # The footer's rightmost icon button, at the panel's bottom right corner.
        x = panel.right - FOOTER_MARGIN - 12
        y = panel.bottom - FOOTER_MARGIN - 12

        def tooltip():
            # The tooltip's own window, a little enlarged: OCR reads it badly with the dark screen around it.
            tips = [box for box in self.popups() if box.width < 200 and box.height < 60]
            if not tips:
                return None
            tip = tips[0]
            return Box(max(0, tip.left - 4), max(0, tip.top - 4), tip.width + 8, tip.height + 8)

        deadline = time.monotonic() + STEP_TIMEOUT
        nudge = 0
        while True:
            # A tooltip comes when the pointer enters the button and rests there.
            self.hover(panel.left + 20, y)  # the footer's empty left end
            self.hover(x + nudge, y)
            try:
                last_try = time.monotonic() + 5 > deadline
                self.see(
                    'the tooltip "Quit Kelvo"',
                    tooltip,
                    lambda w: find_phrase(w, "Quit Kelvo"),
                    shot,
                    timeout=5,
                    keep_failure=last_try,
                    psm="7",
                )
                break
            except StepFailed:
                if last_try:
                    raise
                nudge = 1 - nudge
        self.click_to_quit(x + nudge, y, "Quit")

    def click_to_quit(self, x, y, what):
        """Clicks `what` at (x, y); Kelvo must end with status 0."""
        self.kelvo_may_exit = True
        self.click(x, y)
        try:
            code = self.kelvo_process.wait(timeout=STEP_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.fail(f"Kelvo did not end within {STEP_TIMEOUT:.0f} s of a click on {what}")
        if code != 0:
            self.fail(f"Kelvo ended with status {code} after {what}, not 0")
        self.processes = [(n, p) for n, p in self.processes if p is not self.kelvo_process]

    def step5_quit(self):
        self.quit_from_panel("quit-tooltip")
        output = self.read_text(self.kelvo_output).splitlines()
        if "[Update] Suppressed (first launch)" not in output:
            self.fail(f'the first run did not print "[Update] Suppressed (first launch)"; it printed {output}')

    def step6_second_start(self):
        before = len(self.requests("cloud"))
        started = time.monotonic()
        self.start_kelvo(2)
        lists = self.wait_until("the device list request on launch", lambda: self.device_list_requests(before))
        if any(self.query_value(r["target"], "apiKey") != API_KEY for r in lists):
            self.fail(f"the second start asked for the devices without the stored key: {lists}")
        self.log(f"   the device list was asked for {time.monotonic() - started:.1f} s after the start")
        self.wait_for_output("[Update] No change, cleared alert", 'the second launch\'s notice check ("No change")')
        output = self.read_text(self.kelvo_output).splitlines()
        for line in ("[Update] Changed: false", "[Update] No change, cleared alert"):
            if line not in output:
                self.fail(f"the second run did not print {line!r}; it printed {output}")
        for line in ("[Update] Suppressed (first launch)", "[Update] Showing update alert", "[Update] Changed: true"):
            if line in output:
                self.fail(f"the second run printed {line!r}: the first launch's notice came back")
        self.open_panel()

        def shows_devices(words):
            temp = first(words, "Temp")
            fan = first(words, "Fan")
            return (
                find_phrase(words, "Living Room")
                and temp
                and any(in_row(b, temp) for b in find_phrase(words, temperature_pattern(23)))
                and fan
                and any(in_row(b, fan) for b in find_phrase(words, "High"))
            )

        self.see('the devices as left ("Living Room", 23°C, High)', self.panel, shows_devices, "second-start-panel")
        words = self.ocr(self.grab(), self.panel(), OCR_VARIANTS[0])
        if find_phrase(words, "Update available"):
            self.fail('the panel shows "Update available" on the second start')
        if self.preferences().get("sensiboAPIKey") != API_KEY:
            self.fail("preferences.json no longer holds the key")
        self.quit_from_panel("second-quit-tooltip")
        self.check_patches()  # and still no other state change

    # --- the tray menu and StatusNotifierItem hosts ---------------------------------------------------------

    def stop_named(self, prefix):
        for name, process in list(self.processes):
            if name.startswith(prefix):
                self.stop(name, process)
                self.processes.remove((name, process))

    def menu(self):
        """Kelvo's tray menu: a window of Kelvo's that is neither the panel nor a tooltip."""
        panel = self.panel()
        boxes = [box for _, box in self.kelvo_windows()
                 if 60 <= box.width < PANEL_WIDTH + 100 and box.height >= 80 and box != panel]
        return boxes[0] if boxes else None

    def host_menus(self):
        """The menus the StatusNotifierItem host draws itself from Kelvo's D-Bus menu, leftmost first."""
        bar = self.sni_bar()
        boxes = [box for _, box in self.windows("--class", "gtk-sni-tray") if box.height >= 40 and box != bar]
        return sorted(boxes, key=lambda b: b.left)

    def host_menu(self):
        menus = self.host_menus()
        return menus[0] if menus else None

    def quit_from_menu(self, shot, region=None):
        """Reads the open menu, then quits Kelvo with its "Quit Kelvo"."""
        region = region or self.menu
        self.wait_until("Kelvo's menu to open", region)

        def entries(words):
            found = [first(words, name) for name in ("Open Kelvo", "Settings...", "Quit Kelvo")]
            in_order = all(found) and found[0].top < found[1].top < found[2].top
            return found[2] if in_order else None

        quit_entry = self.see('"Open Kelvo", "Settings..." and "Quit Kelvo" in the menu', region, entries, shot)
        self.click_to_quit(quit_entry.cx, quit_entry.cy, '"Quit Kelvo"')

    def step7_xembed_menu(self):
        self.start_kelvo(3)
        _, icon = self.wait_until("Kelvo's icon in trayer's system tray", self.tray)
        self.command(["xdotool", "mousemove", str(round(icon.cx)), str(round(icon.cy)), "click", "3"])
        self.quit_from_menu("xembed-menu")

    def start_bus(self, case):
        directory = os.path.join(self.work, f"bus-{case}")
        os.makedirs(directory, mode=0o700, exist_ok=True)
        config = os.path.join(directory, "session.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(directory=directory))
        out = os.path.join(self.work, f"dbus-{case}.out")
        self.start(
            f"dbus-daemon ({case})",
            ["dbus-daemon", f"--config-file={config}", "--nofork", "--print-address=1"],
            dict(os.environ),
            out,
        )
        return self.wait_until(
            "the session bus to say where it listens", lambda: (self.read_text(out).splitlines() or [""])[0].strip()
        )

    def start_sni_host(self, case, bus, edge):
        env = self.env()
        env.update({"DBUS_SESSION_BUS_ADDRESS": bus, "NO_AT_BRIDGE": "1"})
        self.start(f"sni-watcher ({case})", ["status-notifier-watcher"], env, os.path.join(self.work, f"watcher-{case}.out"))
        has_watcher = lambda: "boolean true" in self.bus_call(
            bus, "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
            "string:org.kde.StatusNotifierWatcher",
        )
        self.wait_until("status-notifier-watcher on the bus", has_watcher)
        self.start(
            f"sni-host ({case})",
            ["gtk-sni-tray-standalone", f"--{edge}"],
            env,
            os.path.join(self.work, f"sni-host-{case}.out"),
        )

    def bus_call(self, bus, *args):
        env = self.env()
        env["DBUS_SESSION_BUS_ADDRESS"] = bus
        try:
            result = subprocess.run(
                ["dbus-send", "--session", "--print-reply", *args],
                env=env, capture_output=True, text=True, timeout=COMMAND_TIMEOUT, check=False,
            )
        except subprocess.TimeoutExpired:
            return ""
        return result.stdout if result.returncode == 0 else ""

    def registered_item(self, bus):
        """The bus name Kelvo's item is registered with the watcher under, or None."""
        reply = self.bus_call(
            bus, "--dest=org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
            "string:org.kde.StatusNotifierWatcher", "string:RegisteredStatusNotifierItems",
        )
        found = re.search(rf'"(org\.kde\.StatusNotifierItem-{self.kelvo_process.pid}-\d+)', reply)
        return found.group(1) if found else None

    def sni_bar(self):
        bars = [box for _, box in self.windows("--name", "^gtk-sni-tray-standalone$") if box.height >= 20]
        return max(bars, key=lambda b: b.width) if bars else None

    def sni_icon(self):
        """Kelvo's icon in the host's bar: what differs from the bar's background there."""
        bar = self.sni_bar()
        if bar is None:
            return None
        screen = self.grab()
        trimmed = self.command(
            ["convert", screen, "-crop", f"{int(bar.width)}x{int(bar.height)}+{int(bar.left)}+{int(bar.top)}",
             "+repage", "-trim", "-format", "%@", "info:"],
            check=False,
        ).stdout.strip()
        found = re.match(r"(\d+)x(\d+)\+(\d+)\+(\d+)", trimmed)
        if not found:
            return None
        width, height, left, top = (int(v) for v in found.groups())
        if width < 8 or height < 8 or width > 64:
            return None  # nothing drawn yet, or not an icon
        return bar, Box(bar.left + left, bar.top + top, width, height)

    def placement_miss(self, message):
        if STRICT_PLACEMENT:
            self.fail(message)
        self.log(f"   note: {message}")
        self.notes.append(message)

    def check_placement(self, panel, bar, icon, edge, what):
        outside = panel.left < 0 or panel.top < 0 or panel.right > SCREEN[0] or panel.bottom > SCREEN[1]
        covers = overlap(panel, icon)
        gap = panel.top - bar.bottom if edge == "top" else bar.top - panel.bottom
        problems = ([f"reaches outside the {SCREEN[0]}x{SCREEN[1]} screen"] if outside else []) + ([f"covers the icon {icon}"] if covers else []) + (
            [f"stands {gap:.0f} px from the bar {bar}"] if not 0 <= gap <= NEXT_TO_BAR else []
        )
        if problems:
            self.placement_miss(f"{what}: the panel {panel} " + ", ".join(problems))

    def toggle_power(self, bar, icon, edge, shot):
        """Power off or on with the panel open: it changes height and must stay on screen at its bar."""
        before = self.panel()
        power = self.see('the "Power" row', self.panel, lambda w: first(w, "Power"), None)
        patches = len(self.patches())
        self.click(before.right - CONTROL_MARGIN - SWITCH_WIDTH / 2, power.cy)
        self.wait_until("the cloud to receive the power change", lambda: len(self.patches()) > patches)
        after = self.wait_until(
            "the panel to change its height", lambda: (lambda p: p if p and p.height != before.height else None)(self.panel())
        )
        self.keep_shot(self.grab(), shot)
        self.check_placement(after, bar, icon, edge, f"after {shot}")
        nearest = (after.top, before.top) if edge == "top" else (after.bottom, before.bottom)
        if nearest[0] != nearest[1]:
            self.placement_miss(f"after {shot}: the panel's edge at the bar moved from {nearest[1]:.0f} to {nearest[0]:.0f}")

    def sni_case(self, edge, kelvo_first, run):
        self.stop_named("trayer")
        bus = self.start_bus(edge)
        if kelvo_first:
            self.start_kelvo(run, bus)
            self.wait_until("the panel as a window while there is no tray", self.panel)
            time.sleep(2)
            self.keep_shot(self.grab(), f"sni-{edge}-before-host")
            self.start_sni_host(edge, bus, edge)
        else:
            self.start_sni_host(edge, bus, edge)
            self.wait_until("the host's bar on screen", self.sni_bar)
            self.start_kelvo(run, bus)
        item = self.wait_until("Kelvo's item registered with the watcher", lambda: self.registered_item(bus))
        self.log(f"   registered as {item}")
        self.wait_until("no panel on screen (a popup now, closed)", lambda: self.panel() is None)
        bar, icon = self.wait_until("Kelvo's icon in the host's bar", self.sni_icon)
        self.keep_shot(self.grab(), f"sni-{edge}-icon")

        self.click(icon.cx, icon.cy)
        panel = self.wait_until("the panel to open after a click on the icon", self.panel)
        self.hover(panel.cx, panel.cy)
        self.see("the devices", self.panel, lambda w: find_phrase(w, "Living Room") and first(w, "Power"), f"sni-{edge}-open")
        self.check_placement(self.panel(), bar, icon, edge, f"{edge} bar, opened")
        self.toggle_power(bar, icon, edge, f"sni-{edge}-power-off")
        self.toggle_power(bar, icon, edge, f"sni-{edge}-power-on")

        panel = self.panel()
        if panel and panel.left <= icon.cx < panel.right and panel.top <= icon.cy < panel.bottom and not STRICT_PLACEMENT:
            # A click on the icon would land in the panel.
            self.placement_miss(f"{edge} bar: the panel covers the icon, so Escape closes it instead of a click")
            self.command(["xdotool", "key", "Escape"])
            self.wait_until("the panel to close on Escape", lambda: self.panel() is None)
        else:
            self.click(icon.cx, icon.cy)
            self.wait_until("the panel to close on a second click on the icon", lambda: self.panel() is None)

        if edge == "top":
            self.choose_from_dbus_menu(bus, item)
            self.activate_with_token(bus, item, icon)
        # gtk-sni-tray draws Kelvo's D-Bus menu on a right click, as Plasma, GNOME, Xfce and waybar do.
        self.command(["xdotool", "mousemove", str(round(icon.cx)), str(round(icon.cy)), "click", "3"])
        menu = self.wait_until("the host's menu to open on a right click", self.host_menu)
        mode = self.see('"Mode" in the host\'s menu', self.host_menu, lambda w: first(w, "Mode"), None)
        self.hover(mode.cx, mode.cy)
        self.wait_until("the Mode submenu", lambda: len(self.host_menus()) >= 2)
        self.see('"Heat" in the Mode submenu', lambda: self.host_menus()[-1] if len(self.host_menus()) >= 2 else None,
                 lambda w: first(w, "Heat"), f"sni-{edge}-menu-mode")
        self.hover(menu.left + 10, menu.bottom - 10)  # back on the main menu, which closes the submenu
        self.quit_from_menu(f"sni-{edge}-menu", self.host_menu)
        if edge == "top":
            self.check_mode_patches(1)
        self.stop_named("sni-host")
        self.stop_named("sni-watcher")
        self.stop_named("dbus-daemon")

    def dbus_menu(self, bus, item):
        """Kelvo's D-Bus menu as GetLayout gives it: {id: label}."""
        reply = self.bus_call(
            bus, f"--dest={item}", "/MenuBar", "com.canonical.dbusmenu.GetLayout", "int32:0", "int32:-1",
            "array:string:label,type,enabled,visible,toggle-type,toggle-state,children-display",
        )
        labels, current, lines = {}, None, reply.splitlines()
        for number, text in enumerate(lines):
            entry = re.fullmatch(r"\s*int32 (\d+)\s*", text)
            if entry:
                current = int(entry.group(1))
            elif current is not None and text.strip() == 'string "label"' and number + 1 < len(lines):
                value = re.search(r'variant\s+string "(.*)"', lines[number + 1])
                if value:
                    labels[current] = value.group(1)
        return labels

    def mode_patches(self):
        return [p for p in self.patches() if p["target"].split("?")[0] == "/api/v2/pods/abc123/acStates/mode"]

    def check_mode_patches(self, count):
        bodies = [json.loads(p["body"]) for p in self.mode_patches()]
        if bodies != [{"newValue": "heat"}] * count:
            self.fail(f"the cloud received the mode changes {bodies}, expected exactly {count} with heat")

    def choose_from_dbus_menu(self, bus, item):
        """What a host does: reads the menu with GetLayout and sends Event(id, "clicked") on the "Heat" mode."""
        labels = self.wait_until("Kelvo's D-Bus menu to list the modes", lambda: (
            lambda found: found if "Heat" in found.values() and "Open Kelvo" in found.values() else None
        )(self.dbus_menu(bus, item)))
        self.log(f"   D-Bus menu: {list(labels.values())}")
        heat = next(number for number, label in labels.items() if label == "Heat")
        before = len(self.mode_patches())
        self.bus_call(bus, f"--dest={item}", "/MenuBar", "com.canonical.dbusmenu.Event", f"int32:{heat}",
                      "string:clicked", "variant:int32:0", "uint32:0")
        self.wait_until("the cloud to receive the mode chosen in the D-Bus menu", lambda: len(self.mode_patches()) > before)
        self.check_mode_patches(before + 1)
        # The menu follows: "Mode: Heat" once the change is made.
        self.wait_until('the D-Bus menu to show "Mode: Heat"', lambda: "Mode: Heat" in self.dbus_menu(bus, item).values())

    def activate_with_token(self, bus, item, icon):
        """What GNOME's extension does on a double click: an activation token, then Activate at the icon. The panel
        opens with that token as its startup id (_NET_STARTUP_ID), which lets Mutter give it the keyboard."""
        token = "e2e-host/Kelvo/4242-0-e2e_TIME1001"
        for call in (["org.kde.StatusNotifierItem.ProvideXdgActivationToken", f"string:{token}"],
                     ["org.kde.StatusNotifierItem.Activate", f"int32:{round(icon.cx)}", f"int32:{round(icon.cy)}"]):
            self.bus_call(bus, f"--dest={item}", "/StatusNotifierItem", *call)
        self.wait_until("the panel to open on Activate", self.panel)
        window = max(((w, box) for w, box in self.windows("--name", "^Kelvo$") if box.width >= PANEL_WIDTH - 20),
                     key=lambda found: found[1].width * found[1].height)[0]
        startup = self.command(["xprop", "-id", str(window), "_NET_STARTUP_ID"]).stdout
        if f'"{token}"' not in startup:
            self.fail(f"the panel opened on Activate has the startup id {startup.strip()!r}, not the host's token")
        self.log("   Activate after ProvideXdgActivationToken: the panel carries the host's token")
        self.command(["xdotool", "key", "Escape"])
        self.wait_until("the panel to close on Escape", lambda: self.panel() is None)

    def check_next_to_icon(self, when):
        """The panel inside the screen, 4 px from the tray icon on the side away from the bar, not over it."""
        _, icon = self.wait_until("Kelvo's icon in trayer's system tray", self.tray)
        panel = self.wait_until("the panel", self.panel)
        gap = icon.top - panel.bottom if self.tray_edge == "bottom" else panel.top - icon.bottom
        problems = []
        if panel.left < 0 or panel.top < 0 or panel.right > SCREEN[0] or panel.bottom > SCREEN[1]:
            problems.append("reaches off the screen")
        if overlap(panel, icon):
            problems.append("covers the tray icon")
        if gap != PANEL_GAP:
            problems.append(f"is {gap:.0f} px from the icon, not {PANEL_GAP}")
        if problems:
            shot = self.keep_shot(self.grab(), "panel-placement-FAILED")
            self.fail(f"{when}, the panel {panel} {' and '.join(problems)} (icon {icon}); screenshot {shot}")
        return panel

    def window_class(self, window):
        result = self.command(["xprop", "-id", str(window), "WM_CLASS"])
        return re.findall(r'"([^"]*)"', result.stdout)

    def step10_bottom_tray(self):
        self.stop_named("trayer")
        self.tray_edge = "bottom"
        # From here on a window manager runs (openbox, LXQt's): the panel is one of its windows, and it has the
        # keyboard only if the window manager grants it the activation it asks for.
        self.start("openbox", ["openbox", "--sm-disable"], self.env(), os.path.join(self.work, "openbox.out"))
        self.wait_until("openbox to manage the screen", lambda: self.x11.selection_owner(self.display, "WM_S0"))
        self.start_tray()
        before = len(self.requests("cloud"))
        self.start_kelvo(3)
        self.wait_until("the device list request on launch", lambda: self.device_list_requests(before))
        time.sleep(1)  # the devices arrive while the panel is closed: its first opening has a new height to use

        # The first opening, the panel at its full height with the device on.
        self.open_panel()
        self.check_next_to_icon("at the first opening")
        self.see(
            '"Living Room" and its "Temp" row',
            self.panel,
            lambda w: first(w, "Living Room") and first(w, "Temp"),
            "bottom-panel",
        )
        opened = self.check_next_to_icon("with the devices shown")
        # Taskbars find the desktop entry, and so Kelvo's icon, by the window class.
        source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        entry = os.path.join(source, "assets", "app.kelvo.Kelvo.desktop")
        wm_class = re.search(r"^StartupWMClass=(.*)$", self.read_text(entry), re.M)
        window = next(w for w, box in self.windows("--name", "^Kelvo$") if box == opened)
        if not wm_class or self.window_class(window)[-1:] != [wm_class.group(1)]:
            self.fail(
                f"the panel's WM_CLASS {self.window_class(window)} does not end with the desktop entry's "
                f"StartupWMClass ({wm_class.group(1) if wm_class else 'missing'})"
            )

        # Power off shrinks the panel, power on grows it again: its bottom edge stays above the icon.
        for state, smaller in (("off", True), ("on", False)):
            power = self.see('the "Power" row', self.panel, lambda w: first(w, "Power"), None)
            panel = self.panel()
            self.click(panel.right - CONTROL_MARGIN - SWITCH_WIDTH / 2, power.cy)
            self.hover(panel.left + 20, panel.bottom - 4)
            self.wait_until(
                f"the panel to {'shrink' if smaller else 'grow'} with power {state}",
                lambda: self.panel()
                and self.panel().height != panel.height
                and (self.panel().height < panel.height) == smaller,
            )
            time.sleep(0.5)  # whatever else the change brings has come
            self.check_next_to_icon(f"after power {state} while open")
            self.keep_shot(self.grab(), f"bottom-power-{state}")

        # Every way of closing it.
        def focus_elsewhere():
            self.command(["xdotool", "windowfocus", "--sync", str(self.windows("--class", "trayer")[0][0])])

        closers = (
            ("a second click on the icon", self.click_tray_icon),
            ("Escape", lambda: self.command(["xdotool", "key", "Escape"])),
            ("a click elsewhere", lambda: self.click(SCREEN[0] / 3, SCREEN[1] / 3)),
            ("another window taking the focus (all a click elsewhere does under XWayland)", focus_elsewhere),
        )
        for what, close in closers:
            time.sleep(0.5)  # a click right after closing does not reopen it
            if self.panel() is None:
                self.open_panel()
                self.check_next_to_icon("when opened again")
                time.sleep(0.6)  # a click within a double-click's time of opening is the double-click's second
            close()
            self.wait_until(f"the panel to close on {what}", lambda: self.panel() is None, timeout=5)

        # A second start with the same settings opens the running Kelvo's panel and leaves.
        try:
            result = subprocess.run(
                [self.kelvo], env=self.kelvo_env(), capture_output=True, text=True, timeout=STEP_TIMEOUT
            )
        except subprocess.TimeoutExpired:
            self.fail(f"a second start did not end within {STEP_TIMEOUT:.0f} s")
        if result.returncode != 0 or result.stdout != "Kelvo is already running; its panel was opened.\n":
            self.fail(f"a second start ended with {result.returncode} and printed {result.stdout!r} {result.stderr!r}")
        self.wait_until("the panel to open on the second start", self.panel, timeout=5)
        self.check_next_to_icon("when a second start opened it")
        self.quit_from_panel("bottom-quit-tooltip")

    def atspi_dump(self, bus, shot):
        """What a screen reader sees of Kelvo on the accessibility bus behind `bus`, kept as `shot`.json."""
        env = self.env()
        env["DBUS_SESSION_BUS_ADDRESS"] = bus
        dumper = os.path.join(os.path.dirname(os.path.abspath(__file__)), "atspi_dump.py")
        try:
            result = subprocess.run(
                [SYSTEM_PYTHON, dumper, "kelvo"], env=env, capture_output=True, text=True, timeout=COMMAND_TIMEOUT
            )
        except subprocess.TimeoutExpired:
            self.fail(f"the AT-SPI dump did not finish within {COMMAND_TIMEOUT:.0f} s")
        with open(os.path.join(self.shots, f"{shot}.json"), "w") as f:
            f.write(result.stdout)
        try:
            return json.loads(result.stdout) if result.returncode == 0 else None
        except ValueError:
            return None

    def step11_screen_reader(self):
        """The open panel as AT-SPI serves it: a named, active window under the application that lists its
        controls, each with a name, the temperature with its value and range, and the focus on one of them."""
        bus = self.start_bus("a11y")
        env = self.env()
        env.update({"DBUS_SESSION_BUS_ADDRESS": bus})
        self.start("at-spi-bus-launcher", [AT_SPI_BUS_LAUNCHER, "--launch-immediately"], env,
                   os.path.join(self.work, "at-spi-bus.out"))
        self.wait_until("the accessibility bus (org.a11y.Bus)", lambda: "boolean true" in self.bus_call(
            bus, "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
            "string:org.a11y.Bus",
        ))
        kelvo_env = self.kelvo_env(bus)
        kelvo_env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        out = os.path.join(self.work, "kelvo-run6.out")
        self.kelvo_process = self.start("kelvo (run 6)", [self.kelvo], kelvo_env, out)
        self.kelvo_output, self.kelvo_may_exit = out, False
        self.open_panel()

        def panel_window(nodes):
            windows = [n for n in nodes or [] if n["depth"] == 1 and n["name"] == "Kelvo" and "showing" in n["states"]]
            return windows[0] if windows else None

        def controls():
            nodes = self.atspi_dump(bus, "atspi-panel")
            window = panel_window(nodes)
            if window is None:
                return None
            start = nodes.index(window)
            end = next((i for i in range(start + 1, len(nodes)) if nodes[i]["depth"] <= 1), len(nodes))
            inside = nodes[start + 1 : end]
            # The room's last day comes a moment after the devices.
            ready = any(n["role"] == "spin button" for n in inside) and any(
                n["name"].startswith("Room temperature, last 24 hours: ") for n in inside)
            return (window, inside) if ready else None

        window, inside = self.wait_until("the open panel with its controls in the AT-SPI tree", controls)
        problems = []
        if window["role"] not in ("window", "frame", "dialog"):
            problems.append(f'the panel\'s role is "{window["role"]}"')
        if "active" not in window["states"]:
            problems.append("the panel is not the active window")
        for role, name in (("combo box", "Mode"), ("combo box", "Fan"), ("spin button", "Temp"),
                           ("check box", "Power"), ("combo box", "Timer"), ("push button", "Refresh"),
                           ("push button", "Quit Kelvo")):
            if not any(n["role"] == role and n["name"] == name for n in inside):
                problems.append(f'no {role} named "{name}"')
        for text in ("Room temperature", "Humidity", "Online"):
            if not any(n["name"].startswith(text) for n in inside):
                problems.append(f'no reading "{text}..."')
        chart = next((n for n in inside if n["name"].startswith("Room temperature, last 24 hours: ")), {})
        if chart.get("role") != "chart" or not re.fullmatch(r"Room temperature, last 24 hours: (\d+ to )?\d+°C, now \d+°C",
                                                             chart.get("name", "")):
            problems.append(f"the room's last day is not a chart with its summary: {chart}")
        stepper = next((n for n in inside if n["role"] == "spin button"), {})
        value = stepper.get("value") or {}
        if not (value.get("minimum", 0) < value.get("current", -1) <= value.get("maximum", 0) and value.get("step")):
            problems.append(f"the temperature has no value, range and step: {value}")
        unnamed = [n["role"] for n in inside if {"focusable", "showing"} <= set(n["states"]) and not n["name"]]
        if unnamed:
            problems.append(f"focusable elements without a name: {unnamed}")
        if not any("focused" in n["states"] for n in inside):
            problems.append("no control has the focus")
        if problems:
            self.fail("the panel for a screen reader: " + "; ".join(problems) + " (see atspi-panel.json)")

        # Escape closes one level at a time: the picker's open list (opened from the keyboard, where the focus
        # is), then the panel.
        focused = [n for n in inside if "focused" in n["states"]]
        if focused[0]["role"] != "combo box":
            self.fail(f'the panel opened with the focus on a {focused[0]["role"]}, not on the device picker')
        self.command(["xdotool", "key", "F4"])
        self.wait_until("the device picker's list to open", self.popups, timeout=5)
        self.command(["xdotool", "key", "Escape"])
        self.wait_until("the list to close on Escape", lambda: not self.popups(), timeout=5)
        time.sleep(0.5)
        if self.panel() is None:
            self.fail("Escape in the open device list closed the panel too")
        self.command(["xdotool", "key", "Escape"])
        self.wait_until("the panel to close on a second Escape", lambda: self.panel() is None, timeout=5)
        self.kelvo_may_exit = True
        self.stop("kelvo (run 6)", self.kelvo_process)

    # --- the run --------------------------------------------------------------------------------------------

    def run(self):
        for tool in ("Xvfb", "trayer", "openbox", "xdotool", "import", "convert", "tesseract", "dbus-daemon", "dbus-send",
                     "status-notifier-watcher", "gtk-sni-tray-standalone", AT_SPI_BUS_LAUNCHER):
            if shutil.which(tool) is None:
                self.fail(f"{tool} is not installed (scripts/install-deps --test installs it)")
        for binary in (self.kelvo, self.sim):
            if not os.access(binary, os.X_OK):
                self.fail(f"{binary} is missing: build first")
        os.makedirs(self.shots, exist_ok=True)
        for name in os.listdir(self.shots):
            if name.endswith((".png", ".out", ".err", ".jsonl", ".json")):
                os.remove(os.path.join(self.shots, name))

        self.start_display()
        self.start_tray()
        self.start_sim()
        self.log(f"display {self.display}, cloud {self.cloud_url}, site {self.site_url}")

        steps = [
            ("1", "first start without a key: nothing sent, the panel asks for a key", self.step1_first_start),
            ("2", 'settings window: type the key, Save & Connect, "2 devices found"', self.step2_settings),
            ("3", "settings closed, the tray icon's panel lists the devices", self.step3_panel_lists_devices),
            ("4", "power on, temperature up, fan High: exactly those PATCH requests", self.step4_controls),
            ("5", "Quit from the panel: Kelvo ends with status 0", self.step5_quit),
            ("6", "second start: key kept, devices at once, notice not shown again", self.step6_second_start),
            ("7", 'right click on the XEmbed icon: the menu, "Quit Kelvo" quits', self.step7_xembed_menu),
            (
                "8",
                "StatusNotifierItem host at the top, started 2 s after Kelvo",
                lambda: self.sni_case("top", kelvo_first=True, run=4),
            ),
            (
                "9",
                "StatusNotifierItem host at the bottom, started before Kelvo",
                lambda: self.sni_case("bottom", kelvo_first=False, run=5),
            ),
            ("10", "openbox, trayer at the bottom: above the icon, anchored, every way of closing",
             self.step10_bottom_tray),
            ("11", "a screen reader's view of the open panel (AT-SPI): a named window with its controls",
             self.step11_screen_reader),
        ]
        for number, title, action in steps:
            self.step = f"step {number} ({title})"
            started = time.monotonic()
            action()
            self.log(f"ok   step {number}: {title} ({time.monotonic() - started:.1f} s)")
        for note in self.notes:
            self.log(f"note: {note}")


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        print("e2e: 0 passed, 1 failed")
        return 2

    def interrupt(signum, _frame):
        raise Interrupted(f"interrupted by signal {signum}")

    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGALRM):
        signal.signal(signum, interrupt)
    signal.alarm(RUN_TIMEOUT)

    started = time.monotonic()
    test = None
    passed = False
    try:
        test = E2E(sys.argv[1])
        test.run()
        passed = True
    except Exception as error:  # a failed step, an interruption, or a bug here: all end in a report and a clean-up
        kind = "" if isinstance(error, (StepFailed, Interrupted)) else f"{type(error).__name__}: "
        print(f"e2e: FAILED in {test.step if test else 'setting up'}: {kind}{error}", flush=True)
        if test:
            test.last_screen()
    finally:
        # The clean-up runs to its end (each of its waits is bounded): a second Ctrl+C must not leave processes.
        signal.alarm(0)
        for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(signum, signal.SIG_IGN)
        if test:
            test.cleanup()
    if test:
        print(f"e2e: screenshots and logs in {test.shots} ({time.monotonic() - started:.0f} s)")
    print(f"e2e: {1 if passed else 0} passed, {0 if passed else 1} failed", flush=True)
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
