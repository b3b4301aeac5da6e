// Moving whole arrays between the ranks: gathering blocks to rank 0, handing them out, and
// sending one array to every rank. MPI counts are ints: larger arrays go in pieces. The other
// ranks wait inside these for each rank's part, so a failure in one of them (running out of
// memory for what arrives) ends the run (collective_section).
#pragma once

#include "support/collective_section.h"

#include <mpi.h>

#include <cstddef>
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace rotalign::mpi {

template <typename T>
MPI_Datatype type_of() {
    if constexpr (std::is_same_v<T, double>) return MPI_DOUBLE;
    else if constexpr (std::is_same_v<T, int>) return MPI_INT;
    else if constexpr (std::is_same_v<T, std::int64_t>) return MPI_INT64_T;
    else if constexpr (std::is_same_v<T, std::uint64_t> || std::is_same_v<T, std::size_t>) return MPI_UINT64_T;
    else if constexpr (std::is_same_v<T, std::uint32_t>) return MPI_UINT32_T;
    else if constexpr (std::is_same_v<T, char>) return MPI_CHAR;
    else static_assert(sizeof(T) == 0, "no MPI type");
}

// The most elements one MPI call moves here.
constexpr std::size_t piece_elements = std::size_t{1} << 28;

// Point-to-point, in pieces: `count` elements from `from` on rank `source` to `to` on rank `target`.
template <typename T>
void send_array(MPI_Comm comm, const T* from, std::size_t count, int target, int tag) {
    for (std::size_t done = 0; done < count; done += piece_elements) {
        const std::size_t n = std::min(piece_elements, count - done);
        MPI_Send(from + done, static_cast<int>(n), type_of<T>(), target, tag, comm);
    }
}
template <typename T>
void receive_array(MPI_Comm comm, T* to, std::size_t count, int source, int tag) {
    for (std::size_t done = 0; done < count; done += piece_elements) {
        const std::size_t n = std::min(piece_elements, count - done);
        MPI_Recv(to + done, static_cast<int>(n), type_of<T>(), source, tag, comm, MPI_STATUS_IGNORE);
    }
}

// Rank 0 receives every rank's `mine` one after the other in rank order; the others get nothing.
template <typename T>
std::vector<T> gather_to_root(MPI_Comm comm, const std::vector<T>& mine) {
    return collective_section([&]() -> std::vector<T> {
        int rank = 0, size = 1;
        MPI_Comm_rank(comm, &rank);
        MPI_Comm_size(comm, &size);
        std::uint64_t count = mine.size();
        std::vector<std::uint64_t> counts(static_cast<std::size_t>(size));
        MPI_Gather(&count, 1, MPI_UINT64_T, counts.data(), 1, MPI_UINT64_T, 0, comm);
        constexpr int tag = 71;
        if (rank != 0) {
            send_array(comm, mine.data(), mine.size(), 0, tag);
            return {};
        }
        std::size_t total = 0;
        for (std::uint64_t c : counts) total += static_cast<std::size_t>(c);
        std::vector<T> all(total);
        std::copy(mine.begin(), mine.end(), all.begin());
        std::size_t at = mine.size();
        for (int r = 1; r < size; ++r) {
            receive_array(comm, all.data() + at, static_cast<std::size_t>(counts[static_cast<std::size_t>(r)]), r, tag);
            at += static_cast<std::size_t>(counts[static_cast<std::size_t>(r)]);
        }
        return all;
    });
}

// Rank 0's `values` on every rank (the others' are replaced).
template <typename T>
void broadcast(MPI_Comm comm, std::vector<T>& values) {
    collective_section([&] {
        std::uint64_t count = values.size();
        MPI_Bcast(&count, 1, MPI_UINT64_T, 0, comm);
        values.resize(static_cast<std::size_t>(count));
        for (std::size_t done = 0; done < values.size(); done += piece_elements) {
            const std::size_t n = std::min(piece_elements, values.size() - done);
            MPI_Bcast(values.data() + done, static_cast<int>(n), type_of<T>(), 0, comm);
        }
    });
}

inline std::length_error too_large_exchange() {
    return std::length_error("one exchange between the ranks would move 2^31 or more values to or from one rank; "
                             "run on more ranks");
}

// All to all from one array: `counts[r]` elements go to rank r, the parts one after the other in
// rank order. The result holds what came, in rank order as well; `received_counts[r]` says how
// much came from rank r. What one rank sends or receives in all must stay below 2^31 elements
// (MPI's int counts; the callers' messages are a rank's share of lists).
template <typename T>
std::vector<T> all_to_all(MPI_Comm comm, const std::vector<T>& outgoing, const std::vector<std::size_t>& counts,
                          std::vector<std::size_t>& received_counts) {
    return collective_section([&] {
        const std::size_t size = counts.size();
        std::vector<int> send_counts(size), receive_counts(size), send_at(size), receive_at(size);
        std::size_t sent = 0;
        for (std::size_t r = 0; r < size; ++r) {
            if (sent + counts[r] > static_cast<std::size_t>(INT_MAX)) throw too_large_exchange();
            send_at[r] = static_cast<int>(sent);
            send_counts[r] = static_cast<int>(counts[r]);
            sent += counts[r];
        }
        if (sent != outgoing.size()) throw std::invalid_argument("all_to_all: the counts do not add up to the array");
        MPI_Alltoall(send_counts.data(), 1, MPI_INT, receive_counts.data(), 1, MPI_INT, comm);
        std::size_t total = 0;
        received_counts.assign(size, 0);
        for (std::size_t r = 0; r < size; ++r) {
            receive_at[r] = static_cast<int>(total);
            received_counts[r] = static_cast<std::size_t>(receive_counts[r]);
            total += received_counts[r];
            if (total > static_cast<std::size_t>(INT_MAX)) throw too_large_exchange();
        }
        std::vector<T> received(total);
        MPI_Alltoallv(outgoing.data(), send_counts.data(), send_at.data(), type_of<T>(), received.data(),
                      receive_counts.data(), receive_at.data(), type_of<T>(), comm);
        return received;
    });
}

// All to all: `outgoing[r]` goes to rank r; the result's [r] came from rank r.
template <typename T>
std::vector<std::vector<T>> all_to_all(MPI_Comm comm, const std::vector<std::vector<T>>& outgoing) {
    return collective_section([&] {
        std::size_t total = 0;
        for (const auto& part : outgoing) total += part.size();
        // At its final size at once: grown part by part, it would be copied to fresh pages.
        std::vector<T> sending;
        sending.reserve(total);
        std::vector<std::size_t> counts;
        for (const auto& part : outgoing) {
            sending.insert(sending.end(), part.begin(), part.end());
            counts.push_back(part.size());
        }
        std::vector<std::size_t> received_counts;
        const std::vector<T> received = all_to_all(comm, sending, counts, received_counts);
        std::vector<std::vector<T>> incoming(outgoing.size());
        auto from = received.begin();
        for (std::size_t r = 0; r < incoming.size(); ++r) {
            incoming[r].assign(from, from + static_cast<std::ptrdiff_t>(received_counts[r]));
            from += static_cast<std::ptrdiff_t>(received_counts[r]);
        }
        return incoming;
    });
}

}  // namespace rotalign::mpi
