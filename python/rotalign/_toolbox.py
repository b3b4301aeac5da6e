"""The plug-ins shipped beside this file, and the conversion of call arguments."""

import os

import numpy as np
import scipy.sparse

from . import _core

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
    CSC matrix with sorted indices and no duplicates. Whatever is converted is a new array; the
    caller's is never written."""
    if scipy.sparse.issparse(value):
        csc = value.tocsc()
        if csc.dtype.kind == "c":
            csc = csc.astype(np.complex128, copy=False)
        elif csc.dtype.kind in "biuf":
            csc = csc.astype(np.float64, copy=False)
        else:
            raise TypeError("%s: a sparse matrix of %s has no conversion to double" % (name, csc.dtype))
        if not csc.has_canonical_format:
            csc = csc.copy()
            csc.sum_duplicates()
        return csc
    array = np.asarray(value)
    if array.dtype.kind == "c":
        array = array.astype(np.complex128, copy=False)
    elif array.dtype.kind in "biuf":
        array = array.astype(np.float64, copy=False)
    else:
        raise TypeError("%s: an array of %s has no conversion to double" % (name, array.dtype))
    return np.atleast_2d(array)


def call(name, nout, *inputs):
    """The outputs of plug-in ``name`` called with ``nout`` outputs, as a tuple."""
    return toolbox.call(name, nout, [as_input(value, name) for value in inputs])
