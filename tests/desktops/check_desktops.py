#!/usr/bin/env python3
"""Kelvo's tray item and menu on the desktops most people run: GNOME Shell 43 with the AppIndicator extension,
KDE Plasma 5.27 and sway 1.7 with waybar, each headless (see desktops.py). On demand only (make check-desktops):
it needs a large desktop install, which scripts/install-desktop-deps brings.

  gnome   the extension accepts the item (RegisteredStatusNotifierItems, no "Menu was not found", an icon in the
          top bar), reads its D-Bus menu, shows it on a left click with Kelvo's entries, a mode chosen there reaches
          the cloud as one PATCH, and a double click (Activate) opens the panel below the icon;
  gnome-wayland  the same item and menu with GNOME started without Xwayland (Kelvo on Qt's Wayland platform);
  plasma  Plasma's tray accepts the item, draws its icon and reads its D-Bus menu; a right click on the icon shows
          that menu, and its "Open Kelvo" opens the panel;
  sway    the same with waybar's tray.
The panel's keyboard and closing on each desktop are check_panel.py's.

Usage: check_desktops.py BUILD_DIR [gnome] [gnome-wayland] [plasma] [sway]   (all when none is named)
Screenshots and logs go to BUILD_DIR/desktops. The last line is "check-desktops: N passed, M failed".
"""

import json
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktops import (  # noqa: E402
    GNOME_ICON, SCREEN, CheckFailed, Session, eval_json, find_text, gnome_icon, log, wait_until)

MENU_ENTRIES = ["Power", "Open Kelvo", "Settings...", "Quit Kelvo"]

# The labels of the open menu's entries, submenus' own entries after theirs, as JSON.
GNOME_MENU = """(() => {
  const PopupMenu = imports.ui.popupMenu;
  const a = Object.values(Main.panel.statusArea).find(a => a._indicator && a._indicator.id === 'kelvo');
  const list = (menu) => menu._getMenuItems().flatMap(i => {
    if (i instanceof PopupMenu.PopupSeparatorMenuItem) return [{label: '-'}];
    const [x, y] = i.get_transformed_position();
    const me = {label: i.label ? i.label.text : '?', x, y, width: i.width, height: i.height,
                shown: i.visible && i.mapped, sensitive: i.reactive,
                dot: i._ornament === PopupMenu.Ornament.DOT, check: i._ornament === PopupMenu.Ornament.CHECK};
    return i.menu ? [me, ...list(i.menu).map(c => Object.assign(c, {parent: me.label}))] : [me];
  });
  return a && a.menu.isOpen ? list(a.menu) : null;
})()"""

# Kelvo's windows as the compositor has them: title and frame.
GNOME_WINDOWS = """global.get_window_actors().map(w => {
  const m = w.meta_window; const r = m.get_frame_rect();
  return {title: m.get_title(), wmclass: m.get_wm_class(), x: r.x, y: r.y, width: r.width, height: r.height,
          shown: w.visible};
}).filter(w => w.title === 'Kelvo' || /kelvo/i.test(w.wmclass || ''))"""


# The title of the window the compositor gives the keyboard to.
GNOME_FOCUS = "(() => { const w = global.display.focus_window; return w ? w.get_title() : 'none'; })()"


def accepted(session, what):
    item = wait_until(f"{what} to accept Kelvo's item (RegisteredStatusNotifierItems)", session.kelvo_item,
                              timeout=45)
    log(f"   {what}: registered as {item}")
    return item


def gnome_menu(session):
    return eval_json(session, GNOME_MENU)


def gnome_entry(session, label):
    """The shown entry of the open menu whose label starts with `label`."""
    return next((e for e in gnome_menu(session) or [] if e.get("shown") and e["label"].startswith(label)), None)


def gnome_click(session, box, clicks=1):
    session.click(round(box["x"] + min(40, box["width"] / 2)), round(box["y"] + box["height"] / 2), clicks=clicks)


def gnome_panel(session):
    return next((w for w in eval_json(session, GNOME_WINDOWS) or [] if w["width"] >= 280 and w["shown"]), None)


