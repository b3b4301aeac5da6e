// Exact nearest neighbours by brute force: a blocked BLAS product proposes candidates in the
// precision of the proposal, the distance of the dense route decides among them, and a margin
// test (neighbour_parts.h) proves that nothing outside the candidates belongs in a list.
#include "neighbour_parts.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include <dlfcn.h>

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

template <class T>
proposal_points<T> prepare_proposal(const points& p) {
    proposal_points<T> out;
    const std::size_t n = p.count, d = p.dims;
    out.count = n;
    out.dims = d;
    std::vector<double> mean(d, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < d; ++k) mean[k] += p.values[i * d + k];
    for (double& m : mean) m /= static_cast<double>(n);
    double largest = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < d; ++k) largest = std::max(largest, std::fabs(p.values[i * d + k] - mean[k]));
    // largest = f 2^e with f in [0.5, 1): scaling by 2^-e brings every coordinate within 1.
    int e = 0;
    if (largest > 0.0) std::frexp(largest, &e);
    out.exponent = -e;
    out.values.resize(n * d);
    out.norms.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        double norm = 0.0;
        for (std::size_t k = 0; k < d; ++k) {
            const T c = static_cast<T>(std::ldexp(p.values[i * d + k] - mean[k], out.exponent));
            out.values[i * d + k] = c;
            norm += static_cast<double>(c) * static_cast<double>(c);
        }
        out.norms[i] = norm;
        out.largest_norm = std::max(out.largest_norm, norm);
    }
    const double u = DBL_EPSILON / 2, ut = std::numeric_limits<T>::epsilon() / 2;
    out.kappa = 2.0 * ((3.0 * static_cast<double>(d) + 8.0) * ut + 5.0 * (u + ut));
    out.alpha = (static_cast<double>(d) + 4.0) * static_cast<double>(std::numeric_limits<T>::min());
    return out;
}

template proposal_points<double> prepare_proposal<double>(const points&);
template proposal_points<float> prepare_proposal<float>(const points&);

template <class T>
std::vector<std::uint32_t> certified_search(const points& p, neighbour_lists& out, unsigned threads,
                                            std::vector<std::uint32_t> pending, const proposal_points<T>& space,
                                            const proposal& propose, bool until_all) {
    const std::size_t n = p.count, d = p.dims, m = out.per_point;
    if (pending.empty())
        for (std::size_t i = 0; i < n; ++i) pending.push_back(static_cast<std::uint32_t>(i));
    const double u = DBL_EPSILON / 2;
    const double shrink = (1.0 - (static_cast<double>(d) + 3.0) * u) * (1.0 - 8.0 * u);
    const double underflow = static_cast<double>(d) * std::numeric_limits<double>::denorm_min();

    // Half as many again: in 50 dimensions the margin between the 14th and the 21st distance
    // passes the test for all but a few points (bench_app_neighbours).
    for (std::size_t k = std::min(n, m + m / 2 + 2); !pending.empty(); k = std::min(n, 4 * k)) {
        const std::size_t q = pending.size();
        std::vector<char> failed(q, 0);
        if (k >= n) {
            parallel_chunks(q, 64, threads, [&](std::size_t a, std::size_t b) {
                for (std::size_t t = a; t < b; ++t) {
                    const std::uint32_t i = pending[t];
                    nearest_so_far list(&out.index[i * m], &out.distance[i * m], m);
                    scan_all(p, i, list);
                }
            });
        } else {
            std::vector<std::uint32_t> ids(q * k);
            std::vector<double> proposed(q * k);
            propose(pending, k, ids.data(), proposed.data());
            parallel_chunks(q, 256, threads, [&](std::size_t a, std::size_t b) {
                for (std::size_t t = a; t < b; ++t) {
                    const std::uint32_t i = pending[t];
                    const double* x = &p.values[std::size_t{i} * d];
                    nearest_so_far list(&out.index[i * m], &out.distance[i * m], m);
                    double tau = -std::numeric_limits<double>::infinity();
                    for (std::size_t r = 0; r < k; ++r) {
                        tau = std::max(tau, proposed[t * k + r]);
                        const std::uint32_t j = ids[t * k + r];
                        if (j != i) list.offer(squared_distance(x, &p.values[std::size_t{j} * d], d), j);
                    }
                    const double scaled = tau - space.kappa * (space.norms[i] + space.largest_norm) - space.alpha;
                    const double lower = std::ldexp(scaled, -2 * space.exponent) * shrink - underflow;
                    failed[t] = !(list.full() && lower > list.last());
                }
            });
        }
        std::vector<std::uint32_t> again;
        for (std::size_t t = 0; t < q; ++t)
            if (failed[t]) again.push_back(pending[t]);
        if (!until_all) return again;
        pending.swap(again);
    }
    return {};
}

template std::vector<std::uint32_t> certified_search<double>(const points&, neighbour_lists&, unsigned,
                                                             std::vector<std::uint32_t>, const proposal_points<double>&,
                                                             const proposal&, bool);
template std::vector<std::uint32_t> certified_search<float>(const points&, neighbour_lists&, unsigned,
                                                            std::vector<std::uint32_t>, const proposal_points<float>&,
                                                            const proposal&, bool);

