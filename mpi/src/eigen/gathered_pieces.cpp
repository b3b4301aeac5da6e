#include "eigen/gathered_pieces.h"

#include "eigen/leave_together.h"
#include "eigen/piece_solver.h"
#include "graph/sparse_graph.h"
#include "support/collective_section.h"

#include <exception>

namespace rotalign::mpi {
namespace {

int ranks_of(MPI_Comm comm) {
    int ranks = 1;
    MPI_Comm_size(comm, &ranks);
    return ranks;
}

std::size_t total(const std::vector<int>& counts, const std::vector<int>& offsets) {
    return counts.empty() ? 0 : static_cast<std::size_t>(offsets.back()) + static_cast<std::size_t>(counts.back());
}

// Sends each rank its slice of `out` (counts per rank, in rank order) and returns what came in,
// with the incoming counts per rank.
template <typename T>
std::vector<T> exchange(MPI_Comm comm, MPI_Datatype type, const std::vector<T>& out, const std::vector<int>& counts,
                        std::vector<int>& incoming) {
    incoming.assign(counts.size(), 0);
    MPI_Alltoall(counts.data(), 1, MPI_INT, incoming.data(), 1, MPI_INT, comm);
    const std::vector<int> offsets = offsets_of(counts), incoming_offsets = offsets_of(incoming);
    std::vector<T> in(total(incoming, incoming_offsets));
    MPI_Alltoallv(out.data(), counts.data(), offsets.data(), type, in.data(), incoming.data(), incoming_offsets.data(),
                  type, comm);
    return in;
}

// Own row i's entries in the numbering of pieces: the piece and position of each column.
struct entry_places {
    const local_rows& m;
    const distributed_pieces& pieces;
    const ghost_columns& ghosts;

