"""SciPy sparse arguments, checked in full and converted to the CSC matrix that the host takes.

SciPy's own conversions (``tocsc``, ``sum_duplicates``, ``has_canonical_format``) run compiled
code that trusts a matrix's arrays: a column start beyond the stored values, or an index outside
the matrix, lets them read or write outside those arrays. So the arrays are checked here first,
with NumPy alone, and SciPy's conversions then run only on arrays that this module made. The
caller's matrix is only read: ``check_format`` and ``sum_duplicates``, which rewrite a matrix's
attributes, never see it.
"""

import operator

import numpy as np
import scipy.sparse


def as_csc(value, name):
    """A new ``scipy.sparse.csc_matrix`` of float64 or complex128 values, with ascending row
    indices and no duplicates (summed), equal to the sparse matrix or array ``value``.

    A matrix whose arrays do not describe a matrix of its shape (index pointers that do not
    start at 0, fall, or point beyond the stored values; indices outside the matrix; arrays of
    other lengths than the format needs) raises ValueError; arrays that are not integer (index)
    or numeric (values) NumPy arrays raise TypeError."""
    shape = _shape(value, name)
    if value.format in ("csc", "csr"):
        return _from_compressed(value, shape, name)
    if value.format != "coo":
        value = _as_coo(value, name)
    return _from_coo(value, shape, name)


def _shape(value, name):
    shape = value.shape
    if not isinstance(shape, tuple) or len(shape) != 2:
        raise TypeError("%s: a sparse matrix's shape must be two integers, not %r" % (name, shape))
    try:
        m, n = operator.index(shape[0]), operator.index(shape[1])
    except TypeError:
        raise TypeError("%s: a sparse matrix's shape must be two integers, not %r" % (name, shape)) from None
    if m < 0 or n < 0:
        raise ValueError("%s: a sparse matrix's shape %r is negative" % (name, shape))
    return m, n


def _array(value, attribute, name):
    """The one-dimensional NumPy array ``value.<attribute>``, not converted."""
    a = getattr(value, attribute)
    if not isinstance(a, np.ndarray):
        raise TypeError("%s: a sparse matrix's %s must be a NumPy array, not %s" % (name, attribute, type(a).__name__))
    if a.ndim != 1:
        raise ValueError("%s: a sparse matrix's %s must be one-dimensional, not of shape %s" % (name, attribute, a.shape))
    return a


def _indices(value, attribute, name):
    """``value.<attribute>`` as int64 (a copy). Unsigned values beyond int64 turn negative and
    are refused as such by the range checks."""
    a = _array(value, attribute, name)
    if a.dtype.kind not in "iu":
        raise TypeError("%s: a sparse matrix's %s must be of an integer dtype, not %s" % (name, attribute, a.dtype))
    return a.astype(np.int64)


def _values(value, count, name):
    """The first ``count`` stored values as float64 or complex128 (a copy)."""
    data = _array(value, "data", name)
    if data.dtype.kind == "c":
        dtype = np.complex128
    elif data.dtype.kind in "biuf":
        dtype = np.float64
    else:
        raise TypeError("%s: a sparse matrix of %s has no conversion to double" % (name, data.dtype))
    if len(data) < count:
        raise ValueError("%s: the sparse matrix has %d stored values, fewer than its %d indices" % (name, len(data), count))
    return data[:count].astype(dtype)


def _check_range(indices, extent, what, name):
    if len(indices) and (indices.min() < 0 or indices.max() >= extent):
        raise ValueError("%s: a %s index of the sparse matrix lies outside its %d %ss" % (name, what, extent, what))


def _from_compressed(value, shape, name):
    by_columns = value.format == "csc"
    major, minor = (shape[1], shape[0]) if by_columns else shape
    indptr = _indices(value, "indptr", name)
    indices = _indices(value, "indices", name)
    if len(indptr) != major + 1:
        raise ValueError(
            "%s: the sparse matrix's indptr has %d entries; its shape needs %d" % (name, len(indptr), major + 1)
        )
    if indptr[0] != 0:
        raise ValueError("%s: the sparse matrix's indptr does not start at 0" % name)
    if np.any(np.diff(indptr) < 0):
        raise ValueError("%s: the sparse matrix's indptr falls" % name)
    stored = int(indptr[-1])
    if stored > len(indices):
        raise ValueError(
            "%s: the sparse matrix's indptr counts %d stored values, but it has %d indices" % (name, stored, len(indices))
        )
    indices = indices[:stored]
    _check_range(indices, minor, "row" if by_columns else "column", name)
    data = _values(value, stored, name)
    kind = scipy.sparse.csc_matrix if by_columns else scipy.sparse.csr_matrix
    return _canonical(kind((data, indices, indptr), shape=shape).tocsc())


def _from_coo(value, shape, name):
    row = _indices(value, "row", name)
    col = _indices(value, "col", name)
    if len(row) != len(col):
        raise ValueError("%s: the sparse matrix has %d row and %d column indices" % (name, len(row), len(col)))
    _check_range(row, shape[0], "row", name)
    _check_range(col, shape[1], "column", name)
    data = _values(value, len(row), name)
    if len(value.data) != len(row):
        raise ValueError("%s: the sparse matrix has %d values for %d indices" % (name, len(value.data), len(row)))
    return _canonical(scipy.sparse.coo_matrix((data, (row, col)), shape=shape).tocsc())


def _canonical(csc):
    """``csc`` (this module's own) with sorted indices and duplicates summed."""
    if not csc.has_canonical_format:
        csc.sum_duplicates()
    return csc


def _as_coo(value, name):
    """Another format (bsr, dia, dok, lil) as COO, through SciPy's conversions, which check
    these formats' arrays or use NumPy alone, except lil's, whose row lists are checked here.
    Their failures on inconsistent arrays come as ValueError."""
    if value.format == "lil":
        _check_lil(value, name)
    elif value.format not in ("bsr", "dia", "dok"):
        raise TypeError("%s: sparse matrices of format %r have no conversion" % (name, value.format))
    try:
        coo = value.tocoo(copy=True)
    except (IndexError, AttributeError, OverflowError) as e:
        raise ValueError("%s: the %s matrix's arrays are inconsistent (%s)" % (name, value.format, e)) from None
    if not scipy.sparse.issparse(coo) or coo.format != "coo":
        raise TypeError("%s: the %s matrix gave no COO matrix" % (name, value.format))
    return coo


def _check_lil(value, name):
    rows, data = value.rows, value.data
    m = value.shape[0]
    for part in (rows, data):
        if not isinstance(part, np.ndarray) or part.dtype != object or part.shape != (m,):
            raise ValueError("%s: a lil matrix needs one row list and one value list per row" % name)
    for r, v in zip(rows, data):
        if not isinstance(r, list) or not isinstance(v, list) or len(r) != len(v):
            raise ValueError("%s: a lil matrix's row lists and value lists differ in length" % name)
