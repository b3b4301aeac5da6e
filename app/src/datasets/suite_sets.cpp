// The group-count suite's data sets: shapes that each stress one way of getting the number of
// groups wrong (crowded, touching, nested, elongated, uneven in density or size, noisy, in many
// dimensions), all on the random source of our own.
#include "rotalign/datasets/suite_sets.h"

#include "support/random_source.h"

#include <algorithm>
#include <functional>

namespace rotalign {
namespace {

// Appends points of any dimension with their groups.
class builder {
public:
    builder(std::size_t dims, int groups) {
        out_.data.dims = dims;
        out_.groups = groups;
    }
    void add(const std::vector<double>& x, int group) {
        out_.data.values.insert(out_.data.values.end(), x.begin(), x.end());
        out_.truth.push_back(group);
    }
    void add(double x, double y, int group) { add(std::vector<double>{x, y}, group); }
    // `count` points of a Gaussian of deviation `spread` around `centre`.
    void gaussian(random_source& g, const std::vector<double>& centre, double spread, std::size_t count, int group) {
        std::vector<double> x(centre.size());
        for (std::size_t i = 0; i < count; ++i) {
            for (std::size_t k = 0; k < x.size(); ++k) x[k] = centre[k] + spread * g.normal();
            add(x, group);
        }
    }
    labelled_points done() {
        out_.data.count = out_.truth.size();
        return std::move(out_);
    }

private:
    labelled_points out_;
};

double distance(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
    return std::sqrt(sum);
}

// Blobs 2-D: centres, spreads and sizes given.
struct blob {
    double x, y, spread;
    std::size_t count;
};

labelled_points blobs_2d(const std::vector<blob>& blobs, std::uint64_t seed) {
    random_source g(seed);
    builder b(2, static_cast<int>(blobs.size()));
    for (std::size_t k = 0; k < blobs.size(); ++k)
        b.gaussian(g, {blobs[k].x, blobs[k].y}, blobs[k].spread, blobs[k].count, static_cast<int>(k) + 1);
    return b.done();
}

// Six blobs on the axes around a seventh in the middle, 3-D: the leading eigenvalues come as a
// block of seven nearly equal ones.
labelled_points octahedron_blobs(std::uint64_t seed) {
    random_source g(seed);
    builder b(3, 7);
    b.gaussian(g, {0, 0, 0}, 0.3, 32, 1);
    int group = 2;
    for (int axis = 0; axis < 3; ++axis)
        for (double side : {-5.0, 5.0}) {
            std::vector<double> centre(3, 0.0);
            centre[static_cast<std::size_t>(axis)] = side;
            b.gaussian(g, centre, 0.3, 30, group++);
        }
    return b.done();
}

// Rings of radius 1, 2, ... with radial noise, the points of each ring in proportion to its
// radius.
labelled_points nested_rings(int rings, std::size_t per_unit, double noise, std::uint64_t seed) {
    random_source g(seed);
    builder b(2, rings);
    for (int r = 1; r <= rings; ++r)
        for (std::size_t i = 0; i < per_unit * static_cast<std::size_t>(r); ++i) {
            const double t = g.uniform(0.0, 2.0 * pi), radius = r + noise * g.normal();
            b.add(radius * std::cos(t), radius * std::sin(t), r);
        }
    return b.done();
}

// Arms of Archimedean spirals r = t around the origin, turned evenly, points spread evenly
// along each arm.
labelled_points spirals(int arms, std::size_t per_arm, double noise, std::uint64_t seed) {
    random_source g(seed);
    builder b(2, arms);
    const double lo = 1.0, hi = 3.0 * pi;
    for (int a = 0; a < arms; ++a) {
        const double turn = 2.0 * pi * a / arms;
        for (std::size_t i = 0; i < per_arm; ++i) {
            // Arc length grows as t^2, so t = sqrt of a uniform square spreads points evenly.
            const double t = std::sqrt(g.uniform(lo * lo, hi * hi));
            b.add(t * std::cos(t + turn) + noise * g.normal(), t * std::sin(t + turn) + noise * g.normal(), a + 1);
        }
    }
    return b.done();
}

// Parallel horizontal segments one unit apart, of the given lengths, stratified along each line.
labelled_points uneven_lines(const std::vector<double>& lengths, std::size_t per_unit, double noise,
                             std::uint64_t seed) {
    random_source g(seed);
    builder b(2, static_cast<int>(lengths.size()));
    for (std::size_t l = 0; l < lengths.size(); ++l) {
        const std::size_t count = static_cast<std::size_t>(lengths[l] * static_cast<double>(per_unit));
        for (std::size_t i = 0; i < count; ++i) {
            const double x = lengths[l] * (static_cast<double>(i) + g.uniform()) / static_cast<double>(count);
            b.add(x, static_cast<double>(l) + noise * g.normal(), static_cast<int>(l) + 1);
        }
    }
    return b.done();
}

// Two wings spreading from a narrow gap at the middle: dense and thin near the gap, sparse and
// wide at the tips.
labelled_points density_wings(std::size_t per_wing, std::uint64_t seed) {
    random_source g(seed);
    builder b(2, 2);
    for (int side = 0; side < 2; ++side) {
        const double s = side == 0 ? -1.0 : 1.0;
        for (std::size_t i = 0; i < per_wing; ++i) {
            const double t = std::pow(g.uniform(), 1.8);
            const double width = 0.04 + 0.3 * t;
            b.add(s * (0.4 + 3.0 * t) + width * g.normal(), 1.5 * t * t + width * g.normal(), side + 1);
        }
    }
    return b.done();
}

// A band whose density falls towards a uniform band beside it.
labelled_points density_bands(std::size_t per_band, std::uint64_t seed) {
    random_source g(seed);
    builder b(2, 2);
    for (std::size_t i = 0; i < per_band; ++i) b.add(3.0 * std::pow(g.uniform(), 1.5), g.uniform(0.0, 2.0), 1);
    for (std::size_t i = 0; i < per_band; ++i) b.add(g.uniform(3.8, 5.8), g.uniform(0.0, 2.0), 2);
    return b.done();
}

// Gaussian blobs with a uniform background: each background point belongs to the blob whose
// centre is nearest.
labelled_points blobs_in_noise(const std::vector<blob>& blobs, std::size_t background, double side,
                               std::uint64_t seed) {
    random_source g(seed);
    builder b(2, static_cast<int>(blobs.size()));
    for (std::size_t k = 0; k < blobs.size(); ++k)
        b.gaussian(g, {blobs[k].x, blobs[k].y}, blobs[k].spread, blobs[k].count, static_cast<int>(k) + 1);
    for (std::size_t i = 0; i < background; ++i) {
        const std::vector<double> p{g.uniform(0.0, side), g.uniform(0.0, side)};
        int nearest = 1;
        double best = 1e300;
        for (std::size_t k = 0; k < blobs.size(); ++k) {
            const double d = distance(p, {blobs[k].x, blobs[k].y});
            if (d < best) best = d, nearest = static_cast<int>(k) + 1;
        }
        b.add(p, nearest);
    }
    return b.done();
}

// An L of two strokes, a blob in its corner's opening and a bar beside both.
labelled_points l_shape(std::uint64_t seed) {
    random_source g(seed);
    builder b(2, 3);
    for (std::size_t i = 0; i < 160; ++i) {
        const double along = g.uniform(0.0, 4.0), across = 0.12 * g.normal();
        if (i % 2 == 0) b.add(along, across, 1);
        else b.add(across, along, 1);
    }
    b.gaussian(g, {2.5, 2.5}, 0.4, 100, 2);
    for (std::size_t i = 0; i < 100; ++i) b.add(g.uniform(5.5, 6.3), g.uniform(0.0, 4.0), 3);
    return b.done();
}

// `locations` places on a square grid with `count` points spread over them in turn: exact
// duplicates, so that the graph falls apart into one component per place.
labelled_points duplicates(std::size_t count, int locations) {
    const int side = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(locations))));
    builder b(2, locations);
    for (std::size_t i = 0; i < count; ++i) {
        const int place = static_cast<int>(i % static_cast<std::size_t>(locations));
        b.add(place % side, place / side, place + 1);
    }
    return b.done();
}

