#!/usr/bin/env python3
# The include graph of app/: each window or part (name.h with name.cpp, and
# the preview's own previewcommands/tools/web.cpp) is a node; an include of
# app/other.h from either file is an edge. Prints the edges and any circle;
# exits 1 when there is a circle. Usage: scripts/app-include-graph.py [source folder]
import os, re, sys
root = sys.argv[1] if len(sys.argv) > 1 else '.'
app = os.path.join(root, 'app')
part_of = {'previewcommands': 'previewwindow', 'previewtools': 'previewwindow', 'previewweb': 'previewwindow'}
edges = {}
for f in sorted(os.listdir(app)):
    base, ext = os.path.splitext(f)
    if ext not in ('.h', '.cpp') or base == 'main':
        continue
    node = part_of.get(base, base)
    for inc in re.findall(r'#include "app/([^"]+)\.h"', open(os.path.join(app, f)).read()):
        if inc != node:
            edges.setdefault(node, set()).add(inc)
for n in sorted(edges):
    print(n, '->', ' '.join(sorted(edges[n])))
state, stack, circles = {}, [], []
def visit(n):
    state[n] = 1; stack.append(n)
    for m in sorted(edges.get(n, ())):
        if state.get(m) == 1:
            circles.append(stack[stack.index(m):] + [m])
        elif m not in state:
            visit(m)
    stack.pop(); state[n] = 2
for n in sorted(edges):
    if n not in state:
        visit(n)
for c in circles:
    print('circle:', ' -> '.join(c))
sys.exit(1 if circles else 0)
