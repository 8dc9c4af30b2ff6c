#!/usr/bin/env python3
"""The host tools' folders: which uses which, and how big each is.

    scripts/tool_folders.py [--check] [SOURCE_DIR]

Prints the include graph between the folders (each edge with the number of
includes behind it), then lines per folder and the largest files. With
--check it only checks, and exits 1 naming each fault: an include that
reaches up or sideways (a folder may use only those below it in LAYERS),
an include that names no header or more than one, a cycle.
"""

import os
import re
import sys

# Lowest first. A tool's folder may include headers of folders in lower
# layers and its own; one layer's folders may not use each other. The
# program's own folders (the first layer) are looked at only as what the
# tools use.
LAYERS = [
    ["app", "gpio", "platform", "platform/host"],
    ["tools/ce_process"],
    ["tools/bench"],
    ["tools/gpio_sim", "tools/gpio_check/trace", "tools/gpio_check/capture"],
    ["tools/gpio_check/judging"],
    ["tools/gpio_check/report"],
    ["tools/gpio_check"],
]
SOURCE = re.compile(r"\.(h|hpp|cpp|cc)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folders_in(root):
    """Every folder of LAYERS that exists, with its own source files (not its subfolders')."""
    found = {}
    for layer in LAYERS:
        for folder in layer:
            path = os.path.join(root, folder)
            if os.path.isdir(path):
                found[folder] = sorted(f for f in os.listdir(path)
                                       if SOURCE.search(f) and os.path.isfile(os.path.join(path, f)))
    return found


def rank_of(folder):
    for rank, layer in enumerate(LAYERS):
        if folder in layer:
            return rank
    raise KeyError(folder)


def find_cycle(edges):
    """A cycle of folders as a list, or None."""
    state = {}

    def visit(node, path):
        state[node] = "open"
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == "open":
                return path[path.index(nxt):] + [nxt]
            if nxt not in state:
                cycle = visit(nxt, path + [nxt])
                if cycle:
                    return cycle
        state[node] = "done"
        return None

    for node in sorted(edges):
        if node not in state:
            cycle = visit(node, [node])
            if cycle:
                return cycle
    return None


def main(argv):
    check = "--check" in argv
    args = [a for a in argv if a != "--check"]
    root = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    folders = folders_in(root)
    owner = {}
    for folder, files in folders.items():
        for name in files:
            owner.setdefault(name, []).append(folder)

    faults = []
    edges = {}  # folder -> {folder: includes}
    for folder, files in folders.items():
        if not folder.startswith("tools/"):
            continue
        for name in files:
            path = os.path.join(folder, name)
            with open(os.path.join(root, path), encoding="utf-8") as source:
                text = source.read()
            for included in INCLUDE.findall(text):
                base = os.path.basename(included)
                holders = owner.get(base, [])
                if included != base:
                    holders = [h for h in holders if os.path.join(h, base).endswith(included)]
                if not holders:
                    continue  # a generated header or one of the tests' stand-ins
                if len(holders) > 1 and folder not in holders:
                    faults.append("%s: \"%s\" could be any of %s" % (path, included, ", ".join(holders)))
                    continue
                target = folder if folder in holders else holders[0]
                if target == folder:
                    continue
                edges.setdefault(folder, {}).setdefault(target, 0)
                edges[folder][target] += 1
                if rank_of(target) >= rank_of(folder):
                    faults.append("%s includes \"%s\" of %s, which is not below %s" % (path, included, target, folder))
    cycle = find_cycle(edges)
    if cycle:
        faults.append("cycle: " + " -> ".join(cycle))

    if check:
        for fault in faults:
            print(fault)
        return 1 if faults else 0

    print("Includes between folders (tools only; includes behind each arrow):")
    for folder in sorted(f for f in edges if f.startswith("tools/")):
        used = ", ".join("%s (%d)" % (t, n) for t, n in sorted(edges[folder].items()))
        print("  %s -> %s" % (folder, used))
    print("\nLines per folder (its own files):")
    sizes = []
    for folder, files in sorted(folders.items()):
        total = 0
        for name in files:
            with open(os.path.join(root, folder, name), encoding="utf-8") as source:
                count = sum(1 for _ in source)
            sizes.append((count, os.path.join(folder, name)))
            total += count
        if folder.startswith("tools/"):
            print("  %6d  %s (%d files)" % (total, folder, len(files)))
    print("\nLargest files of the tools:")
    for count, path in sorted((s for s in sizes if s[1].startswith("tools/")), reverse=True)[:8]:
        print("  %6d  %s" % (count, path))
    for fault in faults:
        print("FAULT: " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
