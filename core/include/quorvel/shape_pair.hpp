// The inner product of two Shape elements without a weight, the most common pair of every Gram
// and cross matrix, without the generic breakpoint sort and the per-node dispatch.
#pragma once

#include <vector>

#include "quorvel/element.hpp"

namespace quorvel {

// Whether a shape's segments ascend without overlap (a < b <= next a, all finite): the condition
// under which shape_pair_integral applies.
bool ordered_segments(const Shape& s);

// Bitwise pair_inner_product(a, b, no weight, list) for two shapes with ordered segments.
double shape_pair_integral(const Shape& a, const Shape& b, std::vector<double>& list);

} // namespace quorvel
