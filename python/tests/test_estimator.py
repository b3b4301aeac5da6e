"""RotationClustering: its attributes, its parameter checks, and what it does with X."""

import warnings

import numpy as np
import scipy.sparse
import pytest
from numpy.testing import assert_array_equal
from sklearn.base import clone
from sklearn.datasets import make_blobs, make_moons
from sklearn.metrics import adjusted_rand_score

import rotalign
from rotalign import RotationClustering


@pytest.fixture(scope="module")
def moons():
    return make_moons(240, noise=0.05, random_state=3)


def squared_distances(X):
    return ((X[:, None, :] - X[None, :, :]) ** 2).sum(axis=2)


def test_fitted_attributes(moons):
    X, truth = moons
    model = RotationClustering(max_groups=6, graph="dense").fit(X)
    assert model.n_groups_ == 2
    assert adjusted_rand_score(truth, model.labels_) == 1.0
    assert model.labels_.dtype == np.int64 and set(model.labels_) == {0, 1}
    assert model.quality_.shape == (5,) and np.nanargmax(model.quality_) == 0
    assert model.eigenvalues_.shape == (7,)  # one beyond the largest count tried
    assert np.all(np.diff(model.eigenvalues_) <= 0) and model.eigenvalues_[0] == pytest.approx(1.0)
    assert model.n_features_in_ == 2
    assert model.eigen_solver_ == "lanczos"
    assert set(model.stage_times_) == {"distances", "affinity", "diagonal", "normalise", "eigen", "rotation", "choice"}
    assert_array_equal(model.fit_predict(X), model.labels_)


def test_the_affinity_matrix_is_the_plugins_output_and_no_copy(moons):
    X, _ = moons
    for params, plugin in (
        ({}, lambda D: rotalign.brenmoss(D, 7, nout=2)[1]),
        ({"affinity": "mean", "n_neighbors": 5}, lambda D: rotalign.olvane(D, 5, nout=2)[1]),
        ({"affinity": "global", "scale": 0.4}, lambda D: rotalign.pellor(D, 0.4)),
    ):
        A = RotationClustering(max_groups=3, graph="dense", **params).fit(X).affinity_matrix_
        assert_array_equal(A, plugin(squared_distances(X)))
        # A view of the chain's own host matrix, not an array NumPy allocated.
        assert A.flags.f_contiguous and not A.flags.owndata


def test_precomputed_squared_distances_give_the_groups_of_the_points(moons):
    X, _ = moons
    points = RotationClustering(max_groups=4, graph="dense").fit(X)
    D = squared_distances(X)
    for model in (
        RotationClustering(max_groups=4, metric="precomputed"),
        RotationClustering(max_groups=4, affinity="precomputed"),
    ):
        model.fit(np.asfortranarray(D))
        assert_array_equal(model.labels_, points.labels_)
        assert_array_equal(model.quality_, points.quality_)
    mean = RotationClustering(max_groups=4, affinity="mean", graph="dense")
    assert_array_equal(
        clone(mean).set_params(metric="precomputed").fit(D).labels_, mean.fit(X).labels_
    )


@pytest.mark.parametrize(
    "D, message",
    [
        (np.ones((3, 4)), "must be square"),
        (np.array([[0.0, 1.0], [1.0, 2.0]]), r"non-zero diagonal at X\[1, 1\]"),
        (np.array([[0.0, -1.0], [-1.0, 0.0]]), r"negative value at X\[0, 1\]"),
        (np.array([[0.0, 1.0, 2.0], [1.0, 0.0, 3.0], [2.0, 3.5, 0.0]]), r"not symmetric: X\[1, 2\] differs from X\[2, 1\]"),
    ],
)
def test_distance_matrices_the_chain_cannot_use(D, message):
    with pytest.raises(ValueError, match=message):
        RotationClustering(n_neighbors=1, max_groups=2, metric="precomputed").fit(D)


