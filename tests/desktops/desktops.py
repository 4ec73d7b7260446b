"""The desktops most Linux users run, started headless for Kelvo's on-demand desktop checks (make check-desktops).

Shared by every check_*.py beside this file; `make check-desktops` runs each of them as
`check_X.py BUILD_DIR [DESKTOP...]`, and each ends with the line "check-desktops: N passed, M failed". A check does:

    with Desktops(build_dir, "gnome") as session:      # or "plasma", "sway"
        session.start()                               # the compositor, its shell and tray host, on a bus of its own
        kelvo = session.start_kelvo()                 # the real build/kelvo against kelvo-sim, with a key
        session.wait_until("what", probe)             # every wait has a deadline
        session.screenshot("name")                    # PNG in BUILD_DIR/desktops/
        session.registered_items()                    # what the StatusNotifierWatcher holds

What each desktop needs here (found by trying):
- compositors refuse root or misbehave as root: everything runs as a throwaway user (kelvo-desktop) with its own
  HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR (0700), all set before dbus-run-session, so that the
  D-Bus-activated dconf writes where gsettings reads;
- GNOME Shell wants a system bus for its login manager: a private dbus-daemon of type system in the runtime folder;
  it starts Xwayland in /tmp/.X11-unix, which must be the usual world-writable sticky folder;
- the packaged kwin_wayland carries a file capability that a container refuses: a copy without it runs;
- sway runs with the headless wlroots backend and no input devices.

Standard library only. Every process started here is ended on the way out.
"""

import json
import os
import pwd
import re
import shutil
import signal
import subprocess
import tempfile
import time

USER = "kelvo-desktop"
SCREEN = (1280, 800)
STEP_TIMEOUT = 30.0
POLL = 0.25
API_KEY = "desktops-key-4711"
WATCHER = ("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher")

SYSTEM_BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/>
  </policy>
