#include "eigen/symmetric_lanczos.h"

#include <arpack.h>

#include <algorithm>
#include <cmath>
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

// Reads the Ritz values and their error bounds that ARPACK keeps in its workspace (at fixed
// places: after the 2 * ncv values of the tridiagonal matrix) and updates at every restart.
// Counts a restart when the values change, and as converged the wanted (largest) values whose
// bound meets ARPACK's own test, |bound| <= tolerance * max(eps^(2/3), |value|).
class restart_watch {
public:
    restart_watch(std::size_t nev, std::size_t ncv, double tolerance)
        : nev_(nev), ncv_(ncv), tolerance_(tolerance), last_(ncv, 0.0), order_(ncv) {}

    void look(const double* workl, lanczos_progress& at) {
        const double* ritz = workl + 2 * ncv_;
        const double* bounds = ritz + ncv_;
        if (std::equal(ritz, ritz + ncv_, last_.begin())) return;
        std::copy(ritz, ritz + ncv_, last_.begin());
        ++at.restarts;
        for (std::size_t i = 0; i < ncv_; ++i) order_[i] = i;
        std::partial_sort(order_.begin(), order_.begin() + static_cast<std::ptrdiff_t>(nev_), order_.end(),
                          [ritz](std::size_t a, std::size_t b) { return ritz[a] > ritz[b]; });
        const double eps23 = std::pow(std::numeric_limits<double>::epsilon(), 2.0 / 3.0);
        const double tolerance = tolerance_ > 0.0 ? tolerance_ : std::numeric_limits<double>::epsilon();
        at.converged = 0;
        for (std::size_t k = 0; k < nev_; ++k) {
            const std::size_t i = order_[k];
            if (std::fabs(bounds[i]) <= tolerance * std::max(eps23, std::fabs(ritz[i]))) ++at.converged;
        }
    }

private:
    std::size_t nev_, ncv_;
    double tolerance_;
    std::vector<double> last_;
    std::vector<std::size_t> order_;
};

}  // namespace

std::size_t lanczos_basis(std::size_t n, std::size_t wanted, bool inverted) {
    const std::size_t ncv = inverted ? std::max(2 * wanted, wanted + 8) : std::max(4 * wanted, std::size_t{20});
    return std::min(n, ncv);
}

lanczos_run largest_ritz_vectors(std::size_t n, std::size_t nev, std::size_t ncv, double tolerance, int max_restarts,
                                 const symmetric_operator_fn& op, std::vector<double>& vectors,
                                 const lanczos_watch_fn& watch, const std::function<void()>& done) {
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
    restart_watch restarts(nev, ncv, tolerance);
    lanczos_progress at;
    at.wanted = nev;
    for (;;) {
        dsaupd_c(&ido, "I", order, "LA", wanted, tolerance, resid.data(), basis, v.data(), order, iparam, ipntr,
                 workd.data(), workl.data(), lworkl, &info);
        if (ido != -1 && ido != 1) break;
        op(&workd[static_cast<std::size_t>(ipntr[0] - 1)], &workd[static_cast<std::size_t>(ipntr[1] - 1)]);
        ++run.applications;
        if (watch) {
            at.applications = run.applications;
            restarts.look(workl.data(), at);
            watch(at);
        }
    }
    if (watch) {  // the last restart's test, which needed no further application
        restarts.look(workl.data(), at);
        watch(at);
    }
    run.restarts = iparam[2];
    if (done) done();
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