def check_gnome(build_dir, x11=True):
    """With Xwayland Kelvo runs on it, as it chooses to; without (x11=False) on Qt's Wayland platform, where the
    panel is a window the compositor places, so only the item and its menu are checked."""
    with Session(build_dir, "gnome" if x11 else "gnome-wayland") as session:
        session.start_gnome(x11)
        session.monitor_menu_calls()
        session.start_kelvo()
        item = accepted(session, "GNOME's AppIndicator extension")
        try:
            icon = wait_until("Kelvo's icon in the top bar", lambda: gnome_icon(session))
        except CheckFailed:
            if f"While initalizing proxy for {item}" in session.read(session.log_path("shell")):
                raise CheckFailed("the extension dropped the item while setting it up (its race between the item's "
                                  "name showing up and reading its properties; see the shell's log)")
            raise
        log(f"   icon at {icon['x']:.0f},{icon['y']:.0f} {icon['width']:.0f}x{icon['height']:.0f}")
        shell_log = session.read(session.log_path("shell"))
        if "was not found" in shell_log:
            raise CheckFailed("the shell's log says a property was not found: " +
                              [line for line in shell_log.splitlines() if "was not found" in line][0])
        wait_until("the extension to read Kelvo's menu (GetLayout)", lambda: "GetLayout" in session.menu_calls())
        wait_until("the first device list", lambda: session.requests())
        time.sleep(1)
        session.screenshot("icon")

        # A left click: the extension draws Kelvo's menu.
        def open_menu():
            wait_until("the menu to be closed", lambda: not (eval_json(session, GNOME_ICON) or {}).get("open"))
            gnome_click(session, icon)
            return wait_until("the menu to open on a left click", lambda: gnome_menu(session))

        entries = open_menu()
        labels = [e["label"] for e in entries if e.get("shown", True)]
        log(f"   menu: {labels}")
        missing = [e for e in MENU_ENTRIES if e not in labels]
        if missing or not any(label.startswith("Living Room — ") for label in labels):
            raise CheckFailed(f"the menu lacks {missing or 'the device line'}: {labels}")
        time.sleep(0.5)
        session.screenshot("menu")

        # The unit is off at first: "Power" switches it on, and the menu then offers the rows of its mode.
        power = gnome_entry(session, "Power")
        if not power["check"]:
            gnome_click(session, power)
            wait_until("the cloud to receive the power change", lambda: session.patches())
            open_menu()
            if not gnome_entry(session, "Power")["check"]:
                raise CheckFailed("Power is not checked after switching the unit on")

        # The mode submenu opens in place; its "Heat" sends one change.
        gnome_click(session, wait_until("the Mode entry", lambda: gnome_entry(session, "Mode")))
        heat = wait_until("the Mode submenu's entries", lambda: gnome_entry(session, "Heat"))
        time.sleep(0.5)
        session.screenshot("menu-mode")
        before = len(session.patches())
        gnome_click(session, heat)
        wait_until("the cloud to receive the mode change", lambda: len(session.patches()) > before)
        wait_until("the menu to close", lambda: not (eval_json(session, GNOME_ICON) or {}).get("open"))
        sent = [(p["target"].split("?")[0], json.loads(p["body"])) for p in session.patches()[before:]]
        if sent != [("/api/v2/pods/abc123/acStates/mode", {"newValue": "heat"})]:
            raise CheckFailed(f"choosing Heat sent {sent}")
        log("   Heat from the menu: one PATCH mode=heat")
        if not x11:
            # A host that asks for ContextMenu on Wayland gets the panel (a window there), never a menu window.
            session.item_call("ContextMenu", 100, 100)
            wait_until("the panel to open on ContextMenu", lambda: eval_json(session, GNOME_WINDOWS) or None)
            time.sleep(1)
            windows = eval_json(session, GNOME_WINDOWS)
            session.screenshot("context-menu")
            if len(windows) != 1 or windows[0]["width"] < 280:
                raise CheckFailed(f"ContextMenu on Wayland showed {windows}, not the panel alone")
            log(f"   ContextMenu: the panel as a window at {windows[0]['x']},{windows[0]['y']}")
            if not session.kelvo_running():
                raise CheckFailed("Kelvo is no longer running")
            return

        # "Open Kelvo" before any host said where the icon is: the corner of the work area next to the top bar.
        def open_kelvo():
            open_menu()
            gnome_click(session, gnome_entry(session, "Open Kelvo"))
            return wait_until('the panel to open from "Open Kelvo"', lambda: gnome_panel(session))

        keyboard, escaped = [], []

        def closed_within(seconds):
            deadline = time.monotonic() + seconds
            while time.monotonic() < deadline:
                if not gnome_panel(session):
                    return True
                time.sleep(0.1)
            return False

        def close_panel():
            # Whether Mutter names the panel its focus window is counted here; Escape goes through the compositor's
            # own input, as a user's key does (check_panel.py fails on the keyboard).
            keyboard.append(session.gnome_eval(GNOME_FOCUS) == "Kelvo")
            session.key("Escape")
            escaped.append(closed_within(3))
            if not escaped[-1]:
                gnome_click(session, icon, clicks=2)  # Activate again: the icon toggles the panel
                wait_until("the panel to close on a double click", lambda: not gnome_panel(session), timeout=10)
            time.sleep(0.5)  # a click on the icon right after the panel closed is taken for the one that closed it

        bar_bottom = icon["y"] + icon["height"]
        corner = open_kelvo()
        time.sleep(1)
        session.screenshot("open-kelvo")
        log(f"   \"Open Kelvo\" with no anchor: panel at {corner['x']},{corner['y']}")
        if (corner["x"] + corner["width"], corner["y"]) != (SCREEN[0], bar_bottom + 4):
            raise CheckFailed(f'"Open Kelvo" put the panel at {corner}, not in the top right corner below the bar')
        close_panel()

        # A double click: Activate, and the panel opens below the icon.
        gnome_click(session, icon, clicks=2)
        panel = wait_until("the panel to open on a double click", lambda: gnome_panel(session))
        time.sleep(1)
        session.screenshot("panel")
        log(f"   double click: panel at {panel['x']},{panel['y']} {panel['width']}x{panel['height']}")
        if not (bar_bottom <= panel["y"] <= bar_bottom + 12 and panel["x"] + panel["width"] <= SCREEN[0]
                and panel["x"] <= icon["x"] + icon["width"] / 2 <= panel["x"] + panel["width"] + 40):
            raise CheckFailed(f"the panel {panel} is not below the icon at {icon}")
        close_panel()

        # "Open Kelvo" now puts the panel where the icon's double click said it is.
        again = open_kelvo()
        if (again["x"], again["y"]) != (panel["x"], panel["y"]):
            raise CheckFailed(f'"Open Kelvo" put the panel at {again}, the double click at {panel}')
        log('   "Open Kelvo" after the double click: the panel at the same place')
        close_panel()
        log(f"   the keyboard went to the panel {keyboard.count(True)} of {len(keyboard)} times, Escape closed it "
            f"{escaped} (\"Open Kelvo\", double click, \"Open Kelvo\")")
        if not session.kelvo_running():
            raise CheckFailed("Kelvo is no longer running")