struct entry {
    suite_set set;
    std::uint64_t seed;
    std::function<labelled_points(std::uint64_t)> make;
};

std::vector<entry> make_entries() {
    std::vector<entry> e;
    auto add = [&e](std::string name, std::string description, int max_groups, std::uint64_t seed,
                    std::function<labelled_points(std::uint64_t)> make) {
        const labelled_points p = make(seed);
        e.push_back({{std::move(name), std::move(description), p.data.count, p.data.dims, p.groups, max_groups},
                     seed,
                     std::move(make)});
    };
    for (int k = 2; k <= 10; ++k)
        add("blobs-2d-" + std::to_string(k), std::to_string(k) + " compact blobs, unequal sizes and spreads, 2-D", 10,
            100 + static_cast<std::uint64_t>(k), [k](std::uint64_t s) { return compact_blobs(2, k, s); });
    for (int k : {2, 3, 4, 5, 6, 8, 10})
        add("blobs-3d-" + std::to_string(k), std::to_string(k) + " compact blobs, unequal sizes and spreads, 3-D", 10,
            200 + static_cast<std::uint64_t>(k), [k](std::uint64_t s) { return compact_blobs(3, k, s); });
    for (int k : {4, 7})
        add("blobs-10d-" + std::to_string(k), std::to_string(k) + " compact blobs in 10 dimensions", 10,
            300 + static_cast<std::uint64_t>(k), [k](std::uint64_t s) { return compact_blobs(10, k, s); });
    for (int k : {3, 5})
        add("blobs-50d-" + std::to_string(k), std::to_string(k) + " compact blobs in 50 dimensions", 10,
            400 + static_cast<std::uint64_t>(k), [k](std::uint64_t s) { return compact_blobs(50, k, s); });
    add("octahedron-7", "six blobs on the axes around a seventh, 3-D (nearly repeated eigenvalues)", 10, 7,
        octahedron_blobs);
    add("touching-2", "two Gaussian blobs that touch", 10, 21,
        [](std::uint64_t s) { return blobs_2d({{0, 0, 1.0, 150}, {4.5, 0, 1.0, 150}}, s); });
    add("touching-3", "three Gaussian blobs in a row that touch, unequal sizes", 10, 22, [](std::uint64_t s) {
        return blobs_2d({{0, 0, 1.0, 100}, {4.5, 0, 1.0, 150}, {9.0, 0.5, 1.0, 120}}, s);
    });
    add("overlap-2", "two overlapping Gaussians, unequal sizes", 10, 23,
        [](std::uint64_t s) { return blobs_2d({{0, 0, 1.0, 200}, {3.5, 0, 1.0, 150}}, s); });
    add("overlap-3", "three overlapping Gaussians in a triangle", 10, 24, [](std::uint64_t s) {
        return blobs_2d({{0, 0, 1.0, 120}, {4.0, 0, 1.0, 120}, {2.0, 3.5, 1.0, 120}}, s);
    });
    add("rings-2", "two nested rings", 10, 31, [](std::uint64_t s) { return nested_rings(2, 100, 0.08, s); });
    add("rings-3", "three nested rings", 10, 32, [](std::uint64_t s) { return nested_rings(3, 60, 0.08, s); });
    add("moons-noisy", "two moons with noise 0.1", 10, 33, [](std::uint64_t s) { return two_moons(400, s, 0.1); });
    add("spirals-2", "two interleaved spirals", 10, 34, [](std::uint64_t s) { return spirals(2, 200, 0.1, s); });
    add("spirals-3", "three interleaved spirals", 10, 35, [](std::uint64_t s) { return spirals(3, 200, 0.1, s); });
    add("lines-4", "four parallel lines of lengths 8, 5, 3 and 6", 10, 36,
        [](std::uint64_t s) { return uneven_lines({8, 5, 3, 6}, 25, 0.05, s); });
    add("wings", "two wings with a density gradient, dense at a narrow gap", 10, 37,
        [](std::uint64_t s) { return density_wings(200, s); });
    add("gradient-bands", "a band thinning towards a uniform band", 10, 38,
        [](std::uint64_t s) { return density_bands(150, s); });
    add("outliers-6", "two large groups and four tiny outlying groups", 10, 41, [](std::uint64_t s) {
        return blobs_2d({{0, 0, 1.0, 200}, {7, 0, 1.0, 160}, {-5, 6, 0.15, 10}, {12, 6, 0.15, 10}, {3.5, 8, 0.15, 10},
                         {3.5, -7, 0.15, 10}},
                        s);
    });
    add("outliers-5", "three large groups and two tiny outlying groups", 10, 42, [](std::uint64_t s) {
        return blobs_2d(
            {{0, 0, 0.8, 120}, {6, 0, 0.8, 120}, {3, 5, 0.8, 120}, {-4, 6, 0.1, 10}, {10, 6, 0.1, 10}}, s);
    });
    add("noise-3", "three blobs on a uniform background of 60 points", 10, 43, [](std::uint64_t s) {
        return blobs_in_noise({{2, 2, 0.5, 100}, {8, 3, 0.5, 100}, {5, 8, 0.5, 100}}, 60, 10.0, s);
    });
    add("noise-4", "four blobs of unequal spread on a uniform background of 80 points", 10, 44, [](std::uint64_t s) {
        return blobs_in_noise({{2, 2, 0.4, 90}, {8, 2, 0.6, 110}, {2, 8, 0.5, 100}, {8, 8, 0.3, 70}}, 80, 10.0, s);
    });
    add("l-shape", "an L-shape, a blob in its opening and a bar", 10, 45, l_shape);
    add("small-20", "two blobs of 10 points", 10, 46,
        [](std::uint64_t s) { return blobs_2d({{0, 0, 0.5, 10}, {4, 0, 0.5, 10}}, s); });
    add("duplicates-16", "300 points on 16 places (exact duplicates)", 20, 47,
        [](std::uint64_t) { return duplicates(300, 16); });
    add("demo-moons", "the demo's two moons", 10, 11, [](std::uint64_t s) { return two_moons(600, s); });
    add("demo-circles", "the demo's concentric circles", 10, 12,
        [](std::uint64_t s) { return concentric_circles(600, s); });
    add("demo-blobs", "the demo's uneven blobs", 10, 13, [](std::uint64_t s) { return uneven_blobs(600, s); });
    add("demo-lines", "the demo's parallel lines", 10, 14, [](std::uint64_t s) { return parallel_lines(600, s); });
    return e;
}

