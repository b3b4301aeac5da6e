// One line per result of a plug-in call, written by every build and compared across builds.
//
// A line is "<case> <output> <class> <tokens...>": the case name, the output number (or "error"
// for a call that raised one, followed by the message), the class that decides how closely other
// builds must agree, and the result itself. Tokens that begin with "0x" are the bits of a double;
// every other token (kinds, dimensions, sparse patterns, words of a message) is shape, which
// must match exactly on every build.
#pragma once

#include "matrix.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace agreement {

// How closely builds with different arithmetic must agree on a result (compare.h).
//   exact     the same bits everywhere: copies, groups, messages
//   formula   one formula per value (scaled distances, scales)
//   affinity  exp(-q) of such a formula q, which magnifies the last-bit difference of q
//   worked    a worked example of the rotation search
//   search    the rotation search on random input, where x87 builds may take another path
enum class result_class { exact, formula, affinity, worked, search };

inline const char* class_name(result_class c) {
    switch (c) {
    case result_class::exact: return "exact";
    case result_class::formula: return "formula";
    case result_class::affinity: return "affinity";
    case result_class::worked: return "worked";
    case result_class::search: return "search";
    }
    return "?";
}

inline bool parse_class(const std::string& name, result_class* c) {
    for (result_class k : {result_class::exact, result_class::formula, result_class::affinity, result_class::worked,
                           result_class::search})
        if (name == class_name(k)) {
            *c = k;
            return true;
        }
    return false;
}

inline std::uint64_t bits_of(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

inline double double_of(std::uint64_t b) {
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

inline std::string value_token(double v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(bits_of(v)));
    return text;
}

// Appends the tokens of a host array: its kind and dimensions, its sparse pattern, its values,
// and the elements of a cell in order.
inline void append_tokens(const mxArray* a, std::string& out) {
    auto word = [&out](const std::string& w) { out += ' '; out += w; };
    if (a == nullptr) {
        word("null");
        return;
    }
    const mwSize ndims = mxGetNumberOfDimensions(a);
    const mwSize* dims = mxGetDimensions(a);
    const char* kind = mxIsCell(a) ? "cell" : !mxIsDouble(a) ? mxGetClassName(a)
                     : mxIsSparse(a) ? "sparse" : mxIsComplex(a) ? "complex" : "dense";
    word(kind);
    word(std::to_string(ndims));
    for (mwSize d = 0; d < ndims; ++d) word(std::to_string(dims[d]));
    const std::size_t count = mxGetNumberOfElements(a);
    if (mxIsCell(a)) {
        for (std::size_t i = 0; i < count; ++i) append_tokens(mxGetCell(a, static_cast<mwIndex>(i)), out);
        return;
    }
    if (!mxIsDouble(a)) return;
    std::size_t stored = count;
    if (mxIsSparse(a)) {
        const mwIndex* jc = mxGetJc(a);
        const std::size_t columns = mxGetN(a);
        stored = static_cast<std::size_t>(jc[columns]);
        for (std::size_t j = 0; j <= columns; ++j) word(std::to_string(jc[j]));
        const mwIndex* ir = mxGetIr(a);
        for (std::size_t k = 0; k < stored; ++k) word(std::to_string(ir[k]));
    }
    const double* re = mxGetPr(a);
    for (std::size_t k = 0; k < stored; ++k) word(value_token(re[k]));
    if (mxIsComplex(a)) {
        const double* im = mxGetPi(a);
        for (std::size_t k = 0; k < stored; ++k) word(value_token(im[k]));
    }
}

// A record read back from a line.
struct record {
    std::string key;  // "<case> <output>"
    result_class cls = result_class::exact;
    std::vector<std::string> shape;
    std::vector<double> values;
};

inline bool parse_record(const std::string& line, record* r) {
    std::istringstream in(line);
    std::string name, output, cls;
    if (!(in >> name >> output >> cls) || !parse_class(cls, &r->cls)) return false;
    r->key = name + " " + output;
    r->shape.clear();
    r->values.clear();
    for (std::string token; in >> token;) {
        if (token.size() == 18 && token.compare(0, 2, "0x") == 0) {
            char* end = nullptr;
            const unsigned long long b = std::strtoull(token.c_str() + 2, &end, 16);
            if (end != token.c_str() + token.size()) return false;
            r->values.push_back(double_of(b));
        } else {
            r->shape.push_back(token);
        }
    }
    return true;
}

// Distance in units in the last place, counting the doubles between a and b; +0 and -0 are
// the same place. Two NaNs are 0 apart; a NaN and a number are as far apart as can be.
inline std::uint64_t ulps_between(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : UINT64_MAX;
    auto ordered = [](double v) {
        const std::uint64_t u = bits_of(v);
        // Negative doubles count down from zero, so that the order of the integers is the
        // order of the numbers.
        return (u >> 63) != 0 ? static_cast<std::int64_t>(0) - static_cast<std::int64_t>(u & ~(std::uint64_t{1} << 63))
                              : static_cast<std::int64_t>(u);
    };
    const std::int64_t x = ordered(a), y = ordered(b);
    return x > y ? static_cast<std::uint64_t>(x) - static_cast<std::uint64_t>(y)
                 : static_cast<std::uint64_t>(y) - static_cast<std::uint64_t>(x);
}

}  // namespace agreement
