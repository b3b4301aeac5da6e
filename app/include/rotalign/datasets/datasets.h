// Generated data sets with known groups, reproducible from a seed on every platform.
#pragma once

#include "rotalign/input/points.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rotalign {

struct labelled_points {
    points data;              // 2-D points
    std::vector<int> truth;   // group of each point, 1 .. groups
    int groups = 0;
};

// Two interleaved half circles of radius 1, Gaussian noise of deviation `noise` on both
// coordinates; points alternate between the moons.
labelled_points two_moons(std::size_t count, std::uint64_t seed, double noise = 0.06);

// Two concentric circles of radius 1 and 0.4 with radial noise, the outer one holding twice the
// points of the inner one.
labelled_points concentric_circles(std::size_t count, std::uint64_t seed, double noise = 0.03);

// Three Gaussian blobs of different spread and size: half the points in a wide blob, a third in
// a middle one and the rest in a tight one.
labelled_points uneven_blobs(std::size_t count, std::uint64_t seed);

// Three parallel horizontal segments of length 8, one unit apart, with small vertical noise; the
// points of a line are spread evenly along it, each at random within its own stretch.
labelled_points parallel_lines(std::size_t count, std::uint64_t seed, double noise = 0.04);

// The data sets above by name: "moons", "circles", "blobs", "lines". Throws input_error for an
// unknown name.
labelled_points generate(const std::string& name, std::size_t count, std::uint64_t seed);
const std::vector<std::string>& dataset_names();

}  // namespace rotalign
