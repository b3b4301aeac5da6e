#!/usr/bin/env python3
"""The cost of the Python package over the program: RotationClustering().fit(X) beside
`rotalign cluster` on the same two-moons points, and the memory that keeping the affinity
matrix (affinity_matrix_) takes.

    /usr/bin/python3 bench/python/overhead.py [BUILD_DIR] [--points N] [--runs R]

BUILD_DIR is a build tree with the program and the staged package (default build/default;
`cmake --build BUILD_DIR --target rotalign rotalign_python_package`). Runs alternate between the
program and a fresh interpreter that times fit() alone; each figure is the best of R runs.
"""

import argparse
import csv
import os
import resource
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Runs in a fresh interpreter: fit once, print the wall time of fit(), the chain's own stage
# times, the labels' checksum, the peak and the current resident memory (MiB) and the CPU time
# of fit(), which a busy machine disturbs less than the wall time.
FIT = r"""
import csv, resource, sys, time
import numpy as np
import rotalign
from rotalign._toolbox import toolbox

def resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096 / 2**20

X = np.array([[float(v) for v in row] for row in list(csv.reader(open(sys.argv[1])))[1:]])
keep = sys.argv[2] == "keep"
before = resident()
start, cpu = time.perf_counter(), time.process_time()
if keep:
    model = rotalign.RotationClustering().fit(X)
    labels, times = model.labels_ + 1, model.stage_times_
else:
    result = toolbox.cluster(X, {"keep_affinity": False}, False)
    labels, times = result["groups"], result["times"]
seconds, cpu = time.perf_counter() - start, time.process_time() - cpu
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
print(seconds, sum(times.values()), int(np.dot(labels, np.arange(len(labels)) % 7)), before, peak, resident(), cpu)
"""


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def program_run(program, points, folder):
    start, cpu = time.perf_counter(), children_cpu()
    done = subprocess.run(
        [program, "cluster", points, "--output", os.path.join(folder, "groups.txt")],
        capture_output=True, text=True, check=True,
    )
    seconds, cpu = time.perf_counter() - start, children_cpu() - cpu
    line = next(l for l in done.stdout.splitlines() if l.startswith("stage times"))
    chain = float(line.rsplit("total ", 1)[1]) / 1000
    with open(os.path.join(folder, "groups.txt")) as f:
        labels = [int(v) for v in f.read().split()]
    return seconds, chain, sum(g * (i % 7) for i, g in enumerate(labels)), None, None, None, cpu


def python_run(python, package, points, keep):
    env = dict(os.environ, PYTHONPATH=package)
    done = subprocess.run([python, "-c", FIT, points, keep], capture_output=True, text=True, check=True, env=env)
    seconds, chain, checksum, before, peak, after, cpu = done.stdout.split()
    return float(seconds), float(chain), int(checksum), float(before), float(peak), float(after), float(cpu)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build", "default"))
    parser.add_argument("--points", type=int, default=5000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    program = os.path.join(args.build, "rotalign")
    package = os.path.join(args.build, "python")
    folder = os.path.join(args.build, "bench-python")
    os.makedirs(folder, exist_ok=True)
    points = os.path.join(folder, "moons-%d.csv" % args.points)
    with open(points, "w") as out:
        subprocess.run([program, "generate", "moons", "--points", str(args.points), "--seed", "1"], stdout=out, check=True)

    runs = {"program": [], "fit": [], "plain": []}
    for _ in range(args.runs):
        runs["program"].append(program_run(program, points, folder))
        runs["fit"].append(python_run(sys.executable, package, points, "keep"))
        runs["plain"].append(python_run(sys.executable, package, points, "plain"))
    checksums = {r[2] for rs in runs.values() for r in rs}
    best = {k: min(v, key=lambda r: r[0]) for k, v in runs.items()}

    print("%d two-moons points, best of %d runs (seconds)" % (args.points, args.runs))
    cpu = {k: min(r[6] for r in v) for k, v in runs.items()}
    print("%-46s %8s %8s %8s" % ("", "wall", "chain", "cpu"))
    for name, key in (
        ("rotalign cluster (whole command)", "program"),
        ("RotationClustering().fit(X), fresh interpreter", "fit"),
        ("the chain without keeping the affinity", "plain"),
    ):
        print("%-46s %8.3f %8.3f %8.3f" % (name, best[key][0], best[key][1], cpu[key]))
    print("fit / program: wall %.3f, cpu %.3f   fit outside the chain: %.1f ms   same groups everywhere: %s"
          % (best["fit"][0] / best["program"][0], cpu["fit"] / cpu["program"],
             1000 * (best["fit"][0] - best["fit"][1]), len(checksums) == 1))
    print("all runs, wall: program %s  fit %s" % (
        " ".join("%.3f" % r[0] for r in runs["program"]), " ".join("%.3f" % r[0] for r in runs["fit"])))
    print("memory (MiB)                                   before     peak    after")
    for name, key in (("fit, affinity_matrix_ kept", "fit"), ("chain, affinity released", "plain")):
        r = best[key]
        print("%-46s %7.0f %8.0f %8.0f" % (name, r[3], r[4], r[5]))
    print("one N-by-N matrix of doubles: %.0f MiB" % (8 * args.points**2 / 2**20))


if __name__ == "__main__":
    main()
