#!/usr/bin/env python3
"""Checks the layers of the source: every folder that holds C++ includes only headers of the
folders it may use (ALLOWED), no header includes one that includes it back, and no folder holds
more than a third of the code. A folder of C++ that ALLOWED does not name fails, and so does an
include that names a header of two folders.
Usage: check-layers.py SOURCE_DIR"""
import re
import sys
from pathlib import Path

root = Path(sys.argv[1]).resolve()
# The layers, each over the ones before it, and digest/, a leaf that links no layer.
LAYERS = ["d88", "diskset", "host", "archive", "report", "programs"]
LEAVES = ["digest"]
EVERYTHING = LAYERS + LEAVES + ["sample", "web", "fuzz", "bench", "tests"]
ALLOWED = {
    "d88": [],
    "digest": [],
    "diskset": ["d88"],
    "host": ["d88", "diskset"],
    "archive": ["d88", "diskset", "host", "digest"],
    "report": ["d88", "diskset", "host", "archive", "digest"],
    "programs": ["d88", "diskset", "host", "archive", "report", "digest"],
    # The image builder (the tests' and the sample's images) reads and decides nothing.
    "sample": ["d88", "diskset"],
    # The page's build has the layers up to the printers, without zips or digests.
    "web": ["d88", "diskset", "host", "report"],
    "fuzz": EVERYTHING,
    "bench": EVERYTHING,
    "tests": EVERYTHING,
}
# Sources that are a program of their folder's: they may use what a program may.
PROGRAMS = {"sample/d88sample.cpp": "programs"}
SOURCES = (".cpp", ".h", ".hpp", ".cc", ".c")

failures = []


def skipped(path):
    parts = path.relative_to(root).parts
    return any(part.startswith((".", "build")) or part == "node_modules" for part in parts)


sources = [path for path in sorted(root.rglob("*"))
           if path.suffix in SOURCES and path.is_file() and not skipped(path)]
headers = {}  # a header's file name -> its paths
for path in sources:
    if path.suffix in (".h", ".hpp"):
        headers.setdefault(path.name, []).append(path)
for folder in sorted({path.relative_to(root).parts[0] for path in sources}):
    if folder not in ALLOWED:
        failures.append(f"{folder}/ holds C++ but has no place among the layers (ALLOWED)")

include = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
edges = {}  # header path -> header paths it includes
for source in sources:
    name = source.relative_to(root).as_posix()
    folder = source.relative_to(root).parts[0]
    allowed = set(ALLOWED.get(folder, [])) | {folder}
    if name in PROGRAMS:
        allowed |= set(ALLOWED[PROGRAMS[name]]) | {PROGRAMS[name]}
    for written in include.findall(source.read_text(encoding="utf-8", errors="replace")):
        beside = (source.parent / written).resolve()
        if beside.is_file() and not skipped(beside):
            found = [beside]
        else:
            found = headers.get(Path(written).name, [])
        if len(found) > 1:
            failures.append(f"{name} includes {written}, which names a header of "
                            f"{', '.join(sorted(p.relative_to(root).as_posix() for p in found))}")
            continue
        if not found:
            continue  # not a header of the project (a system or generated one)
        header = found[0]
        owner = header.relative_to(root).parts[0]
        if owner not in allowed:
            failures.append(f"{name} includes {written} of {owner}/, which {folder}/ may not use")
        if source.suffix in (".h", ".hpp"):
            edges.setdefault(source, set()).add(header)


def reaches(start, goal, seen):
    for name in edges.get(start, ()):
        if name == goal or (name not in seen and reaches(name, goal, seen | {name})):
            return True
    return False


for header in sorted(edges):
    if reaches(header, header, {header}):
        failures.append(f"{header.relative_to(root)} includes a header that includes it back")
lines = {}
for path in root.rglob("*"):
    if path.suffix in (".cpp", ".h", ".js", ".py", ".sh") and not skipped(path):
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
