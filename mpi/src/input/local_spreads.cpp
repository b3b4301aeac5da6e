#include "input/local_spreads.h"

#include "rotalign/input/standardise.h"

#include <algorithm>
#include <utility>

namespace rotalign::mpi {
namespace {

// Runs `add(running)` on every rank in rank order, each continuing the running values of the ranks
// before it, and gives every rank the totals: the blocks lie in point order, so the sums are those
// of one pass over all points, bit for bit.
template <typename Add>
std::vector<double> in_point_order(const rank_context& c, std::size_t size, Add add) {
    std::vector<double> running(size, 0.0);
    const int count = static_cast<int>(size);
    if (c.rank > 0) MPI_Recv(running.data(), count, MPI_DOUBLE, c.rank - 1, 0, c.comm, MPI_STATUS_IGNORE);
    add(running);
    if (c.rank + 1 < c.size) MPI_Send(running.data(), count, MPI_DOUBLE, c.rank + 1, 0, c.comm);
    MPI_Bcast(running.data(), count, MPI_DOUBLE, c.size - 1, c.comm);
    return running;
}

// The passes of column_moments_of over the ranks' blocks.
column_moments moments_across(const rank_context& c, const local_points& p) {
    const std::size_t dims = p.own.dims;
    const int n = static_cast<int>(dims);
    column_extent extent(dims);
    extent.add(p.own);
    MPI_Allreduce(MPI_IN_PLACE, extent.largest.data(), n, MPI_DOUBLE, MPI_MAX, c.comm);
    MPI_Allreduce(MPI_IN_PLACE, extent.low.data(), n, MPI_DOUBLE, MPI_MIN, c.comm);
    MPI_Allreduce(MPI_IN_PLACE, extent.high.data(), n, MPI_DOUBLE, MPI_MAX, c.comm);
    std::vector<int> exponents = column_exponents(extent);
    const std::vector<double> sums =
        in_point_order(c, dims, [&](std::vector<double>& running) { add_scaled_sums(p.own, exponents, running); });
    std::vector<double> mean = first_means(sums, p.total);
    // Residuals and squares travel as one vector.
    const std::vector<double> both = in_point_order(c, 2 * dims, [&](std::vector<double>& running) {
        deviation_sums d(dims);
        std::copy(running.begin(), running.begin() + n, d.residual.begin());
        std::copy(running.begin() + n, running.end(), d.squares.begin());
        add_deviation_sums(p.own, exponents, mean, d);
        std::copy(d.residual.begin(), d.residual.end(), running.begin());
        std::copy(d.squares.begin(), d.squares.end(), running.begin() + n);
    });
    deviation_sums deviations(dims);
    std::copy(both.begin(), both.begin() + n, deviations.residual.begin());
    std::copy(both.begin() + n, both.end(), deviations.squares.begin());
    return moments_from(extent, std::move(exponents), std::move(mean), deviations, p.total);
}

}  // namespace

std::vector<double> column_spreads_across(const rank_context& c, const local_points& p) {
    return spreads_of(moments_across(c, p));
}

local_points standardised_across(const rank_context& c, const local_points& p) {
    local_points s = p;
    s.own = standardised_with(p.own, moments_across(c, p));
    return s;
}

}  // namespace rotalign::mpi
