// Runs of consecutive elements that are the B-splines of one knot vector, found so that the
// binary form can store a run as its knots and rebuild it through the constructor.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quorvel/element.hpp"

namespace quorvel {

// Elements first ... first + count - 1 are, bit for bit, what bsplines(knots, degree) makes
// (knots holds count + degree + 1 values), or, `periodic`, what bsplines_periodic(knots, degree)
// makes (knots holds the count + 1 breakpoints).
struct SplineRun {
    std::size_t first = 0, count = 0, degree = 0;
    std::vector<double> knots;
    bool periodic = false;
};

// The runs of `elements`, in ascending order of `first`, none overlapping. An element is put in
// a run only after the constructor was run on its knots and made exactly that element, so
// storing a run's knots in place of its elements loses nothing. A periodic family is found
// only as a whole space; B-splines moved by a map are left out of runs.
std::vector<SplineRun> find_spline_runs(std::span<const Element> elements);

} // namespace quorvel