</busconfig>
"""


class CheckFailed(Exception):
    pass


class Desktops:
    """One desktop session of the throwaway user, with Kelvo and the fake cloud."""

    def __init__(self, build_dir, desktop):
        self.build_dir = os.path.abspath(build_dir)
        self.desktop = desktop
        self.shots = os.path.join(self.build_dir, "desktops")
        os.makedirs(self.shots, exist_ok=True)
        self.processes = []
        self.work = tempfile.mkdtemp(prefix=f"kelvo-{desktop}-")
        self.env = {}
        self.log_path = os.path.join(self.shots, f"{desktop}-session.log")
        self.kelvo_log = os.path.join(self.shots, f"{desktop}-kelvo.log")
        self.request_log = os.path.join(self.work, "requests.jsonl")
        self.kelvo = None
        self.kelvo_pid = None
        for log in (self.log_path, self.kelvo_log):
            if os.path.exists(log):
                os.remove(log)

    # --- the session ------------------------------------------------------------------------------------------

    def __enter__(self):
        self.make_user()
        return self

    def __exit__(self, *exc):
        self.stop_all()
        shutil.rmtree(self.work, ignore_errors=True)
        return False

    def make_user(self):
        try:
            pwd.getpwnam(USER)
        except KeyError:
            subprocess.run(["useradd", "-M", "-d", "/nonexistent", "-s", "/usr/sbin/nologin", USER], check=True)
        entry = pwd.getpwnam(USER)
        self.uid, self.gid = entry.pw_uid, entry.pw_gid
        os.chmod(self.work, 0o755)
        for name in ("home", "config", "data", "runtime", "shots"):
            path = os.path.join(self.work, name)
            os.makedirs(path, exist_ok=True)
            os.chown(path, self.uid, self.gid)
        os.chmod(os.path.join(self.work, "runtime"), 0o700)
        os.chmod(os.path.join(self.work, "shots"), 0o777)
        # Xwayland's sockets: the folder every X server shares, world-writable and sticky as on any desktop.
        os.makedirs("/tmp/.X11-unix", exist_ok=True)
        os.chown("/tmp/.X11-unix", 0, 0)
        os.chmod("/tmp/.X11-unix", 0o1777)
        self.env = {
            "PATH": "/usr/local/bin:/usr/bin:/bin:/usr/lib/x86_64-linux-gnu/libexec",
            "HOME": os.path.join(self.work, "home"),
            "XDG_CONFIG_HOME": os.path.join(self.work, "config"),
            "XDG_DATA_HOME": os.path.join(self.work, "data"),
            "XDG_RUNTIME_DIR": os.path.join(self.work, "runtime"),
            "LANG": "C.UTF-8",
            "NO_AT_BRIDGE": "1",
        }

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, text, mode=0o644):
        path = self.path(name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, mode)
        os.chown(path, self.uid, self.gid)
        return path

    def start(self, name, args, env=None, as_user=True, log=None):
        """Starts a process of the session (as the throwaway user) in a process group of its own."""
        full_env = dict(self.env if as_user else os.environ)
        full_env.update(env or {})
        command = ["runuser", "-u", USER, "--", "env", "-i", *[f"{k}={v}" for k, v in full_env.items()], *args] \
            if as_user else args
        out = open(log or self.log_path, "a")
        process = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                   start_new_session=True, env=None if as_user else full_env)
        self.processes.append((name, process))
        return process

    def run(self, args, env=None, timeout=15):
        """Runs a command as the throwaway user inside the session; its output, or "" on failure."""
        full_env = dict(self.env)
        full_env.update(env or {})
        command = ["runuser", "-u", USER, "--", "env", "-i", *[f"{k}={v}" for k, v in full_env.items()], *args]
        try:
            result = subprocess.run(command, capture_output=True, text=True, timeout=timeout, check=False)
        except subprocess.TimeoutExpired:
            return ""
        return result.stdout if result.returncode == 0 else ""

    def stop_all(self):
        for name, process in reversed(self.processes):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    continue
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait(timeout=5)
        self.processes.clear()

    def wait_until(self, what, probe, timeout=STEP_TIMEOUT):
        deadline = time.monotonic() + timeout
        while True:
            result = probe()
            if result:
                return result
            if time.monotonic() > deadline:
                raise CheckFailed(f"{what}: not within {timeout:.0f} s")
            time.sleep(POLL)

    def read(self, path):
        try:
            with open(path, errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def start_session_bus(self, session_script):
        """Runs `session_script` (a shell script's text) under dbus-run-session; it must write its bus address."""
        self.write("session.sh", "#!/bin/sh\necho \"$DBUS_SESSION_BUS_ADDRESS\" > \"$XDG_RUNTIME_DIR/bus-address\"\n"
                   + session_script, 0o755)
        self.session = self.start("session", ["dbus-run-session", "--", self.path("session.sh")])
        address = self.wait_until("the session bus", lambda: self.read(self.path("runtime/bus-address")).strip())
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    # --- D-Bus ------------------------------------------------------------------------------------------------

    def gdbus(self, dest, path, method, *args, timeout=10):
        return self.run(["gdbus", "call", "--session", "--dest", dest, "--object-path", path, "--method", method,
                         *[str(a) for a in args]], timeout=timeout)

    def watcher_property(self, name):
        return self.gdbus(WATCHER[0], WATCHER[1], "org.freedesktop.DBus.Properties.Get", WATCHER[2], name)

    def registered_items(self):
        return re.findall(r"'([^']+)'", self.watcher_property("RegisteredStatusNotifierItems"))

    def host_registered(self):
        return "true" in self.watcher_property("IsStatusNotifierHostRegistered")

    def kelvo_item(self):
        """The name Kelvo's item is registered under, when the watcher holds it."""
        for item in self.registered_items():
            if self.kelvo_pid and re.match(rf"org\.kde\.StatusNotifierItem-{self.kelvo_pid}-\d+", item):
                return item
        return None

    def monitor_menu_calls(self):
        """Starts recording what hosts call on D-Bus menus; menu_calls() reads it."""
        self.menu_monitor_log = self.path("menu-calls.log")
        self.start("dbus-monitor", ["dbus-monitor", "--session", "interface='com.canonical.dbusmenu'"],
                   log=self.menu_monitor_log)

    def menu_calls(self):
        return re.findall(r"member=(\w+)", self.read(self.menu_monitor_log))

    # --- Kelvo --------------------------------------------------------------------------------------------------

    def start_sim(self):
        out = self.path("kelvo-sim.out")
        self.start("kelvo-sim", [os.path.join(self.build_dir, "kelvo-sim"), "--scenario", "e2e", "--port", "0",
                                 "--site-port", "0", "--key", API_KEY, "--log-requests", self.request_log],
                   as_user=False, log=out)
        found = self.wait_until("kelvo-sim to say where it listens", lambda: re.search(
            r"Sensibo demo cloud at (http://127\.0\.0\.1:\d+/api/v2)(?s:.*)maker's site at (http://127\.0\.0\.1:\d+)",
            self.read(out)))
        return found.group(1), found.group(2)

    def start_kelvo(self, env=None):
        """The real Kelvo as the session's user, with a stored key, against kelvo-sim."""
        cloud, site = self.start_sim()
        binary = self.path("kelvo")
        shutil.copy(os.path.join(self.build_dir, "kelvo"), binary)  # the build folder may not be readable by all
        os.chmod(binary, 0o755)
        config = os.path.join(self.env["XDG_CONFIG_HOME"], "kelvo")
        os.makedirs(config, exist_ok=True)
        os.chown(config, self.uid, self.gid)
        with open(os.path.join(config, "preferences.json"), "w") as f:
            json.dump({"sensiboAPIKey": API_KEY, "autoCheckForUpdates": False}, f)
        os.chown(os.path.join(config, "preferences.json"), self.uid, self.gid)
        kelvo_env = {"KELVO_SENSIBO_API_URL": cloud, "KELVO_SITE_URL": site,
                     "QT_LOGGING_RULES": "kelvo.tray.debug=true"}
        kelvo_env.update(env or {})
        process = self.start("kelvo", [binary], kelvo_env, log=self.kelvo_log)
        # runuser and env stand between: Kelvo's own process id names its item.
        self.kelvo_pid = self.wait_until("Kelvo's process", lambda: self.child_pid(process.pid, "kelvo"))
        self.kelvo = process
        return process

    @staticmethod
    def child_pid(parent, name):
        try:
            out = subprocess.run(["pgrep", "-s", str(parent), "-x", name], capture_output=True, text=True).stdout
        except OSError:
            return None
        pids = out.split()
        return int(pids[0]) if pids else None

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
        return self.kelvo.poll() is None and self.kelvo_pid and os.path.exists(f"/proc/{self.kelvo_pid}")

    # --- the desktops -----------------------------------------------------------------------------------------

    def start_gnome(self, x11=True):
        """GNOME Shell 43 with the AppIndicator extension, headless, on a 1280x800 virtual monitor."""
        self.write("system-bus.conf", SYSTEM_BUS_CONFIG.format(socket=self.path("runtime/system_bus_socket")))
        self.start("system bus", ["dbus-daemon", f"--config-file={self.path('system-bus.conf')}", "--nofork"])
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = f"unix:path={self.path('runtime/system_bus_socket')}"
        self.wait_until("the system bus", lambda: os.path.exists(self.path("runtime/system_bus_socket")))
        self.start_session_bus(
            "gsettings set org.gnome.shell enabled-extensions \"['ubuntu-appindicators@ubuntu.com']\"\n"
            f"exec gnome-shell --headless --wayland {'' if x11 else '--no-x11 '}--unsafe-mode "
            f"--virtual-monitor {SCREEN[0]}x{SCREEN[1]} --wayland-display wayland-kelvo\n")
        self.env["WAYLAND_DISPLAY"] = "wayland-kelvo"
        self.wait_until("GNOME Shell to answer", lambda: "true" in self.gnome_eval("1"), timeout=60)
        self.wait_until("the AppIndicator extension's watcher", self.host_registered)
        if x11:
            display = self.wait_until("Xwayland's display", lambda: re.search(r":\d+", self.gnome_eval(
                "GLib.getenv('DISPLAY')")))
            self.env["DISPLAY"] = display.group(0)
            # Mutter's Xwayland lets in only clients that show its cookie.
            cookie = self.wait_until("Xwayland's authority file", lambda: [
                n for n in os.listdir(self.path("runtime")) if n.startswith(".mutter-Xwaylandauth")])
            self.env["XAUTHORITY"] = self.path(f"runtime/{cookie[0]}")

    def gnome_eval(self, script):
        return self.gdbus("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Eval", script)

    def start_plasma(self):
        """KDE Plasma 5.27: kwin_wayland with a virtual output and Xwayland, kded5 (its watcher) and plasmashell."""
        kwin = self.path("kwin_wayland")
        shutil.copy("/usr/bin/kwin_wayland", kwin)  # without the packaged file capability
        os.chmod(kwin, 0o755)
        # Plasma's daemons are Wayland clients: they start once KWin listens.
        self.start_session_bus(
            f"{kwin} --virtual --xwayland --width {SCREEN[0]} --height {SCREEN[1]} --socket wayland-kelvo &\n"
            "while [ ! -S \"$XDG_RUNTIME_DIR/wayland-kelvo\" ]; do sleep 0.2; done\n"
            "export WAYLAND_DISPLAY=wayland-kelvo QT_QPA_PLATFORM=wayland XDG_SESSION_TYPE=wayland "
            "KDE_FULL_SESSION=true XDG_CURRENT_DESKTOP=KDE\n"
            "kactivitymanagerd &\n"
            "kded5 &\n"
            "plasmashell &\n"
            "wait\n")
        self.env["WAYLAND_DISPLAY"] = "wayland-kelvo"
        # The watcher is a module of kded5 that the session manager loads in its second phase; there is none here.
        self.wait_until("kded5's watcher module to load", lambda: "true" in self.gdbus(
            "org.kde.kded5", "/kded", "org.kde.kded5.loadModule", "statusnotifierwatcher"), timeout=60)
        self.wait_until("Plasma's tray to register as a host", self.host_registered, timeout=90)
        display = self.wait_until("KWin's Xwayland", lambda: self.x_display_of(self.session), timeout=30)
        self.env["DISPLAY"] = display

    def start_sway(self, waybar=True):
        """sway 1.7 on the headless wlroots backend, with waybar's tray (or swaybar's when waybar is missing)."""
        waybar_config = self.write("waybar.json", json.dumps(
            {"layer": "top", "position": "top", "height": 28, "modules-right": ["tray", "clock"],
             "tray": {"icon-size": 22, "spacing": 6}}))
        # waybar as swaybar_command never starts on the headless output: it is started as a client of its own.
        bar = f"exec waybar -c {waybar_config}\n" if waybar else "bar {\n  position top\n  tray_output *\n}\n"
        self.write("sway.conf", f"xwayland enable\noutput HEADLESS-1 resolution {SCREEN[0]}x{SCREEN[1]}\n" + bar +
                   f"exec sh -c 'echo $DISPLAY > {self.path('runtime/x-display')}'\n")
        # The headless backend makes no output unless asked, and sway starts no bar without one.
        self.env.update({"WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_HEADLESS_OUTPUTS": "1"})
        self.start_session_bus(f"exec sway -c {self.path('sway.conf')}\n")
        self.wait_until("sway's socket", lambda: [n for n in os.listdir(self.path("runtime")) if n.startswith("wayland-")])
        self.env["WAYLAND_DISPLAY"] = [n for n in os.listdir(self.path("runtime"))
                                       if n.startswith("wayland-") and not n.endswith(".lock")][0]
        swaysock = [n for n in os.listdir(self.path("runtime")) if n.startswith("sway-ipc")]
        if swaysock:
            self.env["SWAYSOCK"] = self.path(f"runtime/{swaysock[0]}")
        self.env["DISPLAY"] = self.wait_until("sway's Xwayland", lambda: self.read(self.path("runtime/x-display")).strip())
        self.wait_until("the bar's tray to register as a host", self.host_registered, timeout=30)

    def x_display_of(self, session):
        """The DISPLAY the compositor of this session started Xwayland on, from the Xwayland command line."""
        out = subprocess.run(["pgrep", "-a", "-s", str(session.pid), "Xwayland"], capture_output=True,
                             text=True).stdout
        found = re.search(r"Xwayland (:\d+)", out)
        return found.group(1) if found else None

    # --- seeing it --------------------------------------------------------------------------------------------

    def screenshot(self, name):
        """A PNG of the whole screen in BUILD_DIR/desktops/<desktop>-<name>.png; its path, or None."""
        inside = self.path(f"shots/{name}.png")
        if self.desktop.startswith("gnome"):
            self.gdbus("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                       "org.gnome.Shell.Screenshot.Screenshot", "false", "false", inside)
        elif self.desktop == "plasma":
            self.run(["spectacle", "-b", "-n", "-f", "-o", inside], {"QT_QPA_PLATFORM": "wayland"}, timeout=30)
        else:
            self.run(["grim", inside])
        if not os.path.exists(inside):
            return None
        kept = os.path.join(self.shots, f"{self.desktop}-{name}.png")
        shutil.copy(inside, kept)
        return kept