def shown_panel(session):
    """The open panel's X window geometry (x, y, width, height), or None."""
    for window in session.output(["xdotool", "search", "--onlyvisible", "--name", "^Kelvo$"]).split():
        found = re.search(r"Position: (-?\d+),(-?\d+).*\n\s*Geometry: (\d+)x(\d+)",
                          session.output(["xdotool", "getwindowgeometry", window]))
        if found and int(found.group(3)) >= 280:
            return tuple(int(v) for v in found.groups())
    return None


def check_bar(session, what, edge, bar_height, clock_width):
    """A tray that draws Kelvo's icon and, on a right click, its D-Bus menu: the icon shows in the bar (right of the
    middle, left of the clock), its menu holds "Open Kelvo", and that opens the panel."""
    accepted(session, what)
    wait_until(f"{what} to read Kelvo's menu (GetLayout)", lambda: "GetLayout" in session.menu_calls())
    wait_until("the first device list", lambda: session.requests())
    bar = (SCREEN[0] // 2, 0 if edge == "top" else SCREEN[1] - bar_height, SCREEN[0] // 2 - clock_width, bar_height)
    icon = wait_until(f"Kelvo's icon in {what}", lambda: session.new_icon(bar), timeout=20)
    session.screenshot("icon")
    log(f"   icon drawn at {icon}")
    calls = len(session.menu_calls())
    session.click(*icon, button="right")
    wait_until(f"{what} to ask for Kelvo's menu on a right click", lambda: len(session.menu_calls()) > calls)
    time.sleep(1.5)
    shot = session.screenshot("menu")
    # The menu opens next to the icon, on the side away from the bar.
    near = (max(0, icon[0] - 400), 0 if edge == "top" else SCREEN[1] - 520, min(SCREEN[0], icon[0] + 400) -
            max(0, icon[0] - 400), 520)
    entry = shot and find_text(shot, "Open Kelvo", near)
    if not entry:
        raise CheckFailed(f'no "Open Kelvo" in the menu {what} drew on a right click (see {shot})')
    session.click(*entry)
    panel = wait_until('the panel to open from "Open Kelvo"', lambda: shown_panel(session), timeout=10)
    log(f'   right click, "Open Kelvo": the panel at {panel}')
    if not session.kelvo_running():
        raise CheckFailed("Kelvo is no longer running")


def check_plasma(build_dir):
    with Session(build_dir, "plasma") as session:
        session.start_plasma()
        session.monitor_menu_calls()
        session.start_kelvo()
        check_bar(session, "Plasma's system tray", "bottom", 44, 140)


def check_sway(build_dir):
    with Session(build_dir, "sway") as session:
        session.start_sway()
        session.monitor_menu_calls()
        session.start_kelvo()
        check_bar(session, "waybar's tray", "top", 28, 0)


CHECKS = {"gnome": check_gnome, "gnome-wayland": lambda build_dir: check_gnome(build_dir, x11=False),
          "plasma": check_plasma, "sway": check_sway}


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    if os.geteuid() != 0:
        print("check-desktops runs the desktops as a throwaway user and needs root", file=sys.stderr)
        return 2
    build_dir, names = sys.argv[1], sys.argv[2:] or list(CHECKS)
    passed = failed = 0
    for name in names:
        started = time.monotonic()
        try:
            CHECKS[name](build_dir)
            passed += 1
            print(f"ok   {name} ({time.monotonic() - started:.0f} s)", flush=True)
        except (CheckFailed, StopIteration, OSError) as error:
            failed += 1
            print(f"FAIL {name}: {error}", flush=True)
    print(f"check-desktops: {passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
