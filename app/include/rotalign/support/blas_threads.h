// OpenBLAS on one thread for the length of a piece of work, its own setting back afterwards.
#pragma once

namespace rotalign {

// The chain's BLAS work is small (the rotation searches' n-by-c products, the Lanczos solvers'
// vector operations), and OpenBLAS's threads cost more there in hand-offs than they save; where
// our own threads share out the work (the neighbour search), BLAS threads would only compete
// with them. Both uses run OpenBLAS on one thread while an instance lives. `unless_chosen`: leave
// the count alone when the user set OPENBLAS_NUM_THREADS. Another BLAS has no such setting and
// is left as it is.
class single_blas_thread {
public:
    explicit single_blas_thread(bool unless_chosen = false);
    ~single_blas_thread();
    single_blas_thread(const single_blas_thread&) = delete;
    single_blas_thread& operator=(const single_blas_thread&) = delete;

private:
    int previous_ = 0;
};

}  // namespace rotalign
