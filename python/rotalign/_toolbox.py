"""The plug-ins shipped beside this file, and the conversion of call arguments."""

import os

import numpy as np
import scipy.sparse

from . import _core
from ._sparse_input import as_csc

PLUGINS = ("tarvik", "brenmoss", "olvane", "pellor", "nimbrel")

_folder = os.path.dirname(os.path.abspath(__file__))
_missing = [
    name for name in PLUGINS if not os.path.exists(os.path.join(_folder, _core.plugin_file_name(name)))
]
if _missing:
    raise ImportError(
        "rotalign: the plug-ins %s are missing from %s; reinstall the package"
        % (", ".join(_missing), _folder)
    )

# Opened once per interpreter; each plug-in is loaded on its first call.
toolbox = _core.Toolbox(_folder)


def as_input(value, name):
    """``value`` as the host takes it: a float64 or complex128 ndarray of at least two
    dimensions (a scalar becomes 1-by-1, a vector 1-by-n, as ``numpy.atleast_2d`` does), or a
    CSC matrix with sorted indices and no duplicates, made from a sparse matrix or array of any
    format once its arrays are checked (see ``_sparse_input``). Whatever is converted is a new
    array; the caller's is never written."""
    if scipy.sparse.issparse(value):
        return as_csc(value, name)
    return np.atleast_2d(_as_double(np.asarray(value), name, "an array"))


def _as_double(array, name, what):
    """The ndarray ``array`` as complex128 or float64, unconverted when it is already one of
    them."""
    if array.dtype.kind == "c":
        return array.astype(np.complex128, copy=False)
    if array.dtype.kind in "biuf":
        return array.astype(np.float64, copy=False)
    raise TypeError("%s: %s of %s has no conversion to double" % (name, what, array.dtype))


def call(name, nout, *inputs):
    """The outputs of plug-in ``name`` called with ``nout`` outputs, as a tuple."""
    return toolbox.call(name, nout, [as_input(value, name) for value in inputs])
