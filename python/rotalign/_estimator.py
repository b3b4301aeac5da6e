"""RotationClustering: the rotalign chain as a scikit-learn estimator."""

import numbers
import warnings

import numpy as np
from sklearn.base import BaseEstimator, ClusterMixin

try:  # scikit-learn 1.6 on
    from sklearn.utils.validation import validate_data
except ImportError:

    def validate_data(estimator, X, **check_params):
        return estimator._validate_data(X, **check_params)

from . import _core
from ._toolbox import toolbox

# The chain's options as the library describes them, by the estimator's parameter names; the
# checks, the defaults and the docs below come from there.
_OPTIONS = {option["parameter"]: option for option in _core.option_table()}
_DEFAULTS = {parameter: option["default"] for parameter, option in _OPTIONS.items()}
# What the estimator adds: a precomputed matrix, named by the affinity or by the metric.
_EXTRA_WORDS = {"affinity": ("precomputed",)}
_METRICS = ("sqeuclidean", "precomputed")


def _choice(name, value, allowed):
    if not isinstance(value, str) or value not in allowed:
        raise ValueError(
            "%s must be one of %s, got %r" % (name, ", ".join(repr(a) for a in allowed), value)
        )
    return value


def _integer(name, value, least, most):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Integral):
        raise ValueError("%s must be an integer, got %r" % (name, value))
    if not least <= value <= most:
        raise ValueError("%s must be an integer from %d to %d, got %r" % (name, least, most, value))
    return int(value)


def _flag(name, value):
    if not isinstance(value, (bool, np.bool_)):
        raise ValueError("%s must be True or False, got %r" % (name, value))
    return bool(value)


def _real(name, value, positive):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real) or not np.isfinite(value):
        raise ValueError("%s must be a finite number, got %r" % (name, value))
    if (value <= 0) if positive else (value < 0):
        raise ValueError("%s must be %s, got %r" % (name, "positive" if positive else "at least 0", value))
    return float(value)


def _checked(parameter, value):
    """``value`` of a parameter that the option table describes, checked against its kind and
    range; None stays None (the library's default, which depends on the data)."""
    option = _OPTIONS[parameter]
    if value is None and option["default"] is None:
        return None
    if option["kind"] == "word":
        return _choice(parameter, value, option["words"] + _EXTRA_WORDS.get(parameter, ()))
    if option["kind"] == "whole":
        return _integer(parameter, value, int(option["least"]), int(option["most"]))
    if option["kind"] == "flag":
        return _flag(parameter, value)
    return _real(parameter, value, positive=option["least_excluded"])


def _type_and_default(parameter):
    """The docstring's "int, default 7" of a parameter, from the option table."""
    option = _OPTIONS[parameter]
    if option["kind"] == "word":
        words = option["words"] + _EXTRA_WORDS.get(parameter, ())
        kind = "{%s}" % ", ".join('"%s"' % w for w in words)
    else:
        kind = {"whole": "int", "real": "float", "flag": "bool"}[option["kind"]]
    if option["default"] is None:
        return kind + ", optional"
    default = '"%s"' % option["default"] if option["kind"] == "word" else option["default"]
    return "%s, default %s" % (kind, default)


