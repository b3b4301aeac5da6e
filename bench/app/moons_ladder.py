#!/usr/bin/python3
"""How the one-process chain grows from 10^5 to 10^7 points.

Draws two moons with scikit-learn (make_moons, noise 0.06, seed 0, kept as .npy in --data so that
later runs reuse them), clusters each size with `rotalign cluster` under every --graph given,
each run in a process of its own, and prints one Markdown table: the stage times the program
reports, the whole command's time and peak memory, the eigen method or the refusal, and the load
average of the machine before and after the run (the times mean little on a busy machine).

usage: bench/app/moons_ladder.py [--build DIR] [--data DIR] [--sizes 100000,...] [--graphs knn,auto]
Run with Debian's /usr/bin/python3 (NumPy, scikit-learn: python3-sklearn).
"""
import argparse
import os
import re
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The automatic graph's choice on its sample comes first; the other stages are then its sample's.
STAGES = ("choice", "neighbours", "affinity", "eigen", "rotation", "total")


def moons(n, folder):
    path = os.path.join(folder, "moons_%d.npy" % n)
    if not os.path.exists(path):
        import numpy as np
        from sklearn.datasets import make_moons
        points, _ = make_moons(n_samples=n, noise=0.06, random_state=0)
        np.save(path, points.astype(np.float64))
    return path


def measured(command):
    """(seconds, peak resident GB, exit code, stdout, stderr) of a command."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        child = subprocess.Popen(command, stdout=out, stderr=err)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
        out.seek(0)
        err.seek(0)
        return seconds, usage.ru_maxrss / 1e6, os.waitstatus_to_exitcode(status), out.read().decode(), err.read().decode()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "default"))
    parser.add_argument("--data", default=os.path.join(tempfile.gettempdir(), "rotalign_moons"))
    parser.add_argument("--sizes", default="100000,300000,1000000,3000000,10000000")
    parser.add_argument("--graphs", default="knn,auto")
    args = parser.parse_args()
    os.makedirs(args.data, exist_ok=True)
    rotalign = os.path.join(args.build, "rotalign")
    print("| graph | points | " + " | ".join(("graph " if s == "choice" else "") + s + " (s)" for s in STAGES) +
          " | whole command | peak | eigen | groups | load before / after |")
    print("|---|---:|" + "---:|" * len(STAGES) + "---:|---:|---|---:|---|")
    for graph in args.graphs.split(","):
        for n in (int(s) for s in args.sizes.split(",")):
            path = moons(n, args.data)
            load = os.getloadavg()[0]
            groups_path = os.path.join(args.data, "groups.txt")
            seconds, peak, code, summary, errors = measured(
                [rotalign, "cluster", path, "--graph", graph, "--output", groups_path])
            stages = dict((name, float(ms) / 1000) for name, ms in
                          re.findall(r"(\w+) ([\d.]+)", (re.findall(r"^stage times \(ms\): (.*)$", summary, re.M) or [""])[0]))
            if code == 0:
                method = (re.findall(r"^eigen-solver: (.*)$", summary, re.M) or ["?"])[0]
                chosen = (re.findall(r"^groups: (\d+)", summary, re.M) or ["?"])[0]
            else:
                method, chosen = "refused" if "rotalign-mpi" in errors else "failed (%d)" % code, "-"
            cells = ["%.1f" % stages[s] if s in stages else "-" for s in STAGES]
            print("| %s | %d | %s | %.1f s | %.2f GB | %s | %s | %.1f / %.1f |" % (
                graph, n, " | ".join(cells), seconds, peak, method, chosen, load, os.getloadavg()[0]), flush=True)
            if code != 0:
                print("<!-- %s -->" % errors.strip().replace("\n", " "), flush=True)


if __name__ == "__main__":
    main()
