// Sparse inner-product matrices between spaces and integrals of elements.
#pragma once

#include <span>
#include <vector>

#include "quorvel/element.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/sparse.hpp"

namespace quorvel {

struct Space;

// Row i holds the non-zero inner products of rows[i] with the column space's elements.
SparseMatrix inner_product_matrix(std::span<const Element> rows, const Space& cols,
                                  CosineWeight weight);

std::vector<double> space_integrals(std::span<const Element> elements, CosineWeight weight);
// The same for the elements of a space, a copy of the integrals it keeps when there is no weight.
std::vector<double> space_integrals(const Space& space, CosineWeight weight);

} // namespace quorvel
