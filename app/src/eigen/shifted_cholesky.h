// The inverse of (1 + shift) I - L through a sparse Cholesky factorisation (CHOLMOD), for
// shift-invert Lanczos on a normalised affinity L. The symbolic analysis comes first and predicts
// the factor's size and cost, so that the caller can refuse a factor that would fill in.
#pragma once

#include "rotalign/support/sparse_view.h"

#include <memory>

namespace rotalign {

class shifted_cholesky {
public:
    // Orders and analyses (1 + shift) I - m, m symmetric (both triangles stored).
    shifted_cholesky(const sparse_view& m, double shift);
    ~shifted_cholesky();
    shifted_cholesky(const shifted_cholesky&) = delete;
    shifted_cholesky& operator=(const shifted_cholesky&) = delete;

    // The factor's predicted bytes (values and row indices) and floating-point operations;
    // infinite when the analysis itself failed (too large for 32-bit indices, out of memory).
    double predicted_bytes() const;
    double predicted_flops() const;
    // Entries of the factor, without those that supernodes add for speed.
    double predicted_entries() const;

    // Computes the factor and releases the shifted matrix. False when the matrix is not
    // positive definite (an eigenvalue of m at or above 1 + shift) or memory ran out.
    bool factorise();
    // Whether the factorisation failed because memory ran out.
    bool ran_out_of_memory() const;

    // y = ((1 + shift) I - m)^(-1) x, after factorise().
    void solve(const double* x, double* y);

private:
    struct state;
    std::unique_ptr<state> s_;
};

}  // namespace rotalign
