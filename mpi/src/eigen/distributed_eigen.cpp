#include "eigen/distributed_eigen.h"

#include "eigen/distributed_pieces.h"
#include "eigen/elimination_order.h"
#include "eigen/gathered_pieces.h"
#include "eigen/ghost_columns.h"
#include "eigen/leave_together.h"
#include "eigen/pieces.h"
#include "eigen/row_checks.h"
#include "eigen/spread_piece.h"
#include "rotalign/support/errors.h"
#include "support/collective_section.h"
#include "support/distinct.h"

#include <slepcsys.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <string>
#include <utility>

namespace rotalign::mpi {
namespace {

// The one-process step refuses the dense method above this order (2 GiB as a dense matrix).
constexpr std::size_t dense_limit_forced = 16384;

void check_request(MPI_Comm comm, std::size_t n, std::size_t wanted, const sparse_eigen_options& o) {
    std::string fault;
    if (wanted == 0 || wanted > n)
        fault = "cannot take " + std::to_string(wanted) + " eigenvectors of a matrix of order " + std::to_string(n);
    else if (!(o.shift > 0.0) || !std::isfinite(o.shift))
        fault = "the shift must be a positive number";
    else if (!(o.tolerance >= 0.0) || !std::isfinite(o.tolerance))
        fault = "the tolerance must be a finite number of at least 0";
    else if (o.max_restarts < 1)
        fault = "the Lanczos solver needs at least one restart";
    leave_together(comm, fault.empty() ? std::exception_ptr{} : std::make_exception_ptr(input_error(fault)));
}

// SLEPc is started once, by the first spread piece, unless the program started it.
void start_slepc() {
    PetscBool started = PETSC_FALSE;
    SlepcInitialized(&started);
    if (started == PETSC_FALSE && SlepcInitializeNoArguments() != 0)
        throw std::runtime_error("SLEPc could not be initialised");
}

// This rank's rows of piece p in the piece's numbering, with only the entries inside it.
piece_rows rows_of_piece(local_rows& m, const distributed_pieces& pieces, const ghost_columns& ghosts,
                         std::size_t p, std::vector<std::size_t>& own_rows) {
    piece_rows out;
    out.size = pieces.size[p];
    own_rows.clear();
    // One piece: the matrix itself, in its own numbering (a third of the set-up time at 10^6
    // points went to looking the columns up). Its entries move over, since nothing after this
    // reads them: a copy would add the whole matrix to the rank's peak.
    if (pieces.count() == 1) {
        out.first = static_cast<std::int64_t>(m.first);
        out.starts.assign(m.starts.begin(), m.starts.end());
        out.columns = std::move(m.columns);
        out.values = std::move(m.values);
        for (std::size_t i = 0; i < m.count(); ++i) own_rows.push_back(i);
        return out;
    }
    const auto first = static_cast<std::int64_t>(m.first), rows = static_cast<std::int64_t>(m.count());
    const auto piece = static_cast<std::int64_t>(p);
    for (std::size_t i = 0; i < m.count(); ++i) {
        if (pieces.own_piece[i] != piece) continue;
        if (own_rows.empty()) out.first = pieces.own_position[i];
        own_rows.push_back(i);
        for (std::size_t k = m.starts[i]; k < m.starts[i + 1]; ++k) {
            const std::int64_t local = m.columns[k] - first;
            std::int64_t column_piece = 0, position = 0;
            if (local >= 0 && local < rows) {
                column_piece = pieces.own_piece[static_cast<std::size_t>(local)];
                position = pieces.own_position[static_cast<std::size_t>(local)];
            } else {
                const std::size_t g = ghosts.index_of(m.columns[k]);
                column_piece = pieces.ghost_piece[g];
                position = pieces.ghost_position[g];
            }
            if (column_piece != piece) continue;
            out.columns.push_back(position);
            out.values.push_back(m.values[k]);
        }
        out.starts.push_back(static_cast<std::int64_t>(out.columns.size()));
    }
    return out;
}

// The `wanted` largest pairs over all pieces as this rank's rows of the vectors (rows by columns).
// Collective: the gathered pieces' vectors travel from their solvers.
distributed_pairs leading_of_all(std::size_t count, const std::vector<bool>& gathered,
                                 const std::vector<std::size_t>& wanted_of, const gathered_pieces& small,
                                 const std::vector<spread_pairs>& spread,
                                 const std::vector<std::vector<std::size_t>>& spread_rows, std::size_t rows,
                                 std::size_t wanted) {
    // The largest values over all pieces win, equal ones in the order of the pieces.
    struct candidate {
        double value;
        std::size_t piece, k;
    };
    std::vector<candidate> candidates;
    for (std::size_t p = 0; p < count; ++p) {
        const std::vector<double>& values = gathered[p] ? small.values(p) : spread[p].pairs.values;
        for (std::size_t k = 0; k < wanted_of[p]; ++k) candidates.push_back({values[k], p, k});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const candidate& a, const candidate& b) { return a.value > b.value; });