namespace {

void gemm(const int m, const int n, const int k, const double* a, const double* b, double* c) {
    const double one = 1.0, zero = 0.0;
    dgemm_("T", "N", &m, &n, &k, &one, a, &k, b, &k, &zero, c, &m, 1, 1);
}
void gemm(const int m, const int n, const int k, const float* a, const float* b, float* c) {
    const float one = 1.0f, zero = 0.0f;
    sgemm_("T", "N", &m, &n, &k, &one, a, &k, b, &k, &zero, c, &m, 1, 1);
}

// OpenBLAS runs one thread per call while our own threads share the work, and gets its setting
// back afterwards. Other BLAS libraries have no such setting and run single-threaded products.
class one_blas_thread {
public:
    one_blas_thread() {
        get_ = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "openblas_get_num_threads"));
        set_ = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "openblas_set_num_threads"));
        if (get_ != nullptr && set_ != nullptr) {
            saved_ = get_();
            if (saved_ != 1) set_(1);
        }
    }
    ~one_blas_thread() {
        if (set_ != nullptr && saved_ > 1) set_(saved_);
    }
    one_blas_thread(const one_blas_thread&) = delete;
    one_blas_thread& operator=(const one_blas_thread&) = delete;

private:
    int (*get_)() = nullptr;
    void (*set_)(int) = nullptr;
    int saved_ = 0;
};

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

// The k nearest by the proposal's distance: the product of the points, extended by their
// norms, gives ||c_i||^2 + ||c_j||^2 - 2 c_i.c_j in one call per block:
//     (-2 c_i, 1, n_i) . (c_j, n_j, 1).
template <class T>
void gemm_proposal(const proposal_points<T>& space, unsigned threads, const std::vector<std::uint32_t>& queries,
                   std::size_t k, std::uint32_t* ids, double* distances) {
    const std::size_t n = space.count, d = space.dims, w = d + 2;
    // Blocks of 256 queries by 2048 points: the product block stays within the cache that one
    // core has to itself (bench_app_neighbours compared 128 to 1024 by 1024 to 8192).
    const std::size_t query_block = 256, point_block = 2048;
    std::vector<T> base(n * w);
    for (std::size_t j = 0; j < n; ++j) {
        std::copy(&space.values[j * d], &space.values[j * d] + d, &base[j * w]);
        base[j * w + d] = static_cast<T>(space.norms[j]);
        base[j * w + d + 1] = 1;
    }
    one_blas_thread blas_threads;
    parallel_chunks(queries.size(), query_block, threads, [&](std::size_t first, std::size_t last) {
        const std::size_t q = last - first;
        std::vector<T> asked(q * w), block(std::min(point_block, n) * q);
        std::vector<smallest<T>> best(q);
        for (std::size_t t = 0; t < q; ++t) {
            const std::size_t i = queries[first + t];
            for (std::size_t c = 0; c < d; ++c) asked[t * w + c] = -2 * space.values[i * d + c];
            asked[t * w + d] = 1;
            asked[t * w + d + 1] = static_cast<T>(space.norms[i]);
            best[t].k = k;
            best[t].heap.reserve(k);
        }
        for (std::size_t j0 = 0; j0 < n; j0 += point_block) {
            const std::size_t count = std::min(point_block, n - j0);
            gemm(static_cast<int>(count), static_cast<int>(q), static_cast<int>(w), &base[j0 * w], asked.data(),
                 block.data());
            for (std::size_t t = 0; t < q; ++t) {
                const T* column = &block[t * count];
                smallest<T>& s = best[t];
                // Most blocks hold nothing below the bound: test eight values at a time, branch-free.
                std::size_t j = 0;
                for (; j + 8 <= count; j += 8) {
                    const T b = s.bound;
                    bool any = false;
                    for (std::size_t r = 0; r < 8; ++r) any |= column[j + r] < b;
                    if (!any) continue;
                    for (std::size_t r = 0; r < 8; ++r)
                        if (column[j + r] < s.bound || s.heap.size() < k)
                            s.offer(column[j + r], static_cast<std::uint32_t>(j0 + j + r));
                }
                for (; j < count; ++j)
                    if (column[j] < s.bound || s.heap.size() < k) s.offer(column[j], static_cast<std::uint32_t>(j0 + j));
            }
        }
        for (std::size_t t = 0; t < q; ++t)
            for (std::size_t r = 0; r < k; ++r) {
                ids[(first + t) * k + r] = best[t].heap[r].second;
                distances[(first + t) * k + r] = static_cast<double>(best[t].heap[r].first);
            }
    });
}

template <class T>
std::vector<std::uint32_t> gemm_search(const points& p, neighbour_lists& out, unsigned threads,
                                       const std::vector<std::uint32_t>& queries, bool until_all) {
    const proposal_points<T> space = prepare_proposal<T>(p);
    return certified_search<T>(
        p, out, threads, queries, space,
        [&](const std::vector<std::uint32_t>& asked, std::size_t k, std::uint32_t* ids, double* distances) {
            gemm_proposal(space, threads, asked, k, ids, distances);
        },
        until_all);
}

}  // namespace

void settle_in_double(const points& p, neighbour_lists& out, unsigned threads, const std::vector<std::uint32_t>& queries) {
    if (!queries.empty()) gemm_search<double>(p, out, threads, queries, true);
}

// Single precision proposes: its products take two thirds of the time of double precision's
// (bench_app_neighbours, 50 dimensions), and its margins suffice for points whose spacing is not
// tiny beside their spread.
std::size_t blas_search(const points& p, neighbour_lists& out, unsigned threads, const std::vector<std::uint32_t>& queries) {
    const std::vector<std::uint32_t> failed = gemm_search<float>(p, out, threads, queries, false);
    settle_in_double(p, out, threads, failed);
    return failed.size();
}

}  // namespace rotalign::detail
