"""Prints, as JSON, what a screen reader sees of the application named on the command line: every element under it
on the AT-SPI bus of $DBUS_SESSION_BUS_ADDRESS, depth first, with its role, name, description, states and value.
Run with the system Python, which has python3-pyatspi."""

import json
import sys

import pyatspi


def value_of(node):
    try:
        value = node.queryValue()
    except (NotImplementedError, AttributeError, LookupError):
        return None
    try:
        return {
            "current": value.currentValue,
            "minimum": value.minimumValue,
            "maximum": value.maximumValue,
            "step": value.minimumIncrement,
        }
    except Exception:  # the element went away meanwhile
        return None


def walk(node, depth, out):
    try:
        entry = {
            "depth": depth,
            "role": node.getRoleName(),
            "name": node.name or "",
            "description": node.description or "",
            "states": sorted(state.value_nick for state in node.getState().getStates()),
            "value": value_of(node),
        }
        children = [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:  # the element went away meanwhile
        return
    out.append(entry)
    for child in children:
        if child is not None and depth < 40:
            walk(child, depth + 1, out)


def main():
    wanted = sys.argv[1].lower()
    out = []
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and (app.name or "").lower() == wanted:
            walk(app, 0, out)
    json.dump(out, sys.stdout, indent=1)
    return 0 if out else 1


if __name__ == "__main__":
    sys.exit(main())
