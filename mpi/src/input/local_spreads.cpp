#include "input/local_spreads.h"

#include <cmath>

namespace rotalign::mpi {
namespace {

struct column_moments {
    std::vector<double> mean, spread;
};

// Two passes, each summed across the ranks: the means, then the squared deviations from them.
column_moments moments_across(const rank_context& c, const local_points& p) {
    const std::size_t dims = p.own.dims;
    std::vector<double> sums(dims, 0.0), total(dims, 0.0);
    for (std::size_t i = 0; i < p.own.count; ++i)
        for (std::size_t k = 0; k < dims; ++k) sums[k] += p.own.values[i * dims + k];
    MPI_Allreduce(sums.data(), total.data(), static_cast<int>(dims), MPI_DOUBLE, MPI_SUM, c.comm);
    column_moments m;
    m.mean.resize(dims);
    for (std::size_t k = 0; k < dims; ++k) m.mean[k] = total[k] / static_cast<double>(p.total);
    std::fill(sums.begin(), sums.end(), 0.0);
    for (std::size_t i = 0; i < p.own.count; ++i)
        for (std::size_t k = 0; k < dims; ++k) {
            const double d = p.own.values[i * dims + k] - m.mean[k];
            sums[k] += d * d;
        }
    MPI_Allreduce(sums.data(), total.data(), static_cast<int>(dims), MPI_DOUBLE, MPI_SUM, c.comm);
    m.spread.resize(dims);
    for (std::size_t k = 0; k < dims; ++k) m.spread[k] = std::sqrt(total[k] / static_cast<double>(p.total));
    return m;
}

}  // namespace

std::vector<double> column_spreads_across(const rank_context& c, const local_points& p) {
    return moments_across(c, p).spread;
}

local_points standardised_across(const rank_context& c, const local_points& p) {
    const column_moments m = moments_across(c, p);
    local_points s = p;
    const std::size_t dims = p.own.dims;
    for (std::size_t i = 0; i < p.own.count; ++i)
        for (std::size_t k = 0; k < dims; ++k) {
            double& v = s.own.values[i * dims + k];
            v = (v - m.mean[k]) / (m.spread[k] > 0.0 ? m.spread[k] : 1.0);
        }
    return s;
}

}  // namespace rotalign::mpi
