#!/usr/bin/env python3
"""Kelvo's panel under XWayland on the desktops most people run: KDE Plasma (KWin), GNOME (Mutter) and sway.

For each compositor, headless, with its real shell and its tray where it has one, and the real build/kelvo on
XWayland against kelvo-sim, this opens the panel as the tray host does and checks from outside, several times each:
  - it does not close by itself: still mapped 1.5 s after it opened;
  - it has the keyboard: keys sent through the compositor's own input (KWin's fake input, wtype on sway, Clutter's
    virtual keyboard on GNOME; never xdotool, which reaches XWayland's focus even where the compositor gives none)
    move its focus (Tab changes its picture) and Escape closes it;
  - a click elsewhere closes it: on an X window, on a Wayland window, on a bare part of the desktop, and on the tray
    icon where the desktop shows one;
  - it sits next to the bar, inside the screen.
  - a second start (from a menu, a shortcut) opens it, with the keyboard.
One line per check with its count ("kwin (top bar): Tab moves the focus inside it: 10 of 10"); screenshots of the
open panel go to --shots (build/desktops). The exit status is 0 when every check passed every time; a desktop's
known limits are counted but do not fail the run (GNOME: no window takes the focus on its bare desktop, so a click
there leaves the panel open). Where the desktop shows no icon for Kelvo (GNOME's AppIndicator extension without a
D-Bus menu; Plasma 5.27 here, which lists the item but draws nothing for it), the panel is opened as the host does,
with Activate at a point on the bar, and the click on the icon is not tried.

Usage: panel_focus.py [--build BUILD_DIR] [--tries N] [--only kwin,gnome,sway] [--edges top,bottom] [--shots DIR]
                      [--hold]
  --hold  start the first named desktop with Kelvo, print how to reach it, and wait for Ctrl+C.
Run as root: the compositors run as a throwaway user (they refuse root or misbehave as root). It installs what it
needs with apt-get. Not part of `make test`: the desktops are a large install.
"""

import argparse
import json
import os
import pwd
import re
import secrets
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
USER = "kelvo-panel"
SCREEN = (1280, 800)
X_DISPLAYS = range(100, 120)
API_KEY = "panel-focus-key"
NOTICE = "Kelvo 1.1 is out."
STEP_TIMEOUT = 30.0
PACKAGES = {
    "common": ["dbus", "x11-utils", "xdotool", "xauth", "imagemagick", "xwayland", "qt6-wayland",
               "libglib2.0-bin"],
    "kwin": ["kwin-wayland", "plasma-workspace", "plasma-desktop", "kded5", "kactivitymanagerd", "kde-spectacle",
             "qtwayland5", "qml-module-org-kde-kitemmodels", "qml-module-qt-labs-platform",
             "plasma-wayland-protocols", "libwayland-dev", "libwayland-bin", "gcc"],
    "gnome": ["gnome-shell", "gnome-shell-extension-appindicator"],
    "sway": ["sway", "swaybg", "grim", "wtype", "libwayland-dev", "libwayland-bin", "gcc", "plasma-wayland-protocols"],
}
KEY_ESC, KEY_TAB = 1, 15  # Linux input key codes
TAB_KEYSYM, ESCAPE_KEYSYM = 0xFF09, 0xFF1B
OTHER_X = (100, 100, 300, 120)  # where the other X window goes
OTHER_WAYLAND = (100, 420, 400, 220)  # where the Wayland window goes
BARE = (800, 300)  # a bare part of the desktop
WAYLAND_APP_ID = "app.kelvo.Kelvo"  # the other Kelvo's window on Qt's Wayland platform


def log(text):
    print(text, flush=True)


def install(names):
    missing = [
        name
        for name in names
        if "install ok installed"
        not in subprocess.run(["dpkg-query", "-W", "-f=${Status}", name], capture_output=True, text=True).stdout
    ]
    if missing:
        log(f"installing {' '.join(missing)}")
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "update", "-qq"], check=True, env=env)
        subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", *missing], check=True, env=env)


def wait_until(what, probe, timeout=STEP_TIMEOUT, interval=0.1):
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise RuntimeError(f"timed out waiting for {what}")
        time.sleep(interval)