@pytest.mark.parametrize(
    "params, message",
    [
        ({"affinity": "rbf"}, "affinity must be one of 'local', 'mean', 'global', 'precomputed', got 'rbf'"),
        ({"metric": "euclidean"}, "metric must be one of"),
        ({"n_neighbors": 0}, "n_neighbors must be an integer from 1 to"),
        ({"n_neighbors": 2.5}, "n_neighbors must be an integer, got 2.5"),
        ({"n_neighbors": True}, "n_neighbors must be an integer"),
        ({"max_groups": 1}, "max_groups must be an integer from 2"),
        ({"n_groups": 1}, "n_groups must be an integer from 2"),
        ({"tolerance": -0.1}, "tolerance must be at least 0"),
        ({"tolerance": float("nan")}, "tolerance must be a finite number"),
        ({"search": "random"}, "search must be one of 'gradient', 'numerical'"),
        ({"eigen_solver": "amg"}, "eigen_solver must be one of"),
        ({"graph": "full"}, "graph must be one of 'auto', 'dense', 'knn'"),
        ({"graph": "knn", "metric": "precomputed"}, "graph='knn' builds its graph from points"),
        ({"graph_neighbors": 0}, "graph_neighbors must be an integer from 1"),
        ({"neighbor_search": "lsh"}, "neighbor_search must be one of"),
        ({"rotation_sample": -1}, "rotation_sample must be an integer from 0"),
        ({"standardise": 1}, "standardise must be True or False, got 1"),
        ({"standardise": True, "metric": "precomputed"}, "standardise=True needs points"),
        ({"affinity": "global"}, "affinity='global' needs scale, a positive number"),
        ({"affinity": "global", "scale": 0.0}, "scale must be positive"),
        ({"n_neighbors": 30}, "n_samples=20 is too few for n_neighbors=30: at least 31 samples are needed"),
        ({"max_groups": 21}, r"n_samples=20 cannot form 21 groups \(max_groups\)"),
        ({"n_groups": 25}, r"n_samples=20 cannot form 25 groups \(n_groups\)"),
    ],
)
def test_parameters_are_checked_in_fit(params, message):
    X, _ = make_blobs(20, random_state=0)
    model = RotationClustering(**params)  # the constructor takes anything, as scikit-learn's do
    with pytest.raises(ValueError, match=message):
        model.fit(X)


def test_dense_and_auto_graph_and_fixed_groups(moons):
    X, _ = moons
    auto = RotationClustering(max_groups=4).fit(X)
    assert_array_equal(RotationClustering(max_groups=4, graph="dense").fit(X).labels_, auto.labels_)
    fixed = RotationClustering(max_groups=4, n_groups=3, tolerance=0.0).fit(X)
    assert fixed.n_groups_ == 3 and set(fixed.labels_) == {0, 1, 2}
    assert fixed.quality_.shape == (2,)


def test_features_in_other_units(moons):
    """Wide contrasts of the features' spreads are warned of; standardised, units do not matter."""
    X, _ = moons
    moved = X * [-2000.0, 0.5] + [1e4, -7.0]
    with pytest.warns(UserWarning, match=r"spreads differ \S+ times \(feature 0: \S+, feature 1: \S+\).*standardise=True"):
        RotationClustering(max_groups=4).fit(moved)
    before = moved.copy()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        reference = RotationClustering(max_groups=4, standardise=True).fit(X)
        model = RotationClustering(max_groups=4, standardise=True).fit(moved)
        RotationClustering(max_groups=4).fit(X)
    assert_array_equal(moved, before)
    assert model.n_groups_ == reference.n_groups_
    assert adjusted_rand_score(model.labels_, reference.labels_) == 1.0


def test_X_is_not_changed_and_layouts_agree(moons):
    X, _ = moons
    reference = RotationClustering(max_groups=3).fit(X).labels_
    F = np.asfortranarray(X)
    strided = np.repeat(X, 2, axis=1)[:, ::2]
    readonly = X.copy()
    readonly.setflags(write=False)
    for variant in (F, strided, readonly, X.tolist()):
        before = np.array(variant, copy=True)
        assert_array_equal(RotationClustering(max_groups=3).fit(variant).labels_, reference)
        assert_array_equal(np.asarray(variant), before)


