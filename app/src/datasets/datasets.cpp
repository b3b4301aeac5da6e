// The demo's data sets, on the random source of our own (random_source.h).
#include "rotalign/datasets/datasets.h"

#include "support/random_source.h"

#include <cmath>

namespace rotalign {
namespace {

void add(labelled_points& out, double x, double y, int group) {
    out.data.values.push_back(x);
    out.data.values.push_back(y);
    out.truth.push_back(group);
}

labelled_points empty(int groups) {
    labelled_points out;
    out.data.dims = 2;
    out.groups = groups;
    return out;
}

void finish(labelled_points& out) { out.data.count = out.truth.size(); }

}  // namespace

labelled_points two_moons(std::size_t count, std::uint64_t seed, double noise) {
    random_source g(seed);
    labelled_points out = empty(2);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = g.uniform(0.0, pi);
        double x, y;
        int group;
        if (i % 2 == 0) {
            x = std::cos(t), y = std::sin(t), group = 1;
        } else {
            x = 1.0 - std::cos(t), y = 0.5 - std::sin(t), group = 2;
        }
        x += noise * g.normal();
        y += noise * g.normal();
        add(out, x, y, group);
    }
    finish(out);
    return out;
}

labelled_points concentric_circles(std::size_t count, std::uint64_t seed, double noise) {
    random_source g(seed);
    labelled_points out = empty(2);
    for (std::size_t i = 0; i < count; ++i) {
        const bool inner = i % 3 == 2;
        const double t = g.uniform(0.0, 2.0 * pi);
        const double r = (inner ? 0.4 : 1.0) + noise * g.normal();
        add(out, r * std::cos(t), r * std::sin(t), inner ? 2 : 1);
    }
    finish(out);
    return out;
}

labelled_points uneven_blobs(std::size_t count, std::uint64_t seed) {
    struct blob {
        double x, y, spread;
    };
    const blob blobs[] = {{0.0, 0.0, 1.0}, {5.0, 4.0, 0.5}, {6.0, -1.0, 0.2}};
    random_source g(seed);
    labelled_points out = empty(3);
    const std::size_t wide = count / 2, middle = count / 3;
    for (std::size_t i = 0; i < count; ++i) {
        const int group = i < wide ? 1 : i < wide + middle ? 2 : 3;
        const blob& b = blobs[group - 1];
        const double dx = g.normal(), dy = g.normal();
        add(out, b.x + b.spread * dx, b.y + b.spread * dy, group);
    }
    finish(out);
    return out;
}

labelled_points parallel_lines(std::size_t count, std::uint64_t seed, double noise) {
    random_source g(seed);
    labelled_points out = empty(3);
    // Stratified along the line: point k of a line falls in the k-th of equal cells, so that no
    // chance gap splits a line in two.
    const double cells = static_cast<double>((count + 2) / 3);
    for (std::size_t i = 0; i < count; ++i) {
        const int group = static_cast<int>(i % 3) + 1;
        const double x = 8.0 * (static_cast<double>(i / 3) + g.uniform()) / cells;
        const double y = (group - 1) + noise * g.normal();
        add(out, x, y, group);
    }
    finish(out);
    return out;
}

const std::vector<std::string>& dataset_names() {
    static const std::vector<std::string> names = {"moons", "circles", "blobs", "lines"};
    return names;
}

labelled_points generate(const std::string& name, std::size_t count, std::uint64_t seed) {
    if (name == "moons") return two_moons(count, seed);
    if (name == "circles") return concentric_circles(count, seed);
    if (name == "blobs") return uneven_blobs(count, seed);
    if (name == "lines") return parallel_lines(count, seed);
    throw input_error("unknown data set '" + name + "' (known: moons, circles, blobs, lines)");
}

}  // namespace rotalign
