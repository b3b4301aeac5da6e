#!/usr/bin/python3
"""The group-count suite: how well `rotalign cluster` chooses the number of groups.

usage: /usr/bin/python3 bench/app/group_count_suite.py [--build DIR] [--only NAME ...] [--no-sklearn]
                                                      [--graph dense|auto] [--octave] [--knn] [--sample ROWS]

For every set of `rotalign generate --list` (generated, fixed seeds) and the real data sets that
scikit-learn ships (iris, wine, breast cancer, digits; wine and breast cancer standardised), it
writes the points to CSV, runs the built `rotalign cluster` with `--solver dense` and with
`--solver lanczos` (on the dense graph, or with --graph auto on the graph the program chooses),
and prints one row per set:

  true     the true number of groups
  dense    the number chosen with the dense solver, lanczos the same with Lanczos
  same     whether both solvers chose the same number with groupings of ARI >= 0.99 between them
  ARI      adjusted Rand index of rotalign's groups (dense solver) against the truth
  sklearn  ARI of scikit-learn's SpectralClustering (nearest-neighbour affinity) told the count
  gap/gapARI  the plain eigengap rule (largest lambda_c - lambda_c+1, c = 2..max) on the same
           eigenvalues, and the ARI of rotalign's groups for that count (--groups)
  octave   with --octave: the number that octave/rotalign_cluster.m chooses on the Octave builds
           of the plug-ins (BUILD/octave), and whether its groups match the program's (ARI >= 0.99)
  knn      with --knn: the number chosen on the nearest-neighbour graph (--graph knn), the ARI
           between its groups and the dense graph's, and whether it matches (= : same count, ARI
           >= 0.99)
  sample   with --sample ROWS: the number chosen with the rotation searches on ROWS sampled rows
           (--rotation-sample; at most a third of the set's points), and whether it matches

then the totals. It is a benchmark, not a test: it exits 0 whatever the figures.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time
import warnings

import numpy as np
from sklearn import datasets
from sklearn.cluster import SpectralClustering
from sklearn.metrics import adjusted_rand_score

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def suite_sets(rotalign):
    out = subprocess.run([rotalign, "generate", "--list"], check=True, capture_output=True, text=True).stdout
    rows = [line.split("\t") for line in out.strip().splitlines()[1:]]
    return [dict(name=r[0], points=int(r[1]), dims=int(r[2]), groups=int(r[3]), max_groups=int(r[4]),
                 description=r[5]) for r in rows]


def real_sets():
    def standardised(x):
        return (x - x.mean(axis=0)) / x.std(axis=0)

    loaded = [("iris", datasets.load_iris(), False), ("wine", datasets.load_wine(), True),
              ("breast-cancer", datasets.load_breast_cancer(), True), ("digits", datasets.load_digits(), False)]
    for name, data, scale in loaded:
        x = data.data.astype(float)
        yield name, (standardised(x) if scale else x), data.target + 1


def write_set(folder, name, points, truth):
    path = os.path.join(folder, name + ".csv")
    np.savetxt(path, points, delimiter=",", fmt="%.17g")
    return path


GRAPH = ["--graph", "dense"]


def run_rotalign(rotalign, path, folder, solver, max_groups, fixed=None, extra=()):
    """Chosen count, eigenvalues and groups of one run; count 0 and the message when it fails."""
    groups_file = os.path.join(folder, "groups.txt")
    args = [rotalign, "cluster", path, "--solver", solver, "--max-groups", str(max_groups), "--output", groups_file]
    args += list(extra) or GRAPH
    if fixed:
        args += ["--groups", str(fixed)]
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        return dict(chosen=0, values=[], groups=None, message=done.stderr.strip())
    chosen, values = 0, []
    for line in done.stdout.splitlines():
        if line.startswith("groups:"):
            chosen = int(line.split()[1])
        elif line.startswith("eigenvalues:"):
            values = [float(item.split("=")[1]) for item in line.split()[1:]]
    return dict(chosen=chosen, values=values, groups=np.loadtxt(groups_file, dtype=int), message="")


def largest_eigengap(values, max_groups):
    last = min(max_groups, len(values) - 1)
    gaps = [(values[c - 1] - values[c], c) for c in range(2, last + 1)]
    return max(gaps, key=lambda g: (g[0], -g[1]))[1] if gaps else 0


def sklearn_ari(points, truth, groups):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # "graph is not fully connected"
        labels = SpectralClustering(n_clusters=groups, affinity="nearest_neighbors", random_state=0,
                                    assign_labels="kmeans").fit_predict(points)
    return adjusted_rand_score(truth, labels)


def run_octave(build, folder, cases, graph):
    """The Octave chain's count and groups on every case, on the graph the program's columns take
    (dense or auto), in one Octave process."""
    listing = os.path.join(folder, "octave_cases.txt")
    with open(listing, "w") as out:
        for name, path, _, _, max_groups in cases:
            out.write("%s %d %s\n" % (name, max_groups, path))
    script = (
        "addpath ('%s'); addpath ('%s');\n"
        "[names, largest, paths] = textread ('%s', '%%s %%d %%s');\n"
        "for k = 1:numel (names)\n"
        "  P = dlmread (paths{k}, ',', double (any (isletter (fileread (paths{k})(1:10)))), 0);\n"
        "  try\n"
        "    [g, c] = rotalign_cluster (P, 'max_groups', largest(k), 'graph', '%s');\n"
        "    dlmwrite ([paths{k} '.octave'], g);\n"
        "  catch\n"
        "    c = 0;\n"
        "  end\n"
        "  printf ('%%s %%d\\n', names{k}, c);\n"
        "end\n") % (os.path.join(build, "octave"), os.path.join(ROOT, "octave"), listing, graph)
    done = subprocess.run(["octave-cli", "--norc", "--no-window-system", "--quiet", "--eval", script],
                          capture_output=True, text=True)
    chosen = {}
    for line in done.stdout.splitlines():
        parts = line.split()
        if len(parts) == 2:
            chosen[parts[0]] = int(parts[1])
    result = {}
    for name, path, _, _, _ in cases:
        groups = np.loadtxt(path + ".octave", dtype=int) if os.path.exists(path + ".octave") else None
        result[name] = (chosen.get(name, 0), groups)
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "default"))
    parser.add_argument("--only", nargs="*", help="names of the sets to run")
    parser.add_argument("--no-sklearn", action="store_true", help="skip scikit-learn's clustering")
    parser.add_argument("--octave", action="store_true", help="also run the Octave chain")
    parser.add_argument("--graph", default="dense", choices=("dense", "auto"),
                        help="the graph of the main columns: dense, or auto (the program's default)")
    parser.add_argument("--knn", action="store_true", help="also run on the nearest-neighbour graph")
    parser.add_argument("--graph-neighbours", type=int, default=0, help="with --knn: neighbours per point")
    parser.add_argument("--sample", type=int, default=0, help="also run the rotations on this many sampled rows")
    parser.add_argument("--sample-share", type=int, default=33, help="with --sample: at most this percentage of a set")
    options = parser.parse_args()
    GRAPH[1] = options.graph
    rotalign = os.path.join(options.build, "rotalign")
    if not os.access(rotalign, os.X_OK):
        sys.exit("no %s: build it first (cmake --build %s --target rotalign)" % (rotalign, options.build))

    start = time.time()
    header = "%-15s %5s %4s %5s %6s %8s %5s %7s %8s %4s %7s" % (
        "set", "N", "dims", "true", "dense", "lanczos", "same", "ARI", "sklearn", "gap", "gapARI")
    if options.octave:
        header += " %7s" % "octave"
    if options.knn:
        header += " %12s" % "knn  vs dense"
    if options.sample:
        header += " %7s" % "sample"
    print(header)
    print("-" * len(header))
    totals = dict(sets=0, hits=0, hits_lanczos=0, same=0, ari=0.0, sklearn=0.0, gap_hits=0, gap_ari=0.0,
                  octave_same=0, knn_same=0, knn_hits=0, knn_ari=0.0, sample_same=0)
    with tempfile.TemporaryDirectory() as folder:
        cases = []
        for s in suite_sets(rotalign):
            if options.only and s["name"] not in options.only:
                continue
            truth_file = os.path.join(folder, s["name"] + ".truth")
            path = os.path.join(folder, s["name"] + ".csv")
            with open(path, "w") as out:
                subprocess.run([rotalign, "generate", s["name"], "--truth", truth_file], check=True, stdout=out)
            points = np.loadtxt(path, delimiter=",", skiprows=1, ndmin=2)
            cases.append((s["name"], path, points, np.loadtxt(truth_file, dtype=int), s["max_groups"]))
        for name, points, truth in real_sets():
            if options.only and name not in options.only:
                continue
            cases.append((name, write_set(folder, name, points, truth), points, truth, 10))

        octave = run_octave(options.build, folder, cases, options.graph) if options.octave else {}
        for name, path, points, truth, max_groups in cases:
            true_count = len(set(truth.tolist()))
            dense = run_rotalign(rotalign, path, folder, "dense", max_groups)
            lanczos = run_rotalign(rotalign, path, folder, "lanczos", max_groups)
            same = (dense["chosen"] == lanczos["chosen"] and dense["groups"] is not None and
                    lanczos["groups"] is not None and adjusted_rand_score(dense["groups"], lanczos["groups"]) >= 0.99)
            ari = adjusted_rand_score(truth, dense["groups"]) if dense["groups"] is not None else 0.0
            sk = float("nan") if options.no_sklearn else sklearn_ari(points, truth, true_count)
            gap = largest_eigengap(dense["values"], max_groups) if dense["values"] else 0
            gap_ari = 0.0
            if gap == dense["chosen"]:
                gap_ari = ari
            elif gap >= 2:
                fixed = run_rotalign(rotalign, path, folder, "dense", max_groups, fixed=gap)
                gap_ari = adjusted_rand_score(truth, fixed["groups"]) if fixed["groups"] is not None else 0.0
            row = "%-15s %5d %4d %5d %6s %8s %5s %7.3f %8.3f %4d %7.3f" % (
                name, len(truth), points.shape[1], true_count, dense["chosen"] or "error",
                lanczos["chosen"] or "error", "yes" if same else "NO", ari, sk, gap, gap_ari)
            if options.octave:
                count, groups = octave[name]
                matches = (count == dense["chosen"] and groups is not None and dense["groups"] is not None and
                           adjusted_rand_score(groups, dense["groups"]) >= 0.99)
                totals["octave_same"] += matches
                row += " %4s %s" % (count or "error", "=" if matches else "!")

            def matching(run):
                return (run["chosen"] == dense["chosen"] and run["groups"] is not None and
                        dense["groups"] is not None and adjusted_rand_score(run["groups"], dense["groups"]) >= 0.99)

            if options.knn:
                extra = ["--graph", "knn"]
                if options.graph_neighbours:
                    extra += ["--graph-neighbours", str(min(options.graph_neighbours, len(truth) - 1))]
                knn = run_rotalign(rotalign, path, folder, "auto", max_groups, extra=extra)
                totals["knn_same"] += matching(knn)
                totals["knn_hits"] += knn["chosen"] == true_count
                totals["knn_ari"] += adjusted_rand_score(truth, knn["groups"]) if knn["groups"] is not None else 0.0
                versus = (adjusted_rand_score(knn["groups"], dense["groups"])
                          if knn["groups"] is not None and dense["groups"] is not None else 0.0)
                row += " %4s %6.3f %s" % (knn["chosen"] or "error", versus, "=" if matching(knn) else "!")
            if options.sample:
                rows = min(options.sample, len(truth) * options.sample_share // 100)
                sampled = run_rotalign(rotalign, path, folder, "dense", max_groups,
                                       extra=["--graph", "dense", "--rotation-sample", str(rows)])
                totals["sample_same"] += matching(sampled)
                row += " %5s %s" % (sampled["chosen"] or "error", "=" if matching(sampled) else "!")
            print(row)
            for run in (dense, lanczos):
                if run["message"]:
                    print("    " + run["message"])
            totals["sets"] += 1
            totals["hits"] += dense["chosen"] == true_count
            totals["hits_lanczos"] += lanczos["chosen"] == true_count
            totals["same"] += same
            totals["ari"] += ari
            totals["sklearn"] += sk
            totals["gap_hits"] += gap == true_count
            totals["gap_ari"] += gap_ari

    n = max(totals["sets"], 1)
    print("-" * len(header))
    print("sets: %d; true count: dense %d (%.0f%%), lanczos %d; solvers agree on %d" % (
        totals["sets"], totals["hits"], 100.0 * totals["hits"] / n, totals["hits_lanczos"], totals["same"]))
    print("mean ARI: rotalign %.3f, scikit-learn told the count %.3f, eigengap rule %.3f (true count on %d)" % (
        totals["ari"] / n, totals["sklearn"] / n, totals["gap_ari"] / n, totals["gap_hits"]))
    if options.octave:
        print("the Octave chain matches the program (count and groups) on %d" % totals["octave_same"])
    if options.knn:
        print("knn graph: true count on %d, mean ARI %.3f; same count and groups (ARI >= 0.99) as dense on %d" % (
            totals["knn_hits"], totals["knn_ari"] / n, totals["knn_same"]))
    if options.sample:
        print("rotations on a sample of rows: same count and groups as on every row on %d" % totals["sample_same"])
    print("time: %.0f s" % (time.time() - start))


if __name__ == "__main__":
    main()
