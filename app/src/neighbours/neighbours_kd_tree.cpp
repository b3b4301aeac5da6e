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

// The indices among all points of a block's points: consecutive from `first`, or listed.
struct block_indices {
    std::uint64_t first = 0;
    const std::uint32_t* listed = nullptr;

    std::uint64_t operator()(std::size_t i) const { return listed != nullptr ? listed[i] : first + i; }
};

// The pairs of a list offered with the indices of the reference block among all points: the
// tree numbers its own points from 0.
class block_result {
public:
    block_result(nearest_so_far& list, std::uint64_t self, block_indices reference, double inflation)
        : list_(list), self_(self), reference_(reference), inflation_(inflation) {}

    double worstDist() const {
        if (!list_.full()) return std::numeric_limits<double>::infinity();
        return std::nextafter(list_.last() * inflation_, std::numeric_limits<double>::infinity());
    }
    bool addPoint(double distance, std::uint32_t i) {
        const std::uint64_t index = reference_(i);
        if (index != self_) list_.offer(distance, static_cast<std::uint32_t>(index));
        return true;
    }
    bool full() const { return list_.full(); }

private:
    nearest_so_far& list_;
    std::uint64_t self_;
    block_indices reference_;
    double inflation_;
};

// Whether every point of the tree lies farther from `q` than `bound`. The nearest point of the
// tree's bounding box, q with each coordinate clamped into it, differs from q by no more than any
// point inside does in every coordinate, and its squared distance is summed in the same order, so
// by monotone rounding it is no larger than any inside point's: a box beyond `bound` holds no pair
// that a list ending at `bound` could keep, ties included.
template <class Tree>
bool box_beyond(const Tree& index, const double* q, double bound, std::vector<double>& nearest) {
    for (std::size_t k = 0; k < nearest.size(); ++k)
        nearest[k] = std::clamp(q[k], index.root_bbox[k].low, index.root_bbox[k].high);
    return squared_distance(q, nearest.data(), nearest.size()) > bound;
}

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
void offer(const points& reference, block_indices reference_index, const points& queries, block_indices query_index,
           neighbour_lists& lists, unsigned threads, const std::vector<std::uint32_t>& order) {
    const point_cloud cloud{reference};
    const tree<Dims> index(static_cast<int>(reference.dims), cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16));
    const double u = DBL_EPSILON / 2;
    const double h = static_cast<double>(depth_of<tree<Dims>>(index.root_node));
    const double inflation = 1.0 + 2.0 * (3.0 * h + static_cast<double>(reference.dims) + 8.0) * u;
    const std::size_t m = lists.per_point;
    parallel_chunks(queries.count, 256, threads, [&](std::size_t first, std::size_t last) {
        std::vector<double> nearest(reference.dims);
        for (std::size_t at = first; at < last; ++at) {
            const std::size_t q = order.empty() ? at : order[at];
            const double* point = &queries.values[q * queries.dims];
            // Empty entries sort last (see unfilled_lists), so the list counts as full throughout;
            // while one is empty its last distance is +infinity and no box lies beyond it.
            nearest_so_far list(&lists.index[q * m], &lists.distance[q * m], m, m);
            if (box_beyond(index, point, list.last(), nearest)) continue;
            block_result result(list, query_index(q), reference_index, inflation);
            index.findNeighbors(result, point, nanoflann::SearchParams());
        }
    });
}

void offer_any(const points& reference, block_indices reference_index, const points& queries,
               block_indices query_index, neighbour_lists& lists, unsigned threads,
               const std::vector<std::uint32_t>& order) {
    if (reference.dims != queries.dims) throw input_error("reference points and queries differ in their coordinates");
    if (lists.count != queries.count) throw input_error("one list per query is needed");
    if (!order.empty() && order.size() != queries.count) throw input_error("an order must name every query once");
    if (reference.count == 0 || queries.count == 0 || lists.per_point == 0) return;
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    switch (reference.dims) {
    case 2: return offer<2>(reference, reference_index, queries, query_index, lists, threads, order);
    case 3: return offer<3>(reference, reference_index, queries, query_index, lists, threads, order);
    default: return offer<-1>(reference, reference_index, queries, query_index, lists, threads, order);
    }
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
    if (first_reference + reference.count > no_neighbour || first_query + queries.count > no_neighbour)
        throw input_error("point indices beyond 2^32 - 2");
    detail::offer_any(reference, {first_reference, nullptr}, queries, {first_query, nullptr}, lists, threads, order);
}

void offer_block(const points& reference, const std::vector<std::uint32_t>& reference_index, const points& queries,
                 const std::vector<std::uint32_t>& query_index, neighbour_lists& lists, unsigned threads,
                 const std::vector<std::uint32_t>& order) {
    if (reference_index.size() != reference.count || query_index.size() != queries.count)
        throw input_error("one index per point is needed");
    const auto beyond = [](std::uint32_t i) { return i >= no_neighbour; };
    if (std::any_of(reference_index.begin(), reference_index.end(), beyond) ||
        std::any_of(query_index.begin(), query_index.end(), beyond))
        throw input_error("point indices beyond 2^32 - 2");
    detail::offer_any(reference, {0, reference_index.data()}, queries, {0, query_index.data()}, lists, threads, order);
}

}  // namespace rotalign
