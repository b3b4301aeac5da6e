// tarvik under the fuzzer: [groups, quality, rotated] = tarvik(X) or tarvik(X, method).
#include "contract.h"

#include <cmath>

namespace toolbox_fuzz {
namespace {

// The message that X and the method call for, in the order the gateway tests them; "" for none.
std::string message_for(const call_case& c) {
    const mxArray* x = c.inputs[0].get();
    if (!mxIsDouble(x)) return "Eigenvector matrix must be of class double";
    if (mxIsSparse(x)) return "Eigenvector matrix must not be sparse";
    const mwSize* dims = mxGetDimensions(x);
    if (mxGetNumberOfElements(x) < static_cast<std::size_t>(dims[0]) * static_cast<std::size_t>(dims[1]))
        return "Eigenvector matrix has fewer values than rows times columns";
    return c.inputs.size() > 1 ? scalar_message(c.inputs[1].get()) : "";
}

// The column of each row's largest square (the later column on a tie), -1 for a row without a
// square that is a number.
std::vector<int> lead_columns(const double* y, std::size_t n, std::size_t c) {
    std::vector<int> lead(n, -1);
    for (std::size_t r = 0; r < n; ++r) {
        double largest = 0.0;
        for (std::size_t j = 0; j < c; ++j) {
            const double v = y[r + j * n];
            if (v * v >= largest) {
                largest = v * v;
                lead[r] = static_cast<int>(j);
            }
        }
    }
    return lead;
}

// Groups: a 1-by-c cell whose element g lists, ascending and 1-based, exactly the rows that lead
// in column g.
void check_groups(const mxArray* groups, const std::vector<int>& lead, std::size_t c) {
    require(mxIsCell(groups), "groups is not a cell");
    require(mexhost::dims_of(groups) == std::vector<mwSize>{1, static_cast<mwSize>(c)}, "groups is not 1-by-c");
    std::size_t members = 0;
    for (std::size_t g = 0; g < c; ++g) {
        const mxArray* e = mxGetCell(groups, static_cast<mwIndex>(g));
        if (!(e != nullptr && mxIsDouble(e) && !mxIsSparse(e) && !mxIsComplex(e) && mxGetM(e) == 1 &&
              mxGetNumberOfDimensions(e) == 2))
            finding("group " + std::to_string(g + 1) + " is not a real double row");
        const double* rows = mxGetPr(e);
        for (std::size_t i = 0; i < mxGetN(e); ++i) {
            const double r = rows[i];
            if (!(r >= 1 && r <= static_cast<double>(lead.size()) && r == std::floor(r) && (i == 0 || r > rows[i - 1])))
                finding("group " + std::to_string(g + 1) + " is not an ascending list of row numbers");
            if (lead[static_cast<std::size_t>(r) - 1] != static_cast<int>(g))
                finding("row " + std::to_string(static_cast<long>(r)) + " is not in the group of its largest square");
        }
        members += mxGetN(e);
    }
    std::size_t grouped = 0;
    for (int l : lead) grouped += l >= 0 ? 1 : 0;
    require(members == grouped, "the groups miss rows");
}

// A rotation keeps the length of every row; checked for rows whose squares neither overflow nor
// vanish. The real parts of a complex X rotate alone as long as its imaginary parts are finite:
// an infinite one times a zero of the rotation puts NaN into the real part of the product.
void check_row_lengths(const mxArray* x, const double* y) {
    const auto n = static_cast<std::size_t>(mxGetM(x));
    const std::size_t c = mxGetN(x);
    const double* re = mxGetPr(x);
    const double* im = mxGetPi(x);
    for (std::size_t r = 0; r < n; ++r) {
        double before = 0.0, after = 0.0;
        bool moderate = true;
        for (std::size_t j = 0; j < c; ++j) {
            const std::size_t at = r + j * n;
            const double v = std::fabs(re[at]);
            moderate =
                moderate && (v == 0.0 || (v >= 1e-100 && v <= 1e100)) && (im == nullptr || std::isfinite(im[at]));
            before += re[at] * re[at];
            after += y[at] * y[at];
        }
        if (moderate && !(std::fabs(after - before) <= 1e-9 * before))
            finding("rotated row " + std::to_string(r + 1) + " has the squared length " + show(after) + ", X's row " +
                    show(before));
    }
}

void judge(const call_case& c, const outcome& o) {
    const std::string message = message_for(c);
    if (!message.empty()) return require_error(o, message);
    const mxArray* x = c.inputs[0].get();
    if (mxGetNumberOfDimensions(x) > 2) {
        // X is multiplied as it is, and the host's product takes two dimensions only: the call
        // fails there, leaving the search's arrays and pair lists to the host.
        return require_error(o, "mtimes: operands must be 2-D", 6, 2);
    }

    // theta is left for the host to reclaim; nothing else is.
    require_outputs(o, 3, 1);
    const auto n = static_cast<std::size_t>(mxGetM(x));
    const std::size_t cols = mxGetN(x);
    const mxArray* quality = o.outputs[1].get();
    const mxArray* rotated = o.outputs[2].get();
    require(mxIsDouble(rotated) && !mxIsSparse(rotated) && mxIsComplex(rotated) == mxIsComplex(x) &&
                mexhost::dims_of(rotated) == mexhost::dims_of(x),
            "rotated is not a dense double array of X's size");
    require(mxIsDouble(quality) && !mxIsSparse(quality) && !mxIsComplex(quality) &&
                mexhost::dims_of(quality) == std::vector<mwSize>{1, 1},
            "quality is not a real double scalar");
    const double* y = mxGetPr(rotated);
    check_groups(o.outputs[0].get(), lead_columns(y, n, cols), cols);
    check_row_lengths(x, y);
    const double q = mxGetPr(quality)[0];
    if (std::isfinite(q) && cols > 0)
        require(q <= 1.0 && q >= 1.0 / static_cast<double>(cols) - 1e-12, "quality is outside [1/c, 1]");
}

}  // namespace

const target fuzz_target = {"tarvik", {3, 3, 1, 2, false, 8, 5}, judge};

}  // namespace toolbox_fuzz
