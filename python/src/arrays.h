// Conversions between NumPy/SciPy arrays and the host's arrays.
#pragma once

#include "mexhost/host.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

namespace rotalign_python {

namespace py = pybind11;

// A new host array holding a copy of `value`: a NumPy array of float64 or complex128 with at
// least two dimensions, or a SciPy CSC matrix of either type whose indices ascend within each
// column. Sizes that do not fit the host's 32-bit mwSize/mwIndex are refused with ValueError.
// The caller's array is only read.
mexhost::array_ptr to_host(py::handle value);

// The host array as Python sees it: a real double array becomes an ndarray (Fortran order, the
// host's dimensions) that views the host's memory and keeps the host array alive; a complex one
// a new complex128 ndarray; a sparse one a scipy.sparse.csc_matrix with the same pattern (views
// again where real); a cell a list of its elements. Other classes raise TypeError.
py::object from_host(mexhost::array_ptr array);

}  // namespace rotalign_python