    distributed_pairs out;
    out.components = count;
    out.values.resize(wanted);
    out.vectors.assign(rows * wanted, 0.0);
    std::vector<gathered_pieces::choice> chosen;
    for (std::size_t c = 0; c < wanted; ++c) {
        const candidate& best = candidates[c];
        out.values[c] = best.value;
        if (gathered[best.piece]) {
            chosen.push_back({best.piece, best.k, c});
            continue;
        }
        const std::vector<std::size_t>& own = spread_rows[best.piece];
        const std::vector<double>& v = spread[best.piece].pairs.vectors;
        for (std::size_t t = 0; t < own.size(); ++t) out.vectors[c * rows + own[t]] = v[best.k * own.size() + t];
    }
    small.scatter_vectors(chosen, rows, out.vectors);
    return out;
}

}  // namespace

graph_pieces pieces_of(MPI_Comm comm, const local_rows& m) {
    int rank = 0;
    MPI_Comm_rank(comm, &rank);
    const block_starts blocks =
        block_starts::gather(comm, static_cast<std::int64_t>(m.first), static_cast<std::int64_t>(m.count()));
    // The columns other ranks own, once each.
    std::vector<std::int64_t> remote;
    const auto first = static_cast<std::int64_t>(m.first), own_end = first + static_cast<std::int64_t>(m.count());
    for (const std::int64_t j : m.columns)
        if (j < first || j >= own_end) remote.push_back(j);
    ghost_columns ghosts(comm, blocks, rank, distinct_ascending(std::move(remote), m.global_size));
    distributed_pieces pieces = find_pieces(comm, m, ghosts, negligible_at(m.global_size));
    return {std::move(ghosts), std::move(pieces)};
}

distributed_pairs leading_eigenpairs(MPI_Comm comm, local_rows m, std::size_t wanted,
                                     const sparse_eigen_options& options, sparse_eigen_work* work_out,
                                     std::optional<graph_pieces> found) {
    const block_starts blocks = check_rows(comm, m);
    const std::size_t n = m.global_size, rows = m.count();
    check_request(comm, n, wanted, options);
    check_symmetric(comm, m, blocks);

    // Running out of memory on one rank in a collective stage ends the run (collective_section):
    // the other ranks would wait for it in the stage's exchanges.
    if (!found) found.emplace(collective_section([&] { return pieces_of(comm, m); }));
    const distributed_pieces& pieces = found->pieces;
    const std::size_t count = pieces.count();
    const std::vector<std::int64_t> sizes = pieces.size;

    // Which pieces the one-process step would solve densely: those are gathered.
    sparse_eigen_work work;
    work.components = count;
    std::vector<bool> gathered(count);
    std::vector<std::size_t> wanted_of(count);
    std::string too_large;
    for (std::size_t p = 0; p < count; ++p) {
        const auto size = static_cast<std::size_t>(sizes[p]);
        wanted_of[p] = std::min(wanted, size);
        gathered[p] = options.method == eigen_solver::dense || size <= options.dense_limit || 2 * wanted_of[p] >= size;
        if (gathered[p] && size > dense_limit_forced && too_large.empty())
            too_large = "a piece of " + std::to_string(size) + " points is too large for the dense eigen-solver";
    }
    leave_together(comm, too_large.empty() ? std::exception_ptr{} : std::make_exception_ptr(input_error(too_large)));
    const gathered_pieces small(comm, m, pieces, blocks, found->ghosts, gathered, wanted_of, options, work);

    // The others' rows in their own numbering, then the pieces, the halo and the rows themselves
    // let go: nothing after reads them, and kept they would lie beside the solvers' factors (on
    // 10^6 points over 2 ranks, 54 MB of pieces and halo at each rank).
    std::vector<piece_rows> spread_input(count);
    std::vector<std::vector<std::size_t>> spread_rows(count);
    std::exception_ptr failure;
    try {
        for (std::size_t p = 0; p < count; ++p)
            if (!gathered[p]) spread_input[p] = rows_of_piece(m, pieces, found->ghosts, p, spread_rows[p]);
    } catch (...) {
        failure = std::current_exception();
    }
    leave_together(comm, failure);
    found.reset();
    m = local_rows{};

    // One after another on all ranks.
    std::vector<spread_pairs> spread(count);
    for (std::size_t p = 0; p < count; ++p) {
        if (gathered[p]) continue;
        try {
            if (options.interrupt_check) options.interrupt_check();
            start_slepc();
            spread[p] = solve_in_elimination_order(comm, std::move(spread_input[p]), wanted_of[p], options, work);
        } catch (...) {
            failure = std::current_exception();
        }
        leave_together(comm, failure);
    }

    distributed_pairs out = collective_section(
        [&] { return leading_of_all(count, gathered, wanted_of, small, spread, spread_rows, rows, wanted); });

    // The method of the largest piece, the first of them when several share its size.
    std::size_t largest = 0;
    for (std::size_t p = 1; p < count; ++p)
        if (sizes[p] > sizes[largest]) largest = p;
    out.method = gathered[largest] ? name_of(small.method(largest)) : spread[largest].method;
    work.used = gathered[largest] ? small.method(largest) : spread[largest].used;
    if (work_out != nullptr) *work_out = work;
    return out;
}

}  // namespace rotalign::mpi
