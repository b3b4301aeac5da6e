"""The plug-ins as NumPy/SciPy functions.

Each function calls the compiled plug-in through the stand-in host on copies of its arguments.
Arrays of any real or complex dtype are taken as double (complex) arrays; a dense argument gives
dense results, a SciPy sparse one CSC results with exactly its pattern. A message that the
plug-in raises comes as ``rotalign.PluginError`` (a ``ValueError``) with the plug-in's text, and
a broken host contract as ``rotalign.HostFault``. Scalar arguments (K, sigma, method) are read as
the plug-in reads them: the first element, truncated where it counts.
"""

import warnings

import numpy as np

from ._toolbox import as_input, call


def _outputs(results, nout):
    return results[0] if nout == 1 else results


def brenmoss(D, K, nout=3):
    """``[scaled, affinities, scales] = brenmoss(D, K)``: locally scaled distances.

    The local scale sigma_j of point j is its distance to its K-th nearest other point, read
    from column j of D; every entry gets the scale s = max(sqrt(sigma_i * sigma_j), 0.004), and
    scaled = D / s, affinities = exp(-D / s), scales = s.

    Parameters
    ----------
    D : (N, N) array or sparse matrix
        Distances (the chain passes squared Euclidean distances).
    K : int
        Neighbour count, 0 to N-1 for dense D, at least 1 for sparse D.
    nout : int, default 3
        How many outputs to ask for, 1 to 3: 1 returns ``scaled`` alone, 2 and 3 a tuple.

    Returns
    -------
    scaled, affinities, scales : arrays of D's shape, or CSC matrices with D's pattern
    """
    return _outputs(call("brenmoss", nout, D, K), nout)


def olvane(D, K, nout=3):
    """``[scaled, affinities, scales] = olvane(D, K)``: as ``brenmoss`` with the mean scale
    (sigma_i + sigma_j) / 2, and on dense D the affinity exp(-(D_ij / scale)^2)."""
    return _outputs(call("olvane", nout, D, K), nout)


def pellor(D, sigma):
    """``A = pellor(D, sigma)``: affinities exp(-D / sigma^2) with one global scale."""
    return call("pellor", 1, D, sigma)[0]


def nimbrel(M):
    """``Z = nimbrel(M)``: a copy of the square M with its diagonal set to zero; a sparse M keeps
    its pattern, a stored diagonal value becoming a stored zero."""
    return call("nimbrel", 1, M)[0]


def tarvik(X, method=1):
    """``[groups, quality, rotated] = tarvik(X, method)``: the rotation that aligns the rows of
    the eigenvector matrix X (n-by-c) with the axes, and the groups it gives.

    Parameters
    ----------
    X : (n, c) array
        Eigenvectors by columns.
    method : int, default 1
        2 for the search by fixed steps, anything else for the gradient search.

    Returns
    -------
    groups : list of c int64 arrays
        The 0-based rows of each group (the plug-in counts rows from 1).
    quality : float
        The alignment quality, between 1/c and 1.
    rotated : (n, c) ndarray
        X rotated.
    """
    X = as_input(X, "tarvik")
    n, c = X.shape[0], X.shape[1]
    if c > n:
        # The search's time grows steeply with the columns (3-by-20: 0.1 s, 3-by-30: 0.4 s,
        # 3-by-100: 40 s), and a plug-in call cannot be interrupted.
        warnings.warn(
            "tarvik: X has more columns (%d) than rows (%d), and the rotation search's time grows "
            "steeply with the columns; eigenvectors go by columns, one row per point: is X "
            "transposed?" % (c, n),
            RuntimeWarning,
            stacklevel=2,
        )
    cell, quality, rotated = call("tarvik", 3, X, method)
    groups = [np.asarray(rows, dtype=np.int64).ravel() - 1 for rows in cell]
    return groups, float(np.asarray(quality).ravel()[0]), rotated
