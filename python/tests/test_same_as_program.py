"""The estimator gives what the program `rotalign cluster` gives on the same points: the same
groups, the same chosen count and the qualities as the program prints them."""

import csv
import math
import subprocess

import numpy as np
import pytest
from numpy.testing import assert_array_equal

from rotalign import RotationClustering

# The demo's data sets and seeds (`rotalign demo`), 600 points each.
DEMO = [("moons", 11), ("circles", 12), ("blobs", 13), ("lines", 14)]


def generate(program, name, seed, folder):
    path = folder / ("%s-%d.csv" % (name, seed))
    with open(path, "w") as out:
        subprocess.run([program, "generate", name, "--seed", str(seed)], stdout=out, check=True)
    with open(path) as f:
        rows = list(csv.reader(f))[1:]
    # Python's float() reads the program's 17 digits back to the very same doubles.
    return path, np.array([[float(v) for v in row] for row in rows])


def run_program(program, path, *options):
    done = subprocess.run([program, "cluster", str(path), *options], capture_output=True, text=True, check=True)
    summary = dict(line.split(": ", 1) for line in done.stderr.splitlines())
    # The program shows "-" for a count inside a block of repeated eigenvalues, where no search ran
    # and the estimator holds NaN.
    qualities = [item.split("=")[1].replace("-", "nan") for item in summary["quality"].split()]
    return np.array(done.stdout.split(), dtype=np.int64), int(summary["groups"].split()[0]), qualities


def as_printed(quality):
    return ["nan" if math.isnan(q) else "%.6f" % q for q in quality]


def assert_same(model, program_result):
    groups, chosen, qualities = program_result
    assert_array_equal(model.labels_ + 1, groups)
    assert model.n_groups_ == chosen
    assert as_printed(model.quality_) == qualities


@pytest.mark.parametrize("name, seed", DEMO)
def test_demo_sets(program, tmp_path, name, seed):
    path, X = generate(program, name, seed, tmp_path)
    assert_same(RotationClustering().fit(X), run_program(program, path))


@pytest.mark.parametrize(
    "params, options",
    [
        ({"affinity": "mean", "n_neighbors": 5}, ["--affinity", "olvane", "--neighbours", "5"]),
        ({"affinity": "global", "scale": 0.3, "max_groups": 6}, ["--affinity", "pellor", "--scale", "0.3", "--max-groups", "6"]),
        ({"search": "numerical", "n_groups": 3, "max_groups": 4}, ["--search", "numerical", "--groups", "3", "--max-groups", "4"]),
        ({"tolerance": 0.05, "eigen_solver": "dense"}, ["--tolerance", "0.05", "--solver", "dense"]),
        ({"standardise": True}, ["--standardise"]),
    ],
)
def test_options(program, tmp_path, params, options):
    path, X = generate(program, "blobs", 5, tmp_path)
    assert_same(RotationClustering(**params).fit(X), run_program(program, path, *options))


def test_a_distance_matrix(program, tmp_path):
    _, X = generate(program, "moons", 11, tmp_path)
    # For two coordinates NumPy sums (a0 - b0)^2 + (a1 - b1)^2 as the chain does.
    D = ((X[:, None, :] - X[None, :, :]) ** 2).sum(axis=2)
    path = tmp_path / "distances.csv"
    np.savetxt(path, D, delimiter=",", fmt="%.17g")
    expected = run_program(program, path, "--distances")
    assert_same(RotationClustering(metric="precomputed").fit(D), expected)
    assert_same(RotationClustering(graph="dense").fit(X), expected)
