#!/usr/bin/env python3
"""Runs one benchmark on a virtual X display with a system tray, as a desktop user has one.

Usage: on-tray.py xembed|sni BENCHMARK [ARGUMENTS...]

Starts Xvfb on a free display (:81 to :90), a private D-Bus session bus, and the tray host: trayer (an XEmbed tray,
no StatusNotifierWatcher on the bus) or status-notifier-watcher with gtk-sni-tray-standalone (a StatusNotifierItem
host). Then it runs BENCHMARK with DISPLAY and DBUS_SESSION_BUS_ADDRESS pointing at them, adds "--platform xcb"
and says which tray it was in BENCH_TRAY. Whatever happens, everything started here is ended on the way out; the
benchmark's exit status is this script's.

Standard library only; needs xvfb, dbus, trayer and haskell-gtk-sni-tray-utils (scripts/install-deps --test).
"""

import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from run_e2e import display_in_use  # noqa: E402  (the end-to-end run's own test of a taken display)

DISPLAYS = range(81, 91)
SCREEN = "1280x800x24"


def wait_for(what, probe, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = probe()
        if value:
            return value
        time.sleep(0.1)
    raise RuntimeError(f"gave up waiting for {what}")


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("xembed", "sni"):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    # Ended from outside: the tray, the bus and the display go too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    kind = sys.argv[1]
    benchmark = sys.argv[2:]
    work = tempfile.mkdtemp(prefix="kelvo-bench-tray-")
    processes = []

    def start(args, env, name):
        log = open(os.path.join(work, name + ".out"), "w")
        process = subprocess.Popen(args, env=env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        processes.append(process)
        return process

    try:
        env = dict(os.environ)
        for key in ("WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM"):
            env.pop(key, None)
        for number in DISPLAYS:
            if display_in_use(number):
                continue
            xvfb = start(["Xvfb", f":{number}", "-screen", "0", SCREEN, "-nolisten", "tcp", "-noreset"], env, "xvfb")
            try:
                wait_for("Xvfb", lambda: os.path.exists(f"/tmp/.X11-unix/X{number}") or xvfb.poll() is not None, 10)
            except RuntimeError:
                pass
            if xvfb.poll() is None and os.path.exists(f"/tmp/.X11-unix/X{number}"):
                env["DISPLAY"] = f":{number}"
                break
        else:
            raise RuntimeError("no free X display among :81..:90")

        bus = start(["dbus-daemon", "--session", "--nofork", "--print-address=1"], env, "dbus")
        address_file = os.path.join(work, "dbus.out")
        env["DBUS_SESSION_BUS_ADDRESS"] = wait_for(
            "the session bus", lambda: (open(address_file).read().splitlines() or [""])[0].strip()
        )
        env["NO_AT_BRIDGE"] = "1"
        if kind == "xembed":
            start(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "28"], env,
                  "trayer")
            wait_for("trayer to own the system tray", lambda: subprocess.run(
                ["xdotool", "search", "--class", "trayer"], env=env, capture_output=True).returncode == 0)
        else:
            start(["status-notifier-watcher"], env, "watcher")
            wait_for("status-notifier-watcher", lambda: "boolean true" in subprocess.run(
                ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                 "org.freedesktop.DBus.NameHasOwner", "string:org.kde.StatusNotifierWatcher"],
                env=env, capture_output=True, text=True).stdout)
            start(["gtk-sni-tray-standalone", "--top"], env, "sni-host")
            wait_for("gtk-sni-tray-standalone's bar", lambda: subprocess.run(
                ["xdotool", "search", "--name", "^gtk-sni-tray-standalone$"], env=env,
                capture_output=True).returncode == 0)
        time.sleep(1.0)  # the host settles before the benchmark's first program looks for it
        env["BENCH_TRAY"] = "trayer (XEmbed)" if kind == "xembed" else "gtk-sni-tray-standalone (StatusNotifierItem)"
        return subprocess.run(benchmark + ["--platform", "xcb"], env=env).returncode
    finally:
        for process in reversed(processes):
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGTERM)
                try:
                    process.wait(timeout=3)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()


if __name__ == "__main__":
    sys.exit(main())
