#!/usr/bin/env python3
"""The arrows between the rooms, checked against the sources.

Reads the allowed arrows from the rooms table of docs/architecture.md (its "includes" column:
each `room/` or `room/header.h` there is an allowed include) and prints every project include
that crosses from one room into another without one. A directory of sources that has no row is
an error too. Exits 1 when anything is wrong.
Usage: room_arrows.py [REPOSITORY]
"""
import os
import re
import sys

SOURCES = (".cpp", ".h", ".inc", ".rc")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def read_arrows(page):
    """The rooms table: {room: [allowed include prefixes]}."""
    arrows = {}
    in_rooms = False
    for line in open(page, encoding="utf-8"):
        if line.startswith("## "):
            in_rooms = line.strip() == "## The rooms"
            continue
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if not in_rooms or len(cells) != 3 or not re.fullmatch(r"`[a-z_]+/`", cells[0]):
            continue
        arrows[cells[0].strip("`").rstrip("/")] = re.findall(r"`([a-z_]+/[^`]*)`", cells[2])
    return arrows


def wrong_includes(root, arrows):
    wrong = []
    for room in sorted(os.listdir(root)):
        directory = os.path.join(root, room)
        if room.startswith(".") or room == "build" or not os.path.isdir(directory):
            continue
        if room not in arrows:
            for parent, _, files in os.walk(directory):
                if any(name.endswith(SOURCES) for name in files):
                    wrong.append(f"{room}/: sources in a room that has no row in the rooms table")
                    break
            continue
        for parent, dirs, files in os.walk(directory):
            dirs.sort()
            for name in sorted(files):
                if not name.endswith(SOURCES):
                    continue
                path = os.path.join(parent, name)
                relative = os.path.relpath(path, root)
                text = open(path, encoding="utf-8", errors="replace").read()
                for match in INCLUDE.finditer(text):
                    target = match.group(1)
                    first = target.split("/")[0]
                    # Beside the file, or the room's own (tests/ reaches tests/support/ as support/).
                    if "/" not in target or first == room or first not in arrows:
                        continue
                    if not any(target.startswith(allowed) for allowed in arrows[room]):
                        line = text.count("\n", 0, match.start()) + 1
                        wrong.append(f"{relative}:{line}: {room}/ -> {target}")
    return wrong


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    arrows = read_arrows(os.path.join(root, "docs", "architecture.md"))
    if not arrows:
        print("docs/architecture.md: no rooms table found", file=sys.stderr)
        return 1
    wrong = wrong_includes(root, arrows)
    if not wrong:
        return 0
    print("includes without an arrow in the rooms table of docs/architecture.md:", file=sys.stderr)
    for line in wrong:
        print("  " + line, file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
