#include "support/result_bytes.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace rotalign::mpi {
namespace {

// A result as the sample's chain leaves it: what the summary prints survives the trip, and bytes
// cut short anywhere are refused, never read past their end.
TEST(ResultBytes, SurviveTheTripAndRefuseBytesCutShort) {
    cluster_result r;
    r.groups = {1, 2, 2, 0, 1};
    r.chosen = 2;
    r.note = "a note";
    r.runner_up = 3;
    r.margin = 0.25;
    r.clear = false;
    r.candidates = {{7, 2, 0.5, true}, {10, 3, 0.25, false}};
    r.graphs_agree = false;
    r.quality = {1.0, 0.75};
    r.eigenvalues = {1.0, 0.5, 0.125};
    r.eigen_method = "shift-invert";
    r.graph = graph_kind::knn;
    r.graph_entries = 123;
    r.unit_contrast = spread_contrast{1, 0, 300.0, 1.5};
    r.times.rotation = 0.5;

    const std::vector<char> bytes = result_bytes(r);
    const cluster_result back = result_from_bytes(bytes);
    EXPECT_EQ(back.groups, r.groups);
    EXPECT_EQ(back.note, r.note);
    EXPECT_EQ(back.margin, r.margin);
    EXPECT_FALSE(back.clear);
    ASSERT_EQ(back.candidates.size(), 2u);
    EXPECT_EQ(back.candidates[1].neighbours, 10u);
    EXPECT_EQ(back.eigenvalues, r.eigenvalues);
    EXPECT_EQ(back.eigen_method, r.eigen_method);
    EXPECT_EQ(back.graph, graph_kind::knn);
    ASSERT_TRUE(back.unit_contrast.has_value());
    EXPECT_EQ(back.unit_contrast->widest_spread, 300.0);
    EXPECT_EQ(back.times.rotation, 0.5);
    EXPECT_EQ(result_bytes(back), bytes);

    for (std::size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_THROW(result_from_bytes(std::vector<char>(bytes.begin(), bytes.begin() + static_cast<long>(cut))),
                     std::runtime_error)
            << "cut at " << cut;
}

}  // namespace
}  // namespace rotalign::mpi
