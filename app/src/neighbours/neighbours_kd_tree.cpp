// Exact nearest neighbours by a nanoflann k-d tree, with the tree's pruning made safe against
// rounding so that the lists equal an exhaustive search bit for bit.
//
// nanoflann skips a subtree when its running lower bound m on the squared distance to the
// subtree exceeds the result set's worstDist(). m is summed from per-coordinate terms
// (q_k - s)^2 against splitting planes s in an order of its own, so in floating point it may
// exceed, by a few roundings, the distance that we compute for a point inside the subtree. The
// bound on that excess:
//  - every plane term is at most the same point's term: |q_k - s| <= |q_k - p_k| when s lies
//    between q_k and p_k, and rounding is monotone, so fl((q_k - s)^2) <= fl((q_k - p_k)^2);
//  - m is updated once per level, m' = (m + t_new) - t_old with t_old <= t_new; each update
//    adds at most 3u * m' of rounding (u the unit roundoff), and m never shrinks down a path, so
//    at depth h it is at most (1 + 3hu) times the exact sum of the plane terms;
//  - our distance, a sum of d non-negative terms, is at least (1 - (d - 1)u) times its exact sum.
// So m <= D_p * (1 + (3h + d)u + O(u^2)) for every point p of the subtree. The result set below
// reports its last distance (the per_point-th) inflated by more than twice that factor, and one
// step further, so
// no subtree or leaf point that could hold a neighbour (ties at the last distance included) is
// skipped; it then keeps exactly the first per_point pairs by (distance, index) of all it is
// offered. Underflow does not matter: sums and monotonicity hold for subnormal numbers too, and
// the caller has excluded overflow.
#include "neighbours/neighbour_parts.h"
#include "neighbours/point_cloud.h"
#include "rotalign/neighbours/block_search.h"

#include <nanoflann.hpp>

#include <cfloat>
#include <cmath>
#include <limits>
#include <algorithm>
#include <thread>
#include <utility>

namespace rotalign::detail {
namespace {

// The metric of the dense route (nanoflann's own adaptors sum the terms in another order).
struct exact_metric {
    using ElementType = double;
    using DistanceType = double;

    const point_cloud& cloud;
    explicit exact_metric(const point_cloud& c) : cloud(c) {}

    double evalMetric(const double* a, std::uint32_t b, std::size_t dims) const {
        return squared_distance(a, &cloud.p.values[b * dims], dims);
    }
    double accum_dist(double a, double b, std::size_t) const { return (a - b) * (a - b); }
};

template <int Dims>
using tree = nanoflann::KDTreeSingleIndexAdaptor<exact_metric, point_cloud, Dims, std::uint32_t>;

// A result set that never lets nanoflann prune a possible neighbour (see the top of the file)
// and keeps the neighbours in our order.
class safe_result {
public:
    safe_result(nearest_so_far& list, std::uint32_t self, double inflation)
        : list_(list), self_(self), inflation_(inflation) {}

    double worstDist() const {
        if (!list_.full()) return std::numeric_limits<double>::infinity();
        return std::nextafter(list_.last() * inflation_, std::numeric_limits<double>::infinity());
    }
    bool addPoint(double distance, std::uint32_t i) {
        if (i != self_) list_.offer(distance, i);
        return true;
    }
    bool full() const { return list_.full(); }

private:
    nearest_so_far& list_;
    std::uint32_t self_;
    double inflation_;
};

// The pairs of a list offered with indices moved by `offset`: the tree numbers its own points
// from 0, the list holds them by their indices among all points.
class offset_result {
public:
    offset_result(nearest_so_far& list, std::uint64_t self, std::uint64_t offset, double inflation)
        : list_(list), self_(self), offset_(offset), inflation_(inflation) {}

    double worstDist() const {
        if (!list_.full()) return std::numeric_limits<double>::infinity();
        return std::nextafter(list_.last() * inflation_, std::numeric_limits<double>::infinity());
    }
    bool addPoint(double distance, std::uint32_t i) {
        if (offset_ + i != self_) list_.offer(distance, static_cast<std::uint32_t>(offset_ + i));
        return true;
    }
    bool full() const { return list_.full(); }

private:
    nearest_so_far& list_;
    std::uint64_t self_, offset_;
    double inflation_;
};

template <class Tree>
std::size_t depth_of(const typename Tree::Node* root) {
    std::size_t deepest = 0;
    std::vector<std::pair<const typename Tree::Node*, std::size_t>> stack{{root, 1}};
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        if (node == nullptr) continue;
        if (depth > deepest) deepest = depth;
        stack.push_back({node->child1, depth + 1});
        stack.push_back({node->child2, depth + 1});
    }
    return deepest;
}

template <int Dims>
void search(const points& p, neighbour_lists& out, unsigned threads, const std::vector<std::uint32_t>& queries) {
    const point_cloud cloud{p};
    // Leaves of 16 points: on 10^6 two-moons points, one thread, leaves of 8 took 40% longer
    // and leaves of 32 as long.
    const tree<Dims> index(static_cast<int>(p.dims), cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16));
    const double u = DBL_EPSILON / 2;
    const double h = static_cast<double>(depth_of<tree<Dims>>(index.root_node));
    const double inflation = 1.0 + 2.0 * (3.0 * h + static_cast<double>(p.dims) + 8.0) * u;

