// Runs one fixed set of inputs through every plug-in that this build made and writes each result
// as a record line (record.h), so that the results of all builds can be compared.
//
//   agreement_dump <plug-in folder> <output file>
//
// Every input is built from small integers scaled by powers of two, or from literal constants,
// so that each build starts from the same bits whatever its arithmetic.
#include "record.h"

#include "mexhost/host.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using agreement::result_class;
using mexhost::array_ptr;

// A reproducible stream of numbers that are exact in every build: integers below 2^24 times a
// power of two.
class numbers {
public:
    explicit numbers(std::uint64_t seed) : state_(seed) {}
    // A multiple of 2^-22 in [0, 4).
    double distance() { return static_cast<double>(next24()) * 0x1p-22; }
    // A multiple of 2^-23 in [-1, 1).
    double signed_unit() { return (static_cast<double>(next24()) - 0x1p23) * 0x1p-23; }

private:
    std::uint32_t next24() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state_ >> 40);
    }
    std::uint64_t state_;
};

// An n-by-n symmetric distance matrix with a zero diagonal, by columns.
std::vector<double> distances(mwSize n, std::uint64_t seed) {
    numbers draw(seed);
    const auto size = static_cast<std::size_t>(n);
    std::vector<double> d(size * size, 0.0);
    for (std::size_t j = 0; j < size; ++j)
        for (std::size_t i = j + 1; i < size; ++i) d[i + j * size] = d[j + i * size] = draw.distance();
    return d;
}

// The sparse form of `dense` (n-by-n) that keeps the off-diagonal entries with (i + 2j) % 3 != 0,
// so that the diagonal is unstored and columns hold different counts.
array_ptr thinned(const std::vector<double>& dense, mwSize n) {
    std::vector<mwIndex> jc{0}, ir;
    std::vector<double> values;
    for (mwSize j = 0; j < n; ++j) {
        for (mwSize i = 0; i < n; ++i) {
            if (i == j || (i + 2 * j) % 3 == 0) continue;
            ir.push_back(i);
            values.push_back(dense[static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * static_cast<std::size_t>(n)]);
        }
        jc.push_back(static_cast<mwIndex>(values.size()));
    }
    return mexhost::make_sparse(n, n, jc, ir, values);
}

std::vector<double> signed_values(std::size_t count, std::uint64_t seed) {
    numbers draw(seed);
    std::vector<double> v(count);
    for (double& x : v) x = draw.signed_unit();
    return v;
}

template <typename... Arrays>
std::vector<array_ptr> args(Arrays... arrays) {
    std::vector<array_ptr> v;
    (v.push_back(std::move(arrays)), ...);
    return v;
}

struct call_case {
    std::string plugin;
    std::string label;
    int nlhs;
    std::vector<array_ptr> inputs;
    std::vector<result_class> classes;  // one per output; the first also classes an error
};

