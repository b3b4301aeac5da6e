// The derivative of the alignment quality inside tarvik, against central differences.
//
// The derivative only steers the gradient search and never reaches an output, so this program
// compiles the plug-in's source in and calls its file-local functions directly; host arrays made
// outside a gateway call belong to the test, which destroys them.
#include "plugins.h"

#include "tarvik.cpp"

#include <random>

namespace {

// The quality of X rotated by the angles.
double rotated_quality(const mxArray* x, const mxArray* theta, const int* lo, const int* hi, int K, int c, int n) {
    mxArray* y = rotate_givens(x, theta, lo, hi, K, c);
    const double q = evqual(y, c, n);
    mxDestroyArray(y);
    return q;
}

}  // namespace

TEST(tarvik_gradient, matches_central_difference_of_the_quality) {
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int c : {2, 3, 5}) {
        const int n = 13, K = c * (c - 1) / 2;
        mexhost::array_ptr x(mxCreateDoubleMatrix(n, c, mxREAL));
        for (std::size_t i = 0; i < static_cast<std::size_t>(n * c); ++i) mxGetPr(x.get())[i] = u(gen);
        mexhost::array_ptr theta(mxCreateDoubleMatrix(1, K, mxREAL));
        for (int k = 0; k < K; ++k) mxGetPr(theta.get())[k] = u(gen);
        std::vector<int> lo, hi;
        for (int i = 0; i < c; ++i)
            for (int j = i + 1; j < c; ++j) {
                lo.push_back(i);
                hi.push_back(j);
            }

        // Every k, the first and the last included, where one partial product is the identity.
        const double h = 1e-6;
        for (int k = 0; k < K; ++k) {
            const double g = evqualitygrad(x.get(), theta.get(), lo.data(), hi.data(), K, k, c, n);
            double& t = mxGetPr(theta.get())[k];
            const double t0 = t;
            t = t0 + h;
            const double up = rotated_quality(x.get(), theta.get(), lo.data(), hi.data(), K, c, n);
            t = t0 - h;
            const double down = rotated_quality(x.get(), theta.get(), lo.data(), hi.data(), K, c, n);
            t = t0;
            EXPECT_NEAR(g, -(up - down) / (2 * h), 1e-7) << "c = " << c << ", k = " << k;
        }
    }
}

TEST(tarvik_gradient, zero_row_gives_nan) {
    mexhost::array_ptr x(mxCreateDoubleMatrix(2, 2, mxREAL));
    mxGetPr(x.get())[0] = 1.0;
    mxGetPr(x.get())[2] = 0.5;
    mexhost::array_ptr theta(mxCreateDoubleMatrix(1, 1, mxREAL));
    const int lo[] = {0}, hi[] = {1};
    EXPECT_TRUE(std::isnan(evqualitygrad(x.get(), theta.get(), lo, hi, 1, 0, 2, 2)));
}
