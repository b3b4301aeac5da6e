// The symmetrised nearest-neighbour graph as a host sparse matrix, built in two passes over the
// columns (count, then fill) straight into the host's arrays: besides the lists' indices and the
// matrix it takes one index per list entry for the reverse lists, and nothing N-by-N.
#include "rotalign/graph/graph.h"

#include "neighbours/neighbour_parts.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <thread>

namespace rotalign {
namespace {

constexpr std::size_t largest_index = static_cast<std::size_t>(std::numeric_limits<mwIndex>::max());

// For every point, the points whose lists hold it, ascending: starts (N + 1) and rows. Filling
// the rows point by point leaves each reverse list sorted without a sort.
struct reverse_lists {
    std::vector<std::uint32_t> start;
    std::vector<std::uint32_t> rows;

    explicit reverse_lists(const neighbour_lists& lists) : start(lists.count + 1, 0), rows(lists.index.size()) {
        for (const std::uint32_t j : lists.index) ++start[j + 1];
        for (std::size_t j = 0; j < lists.count; ++j) start[j + 1] += start[j];
        std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
        for (std::size_t i = 0; i < lists.count; ++i)
            for (std::size_t r = 0; r < lists.per_point; ++r) rows[next[lists.index[i * lists.per_point + r]]++] = static_cast<std::uint32_t>(i);
    }
};

// Column j's own list sorted by row, in scratch that each thread reuses.
struct own_column {
    std::vector<std::uint32_t> rows;

    void take(const neighbour_lists& lists, std::size_t j) {
        rows.assign(lists.index.begin() + static_cast<std::ptrdiff_t>(j * lists.per_point),
                    lists.index.begin() + static_cast<std::ptrdiff_t>((j + 1) * lists.per_point));
        std::sort(rows.begin(), rows.end());
    }
};

// Calls visit(row) for every row of the union of column j's own list and its reverse list, in
// ascending order, once each.
template <class Visit>
void merge_column(const own_column& own, const reverse_lists& reverse, std::size_t j, Visit visit) {
    const std::uint32_t* a = own.rows.data();
    const std::uint32_t* a_end = a + own.rows.size();
    const std::uint32_t* b = reverse.rows.data() + reverse.start[j];
    const std::uint32_t* b_end = reverse.rows.data() + reverse.start[j + 1];
    while (a != a_end || b != b_end) {
        if (b == b_end || (a != a_end && *a < *b)) {
            visit(*a++);
        } else {
            if (a != a_end && *a == *b) ++a;
            visit(*b++);
        }
    }
}

std::size_t chunk_for(std::size_t n) { return std::max<std::size_t>(1024, n / 64); }

}  // namespace

mexhost::array_ptr symmetric_graph(const points& p, const neighbour_lists& lists, unsigned threads) {
    const std::size_t n = lists.count, m = lists.per_point;
    if (n > largest_index)
        throw input_error("neighbour graph: " + std::to_string(n) + " points are more than a host matrix has rows (" +
                          std::to_string(largest_index) + ")");
    // Every column stores at least its own list, so n * m entries at the least.
    if (m != 0 && n > largest_index / m)
        throw input_error("neighbour graph: " + std::to_string(n) + " points with " + std::to_string(m) +
                          " neighbours each store more entries than a host sparse matrix holds (" +
                          std::to_string(largest_index) + ")");
    if (p.count != n || lists.index.size() != n * m)
        throw std::invalid_argument("symmetric_graph: the lists do not belong to these points");
    threads = std::max(1u, threads);
    const reverse_lists reverse(lists);

    // Pass 1: the length of every column.
    std::vector<std::size_t> length(n);
    detail::parallel_chunks(n, chunk_for(n), threads, [&](std::size_t first, std::size_t last) {
        own_column own;
        for (std::size_t j = first; j < last; ++j) {
            own.take(lists, j);
            std::size_t count = 0;
            merge_column(own, reverse, j, [&](std::uint32_t) { ++count; });
            length[j] = count;
        }
    });
    std::size_t stored = 0;
    for (const std::size_t l : length) stored += l;
    if (stored > largest_index)
        throw input_error("neighbour graph: " + std::to_string(stored) + " entries are more than a host sparse matrix holds (" +
                          std::to_string(largest_index) + ")");

    // Pass 2: rows and values into the host's arrays. Every value is computed again from the
    // points, which gives the same double as the list it came from (the distance does not depend
    // on the order of its two points), so that the lists' distances can go before this.
    const auto side = static_cast<mwSize>(n);
    mexhost::array_ptr matrix(mxCreateSparse(side, side, static_cast<mwSize>(stored), mxREAL));
    mwIndex* jc = mxGetJc(matrix.get());
    mwIndex* ir = mxGetIr(matrix.get());
    double* pr = mxGetPr(matrix.get());
    jc[0] = 0;
    for (std::size_t j = 0; j < n; ++j) jc[j + 1] = static_cast<mwIndex>(jc[j] + static_cast<mwIndex>(length[j]));
    detail::parallel_chunks(n, chunk_for(n), threads, [&](std::size_t first, std::size_t last) {
        own_column own;
        for (std::size_t j = first; j < last; ++j) {
            own.take(lists, j);
            std::size_t at = static_cast<std::size_t>(jc[j]);
            const double* x = &p.values[j * p.dims];
            merge_column(own, reverse, j, [&](std::uint32_t row) {
                ir[at] = static_cast<mwIndex>(row);
                pr[at] = detail::squared_distance(&p.values[std::size_t{row} * p.dims], x, p.dims);
                ++at;
            });
        }
    });
    return matrix;
}

neighbour_graph build_graph(const points& p, std::size_t per_point, const neighbour_options& options) {
    const auto start = std::chrono::steady_clock::now();
    neighbour_search search = nearest_neighbours(p, per_point, options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    neighbour_graph graph = build_graph(p, std::move(search), options.threads);
    graph.search_seconds = seconds;
    return graph;
}

neighbour_graph build_graph(const points& p, neighbour_search search, unsigned threads) {
    using clock = std::chrono::steady_clock;
    const auto searched = clock::now();
    std::vector<double>().swap(search.lists.distance);  // not needed for the graph: memory back first
    neighbour_graph graph;
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    graph.distances = symmetric_graph(p, search.lists, threads);
    graph.stored = static_cast<std::size_t>(mxGetJc(graph.distances.get())[p.count]);
    graph.backend = search.backend;
    graph.exact = search.exact;
    graph.recall = search.recall;
    graph.rechecked = search.rechecked;
    graph.build_seconds = std::chrono::duration<double>(clock::now() - searched).count();
    return graph;
}

}  // namespace rotalign
