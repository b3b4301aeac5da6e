// Exact nearest neighbours by brute force: a blocked BLAS product proposes candidates in the
// precision of the proposal, the distance of the dense route decides among them, and a margin
// test (neighbour_parts.h) proves that nothing outside the candidates belongs in a list.
#include "neighbours/neighbour_parts.h"

#include "rotalign/support/blas_threads.h"

#include <algorithm>
#include <cmath>
#include <limits>

extern "C" {
// Fortran BLAS; the trailing arguments are the hidden lengths of the characters.
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k, const double* alpha,
            const double* a, const int* lda, const double* b, const int* ldb, const double* beta, double* c,
            const int* ldc, std::size_t transa_len, std::size_t transb_len);
void sgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k, const float* alpha,
            const float* a, const int* lda, const float* b, const int* ldb, const float* beta, float* c,
            const int* ldc, std::size_t transa_len, std::size_t transb_len);
}

namespace rotalign::detail {

namespace {

void gemm(const int m, const int n, const int k, const double* a, const double* b, double* c) {
    const double one = 1.0, zero = 0.0;
    dgemm_("T", "N", &m, &n, &k, &one, a, &k, b, &k, &zero, c, &m, 1, 1);
}
void gemm(const int m, const int n, const int k, const float* a, const float* b, float* c) {
    const float one = 1.0f, zero = 0.0f;
    sgemm_("T", "N", &m, &n, &k, &one, a, &k, b, &k, &zero, c, &m, 1, 1);
}

// The k smallest proposed distances of one query so far, unordered beyond the largest kept
// at the front (a max-heap).
template <class T>
struct smallest {
    std::vector<std::pair<T, std::uint32_t>> heap;
    std::size_t k;
    T bound = std::numeric_limits<T>::infinity();

    void offer(T v, std::uint32_t j) {
        if (heap.size() < k) {
            heap.emplace_back(v, j);
            std::push_heap(heap.begin(), heap.end());
            if (heap.size() == k) bound = heap.front().first;
        } else if (v < bound) {
            std::pop_heap(heap.begin(), heap.end());
            heap.back() = {v, j};
            std::push_heap(heap.begin(), heap.end());
            bound = heap.front().first;
        }
    }
};

// A ball in the proposal's coordinates that holds a set of points.
struct ball {
    std::vector<double> centre;
    double radius = 0.0;
};

// The ball about the mean of `count` rows (their first d values) that holds them all.
template <class T>
ball ball_around(const T* const* rows, std::size_t count, std::size_t d) {
    ball b;
    b.centre.assign(d, 0.0);
    for (std::size_t r = 0; r < count; ++r)
        for (std::size_t k = 0; k < d; ++k) b.centre[k] += static_cast<double>(rows[r][k]);
    for (double& c : b.centre) c /= static_cast<double>(count);
    double widest = 0.0;
    for (std::size_t r = 0; r < count; ++r) {
        double sum = 0.0;
        for (std::size_t k = 0; k < d; ++k) {
            const double diff = static_cast<double>(rows[r][k]) - b.centre[k];
            sum += diff * diff;
        }
        widest = std::max(widest, sum);
    }
    b.radius = std::sqrt(widest);
    return b;
}

// A lower bound on ||c_i - c_j||^2 for any point i in ball a and j in ball b: the distance of
// the centres less both radii, squared. Every quantity here is computed with relative error
// below (d + 3)u; the factors 1 -+ 1e-9 cover that for any dimension up to 10^6.
double apart(const ball& a, const ball& b) {
    double sum = 0.0;
    for (std::size_t k = 0; k < a.centre.size(); ++k) {
        const double diff = a.centre[k] - b.centre[k];
        sum += diff * diff;
    }
    const double gap = std::sqrt(sum) * (1.0 - 1e-9) - (a.radius + b.radius) * (1.0 + 1e-9);
    return gap > 0.0 ? gap * gap * (1.0 - 1e-9) : 0.0;
}

// The points as the product needs them, each as (c_j, n_j, 1), by position in the order of a
// k-d tree's leaves, and cut into cells of 64 positions, each with a ball around its points.
// 64 is the tree's leaf size: a cell rarely mixes points from far apart, so that its ball stays
// tight (cells of 1,024 mixed clusters often enough on 50-dimensional blobs that hardly any
// could be skipped).
template <class T>
struct point_cells {
    static constexpr std::size_t size = 64;
    std::size_t count = 0, width = 0;
    std::vector<std::uint32_t> order;     // the point at each position
    std::vector<std::uint32_t> position;  // the position of each point
    std::vector<T> rows;
    std::vector<ball> balls;

    std::size_t cells() const { return (count + size - 1) / size; }
    const T* row(std::size_t r) const { return &rows[r * width]; }

