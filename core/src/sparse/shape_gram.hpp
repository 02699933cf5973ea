// The Gram matrix of a space of shapes swept along the axis, knot interval by knot interval.
#pragma once

#include <optional>

#include "quorvel/sparse.hpp"

namespace quorvel {

struct Space;

// The matrix of unweighted inner products of the space's elements with each other, when every
// element is a Shape with ordered segments, the elements come in order of their lower ends and
// each overlaps only a few of its successors (B-splines and the like); nothing otherwise.
std::optional<SparseMatrix> shape_space_gram(const Space& space);

} // namespace quorvel
