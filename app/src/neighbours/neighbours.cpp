// Nearest neighbours: the checks, the choice of backend, and the recall of the approximate one.
#include "neighbours/neighbour_parts.h"

#include "rotalign/support/options.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

namespace rotalign {
namespace detail {

void scan_all(const points& p, std::uint32_t i, nearest_so_far& list) {
    const double* a = &p.values[std::size_t{i} * p.dims];
    for (std::size_t j = 0; j < p.count; ++j) {
        if (j == i) continue;
        const double d = squared_distance(a, &p.values[j * p.dims], p.dims);
        if (!list.full() || d <= list.last()) list.offer(d, static_cast<std::uint32_t>(j));
    }
}

void parallel_chunks(std::size_t count, std::size_t chunk, unsigned threads,
                     const std::function<void(std::size_t, std::size_t)>& body) {
    std::atomic<std::size_t> next{0};
    std::mutex failure_lock;
    std::exception_ptr failure;
    auto work = [&] {
        try {
            for (;;) {
                const std::size_t first = next.fetch_add(chunk);
                if (first >= count) return;
                body(first, std::min(count, first + chunk));
            }
        } catch (...) {
            // Running out of memory, most likely: no more chunks, and the first failure goes to
            // the caller once every thread has stopped.
            next = count;
            const std::lock_guard<std::mutex> hold(failure_lock);
            if (!failure) failure = std::current_exception();
        }
    };
    const std::size_t chunks = (count + chunk - 1) / chunk;
    const unsigned helpers = static_cast<unsigned>(std::min<std::size_t>(threads, chunks)) - (chunks > 0 ? 1 : 0);
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    for (unsigned t = 0; t < helpers; ++t) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the ones running share the work
        }
    }
    work();
    for (std::thread& t : pool) t.join();
    if (failure) std::rethrow_exception(failure);
}

neighbour_lists empty_lists(std::size_t count, std::size_t per_point) {
    neighbour_lists lists;
    lists.count = count;
    lists.per_point = per_point;
    lists.index.resize(count * per_point);
    lists.distance.resize(count * per_point);
    return lists;
}

// Every exact neighbour that an approximate list holds, as a share of all exact neighbours, on
// a seeded sample of points. The exact lists of the sample come from the k-d tree or brute force.
double measure_recall(const points& p, const neighbour_lists& approximate, std::size_t sample_size,
                      std::uint64_t seed, unsigned threads) {
    const std::size_t n = p.count, m = approximate.per_point;
    std::vector<std::uint32_t> sample;
    if (sample_size >= n) {
        for (std::size_t i = 0; i < n; ++i) sample.push_back(static_cast<std::uint32_t>(i));
    } else {
        // Floyd's algorithm: distinct points, sorted afterwards so the sample is reproducible.
        std::uint64_t state = seed;
        auto next = [&state] {
            std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            return z ^ (z >> 31);
        };
        std::vector<bool> taken(n);
        for (std::size_t j = n - sample_size; j < n; ++j) {
            const std::size_t t = static_cast<std::size_t>(next() % (j + 1));
            const std::size_t pick = taken[t] ? j : t;
            taken[pick] = true;
            sample.push_back(static_cast<std::uint32_t>(pick));
        }
        std::sort(sample.begin(), sample.end());
    }
    neighbour_lists exact = empty_lists(n, m);
    if (p.dims <= kd_tree_dimension_limit)
        kd_tree_search(p, exact, threads, sample);
    else
        blas_search(p, exact, threads, sample);
    std::size_t found = 0;
    for (const std::uint32_t i : sample) {
        const std::uint32_t* truth = exact.neighbours_of(i);
        const std::uint32_t* got = approximate.neighbours_of(i);
        for (std::size_t r = 0; r < m; ++r)
            if (std::find(got, got + m, truth[r]) != got + m) ++found;
    }
    return static_cast<double>(found) / static_cast<double>(sample.size() * m);
}

}  // namespace detail

namespace {

unsigned thread_count(unsigned asked) {
    if (asked != 0) return asked;
    return std::max(1u, std::thread::hardware_concurrency());
}

// The checks that every backend relies on: finite coordinates, and spans small enough that no
// squared distance overflows (the sum over the coordinates of the squared span bounds every one).
void check_points(const points& p, std::size_t per_point) {
    if (p.count < 2 || per_point < 1 || per_point >= p.count)
        throw input_error("nearest neighbours: " + std::to_string(per_point) + " neighbours per point need at least " +
                          std::to_string(per_point + 1) + " points, and at least one neighbour; there are " +
                          std::to_string(p.count) + " points");
    if (p.dims == 0) throw input_error("nearest neighbours: the points have no coordinates");
    if (p.count > std::numeric_limits<std::uint32_t>::max())
        throw input_error("nearest neighbours: more than 4,294,967,295 points");
    double spread = 0.0;
    for (std::size_t k = 0; k < p.dims; ++k) {
        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        for (std::size_t i = 0; i < p.count; ++i) {
            const double v = p.values[i * p.dims + k];
            if (!std::isfinite(v))
                throw input_error("nearest neighbours: coordinate " + std::to_string(k + 1) + " of point " +
                                  std::to_string(i + 1) + " is not finite");
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        const double span = hi - lo;
        spread += span * span;
    }
    if (!(spread <= DBL_MAX / 4))
        throw input_error("nearest neighbours: the points spread so far that their squared distances overflow");
}

}  // namespace

std::string name_of(neighbour_backend backend) {
    return word_of(option_named("neighbour_search"), static_cast<std::size_t>(backend), option_vocabulary::library);
}

bool available(neighbour_backend backend) {
    switch (backend) {
#ifdef ROTALIGN_HAVE_FAISS
    case neighbour_backend::faiss: return true;
#else
    case neighbour_backend::faiss: return false;
#endif
#ifdef ROTALIGN_HAVE_HNSWLIB
    case neighbour_backend::hnsw: return true;
#else
    case neighbour_backend::hnsw: return false;
#endif
    default: return true;
    }
}

neighbour_backend choose_backend(std::size_t dims) {
    return dims <= kd_tree_dimension_limit ? neighbour_backend::kd_tree : neighbour_backend::blas;
}

neighbour_search nearest_neighbours(const points& p, std::size_t per_point, const neighbour_options& options) {
    check_points(p, per_point);
    neighbour_search result;
    result.backend = options.backend == neighbour_backend::automatic ? choose_backend(p.dims) : options.backend;
    if (!available(result.backend))
        throw input_error("nearest neighbours: this build has no " + name_of(result.backend) + " search");
    const unsigned threads = thread_count(options.threads);
    result.lists = detail::empty_lists(p.count, per_point);
    switch (result.backend) {
    case neighbour_backend::automatic:
    case neighbour_backend::kd_tree: detail::kd_tree_search(p, result.lists, threads); break;
    case neighbour_backend::blas: result.rechecked = detail::blas_search(p, result.lists, threads); break;
#ifdef ROTALIGN_HAVE_FAISS
    case neighbour_backend::faiss: result.rechecked = detail::faiss_search(p, result.lists, threads); break;
#endif
#ifdef ROTALIGN_HAVE_HNSWLIB
    case neighbour_backend::hnsw:
        detail::hnsw_search(p, result.lists, threads, options);
        result.exact = false;
        result.recall = detail::measure_recall(p, result.lists, options.recall_sample, options.seed, threads);
        break;
#endif
    default: break;  // not in this build: refused above
    }
    return result;
}

}  // namespace rotalign
