#!/usr/bin/env python3
"""kestro's own options, run as a user runs them: --help and --version answer on a terminal with
no display at all, and a mistyped option is refused by name.

Usage: command_line_check.py KESTRO VERSION
"""
import os
import subprocess
import sys

kestro, version = sys.argv[1], sys.argv[2]
failures = []

# No display of any kind: neither X, nor Wayland, nor the offscreen platform.
no_display = {k: v for k, v in os.environ.items()
              if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
offscreen = dict(no_display, QT_QPA_PLATFORM="offscreen")


def run(args, env):
    return subprocess.run([kestro, *args], env=env, capture_output=True, text=True, timeout=60)


for args, expected in [
    (["--version"], f"kestro {version}\n"),
    (["-v"], f"kestro {version}\n"),
]:
    r = run(args, no_display)
    if r.returncode != 0 or r.stdout != expected:
        failures.append(f"{args}: exit {r.returncode}, out {r.stdout!r}, err {r.stderr!r}")

for args in (["--help"], ["-h"]):
    r = run(args, no_display)
    if r.returncode != 0 or "[file]" not in r.stdout or "--version" not in r.stdout:
        failures.append(f"{args}: exit {r.returncode}, out {r.stdout!r}, err {r.stderr!r}")

r = run(["--no-such-option"], offscreen)
if r.returncode == 0 or "no-such-option" not in r.stderr:
    failures.append(f"--no-such-option: exit {r.returncode}, err {r.stderr!r}")

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
