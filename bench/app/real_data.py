#!/usr/bin/python3
"""Real labelled data: how well `rotalign cluster` does on feature tables, beside scikit-learn.

usage: /usr/bin/python3 bench/app/real_data.py [--rotalign PATH] [--only NAME ...] [--raw-only]
                                              [--no-sklearn] [--standardise-here] [--ceiling]
                                              [-- FLAG ...]

Every set is run twice: raw (the columns in their own units) and standardised (every column
shifted to zero mean and divided by its spread, the population standard deviation; a column of
zero spread is only centred), the "/std" rows: the program standardises with --standardise (or,
with --standardise-here, for builds without it, gets points standardised here); scikit-learn
gets points standardised here. The sets:

  iris, wine, breast-cancer, digits  scikit-learn's own (python3-sklearn)
  segment   image segmentation, 2,310 regions of 7 classes, 19 features (weka's examples,
            segment-challenge and segment-test together)
  heart     the Statlog heart data, 270 patients of 2 classes, 13 features already scaled to
            [-1, 1] (heart_scale.dat of octave-statistics)

and five added once the count rule was set, which were not looked at while choosing it:

  credit    1,000 loans, good or bad, the 7 numeric of their 20 features (weka's examples)
  unbalanced  856 compounds, 2 classes of which one holds 12, 32 features (weka's examples)
  arrhythmia  452 patients, 13 classes of heart rhythm, the 274 of 279 measurements that none
            of them lacks (octave-statistics, read through octave-cli)
  cars-origin  392 cars from 3 regions, 5 features (carbig of octave-statistics; cars with a
            missing feature left out)
  cars-year  93 cars of 3 model years, the same 5 features (carsmall of octave-statistics)

A set whose package is missing is left out with a note (scripts/install-deps.sh bench-data).
For every set it prints:

  N, dims, true   points, features and true classes
  chosen          the number of groups that `rotalign cluster` chooses (--max-groups 10, or
                  twice the true count when that is more)
  ARI choose      adjusted Rand index against the classes of the groups it chose
  ARI told        the same with the true count given (--groups)
  sklearn told    scikit-learn's SpectralClustering(affinity='nearest_neighbors',
                  random_state=0), its other settings the defaults, given the true count
  units           "warn" where the program warned that the columns' spreads differ more than
                  100 times
  best            with --ceiling: the count from 2 to the largest tried whose groups (told that
                  count) have the highest ARI, and that ARI: what a rule that always picked the
                  best count could reach with these groups

then the means, on how many sets the count was right, and on how many sets rotalign choosing
the count did at least as well as scikit-learn told it: over all sets, and over the five added
later alone (with --ceiling also the means and tallies of the best counts). Everything after
`--` goes to every `rotalign cluster` call, so that variants can be compared:
`-- --graph knn --neighbours 10`.
It is a benchmark, not a test: it exits 0 whatever the figures (1 when a run fails).
"""
import argparse
import io
import os
import shutil
import subprocess
import sys
import tempfile
import warnings

import numpy as np
from sklearn import datasets
from sklearn.cluster import SpectralClustering
from sklearn.metrics import adjusted_rand_score

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WEKA_EXAMPLES = "/usr/share/doc/weka/examples"
OCTAVE_DATASETS = "/usr/share/octave/packages"


def standardised(x):
    """Zero mean and unit spread per column; a column of zero spread only centred."""
    centred = x - x.mean(axis=0)
    spread = np.sqrt((centred ** 2).mean(axis=0))
    return centred / np.where(spread > 0, spread, 1.0)


def read_arff(paths):
    """The numeric columns and the class (last attribute) of weka's ARFF files, rows appended;
    nominal columns are left out. Missing numeric values ("?") are not expected."""
    rows, labels = [], []
    for path in paths:
        in_data, numeric = False, []
        with open(path) as f:
            for line in f:
                line = line.strip()
                if not line or line.startswith("%"):
                    continue
                if line.lower().startswith("@attribute"):
                    numeric.append(line.split()[-1].lower() in ("numeric", "real", "integer"))
                elif line.lower().startswith("@data"):
                    in_data = True
                elif in_data:
                    fields = [field.strip().strip("'\"") for field in line.split(",")]
                    rows.append([float(v) for k, v in enumerate(fields[:-1]) if numeric[k]])
                    labels.append(fields[-1])
    return np.array(rows), labels


def read_libsvm(path):
    """Dense rows of a sparse "label index:value ..." text file; absent features are zero."""
    labels, entries = [], []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if not parts:
                continue
            labels.append(parts[0])
            entries.append({int(k): float(v) for k, v in (p.split(":") for p in parts[1:])})
    dims = max(max(e) for e in entries if e)
    x = np.zeros((len(entries), dims))
    for i, e in enumerate(entries):
        for k, v in e.items():
            x[i, k - 1] = v
    return x, labels


def classes_of(labels):
    """Classes numbered 1, 2, ... in order of first appearance."""
    order = {}
    return np.array([order.setdefault(label, len(order) + 1) for label in labels])


