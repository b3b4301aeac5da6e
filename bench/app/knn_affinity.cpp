#include "knn_affinity.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
#include <queue>
#include <random>

extern "C" void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
                       const double* alpha, const double* a, const int* lda, const double* b, const int* ldb,
                       const double* beta, double* c, const int* ldc, std::size_t, std::size_t);

namespace bench {
namespace {

// The points as nanoflann's data set.
struct cloud {
    const rotalign::points& p;
    std::size_t kdtree_get_point_count() const { return p.count; }
    double kdtree_get_pt(std::size_t i, std::size_t k) const { return p.values[i * p.dims + k]; }
    template <class box>
    bool kdtree_get_bbox(box&) const {
        return false;
    }
};

double squared_distance(const rotalign::points& p, std::size_t i, std::size_t j) {
    double d = 0.0;
    for (std::size_t k = 0; k < p.dims; ++k) {
        const double t = p.values[i * p.dims + k] - p.values[j * p.dims + k];
        d += t * t;
    }
    return d;
}

// The m nearest other points of every point, m per point in ascending order of distance.
std::vector<std::int32_t> neighbours_by_tree(const rotalign::points& p, std::size_t m) {
    using tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, cloud>, cloud, 2,
                                                     std::uint32_t>;
    const cloud data{p};
    tree index(2, data, nanoflann::KDTreeSingleIndexAdaptorParams(16));
    std::vector<std::int32_t> out(p.count * m);
    std::vector<std::uint32_t> found(m + 1);
    std::vector<double> dist(m + 1);
    for (std::size_t i = 0; i < p.count; ++i) {
        const std::size_t got = index.knnSearch(&p.values[i * 2], m + 1, found.data(), dist.data());
        std::size_t t = 0;
        for (std::size_t r = 0; r < got && t < m; ++r)
            if (found[r] != i) out[i * m + t++] = static_cast<std::int32_t>(found[r]);
    }
    return out;
}

std::vector<std::int32_t> neighbours_by_brute_force(const rotalign::points& p, std::size_t m) {
    const std::size_t n = p.count, block = 128;
    const int dims = static_cast<int>(p.dims), rows = static_cast<int>(n);
    std::vector<double> norm(n), gram(n * block);
    for (std::size_t i = 0; i < n; ++i) {
        double s = 0.0;
        for (std::size_t k = 0; k < p.dims; ++k) s += p.values[i * p.dims + k] * p.values[i * p.dims + k];
        norm[i] = s;
    }
    std::vector<std::int32_t> out(n * m);
    using entry = std::pair<double, std::int32_t>;
    for (std::size_t q0 = 0; q0 < n; q0 += block) {
        const int cols = static_cast<int>(std::min(block, n - q0));
        const double one = 1.0, zero = 0.0;
        dgemm_("T", "N", &rows, &cols, &dims, &one, p.values.data(), &dims, &p.values[q0 * p.dims], &dims, &zero,
               gram.data(), &rows, 1, 1);
        for (int c = 0; c < cols; ++c) {
            const std::size_t q = q0 + static_cast<std::size_t>(c);
            const double* g = &gram[static_cast<std::size_t>(c) * n];
            std::priority_queue<entry> best;  // the m closest so far, farthest on top
            for (std::size_t i = 0; i < n; ++i) {
                if (i == q) continue;
                const double d = norm[i] - 2.0 * g[i];  // the query's own norm ranks nothing
                if (best.size() < m) {
                    best.push({d, static_cast<std::int32_t>(i)});
                } else if (d < best.top().first) {
                    best.pop();
                    best.push({d, static_cast<std::int32_t>(i)});
                }
            }
            for (std::size_t t = m; t-- > 0;) {
                out[q * m + t] = best.top().second;
                best.pop();
            }
        }
    }
    return out;
}

}  // namespace

rotalign::points gaussian_blobs(std::size_t count, std::size_t dims, std::size_t groups, double spread,
                                std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> centres(groups * dims);
    for (double& c : centres) c = spread * normal(random);
    rotalign::points p;
    p.count = count;
    p.dims = dims;
    p.values.resize(count * dims);
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t k = 0; k < dims; ++k) p.values[i * dims + k] = centres[(i % groups) * dims + k] + normal(random);
    return p;
}

sparse_affinity knn_affinity(const rotalign::points& p, std::size_t neighbours, std::size_t scale_index) {
    const std::size_t n = p.count, m = neighbours;
    const std::vector<std::int32_t> nb = p.dims == 2 ? neighbours_by_tree(p, m) : neighbours_by_brute_force(p, m);
    std::vector<double> scale(n);
    for (std::size_t j = 0; j < n; ++j)
        scale[j] = squared_distance(p, j, static_cast<std::size_t>(nb[j * m + scale_index - 1]));

    // The symmetrised pattern: i beside j when either is among the other's neighbours.
    sparse_affinity a;
    a.n = n;
    std::vector<std::size_t> start(n + 1, 0);
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t t = 0; t < m; ++t) ++start[j + 1], ++start[static_cast<std::size_t>(nb[j * m + t]) + 1];
    for (std::size_t j = 0; j < n; ++j) start[j + 1] += start[j];
    std::vector<std::int32_t> rows(start[n]);
    std::vector<std::size_t> next(start.begin(), start.end() - 1);
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t t = 0; t < m; ++t) {
            const auto i = static_cast<std::size_t>(nb[j * m + t]);
            rows[next[j]++] = static_cast<std::int32_t>(i);
            rows[next[i]++] = static_cast<std::int32_t>(j);
        }
    a.starts.resize(n + 1);
    a.starts[0] = 0;
    for (std::size_t j = 0; j < n; ++j) {
        auto first = rows.begin() + static_cast<std::ptrdiff_t>(start[j]);
        auto last = rows.begin() + static_cast<std::ptrdiff_t>(start[j + 1]);
        std::sort(first, last);
        a.rows.insert(a.rows.end(), first, std::unique(first, last));
        a.starts[j + 1] = static_cast<std::int32_t>(a.rows.size());
    }

    a.values.resize(a.rows.size());
    std::vector<double> factor(n);
    for (std::size_t j = 0; j < n; ++j) {
        double degree = 0.0;
        for (std::int32_t k = a.starts[j]; k < a.starts[j + 1]; ++k) {
            const auto i = static_cast<std::size_t>(a.rows[static_cast<std::size_t>(k)]);
            degree += a.values[static_cast<std::size_t>(k)] =
                std::exp(-squared_distance(p, i, j) / std::sqrt(scale[i] * scale[j]));
        }
        factor[j] = 1.0 / std::sqrt(degree);
    }
    for (std::size_t j = 0; j < n; ++j)
        for (std::int32_t k = a.starts[j]; k < a.starts[j + 1]; ++k)
            a.values[static_cast<std::size_t>(k)] *=
                factor[static_cast<std::size_t>(a.rows[static_cast<std::size_t>(k)])] * factor[j];
    return a;
}

}  // namespace bench
