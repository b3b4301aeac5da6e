// OpenBLAS with one thread for the length of a call into the chain or a plug-in.
#pragma once

namespace rotalign_python {

// The chain's BLAS work is small (the rotation search's n-by-c products, the Lanczos solver's
// vector operations), and OpenBLAS's threads cost more there in hand-offs than they save; the
// program `rotalign` therefore runs OpenBLAS on one thread. The interpreter shares that OpenBLAS
// with NumPy, so the count is lowered for the call only and restored afterwards. With
// OPENBLAS_NUM_THREADS set, or another BLAS, nothing changes.
class single_threaded_blas {
public:
    single_threaded_blas();
    ~single_threaded_blas();
    single_threaded_blas(const single_threaded_blas&) = delete;
    single_threaded_blas& operator=(const single_threaded_blas&) = delete;

private:
    int previous_ = 0;
};

}  // namespace rotalign_python
