#include "eigen/symmetric_lanczos.h"

#include <arpack.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace rotalign {
namespace {

a_int as_arpack(std::size_t v) {
    if (v > static_cast<std::size_t>(std::numeric_limits<a_int>::max()))
        throw std::runtime_error("matrix too large for the Lanczos solver");
    return static_cast<a_int>(v);
}

// A fixed start vector with entries spread over [-1, 1), so that runs repeat exactly and no
// eigenvector is missed by a start orthogonal to it.
void fill_start(double* v, std::size_t n) {
    std::uint64_t state = 0x2545f4914f6cdd1dULL;
    for (std::size_t i = 0; i < n; ++i) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        v[i] = static_cast<double>(state >> 11) * 0x1.0p-52 - 1.0;
    }
}

}  // namespace

std::size_t lanczos_basis(std::size_t n, std::size_t wanted, bool inverted) {
    const std::size_t ncv = inverted ? std::max(2 * wanted, wanted + 8) : std::max(4 * wanted, std::size_t{20});
    return std::min(n, ncv);
}

lanczos_run largest_ritz_vectors(std::size_t n, std::size_t nev, std::size_t ncv, double tolerance, int max_restarts,
                                 const symmetric_operator_fn& op, std::vector<double>& vectors) {
    const a_int order = as_arpack(n), wanted = as_arpack(nev), basis = as_arpack(ncv);
    const a_int lworkl = basis * (basis + 8);
    std::vector<double> resid(n), v(n * ncv), workd(3 * n), workl(static_cast<std::size_t>(lworkl));
    fill_start(resid.data(), n);
    a_int iparam[11] = {}, ipntr[11] = {};
    iparam[0] = 1;             // exact shifts
    iparam[2] = max_restarts;  // restarts at most
    iparam[6] = 1;             // regular mode: Op x = theta x
    a_int ido = 0, info = 1;   // info 1: resid holds the start vector
    lanczos_run run;
    for (;;) {
        dsaupd_c(&ido, "I", order, "LA", wanted, tolerance, resid.data(), basis, v.data(), order, iparam, ipntr,
                 workd.data(), workl.data(), lworkl, &info);
        if (ido != -1 && ido != 1) break;
        op(&workd[static_cast<std::size_t>(ipntr[0] - 1)], &workd[static_cast<std::size_t>(ipntr[1] - 1)]);
        ++run.applications;
    }
    run.restarts = iparam[2];
    vectors.clear();
    if (info == 1 || info == 3 || iparam[4] < wanted) return run;  // no convergence, or no shifts to apply
    if (info != 0) throw std::runtime_error("the Lanczos eigen-solver failed (code " + std::to_string(info) + ")");

    // The Ritz vectors overwrite the first nev basis vectors, as ARPACK allows.
    std::vector<a_int> select(ncv);
    std::vector<double> theta(nev);
    dseupd_c(1, "A", select.data(), theta.data(), v.data(), order, 0.0, "I", order, "LA", wanted, tolerance,
             resid.data(), basis, v.data(), order, iparam, ipntr, workd.data(), workl.data(), lworkl, &info);
    if (info != 0) throw std::runtime_error("the Lanczos eigen-solver failed (code " + std::to_string(info) + ")");
    vectors.assign(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n * nev));
    run.values = std::move(theta);
    run.converged = true;
    return run;
}

}  // namespace rotalign
