// "mtimes": the matrix product of the host, for dense double matrices, real or complex.
#include "host_functions.h"

#include "array.h"

#include "mex.h"

#include <complex>
#include <type_traits>
#include <cstddef>
#include <vector>

#if MEXHOST_HAVE_BLAS
extern "C" {
// Fortran BLAS; the trailing arguments are the hidden lengths of the character arguments.
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b, const int* ldb,
            const double* beta, double* c, const int* ldc, std::size_t transa_len, std::size_t transb_len);
void zgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const std::complex<double>* alpha, const std::complex<double>* a, const int* lda,
            const std::complex<double>* b, const int* ldb, const std::complex<double>* beta,
            std::complex<double>* c, const int* ldc, std::size_t transa_len, std::size_t transb_len);
}
#endif

namespace mexhost {
namespace {

using complex = std::complex<double>;

bool is_scalar(const mxArray* a) { return a->dims[0] == 1 && a->columns() == 1; }

// C = A * B, all column-major; C arrives zeroed. Without BLAS the loop order is the reference
// BLAS one, so that both give the same bits.
template <typename T>
void gemm(int m, int n, int k, const T* a, const T* b, T* c) {
    if (m == 0 || n == 0 || k == 0) return;
#if MEXHOST_HAVE_BLAS
    const T one(1.0), zero(0.0);
    const int lda = m, ldb = k, ldc = m;
    if constexpr (std::is_same_v<T, double>)
        dgemm_("N", "N", &m, &n, &k, &one, a, &lda, b, &ldb, &zero, c, &ldc, 1, 1);
    else
        zgemm_("N", "N", &m, &n, &k, &one, a, &lda, b, &ldb, &zero, c, &ldc, 1, 1);
#else
    const auto rows = static_cast<std::size_t>(m);
    for (std::size_t j = 0; j < static_cast<std::size_t>(n); ++j)
        for (std::size_t l = 0; l < static_cast<std::size_t>(k); ++l) {
            const T factor = b[l + j * static_cast<std::size_t>(k)];
            for (std::size_t i = 0; i < rows; ++i) c[i + j * rows] += factor * a[i + l * rows];
        }
#endif
}

std::vector<complex> interleaved(const mxArray* a) {
    const std::size_t count = a->element_count();
    const auto* re = static_cast<const double*>(a->real);
    const auto* im = static_cast<const double*>(a->imag);
    std::vector<complex> values(count);
    for (std::size_t i = 0; i < count; ++i) values[i] = complex(re[i], im != nullptr ? im[i] : 0.0);
    return values;
}

void store(const std::vector<complex>& values, mxArray* out) {
    auto* re = static_cast<double*>(out->real);
    auto* im = static_cast<double*>(out->imag);
    for (std::size_t i = 0; i < values.size(); ++i) {
        re[i] = values[i].real();
        im[i] = values[i].imag();
    }
}

// Scalar times matrix, element by element.
mxArray* scaled(const mxArray* s, const mxArray* m, bool scalar_first) {
    const bool complex_result = s->complex || m->complex;
    mxArray* out = mxCreateDoubleMatrix(m->dims[0], static_cast<mwSize>(m->columns()),
                                        complex_result ? mxCOMPLEX : mxREAL);
    const std::size_t count = m->element_count();
    const auto* mr = static_cast<const double*>(m->real);
    const double sr = static_cast<const double*>(s->real)[0];
    if (!complex_result) {
        auto* o = static_cast<double*>(out->real);
        for (std::size_t i = 0; i < count; ++i) o[i] = scalar_first ? sr * mr[i] : mr[i] * sr;
        return out;
    }
    const complex sv = interleaved(s)[0];
    std::vector<complex> values = interleaved(m);
    for (complex& v : values) v = scalar_first ? sv * v : v * sv;
    store(values, out);
    return out;
}

}  // namespace

void mtimes(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]) {
    if (nrhs != 2 || nlhs > 1) mexErrMsgTxt("mtimes: takes two inputs and gives one output");
    const mxArray* a = prhs[0];
    const mxArray* b = prhs[1];
    for (const mxArray* operand : {a, b}) {
        if (operand->class_id != mxDOUBLE_CLASS) mexErrMsgTxt("mtimes: operands must be double");
        if (operand->sparse) mexErrMsgTxt("mtimes: sparse operands are not supported");
        if (operand->dims.size() > 2) mexErrMsgTxt("mtimes: operands must be 2-D");
    }
    if (is_scalar(a) && !is_scalar(b)) {
        plhs[0] = scaled(a, b, true);
        return;
    }
    if (is_scalar(b) && !is_scalar(a)) {
        plhs[0] = scaled(b, a, false);
        return;
    }
    if (a->dims[1] != b->dims[0]) mexErrMsgTxt("mtimes: inner matrix dimensions must agree");
    const int m = a->dims[0], k = a->dims[1], n = b->dims[1];
    const bool complex_result = a->complex || b->complex;
    mxArray* out = mxCreateDoubleMatrix(m, n, complex_result ? mxCOMPLEX : mxREAL);
    if (!complex_result) {
        gemm(m, n, k, static_cast<const double*>(a->real), static_cast<const double*>(b->real),
             static_cast<double*>(out->real));
    } else {
        const std::vector<complex> av = interleaved(a), bv = interleaved(b);
        std::vector<complex> cv(out->element_count());
        gemm(m, n, k, av.data(), bv.data(), cv.data());
        store(cv, out);
    }
    plhs[0] = out;
}

}  // namespace mexhost
