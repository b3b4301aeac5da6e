#!/usr/bin/python3
"""The nearest-neighbour route at scale, beside scikit-learn.

Clusters two-moons points (20,000, 100,000 and 1,000,000) and 100,000 Gaussian-blob points in 50
dimensions with `rotalign cluster --graph knn`, every number of groups from 2 to 10 tried, and
prints for each: the whole command's time and peak memory, its stage times, the chosen count and
the adjusted Rand index against the truth; beside it scikit-learn's SpectralClustering with its
nearest-neighbour affinity, told the true count (only up to --sklearn-max points: it needs 95 s
at 20,000). The goals of the route are printed beside the figures.

usage: bench/app/knn_compare.py [--build DIR] [--sizes 20000,100000,1000000] [--sklearn-max N]
                                [--runs R] [--only moons|blobs50]
Run with Debian's /usr/bin/python3 (NumPy, scikit-learn: python3-sklearn).
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# points -> (seconds, megabytes) that the route must stay within
GOALS = {("moons", 20000): (3, 150), ("moons", 100000): (10, 500), ("moons", 1000000): (60, 2000),
         ("blobs50", 100000): (60, 1000)}


def run_measured(command):
    """Runs a command; returns (seconds, peak resident megabytes, stdout, stderr)."""
    start = time.perf_counter()
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        child = subprocess.Popen(command, stdout=out, stderr=err)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
        out.seek(0)
        err.seek(0)
        stdout, stderr = out.read().decode(), err.read().decode()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s\n%s" % (" ".join(command), stderr))
    return seconds, usage.ru_maxrss / 1024.0, stdout, stderr


def ari(truth, labels):
    from sklearn.metrics import adjusted_rand_score
    return adjusted_rand_score(truth, labels)


def make_set(kind, n, folder, rotalign):
    """Writes the data set; returns (file, truth, true count)."""
    if kind == "moons":
        path = os.path.join(folder, "moons%d.csv" % n)
        truth_path = os.path.join(folder, "moons%d.truth" % n)
        subprocess.run([rotalign, "generate", "moons", "--points", str(n), "--seed", "7", "--truth", truth_path],
                       stdout=open(path, "w"), check=True)
        return path, np.loadtxt(truth_path, dtype=int), 2
    rng = np.random.RandomState(50)
    groups = 10
    centres = rng.uniform(-10, 10, size=(groups, 50))
    truth = rng.randint(groups, size=n)
    points = centres[truth] + rng.normal(size=(n, 50))
    path = os.path.join(folder, "blobs50_%d.npy" % n)
    np.save(path, points)
    return path, truth + 1, groups


def sklearn_run(path, groups):
    """scikit-learn in a process of its own, so that its peak memory is its own."""
    code = r"""
import sys, time, warnings, numpy as np
from sklearn.cluster import SpectralClustering
warnings.filterwarnings("ignore")
path = sys.argv[1]
X = np.load(path) if path.endswith(".npy") else np.loadtxt(path, delimiter=",", skiprows=1)
labels = SpectralClustering(n_clusters=int(sys.argv[2]), affinity="nearest_neighbors", eigen_solver="arpack",
                            random_state=0).fit_predict(X)
np.savetxt(sys.argv[3], labels, fmt="%d")
"""
    labels_path = path + ".sklearn"
    seconds, megabytes, _, _ = run_measured(["/usr/bin/python3", "-c", code, path, str(groups), labels_path])
    return seconds, megabytes, np.loadtxt(labels_path, dtype=int)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "default"))
    parser.add_argument("--sizes", default="20000,100000,1000000")
    parser.add_argument("--sklearn-max", type=int, default=20000)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--only", choices=["moons", "blobs50"])
    parser.add_argument("--extra", default="", help="further options for rotalign cluster")
    args = parser.parse_args()
    rotalign = os.path.join(args.build, "rotalign")
    cases = [("moons", int(n)) for n in args.sizes.split(",")] + [("blobs50", 100000)]
    if args.only:
        cases = [c for c in cases if c[0] == args.only]
    with tempfile.TemporaryDirectory() as folder:
        for kind, n in cases:
            path, truth, groups = make_set(kind, n, folder, rotalign)
            groups_path = os.path.join(folder, "groups.txt")
            best = None
            for _ in range(args.runs):
                command = [rotalign, "cluster", path, "--graph", "knn", "--max-groups", "10",
                           "--output", groups_path] + args.extra.split()
                seconds, megabytes, summary, _ = run_measured(command)
                if best is None or seconds < best[0]:
                    best = (seconds, megabytes, summary, np.loadtxt(groups_path, dtype=int))
            seconds, megabytes, summary, labels = best
            chosen = re.search(r"^groups: (\d+)", summary, re.M).group(1)
            stages = re.search(r"^stage times \(ms\): (.*)$", summary, re.M)
            goal = GOALS.get((kind, n))
            print("== %s, %d points, %d groups" % (kind, n, groups))
            print("rotalign --graph knn: %.2f s, %.0f MB peak, %s groups, ARI %.4f%s" % (
                seconds, megabytes, chosen, ari(truth, labels),
                "" if goal is None else "   (goal: <= %d s, <= %d MB: %s)" % (
                    goal[0], goal[1], "met" if seconds <= goal[0] and megabytes <= goal[1] else "MISSED")))
            if stages:
                print("  stages (ms): " + stages.group(1))
            for line in summary.splitlines():
                if line.startswith(("graph:", "eigen-solver:", "neighbours:")):
                    print("  " + line)
            if n <= args.sklearn_max:
                sk_seconds, sk_megabytes, sk_labels = sklearn_run(path, groups)
                print("scikit-learn SpectralClustering(nearest_neighbors, told %d): %.2f s, %.0f MB peak, ARI %.4f;"
                      " rotalign is %.1fx faster" % (groups, sk_seconds, sk_megabytes, ari(truth, sk_labels),
                                                    sk_seconds / seconds))
            print(flush=True)


if __name__ == "__main__":
    main()
