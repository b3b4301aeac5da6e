#include "neighbours/cells.h"

#include <mpi.h>

#include <algorithm>

namespace rotalign::mpi {
namespace {

// The most coordinates the sample holds in all: enough to share points out evenly, few enough to
// send to every rank.
constexpr std::size_t sample_values = std::size_t{1} << 20;

// Every rank's points at one stride of the point order, on every rank in point order.
points sample_of(const rank_context& c, const local_points& p) {
    const points& own = p.own;
    const std::size_t dims = std::max<std::size_t>(own.dims, 1);
    const std::size_t wanted = std::max<std::size_t>(sample_values / dims, 64 * static_cast<std::size_t>(c.size));
    const std::size_t stride = std::max<std::size_t>(1, (p.total + wanted - 1) / wanted);
    std::vector<double> mine;
    for (std::size_t i = (stride - p.first % stride) % stride; i < own.count; i += stride)
        mine.insert(mine.end(), own.values.begin() + static_cast<std::ptrdiff_t>(i * own.dims),
                    own.values.begin() + static_cast<std::ptrdiff_t>((i + 1) * own.dims));
    const int sent = static_cast<int>(mine.size());
    std::vector<int> counts(static_cast<std::size_t>(c.size)), at(static_cast<std::size_t>(c.size));
    MPI_Allgather(&sent, 1, MPI_INT, counts.data(), 1, MPI_INT, c.comm);
    int all = 0;
    for (std::size_t r = 0; r < counts.size(); ++r) {
        at[r] = all;
        all += counts[r];
    }
    points sample;
    sample.dims = own.dims;
    sample.values.resize(static_cast<std::size_t>(all));
    MPI_Allgatherv(mine.data(), sent, MPI_DOUBLE, sample.values.data(), counts.data(), at.data(), MPI_DOUBLE, c.comm);
    sample.count = own.dims > 0 ? sample.values.size() / own.dims : 0;
    return sample;
}

}  // namespace

cells cells::of(const rank_context& c, const local_points& p) {
    const points sample = sample_of(c, p);
    cells out;
    std::vector<std::size_t> all(sample.count);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    if (c.size > 1) out.cut_ranks(sample, std::move(all), 0, c.size);
    return out;
}

int cells::cut_ranks(const points& sample, std::vector<std::size_t> inside, int low, int high) {
    if (high - low == 1) return -(low + 1);
    const int middle = low + (high - low) / 2;
    cut here;
    // The coordinate of the widest span inside the cell, the first of equal spans.
    double widest = -1.0;
    for (std::size_t k = 0; k < sample.dims && !inside.empty(); ++k) {
        const auto [least, most] = std::minmax_element(inside.begin(), inside.end(), [&](std::size_t a, std::size_t b) {
            return sample.values[a * sample.dims + k] < sample.values[b * sample.dims + k];
        });
        const double span = sample.values[*most * sample.dims + k] - sample.values[*least * sample.dims + k];
        if (span > widest) {
            widest = span;
            here.dim = k;
        }
    }
    const auto coordinate = [&](std::size_t i) { return sample.values[i * sample.dims + here.dim]; };
    std::vector<std::size_t> below, above;
    if (!inside.empty()) {
        const std::size_t share = inside.size() * static_cast<std::size_t>(middle - low) /
                                  static_cast<std::size_t>(high - low);
        std::nth_element(inside.begin(), inside.begin() + static_cast<std::ptrdiff_t>(share), inside.end(),
                         [&](std::size_t a, std::size_t b) { return coordinate(a) < coordinate(b); });
        here.value = coordinate(inside[share]);
        for (const std::size_t i : inside) (coordinate(i) < here.value ? below : above).push_back(i);
    }
    const std::size_t at = cuts_.size();
    cuts_.push_back(here);
    inside.clear();
    const int lower = cut_ranks(sample, std::move(below), low, middle);
    const int upper = cut_ranks(sample, std::move(above), middle, high);
    cuts_[at].below = lower;
    cuts_[at].above = upper;
    return static_cast<int>(at);
}

int cells::rank_of(const double* point) const {
    if (cuts_.empty()) return 0;
    int at = 0;
    while (at >= 0) {
        const cut& here = cuts_[static_cast<std::size_t>(at)];
        at = point[here.dim] < here.value ? here.below : here.above;
    }
    return -at - 1;
}

}  // namespace rotalign::mpi
