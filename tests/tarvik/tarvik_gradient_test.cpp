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

TEST(tarvik_gradient, tied_rows_lead_in_their_later_column_with_its_sign) {
    // At angles 0, the rows (0.6, 0.6) and (0.6, -0.6) in columns 0, 1 (and again in 2, 3) add
    // -2 and +2 to the sum for the angle of their pair when each tie goes to the later column with
    // its signed entry: the derivative is exactly 0. The earlier column flips one of the two.
    mexhost::array_ptr x(mxCreateDoubleMatrix(4, 4, mxREAL));
    double* v = mxGetPr(x.get());
    v[0] = v[4] = v[1] = 0.6, v[5] = -0.6;      // rows 0 and 1, columns 0 and 1
    v[10] = v[14] = v[11] = 0.6, v[15] = -0.6;  // rows 2 and 3, columns 2 and 3
    mexhost::array_ptr theta(mxCreateDoubleMatrix(1, 6, mxREAL));
    const int lo[] = {0, 0, 0, 1, 1, 2}, hi[] = {1, 2, 3, 2, 3, 3};
    EXPECT_EQ(evqualitygrad(x.get(), theta.get(), lo, hi, 6, 0, 4, 4), 0.0);
    EXPECT_EQ(evqualitygrad(x.get(), theta.get(), lo, hi, 6, 5, 4, 4), 0.0);
}
