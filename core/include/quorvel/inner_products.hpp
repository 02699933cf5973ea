// Sparse inner-product matrices between spaces and integrals of elements.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quorvel/element.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/sparse.hpp"

namespace quorvel {

struct Space;

// Scratch of one worker task, reused row after row.
struct InnerProductScratch {
    std::vector<std::size_t> candidates;
    std::vector<double> breakpoints;
};

// Appends the non-zero inner products of r with the column space's elements whose supports meet
// r's support, columns ascending.
void inner_product_row(const Element& r, const Space& cols, CosineWeight weight,
                       InnerProductScratch& scratch, RowSink& sink);

// Row i holds the non-zero inner products of rows[i] with the column space's elements.
SparseMatrix inner_product_matrix(std::span<const Element> rows, const Space& cols,
                                  CosineWeight weight);

std::vector<double> space_integrals(std::span<const Element> elements, CosineWeight weight);

} // namespace quorvel