    point_cells(const points& p, const proposal_points<T>& space)
        : count(space.count), width(space.dims + 2), order(tree_order(p)), position(count), rows(count * width) {
        const std::size_t d = space.dims;
        for (std::size_t r = 0; r < count; ++r) {
            const std::size_t j = order[r];
            position[j] = static_cast<std::uint32_t>(r);
            std::copy_n(&space.values[j * d], d, &rows[r * width]);
            rows[r * width + d] = static_cast<T>(space.norms[j]);
            rows[r * width + d + 1] = 1;
        }
        std::vector<const T*> members;
        for (std::size_t c = 0; c < cells(); ++c) {
            members.clear();
            for (std::size_t r = c * size; r < std::min(count, c * size + size); ++r) members.push_back(row(r));
            balls.push_back(ball_around(members.data(), members.size(), d));
        }
    }
};

// The k nearest by the proposal's distance, for groups of up to 256 queries that lie close in
// the cells' order. The product of the points, extended by their norms, gives
// ||c_i||^2 + ||c_j||^2 - 2 c_i.c_j in one call per group and batch of cells:
//     (-2 c_i, 1, n_i) . (c_j, n_j, 1).
// Cells are taken nearest first, by the lower bound between the group's ball and theirs, and
// the rest are skipped once that bound exceeds the largest k-th proposed distance of the group:
// their points are then farther than that distance, by the proposal's own error bound, which is
// all the margin test assumes of a point left out.
template <class T>
void gemm_proposal(const proposal_points<T>& space, const point_cells<T>& cells, unsigned threads,
                   const std::vector<std::uint32_t>& queries, std::size_t k, std::uint32_t* ids, double* distances) {
    const std::size_t d = space.dims, w = cells.width, group_size = 256, batch_size = 1024;
    std::vector<std::uint32_t> slots(queries.size());
    for (std::size_t t = 0; t < slots.size(); ++t) slots[t] = static_cast<std::uint32_t>(t);
    std::sort(slots.begin(), slots.end(), [&](std::uint32_t a, std::uint32_t b) {
        return cells.position[queries[a]] < cells.position[queries[b]];
    });

    single_blas_thread blas_threads;
    parallel_chunks(slots.size(), group_size, threads, [&](std::size_t first, std::size_t last) {
        const std::size_t q = last - first;
        std::vector<T> asked(q * w), batch(batch_size * w), product(batch_size * q);
        std::vector<std::uint32_t> batch_ids(batch_size);
        std::vector<smallest<T>> best(q);
        std::vector<const T*> members(q);
        for (std::size_t t = 0; t < q; ++t) {
            const std::size_t i = queries[slots[first + t]];
            members[t] = cells.row(cells.position[i]);
            for (std::size_t c = 0; c < d; ++c) asked[t * w + c] = -2 * space.values[i * d + c];
            asked[t * w + d] = 1;
            asked[t * w + d + 1] = static_cast<T>(space.norms[i]);
            best[t].k = k;
            best[t].heap.reserve(k);
        }
        const ball group = ball_around(members.data(), q, d);
        std::vector<std::pair<double, std::size_t>> near(cells.cells());
        for (std::size_t c = 0; c < near.size(); ++c) near[c] = {apart(group, cells.balls[c]), c};
        std::sort(near.begin(), near.end());

        double widest = std::numeric_limits<double>::infinity();
        for (std::size_t next = 0; next < near.size() && near[next].first <= widest;) {
            // A batch of cells, copied together for one product.
            std::size_t rows = 0;
            for (; next < near.size() && near[next].first <= widest; ++next) {
                const std::size_t c = near[next].second, from = c * cells.size;
                const std::size_t count = std::min(cells.size, cells.count - from);
                if (rows + count > batch_size) break;
                std::copy_n(cells.row(from), count * w, &batch[rows * w]);
                std::copy_n(&cells.order[from], count, &batch_ids[rows]);
                rows += count;
            }
            gemm(static_cast<int>(rows), static_cast<int>(q), static_cast<int>(w), batch.data(), asked.data(),
                 product.data());
            widest = 0.0;
            for (std::size_t t = 0; t < q; ++t) {
                const T* column = &product[t * rows];
                smallest<T>& s = best[t];
                // Most values are above the bound: test eight at a time, branch-free.
                std::size_t j = 0;
                for (; j + 8 <= rows; j += 8) {
                    const T limit = s.bound;
                    bool any = false;
                    for (std::size_t r = 0; r < 8; ++r) any |= column[j + r] < limit;
                    if (!any) continue;
                    for (std::size_t r = 0; r < 8; ++r)
                        if (column[j + r] < s.bound) s.offer(column[j + r], batch_ids[j + r]);
                }
                for (; j < rows; ++j)
                    if (column[j] < s.bound) s.offer(column[j], batch_ids[j]);
                widest = std::max(widest, static_cast<double>(s.bound));
            }
        }
        for (std::size_t t = 0; t < q; ++t) {
            const std::size_t slot = slots[first + t];
            for (std::size_t r = 0; r < k; ++r) {
                ids[slot * k + r] = best[t].heap[r].second;
                distances[slot * k + r] = static_cast<double>(best[t].heap[r].first);
            }
        }
    });
}

template <class T>
std::vector<std::uint32_t> gemm_search(const points& p, neighbour_lists& out, unsigned threads,
                                       const std::vector<std::uint32_t>& queries, bool until_all) {
    const proposal_points<T> space = prepare_proposal<T>(p);
    const point_cells<T> cells(p, space);
    return certified_search<T>(
        p, out, threads, queries, space,
        [&](const std::vector<std::uint32_t>& asked, std::size_t k, std::uint32_t* ids, double* distances) {
            gemm_proposal(space, cells, threads, asked, k, ids, distances);
        },
        until_all);
}

}  // namespace

void settle_in_double(const points& p, neighbour_lists& out, unsigned threads, const std::vector<std::uint32_t>& queries) {
    if (!queries.empty()) gemm_search<double>(p, out, threads, queries, true);
}

// Single precision proposes: its products take two thirds of the CPU time of double precision's
// (1.0 s against 1.5 s for 20,000 points in 50 dimensions), and its margins suffice wherever the
// points' spacing is not tiny beside their spread.
std::size_t blas_search(const points& p, neighbour_lists& out, unsigned threads, const std::vector<std::uint32_t>& queries) {
    const std::vector<std::uint32_t> failed = gemm_search<float>(p, out, threads, queries, false);
    settle_in_double(p, out, threads, failed);
    return failed.size();
}

}  // namespace rotalign::detail
