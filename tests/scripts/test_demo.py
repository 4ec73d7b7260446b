#!/usr/bin/env python3
"""`make demo`'s script with a stand-in Kelvo that records the cloud address it was given and ends: a free port is
picked and printed by default, and a taken KELVO_DEMO_PORT ends the demo at once with a clear message, before Kelvo.

    tests/scripts/test_demo.py BUILD_DIR
"""
import os
import re
import socket
import subprocess
import sys
import tempfile

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def run_demo(build, port):
    with tempfile.TemporaryDirectory() as folder:
        os.symlink(os.path.join(build, "kelvo-sim"), os.path.join(folder, "kelvo-sim"))
        stand_in = os.path.join(folder, "kelvo")
        with open(stand_in, "w") as f:
            f.write('#!/bin/sh\necho "$KELVO_SENSIBO_API_URL" > "$DEMO_TEST_MARKER"\n')
        os.chmod(stand_in, 0o755)
        marker = os.path.join(folder, "started")
        env = dict(os.environ, DEMO_TEST_MARKER=marker)
        env.pop("KELVO_DEMO_PORT", None)
        if port is not None:
            env["KELVO_DEMO_PORT"] = str(port)
        done = subprocess.run(["bash", os.path.join(SOURCE, "scripts", "demo"), folder], env=env,
                              capture_output=True, text=True, timeout=60)
        started = open(marker).read().strip() if os.path.exists(marker) else None
        return done, started


def main():
    build = os.path.abspath(sys.argv[1])
    taken = socket.socket()
    taken.bind(("127.0.0.1", 0))
    taken.listen()
    taken_port = taken.getsockname()[1]
    failures = []
    # (case, KELVO_DEMO_PORT, exit status, pattern on standard output or error, whether Kelvo starts)
    cases = [
        ("free port by default", None, 0, r"Demo cloud on 127\.0\.0\.1:(\d+) ", True),
        ("port taken", taken_port, 1, rf"make demo: port {taken_port} on 127\.0\.0\.1 is taken", False),
    ]
    for name, port, status, pattern, starts in cases:
        done, started = run_demo(build, port)
        found = re.search(pattern, done.stdout + done.stderr)
        if done.returncode != status or not found or (started is not None) != starts:
            failures.append(f"{name}: status {done.returncode}, Kelvo given {started!r}, "
                            f"stdout {done.stdout!r}, stderr {done.stderr!r}")
        elif starts and started != f"http://127.0.0.1:{found.group(1)}/api/v2":
            failures.append(f"{name}: printed port {found.group(1)}, but Kelvo was given {started}")
    taken.close()
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
