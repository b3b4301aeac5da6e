// The distance-matrix reader on arbitrary bytes (CSV or .npy, as the program reads them): a clean
// refusal, or a square matrix that the chain can take: finite, non-negative, symmetric, with a
// zero diagonal and no more values than the bytes can hold.
#include "reader_rules.h"

#include <cstdint>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    try {
        const rotalign::square d = rotalign::read_distances(in, "fuzz-distances");
        if (d.n == 0 || d.values.size() / d.n != d.n || d.values.size() % d.n != 0)
            reader_fuzz::broken("the matrix is not n-by-n");
        if (d.values.size() > size / 2 + 1) reader_fuzz::broken("more values than the input's bytes can hold");
        for (std::size_t j = 0; j < d.n; ++j)
            for (std::size_t i = 0; i < d.n; ++i) {
                const double v = d.at(i, j);
                if (!std::isfinite(v) || v < 0.0 || v != d.at(j, i) || (i == j && v != 0.0))
                    reader_fuzz::broken("a distance the chain cannot take was handed back");
            }
    } catch (const rotalign::input_error& e) {
        reader_fuzz::check_message(e.what(), "fuzz-distances");
    }
    return 0;
}