def weka_set(*names):
    """A labelled set of weka's examples, its files appended; None when weka is missing."""
    paths = [os.path.join(WEKA_EXAMPLES, name) for name in names]
    if not all(os.path.exists(p) for p in paths):
        return None
    x, labels = read_arff(paths)
    return x, classes_of(labels)


def statistics_datasets():
    """The datasets folder of the newest octave-statistics, or None."""
    found = sorted(os.path.join(OCTAVE_DATASETS, d, "datasets")
                   for d in (os.listdir(OCTAVE_DATASETS) if os.path.isdir(OCTAVE_DATASETS) else [])
                   if d.startswith("statistics-"))
    return found[-1] if found and os.path.isdir(found[-1]) else None


def octave_set(file, features, classes):
    """Points and classes from one of octave-statistics' .mat files (Octave's own format, which
    SciPy does not read), through octave-cli: `features` and `classes` are Octave expressions
    over the file's variables; rows with a missing feature (NaN) are left out. None when Octave
    or the file is missing."""
    folder = statistics_datasets()
    if folder is None or not os.path.exists(os.path.join(folder, file)) or shutil.which("octave-cli") is None:
        return None
    script = ("load('%s'); x = %s; [~, ~, y] = unique(%s); t = [x y]; t = t(all(~isnan(x), 2), :); "
              "printf([repmat('%%.17g,', 1, columns(t) - 1) '%%d\\n'], t');"
              % (os.path.join(folder, file), features, classes))
    done = subprocess.run(["octave-cli", "--no-gui", "--quiet", "--no-init-file", "--eval", script],
                          capture_output=True, text=True)
    if done.returncode != 0:
        return None
    table = np.loadtxt(io.StringIO(done.stdout), delimiter=",", ndmin=2)
    return table[:, :-1], table[:, -1].astype(int)


def heart():
    folder = statistics_datasets()
    path = folder and os.path.join(folder, "heart_scale.dat")
    if not path or not os.path.exists(path):
        return None
    x, labels = read_libsvm(path)
    return x, classes_of(labels)


def sklearn_set(loader):
    data = loader()
    return data.data.astype(float), data.target + 1


# Name, loader (points and classes, or None when the package is missing), package. The sets
# after LATER were added once the count rule was set, and were not looked at while choosing it.
CARS = "[Acceleration Displacement Horsepower MPG Weight]"
SETS = [
    ("iris", lambda: sklearn_set(datasets.load_iris), "python3-sklearn"),
    ("wine", lambda: sklearn_set(datasets.load_wine), "python3-sklearn"),
    ("breast-cancer", lambda: sklearn_set(datasets.load_breast_cancer), "python3-sklearn"),
    ("digits", lambda: sklearn_set(datasets.load_digits), "python3-sklearn"),
    ("segment", lambda: weka_set("segment-challenge.arff", "segment-test.arff"), "weka"),
    ("heart", heart, "octave-statistics"),
    ("credit", lambda: weka_set("credit-g.arff"), "weka"),
    ("unbalanced", lambda: weka_set("unbalanced.arff"), "weka"),
    ("arrhythmia", lambda: octave_set("arrhythmia.mat", "X(:, all(~isnan(X), 1))", "Y"),
     "octave-statistics, octave"),
    ("cars-origin", lambda: octave_set("carbig.mat", CARS, "cellstr(org)"), "octave-statistics, octave"),
    ("cars-year", lambda: octave_set("carsmall.mat", CARS, "Model_Year"), "octave-statistics, octave"),
]
LATER = "credit"


def run_rotalign(rotalign, path, folder, max_groups, flags, fixed=None):
    """Chosen count and groups of one run, or the message when it fails."""
    groups_file = os.path.join(folder, "groups.txt")
    args = [rotalign, "cluster", path, "--max-groups", str(max_groups), "--output", groups_file] + list(flags)
    if fixed:
        args += ["--groups", str(fixed)]
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        return dict(chosen=0, groups=None, message=done.stderr.strip().splitlines()[0] if done.stderr else "failed")
    chosen, warned = 0, False
    for line in done.stdout.splitlines():
        if line.startswith("groups:"):
            chosen = int(line.split()[1])
        warned = warned or (line.startswith("warning:") and "spreads" in line)
    return dict(chosen=chosen, groups=np.loadtxt(groups_file, dtype=int, ndmin=1), message="", warned=warned)


def sklearn_ari(points, truth, groups):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # "graph is not fully connected"
        labels = SpectralClustering(n_clusters=groups, affinity="nearest_neighbors",
                                    random_state=0).fit_predict(points)
    return adjusted_rand_score(truth, labels)


def best_count(rotalign, path, folder, max_groups, flags, truth, known):
    """The count from 2 to `max_groups` whose groups, told that count, agree best with `truth`;
    `known` maps counts already run to their ARI."""
    best = (0, -1.0)
    for count in range(2, max_groups + 1):
        ari = known.get(count)
        if ari is None:
            told = run_rotalign(rotalign, path, folder, max_groups, flags, fixed=count)
            if told["groups"] is None:
                continue
            ari = adjusted_rand_score(truth, told["groups"])
        best = max(best, (count, ari), key=lambda b: b[1])
    return best