    // In the tree's order the points of one chunk lie close together, so their searches touch
    // the same leaves.
    const std::vector<std::uint32_t>& order = queries.empty() ? index.vAcc : queries;
    const std::size_t m = out.per_point;
    parallel_chunks(order.size(), 256, threads, [&](std::size_t first, std::size_t last) {
        for (std::size_t q = first; q < last; ++q) {
            const std::uint32_t i = order[q];
            nearest_so_far list(&out.index[i * m], &out.distance[i * m], m);
            safe_result result(list, i, inflation);
            index.findNeighbors(result, &p.values[i * p.dims], nanoflann::SearchParams());
        }
    });
}

template <int Dims>
void offer(const points& reference, std::size_t first_reference, const points& queries, std::size_t first_query,
           neighbour_lists& lists, unsigned threads, const std::vector<std::uint32_t>& order) {
    const point_cloud cloud{reference};
    const tree<Dims> index(static_cast<int>(reference.dims), cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16));
    const double u = DBL_EPSILON / 2;
    const double h = static_cast<double>(depth_of<tree<Dims>>(index.root_node));
    const double inflation = 1.0 + 2.0 * (3.0 * h + static_cast<double>(reference.dims) + 8.0) * u;
    const std::size_t m = lists.per_point;
    parallel_chunks(queries.count, 256, threads, [&](std::size_t first, std::size_t last) {
        for (std::size_t at = first; at < last; ++at) {
            const std::size_t q = order.empty() ? at : order[at];
            // Empty entries sort last (see unfilled_lists), so the list counts as full throughout.
            nearest_so_far list(&lists.index[q * m], &lists.distance[q * m], m, m);
            offset_result result(list, first_query + q, first_reference, inflation);
            index.findNeighbors(result, &queries.values[q * queries.dims], nanoflann::SearchParams());
        }
    });
}

}  // namespace

std::vector<std::uint32_t> tree_order(const points& p) {
    const point_cloud cloud{p};
    const tree<-1> index(static_cast<int>(p.dims), cloud, nanoflann::KDTreeSingleIndexAdaptorParams(64));
    return index.vAcc;
}

void kd_tree_search(const points& p, neighbour_lists& out, unsigned threads, const std::vector<std::uint32_t>& queries) {
    switch (p.dims) {
    case 2: return search<2>(p, out, threads, queries);
    case 3: return search<3>(p, out, threads, queries);
    default: return search<-1>(p, out, threads, queries);
    }
}

}  // namespace rotalign::detail

namespace rotalign {

std::vector<std::uint32_t> search_order(const points& p) {
    if (p.count == 0) return {};
    return detail::tree_order(p);
}

neighbour_lists unfilled_lists(std::size_t count, std::size_t per_point) {
    neighbour_lists l;
    l.count = count;
    l.per_point = per_point;
    l.index.assign(count * per_point, no_neighbour);
    l.distance.assign(count * per_point, std::numeric_limits<double>::infinity());
    return l;
}

void offer_block(const points& reference, std::size_t first_reference, const points& queries, std::size_t first_query,
                 neighbour_lists& lists, unsigned threads, const std::vector<std::uint32_t>& order) {
    if (reference.dims != queries.dims) throw input_error("reference points and queries differ in their coordinates");
    if (lists.count != queries.count) throw input_error("one list per query is needed");
    if (first_reference + reference.count > no_neighbour || first_query + queries.count > no_neighbour)
        throw input_error("point indices beyond 2^32 - 2");
    if (!order.empty() && order.size() != queries.count) throw input_error("an order must name every query once");
    if (reference.count == 0 || queries.count == 0 || lists.per_point == 0) return;
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    switch (reference.dims) {
    case 2: return detail::offer<2>(reference, first_reference, queries, first_query, lists, threads, order);
    case 3: return detail::offer<3>(reference, first_reference, queries, first_query, lists, threads, order);
    default: return detail::offer<-1>(reference, first_reference, queries, first_query, lists, threads, order);
    }
}

}  // namespace rotalign
