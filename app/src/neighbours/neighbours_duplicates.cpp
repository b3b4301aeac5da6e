// Points that share their coordinates: found by hashing the rows, searched once per location, and
// given back their own lists. Equal coordinates (0 and -0 are equal) give every other point the
// same distance bit for bit, so the lists of the locations decide the lists of their points, and a
// location of ten thousand points costs what one point does.
#include "neighbour_parts.h"

#include <algorithm>
#include <cstring>

namespace rotalign::detail {
namespace {

// The row's coordinates as bits, -0 as 0, mixed into 64 bits (the finaliser of splitmix64 per word).
std::uint64_t row_hash(const double* x, std::size_t dims) {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (std::size_t k = 0; k < dims; ++k) {
        const double v = x[k] == 0.0 ? 0.0 : x[k];
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        h ^= bits + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ULL;
        h = (h ^ (h >> 27)) * 0x94d049bb133111ebULL;
        h ^= h >> 31;
    }
    return h;
}

bool same_row(const double* a, const double* b, std::size_t dims) {
    for (std::size_t k = 0; k < dims; ++k)
        if (!(a[k] == b[k])) return false;
    return true;
}

}  // namespace

std::optional<duplicate_groups> find_duplicates(const points& p) {
    const std::size_t n = p.count, d = p.dims;
    std::vector<std::uint64_t> hash(n);
    for (std::size_t i = 0; i < n; ++i) hash[i] = row_hash(&p.values[i * d], d);
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::uint32_t>(i);
    std::sort(order.begin(), order.end(), [&hash](std::uint32_t a, std::uint32_t b) {
        return hash[a] < hash[b] || (hash[a] == hash[b] && a < b);
    });

    // Within a run of equal hashes each point joins the first earlier point of its coordinates;
    // runs hold one location but for hash collisions, so the scan of the run's heads stays short.
    constexpr std::uint32_t none = static_cast<std::uint32_t>(-1);
    std::vector<std::uint32_t> head(n, none);
    bool any = false;
    std::vector<std::uint32_t> heads;
    for (std::size_t first = 0; first < n;) {
        std::size_t last = first + 1;
        while (last < n && hash[order[last]] == hash[order[first]]) ++last;
        heads.clear();
        for (std::size_t r = first; r < last; ++r) {
            const std::uint32_t i = order[r];
            for (const std::uint32_t h : heads)
                if (same_row(&p.values[std::size_t{h} * d], &p.values[std::size_t{i} * d], d)) {
                    head[i] = h;
                    any = true;
                    break;
                }
            if (head[i] == none) {
                head[i] = i;
                heads.push_back(i);
            }
        }
        first = last;
    }
    if (!any) return std::nullopt;

    // Locations numbered by their first point, so that the order of ties among locations is the
    // order of their first points.
    duplicate_groups g;
    g.location.assign(n, none);
    std::vector<std::uint32_t> size;
    for (std::size_t i = 0; i < n; ++i) {
        if (head[i] == i) {
            g.location[i] = static_cast<std::uint32_t>(size.size());
            size.push_back(0);
        } else {
            g.location[i] = g.location[head[i]];
        }
        ++size[g.location[i]];
    }
    const std::size_t u = size.size();
    g.distinct.count = u;
    g.distinct.dims = d;
    g.distinct.values.resize(u * d);
    g.start.assign(u + 1, 0);
    for (std::size_t l = 0; l < u; ++l) g.start[l + 1] = g.start[l] + size[l];
    g.member.resize(n);
    std::vector<std::uint32_t> next(g.start.begin(), g.start.end() - 1);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t l = g.location[i];
        if (head[i] == i) std::copy_n(&p.values[i * d], d, &g.distinct.values[std::size_t{l} * d]);
        g.member[next[l]++] = static_cast<std::uint32_t>(i);
    }
    return g;
}

// Point i's list is the first per_point of: the other points of its location at distance 0, and
// the points of every other location at that location's distance, in the order (distance, index).
// The points of a location come after its first point, which is also how the locations' lists
// order ties, so a point of the list lies at a location among the first per_point of its
// location's list: each location before it brings its first point before it. The walk stops at
// the first point of a location that the full list does not take, since the location's later
// points and every later location come after it.
void expand_lists(const duplicate_groups& g, const neighbour_lists& by_location, neighbour_lists& out,
                  unsigned threads, const std::vector<std::uint32_t>& queries) {
    const std::size_t m = out.per_point, n = out.count;
    const std::size_t count = queries.empty() ? n : queries.size();
    parallel_chunks(count, 1024, threads, [&](std::size_t first, std::size_t last) {
        for (std::size_t q = first; q < last; ++q) {
            const std::uint32_t i = queries.empty() ? static_cast<std::uint32_t>(q) : queries[q];
            const std::uint32_t own = g.location[i];
            nearest_so_far list(&out.index[std::size_t{i} * m], &out.distance[std::size_t{i} * m], m);
            auto take = [&](std::uint32_t l, double distance) {
                for (std::uint32_t r = g.start[l]; r < g.start[l + 1]; ++r) {
                    const std::uint32_t j = g.member[r];
                    if (j == i) continue;
                    if (!list.offer(distance, j)) return;
                }
            };
            take(own, 0.0);
            if (by_location.per_point == 0) continue;
            const std::uint32_t* near = by_location.neighbours_of(own);
            const double* distance = by_location.distances_of(own);
            for (std::size_t r = 0; r < by_location.per_point; ++r) {
                if (list.full() && distance[r] > list.last()) break;
                take(near[r], distance[r]);
            }
        }
    });
}

}  // namespace rotalign::detail
