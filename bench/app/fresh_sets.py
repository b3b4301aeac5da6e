#!/usr/bin/python3
"""Generated sets that no threshold of the count rule was chosen on: the count and ARI of
`rotalign cluster` with its defaults, for one build or two side by side.

usage: /usr/bin/python3 bench/app/fresh_sets.py [--rotalign PATH] [--against PATH] [--work DIR]

The sets, in three families:

  suite    the 44 generated sets of the group-count suite (`rotalign generate --list`) with the
           seeds 101 and 202 instead of their own
  blobs    scikit-learn's make_blobs, 2,000 points, 3 to 6 centres, seeds 100-109
  shapes   scikit-learn's make_moons (noise 0.05, 0.08, 0.1) and make_circles (factor 0.5, noise
           half of that), 3,000 points, seeds 0-3

Per family it prints on how many sets the count is right and the mean adjusted Rand index; with
--against, the same for the other build, and every set where the two differ. A benchmark, not a
test: it exits 0 whatever the figures.
"""
import argparse
import os
import subprocess
import tempfile

import numpy as np
from sklearn.datasets import make_blobs, make_circles, make_moons
from sklearn.metrics import adjusted_rand_score


def suite_sets(program, work):
    listing = subprocess.run([program, "generate", "--list"], capture_output=True, text=True, check=True)
    for line in listing.stdout.strip().splitlines()[1:]:
        name = line.split("\t")[0]
        for seed in (101, 202):
            points, truth = (os.path.join(work, "%s_%d%s" % (name, seed, end)) for end in (".csv", "_t.csv"))
            with open(points, "w") as out:
                subprocess.run([program, "generate", name, "--seed", str(seed), "--truth", truth],
                               stdout=out, check=True)
            labels = np.loadtxt(truth)
            yield "suite", "%s@%d" % (name, seed), points, labels, len(set(labels[labels > 0]))


def sklearn_sets(work):
    def saved(family, name, x, y):
        path = os.path.join(work, name + ".npy")
        np.save(path, x)
        return family, name, path, y, len(set(y))

    for centres in (3, 4, 5, 6):
        for seed in range(100, 110):
            yield saved("blobs", "blobs%d@%d" % (centres, seed),
                        *make_blobs(2000, centers=centres, random_state=seed))
    for seed in range(4):
        for noise in (0.05, 0.08, 0.1):
            yield saved("shapes", "moons%g@%d" % (noise, seed), *make_moons(3000, noise=noise, random_state=seed))
            yield saved("shapes", "circles%g@%d" % (noise / 2, seed),
                        *make_circles(3000, noise=noise / 2, factor=0.5, random_state=seed))


def run(program, points, work):
    out = os.path.join(work, "groups.txt")
    if subprocess.run([program, "cluster", points, "--output", out], capture_output=True).returncode:
        return 0, 0.0
    groups = np.loadtxt(out)
    return len(set(groups[groups > 0])), groups


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rotalign", default="build/default/rotalign")
    parser.add_argument("--against", help="a second build, run on the same sets")
    parser.add_argument("--work", help="where the sets are written (default: a temporary directory)")
    args = parser.parse_args()
    programs = [args.rotalign] + ([args.against] if args.against else [])
    with tempfile.TemporaryDirectory() as temporary:
        work = args.work or temporary
        os.makedirs(work, exist_ok=True)
        totals = {}
        for family, name, points, truth, count in list(suite_sets(args.rotalign, work)) + list(sklearn_sets(work)):
            found = []
            for program in programs:
                chosen, groups = run(program, points, work)
                ari = adjusted_rand_score(truth, groups) if chosen else 0.0
                found.append((chosen, ari))
                right, aris = totals.setdefault((family, program), [0, []])
                totals[(family, program)][0] = right + (chosen == count)
                aris.append(ari)
            if len(found) > 1 and found[0][0] != found[1][0]:
                print("%-7s %-20s true %2d: %s" % (family, name, count, "  ".join(
                    "%2d groups, ARI %.3f" % f for f in found)), flush=True)
        for (family, program), (right, aris) in totals.items():
            print("%-7s %-40s count right on %d of %d, mean ARI %.3f" % (family, program, right, len(aris),
                                                                          np.mean(aris)))


if __name__ == "__main__":
    main()
