#!/usr/bin/env python3
"""Checks the include rules of the source folders: a file includes headers of
its own layer and the layers below only, and the parts of app/ use one another
without a circle (a part is a header with its source file; a source file
without a header of its own, such as previewcommands.cpp, is a piece of the
part whose header it includes that shares the longest start of its name). Prints each offence; exit status 1 when there is one.

    tools/check_layers.py [SOURCE_DIR]
"""
import os
import re
import sys

# Layers from the bottom up; engine/ and tags/ are one layer.
LAYERS = {"base": 0, "surfaces": 1, "engine": 2, "tags": 2, "platform": 3, "app": 4}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/([^"]+)"', re.M)


def sources(root, folder):
    top = os.path.join(root, folder)
    for name in sorted(os.listdir(top)):
        if name.endswith((".h", ".cpp")):
            yield f"{folder}/{name}", os.path.join(top, name)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    offences = []
    app_includes = {}
    for folder, layer in LAYERS.items():
        for rel, path in sources(root, folder):
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for target_folder, target in INCLUDE.findall(text):
                if target_folder not in LAYERS:
                    continue
                if LAYERS[target_folder] > layer:
                    offences.append(f"{rel} includes {target_folder}/{target}, a layer above its own")
                if folder == "app" and target_folder == "app":
                    app_includes.setdefault(rel, set()).add(os.path.splitext(target)[0])

    # The parts of app/ and what each uses.
    headers = {os.path.splitext(os.path.basename(r))[0] for r, _ in sources(root, "app") if r.endswith(".h")}

    def part_of(rel):
        stem = os.path.splitext(os.path.basename(rel))[0]
        if stem in headers:
            return stem
        used = app_includes.get(rel, set())
        best = max(used, key=lambda h: (len(os.path.commonprefix([h, stem])), h), default=stem)
        return best if os.path.commonprefix([best, stem]) else stem

    app_graph = {}
    for rel, used in app_includes.items():
        part = part_of(rel)
        for h in used:
            if h != part:
                app_graph.setdefault(part, set()).add(h)

    # Circles among the parts of app/.
    state = {}

    def visit(node, path):
        state[node] = 1
        for nxt in sorted(app_graph.get(node, ())):
            if state.get(nxt) == 1:
                offences.append("app/ includes in a circle: " + " -> ".join(path[path.index(nxt):] + [nxt]))
            elif not state.get(nxt):
                visit(nxt, path + [nxt])
        state[node] = 2

    for node in sorted(app_graph):
        if not state.get(node):
            visit(node, [node])

    for o in offences:
        print(o)
    return 1 if offences else 0


if __name__ == "__main__":
    sys.exit(main())