    std::pair<std::int64_t, std::int64_t> of(std::size_t k) const {
        const std::int64_t j = m.columns[k], local = j - static_cast<std::int64_t>(m.first);
        if (local >= 0 && local < static_cast<std::int64_t>(m.count()))
            return {pieces.own_piece[static_cast<std::size_t>(local)],
                    pieces.own_position[static_cast<std::size_t>(local)]};
        const std::size_t g = ghosts.index_of(j);
        return {pieces.ghost_piece[g], pieces.ghost_position[g]};
    }
};

}  // namespace

gathered_pieces::gathered_pieces(MPI_Comm comm, const local_rows& m, const distributed_pieces& pieces,
                                 const block_starts& blocks, const ghost_columns& ghosts,
                                 const std::vector<bool>& gathered, const std::vector<std::size_t>& wanted,
                                 const sparse_eigen_options& options, sparse_eigen_work& work)
    : comm_(comm),
      values_(pieces.count()),
      methods_(pieces.count(), eigen_solver::dense),
      solved_index_(pieces.count(), -1) {
    const auto ranks = static_cast<std::size_t>(ranks_of(comm));
    int rank = 0;
    MPI_Comm_rank(comm, &rank);
    const auto solver_of = [&](std::size_t p) { return static_cast<std::size_t>(blocks.owner(pieces.first_point[p])); };
    // Running out of memory on one rank here would leave the others in the exchanges.
    std::vector<sparse_matrix> matrices = collective_section([&] {
        const entry_places places{m, pieces, ghosts};

        // Each own row of a gathered piece travels to the piece's solver as (piece, position, own
        // row, entries) and the entries' positions, with the entries' values beside.
        std::vector<int> header_counts(ranks, 0), value_counts(ranks, 0);
        std::vector<std::vector<std::int64_t>> headers(ranks);
        std::vector<std::vector<double>> values(ranks);
        for (std::size_t i = 0; i < m.count(); ++i) {
            const auto p = static_cast<std::size_t>(pieces.own_piece[i]);
            if (!gathered[p]) continue;
            const std::size_t to = solver_of(p);
            std::vector<std::int64_t>& h = headers[to];
            const std::size_t at = h.size();
            h.insert(h.end(), {static_cast<std::int64_t>(p), pieces.own_position[i], static_cast<std::int64_t>(i), 0});
            for (std::size_t k = m.starts[i]; k < m.starts[i + 1]; ++k) {
                const auto [piece, position] = places.of(k);
                if (piece != static_cast<std::int64_t>(p)) continue;  // a negligible link to another piece
                h.push_back(position);
                values[to].push_back(m.values[k]);
                ++h[at + 3];
            }
        }
        std::vector<std::int64_t> header_out;
        std::vector<double> value_out;
        for (std::size_t r = 0; r < ranks; ++r) {
            header_counts[r] = message_count(headers[r].size());
            value_counts[r] = message_count(values[r].size());
            header_out.insert(header_out.end(), headers[r].begin(), headers[r].end());
            value_out.insert(value_out.end(), values[r].begin(), values[r].end());
            headers[r] = {};
            values[r] = {};
        }
        std::vector<int> header_incoming, value_incoming;
        const std::vector<std::int64_t> header_in =
            exchange(comm, MPI_INT64_T, header_out, header_counts, header_incoming);
        const std::vector<double> value_in = exchange(comm, MPI_DOUBLE, value_out, value_counts, value_incoming);
        header_out = {};
        value_out = {};

        // The pieces solved here, as matrices in their own numbering (columns = rows, symmetric).
        std::vector<sparse_matrix> built;
        for (std::size_t p = 0; p < pieces.count(); ++p)
            if (gathered[p] && solver_of(p) == static_cast<std::size_t>(rank)) {
                solved_index_[p] = static_cast<std::int64_t>(solved_.size());
                solved_.emplace_back();
                const auto size = static_cast<std::size_t>(pieces.size[p]);
                solved_.back().source_rank.assign(size, 0);
                solved_.back().source_row.assign(size, 0);
                built.emplace_back();
                built.back().n = size;
                built.back().starts.assign(size + 1, 0);
            }
        // Twice over what came in: the entries per column and where each row came from, then the entries.
        for (int pass = 0; pass < 2; ++pass) {
            std::size_t h = 0, v = 0;
            for (std::size_t source = 0; source < ranks; ++source) {
                const std::size_t end = h + static_cast<std::size_t>(header_incoming[source]);
                while (h < end) {
                    const auto slot = static_cast<std::size_t>(solved_index_[static_cast<std::size_t>(header_in[h])]);
                    const auto position = static_cast<std::size_t>(header_in[h + 1]);
                    const auto entries = static_cast<std::size_t>(header_in[h + 3]);
                    sparse_matrix& a = built[slot];
                    if (pass == 0) {
                        a.starts[position + 1] = static_cast<std::int32_t>(entries);
                        solved_[slot].source_rank[position] = static_cast<int>(source);
                        solved_[slot].source_row[position] = header_in[h + 2];
                    } else {
                        auto at = static_cast<std::size_t>(a.starts[position]);
                        for (std::size_t e = 0; e < entries; ++e, ++at) {
                            a.rows[at] = static_cast<std::int32_t>(header_in[h + 4 + e]);
                            a.values[at] = value_in[v + e];
                        }
                    }
                    h += 4 + entries;
                    v += entries;
                }
            }
            if (pass == 0)
                for (sparse_matrix& a : built) {
                    for (std::size_t c = 0; c < a.n; ++c) a.starts[c + 1] += a.starts[c];
                    a.rows.resize(static_cast<std::size_t>(a.starts[a.n]));
                    a.values.resize(a.rows.size());
                }
        }
        return built;
    });

    // Solve, then every rank learns every gathered piece's values: (piece, method, values...).
    std::exception_ptr failure;
    std::vector<double> summary;
    try {
        for (std::size_t p = 0; p < pieces.count(); ++p) {
            if (solved_index_[p] < 0) continue;
            const auto slot = static_cast<std::size_t>(solved_index_[p]);
            if (options.interrupt_check) options.interrupt_check();
            eigen_solver used = eigen_solver::dense;
            solved_[slot].pairs = solve_piece(matrices[slot].view(), wanted[p], options, work, used);
            matrices[slot] = {};
            summary.push_back(static_cast<double>(p));
            summary.push_back(static_cast<double>(static_cast<int>(used)));
            summary.insert(summary.end(), solved_[slot].pairs.values.begin(), solved_[slot].pairs.values.end());
        }
    } catch (...) {
        failure = std::current_exception();
    }
    leave_together(comm, failure);
    collective_section([&] {
        const int count = message_count(summary.size());
        std::vector<int> counts(ranks);
        MPI_Allgather(&count, 1, MPI_INT, counts.data(), 1, MPI_INT, comm);
        const std::vector<int> offsets = offsets_of(counts);
        std::vector<double> all(total(counts, offsets));
        MPI_Allgatherv(summary.data(), count, MPI_DOUBLE, all.data(), counts.data(), offsets.data(), MPI_DOUBLE, comm);
        for (std::size_t at = 0; at < all.size();) {
            const auto p = static_cast<std::size_t>(all[at]);
            methods_[p] = static_cast<eigen_solver>(static_cast<int>(all[at + 1]));
            values_[p].assign(all.begin() + static_cast<std::ptrdiff_t>(at + 2),
                              all.begin() + static_cast<std::ptrdiff_t>(at + 2 + wanted[p]));
            at += 2 + wanted[p];
        }
    });
}

void gathered_pieces::scatter_vectors(const std::vector<choice>& chosen, std::size_t rows,
                                      std::vector<double>& vectors) const {
    const auto ranks = static_cast<std::size_t>(ranks_of(comm_));
    // (own row, column) and the value, per receiving rank.
    std::vector<std::vector<std::int64_t>> places(ranks);
    std::vector<std::vector<double>> values(ranks);
    for (const choice& c : chosen) {
        if (solved_index_[c.piece] < 0) continue;
        const solved_piece& s = solved_[static_cast<std::size_t>(solved_index_[c.piece])];
        const std::size_t size = s.source_row.size();
        for (std::size_t q = 0; q < size; ++q) {
            const auto to = static_cast<std::size_t>(s.source_rank[q]);
            places[to].push_back(s.source_row[q]);
            places[to].push_back(static_cast<std::int64_t>(c.column));
            values[to].push_back(s.pairs.vectors[c.k * size + q]);
        }
    }
    std::vector<int> place_counts(ranks), value_counts(ranks);
    std::vector<std::int64_t> place_out;
    std::vector<double> value_out;
    for (std::size_t r = 0; r < ranks; ++r) {
        place_counts[r] = message_count(places[r].size());
        value_counts[r] = message_count(values[r].size());
        place_out.insert(place_out.end(), places[r].begin(), places[r].end());
        value_out.insert(value_out.end(), values[r].begin(), values[r].end());
    }
    std::vector<int> incoming;
    const std::vector<std::int64_t> place_in = exchange(comm_, MPI_INT64_T, place_out, place_counts, incoming);
    const std::vector<double> value_in = exchange(comm_, MPI_DOUBLE, value_out, value_counts, incoming);
    for (std::size_t e = 0; e < value_in.size(); ++e)
        vectors[static_cast<std::size_t>(place_in[2 * e + 1]) * rows + static_cast<std::size_t>(place_in[2 * e])] =
            value_in[e];
}

}  // namespace rotalign::mpi
