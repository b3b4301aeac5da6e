#include "support/ranks.h"
#include "support/row_blocks.h"

#include <gtest/gtest.h>

#include <string>

namespace rotalign::mpi {
namespace {

// For many sizes and rank counts the blocks cover the points in order without gaps, differ by at
// most one point, and owner() names the block that holds each point.
TEST(RowBlocks, CoverThePointsInOrder) {
    for (std::size_t points : {0u, 1u, 2u, 5u, 7u, 64u, 1000u, 1001u})
        for (int ranks = 1; ranks <= 9; ++ranks) {
            const row_blocks blocks{points, ranks};
            EXPECT_EQ(blocks.first(0), 0u);
            EXPECT_EQ(blocks.first(ranks), points);
            std::size_t smallest = points, largest = 0;
            for (int r = 0; r < ranks; ++r) {
                ASSERT_LE(blocks.first(r), blocks.first(r + 1));
                smallest = std::min(smallest, blocks.count(r));
                largest = std::max(largest, blocks.count(r));
                for (std::size_t p = blocks.first(r); p < blocks.first(r + 1); ++p)
                    ASSERT_EQ(blocks.owner(p), r) << points << " points, " << ranks << " ranks, point " << p;
            }
            EXPECT_LE(largest - smallest, 1u);
        }
}

// The lowest failing rank's message reaches every rank; no failure gives an empty message.
TEST(Ranks, AgreeOnTheFirstFailure) {
    const rank_context c = context_of(MPI_COMM_WORLD);
    EXPECT_EQ(first_failure(c.comm, ""), "");
    EXPECT_FALSE(any_failed(c.comm, false));
    const int failing = c.size - 1;
    const std::string mine = c.rank >= failing ? "rank " + std::to_string(c.rank) + " failed" : "";
    EXPECT_EQ(first_failure(c.comm, mine), "rank " + std::to_string(failing) + " failed");
    EXPECT_TRUE(any_failed(c.comm, c.rank == failing));
}

}  // namespace
}  // namespace rotalign::mpi