def summarise(title, rows, no_sklearn):
    """One line of means and tallies over `rows`."""
    if not rows:
        return
    mean = lambda key: sum(r[key] for r in rows) / len(rows)
    line = "%s: %d sets; mean ARI choosing %.4f, told %.4f" % (title, len(rows), mean("choose"), mean("told"))
    if not no_sklearn:
        line += ", sklearn told %.4f" % mean("sklearn")
    line += "; count right on %d/%d" % (sum(r["right"] for r in rows), len(rows))
    if not no_sklearn:
        line += "; rotalign choosing >= sklearn told on %d/%d" % (
            sum(r["choose"] >= r["sklearn"] for r in rows), len(rows))
    if "best" in rows[0]:
        line += "; the best counts: mean ARI %.4f" % mean("best")
        if not no_sklearn:
            line += ", >= sklearn told on %d/%d" % (sum(r["best"] >= r["sklearn"] for r in rows), len(rows))
    print(line)


def main():
    argv = sys.argv[1:]
    flags = []
    if "--" in argv:
        flags = argv[argv.index("--") + 1:]
        argv = argv[:argv.index("--")]
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                     epilog="flags after -- go to every rotalign cluster call")
    parser.add_argument("--rotalign", default=os.path.join(ROOT, "build", "default", "rotalign"),
                        help="the program to run (default: build/default/rotalign)")
    parser.add_argument("--only", nargs="*", help="names of the sets to run (without /std)")
    parser.add_argument("--raw-only", action="store_true", help="skip the standardised runs")
    parser.add_argument("--no-sklearn", action="store_true", help="skip scikit-learn's clustering")
    parser.add_argument("--ceiling", action="store_true",
                        help="also run every count and report the best one's ARI (about six times as long)")
    parser.add_argument("--standardise-here", action="store_true",
                        help="hand the program standardised points instead of passing --standardise")
    args = parser.parse_args(argv)
    if not os.access(args.rotalign, os.X_OK):
        sys.exit("real_data.py: no program at %s (build it, or give --rotalign)" % args.rotalign)

    print("rotalign: %s %s" % (args.rotalign, " ".join(flags)))
    header = "%-20s %6s %5s %5s %7s %11s %9s %13s %6s" % (
        "set", "N", "dims", "true", "chosen", "ARI choose", "ARI told", "sklearn told", "units")
    if args.ceiling:
        header += " %12s" % "best"
    print(header)
    print("-" * len(header))
    rows, failed = [], False
    with tempfile.TemporaryDirectory() as folder:
        later = False
        for name, load, package in SETS:
            later = later or name == LATER
            if args.only and name not in args.only:
                continue
            loaded = load()
            if loaded is None:
                print("%-20s left out: install %s (scripts/install-deps.sh bench-data)" % (name, package))
                continue
            x, truth = loaded
            true_count = len(np.unique(truth))
            # Label, points for scikit-learn, points for the program, the program's extra flags.
            variants = [(name, x, x, [])]
            if not args.raw_only:
                std = standardised(x)
                variants.append((name + "/std", std, std if args.standardise_here else x,
                                 [] if args.standardise_here else ["--standardise"]))
            for label, points, given, own in variants:
                path = os.path.join(folder, "points.csv")
                np.savetxt(path, given, delimiter=",", fmt="%.17g")
                max_groups = max(10, 2 * true_count)
                choose = run_rotalign(args.rotalign, path, folder, max_groups, own + flags)
                told = run_rotalign(args.rotalign, path, folder, max_groups, own + flags, fixed=true_count)
                if choose["groups"] is None or told["groups"] is None:
                    print("%-20s failed: %s" % (label, choose["message"] or told["message"]))
                    failed = True
                    continue
                row = dict(chosen=choose["chosen"], right=choose["chosen"] == true_count, later=later,
                           choose=adjusted_rand_score(truth, choose["groups"]),
                           told=adjusted_rand_score(truth, told["groups"]),
                           sklearn=None if args.no_sklearn else sklearn_ari(points, truth, true_count))
                line = "%-20s %6d %5d %5d %7d %11.4f %9.4f %13s %6s" % (
                    label, points.shape[0], points.shape[1], true_count, row["chosen"], row["choose"], row["told"],
                    "-" if row["sklearn"] is None else "%.4f" % row["sklearn"], "warn" if choose["warned"] else "")
                if args.ceiling:
                    row["best_count"], row["best"] = best_count(args.rotalign, path, folder, max_groups,
                                                                own + flags, truth, {true_count: row["told"]})
                    line += " %3d: %7.4f" % (row["best_count"], row["best"])
                rows.append(row)
                print(line, flush=True)
    later = [r for r in rows if r["later"]]
    summarise("summary", rows, args.no_sklearn)
    if later and len(later) < len(rows):
        summarise("sets added after the rule was set", later, args.no_sklearn)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
