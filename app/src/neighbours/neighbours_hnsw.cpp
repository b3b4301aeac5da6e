// Approximate nearest neighbours by an hnswlib graph, in single precision. The points are
// inserted one after the other, so that the graph, and with it every list, is the same with any
// number of threads; the searches run in parallel. The distances of the neighbours found are
// those of the dense route, and their order is ours.
#include "neighbours/neighbour_parts.h"

// hnswlib's hand-vectorised search prefetches through the index one past the end of a link
// list, a read outside the list's allocation (AddressSanitizer reports it). Its plain loops read
// only what they use, at a quarter more time (20,000 points in 50 dimensions).
#define NO_MANUAL_VECTORIZATION
#include <hnswlib/hnswlib.h>

#include <algorithm>

namespace rotalign::detail {

void hnsw_search(const points& p, neighbour_lists& out, unsigned threads, const neighbour_options& options) {
    const std::size_t n = p.count, d = p.dims, m = out.per_point;
    const proposal_points<float> space = prepare_proposal<float>(p);
    hnswlib::L2Space metric(d);
    hnswlib::HierarchicalNSW<float> graph(&metric, n, static_cast<std::size_t>(std::max(2, options.hnsw_links)),
                                          static_cast<std::size_t>(std::max(1, options.hnsw_build_width)),
                                          static_cast<std::size_t>(options.seed));
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 1024 == 0) interrupt_scope::poll();
        graph.addPoint(&space.values[i * d], i);
    }
    const int width = options.hnsw_search_width > 0 ? options.hnsw_search_width : static_cast<int>(2 * m + 16);
    graph.setEf(static_cast<std::size_t>(width));

    parallel_chunks(n, 256, threads, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            nearest_so_far list(&out.index[i * m], &out.distance[i * m], m);
            auto found = graph.searchKnn(&space.values[i * d], m + 1);
            for (; !found.empty(); found.pop()) {
                const std::size_t j = found.top().second;
                if (j != i) list.offer(squared_distance(&p.values[i * d], &p.values[j * d], d), static_cast<std::uint32_t>(j));
            }
            // The graph may return fewer points than asked for; an exact scan completes the list.
            if (!list.full()) {
                nearest_so_far complete(&out.index[i * m], &out.distance[i * m], m);
                scan_all(p, static_cast<std::uint32_t>(i), complete);
            }
        }
    });
}

}  // namespace rotalign::detail
