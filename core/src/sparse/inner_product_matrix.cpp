// Sparse matrix of inner products between row elements and the elements of a column space.
#include "quorvel/inner_products.hpp"
#include "quorvel/space.hpp"

namespace quorvel {
namespace {

// Rows of cheap pairs outnumber the costly ones; a handful of rows stays on the calling thread.
constexpr std::size_t inner_product_min_block = 16;

} // namespace

void inner_product_row(const Element& r, const Space& cols, CosineWeight weight,
                       InnerProductScratch& scratch, RowSink& sink) {
    const Support s = support(r);
    overlapping(cols, s.lower, s.upper, scratch.candidates);
    for (std::size_t j : scratch.candidates) {
        const double v = pair_inner_product(r, cols.elements[j], weight, scratch.breakpoints);
        if (v != 0.0) sink.push(j, v);
    }
}

SparseMatrix inner_product_matrix(std::span<const Element> rows, const Space& cols,
                                  CosineWeight weight) {
    return build_rows<InnerProductScratch>(
        rows.size(), cols.size(),
        [&](std::size_t i, InnerProductScratch& scratch, RowSink& sink) {
            inner_product_row(rows[i], cols, weight, scratch, sink);
        },
        inner_product_min_block);
}

} // namespace quorvel
