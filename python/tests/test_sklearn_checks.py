"""scikit-learn's own estimator checks. The checks that cannot apply to a precomputed distance
matrix are listed with their reasons in RotationClustering._more_tags and run as xfail."""

from sklearn.utils.estimator_checks import parametrize_with_checks

from rotalign import RotationClustering


@parametrize_with_checks(
    [
        RotationClustering(),
        RotationClustering(affinity="mean", max_groups=5),
        RotationClustering(affinity="global", scale=1.0),
        RotationClustering(search="numerical", n_groups=3, eigen_solver="dense"),
        RotationClustering(metric="precomputed"),
    ]
)
def test_sklearn_estimator_checks(estimator, check):
    check(estimator)
