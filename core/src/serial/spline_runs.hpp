// Runs of consecutive elements that are the B-splines of one knot vector, found so that the
// binary form can store a run as its knots and rebuild it through the constructor.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quorvel/element.hpp"

namespace quorvel {

// Elements first ... first + count - 1 are, bit for bit, what bsplines(knots, degree) makes
// (knots holds count + degree + 1 values).
struct SplineRun {
    std::size_t first = 0, count = 0, degree = 0;
    std::vector<double> knots;
};

// The runs of `elements`, in ascending order of `first`, none overlapping. An element is put in
// a run only after the constructor was run on its knots and made exactly that element, so
// storing a run's knots in place of its elements loses nothing. The last `degree` B-splines of a
// knot vector (whose knots cannot all be read off the elements that follow them) and B-splines
// that were moved or wrapped (periodic families) are left out of runs.
std::vector<SplineRun> find_spline_runs(std::span<const Element> elements);

} // namespace quorvel
