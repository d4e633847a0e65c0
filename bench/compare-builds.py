#!/usr/bin/env python3
"""Compares builds of d88extract on one image: rounds of `PROGRAM --json -d DIR IMAGE`, one run of
each program per round in a rotated order, each run into a new folder of a fresh parent, and
nothing removed until the end (ext4 makes the next files' creation slower for a while after many
are removed, which would weigh on whichever program ran next). Prints for each program the
median wall and CPU (user + system) times and the medians of its per-round ratios to the first.
Usage: compare-builds.py IMAGE ROUNDS PROGRAM... (FOLDER in the environment: where the runs
write, default the system's temporary folder)"""
import os
import shutil
import statistics
import sys
import tempfile
import time

image, rounds, programs = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
work = tempfile.mkdtemp(prefix="compare-builds-", dir=os.environ.get("FOLDER"))
null = os.open(os.devnull, os.O_WRONLY)
runs = 0


def run(program):
    global runs
    out = f"{work}/out-{runs}"
    runs += 1
    start = time.perf_counter()
    pid = os.posix_spawn(program, [program, "--json", "-d", out, image], os.environ,
                         file_actions=[(os.POSIX_SPAWN_DUP2, null, 1)])
    _, status, usage = os.wait4(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{program} failed")
    return time.perf_counter() - start, usage.ru_utime + usage.ru_stime


times = [[] for _ in programs]
for r in range(rounds):
    for k in [(r + i) % len(programs) for i in range(len(programs))]:
        times[k].append(run(programs[k]))
shutil.rmtree(work)
median = statistics.median
for k, program in enumerate(programs):
    wall = median(t[0] for t in times[k])
    cpu = median(t[1] for t in times[k])
    wall_ratio = median(a[0] / b[0] for a, b in zip(times[k], times[0]))
    cpu_ratio = median(a[1] / b[1] for a, b in zip(times[k], times[0]))
    print(f"{program}: wall {wall * 1000:.1f} ms (ratio {wall_ratio:.3f}), "
          f"cpu {cpu * 1000:.1f} ms (ratio {cpu_ratio:.3f}), {rounds} rounds")
