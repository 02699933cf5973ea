// A Space: ordered immutable elements with an index of their supports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "quorvel/element.hpp"
#include "quorvel/error.hpp"

namespace quorvel {

struct PointBucketCache;

struct Space {
    std::vector<Element> elements;
    std::vector<double> lower, upper;
    std::vector<std::uint64_t> order; // element indices sorted stably by lower bound
    std::vector<double> sorted_lower;
    double max_width = 0.0; // largest upper - lower, never below the exact difference
    // The unweighted integrals of the elements when every element has a closed form, else empty;
    // empty too when every element is a Delta (each integrates to 1).
    std::vector<double> closed_integrals;
    // The bucket table of the overlap index (quorvel/point_index.hpp), built on first need and
    // shared by copies of the space, which have the same sorted lower ends.
    std::shared_ptr<PointBucketCache> index_cache;

    std::size_t size() const { return elements.size(); }
};

using SpacePtr = std::shared_ptr<const Space>;

// Takes the elements and builds the support index; cannot fail.
Space build_space(std::vector<Element> elements);

// Whether every element is a Delta.
bool is_point_space(const Space& space);

// Fills `out` with the ascending indices of the elements whose closed support meets [lo, hi]: one
// query of the space's index (quorvel/point_index.hpp), which a caller with many builds once.
void overlapping(const Space& space, double lo, double hi, std::vector<std::size_t>& out);

std::vector<double> centers(const Space& space);
Result<Space> take(const Space& space, std::span<const std::uint64_t> indices);
Space concatenate(std::span<const SpacePtr> spaces);
Result<Space> derivative(const Space& space, std::uint64_t order);

} // namespace quorvel
