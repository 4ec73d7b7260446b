"""The desktops most Linux users run, started headless for Kelvo's on-demand desktop checks (make check-desktops).

Shared by every check_*.py beside this file; `make check-desktops` runs each of them as
`check_X.py BUILD_DIR [DESKTOP...]` (DESKTOP: gnome, gnome-wayland, plasma, sway), and each ends with the line
"check-desktops: N passed, M failed". A check does:

    with Session(build_dir, "gnome") as session:        # the name its screenshots and logs go by
        session.start_gnome()                           # or start_plasma(edge), start_sway(edge): the compositor,
                                                        # its shell and tray host, on buses of their own
        session.start_kelvo()                           # the real build/kelvo against kelvo-sim, with a key
        wait_until("what", probe)                       # every wait has a deadline
        session.screenshot("name")                      # PNG in BUILD_DIR/desktops/
        session.kelvo_item()                            # Kelvo's item, once the StatusNotifierWatcher holds it

What each desktop needs here (found by trying):
- compositors refuse root or misbehave as root: everything runs as a throwaway user (kelvo-desktop) with its own
  HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR (0700), all set before the session bus starts, so that
  the D-Bus-activated dconf writes where gsettings reads;
- GNOME Shell wants a system bus for its login manager: a private dbus-daemon of type system in the runtime folder;
  it starts Xwayland in /tmp/.X11-unix, which must be the usual world-writable sticky folder, when the first X
  client knocks, and names its DISPLAY and XAUTHORITY in its own environment; it starts in the overview, which
  holds the keyboard until hidden;
- the packaged kwin_wayland carries a file capability that a container refuses: a copy without it runs; its
  Xwayland listens on sockets made here, on a display number of our own (160-179) with our own cookie;
  kded5 loads the StatusNotifierWatcher module only in the session manager's second phase: asked for here;
- sway runs with the headless wlroots backend, the pixman renderer and no input devices; waybar as its
  swaybar_command never starts on the headless output, so it is started as a client of its own; sway's DISPLAY
  and SWAYSOCK come from its own environment.

Standard library only. Every process started here is ended on the way out; logs go to BUILD_DIR/desktops.
"""

import glob
import json
import os
import pwd
import re
import secrets
import shutil
import signal
import socket
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
USER = "kelvo-desktop"
SCREEN = (1280, 800)
X_DISPLAYS = range(160, 180)  # for the X servers started here (KWin's Xwayland)
STEP_TIMEOUT = 30.0
POLL = 0.1
API_KEY = "desktops-key-4711"
NOTICE = "Kelvo 1.1 is out."
WATCHER = ("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher")
ITEM_PATH = "/StatusNotifierItem"


KEYS = {"Tab": (15, 0xFF09), "Escape": (1, 0xFF1B)}  # Linux input key codes and X keysyms
GNOME_BUTTONS = {"left": "PRIMARY", "right": "SECONDARY"}
# Clutter's virtual keyboard and pointer in the shell, made on first use and kept.
GNOME_DEVICES = ("const Clutter = imports.gi.Clutter; const GLib = imports.gi.GLib;"
                 "const seat = Clutter.get_default_backend().get_default_seat();"
                 "global._kelvoKeys = global._kelvoKeys || "
                 "seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);"
                 "global._kelvoPointer = global._kelvoPointer || "
                 "seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);"
                 "let t = GLib.get_monotonic_time(); const now = () => (t += 20000);")


# The AppIndicator extension's actor for Kelvo's item in the top bar, as JSON: its box and whether it shows.
GNOME_ICON = """(() => {
  const key = Object.keys(Main.panel.statusArea).find(k => {
    const a = Main.panel.statusArea[k];
    return k.startsWith('appindicator-') && a._indicator && a._indicator.id === 'kelvo';
  });
  if (!key) return null;
  const a = Main.panel.statusArea[key];
  const [x, y] = a.get_transformed_position();
  return {x, y, width: a.width, height: a.height, visible: a.visible && a.mapped, open: a.menu.isOpen};
})()"""