class RotationClustering(ClusterMixin, BaseEstimator):
    """Spectral clustering that picks the number of groups by rotating eigenvectors.

    The chain of the program ``rotalign cluster``, through the same compiled plug-ins and with
    the same results: squared Euclidean distances between the samples; affinities with local
    scales (``brenmoss``, ``olvane``) or one global scale (``pellor``); the diagonal cleared
    (``nimbrel``); the normalised affinity D^(-1/2) A D^(-1/2); its leading eigenvectors; and for
    every number of groups c from 2 up, the rotation search of ``tarvik``, whose alignment quality
    chooses c.

    Parameters
    ----------
    n_neighbors : {n_neighbors}
        The local scale of a sample is its distance to this nearest other sample ("local" and
        "mean" affinities); needs more samples than this.
    affinity : {affinity}
        "local": ``brenmoss``, affinity exp(-d / sqrt(sigma_i sigma_j)). "mean": ``olvane``,
        exp(-(d / ((sigma_i + sigma_j) / 2))^2). "global": ``pellor``, exp(-d / scale^2).
        "precomputed": X is a distance matrix, with the "local" affinity; the same as
        ``affinity="local", metric="precomputed"``.
    scale : {scale}
        The global scale; required by, and used only for, ``affinity="global"``.
    max_groups : {max_groups}
        Every number of groups from 2 to this one is tried.
    n_groups : {n_groups}
        Take this many groups instead of choosing (the searches 2 ... n_groups still run).
    tolerance : {tolerance}
        The group-count rule takes the largest c whose quality lies within this of the best.
    search : {search}
        The rotation search of ``tarvik``.
    graph : {graph}
        The route to the affinity graph: "dense" computes all N-by-N distances; "knn" a sparse
        graph of each sample's nearest neighbours (memory grows with N, not N^2; the affinities
        and ``affinity_matrix_`` are then sparse); "auto", without ``graph_neighbors``, runs the
        chain on the "knn" graphs of 7, 10, 15, 20 and 30 neighbours and takes the one whose chosen
        count's eigengap stands widest against the spread of the leading eigenvalues (the count
        of the largest summed score over the graphs whose count another confirms, on its
        best-scored graph); above 4000 samples the
        graph, the count and the groups come from 4000 samples drawn at random (fixed seed),
        and every other sample takes the group of the nearest of those drawn.
    graph_neighbors : {graph_neighbors}
        Nearest neighbours per sample in the "knn" graph. Default: as many as hold 99% of a
        sample's affinity (measured on a sample of rows), at least twice n_neighbors, within a
        budget of {graph_entry_budget} graph entries.
    neighbor_search : {neighbor_search}
        How the "knn" graph finds the neighbours: every choice but "hnsw" is exact; "hnsw" is
        approximate, and ``recall_`` reports the share of the true neighbours it found.
    rotation_sample : {rotation_sample}
        Choose the number of groups by rotation searches on this many samples drawn at random
        (fixed seed), then search again on every sample for that number only; 0 searches on
        every sample. Default: {rotation_sample_rows} samples from {rotation_sample_from} samples
        on, every sample below.
    standardise : {standardise}
        Shift every feature to zero mean and divide it by its spread (population standard
        deviation) before the distances, for features in different units; a feature of zero
        spread is only shifted. X itself is not changed. Without it, ``fit`` warns when the
        features' spreads differ by more than 100 times.
    min_group_size : {min_group_size}
        Samples in pieces of the graph or in groups of fewer than this many samples are in no
        group (label -1), and such groups take no count. Default: 1% of the samples, at least 2;
        1 keeps groups of any size.
    eigen_solver : {eigen_solver}
        Lanczos (ARPACK) for the leading pairs only, or LAPACK's full decomposition; "auto" takes
        the dense solver up to {dense_solver_limit} samples.
    metric : {{"sqeuclidean", "precomputed"}}, default "sqeuclidean"
        "precomputed": X is the square, symmetric, non-negative matrix with a zero diagonal that
        the affinity reads, as ``rotalign cluster --distances`` reads its file. On points the
        chain uses squared Euclidean distances, so squared distances give the same groups as the
        points.

    Attributes
    ----------
    labels_ : ndarray of shape (n_samples,), int64
        Group of each sample, 0 ... n_groups_ - 1 (the program's groups minus one); -1 for a
        sample in no group: in a piece of the graph or a group of fewer than min_group_size_
        samples, or with an eigenvector row that is not a number.
    n_groups_ : int
        The number of groups chosen (or given as ``n_groups``); 1 when no split of the points
        stands out (``note_`` says so).
    quality_ : ndarray of shape (largest - 1,)
        Alignment quality for c = 2, 3, ..., largest: ``quality_[c - 2]``. NaN where no search
        ran (a c inside a block of nearly repeated eigenvalues, whose c leading eigenvectors are
        not well defined) or where a search had no quality.
    eigenvalues_ : ndarray of shape (largest + 1,)
        The leading eigenvalues of the normalised affinity, descending, one beyond the largest
        count tried: whether eigenvalue c + 1 stands apart from eigenvalue c decides whether c
        groups can be chosen.
    note_ : str
        Why the choice is not an ordinary one (one group; a fixed count that splits a block of
        repeated eigenvalues; groups too small to keep), or "".
    runner_up_ : int or None
        The best other count the rule could have taken.
    margin_ : float or None
        The chosen count's alignment quality less the runner-up's.
    count_is_clear_ : bool
        Whether the choice stands clear of the runner-up: a quality margin of at least 0.01, or
        a strong eigenvalue cut where the runner-up has none; and, with the automatic graph, at
        least half of the candidate graphs chose the count; and the count is not the largest
        tried (max_groups), beyond which more groups may lie. False: look at other counts too.
    min_group_size_ : int
        The smallest group taken.
    n_ungrouped_ : int
        Samples in no group (label -1): in pieces of the graph or groups below min_group_size_.
    graph_candidates_ : list of (int, int, float, bool)
        With the automatic graph: per candidate graph, its neighbours per sample, the count
        chosen on it, its score and whether another candidate confirms the count; empty
        otherwise.
    affinity_matrix_ : ndarray or scipy.sparse.csc_matrix of shape (n_samples, n_samples), or None
        The affinity plug-in's output, before its diagonal is cleared: dense on the "dense"
        graph, sparse (CSC, the graph's pattern) on the "knn" graph. It is the chain's own
        matrix, kept rather than released: no copy is made. None with the automatic graph on
        more than 4000 samples, where the chain ran on a sample whose groups the others joined.
    eigen_solver_ : str
        The eigen-solver used: "dense", "lanczos", or "shift-invert" (the "knn" graph's solver
        for the largest piece of the graph).
    graph_ : str
        The graph used, "dense" or "knn".
    graph_neighbors_ : int or None
        Nearest neighbours per sample in the "knn" graph.
    recall_ : float
        The share of the true neighbours found: 1 for the exact searches; for "hnsw", measured on
        a sample of points.
    stage_times_ : dict
        Seconds spent in each stage of the chain.
    n_features_in_ : int
        Number of features (columns) seen in fit.
    feature_names_in_ : ndarray of str
        Column names of X, when X is a DataFrame with string column names.
    """

    def __init__(
        self,
        n_neighbors=_DEFAULTS["n_neighbors"],
        affinity=_DEFAULTS["affinity"],
        scale=None,
        max_groups=_DEFAULTS["max_groups"],
        n_groups=None,
        tolerance=_DEFAULTS["tolerance"],
        search=_DEFAULTS["search"],
        graph=_DEFAULTS["graph"],
        eigen_solver=_DEFAULTS["eigen_solver"],
        metric="sqeuclidean",
        graph_neighbors=None,
        neighbor_search=_DEFAULTS["neighbor_search"],
        rotation_sample=None,
        standardise=_DEFAULTS["standardise"],
        min_group_size=None,
    ):
        self.n_neighbors = n_neighbors
        self.affinity = affinity
        self.scale = scale
        self.max_groups = max_groups
        self.n_groups = n_groups
        self.tolerance = tolerance
        self.search = search
        self.graph = graph
        self.eigen_solver = eigen_solver
        self.metric = metric
        self.graph_neighbors = graph_neighbors
        self.neighbor_search = neighbor_search
        self.rotation_sample = rotation_sample
        self.standardise = standardise
        self.min_group_size = min_group_size

    def _precomputed(self):
        return self.affinity == "precomputed" or self.metric == "precomputed"

    def _options(self, n_samples):
        """The chain's options from the parameters, checked against each other and the data."""
        _choice("metric", self.metric, _METRICS)
        options = {
            option["name"]: _checked(parameter, getattr(self, parameter))
            for parameter, option in _OPTIONS.items()
            if parameter != "scale"
        }
        if options["affinity"] == "precomputed":
            options["affinity"] = "local"
        options["keep_affinity"] = True
        if self._precomputed() and options["standardise"]:
            raise ValueError("standardise=True needs points, not a precomputed distance matrix")
        if self._precomputed() and options["graph"] == "knn":
            raise ValueError("graph='knn' builds its graph from points, not from a precomputed matrix")
        if options["affinity"] == "global":
            if self.scale is None:
                raise ValueError("affinity='global' needs scale, a positive number")
            options["scale"] = _checked("scale", self.scale)
        elif n_samples < options["neighbours"] + 1:
            raise ValueError(
                "n_samples=%d is too few for n_neighbors=%d: at least %d samples are needed"
                % (n_samples, options["neighbours"], options["neighbours"] + 1)
            )
        largest = options["fixed_groups"] or options["max_groups"]
        if largest > n_samples:
            raise ValueError(
                "n_samples=%d cannot form %d groups (%s)"
                % (n_samples, largest, "n_groups" if options["fixed_groups"] else "max_groups")
            )
        return options

    def fit(self, X, y=None):
        """Clusters X.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features), or (n_samples, n_samples) with
            ``metric="precomputed"``
        y : ignored

        Returns
        -------
        self
        """
        X = validate_data(self, X, dtype=np.float64)
        precomputed = self._precomputed()
        options = self._options(X.shape[0])
        if precomputed and X.shape[0] != X.shape[1]:
            raise ValueError(
                "a precomputed distance matrix must be square, got shape %s" % (X.shape,)
            )
        result = toolbox.cluster(X, options, precomputed)
        contrast = result["unit_contrast"]
        if contrast is not None:
            warnings.warn(
                "the features' spreads differ %.4g times (feature %d: %.4g, feature %d: %.4g), so "
                "the widest features rule the distances; if they are in different units, "
                "standardise=True gives each one unit spread"
                % (contrast["widest_spread"] / contrast["narrowest_spread"], contrast["widest"],
                   contrast["widest_spread"], contrast["narrowest"], contrast["narrowest_spread"]),
                UserWarning,
                stacklevel=2,
            )
        groups = result["groups"].astype(np.int64)
        self.labels_ = np.where(groups > 0, groups - 1, -1)
        self.n_groups_ = result["chosen"]
        self.quality_ = result["quality"]
        self.eigenvalues_ = result["eigenvalues"]
        self.note_ = result["note"]
        self.runner_up_ = result["runner_up"] or None
        self.margin_ = result["margin"] if result["runner_up"] else None
        self.count_is_clear_ = result["clear"]
        self.min_group_size_ = result["min_group_size"]
        self.n_ungrouped_ = result["stray"]
        self.graph_candidates_ = result["candidates"]
        self.affinity_matrix_ = result["affinity"]
        self.eigen_solver_ = result["solver"]
        self.graph_ = result["graph"]
        self.graph_neighbors_ = result["graph_neighbours"] if self.graph_ == "knn" else None
        self.recall_ = result["recall"]
        self.stage_times_ = result["times"]
        return self

    def _more_tags(self):
        if not self._precomputed():
            return {"pairwise": False}
        return {"pairwise": True, "_xfail_checks": _PRECOMPUTED_XFAIL}