const std::vector<entry>& entries() {
    static const std::vector<entry> e = make_entries();
    return e;
}

}  // namespace

labelled_points compact_blobs(std::size_t dims, int groups, std::uint64_t seed) {
    random_source g(seed);
    const std::size_t k = static_cast<std::size_t>(groups);
    std::vector<double> spread(k);
    std::vector<std::size_t> size(k);
    for (std::size_t i = 0; i < k; ++i) {
        spread[i] = g.uniform(0.3, 1.0);
        size[i] = 15 + static_cast<std::size_t>(g.uniform() * 46.0);
    }
    // A Gaussian's points lie within about 3.5 deviations times the square root of the dimension
    // of its centre (its radius grows as the square root of the dimension); centres at least that
    // apart, for both blobs, keep every pair apart. The box grows until the draws fit.
    const double reach = 3.5 * std::sqrt(static_cast<double>(dims));
    std::vector<std::vector<double>> centres;
    double side = 2.5 * reach * std::pow(static_cast<double>(k), 1.0 / static_cast<double>(dims));
    while (centres.size() < k) {
        centres.clear();
        for (int attempt = 0; attempt < 2000 && centres.size() < k; ++attempt) {
            std::vector<double> c(dims);
            for (double& x : c) x = g.uniform(0.0, side);
            bool apart = true;
            for (std::size_t j = 0; j < centres.size() && apart; ++j)
                apart = distance(c, centres[j]) >= reach * (spread[centres.size()] + spread[j]);
            if (apart) centres.push_back(std::move(c));
        }
        side *= 1.2;
    }
    builder b(dims, groups);
    for (std::size_t i = 0; i < k; ++i) b.gaussian(g, centres[i], spread[i], size[i], static_cast<int>(i) + 1);
    return b.done();
}

const std::vector<suite_set>& suite_sets() {
    static const std::vector<suite_set> sets = [] {
        std::vector<suite_set> s;
        for (const entry& e : entries()) s.push_back(e.set);
        return s;
    }();
    return sets;
}

labelled_points suite_points(const std::string& name, std::uint64_t seed) {
    for (const entry& e : entries())
        if (e.set.name == name) return e.make(seed != 0 ? seed : e.seed);
    throw input_error("unknown data set '" + name + "'");
}

}  // namespace rotalign