class CheckFailed(Exception):
    pass


def gnome_icon(session):
    """Kelvo's icon in the top bar, when it shows."""
    icon = eval_json(session, GNOME_ICON)
    return icon if icon and icon["visible"] and icon["width"] > 0 else None


def eval_json(session, script):
    out = session.gnome_eval(script)
    if out is None:
        return None
    # gdbus prints the JSON as a GVariant string, with its quotes and other characters escaped.
    text = out.encode().decode("unicode_escape").encode("latin-1").decode("utf-8")
    try:
        return json.loads(text)
    except json.JSONDecodeError:
        return None


def wait_until(what, probe, timeout=STEP_TIMEOUT, interval=POLL):
    """The probe's first true answer; CheckFailed when none comes within `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise CheckFailed(f"{what}: not within {timeout:.0f} s")
        time.sleep(interval)


def log(text):
    print(text, flush=True)


def changed_spot(before, after, box, least=40):
    """The centre of what differs between two screenshots inside `box` (x, y, width, height), or None when fewer
    than `least` pixels changed (Kelvo's icon at 16 px changes a few hundred)."""
    x0, y0, w, h = box

    def pixels(png):
        return subprocess.run(["convert", png, "-crop", f"{w}x{h}+{x0}+{y0}", "+repage", "-depth", "8", "rgb:-"],
                              capture_output=True, check=True).stdout

    old, new = pixels(before), pixels(after)
    hits = [(i // 3 % w, i // 3 // w) for i in range(0, min(len(old), len(new)) - 2, 3)
            if max(abs(old[i + c] - new[i + c]) for c in range(3)) > 24]
    if len(hits) < least:
        return None
    xs, ys = sorted(p[0] for p in hits), sorted(p[1] for p in hits)
    return (x0 + xs[len(xs) // 2], y0 + ys[len(ys) // 2])


def find_text(png, text, box):
    """The centre of the words `text` on one line inside `box` (x, y, width, height) of a screenshot, or None: read
    by tesseract from the box at twice its size."""
    x0, y0, w, h = box
    big = png + ".ocr.png"
    subprocess.run(["convert", png, "-crop", f"{w}x{h}+{x0}+{y0}", "+repage", "-resize", "200%", big], check=True)
    tsv = subprocess.run(["tesseract", big, "-", "tsv"], capture_output=True, text=True).stdout
    words = []
    for row in (line.split("\t") for line in tsv.splitlines()[1:]):
        if len(row) == 12 and row[11].strip():
            left, top, width, height = (int(v) for v in row[6:10])
            words.append((row[11].strip(), tuple(row[2:5]), left, top, left + width, top + height))
    wanted = text.split()
    for i in range(len(words) - len(wanted) + 1):
        run = words[i:i + len(wanted)]
        if [word[0] for word in run] == wanted and len({word[1] for word in run}) == 1:
            return (x0 + (run[0][2] + run[-1][4]) // 4, y0 + (run[0][3] + run[0][5]) // 4)
    return None


def build_input_tool(folder):
    """wayland_input.c (input as the compositor receives it), built against the two protocols it speaks."""
    binary = os.path.join(folder, "wayland_input")
    if os.path.exists(binary):
        return binary
    os.makedirs(folder, exist_ok=True)
    sources = [os.path.join(HERE, "wayland_input.c")]
    for protocol, name in (("/usr/share/plasma-wayland-protocols/fake-input.xml", "fake-input"),
                           (os.path.join(HERE, "virtual-pointer.xml"), "virtual-pointer")):
        subprocess.run(["wayland-scanner", "client-header", protocol,
                        os.path.join(folder, f"{name}-client-protocol.h")], check=True)
        sources.append(os.path.join(folder, f"{name}-protocol.c"))
        subprocess.run(["wayland-scanner", "private-code", protocol, sources[-1]], check=True)
    subprocess.run(["cc", "-O1", "-I", folder, "-o", binary, *sources, "-lwayland-client"], check=True)
    os.chmod(binary, 0o755)
    return binary


class Session:
    """One desktop session of the throwaway user, with Kelvo and the fake cloud."""

    def __init__(self, build_dir, name):
        self.build_dir = os.path.abspath(build_dir)
        self.name = name
        self.shots = os.path.join(self.build_dir, "desktops")
        os.makedirs(self.shots, exist_ok=True)
        for old in os.listdir(self.shots):
            if old.startswith(f"{name}-") and old.endswith(".log"):
                os.remove(os.path.join(self.shots, old))
        self.processes = []
        self.cleanups = []
        self.kelvo = None
        self.kelvo_pid = None
        self.without_kelvo = None  # a screenshot from before Kelvo started
        self.menu_monitor_log = None
        self.kind = None  # gnome, plasma or sway, once started

    # --- the session ------------------------------------------------------------------------------------------

    def __enter__(self):
        try:
            entry = pwd.getpwnam(USER)
        except KeyError:
            subprocess.run(["useradd", "-M", "-d", "/nonexistent", "-s", "/usr/sbin/nologin", USER], check=True)
            entry = pwd.getpwnam(USER)
        self.uid, self.gid = entry.pw_uid, entry.pw_gid
        self.work = tempfile.mkdtemp(prefix=f"kelvo-{self.name}-")
        os.chmod(self.work, 0o755)
        for folder in ("home", "config/kelvo", "data", "cache", "runtime", "tools"):
            os.makedirs(self.path(folder), exist_ok=True)
        os.chmod(self.path("runtime"), 0o700)
        self.chown(self.work)
        # The folder every X server shares, world-writable and sticky as on any desktop.
        os.makedirs("/tmp/.X11-unix", exist_ok=True)
        os.chmod("/tmp/.X11-unix", 0o1777)
        self.bus = f"unix:path={self.path('runtime/bus')}"
        self.env = {
            "PATH": "/usr/local/bin:/usr/bin:/bin:/usr/lib/x86_64-linux-gnu/libexec",
            "HOME": self.path("home"),
            "USER": USER,
            "LOGNAME": USER,
            "XDG_CONFIG_HOME": self.path("config"),
            "XDG_DATA_HOME": self.path("data"),
            "XDG_CACHE_HOME": self.path("cache"),
            "XDG_RUNTIME_DIR": self.path("runtime"),
            "DBUS_SESSION_BUS_ADDRESS": self.bus,
            "LANG": "C.UTF-8",
            "NO_AT_BRIDGE": "1",
        }
        return self

    def __exit__(self, *exc):
        self.stop_all()
        for cleanup in self.cleanups:
            cleanup()
        shutil.rmtree(self.work, ignore_errors=True)
        return False

    def path(self, name):
        return os.path.join(self.work, name)

    def chown(self, path):
        for root, folders, files in os.walk(path):
            for name in [root] + [os.path.join(root, f) for f in folders + files]:
                os.lchown(name, self.uid, self.gid)
        if not os.path.isdir(path):
            os.lchown(path, self.uid, self.gid)

    def write(self, name, text, mode=0o644):
        path = self.path(name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, mode)
        os.chown(path, self.uid, self.gid)
        return path

    def read(self, path):
        try:
            with open(path, errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def log_path(self, label):
        return os.path.join(self.shots, f"{self.name}-{label}.log")

    def environment(self, extra=None):
        """The session's environment with `extra`'s values; a value of None takes the variable out."""
        env = dict(self.env)
        for key, value in (extra or {}).items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = str(value)
        return env

    def as_user(self):
        return {"user": self.uid, "group": self.gid, "extra_groups": [], "cwd": self.path("home")}

    def start(self, label, args, env=None, pass_fds=(), as_user=True):
        """Starts a process of the session (as the throwaway user) in a process group of its own."""
        with open(self.log_path(label), "ab") as out:
            process = subprocess.Popen(args, env=self.environment(env) if as_user else dict(os.environ, **(env or {})),
                                       stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                       pass_fds=pass_fds, start_new_session=True,
                                       **(self.as_user() if as_user else {}))
        self.processes.append((label, process))
        return process

    def run(self, args, env=None, timeout=20):
        """Runs a command as the throwaway user; its CompletedProcess (returncode -1 when it timed out)."""
        try:
            return subprocess.run(args, env=self.environment(env), capture_output=True, text=True, timeout=timeout,
                                  **self.as_user())
        except subprocess.TimeoutExpired:
            return subprocess.CompletedProcess(args, -1, "", "timed out")

    def output(self, args, env=None, timeout=20):
        """What a command prints, or "" when it fails."""
        result = self.run(args, env, timeout)
        return result.stdout if result.returncode == 0 else ""

    def stop_all(self):
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
                process.wait(timeout=5)
        self.processes.clear()

    def copy_of(self, source, name=None):
        """A copy the throwaway user can run whatever the build folder's permissions."""
        copy = self.path(f"tools/{name or os.path.basename(source)}")
        if not os.path.exists(copy):
            shutil.copy(source, copy)  # no file capabilities come along
            os.chmod(copy, 0o755)
        return copy

    def copy_of_kelvo(self):
        """A copy of build/kelvo with the tray application it loads from beside it (lib/.../libkelvo-tray.so)."""
        for library in glob.glob(os.path.join(self.build_dir, "lib", "**", "libkelvo-tray.so"), recursive=True):
            copy = self.path(f"tools/{os.path.relpath(library, self.build_dir)}")
            os.makedirs(os.path.dirname(copy), exist_ok=True)
            shutil.copy(library, copy)
            self.chown(self.path("tools"))
        return self.copy_of(os.path.join(self.build_dir, "kelvo"))

    def start_bus(self):
        self.start("dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--address={self.bus}"])
        wait_until("the session bus", lambda: os.path.exists(self.path("runtime/bus")))

    # --- D-Bus ------------------------------------------------------------------------------------------------

    def gdbus(self, dest, path, method, *args, timeout=10):
        return self.output(["gdbus", "call", "--session", "--dest", dest, "--object-path", path, "--method", method,
                            *[str(a) for a in args]], timeout=timeout)

    def watcher_property(self, name):
        return self.gdbus(WATCHER[0], WATCHER[1], "org.freedesktop.DBus.Properties.Get", WATCHER[2], name)

    def registered_items(self):
        return re.findall(r"'([^']+)'", self.watcher_property("RegisteredStatusNotifierItems"))

    def host_registered(self):
        return "true" in self.watcher_property("IsStatusNotifierHostRegistered")

    def wait_for_host(self, what, timeout=60):
        wait_until(f"{what} to register as a tray host", self.host_registered, timeout=timeout)

    def kelvo_item(self):
        """The name Kelvo's item is registered under, when the watcher holds it."""
        for item in self.registered_items():
            if self.kelvo_pid and re.match(rf"org\.kde\.StatusNotifierItem-{self.kelvo_pid}-\d+", item):
                return item.split("/")[0]
        return None

    def item_call(self, method, *args):
        return self.gdbus(self.kelvo_item(), ITEM_PATH, f"org.kde.StatusNotifierItem.{method}", *args)

    def monitor_menu_calls(self):
        """Starts recording what hosts call on D-Bus menus; menu_calls() reads it."""
        self.menu_monitor_log = self.log_path("menu-calls")
        self.start("menu-calls", ["dbus-monitor", "--session", "interface='com.canonical.dbusmenu'"])

    def menu_calls(self):
        return re.findall(r"member=(\w+)", self.read(self.menu_monitor_log))

    # --- Kelvo --------------------------------------------------------------------------------------------------

    def start_kelvo(self, env=None):
        """kelvo-sim (the fake cloud, with an update notice) and the real Kelvo as the session's user, with a key."""
        self.request_log = self.path("runtime/requests.jsonl")
        sim_log = self.log_path("kelvo-sim")
        self.start("kelvo-sim", [self.copy_of(os.path.join(self.build_dir, "kelvo-sim")), "--scenario", "e2e",
                                 "--port", "0", "--site-port", "0", "--key", API_KEY, "--notice", NOTICE,
                                 "--log-requests", self.request_log])
        found = wait_until("kelvo-sim to say where it listens", lambda: re.search(
            r"Sensibo demo cloud at (http://127\.0\.0\.1:\d+/api/v2)(?s:.*)maker's site at (http://127\.0\.0\.1:\d+)",
            self.read(sim_log)))
        with open(self.path("config/kelvo/preferences.json"), "w") as f:
            json.dump({"sensiboAPIKey": API_KEY, "hasLaunchedBefore": True, "lastUpdateText": NOTICE}, f)
        self.chown(self.path("config"))
        self.kelvo_env = {"KELVO_SENSIBO_API_URL": found.group(1), "KELVO_SITE_URL": found.group(2),
                          "QT_LOGGING_RULES": "kelvo.tray.debug=true", **(env or {})}
        self.without_kelvo = self.screenshot("without-kelvo", keep=False)
        self.kelvo = self.start("kelvo", [self.copy_of_kelvo()], self.kelvo_env)
        self.kelvo_pid = self.kelvo.pid
        return self.kelvo

    def start_kelvo_again(self):
        """A second start (from a menu or a shortcut): it hands over to the running Kelvo, which opens its panel."""
        return "its panel was opened" in self.run([self.path("tools/kelvo")], self.kelvo_env).stdout

    def requests(self):
        found = []
        for line in self.read(self.request_log).splitlines():
            try:
                found.append(json.loads(line))
            except json.JSONDecodeError:
                continue
        return found

    def patches(self):
        return [r for r in self.requests() if r.get("method") == "PATCH"]

    def kelvo_running(self):
        return self.kelvo is not None and self.kelvo.poll() is None

    # --- the desktops -----------------------------------------------------------------------------------------

    def start_gnome(self, x11=True):
        """GNOME Shell 43 with the AppIndicator extension, headless, on a 1280x800 virtual monitor, out of its
        overview; with Xwayland unless x11 is False."""
        self.kind = "gnome"
        system_bus = self.path("runtime/system_bus")
        config = self.write("system-bus.conf", (
            "<!DOCTYPE busconfig PUBLIC '-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN' "
            "'http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd'>\n"
            f"<busconfig><type>system</type><listen>unix:path={system_bus}</listen><auth>EXTERNAL</auth>"
            "<policy context='default'><allow user='*'/><allow own='*'/><allow send_type='method_call'/>"
            "<allow send_destination='*'/><allow receive_type='*'/><allow eavesdrop='true'/></policy></busconfig>\n"))
        self.start("system-bus", ["dbus-daemon", f"--config-file={config}", "--nofork", "--nopidfile"])
        self.start_bus()
        wait_until("the system bus", lambda: os.path.exists(system_bus))
        for schema, key, value in (
            ("org.gnome.shell", "enabled-extensions", "['ubuntu-appindicators@ubuntu.com']"),
            ("org.gnome.shell", "welcome-dialog-last-shown-version", "'999'"),
            ("org.gnome.desktop.interface", "enable-animations", "false"),
        ):
            self.run(["gsettings", "set", schema, key, value], {"GSETTINGS_BACKEND": "dconf"})
        self.env["WAYLAND_DISPLAY"] = f"kelvo-{self.name}"
        self.start("shell", ["gnome-shell", "--headless", "--wayland", *([] if x11 else ["--no-x11"]),
                             "--virtual-monitor", f"{SCREEN[0]}x{SCREEN[1]}", "--wayland-display",
                             self.env["WAYLAND_DISPLAY"], "--unsafe-mode"],
                   {"DBUS_SYSTEM_BUS_ADDRESS": f"unix:path={system_bus}", "XDG_SESSION_TYPE": "wayland",
                    "XDG_CURRENT_DESKTOP": "GNOME", "MUTTER_DEBUG": os.environ.get("MUTTER_DEBUG"),
                    "MUTTER_VERBOSE": os.environ.get("MUTTER_VERBOSE")})
        wait_until("GNOME Shell's Eval", lambda: self.gnome_eval("1 + 1") == "2", timeout=60)
        # GNOME starts in the Activities overview, which holds the keyboard: gone once the start has settled.
        wait_until("GNOME Shell out of its overview", lambda: self.gnome_eval(
            "const Main = imports.ui.main; if (!Main.layoutManager._startingUp) Main.overview.hide();"
            "String(!Main.layoutManager._startingUp && !Main.overview.visible && Main.modalCount == 0)") == "true")
        # The virtual devices, made once: a new keyboard's keymap arrives late for its first key.
        self.gnome_eval(GNOME_DEVICES + "global._kelvoKeys.notify_keyval(now(), 0xffe1, Clutter.KeyState.PRESSED);"
                        "global._kelvoKeys.notify_keyval(now(), 0xffe1, Clutter.KeyState.RELEASED); 'ok'")
        self.wait_for_host("the AppIndicator extension")
        # The extension drops an item now and then (1 in 5) when it comes within a second or two of the shell's
        # start: its own race, which the checks are not about.
        time.sleep(3)
        if x11:
            # Xwayland starts when the first X client knocks; the shell names it and its key in its environment.
            self.env["DISPLAY"] = wait_until("Xwayland's display", lambda: self.gnome_eval("GLib.getenv('DISPLAY')"))
            self.env["XAUTHORITY"] = self.gnome_eval("GLib.getenv('XAUTHORITY')") or ""
            self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], timeout=30)

    def gnome_eval(self, code):
        """What org.gnome.Shell.Eval gives for `code` (a string's quotes taken off), or None."""
        out = self.gdbus("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Eval", code)
        match = re.match(r"\((true|false), '(.*)'\)\s*$", out, re.S)
        if not match or match.group(1) != "true":
            return None
        value = match.group(2)
        return value[1:-1] if value.startswith('"') and value.endswith('"') else value

    # --- input as the compositor receives it (xdotool reaches only Xwayland's focus, even where the compositor
    # gives none): Clutter's virtual devices on GNOME, KWin's fake input, wlroots' virtual pointer and wtype on sway

    def click(self, x, y, button="left", clicks=1):
        if self.kind == "gnome":
            press = "".join(f"global._kelvoPointer.notify_button(now(), Clutter.BUTTON_{GNOME_BUTTONS[button]}, "
                            f"Clutter.ButtonState.{state});" for _ in range(clicks) for state in ("PRESSED", "RELEASED"))
            self.gnome_eval(GNOME_DEVICES + f"global._kelvoPointer.notify_absolute_motion(now(), {x}, {y});"
                            + press + "'ok'")
        else:
            steps = [a for _ in range(clicks) for a in ("click" if button == "left" else "rclick", str(x), str(y))]
            self.run([self.input_tool, *steps], {"SCREEN_SIZE": f"{SCREEN[0]}x{SCREEN[1]}"})

    def key(self, name):
        """Presses and releases a key: "Tab" or "Escape"."""
        if self.kind == "gnome":
            keysym = KEYS[name][1]
            self.gnome_eval(GNOME_DEVICES + f"global._kelvoKeys.notify_keyval(now(), {keysym}, Clutter.KeyState.PRESSED);"
                            f"global._kelvoKeys.notify_keyval(now(), {keysym}, Clutter.KeyState.RELEASED); 'ok'")
        elif self.kind == "plasma":
            self.run([self.input_tool, "key", str(KEYS[name][0])])
        else:
            # A new virtual keyboard brings a new keymap, and Xwayland drops keys that come before it has taken it.
            self.run(["wtype", "-s", "400", "-k", name])

    def start_plasma(self, edge="bottom"):
        """KDE Plasma 5.27: kwin_wayland with a virtual output and Xwayland, kded5 (its watcher) and plasmashell,
        its panel at `edge`."""
        self.kind = "plasma"
        kwin = self.copy_of("/usr/bin/kwin_wayland")
        self.input_tool = build_input_tool(self.path("tools"))
        self.chown(self.path("tools"))
        self.start_bus()
        fds = self.claim_x_display()
        self.env["WAYLAND_DISPLAY"] = f"kelvo-{self.name}"
        # No permission checks: they keep the fake input tool out, as they would keep out any tool not installed
        # with a desktop entry that names the protocol.
        self.start("kwin", [kwin, "--virtual", "--width", str(SCREEN[0]), "--height", str(SCREEN[1]), "--socket",
                            self.env["WAYLAND_DISPLAY"], "--xwayland", "--xwayland-display", self.env["DISPLAY"],
                            "--xwayland-xauthority", self.env["XAUTHORITY"], "--no-lockscreen",
                            *[a for fd in fds for a in ("--xwayland-fd", str(fd))]],
                   {"KWIN_WAYLAND_NO_PERMISSION_CHECKS": "1", "QT_LOGGING_RULES": "kwin_scripting=true"},
                   pass_fds=fds)
        for fd in fds:
            os.close(fd)
        wait_until("KWin's Xwayland", lambda: "window id" in self.output(["xprop", "-root",
                                                                         "_NET_SUPPORTING_WM_CHECK"]), timeout=60)
        shell = {"QT_QPA_PLATFORM": "wayland", "XDG_SESSION_TYPE": "wayland", "XDG_CURRENT_DESKTOP": "KDE",
                 "KDE_FULL_SESSION": "true", "KDE_SESSION_VERSION": "5"}
        self.start("kactivitymanagerd", ["kactivitymanagerd"], shell)
        self.start("kded5", ["kded5"], shell)
        self.start("plasmashell", ["plasmashell", "--no-respawn"], shell)
        wait_until("kded5's watcher module to load", lambda: "true" in self.gdbus(
            "org.kde.kded5", "/kded", "org.kde.kded5.loadModule", "statusnotifierwatcher"), timeout=60)
        self.wait_for_host("Plasma's system tray", timeout=90)
        if edge == "top":
            self.gdbus("org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript",
                       "panels()[0].location = 'top'")
        time.sleep(3)  # the panel settles

    def claim_x_display(self):
        """Xwayland's sockets on a display number of our own, set up as kwin_wayland_wrapper does; their fds."""
        for number in X_DISPLAYS:
            lock = f"/tmp/.X{number}-lock"
            try:
                fd = os.open(lock, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o444)
            except FileExistsError:
                continue
            os.write(fd, f"{os.getpid():>10}\n".encode())
            os.close(fd)
            path = f"/tmp/.X11-unix/X{number}"
            if os.path.exists(path):
                os.remove(path)
            self.cleanups.append(lambda: [os.remove(p) for p in (lock, path) if os.path.exists(p)])
            sockets = []
            for address in (path, "\0" + path):
                listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                listener.bind(address)
                if not address.startswith("\0"):
                    os.chmod(address, 0o777)  # the throwaway user's Xwayland serves it
                listener.listen(16)
                sockets.append(listener)
            self.env["DISPLAY"] = f":{number}"
            self.env["XAUTHORITY"] = self.path("runtime/xauthority")
            subprocess.run(["xauth", "-f", self.env["XAUTHORITY"], "add", self.env["DISPLAY"], "MIT-MAGIC-COOKIE-1",
                            secrets.token_hex(16)], check=True, capture_output=True)
            self.chown(self.path("runtime"))
            fds = [listener.detach() for listener in sockets]
            for fd in fds:
                os.set_inheritable(fd, True)
            return fds
        raise CheckFailed(f"no free X display number in {X_DISPLAYS.start}-{X_DISPLAYS.stop - 1}")

    def kwin_script(self, code):
        """Runs a KWin script; what it print()s lands in the kwin log."""
        path = self.write(f"runtime/script-{secrets.token_hex(4)}.js", code)
        number = re.search(r"(\d+)", self.gdbus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.loadScript",
                                                 path, os.path.basename(path)) or "x")
        if number:
            self.gdbus("org.kde.KWin", f"/{number.group(1)}", "org.kde.kwin.Script.run")
        time.sleep(0.3)
        self.gdbus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.unloadScript", os.path.basename(path))

    def start_sway(self, edge="top", bar="waybar"):
        """sway 1.7 on the headless wlroots backend with Xwayland, and the tray of waybar (or of swaybar) at
        `edge`."""
        self.kind = "sway"
        self.input_tool = build_input_tool(self.path("tools"))
        self.start_bus()
        if bar == "waybar":
            waybar = self.write("waybar.json", json.dumps(
                {"layer": "top", "position": edge, "height": 28, "modules-right": ["tray"],
                 "tray": {"icon-size": 22, "spacing": 6}}))  # no clock: nothing else in the bar changes
            bar_config = f"exec waybar -c {waybar}\n"
        else:
            bar_config = f"bar {{\n  position {edge}\n  tray_output *\n}}\n"
        config = self.write("sway.config",
                            f"output * resolution {SCREEN[0]}x{SCREEN[1]} bg #2e4a5a solid_color\n"
                            "xwayland force\n"
                            "focus_follows_mouse no\n"
                            f"exec env > {self.path('runtime/session.env')}\n" + bar_config)
        self.chown(self.path("tools"))
        self.start("sway", ["sway", "--config", config],
                   {"WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_HEADLESS_OUTPUTS": "1",
                    "WLR_RENDERER": "pixman"})

        def session_env():
            values = dict(line.split("=", 1) for line in self.read(self.path("runtime/session.env")).splitlines()
                          if "=" in line)
            return values if all(k in values for k in ("WAYLAND_DISPLAY", "DISPLAY", "SWAYSOCK")) else None

        found = wait_until("sway's session", session_env)
        for key in ("WAYLAND_DISPLAY", "DISPLAY", "SWAYSOCK"):
            self.env[key] = found[key]
        wait_until("sway's Xwayland", lambda: self.run(["xprop", "-root"]).returncode == 0)
        self.wait_for_host(f"{bar}'s tray", timeout=30)
        time.sleep(1)  # the bar settles

    def swaymsg(self, *command):
        return self.output(["swaymsg", *command])

    # --- seeing it --------------------------------------------------------------------------------------------

    def new_icon(self, box):
        """Where an icon has come in `box` of the screen since Kelvo started, or None. Keep clocks out of the box."""
        shot = self.screenshot("icon", keep=False)
        return shot and self.without_kelvo and changed_spot(self.without_kelvo, shot, box)

    def screenshot(self, name, keep=True):
        """A PNG of the whole screen; kept as BUILD_DIR/desktops/<session>-<name>.png. Its path, or None."""
        inside = self.path(f"runtime/{name}.png")
        if os.path.exists(inside):
            os.remove(inside)
        if self.kind == "sway":
            self.run(["grim", inside])
        elif self.kind == "plasma":
            self.run(["spectacle", "-b", "-n", "-f", "-o", inside], {"QT_QPA_PLATFORM": "wayland"}, timeout=30)
        else:
            self.gdbus("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                       "org.gnome.Shell.Screenshot.Screenshot", "false", "false", inside)
        if not os.path.exists(inside):
            return None
        if not keep:
            return inside
        kept = os.path.join(self.shots, f"{self.name}-{name}.png")
        shutil.copy(inside, kept)
        return kept