# The docstring's types, defaults and figures (gone under python -OO).
if RotationClustering.__doc__:
    RotationClustering.__doc__ = RotationClustering.__doc__.format(
        knn_graph_from=_core.KNN_GRAPH_FROM,
        graph_entry_budget="{:,}".format(_core.GRAPH_ENTRY_BUDGET),
        rotation_sample_rows=_core.ROTATION_SAMPLE_ROWS,
        rotation_sample_from=_core.ROTATION_SAMPLE_FROM,
        dense_solver_limit=_core.DENSE_SOLVER_LIMIT,
        **{parameter: _type_and_default(parameter) for parameter in _OPTIONS},
    )


# The estimator checks that cannot apply to a precomputed distance matrix. The chain needs an
# exactly symmetric one, as `rotalign cluster --distances` does; the checks make theirs with
# sklearn's euclidean_distances, whose two triangles differ in the last bits.
_ASYMMETRIC = (
    "the checks' distance matrices (euclidean_distances) are not exactly symmetric, and a "
    "precomputed distance matrix must be"
)
_PRECOMPUTED_XFAIL = {
    check: _ASYMMETRIC
    for check in (
        "check_fit_score_takes_y",
        "check_estimators_fit_returns_self",
        "check_dtype_object",
        "check_pipeline_consistency",
        "check_estimators_nan_inf",
        "check_estimators_overwrite_params",
        "check_estimators_pickle",
        "check_methods_sample_order_invariance",
        "check_methods_subset_invariance",
        "check_dict_unchanged",
        "check_dont_overwrite_parameters",
        "check_fit2d_predict1d",
    )
}
_PRECOMPUTED_XFAIL.update(
    {
        "check_fit2d_1feature": _ASYMMETRIC + "; the check expects a message about one feature, "
        "which a distance matrix does not have",
        "check_clustering": "the check passes 2-D points, not a distance matrix, to a pairwise "
        "estimator",
    }
)
