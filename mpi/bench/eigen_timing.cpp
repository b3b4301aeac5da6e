// Times the eigen-step on a normalised affinity, across ranks and on one process, with the peak
// resident memory of each rank during the solve (Linux /proc).
//
//   mpi_eigen_timing write POINTS.npy MATRIX.bin     the affinity of `rotalign cluster --graph knn`
//   mpi_eigen_timing one MATRIX.bin [PAIRS]          the one-process sparse eigen-step
//   mpiexec -n P mpi_eigen_timing spread MATRIX.bin [PAIRS]
//
// MATRIX.bin holds N and the entry count (int64), N + 1 offsets (int64), the row indices (int32)
// and the values (double) of the symmetric matrix by columns; each rank reads only its rows.
#include "eigen/distributed_eigen.h"
#include "support/freed_memory.h"
#include "support/row_blocks.h"

#include "rotalign/chain.h"
#include "rotalign/eigen/sparse_eigen.h"
#include "rotalign/input/points.h"
#include "rotalign/support/toolbox.h"

#include "peak_memory.h"

#include <mpi.h>
#include <slepcsys.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

double status_mib(const std::string& field) { return bench::status_kib(field) / 1024.0; }

double reset_peak_mib() { return bench::reset_peak_kib() / 1024.0; }

template <typename T>
void read_at(std::ifstream& in, std::int64_t offset, T* out, std::size_t count) {
    in.seekg(offset);
    in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count * sizeof(T)));
    if (!in) throw std::runtime_error("the matrix file is shorter than its header says");
}

struct matrix_file {
    std::ifstream in;
    std::int64_t n = 0, entries = 0;

    explicit matrix_file(const std::string& path) : in(path, std::ios::binary) {
        if (!in) throw std::runtime_error("cannot open " + path);
        std::int64_t header[2];
        read_at(in, 0, header, 2);
        n = header[0];
        entries = header[1];
    }
    std::int64_t offsets_at() const { return 16; }
    std::int64_t rows_at() const { return offsets_at() + 8 * (n + 1); }
    std::int64_t values_at() const { return rows_at() + 4 * entries; }
};

int write_matrix(const std::string& points_path, const std::string& out_path, const std::string& plugin_dir) {
    rotalign::toolbox plugins(plugin_dir);
    rotalign::cluster_options options;
    options.graph = rotalign::graph_kind::knn;
    const rotalign::points p = rotalign::read_points_file(points_path);
    const mexhost::array_ptr m = rotalign::normalised_affinity(plugins, p, options);
    const rotalign::sparse_view v = rotalign::sparse_view_of(m.get());
    std::ofstream out(out_path, std::ios::binary);
    const std::int64_t header[2] = {static_cast<std::int64_t>(v.n), static_cast<std::int64_t>(v.entries())};
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    for (std::size_t j = 0; j <= v.n; ++j) {
        const std::int64_t s = v.starts[j];
        out.write(reinterpret_cast<const char*>(&s), sizeof s);
    }
    out.write(reinterpret_cast<const char*>(v.rows), static_cast<std::streamsize>(v.entries() * 4));
    out.write(reinterpret_cast<const char*>(v.values), static_cast<std::streamsize>(v.entries() * 8));
    std::printf("%zu points, %zu entries\n", v.n, v.entries());
    return out ? 0 : 1;
}

int one_process(const std::string& path, std::size_t pairs) {
    matrix_file f(path);
    std::vector<std::int64_t> offsets(static_cast<std::size_t>(f.n + 1));
    read_at(f.in, f.offsets_at(), offsets.data(), offsets.size());
    std::vector<std::int32_t> starts(offsets.begin(), offsets.end()), rows(static_cast<std::size_t>(f.entries));
    offsets = {};
    std::vector<double> values(rows.size());
    read_at(f.in, f.rows_at(), rows.data(), rows.size());
    read_at(f.in, f.values_at(), values.data(), values.size());
    const rotalign::sparse_view v{static_cast<std::size_t>(f.n), starts.data(), rows.data(), values.data()};
    const double before = reset_peak_mib();
    const auto start = std::chrono::steady_clock::now();
    rotalign::sparse_eigen_work work;
    const rotalign::eigenpairs e = rotalign::leading_eigenpairs(v, pairs, {}, &work);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "one process: %.2f s, resident %.0f MiB before, peak %.0f MiB; %s, %zu pieces, %lld solves, "
        "factor %.0f MiB (analyse %.2f s, factorise %.2f s, iterate %.2f s)\n",
        seconds, before, status_mib("VmHWM"), rotalign::name_of(work.used).c_str(), work.components, work.solves,
        work.factor_bytes / 1048576.0, work.analyse_seconds, work.factorise_seconds, work.iterate_seconds);
    for (double value : e.values) std::printf("  %.17g\n", value);
    return 0;
}