def test_the_neighbour_graph_route(moons):
    """graph="knn": the same groups as the dense graph, a sparse affinity with the graph's pattern."""
    X, truth = moons
    dense = RotationClustering(max_groups=5, graph="dense").fit(X)
    knn = RotationClustering(max_groups=5, graph="knn").fit(X)
    assert dense.graph_ == "dense" and dense.graph_neighbors_ is None
    assert knn.graph_ == "knn" and knn.graph_neighbors_ >= 14 and knn.recall_ == 1.0
    assert knn.n_groups_ == dense.n_groups_ == 2
    assert adjusted_rand_score(dense.labels_, knn.labels_) == 1.0
    A = knn.affinity_matrix_
    assert scipy.sparse.isspmatrix_csc(A) and A.shape == (len(X), len(X))
    assert A.diagonal().max() == 0 and abs(A - A.T).max() == 0
    fixed = RotationClustering(max_groups=5, graph="knn", graph_neighbors=20).fit(X)
    assert fixed.graph_neighbors_ == 20


def test_the_remedy_is_spelled_as_a_parameter():
    # Sixteen far-apart places of eight equal points each: sixteen pieces, more than the ten
    # groups tried by default.
    X = np.repeat(np.arange(16.0)[:, None] * [100.0, 0.0], 8, axis=0)
    with pytest.raises(ValueError, match=r"allow 16 or more groups \(max_groups=16\), or use a larger neighbour"):
        RotationClustering().fit(X)
    assert RotationClustering(max_groups=16).fit(X).n_groups_ == 16


@pytest.mark.parametrize("option", rotalign._core.option_table(), ids=lambda o: o["parameter"])
def test_every_option_of_the_library_table_is_checked_as_the_table_says(option):
    X, _ = make_blobs(40, random_state=0)
    parameter = option["parameter"]
    base = {"affinity": "global", "scale": 1.0} if parameter == "scale" else {}
    assert parameter in RotationClustering().get_params()
    assert RotationClustering().get_params()[parameter] == option["default"]
    if option["kind"] == "word":
        outside = "no such word"
    elif option["kind"] == "whole":
        outside = int(option["least"]) - 1
    else:
        outside = option["least"] if option["least_excluded"] else option["least"] - 1
    with pytest.raises(ValueError, match="^%s must be" % parameter):
        RotationClustering(**{**base, parameter: outside}).fit(X)
    assert ("%s : " % parameter) in RotationClustering.__doc__


def test_stray_points_take_no_group_and_the_choice_says_how_sure_it_is():
    # Two blobs and, far away, five copies of one point: a piece of the graph of its own, below
    # the default smallest group (1% of 605 samples: 7), so in no group.
    rng = np.random.default_rng(1)
    x = np.vstack([rng.normal(0, 0.3, (300, 2)), rng.normal(5, 0.3, (300, 2)), np.tile([[100.0, 100.0]], (5, 1))])
    m = RotationClustering().fit(x)
    assert m.n_groups_ == 2
    assert m.n_ungrouped_ == 5 and m.min_group_size_ == 7
    assert (m.labels_[-5:] == -1).all() and (m.labels_[:-5] >= 0).all()
    assert m.runner_up_ is not None and m.runner_up_ != 2 and m.margin_ is not None
    assert isinstance(m.count_is_clear_, bool)
    # The largest count tried stands clear of no count beyond it.
    assert not RotationClustering(max_groups=2).fit(x[:600]).count_is_clear_
    assert m.graph_ == "knn" and [c[0] for c in m.graph_candidates_] == [7, 10, 15, 20, 30]
    # Groups of any size: the copies are a group of their own.
    m = RotationClustering(min_group_size=1).fit(x)
    assert m.n_groups_ == 3 and m.n_ungrouped_ == 0
    assert len(set(m.labels_[-5:])) == 1 and m.labels_[-1] not in set(m.labels_[:-5])
