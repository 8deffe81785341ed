#!/usr/bin/env python3
"""Checks the include rules of the source tree (docs/architecture.md).

Each rule names a room (a folder) and the rooms its files may include, or
the rooms they must not include. Prints every include that breaks a rule and
exits 1 when there is one.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# room -> ("only", [rooms]) or ("never", [rooms]); the longest matching room wins.
RULES = {
    "runtime/value": ("only", ["runtime/value"]),
    "runtime/win": ("only", ["runtime/value", "runtime/win"]),
    "runtime/services": ("only", ["runtime/value", "runtime/win", "runtime/services"]),
    "runtime/zip": ("only", ["runtime/value", "runtime/win", "runtime/zip"]),
    "runtime/units": ("only", ["runtime/value", "runtime/win", "runtime/units"]),
    "json": ("only", ["runtime/value", "json"]),
    "ui": ("only", ["runtime", "ui"]),
    # The record is parsed with the project's own JSON document.
    "installer/format": ("only", ["runtime/value", "json", "installer/format"]),
    "installer/platform": ("only", ["runtime", "installer/format", "installer/platform"]),
    "installer/steps": ("never", ["installer/setup", "installer/uninstaller", "runtime/units", "ui", "mkinstaller"]),
    "installer/setup": ("never", ["installer/uninstaller", "mkinstaller"]),
    "installer/uninstaller": ("never", ["installer/setup", "installer/steps", "mkinstaller"]),
    "app": ("never", ["mkinstaller"]),
    # The builder reads and writes what the format defines, with the portable
    # layers; it never reaches into a program's flow, its steps or Windows helpers.
    "mkinstaller": ("only", ["runtime/value", "runtime/zip", "installer/format", "mkinstaller"]),
}
SOURCE = re.compile(r"\.(h|hpp|c|cpp)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def room_of(path, rooms):
    best = None
    for room in rooms:
        if path == room or path.startswith(room + "/"):
            if best is None or len(room) > len(best):
                best = room
    return best


def inside(path, room):
    return path == room or path.startswith(room + "/")


def violations(root):
    found = []
    for folder in sorted({r.split("/")[0] for r in RULES}):
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if not SOURCE.search(name):
                    continue
                full = os.path.join(dirpath, name)
                rel = os.path.relpath(full, root).replace(os.sep, "/")
                room = room_of(rel, RULES)
                if room is None:
                    continue
                kind, rooms = RULES[room]
                with open(full, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for m in INCLUDE.finditer(text):
                    target = m.group(1)
                    if "/" not in target:
                        continue  # a header beside the file or of a library
                    line = text.count("\n", 0, m.start()) + 1
                    allowed = any(inside(target, r) for r in rooms)
                    if (kind == "only" and not allowed) or (kind == "never" and allowed):
                        found.append(f"{rel}:{line}: {room} may not include {target}")
    return found


def self_test():
    """The check must catch a step that includes the window toolkit and pass its own tree's fix."""
    import tempfile
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "installer", "steps"))
        bad = os.path.join(root, "installer", "steps", "x.cpp")
        with open(bad, "w") as f:
            f.write('#include "installer/steps/x.h"\n#include "runtime/units/units.h"\n')
        found = violations(root)
        assert len(found) == 1 and "runtime/units/units.h" in found[0], found
        with open(bad, "w") as f:
            f.write('#include "installer/steps/x.h"\n')
        assert violations(root) == []
    print("include rules: self-test passed")


def main():
    if sys.argv[1:] == ["--self-test"]:
        self_test()
        return 0
    root = sys.argv[1] if len(sys.argv) > 1 else ROOT
    found = violations(root)
    for v in found:
        print(v)
    print(f"include rules: {len(found)} violation(s)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
