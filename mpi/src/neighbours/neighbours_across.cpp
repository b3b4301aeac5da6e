#include "neighbours/neighbours_across.h"

#include "neighbours/cells.h"

#include "rotalign/graph/graph_size.h"
#include "rotalign/neighbours/block_search.h"
#include "support/collective_section.h"
#include "support/exchange.h"
#include "support/together.h"

#include <cfloat>
#include <cmath>
#include <thread>
#include <utility>

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
template <typename T>
void swap_blocks(MPI_Comm comm, const std::vector<T>& mine, int to, std::vector<T>& theirs, int from) {
    constexpr int tag = 73;
    std::size_t sent = 0, received = 0;
    while (sent < mine.size() || received < theirs.size()) {
        const std::size_t out = std::min(piece_elements, mine.size() - sent);
        const std::size_t in = std::min(piece_elements, theirs.size() - received);
        MPI_Sendrecv(mine.data() + sent, static_cast<int>(out), type_of<T>(), to, tag, theirs.data() + received,
                     static_cast<int>(in), type_of<T>(), from, tag, comm, MPI_STATUS_IGNORE);
        sent += out;
        received += in;
    }
}

// Points with their indices among all points.
struct indexed_points {
    points at;
    std::vector<std::uint32_t> index;
};

// The own points in the order they are sent, grouped by the rank of their cell (in rank order),
// point order within each group.
struct sending {
    std::vector<std::uint32_t> order;
    std::vector<std::size_t> counts;
};

sending by_cell(const rank_context& c, const cells& place, const points& own) {
    sending out;
    out.counts.assign(static_cast<std::size_t>(c.size), 0);
    std::vector<int> rank(own.count);
    for (std::size_t i = 0; i < own.count; ++i) {
        rank[i] = place.rank_of(&own.values[i * own.dims]);
        ++out.counts[static_cast<std::size_t>(rank[i])];
    }
    std::vector<std::size_t> next(out.counts.size(), 0);
    for (std::size_t r = 1; r < next.size(); ++r) next[r] = next[r - 1] + out.counts[r - 1];
    out.order.resize(own.count);
    for (std::size_t i = 0; i < own.count; ++i) out.order[next[static_cast<std::size_t>(rank[i])]++] = static_cast<std::uint32_t>(i);
    return out;
}

// The points of this rank's cell, gathered from every rank: rank 0's first, each rank's in the
// order it sent them.
indexed_points gather_cell(const rank_context& c, const local_points& p, const sending& s,
                           std::vector<std::size_t>& from_each) {
    const std::size_t dims = p.own.dims;
    std::vector<double> values;
    values.reserve(p.own.values.size());
    std::vector<std::uint32_t> index;
    index.reserve(p.own.count);
    for (const std::uint32_t i : s.order) {
        values.insert(values.end(), p.own.values.begin() + static_cast<std::ptrdiff_t>(i * dims),
                      p.own.values.begin() + static_cast<std::ptrdiff_t>((i + 1) * dims));
        index.push_back(static_cast<std::uint32_t>(p.first + i));
    }
    std::vector<std::size_t> value_counts(s.counts);
    for (std::size_t& n : value_counts) n *= dims;
    std::vector<std::size_t> received_values;
    indexed_points cell;
    cell.at.dims = dims;
    cell.at.values = all_to_all(c.comm, values, value_counts, received_values);
    cell.index = all_to_all(c.comm, index, s.counts, from_each);
    cell.at.count = cell.index.size();
    return cell;
}

// Moves entry block k of `values` (blocks of `width`) to block to[k], for every k: the cycles of
// the permutation followed in place, so that no second array of the lists' size is made.
template <typename T>
void permute_blocks(std::vector<T>& values, std::size_t width, const std::vector<std::uint32_t>& to) {
    std::vector<bool> placed(to.size(), false);
    std::vector<T> carried(width), displaced(width);
    const auto block = [&](std::size_t k) { return values.begin() + static_cast<std::ptrdiff_t>(k * width); };
    for (std::size_t start = 0; start < to.size(); ++start) {
        if (placed[start]) continue;
        std::copy_n(block(start), width, carried.begin());
        std::size_t k = start;
        do {
            const std::size_t target = to[k];
            std::copy_n(block(target), width, displaced.begin());
            std::copy_n(carried.begin(), width, block(target));
            carried.swap(displaced);
            placed[target] = true;
            k = target;
        } while (k != start);
    }
}

// The lists of the cell's points, each back to the rank that sent the point: they arrive in the
// order the points were sent and are moved to the points' own order.
neighbour_lists lists_home(const rank_context& c, neighbour_lists found, const std::vector<std::size_t>& from_each,
                           const sending& s) {
    const std::size_t m = found.per_point;
    std::vector<std::size_t> counts(from_each);
    for (std::size_t& n : counts) n *= m;
    std::vector<std::size_t> received;
    neighbour_lists home;
    home.count = s.order.size();
    home.per_point = m;
    home.index = all_to_all(c.comm, found.index, counts, received);
    std::vector<std::uint32_t>().swap(found.index);
    home.distance = all_to_all(c.comm, found.distance, counts, received);
    std::vector<double>().swap(found.distance);
    permute_blocks(home.index, m, s.order);
    permute_blocks(home.distance, m, s.order);
    return home;
}

}  // namespace

neighbour_lists neighbours_across(const rank_context& c, const local_points& p, std::size_t per_point) {
    if (spans_overflow(c, p.own)) throw input_error("the points spread so far that their squared distances overflow");
    // The lists hold 32-bit indices, and the points carry theirs to their cells as such.
    if (p.total > no_neighbour) throw input_error("point indices beyond 2^32 - 2");
    const unsigned threads = threads_per_rank(c);
    // From here on a rank that fails leaves the others waiting in their exchanges with it.
    return collective_section([&] {
        const cells place = cells::of(c, p);
        const sending sent = by_cell(c, place, p.own);
        std::vector<std::size_t> from_each;
        const indexed_points cell = gather_cell(c, p, sent, from_each);
        std::vector<unsigned long long> cell_counts(static_cast<std::size_t>(c.size));
        const unsigned long long held = cell.at.count;
        MPI_Allgather(&held, 1, MPI_UNSIGNED_LONG_LONG, cell_counts.data(), 1, MPI_UNSIGNED_LONG_LONG, c.comm);

        const std::vector<std::uint32_t> order = search_order(cell.at);
        neighbour_lists found = unfilled_lists(cell.at.count, per_point);
        offer_block(cell.at, cell.index, cell.at, cell.index, found, threads, order);
        indexed_points visiting;
        visiting.at.dims = cell.at.dims;
        for (int step = 1; step < c.size; ++step) {
            const int to = (c.rank + step) % c.size, from = (c.rank - step + c.size) % c.size;
            visiting.at.count = static_cast<std::size_t>(cell_counts[static_cast<std::size_t>(from)]);
            visiting.at.values.resize(visiting.at.count * visiting.at.dims);
            visiting.index.resize(visiting.at.count);
            swap_blocks(c.comm, cell.at.values, to, visiting.at.values, from);
            swap_blocks(c.comm, cell.index, to, visiting.index, from);
            offer_block(visiting.at, visiting.index, cell.at, cell.index, found, threads, order);
        }
        return lists_home(c, std::move(found), from_each, sent);
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
