// What the neighbour backends share: the distance of the dense route, the ordered list of the
// nearest points found so far, the exact scan, and a loop over points split among threads.
#pragma once

#include "rotalign/neighbours/neighbours.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace rotalign::detail {

// The squared distance exactly as squared_distances computes it: the coordinates in order, one
// rounding per difference, square and sum. (a - b)^2 and (b - a)^2 are the same double, so the
// order of the two points does not matter.
inline double squared_distance(const double* a, const double* b, std::size_t dims) {
    double sum = 0.0;
    for (std::size_t k = 0; k < dims; ++k) {
        const double diff = a[k] - b[k];
        sum += diff * diff;
    }
    return sum;
}

// The order of neighbours: nearer first, and at equal distance the smaller index first.
inline bool before(double d, std::uint32_t i, double e, std::uint32_t j) {
    return d < e || (d == e && i < j);
}

// The `capacity` first pairs (distance, index) offered so far, in the order above, kept in the
// caller's two arrays of `capacity` entries.
class nearest_so_far {
public:
    // `filled`: the first entries of the arrays already hold pairs in the order above (a list
    // built up over several searches).
    nearest_so_far(std::uint32_t* index, double* distance, std::size_t capacity, std::size_t filled = 0)
        : index_(index), distance_(distance), capacity_(capacity), size_(filled) {}

    bool full() const { return size_ == capacity_; }
    std::size_t size() const { return size_; }
    // The distance of the last pair kept; meaningful when full.
    double last() const { return distance_[capacity_ - 1]; }

    // Whether the pair was kept.
    bool offer(double d, std::uint32_t i) {
        std::size_t at;
        if (size_ == capacity_) {
            if (!before(d, i, distance_[at = capacity_ - 1], index_[capacity_ - 1])) return false;
        } else {
            at = size_++;
        }
        for (; at > 0 && before(d, i, distance_[at - 1], index_[at - 1]); --at) {
            distance_[at] = distance_[at - 1];
            index_[at] = index_[at - 1];
        }
        distance_[at] = d;
        index_[at] = i;
        return true;
    }

private:
    std::uint32_t* index_;
    double* distance_;
    std::size_t capacity_;
    std::size_t size_ = 0;
};

// Point i's list from every other point, distance by distance: the reference that every
// backend must equal, and the last resort of the brute-force ones.
void scan_all(const points& p, std::uint32_t i, nearest_so_far& list);

// The caller's interrupt check (neighbour_options::interrupt_check) for the searches that run on
// this thread while the scope lives. parallel_chunks calls it on the calling thread only, between
// its chunks: a caller's check may rely on running in the caller's thread, as Python's signal
// handling does.
class interrupt_scope {
public:
    explicit interrupt_scope(const std::function<void()>& check);
    ~interrupt_scope();
    interrupt_scope(const interrupt_scope&) = delete;
    interrupt_scope& operator=(const interrupt_scope&) = delete;
    // Calls the check of the innermost scope of this thread, if any.
    static void poll();

private:
    const std::function<void()>* outer_;
};

// Runs body(first, last) over [0, count) in chunks of `chunk`, on `threads` threads (the
// calling one included). Chunks are handed out in turn, so the split varies from run to run;
// callers write only to the entries of their own range. An exception, the interrupt check's
// included, stops the handing out and reaches the caller once every thread has finished.
void parallel_chunks(std::size_t count, std::size_t chunk, unsigned threads,
                     const std::function<void(std::size_t, std::size_t)>& body);


// ---- Brute force: a cheap distance proposes candidates, the exact distance decides ----------
//
// A proposal search works on the points moved to their mean and scaled by a power of two, so
// that no coordinate exceeds 1 in magnitude, rounded to its precision T: c_i = fl_T((x_i -
// mean) 2^e). Its distance D~ of points i and j (any of ||c_i||^2 + ||c_j||^2 - 2 c_i.c_j or
// ||c_i - c_j||^2, summed in any order, with or without fused operations, negative results
// raised to 0) differs from 2^(2e) times the exact squared distance D* by at most
//     kappa (n_i + n_j) + alpha,   n_i = ||c_i||^2,
// with kappa = 2 ((3d + 8) u_T + 5 (u + u_T)) and alpha = (d + 4) times T's smallest normal
// number: 4.1 (u + u_T)(n_i + n_j) covers rounding the coordinates, (2 gamma_(d+2) + 3 u_T)
// (n_i + n_j) the arithmetic, alpha underflow, and the factor 2 the norms' own rounding.
template <class T>
struct proposal_points {
    std::size_t count = 0, dims = 0;
    std::vector<T> values;      // c, point by point
    std::vector<double> norms;  // n_i
    double largest_norm = 0.0;
    int exponent = 0;           // e
    double kappa = 0.0, alpha = 0.0;
};
template <class T>
proposal_points<T> prepare_proposal(const points& p);

