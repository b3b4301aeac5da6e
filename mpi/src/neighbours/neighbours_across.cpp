#include "neighbours/neighbours_across.h"

#include "rotalign/graph/graph_size.h"
#include "rotalign/neighbours/block_search.h"
#include "support/collective_section.h"
#include "support/exchange.h"
#include "support/together.h"

#include <cfloat>
#include <cmath>
#include <thread>

namespace rotalign::mpi {
namespace {

// Whether a squared distance between any two points may overflow, as squared_distances_overflow
// decides it on all points: the spans of the columns over every rank.
bool spans_overflow(const rank_context& c, const points& own) {
    const std::size_t dims = own.dims;
    std::vector<double> low(dims, HUGE_VAL), high(dims, -HUGE_VAL), lowest(dims), highest(dims);
    for (std::size_t i = 0; i < own.count; ++i)
        for (std::size_t k = 0; k < dims; ++k) {
            low[k] = std::min(low[k], own.values[i * dims + k]);
            high[k] = std::max(high[k], own.values[i * dims + k]);
        }
    MPI_Allreduce(low.data(), lowest.data(), static_cast<int>(dims), MPI_DOUBLE, MPI_MIN, c.comm);
    MPI_Allreduce(high.data(), highest.data(), static_cast<int>(dims), MPI_DOUBLE, MPI_MAX, c.comm);
    double spread = 0.0;
    for (std::size_t k = 0; k < dims; ++k) spread += (highest[k] - lowest[k]) * (highest[k] - lowest[k]);
    return !(spread <= DBL_MAX / 4);
}

// The machine's cores shared among the ranks that run on it.
unsigned threads_per_rank(const rank_context& c) {
    MPI_Comm node;
    MPI_Comm_split_type(c.comm, MPI_COMM_TYPE_SHARED, c.rank, MPI_INFO_NULL, &node);
    int here = 1;
    MPI_Comm_size(node, &here);
    MPI_Comm_free(&node);
    return std::max(1u, std::thread::hardware_concurrency() / static_cast<unsigned>(here));
}

// Sends `mine` to rank `to` while receiving `theirs` (of known size) from rank `from`, in pieces.
void swap_blocks(MPI_Comm comm, const std::vector<double>& mine, int to, std::vector<double>& theirs, int from) {
    constexpr int tag = 73;
    std::size_t sent = 0, received = 0;
    while (sent < mine.size() || received < theirs.size()) {
        const std::size_t out = std::min(piece_elements, mine.size() - sent);
        const std::size_t in = std::min(piece_elements, theirs.size() - received);
        MPI_Sendrecv(mine.data() + sent, static_cast<int>(out), MPI_DOUBLE, to, tag, theirs.data() + received,
                     static_cast<int>(in), MPI_DOUBLE, from, tag, comm, MPI_STATUS_IGNORE);
        sent += out;
        received += in;
    }
}

}  // namespace

neighbour_lists neighbours_across(const rank_context& c, const local_points& p, std::size_t per_point) {
    if (spans_overflow(c, p.own)) throw input_error("the points spread so far that their squared distances overflow");
    const row_blocks blocks{p.total, c.size};
    const unsigned threads = threads_per_rank(c);
    // From here on a rank that fails leaves the ring's next rank waiting in its exchange with it.
    return collective_section([&] {
        const std::vector<std::uint32_t> order = search_order(p.own);
        neighbour_lists lists = unfilled_lists(p.own.count, per_point);
        offer_block(p.own, p.first, p.own, p.first, lists, threads, order);
        points visiting;
        visiting.dims = p.own.dims;
        for (int step = 1; step < c.size; ++step) {
            const int to = (c.rank + step) % c.size, from = (c.rank - step + c.size) % c.size;
            visiting.count = blocks.count(from);
            visiting.values.resize(visiting.count * visiting.dims);
            swap_blocks(c.comm, p.own.values, to, visiting.values, from);
            offer_block(visiting, blocks.first(from), p.own, p.first, lists, threads, order);
        }
        return lists;
    });
}

std::size_t neighbours_for_share_across(const rank_context& c, const local_points& p, const neighbour_lists& lists,
                                        const affinity_kernel& kernel, std::size_t most) {
    if (std::min(most, p.total - 1) <= lists.per_point) return lists.per_point;
    const points all = gather_points(c, p);
    neighbour_lists every;
    every.count = p.total;
    every.per_point = lists.per_point;
    every.index = gather_to_root(c.comm, lists.index);
    every.distance = gather_to_root(c.comm, lists.distance);
    std::uint64_t wanted = 0;
    together(c.comm, [&] {
        if (c.root()) wanted = neighbours_for_share(all, every, kernel, most);
    });
    MPI_Bcast(&wanted, 1, MPI_UINT64_T, 0, c.comm);
    return static_cast<std::size_t>(wanted);
}

}  // namespace rotalign::mpi
