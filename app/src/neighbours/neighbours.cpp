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
#include <optional>
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

namespace {
thread_local const std::function<void()>* current_check = nullptr;
}

interrupt_scope::interrupt_scope(const std::function<void()>& check) : outer_(current_check) {
    current_check = check ? &check : nullptr;
}

interrupt_scope::~interrupt_scope() { current_check = outer_; }

void interrupt_scope::poll() {
    if (current_check != nullptr) (*current_check)();
}

void parallel_chunks(std::size_t count, std::size_t chunk, unsigned threads,
                     const std::function<void(std::size_t, std::size_t)>& body) {
    std::atomic<std::size_t> next{0};
    std::mutex failure_lock;
    std::exception_ptr failure;
    const std::function<void()>* const check = current_check;
    const std::thread::id caller = std::this_thread::get_id();
    auto work = [&] {
        try {
            for (;;) {
                if (check != nullptr && std::this_thread::get_id() == caller) (*check)();
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

namespace {

// The lists of `queries` (every point when empty) by the exact search that suits the dimension.
void exact_search(const points& p, neighbour_lists& out, unsigned threads, const std::vector<std::uint32_t>& queries) {
    if (p.dims <= kd_tree_dimension_limit)
        kd_tree_search(p, out, threads, queries);
    else
        blas_search(p, out, threads, queries);
}

}  // namespace

// The exact neighbours that an approximate list holds, as a share of all exact neighbours, on a
// seeded sample of points. A neighbour counts as found when the approximate list holds a point at
// its distance: among points at equal distance the choice is the tie-break's, not the search's,
// and many duplicates make such ties the rule.
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
    if (const std::optional<duplicate_groups> g = find_duplicates(p)) {
        std::vector<std::uint32_t> locations;
        for (const std::uint32_t i : sample) locations.push_back(g->location[i]);
        std::sort(locations.begin(), locations.end());
        locations.erase(std::unique(locations.begin(), locations.end()), locations.end());
        neighbour_lists by_location = empty_lists(g->distinct.count, std::min(m, g->distinct.count - 1));
        if (by_location.per_point > 0) exact_search(g->distinct, by_location, threads, locations);
        expand_lists(*g, by_location, exact, threads, sample);
    } else {
        exact_search(p, exact, threads, sample);
    }
    std::size_t found = 0;
    for (const std::uint32_t i : sample) {
        // Both lists ascend by distance: count the distances they share, with multiplicity.
        const double* truth = exact.distances_of(i);
        const double* got = approximate.distances_of(i);
        for (std::size_t a = 0, b = 0; a < m && b < m;) {
            if (truth[a] < got[b]) {
                ++a;
            } else if (got[b] < truth[a]) {
                ++b;
            } else {
                ++found;
                ++a;
                ++b;
            }
        }
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
    for (std::size_t i = 0; i < p.count * p.dims; ++i)
        if (!std::isfinite(p.values[i]))
            throw input_error("nearest neighbours: coordinate " + std::to_string(i % p.dims + 1) + " of point " +
                              std::to_string(i / p.dims + 1) + " is not finite");
    if (squared_distances_overflow(p))
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

namespace {

// The lists of every point of p by one backend; returns the points rechecked (see neighbour_search).
std::size_t search_with(neighbour_backend backend, const points& p, neighbour_lists& out, unsigned threads,
                        const neighbour_options& options) {
    switch (backend) {
    case neighbour_backend::automatic:
    case neighbour_backend::kd_tree: detail::kd_tree_search(p, out, threads); return 0;
    case neighbour_backend::blas: return detail::blas_search(p, out, threads);
#ifdef ROTALIGN_HAVE_FAISS
    case neighbour_backend::faiss: return detail::faiss_search(p, out, threads);
#endif
#ifdef ROTALIGN_HAVE_HNSWLIB
    case neighbour_backend::hnsw: detail::hnsw_search(p, out, threads, options); return 0;
#endif
    default: break;  // not in this build: refused before
    }
    static_cast<void>(options);
    return 0;
}

}  // namespace

neighbour_search nearest_neighbours(const points& p, std::size_t per_point, const neighbour_options& options) {
    check_points(p, per_point);
    const detail::interrupt_scope interruptible(options.interrupt_check);
    neighbour_search result;
    result.backend = options.backend == neighbour_backend::automatic ? choose_backend(p.dims) : options.backend;
    if (!available(result.backend))
        throw input_error("nearest neighbours: this build has no " + name_of(result.backend) + " search");
    const unsigned threads = thread_count(options.threads);
    result.lists = detail::empty_lists(p.count, per_point);
    // Points at one location are searched once: every backend's search among equal distances
    // would otherwise grow with the square of their number.
    if (const std::optional<detail::duplicate_groups> g = detail::find_duplicates(p)) {
        const std::size_t locations = g->distinct.count;
        neighbour_lists by_location = detail::empty_lists(locations, std::min(per_point, locations - 1));
        if (by_location.per_point > 0)
            result.rechecked = search_with(result.backend, g->distinct, by_location, threads, options);
        detail::expand_lists(*g, by_location, result.lists, threads);
    } else {
        result.rechecked = search_with(result.backend, p, result.lists, threads, options);
    }
    if (result.backend == neighbour_backend::hnsw) {
        result.exact = false;
        result.recall = detail::measure_recall(p, result.lists, options.recall_sample, options.seed, threads);
    }
    return result;
}

}  // namespace rotalign
