// SLEPc's Krylov-Schur with shift-invert on a CHOLMOD factor (through PETSc) beside the sparse
// eigen-step, on the same normalised nearest-neighbour affinities of two moons, 10 pairs: the
// measurement behind not building the eigen-step on SLEPc. SLEPc solves for the smallest
// eigenvalues of I - L nearest the target -tau, the same operator ((1 + tau) I - L)^(-1).
// Built only where SLEPc is installed (scripts/install-deps.sh slepc).
//
//   OPENBLAS_NUM_THREADS=1 build/default/bench/app/bench_app_slepc --benchmark_filter=100000
#include "chain_affinity.h"
#include "peak_memory.h"

#include "rotalign/datasets/datasets.h"
#include "rotalign/eigen/sparse_eigen.h"

#include <benchmark/benchmark.h>
#include <slepceps.h>

#include <cmath>
#include <map>
#include <stdexcept>
#include <string>

namespace {

constexpr std::size_t pairs = 10;

rotalign::sparse_view moons(std::size_t n) {
    static std::map<std::size_t, bench::sparse_affinity> made;
    auto it = made.find(n);
    if (it == made.end()) it = made.emplace(n, bench::knn_affinity(rotalign::two_moons(n, 7).data, 14, 7)).first;
    return it->second.view();
}

void check(PetscErrorCode code) {
    if (code != 0) throw std::runtime_error("SLEPc failed with code " + std::to_string(code));
}

// I - L by rows (L is symmetric, so its columns serve), the diagonal inserted in order.
struct shifted_rows {
    std::vector<PetscInt> starts, columns;
    std::vector<PetscScalar> values;
};

shifted_rows identity_minus(const rotalign::sparse_view& l) {
    shifted_rows out;
    out.starts.push_back(0);
    for (std::size_t j = 0; j < l.n; ++j) {
        bool diagonal = false;
        for (std::int32_t k = l.starts[j]; k < l.starts[j + 1]; ++k) {
            const auto i = static_cast<std::size_t>(l.rows[static_cast<std::size_t>(k)]);
            if (i > j && !diagonal) out.columns.push_back(static_cast<PetscInt>(j)), out.values.push_back(1.0), diagonal = true;
            out.columns.push_back(static_cast<PetscInt>(i));
            out.values.push_back(-l.values[static_cast<std::size_t>(k)]);
        }
        if (!diagonal) out.columns.push_back(static_cast<PetscInt>(j)), out.values.push_back(1.0);
        out.starts.push_back(static_cast<PetscInt>(out.columns.size()));
    }
    return out;
}

void slepc(benchmark::State& state, double tau) {
    const rotalign::sparse_view l = moons(static_cast<std::size_t>(state.range(0)));
    shifted_rows a = identity_minus(l);
    const double before = bench::reset_peak_kib();
    PetscInt iterations = 0, solves = 0, converged = 0;
    std::vector<double> values(pairs);
    for (auto _ : state) {
        Mat m;
        check(MatCreateSeqAIJWithArrays(PETSC_COMM_SELF, static_cast<PetscInt>(l.n), static_cast<PetscInt>(l.n),
                                        a.starts.data(), a.columns.data(), a.values.data(), &m));
        check(MatSetOption(m, MAT_SYMMETRIC, PETSC_TRUE));
        check(MatSetOption(m, MAT_SPD, PETSC_TRUE));
        EPS eps;
        ST st;
        KSP ksp;
        PC pc;
        check(EPSCreate(PETSC_COMM_SELF, &eps));
        check(EPSSetOperators(eps, m, nullptr));
        check(EPSSetProblemType(eps, EPS_HEP));
        check(EPSSetDimensions(eps, static_cast<PetscInt>(pairs), PETSC_DEFAULT, PETSC_DEFAULT));
        check(EPSSetTolerances(eps, 1e-10, 1000));
        check(EPSSetWhichEigenpairs(eps, EPS_TARGET_MAGNITUDE));
        check(EPSSetTarget(eps, -tau));
        check(EPSGetST(eps, &st));
        check(STSetType(st, STSINVERT));
        check(STGetKSP(st, &ksp));
        check(KSPSetType(ksp, KSPPREONLY));
        check(KSPGetPC(ksp, &pc));
        check(PCSetType(pc, PCCHOLESKY));
        check(PCFactorSetMatSolverType(pc, MATSOLVERCHOLMOD));
        check(EPSSolve(eps));
        check(EPSGetConverged(eps, &converged));
        check(EPSGetIterationNumber(eps, &iterations));
        check(KSPGetTotalIterations(ksp, &solves));
        for (PetscInt k = 0; k < std::min<PetscInt>(converged, static_cast<PetscInt>(pairs)); ++k) {
            PetscScalar value;
            check(EPSGetEigenvalue(eps, k, &value, nullptr));
            values[static_cast<std::size_t>(k)] = 1.0 - value;
        }
        check(EPSDestroy(&eps));
        check(MatDestroy(&m));
    }
    state.counters["peak_MB"] = (bench::status_kib("VmHWM") - before) / 1024.0;
    state.counters["iterations"] = static_cast<double>(iterations);
    state.counters["solves"] = static_cast<double>(solves);
    state.counters["converged"] = static_cast<double>(converged);
    // The distance of SLEPc's eigenvalues from the sparse eigen-step's.
    const rotalign::eigenpairs ours = rotalign::leading_eigenpairs(l, pairs);
    double distance = 0.0;
    for (std::size_t k = 0; k < pairs; ++k) distance = std::max(distance, std::fabs(values[k] - ours.values[k]));
    state.counters["dlambda"] = distance;
}

void ours(benchmark::State& state) {
    const rotalign::sparse_view l = moons(static_cast<std::size_t>(state.range(0)));
    const double before = bench::reset_peak_kib();
    rotalign::sparse_eigen_work work;
    for (auto _ : state) benchmark::DoNotOptimize(rotalign::leading_eigenpairs(l, pairs, {}, &work).values.data());
    state.counters["peak_MB"] = (bench::status_kib("VmHWM") - before) / 1024.0;
    state.counters["solves"] = static_cast<double>(work.solves);
    state.counters["restarts"] = static_cast<double>(work.restarts);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(100000)->Arg(1000000)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
}

BENCHMARK(ours)->Apply(sizes);
BENCHMARK_CAPTURE(slepc, tau_1e-8, 1e-8)->Apply(sizes);
BENCHMARK_CAPTURE(slepc, tau_1e-3, 1e-3)->Apply(sizes);

}  // namespace

int main(int argc, char** argv) {
    // PETSc reads its own options from the command line; the benchmark's are left to it.
    check(SlepcInitializeNoArguments());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    check(SlepcFinalize());
    return 0;
}