// For each of `queries`, `k` candidates and their proposed distances D~, written to ids and
// distances at [q * k, q * k + k) for the q-th query. Every point left out must lie no nearer
// than the largest distance returned, tau: either its own D~ is at least tau, or ||c_i - c_j||^2
// is provably above tau (which the bound above turns into the same guarantee).
using proposal = std::function<void(const std::vector<std::uint32_t>& queries, std::size_t k, std::uint32_t* ids,
                                    double* distances)>;

// Point i's list from its candidates: exact distances decide the order, and the list stands
// once every point left out is provably farther than its last entry:
//     D_j >= (1 - (d + 3)u) D* - d * 2^-1074 >= (1 - (d + 3)u) 2^(-2e) (tau - kappa (n_i + n_max)
//            - alpha) - d * 2^-1074  >  D_(per_point),
// tau the largest proposed distance, n_max the largest norm (n_j for an unseen j is unknown).
// The first round takes per_point + per_point / 2 + 2 candidates, the point itself among them.
// Returns the points that failed it; with `until_all` they go round again with four times the
// candidates, and once that reaches every point, to an exact scan, so that none is returned.
template <class T>
std::vector<std::uint32_t> certified_search(const points& p, neighbour_lists& out, unsigned threads,
                                            std::vector<std::uint32_t> queries, const proposal_points<T>& space,
                                            const proposal& propose, bool until_all);

// Settles `queries` with double-precision BLAS proposals: the last resort of a single-precision
// search whose margins were too thin (points far from their mean compared with their spacing).
void settle_in_double(const points& p, neighbour_lists& out, unsigned threads, const std::vector<std::uint32_t>& queries);

// The share of the exact neighbours that approximate lists hold, on a seeded sample of
// `sample_size` points (all points when there are no more).
double measure_recall(const points& p, const neighbour_lists& approximate, std::size_t sample_size,
                      std::uint64_t seed, unsigned threads);

// Points that share their coordinates, gathered by location.
struct duplicate_groups {
    points distinct;                      // one point per location, in the order of their first points
    std::vector<std::uint32_t> location;  // the location of each point
    std::vector<std::uint32_t> start;     // location l holds member[start[l] .. start[l + 1]), ascending
    std::vector<std::uint32_t> member;
};
// The locations of the points; nullopt when no two points share their coordinates.
std::optional<duplicate_groups> find_duplicates(const points& p);

// The lists of the points `queries` (every point when empty) from the lists of their locations
// (of min(out.per_point, locations - 1) entries; none when there is one location), exactly as a
// search over the points themselves gives them.
void expand_lists(const duplicate_groups& g, const neighbour_lists& by_location, neighbour_lists& out,
                  unsigned threads, const std::vector<std::uint32_t>& queries = {});

// Lists of `per_point` entries for every point, unfilled.
neighbour_lists empty_lists(std::size_t count, std::size_t per_point);

// The backends. Each fills every list completely (the caller has checked 1 <= per_point <
// count and the coordinates). `queries`, when not empty, restricts the search to those points
// (the lists of the others stay unfilled).
void kd_tree_search(const points& p, neighbour_lists& out, unsigned threads,
                    const std::vector<std::uint32_t>& queries = {});
// The points in the order of a k-d tree's leaves, where points close in the order lie close in
// space.
std::vector<std::uint32_t> tree_order(const points& p);
std::size_t blas_search(const points& p, neighbour_lists& out, unsigned threads,
                        const std::vector<std::uint32_t>& queries = {});
std::size_t faiss_search(const points& p, neighbour_lists& out, unsigned threads);
void hnsw_search(const points& p, neighbour_lists& out, unsigned threads, const neighbour_options& options);

}  // namespace rotalign::detail
