// Building and reading host arrays from C++.
#include "mexhost/host.h"

#include "array.h"
#include "memory.h"

#include <algorithm>
#include <cstring>

namespace mexhost {
namespace {

void require(bool condition, const char* message) {
    if (!condition) throw std::invalid_argument(message);
}

void fill(double* target, std::size_t count, const std::vector<double>& values) {
    if (values.empty()) return;
    require(values.size() == count, "wrong number of values for the array's shape");
    std::copy(values.begin(), values.end(), target);
}

}  // namespace

void array_deleter::operator()(mxArray* array) const noexcept {
    // Arrays owned through array_ptr always belong to the caller; destroy cannot fault.
    detail::free_array(array);
}

array_ptr make_matrix(mwSize m, mwSize n, const std::vector<double>& values) {
    array_ptr a(mxCreateDoubleMatrix(m, n, mxREAL));
    fill(mxGetPr(a.get()), a->element_count(), values);
    return a;
}

array_ptr make_matrix_for_overwrite(mwSize m, mwSize n) {
    return array_ptr(detail::make_array(mxDOUBLE_CLASS, {m, n}, false, false));
}

array_ptr make_complex_matrix(mwSize m, mwSize n, const std::vector<double>& real,
                              const std::vector<double>& imag) {
    array_ptr a(mxCreateDoubleMatrix(m, n, mxCOMPLEX));
    fill(mxGetPr(a.get()), a->element_count(), real);
    fill(mxGetPi(a.get()), a->element_count(), imag);
    return a;
}

array_ptr make_scalar(double value) { return array_ptr(mxCreateDoubleScalar(value)); }

array_ptr make_array(const std::vector<mwSize>& dims, const std::vector<double>& values) {
    array_ptr a(mxCreateNumericArray(static_cast<mwSize>(dims.size()), dims.data(), mxDOUBLE_CLASS, mxREAL));
    fill(mxGetPr(a.get()), a->element_count(), values);
    return a;
}

array_ptr make_numeric(mxClassID class_id, const std::vector<mwSize>& dims) {
    return array_ptr(mxCreateNumericArray(static_cast<mwSize>(dims.size()), dims.data(), class_id, mxREAL));
}

array_ptr make_string(const std::string& text) { return array_ptr(mxCreateString(text.c_str())); }

array_ptr make_sparse(mwSize m, mwSize n, const std::vector<mwIndex>& jc, const std::vector<mwIndex>& ir,
                      const std::vector<double>& values, const std::vector<double>& imag) {
    require(n >= 0 && jc.size() == static_cast<std::size_t>(n) + 1, "jc needs columns + 1 entries");
    require(ir.size() == values.size(), "ir and values differ in length");
    require(imag.empty() || imag.size() == values.size(), "imag and values differ in length");
    require(jc.front() == 0 && static_cast<std::size_t>(jc.back()) == values.size(), "jc does not span the values");
    require(std::is_sorted(jc.begin(), jc.end()), "jc is not ascending");
    for (mwIndex row : ir) require(row >= 0 && row < m, "a row index is out of range");
    array_ptr a(mxCreateSparse(m, n, static_cast<mwSize>(values.size()), imag.empty() ? mxREAL : mxCOMPLEX));
    std::copy(jc.begin(), jc.end(), mxGetJc(a.get()));
    std::copy(ir.begin(), ir.end(), mxGetIr(a.get()));
    std::copy(values.begin(), values.end(), mxGetPr(a.get()));
    if (!imag.empty()) std::copy(imag.begin(), imag.end(), mxGetPi(a.get()));
    return a;
}

std::vector<mwSize> dims_of(const mxArray* array) { return array->dims; }

namespace {
std::size_t stored_count(const mxArray* array) {
    return array->sparse ? static_cast<std::size_t>(array->jc[array->columns()]) : array->element_count();
}
}  // namespace

std::vector<double> real_values(const mxArray* array) {
    const double* p = mxGetPr(array);
    return std::vector<double>(p, p + stored_count(array));
}

std::vector<double> imag_values(const mxArray* array) {
    const double* p = mxGetPi(array);
    if (p == nullptr) return {};
    return std::vector<double>(p, p + stored_count(array));
}

std::vector<mwIndex> jc_of(const mxArray* array) {
    const mwIndex* jc = mxGetJc(array);
    return std::vector<mwIndex>(jc, jc + array->columns() + 1);
}

std::vector<mwIndex> ir_of(const mxArray* array) {
    const mwIndex* ir = mxGetIr(array);
    return std::vector<mwIndex>(ir, ir + stored_count(array));
}

bool identical(const mxArray* a, const mxArray* b) {
    if (a->class_id != b->class_id || a->complex != b->complex || a->sparse != b->sparse || a->dims != b->dims)
        return false;
    if (a->class_id == mxCELL_CLASS) {
        for (std::size_t i = 0; i < a->cells.size(); ++i) {
            const mxArray* x = a->cells[i];
            const mxArray* y = b->cells[i];
            if ((x == nullptr) != (y == nullptr) || (x != nullptr && !identical(x, y))) return false;
        }
        return true;
    }
    if (a->sparse) {
        if (a->nzmax != b->nzmax) return false;
        if (std::memcmp(a->jc, b->jc, (a->columns() + 1) * sizeof(mwIndex)) != 0) return false;
        if (std::memcmp(a->ir, b->ir, static_cast<std::size_t>(a->nzmax) * sizeof(mwIndex)) != 0) return false;
    }
    if (std::memcmp(a->real, b->real, a->data_bytes) != 0) return false;
    return !a->complex || std::memcmp(a->imag, b->imag, a->data_bytes) == 0;
}

void set_huge_pages(bool enabled) noexcept { memory::set_huge_pages(enabled); }
void set_memory_reuse(bool enabled) noexcept { memory::set_reuse(enabled); }

void prepare_memory(std::size_t bytes, std::size_t count) noexcept { memory::prepare(bytes, count); }

void release_kept_memory() noexcept { memory::drop_cached_blocks(); }

memory_usage host_memory_usage() noexcept {
    const memory::usage u = memory::current_usage();
    memory_usage out;
    out.in_use = u.in_use;
    out.kept = u.kept;
    out.peak_in_use = u.peak_in_use;
    out.mapped = u.mapped;
    return out;
}

}  // namespace mexhost
