#include "arrays.h"

#include "host_access.h"

#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace rotalign_python {
namespace {

static_assert(sizeof(mwIndex) == sizeof(std::int32_t), "the views of Ir and Jc are int32 arrays");

using complex = std::complex<double>;

// A size of Python's as the host's 32-bit mwSize, or ValueError.
mwSize host_size(py::ssize_t value, const std::string& what) {
    if (value < 0 || value > static_cast<py::ssize_t>(std::numeric_limits<mwSize>::max()))
        throw py::value_error(what + " " + std::to_string(value) +
                              " does not fit the host's 32-bit sizes (at most 2147483647)");
    return static_cast<mwSize>(value);
}

// Copies the m-by-n page at `source` (strides in bytes) to the host's column order, starting at
// element `first` of the target. A row-major source is read in 64-by-64 tiles, so that both
// sides stay in cache; a column-major one column by column.
template <typename Element, typename Store>
void copy_page(const char* source, py::ssize_t row_stride, py::ssize_t column_stride, std::size_t m, std::size_t n,
               std::size_t first, Store store) {
    constexpr std::size_t tile = 64;
    const std::size_t rows_per_tile = row_stride == static_cast<py::ssize_t>(sizeof(Element)) ? m : tile;
    for (std::size_t j0 = 0; j0 < n; j0 += tile)
        for (std::size_t i0 = 0; i0 < m; i0 += rows_per_tile)
            for (std::size_t j = j0; j < n && j < j0 + tile; ++j) {
                const char* column = source + static_cast<py::ssize_t>(j) * column_stride;
                for (std::size_t i = i0; i < m && i < i0 + rows_per_tile; ++i) {
                    Element v;
                    std::memcpy(&v, column + static_cast<py::ssize_t>(i) * row_stride, sizeof v);
                    store(first + i + j * m, v);
                }
            }
}

// Every m-by-n page of `a` (dimensions beyond the second in column order) into the host's order.
template <typename Element, typename Store>
void copy_dense(const py::array& a, Store store) {
    const auto dims = static_cast<std::size_t>(a.ndim());
    const auto m = static_cast<std::size_t>(a.shape(0));
    const auto n = static_cast<std::size_t>(a.shape(1));
    std::size_t pages = 1;
    for (std::size_t k = 2; k < dims; ++k) pages *= static_cast<std::size_t>(a.shape(k));
    const char* base = static_cast<const char*>(a.data());
    for (std::size_t p = 0; p < pages && m * n > 0; ++p) {
        py::ssize_t offset = 0;
        std::size_t rest = p;
        for (std::size_t k = 2; k < dims; ++k) {
            const auto extent = static_cast<std::size_t>(a.shape(k));
            offset += static_cast<py::ssize_t>(rest % extent) * a.strides(k);
            rest /= extent;
        }
        copy_page<Element>(base + offset, a.strides(0), a.strides(1), m, n, p * m * n, store);
    }
}

mexhost::array_ptr dense_to_host(const py::array& a) {
    if (a.ndim() < 2) throw py::value_error("the host takes arrays of at least two dimensions");
    const bool is_complex = a.dtype().is(py::dtype::of<complex>());
    if (!is_complex && !a.dtype().is(py::dtype::of<double>()))
        throw py::type_error("the host takes float64 or complex128 arrays");
    std::vector<mwSize> dims;
    for (py::ssize_t k = 0; k < a.ndim(); ++k)
        dims.push_back(host_size(a.shape(k), "dimension " + std::to_string(k) + " of"));
    mexhost::array_ptr h(mxCreateNumericArray(static_cast<mwSize>(dims.size()), dims.data(), mxDOUBLE_CLASS,
                                              is_complex ? mxCOMPLEX : mxREAL));
    double* re = mxGetPr(h.get());
    if (is_complex) {
        double* im = mxGetPi(h.get());
        copy_dense<complex>(a, [re, im](std::size_t k, complex v) { re[k] = v.real(), im[k] = v.imag(); });
    } else {
        copy_dense<double>(a, [re](std::size_t k, double v) { re[k] = v; });
    }
    return h;
}

// Column starts and row indices of a CSC matrix with `stored` values, checked in full before a
// value is written, so that neither this copy nor a plug-in can reach outside the stored values:
// starts from 0 that never fall and end at `stored`, rows inside the matrix and ascending per
// column. `indices` holds at least `stored` entries.
template <typename Index>
void copy_pattern(const py::array& indptr, const py::array& indices, std::size_t m, std::size_t n,
                  std::size_t stored, mwIndex* jc, mwIndex* ir) {
    const auto* starts = static_cast<const Index*>(indptr.data());
    const auto* rows = static_cast<const Index*>(indices.data());
    if (starts[0] != 0 || static_cast<std::size_t>(starts[n]) != stored)
        throw py::value_error("the sparse matrix's indptr does not span its stored values");
    for (std::size_t j = 0; j < n; ++j)
        if (starts[j + 1] < starts[j]) throw py::value_error("the sparse matrix's indptr falls");
    for (std::size_t j = 0; j < n; ++j) {
        jc[j] = static_cast<mwIndex>(starts[j]);
        for (auto k = starts[j]; k < starts[j + 1]; ++k) {
            const auto row = rows[k];
            if (row < 0 || static_cast<std::size_t>(row) >= m)
                throw py::value_error("a row index of the sparse matrix lies outside it");
            if (k > starts[j] && row <= rows[k - 1])
                throw py::value_error("the sparse matrix's row indices do not ascend within a column "
                                      "(call sum_duplicates() first)");
            ir[k] = static_cast<mwIndex>(row);
        }
    }
    jc[n] = static_cast<mwIndex>(stored);
}

// The two dimensions of a sparse matrix's `shape`, each a non-negative integer.
std::pair<mwSize, mwSize> sparse_shape(py::handle value) {
    const py::object given = value.attr("shape");
    if (!py::isinstance<py::tuple>(given) || py::len(given) != 2)
        throw py::type_error("a sparse matrix's shape must be a tuple of two integers");
    const auto shape = py::reinterpret_borrow<py::tuple>(given);
    const auto dimension = [&](std::size_t k, const char* what) {
        const py::object extent = shape[k];
        if (!PyIndex_Check(extent.ptr())) throw py::type_error("a sparse matrix's shape must be a tuple of two integers");
        // Clipped to the range of Py_ssize_t, which host_size then refuses.
        const Py_ssize_t v = PyNumber_AsSsize_t(extent.ptr(), nullptr);
        if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
        return host_size(v, what);
    };
    return {dimension(0, "a sparse matrix's row count"), dimension(1, "a sparse matrix's column count")};
}

// One of the sparse matrix's arrays, as a C-contiguous one-dimensional array (a copy only when
// it is not one already), or TypeError.
py::array part_of(py::handle value, const char* name) {
    const py::object given = value.attr(name);
    if (!py::isinstance<py::array>(given))
        throw py::type_error(std::string("a sparse matrix's ") + name + " must be a NumPy array");
    const py::array part = py::array::ensure(given, py::array::c_style);
    if (!part || part.ndim() != 1)
        throw py::type_error("a sparse matrix needs one-dimensional data, indices and indptr");
    return part;
}

mexhost::array_ptr sparse_to_host(py::handle value) {
    const auto [m, n] = sparse_shape(value);
    const py::array data = part_of(value, "data");
    const py::array indices = part_of(value, "indices");
    const py::array indptr = part_of(value, "indptr");
    const bool is_complex = data.dtype().is(py::dtype::of<complex>());
    if (!is_complex && !data.dtype().is(py::dtype::of<double>()))
        throw py::type_error("the host takes float64 or complex128 sparse matrices");
    // Exact native types: an index array in the other byte order would be read as other numbers.
    const bool wide = indptr.dtype().is(py::dtype::of<std::int64_t>()) && indices.dtype().is(py::dtype::of<std::int64_t>());
    const bool narrow = indptr.dtype().is(py::dtype::of<std::int32_t>()) && indices.dtype().is(py::dtype::of<std::int32_t>());
    if (!wide && !narrow) throw py::type_error("a sparse matrix's indices must both be int32 or both int64");
    if (static_cast<std::size_t>(indptr.shape(0)) != static_cast<std::size_t>(n) + 1)
        throw py::value_error("the sparse matrix's indptr needs one entry per column and one more");
    const py::ssize_t stored_py = wide ? static_cast<const std::int64_t*>(indptr.data())[n]
                                       : static_cast<const std::int32_t*>(indptr.data())[n];
    const mwSize stored = host_size(stored_py, "a sparse matrix's number of stored values");
    if (indices.shape(0) < stored || data.shape(0) < stored)
        throw py::value_error("the sparse matrix has fewer indices or values than its indptr says");

    mexhost::array_ptr h(mxCreateSparse(m, n, stored > 0 ? stored : 1, is_complex ? mxCOMPLEX : mxREAL));
    if (wide)
        copy_pattern<std::int64_t>(indptr, indices, static_cast<std::size_t>(m), static_cast<std::size_t>(n),
                                   static_cast<std::size_t>(stored), mxGetJc(h.get()), mxGetIr(h.get()));
    else
        copy_pattern<std::int32_t>(indptr, indices, static_cast<std::size_t>(m), static_cast<std::size_t>(n),
                                   static_cast<std::size_t>(stored), mxGetJc(h.get()), mxGetIr(h.get()));
    double* re = mxGetPr(h.get());
    if (is_complex) {
        double* im = mxGetPi(h.get());
        const auto* v = static_cast<const complex*>(data.data());
        for (mwSize k = 0; k < stored; ++k) re[k] = v[k].real(), im[k] = v[k].imag();
    } else if (stored > 0) {
        std::memcpy(re, data.data(), static_cast<std::size_t>(stored) * sizeof(double));
    }
    return h;
}

bool is_csc(py::handle value) {
    return py::hasattr(value, "format") && py::hasattr(value, "indptr") &&
           py::str(value.attr("format")).cast<std::string>() == "csc";
}

// A 1-D view of `count` values at `data`, kept alive by `owner`.
template <typename T>
py::array view(const T* data, std::size_t count, const py::object& owner) {
    return py::array(py::dtype::of<T>(), {static_cast<py::ssize_t>(count)}, {static_cast<py::ssize_t>(sizeof(T))},
                     data, owner);
}

py::array complex_values(const double* re, const double* im, std::size_t count) {
    py::array_t<complex> out(static_cast<py::ssize_t>(count));
    complex* v = out.mutable_data();
    for (std::size_t k = 0; k < count; ++k) v[k] = complex(re[k], im[k]);
    return out;
}

py::object view_of(const mxArray* a, const py::object& owner) {
    if (mxIsCell(a)) {
        py::list elements;
        for (std::size_t k = 0; k < mxGetNumberOfElements(a); ++k) {
            const mxArray* element = mxGetCell(a, static_cast<mwIndex>(k));
            elements.append(element == nullptr ? py::object(py::none()) : view_of(element, owner));
        }
        return std::move(elements);
    }
    if (!mxIsDouble(a))
        throw py::type_error(std::string("a plug-in returned an array of class ") + mxGetClassName(a) +
                             ", which has no conversion to Python");
    if (mxIsSparse(a)) {
        const auto n = mxGetN(a);
        const mwIndex* jc = mxGetJc(a);
        const auto stored = static_cast<std::size_t>(jc[n]);
        const py::object data = mxIsComplex(a) ? py::object(complex_values(mxGetPr(a), mxGetPi(a), stored))
                                               : py::object(view(mxGetPr(a), stored, owner));
        const py::tuple parts = py::make_tuple(data, view(mxGetIr(a), stored, owner), view(jc, n + 1, owner));
        const py::tuple shape = py::make_tuple(mxGetM(a), n);
        return py::module_::import("scipy.sparse").attr("csc_matrix")(parts, py::arg("shape") = shape,
                                                                       py::arg("copy") = false);
    }
    const mwSize count = mxGetNumberOfDimensions(a);
    const mwSize* dims = mxGetDimensions(a);
    std::vector<py::ssize_t> shape(dims, dims + count);
    if (mxIsComplex(a)) {
        py::array values = complex_values(mxGetPr(a), mxGetPi(a), mxGetNumberOfElements(a));
        py::tuple dimensions(shape.size());
        for (std::size_t k = 0; k < shape.size(); ++k) dimensions[k] = py::int_(shape[k]);
        return values.attr("reshape")(dimensions, py::arg("order") = "F");
    }
    std::vector<py::ssize_t> strides;
    py::ssize_t stride = sizeof(double);
    for (py::ssize_t extent : shape) {
        strides.push_back(stride);
        stride *= extent;
    }
    return py::array(py::dtype::of<double>(), shape, strides, mxGetPr(a), owner);
}

}  // namespace

mexhost::array_ptr to_host(py::handle value) {
    if (is_csc(value)) return sparse_to_host(value);
    if (!py::isinstance<py::array>(value)) throw py::type_error("the host takes NumPy arrays or SciPy CSC matrices");
    return dense_to_host(py::reinterpret_borrow<py::array>(value));
}

py::object from_host(mexhost::array_ptr array) {
    const mxArray* a = array.get();
    // The capsule owns the host array; every view below keeps it alive.
    py::capsule owner(new mexhost::array_ptr(std::move(array)), [](void* p) {
        auto* held = static_cast<mexhost::array_ptr*>(p);
        release_from_python(std::move(*held));
        delete held;
    });
    return view_of(a, owner);
}

}  // namespace rotalign_python