int spread(const std::string& path, std::size_t pairs) {
    int rank = 0, ranks = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &ranks);
    matrix_file f(path);
    const rotalign::mpi::row_blocks blocks{static_cast<std::size_t>(f.n), ranks};
    const std::size_t first = blocks.first(rank), count = blocks.count(rank);
    rotalign::mpi::local_rows m;
    m.global_size = static_cast<std::size_t>(f.n);
    m.first = first;
    std::vector<std::int64_t> offsets(count + 1);
    read_at(f.in, f.offsets_at() + 8 * static_cast<std::int64_t>(first), offsets.data(), offsets.size());
    const std::int64_t begin = offsets[0], end = offsets[count];
    m.starts.clear();
    for (const std::int64_t o : offsets) m.starts.push_back(static_cast<std::size_t>(o - begin));
    std::vector<std::int32_t> rows(static_cast<std::size_t>(end - begin));
    read_at(f.in, f.rows_at() + 4 * begin, rows.data(), rows.size());
    m.columns.assign(rows.begin(), rows.end());
    rows = {};
    m.values.resize(m.columns.size());
    read_at(f.in, f.values_at() + 8 * begin, m.values.data(), m.values.size());
    // SLEPc started outside the timed stretch, as a program would start it.
    SlepcInitializeNoArguments();
    MPI_Barrier(MPI_COMM_WORLD);
    const double before = reset_peak_mib();
    const auto start = std::chrono::steady_clock::now();
    rotalign::sparse_eigen_work work;
    // The rows move in, as the chain hands them over.
    const rotalign::mpi::distributed_pairs e =
        rotalign::mpi::leading_eigenpairs(MPI_COMM_WORLD, std::move(m), pairs, {}, &work);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double peak = status_mib("VmHWM");
    for (int r = 0; r < ranks; ++r) {
        MPI_Barrier(MPI_COMM_WORLD);
        if (r == rank)
            std::printf(
                "rank %d of %d: %.2f s, %zu rows, resident %.0f MiB before, peak %.0f MiB; %s, %zu pieces, "
                "%lld solves, %lld restarts, factor %.0f MiB (analyse %.2f s, factorise %.2f s, iterate %.2f s)\n",
                rank, ranks, seconds, count, before, peak, e.method.c_str(), e.components, work.solves, work.restarts,
                work.factor_bytes / 1048576.0, work.analyse_seconds, work.factorise_seconds, work.iterate_seconds);
        std::fflush(stdout);
    }
    if (rank == 0)
        for (double value : e.values) std::printf("  %.17g\n", value);
    SlepcFinalize();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    // As rotalign-mpi runs: freed arrays leave the resident memory.
    rotalign::mpi::return_freed_memory();
    int status = 2;
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        const auto pairs = [argc, argv] { return argc > 3 ? std::stoul(argv[3]) : std::size_t{10}; };
        if (mode == "write" && argc == 4)
            status = write_matrix(argv[2], argv[3], TOOLBOX_PLUGIN_DIR);
        else if (mode == "one" && argc >= 3)
            status = one_process(argv[2], pairs());
        else if (mode == "spread" && argc >= 3)
            status = spread(argv[2], pairs());
        else
            std::fprintf(stderr,
                         "usage: mpi_eigen_timing write POINTS.npy MATRIX.bin | one MATRIX.bin [PAIRS] | "
                         "spread MATRIX.bin [PAIRS]\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mpi_eigen_timing: %s\n", e.what());
        status = 1;
    }
    MPI_Finalize();
    return status;
}