std::vector<call_case> cases() {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const result_class exact = result_class::exact, formula = result_class::formula,
                       affinity = result_class::affinity, worked = result_class::worked,
                       search = result_class::search;
    std::vector<call_case> list;
    auto add = [&list](std::string plugin, std::string label, int nlhs, std::vector<array_ptr> inputs,
                       std::vector<result_class> classes) {
        list.push_back({std::move(plugin), std::move(label), nlhs, std::move(inputs), std::move(classes)});
    };
    auto k = [](double v) { return mexhost::make_scalar(v); };

    const mwSize n = 14;
    const std::vector<double> d = distances(n, 7);
    auto dense = [&] { return mexhost::make_matrix(n, n, d); };

    // Affinities with one global scale, special values included.
    add("pellor", "dense", 1, args(dense(), k(1.375)), {affinity});
    add("pellor", "sparse", 1, args(thinned(d, n), k(-0.75)), {affinity});
    add("pellor", "special", 1, args(mexhost::make_matrix(3, 3, {0.0, -0.0, nan, inf, -inf, -2.5, 1e300, 5e-324, 3.0}), k(0.5)), {affinity});
    add("pellor", "zero-scale", 1, args(dense(), k(0.0)), {exact});
    add("pellor", "not-square", 1, args(mexhost::make_matrix(2, 3), k(1.0)), {exact});

    // Zero diagonal: a copy, the same bits everywhere.
    add("nimbrel", "dense", 1, args(mexhost::make_matrix(3, 3, {-0.0, 2.0, nan, 4.0, nan, 6.0, inf, -8.0, -inf})), {exact});
    add("nimbrel", "sparse", 1, args(thinned(d, n)), {exact});

    // Local scaling, both plug-ins: dense with every output, sparse, and the edges of K.
    for (const char* plugin : {"brenmoss", "olvane"}) {
        add(plugin, "dense-k3", 3, args(dense(), k(3.0)), {formula, affinity, formula});
        add(plugin, "dense-k0", 2, args(dense(), k(0.0)), {formula, affinity});
        add(plugin, "sparse-k2", 3, args(thinned(d, n), k(2.9)), {formula, affinity, formula});
        add(plugin, "sparse-k99", 3, args(thinned(d, n), k(99.0)), {formula, affinity, formula});
        add(plugin, "too-many-outputs", 4, args(dense(), k(1.0)), {exact});
    }

    // The rotation search: worked examples, then random input where x87 builds may branch apart.
    // cos 0.3 and sin 0.3 as literals, so that every build starts from the same matrix.
    const double c3 = 0x1.e921dd42f09bap-1, s3 = 0x1.2e9cd95baba33p-2;
    for (int method : {1, 2}) {
        const std::string m = "-method" + std::to_string(method);
        add("tarvik", "identity" + m, 3, args(mexhost::make_matrix(2, 2, {1, 0, 0, 1}), k(method)), {exact, worked, worked});
        add("tarvik", "turned" + m, 3, args(mexhost::make_matrix(2, 2, {c3, s3, -s3, c3}), k(method)), {exact, worked, worked});
        add("tarvik", "one-column" + m, 3, args(mexhost::make_matrix(4, 1, {0.5, -2.0, 3.0, 0.25}), k(method)), {exact, worked, worked});
        add("tarvik", "random-24x3" + m, 3, args(mexhost::make_matrix(24, 3, signed_values(72, 11)), k(method)), {search, search, search});
        add("tarvik", "random-16x4" + m, 3, args(mexhost::make_matrix(16, 4, signed_values(64, 23)), k(method)), {search, search, search});
    }
    add("tarvik", "too-few-outputs", 2, args(mexhost::make_matrix(2, 2, {1, 0, 0, 1})), {exact});
    return list;
}

bool exists(const std::string& path) {
    std::ifstream probe(path, std::ios::binary);
    return probe.good();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: agreement_dump <plug-in folder> <output file>\n";
        return 2;
    }
    const std::string folder = argv[1];
    std::ofstream out(argv[2], std::ios::binary);
    if (!out) {
        std::cerr << "agreement_dump: cannot write " << argv[2] << "\n";
        return 2;
    }
    const std::string suffix = mexhost::plugin_file_name("");
    out << "# platform " << suffix << "\n";

    std::string opened_name;
    std::unique_ptr<mexhost::plugin> opened;
    std::size_t records = 0;
    for (call_case& c : cases()) {
        const std::string path = folder + "/" + c.plugin + suffix;
        if (c.plugin != opened_name) {
            opened_name = c.plugin;
            opened.reset();
            if (!exists(path)) continue;
            opened = std::make_unique<mexhost::plugin>(path);
            out << "# plugin " << c.plugin << "\n";
        }
        if (!opened) continue;
        std::vector<const mxArray*> inputs;
        for (const array_ptr& a : c.inputs) inputs.push_back(a.get());
        const std::string name = c.plugin + "/" + c.label;
        try {
            const std::vector<array_ptr> outputs = opened->call(c.nlhs, inputs);
            for (std::size_t i = 0; i < outputs.size(); ++i) {
                std::string tokens;
                agreement::append_tokens(outputs[i].get(), tokens);
                out << name << ' ' << i + 1 << ' ' << agreement::class_name(c.classes.at(i)) << tokens << "\n";
                ++records;
            }
        } catch (const mexhost::plugin_error& e) {
            out << name << " error " << agreement::class_name(c.classes.front()) << ' ' << e.what() << "\n";
            ++records;
        }
    }
    out.close();
    if (!out) {
        std::cerr << "agreement_dump: writing " << argv[2] << " failed\n";
        return 1;
    }
    std::cout << "agreement: " << records << " results of " << suffix << " written\n";
    return 0;
}
