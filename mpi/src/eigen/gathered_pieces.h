// The pieces small enough to solve on one rank: each gathered whole on the rank that owns its
// first point and solved there by the one-process piece solver, so that it gives what the
// one-process eigen-step gives, bit for bit.
#pragma once

#include "eigen/distributed_pieces.h"
#include "eigen/pieces.h"
#include "graph/local_rows.h"
#include "rotalign/eigen/sparse_eigen.h"

#include <mpi.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rotalign::mpi {

class gathered_pieces {
public:
    // Gathers and solves the pieces p with gathered[p]; wanted[p] pairs each. Collective; leaves
    // together (leave_together) when a solve fails on some rank.
    gathered_pieces(MPI_Comm comm, const local_rows& m, const distributed_pieces& pieces, const block_starts& blocks,
                    const ghost_columns& ghosts, const std::vector<bool>& gathered,
                    const std::vector<std::size_t>& wanted, const sparse_eigen_options& options,
                    sparse_eigen_work& work);

    // Every gathered piece's values and method, the same on every rank (empty for the others).
    const std::vector<double>& values(std::size_t piece) const { return values_[piece]; }
    eigen_solver method(std::size_t piece) const { return methods_[piece]; }

    // Writes pair k of each chosen piece into column c of the own rows' vectors (rows by columns),
    // for chosen (piece, k, c); the solving ranks send them to the rows' owners. Collective.
    struct choice {
        std::size_t piece, k, column;
    };
    void scatter_vectors(const std::vector<choice>& chosen, std::size_t rows, std::vector<double>& vectors) const;

private:
    MPI_Comm comm_;
    std::vector<std::vector<double>> values_;
    std::vector<eigen_solver> methods_;
    // Of each piece solved here: its pairs and, by position, the rank and own row each point came from.
    struct solved_piece {
        piece_pairs pairs;
        std::vector<int> source_rank;
        std::vector<std::int64_t> source_row;
    };
    std::vector<std::int64_t> solved_index_;  // per piece: into solved_, or -1
    std::vector<solved_piece> solved_;
};

}  // namespace rotalign::mpi