class Desktop:
    """One headless compositor session run as the throwaway user, with Kelvo on its XWayland."""

    name = "?"
    has_icon = True  # the desktop shows Kelvo's icon, so a click on it can be tried
    known_limits = set()  # checks counted and shown, but not failing the run

    def __init__(self, build, shots, edge):
        self.build, self.shots, self.edge = build, shots, edge
        self.processes = []
        self.account = pwd.getpwnam(USER)
        self.base = tempfile.mkdtemp(prefix=f"kpanel-{self.name}-")
        os.chmod(self.base, 0o755)
        self.home = os.path.join(self.base, "home")
        self.runtime = os.path.join(self.base, "run")
        os.makedirs(self.home, mode=0o755)
        os.makedirs(self.runtime, mode=0o700)
        for folder in (".config/kelvo", ".local/share", ".cache"):
            os.makedirs(os.path.join(self.home, folder))
        self.chown(self.base)
        self.wayland = f"kelvo-panel-{self.name}"
        self.display = None  # XWayland's ":N"
        self.xauthority = None
        self.bus = f"unix:path={self.runtime}/bus"
        self.item = None
        self.icon = None  # where the tray icon is, when known

    # --- processes --------------------------------------------------------------------------------------------

    def env(self, **extra):
        env = {
            "PATH": "/usr/local/bin:/usr/bin:/bin",
            "HOME": self.home,
            "USER": USER,
            "LOGNAME": USER,
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local/share"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "DBUS_SESSION_BUS_ADDRESS": self.bus,
            "WAYLAND_DISPLAY": self.wayland,
            "LANG": "C.UTF-8",
            "NO_AT_BRIDGE": "1",
        }
        if self.display:
            env["DISPLAY"] = self.display
        if self.xauthority:
            env["XAUTHORITY"] = self.xauthority
        env.update({k: v for k, v in extra.items() if v is not None})
        return env

    def chown(self, path):
        for root, folders, files in os.walk(path):
            for name in [root] + [os.path.join(root, f) for f in folders + files]:
                os.lchown(name, self.account.pw_uid, self.account.pw_gid)

    def as_user(self):
        return {"user": self.account.pw_uid, "group": self.account.pw_gid, "extra_groups": [], "cwd": self.home}

    def start(self, label, args, env=None, pass_fds=()):
        with open(os.path.join(self.base, f"{label}.log"), "ab") as out:
            process = subprocess.Popen(args, env=env or self.env(), stdout=out, stderr=subprocess.STDOUT,
                                       pass_fds=pass_fds, start_new_session=True, **self.as_user())
        self.processes.append((label, process))
        return process

    def run(self, args, env=None, timeout=20, check=True):
        result = subprocess.run(args, env=env or self.env(), capture_output=True, text=True, timeout=timeout,
                                **self.as_user())
        if check and result.returncode != 0:
            raise RuntimeError(f"{' '.join(args)} failed: {result.stderr.strip()}")
        return result

    def stop(self):
        for _, process in reversed(self.processes):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        for _, process in reversed(self.processes):
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        self.processes = []

    def build_file(self, name):
        # A copy the throwaway user can read whatever the build folder's permissions.
        copy = os.path.join(self.base, name)
        if not os.path.exists(copy):
            shutil.copy2(os.path.join(self.build, name), copy)
            os.chmod(copy, 0o755)
        return copy

    def log_text(self, label):
        try:
            with open(os.path.join(self.base, f"{label}.log"), errors="replace") as text:
                return text.read()
        except OSError:
            return ""

    # --- the session ------------------------------------------------------------------------------------------

    def start_bus(self):
        self.start("dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--address={self.bus}"])
        wait_until("the session bus", lambda: os.path.exists(os.path.join(self.runtime, "bus")))

    def start_cloud(self):
        self.start("kelvo-sim", [self.build_file("kelvo-sim"), "--scenario", "e2e", "--port", "0", "--site-port",
                                 "0", "--key", API_KEY, "--notice", NOTICE])

        def addresses():
            text = self.log_text("kelvo-sim")
            cloud = re.search(r"Sensibo demo cloud at (http://127\.0\.0\.1:\d+/api/v2)", text)
            site = re.search(r"maker's site at (http://127\.0\.0\.1:\d+)", text)
            return (cloud.group(1), site.group(1)) if cloud and site else None

        self.cloud, self.site = wait_until("kelvo-sim", addresses)

    def kelvo_env(self):
        return self.env(KELVO_SENSIBO_API_URL=self.cloud, KELVO_SITE_URL=self.site, TMPDIR=self.runtime)

    def start_kelvo(self):
        config = os.path.join(self.home, ".config")
        with open(os.path.join(config, "kelvo", "preferences.json"), "w") as prefs:
            json.dump({"sensiboAPIKey": API_KEY, "hasLaunchedBefore": True, "lastUpdateText": NOTICE}, prefs)
        self.chown(config)
        self.start("kelvo", [self.build_file("kelvo")], self.kelvo_env())
        self.item = wait_until("Kelvo's item on the session bus", self.find_item)

    def start_kelvo_again(self):
        """A second start (from a menu or a shortcut): it hands over to the running Kelvo, which opens its panel."""
        return "its panel was opened" in self.run([self.build_file("kelvo")], self.kelvo_env(), check=False).stdout

    def find_item(self):
        names = self.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                          "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.ListNames"]).stdout
        found = re.findall(r"'(org\.kde\.StatusNotifierItem-\d+-\d+)'", names)
        return found[-1] if found else None

    def start_others(self):
        """Another X window and a Wayland window to click on, each at a known place."""
        x, y, w, h = OTHER_X
        self.start("xmessage", ["xmessage", "-geometry", f"{w}x{h}+{x}+{y}", "another X window"])
        # Another Kelvo on Qt's Wayland platform, with no tray on its own bus: its panel is an ordinary window.
        other = os.path.join(self.home, "other")
        os.makedirs(os.path.join(other, "run"), mode=0o700, exist_ok=True)
        self.chown(other)
        self.start("other-kelvo", ["dbus-run-session", "--", self.build_file("kelvo")],
                   self.env(DISPLAY=None, QT_QPA_PLATFORM="wayland", XDG_CONFIG_HOME=other, TMPDIR=other,
                            XDG_RUNTIME_DIR=self.runtime, DBUS_SESSION_BUS_ADDRESS=None))
        wait_until("the other X window", lambda: self.x_window("^xmessage$"))
        self.place_others()
        time.sleep(1)
        x, y, w, h = wait_until("the other X window in place", lambda: self.x_window("^xmessage$"))
        self.other_x_point = (x + w // 2, y + h // 3)
        x, y, w, h = self.wayland_window()
        self.other_wayland_point = (x + w // 2, y + h // 2)

    def x_window(self, name):
        found = self.run(["xdotool", "search", "--onlyvisible", "--name", name], check=False).stdout.split()
        return self.geometry(found[0]) if found else None

    def geometry(self, window):
        info = self.run(["xwininfo", "-id", str(window)], check=False).stdout
        numbers = dict(re.findall(r"^\s*(Absolute upper-left X|Absolute upper-left Y|Width|Height):\s+(-?\d+)",
                                  info, re.M))
        if len(numbers) < 4 or "Map State: IsViewable" not in info:
            return None
        return tuple(int(numbers[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))

    def panel(self):
        """The open panel's geometry and X window, or None."""
        for window in self.run(["xdotool", "search", "--onlyvisible", "--name", "^Kelvo$"],
                               check=False).stdout.split():
            rect = self.geometry(window)
            if rect:
                return rect, window
        return None

    def panel_picture(self, window):
        path = os.path.join(self.runtime, "panel.rgb")
        self.run(["timeout", "5", "import", "-window", str(window), "rgb:" + path], check=False)
        try:
            with open(path, "rb") as picture:
                return picture.read()
        except OSError:
            return b""

    def activate(self, point):
        """What the tray host sends when the icon is clicked."""
        self.run(["gdbus", "call", "--session", "--dest", self.item, "--object-path", "/StatusNotifierItem",
                  "--method", "org.kde.StatusNotifierItem.Activate", str(point[0]), str(point[1])])

    def open_panel(self):
        if self.icon:
            self.click(*self.icon)
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

    def check_icon(self):
        """Keeps the icon found only if a click on it opens the panel."""
        if self.icon:
            self.click(*self.icon)
            if self.closed_within(1.5):
                log(f"{self.name} ({self.edge} bar): a click at {self.icon} opens nothing: Kelvo's icon is not shown")
                self.icon = None
            else:
                self.key(KEY_ESC)
                self.closed_within(1.5)
                time.sleep(0.5)
        else:
            log(f"{self.name} ({self.edge} bar): Kelvo's icon is not shown; the panel is opened as the host would")

    def find_icon(self, shot, bar):
        """The centre of Kelvo's icon in a screenshot: the dark grey of the "off" picture, inside the bar strip."""
        x0, y0, w, h = bar
        raw = subprocess.run(["convert", shot, "-crop", f"{w}x{h}+{x0}+{y0}", "+repage", "-depth", "8", "rgb:-"],
                             capture_output=True, check=True).stdout
        hits = []
        for i in range(0, len(raw) - 2, 3):
            r, g, b = raw[i], raw[i + 1], raw[i + 2]
            if abs(r - 0x5F) < 14 and abs(g - 0x6B) < 14 and abs(b - 0x72) < 14:
                hits.append(((i // 3) % w, (i // 3) // w))
        if len(hits) < 6:
            return None
        xs, ys = [p[0] for p in hits], [p[1] for p in hits]
        return (x0 + (min(xs) + max(xs)) // 2, y0 + (min(ys) + max(ys)) // 2)

    # --- given by each desktop ----------------------------------------------------------------------------------

    def setup(self):
        raise NotImplementedError

    def key(self, code):
        raise NotImplementedError

    def click(self, x, y):
        raise NotImplementedError

    def screenshot(self, path):
        raise NotImplementedError

    def place_others(self):
        pass

    def wayland_window(self):
        """Where the other Kelvo's Wayland window is."""
        return OTHER_WAYLAND

    def locate_icon(self):
        """Finds the tray icon on screen (sets self.icon), where the desktop shows it."""


class KWin(Desktop):
    name = "kwin"
    has_icon = False  # Plasma 5.27 here lists Kelvo's item but draws no icon for it (it does for xembedsniproxy's)

    def setup(self):
        tools = os.path.join(self.base, "tools")
        os.makedirs(tools)
        # The packaged binary carries a file capability, which a container refuses to execute.
        shutil.copy2("/usr/bin/kwin_wayland", os.path.join(tools, "kwin_wayland"))
        self.input_tool = build_input_tool(tools)
        self.chown(self.base)
        self.start_bus()
        fds = self.claim_x_display()
        # No permission checks: they keep the fake input helper out, as they would keep out any tool not installed
        # with a desktop entry that names the protocol.
        self.start("kwin", [os.path.join(tools, "kwin_wayland"), "--virtual", "--width", str(SCREEN[0]), "--height",
                            str(SCREEN[1]), "--socket", self.wayland, "--xwayland", "--xwayland-display",
                            self.display, "--xwayland-xauthority", self.xauthority, "--no-lockscreen",
                            *[a for fd in fds for a in ("--xwayland-fd", str(fd))]],
                   env=self.env(KWIN_WAYLAND_NO_PERMISSION_CHECKS="1", QT_LOGGING_RULES="kwin_scripting=true"),
                   pass_fds=fds)
        for fd in fds:
            os.close(fd)
        wait_until("KWin's XWayland", lambda: "window id" in self.run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False).stdout)
        shell = self.env(QT_QPA_PLATFORM="wayland", XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="KDE",
                         KDE_FULL_SESSION="true", KDE_SESSION_VERSION="5")
        self.start("kactivitymanagerd", ["/usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd"], shell)
        self.start("kded5", ["kded5"], shell)
        self.start("plasmashell", ["plasmashell", "--no-respawn"], shell)
        wait_until("Plasma's tray host", lambda: "true" in self.run(
            ["gdbus", "call", "--session", "--dest", "org.kde.StatusNotifierWatcher", "--object-path",
             "/StatusNotifierWatcher", "--method", "org.freedesktop.DBus.Properties.Get",
             "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered"], check=False).stdout, timeout=90)
        if self.edge == "top":
            self.run(["gdbus", "call", "--session", "--dest", "org.kde.plasmashell", "--object-path", "/PlasmaShell",
                      "--method", "org.kde.PlasmaShell.evaluateScript", "panels()[0].location = 'top'"])
        time.sleep(3)  # the panel settles

    def claim_x_display(self):
        """XWayland's sockets on a display number of our own, set up as kwin_wayland_wrapper does."""
        for number in X_DISPLAYS:
            lock = f"/tmp/.X{number}-lock"
            try:
                fd = os.open(lock, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o444)
            except FileExistsError:
                continue
            os.write(fd, f"{os.getpid():>10}\n".encode())
            os.close(fd)
            self.x_lock = lock
            path = f"/tmp/.X11-unix/X{number}"
            if os.path.exists(path):
                os.remove(path)
            os.makedirs("/tmp/.X11-unix", mode=0o1777, exist_ok=True)
            sockets = []
            for address in (path, "\0" + path):
                listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                listener.bind(address)
                if not address.startswith("\0"):
                    os.chmod(address, 0o777)  # the throwaway user's XWayland serves it
                listener.listen(16)
                sockets.append(listener)
            self.x_socket = path
            self.display = f":{number}"
            self.xauthority = os.path.join(self.runtime, "xauthority")
            subprocess.run(["xauth", "-f", self.xauthority, "add", self.display, "MIT-MAGIC-COOKIE-1",
                            secrets.token_hex(16)], check=True, capture_output=True)
            self.chown(self.runtime)
            fds = [listener.detach() for listener in sockets]
            for fd in fds:
                os.set_inheritable(fd, True)
            return fds
        raise RuntimeError("no free X display number in 100-119")

    def stop(self):
        super().stop()
        for path in (getattr(self, "x_lock", None), getattr(self, "x_socket", None)):
            if path and os.path.exists(path):
                os.remove(path)

    def kwin_script(self, code):
        path = os.path.join(self.runtime, f"script-{secrets.token_hex(4)}.js")
        with open(path, "w") as script:
            script.write(code)
        self.chown(path)
        number = self.run(["gdbus", "call", "--session", "--dest", "org.kde.KWin", "--object-path", "/Scripting",
                           "--method", "org.kde.kwin.Scripting.loadScript", path, os.path.basename(path)]).stdout
        number = re.search(r"(\d+)", number).group(1)
        self.run(["gdbus", "call", "--session", "--dest", "org.kde.KWin", "--object-path", f"/{number}",
                  "--method", "org.kde.kwin.Script.run"])
        time.sleep(0.3)
        self.run(["gdbus", "call", "--session", "--dest", "org.kde.KWin", "--object-path", "/Scripting",
                  "--method", "org.kde.kwin.Scripting.unloadScript", os.path.basename(path)], check=False)

    def place_others(self):
        wait_until("the Wayland window", lambda: f"window: Kelvo {WAYLAND_APP_ID}" in self.windows_report())
        x, y, w, h = OTHER_WAYLAND
        self.kwin_script(
            f"workspace.clientList().forEach(function (c) {{ if (c.resourceClass == '{WAYLAND_APP_ID}') "
            f"c.frameGeometry = {{x: {x}, y: {y}, width: {w}, height: {h}}}; }});")

    def windows_report(self):
        self.kwin_script("workspace.clientList().forEach(function (c) { "
                         "print('window: ' + c.caption + ' ' + c.resourceClass); });")
        return self.log_text("kwin")

    def key(self, code):
        self.run([self.input_tool, "key", str(code)])

    def click(self, x, y):
        self.run([self.input_tool, "click", str(x), str(y)])

    def screenshot(self, path):
        self.run(["timeout", "20", "spectacle", "-b", "-n", "-f", "-o", path], env=self.env(QT_QPA_PLATFORM="wayland"))

    def locate_icon(self):
        shot = os.path.join(self.runtime, "icon.png")
        self.screenshot(shot)
        self.icon = self.find_icon(shot, (600, 0, 680, 48) if self.edge == "top" else (600, SCREEN[1] - 48, 680, 48))


def build_input_tool(folder):
    """wayland_input.c, built against the two protocols it speaks."""
    os.makedirs(folder, exist_ok=True)
    sources = [os.path.join(HERE, "wayland_input.c")]
    for protocol, name in (("/usr/share/plasma-wayland-protocols/fake-input.xml", "fake-input"),
                           (os.path.join(HERE, "virtual-pointer.xml"), "virtual-pointer")):
        subprocess.run(["wayland-scanner", "client-header", protocol,
                        os.path.join(folder, f"{name}-client-protocol.h")], check=True)
        sources.append(os.path.join(folder, f"{name}-protocol.c"))
        subprocess.run(["wayland-scanner", "private-code", protocol, sources[-1]], check=True)
    binary = os.path.join(folder, "wayland_input")
    subprocess.run(["cc", "-O1", "-I", folder, "-o", binary, *sources, "-lwayland-client"], check=True)
    return binary


class Sway(Desktop):
    name = "sway"

    def setup(self):
        self.input_tool = build_input_tool(os.path.join(self.base, "tools"))
        self.start_bus()
        config = os.path.join(self.base, "sway.config")
        with open(config, "w") as text:
            text.write(
                f"output * resolution {SCREEN[0]}x{SCREEN[1]} bg #2e4a5a solid_color\n"
                "xwayland force\n"
                "focus_follows_mouse no\n"
                f"bar {{\n  position {self.edge}\n  tray_output *\n"
                "  status_command while date +'%H:%M'; do sleep 30; done\n}\n"
                f"exec env > {self.runtime}/session.env\n")
        self.chown(self.base)
        self.start("sway", ["sway", "--config", config],
                   self.env(WAYLAND_DISPLAY=None, WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1",
                            WLR_RENDERER="pixman"))
        session = wait_until("sway's session", lambda: self.session_env())
        self.wayland, self.display, self.swaysock = session["WAYLAND_DISPLAY"], session["DISPLAY"], session["SWAYSOCK"]
        wait_until("sway's XWayland", lambda: self.run(["xprop", "-root"], check=False).returncode == 0)
        wait_until("swaybar's tray host", lambda: "true" in self.run(
            ["gdbus", "call", "--session", "--dest", "org.kde.StatusNotifierWatcher", "--object-path",
             "/StatusNotifierWatcher", "--method", "org.freedesktop.DBus.Properties.Get",
             "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered"], check=False).stdout)

    def session_env(self):
        try:
            with open(os.path.join(self.runtime, "session.env")) as text:
                values = dict(line.rstrip("\n").split("=", 1) for line in text if "=" in line)
        except OSError:
            return None
        return values if all(k in values for k in ("WAYLAND_DISPLAY", "DISPLAY", "SWAYSOCK")) else None

    def env(self, **extra):
        env = super().env(**extra)
        if getattr(self, "swaysock", None):
            env["SWAYSOCK"] = self.swaysock
        return env

    def swaymsg(self, *command):
        return self.run(["swaymsg", *command])

    def place_others(self):
        x, y, w, h = OTHER_WAYLAND
        wait_until("the Wayland window", lambda: f'"{WAYLAND_APP_ID}"' in self.swaymsg("-t", "get_tree").stdout)
        for criteria, (x, y, w, h) in ((f"[app_id={WAYLAND_APP_ID}]", OTHER_WAYLAND), ("[class=Xmessage]", OTHER_X)):
            for command in ("floating enable", f"resize set width {w} px height {h} px",
                            f"move absolute position {x} {y}"):
                self.swaymsg(f"{criteria} {command}")

    def key(self, code):
        # A new virtual keyboard brings a new keymap, and XWayland drops keys that come before it has taken it.
        self.run(["wtype", "-s", "400", "-k", {KEY_TAB: "Tab", KEY_ESC: "Escape"}[code]])

    def click(self, x, y):
        self.run([self.input_tool, "click", str(x), str(y)], env=self.env(SCREEN_SIZE=f"{SCREEN[0]}x{SCREEN[1]}"))

    def screenshot(self, path):
        self.run(["grim", path])

    def locate_icon(self):
        shot = os.path.join(self.runtime, "icon.png")
        self.screenshot(shot)
        self.icon = self.find_icon(shot, (600, 0, 680, 40) if self.edge == "top" else (600, SCREEN[1] - 40, 680, 40))


class Gnome(Desktop):
    name = "gnome"
    has_icon = False  # the AppIndicator extension shows only items with a D-Bus menu, and opens that on a click
    # No window takes the focus on GNOME's bare desktop, and XWayland's pointer grab ends at its own windows.
    known_limits = {"a click on the bare desktop closes it"}

    def setup(self):
        system_config = os.path.join(self.base, "system-bus.conf")
        with open(system_config, "w") as text:
            text.write(
                "<!DOCTYPE busconfig PUBLIC '-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN' "
                "'http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd'>\n"
                f"<busconfig><type>system</type><listen>unix:path={self.runtime}/system_bus</listen>"
                "<auth>EXTERNAL</auth><policy context='default'><allow user='*'/><allow own='*'/>"
                "<allow send_type='method_call'/><allow send_destination='*'/><allow receive_type='*'/>"
                "<allow eavesdrop='true'/></policy></busconfig>\n")
        self.chown(self.base)
        self.start("system-bus", ["dbus-daemon", f"--config-file={system_config}", "--nofork", "--nopidfile"])
        self.start_bus()
        wait_until("the system bus", lambda: os.path.exists(os.path.join(self.runtime, "system_bus")))
        for schema, key, value in (
            ("org.gnome.shell", "enabled-extensions", "['ubuntu-appindicators@ubuntu.com']"),
            ("org.gnome.shell", "welcome-dialog-last-shown-version", "'999'"),
            ("org.gnome.desktop.interface", "enable-animations", "false"),
        ):
            self.run(["gsettings", "set", schema, key, value], env=self.env(GSETTINGS_BACKEND="dconf"))
        self.start("gnome-shell", ["gnome-shell", "--headless", "--wayland", "--virtual-monitor",
                                   f"{SCREEN[0]}x{SCREEN[1]}", "--wayland-display", self.wayland, "--unsafe-mode"],
                   self.env(DBUS_SYSTEM_BUS_ADDRESS=f"unix:path={self.runtime}/system_bus", XDG_SESSION_TYPE="wayland",
                            XDG_CURRENT_DESKTOP="GNOME", MUTTER_DEBUG=os.environ.get("MUTTER_DEBUG"),
                            MUTTER_VERBOSE=os.environ.get("MUTTER_VERBOSE")))
        wait_until("GNOME Shell's Eval", lambda: self.eval("1 + 1") == "2", timeout=60)
        # GNOME starts in the Activities overview, which holds the keyboard: gone once the start has settled.
        wait_until("GNOME Shell out of its overview", lambda: self.eval(
            "const Main = imports.ui.main; if (!Main.layoutManager._startingUp) Main.overview.hide();"
            "String(!Main.layoutManager._startingUp && !Main.overview.visible && Main.modalCount == 0)") == "true")
        # The virtual devices, made once: a new keyboard's keymap arrives late for its first key.
        self.eval(self.devices() + "'ok'")
        self.eval(self.devices() + "global._kelvoKeys.notify_keyval(now(), 0xffe1, Clutter.KeyState.PRESSED);"
                  "global._kelvoKeys.notify_keyval(now(), 0xffe1, Clutter.KeyState.RELEASED); 'ok'")
        wait_until("the AppIndicator extension's watcher", lambda: "true" in self.run(
            ["gdbus", "call", "--session", "--dest", "org.kde.StatusNotifierWatcher", "--object-path",
             "/StatusNotifierWatcher", "--method", "org.freedesktop.DBus.Properties.Get",
             "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered"], check=False).stdout, timeout=60)
        # XWayland starts when the first X client knocks; the shell names it and its key in its environment.
        self.display = wait_until("XWayland's display", lambda: self.eval("GLib.getenv('DISPLAY')") or None)
        self.xauthority = self.eval("GLib.getenv('XAUTHORITY')") or None
        self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False, timeout=30)

    def eval(self, code):
        result = self.run(["gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                           "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval", code], check=False)
        match = re.match(r"\((true|false), '(.*)'\)\s*$", result.stdout, re.S)
        if not match or match.group(1) != "true":
            return None
        value = match.group(2)
        return value[1:-1] if value.startswith('"') and value.endswith('"') else value

    def devices(self):
        return ("const Clutter = imports.gi.Clutter; const GLib = imports.gi.GLib;"
                "const seat = Clutter.get_default_backend().get_default_seat();"
                "global._kelvoKeys = global._kelvoKeys || "
                "seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);"
                "global._kelvoPointer = global._kelvoPointer || "
                "seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);"
                "const now = () => GLib.get_monotonic_time();")

    def key(self, code):
        keysym = {KEY_TAB: TAB_KEYSYM, KEY_ESC: ESCAPE_KEYSYM}[code]
        self.eval(self.devices() +
                  f"global._kelvoKeys.notify_keyval(now(), {keysym}, Clutter.KeyState.PRESSED);"
                  f"global._kelvoKeys.notify_keyval(now(), {keysym}, Clutter.KeyState.RELEASED); 'ok'")

    def click(self, x, y):
        self.eval(self.devices() +
                  f"global._kelvoPointer.notify_absolute_motion(now(), {x}, {y});"
                  "global._kelvoPointer.notify_button(now(), Clutter.BUTTON_PRIMARY, Clutter.ButtonState.PRESSED);"
                  "global._kelvoPointer.notify_button(now(), Clutter.BUTTON_PRIMARY, Clutter.ButtonState.RELEASED);"
                  "'ok'")

    def place_others(self):
        wait_until("the Wayland window", lambda: self.eval(
            f"global.get_window_actors().some(a => a.meta_window.get_wm_class() == '{WAYLAND_APP_ID}')") == "true")
        for wm_class, (x, y, w, h) in ((WAYLAND_APP_ID, OTHER_WAYLAND), ("Xmessage", OTHER_X)):
            self.eval("global.get_window_actors().map(a => a.meta_window)"
                      f".filter(w => w.get_wm_class() == '{wm_class}')"
                      f".forEach(w => w.move_resize_frame(true, {x}, {y}, {w}, {h})); 'ok'")

    def wayland_window(self):
        rect = self.eval("global.get_window_actors().map(a => a.meta_window)"
                         f".filter(w => w.get_wm_class() == '{WAYLAND_APP_ID}')"
                         ".map(w => { const r = w.get_frame_rect(); return [r.x, r.y, r.width, r.height].join(' '); })[0]")
        return tuple(int(v) for v in rect.split())

    def screenshot(self, path):
        self.run(["gdbus", "call", "--session", "--dest", "org.gnome.Shell.Screenshot", "--object-path",
                  "/org/gnome/Shell/Screenshot", "--method", "org.gnome.Shell.Screenshot.Screenshot", "false",
                  "false", path])


DESKTOPS = {"kwin": KWin, "gnome": Gnome, "sway": Sway}


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
            self.desktop.key(KEY_ESC)
            if not self.desktop.closed_within(1.5):
                self.desktop.activate(self.desktop.bar_point())  # a second activation closes it
                self.desktop.closed_within(1.5)
        time.sleep(0.4)  # a click right after closing does not reopen it

    def open(self):
        try:
            return self.desktop.open_panel()
        except RuntimeError:
            self.count("opens", False)
            return None

    def keep_shot(self, name):
        """A screenshot kept in --shots (taken into the session's own folder: the desktop's user writes it)."""
        d = self.desktop
        taken = os.path.join(d.runtime, "shot.png")
        try:
            d.screenshot(taken)
            shutil.copy(taken, os.path.join(d.shots, name))
        except (RuntimeError, OSError, subprocess.TimeoutExpired) as error:
            log(f"{d.name}: no screenshot {name}: {error}")

    def run(self, tries, shot_name):
        d = self.desktop
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
            before = d.panel_picture(window)
            d.key(KEY_TAB)
            time.sleep(0.5)
            self.count("Tab moves the focus inside it", d.panel_picture(window) != before)
            if attempt == 0:  # after the keys: GNOME's screenshot takes the keyboard for a moment
                self.keep_shot(f"{shot_name}-open.png")
                log(f"{d.name} ({d.edge} bar): panel at {rect}, icon at {d.icon}")
            d.key(KEY_ESC)
            self.count("Escape closes it", d.closed_within(1.5))
            self.close_if_open()

            for what, point in (("a click on an X window closes it", d.other_x_point),
                                ("a click on a Wayland window closes it", d.other_wayland_point),
                                ("a click on the bare desktop closes it", BARE)):
                if not self.open():
                    continue
                if attempt == 0 and what.startswith("a click on an X"):
                    self.keep_shot(f"{shot_name}-before-click.png")
                d.click(*point)
                self.count(what, d.closed_within(1.5))
                self.close_if_open()
            if d.icon:
                if self.open():
                    time.sleep(0.6)  # past a double-click
                    d.click(*d.icon)
                    closed = d.closed_within(1.5)
                    time.sleep(0.6)
                    self.count("a click on the icon closes it (and does not reopen it)", closed and not d.panel())
                    self.close_if_open()
            opened = d.start_kelvo_again() and d.opened_within(5)
            self.count("a second start opens it", opened)
            if opened:
                time.sleep(1)
                d.key(KEY_ESC)
                self.count("... with the keyboard: Escape closes it", d.closed_within(1.5))
                self.close_if_open()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(SOURCE, "build"))
    parser.add_argument("--tries", type=int, default=10)
    parser.add_argument("--only", default=",".join(DESKTOPS))
    parser.add_argument("--edges", default="top,bottom")
    parser.add_argument("--shots", default=None)
    parser.add_argument("--hold", action="store_true")
    options = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("panel_focus.py runs the compositors as a throwaway user: run it as root")
    names = options.only.split(",")
    install(PACKAGES["common"] + [p for n in names for p in PACKAGES[n]])
    try:
        pwd.getpwnam(USER)
    except KeyError:
        subprocess.run(["useradd", "-M", "-s", "/usr/sbin/nologin", USER], check=True)
    shots = options.shots or os.path.join(options.build, "desktops")
    os.makedirs(shots, exist_ok=True)
    ok = True
    for name in names:
        for edge in options.edges.split(","):
            if name == "gnome" and edge == "bottom":
                continue  # GNOME's top bar does not move
            desktop = DESKTOPS[name](options.build, shots, edge)
            passed = False
            try:
                desktop.setup()
                desktop.start_cloud()
                desktop.start_kelvo()
                if options.hold:
                    log(f"{name}: holding ({desktop.base}); Ctrl+C ends it")
                    log(" ".join(f"{k}={v}" for k, v in desktop.env().items() if k != "PATH"))
                desktop.start_others()
                if desktop.has_icon:
                    time.sleep(2)
                    desktop.locate_icon()
                    desktop.check_icon()
                if options.hold:
                    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
                    signal.sigwait({signal.SIGINT, signal.SIGTERM})
                    return 0
                checks = Checks(desktop)
                checks.run(options.tries, f"{name}-{edge}")
                passed = checks.report()
                ok &= passed
                if not passed:
                    log(f"{name} ({edge} bar): logs in {desktop.base}")
            except Exception as error:  # a desktop that does not come up: say so, go on with the next
                log(f"{name} ({edge} bar): FAILED to run: {error} (logs in {desktop.base})")
                ok = passed = False
            finally:
                desktop.stop()
            if passed:
                shutil.rmtree(desktop.base, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
