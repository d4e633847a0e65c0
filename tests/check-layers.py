#!/usr/bin/env python3
"""Checks the layers of the source: each folder includes only headers of its own layer and of the
layers below it (d88, diskset, host, archive, report, programs), no header includes one that includes it
back, and no folder holds more than a third of the code.
Usage: check-layers.py SOURCE_DIR"""
import re
import sys
from pathlib import Path

root = Path(sys.argv[1])
LAYERS = ["d88", "diskset", "host", "archive", "report", "programs"]
headers = {}  # header name -> layer folder
for layer in LAYERS:
    for header in (root / layer).glob("*.h"):
        headers[header.name] = layer
include = re.compile(r'^#include "([^"]+)"', re.M)
failures = []
edges = {}  # header -> headers it includes
for layer in LAYERS:
    rank = LAYERS.index(layer)
    for source in sorted((root / layer).glob("*.[ch]*")):
        for name in include.findall(source.read_text(encoding="utf-8")):
            if name not in headers:
                continue
            if LAYERS.index(headers[name]) > rank:
                failures.append(f"{source.relative_to(root)} includes {name} of the higher layer "
                                f"{headers[name]}/")
            if source.suffix == ".h":
                edges.setdefault(source.name, set()).add(name)


def reaches(start, goal, seen):
    for name in edges.get(start, ()):
        if name == goal or (name not in seen and reaches(name, goal, seen | {name})):
            return True
    return False


for header in sorted(edges):
    if reaches(header, header, {header}):
        failures.append(f"{header} includes a header that includes it back")
lines = {}
for path in root.rglob("*"):
    if path.suffix in (".cpp", ".h", ".js", ".py", ".sh") and "node_modules" not in path.parts \
            and not any(part.startswith("build") for part in path.relative_to(root).parts):
        folder = path.relative_to(root).parts[0]
        lines[folder] = lines.get(folder, 0) + len(path.read_text(errors="replace").splitlines())
total = sum(lines.values())
for folder, count in sorted(lines.items()):
    if count * 3 > total:
        failures.append(f"{folder}/ holds {count} of {total} lines of code, more than a third")
for failure in failures:
    print("FAIL", failure)
print(f"{len(failures)} failures; lines of code by folder: {dict(sorted(lines.items()))}")
sys.exit(1 if failures else 0)
