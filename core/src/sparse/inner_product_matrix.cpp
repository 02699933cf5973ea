// Sparse matrix of inner products between row elements and the elements of a column space.
#include <algorithm>
#include <cmath>
#include <vector>

#include "point_rows.hpp"
#include "quorvel/inner_products.hpp"
#include "quorvel/row_assembler.hpp"
#include "quorvel/space.hpp"

namespace quorvel {
namespace {

// Rows of cheap pairs outnumber the costly ones; a handful of rows stays on the calling thread.
constexpr std::size_t inner_product_min_block = 16;

// Lists of one worker, reused row after row.
struct InnerProductScratch {
    std::vector<std::size_t> candidates;
    std::vector<double> breakpoints;
};

} // namespace

SparseMatrix inner_product_matrix(std::span<const Element> rows, const Space& cols,
                                  CosineWeight weight) {
    // Point functionals pair by evaluation: rows that are all Delta are point rows.
    if (!rows.empty() && std::all_of(rows.begin(), rows.end(), [](const Element& e) {
            const auto* d = std::get_if<Delta>(&e);
            return d != nullptr && std::isfinite(d->x);
        })) {
        std::vector<double> points(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            points[i] = std::get<Delta>(rows[i]).x;
        return point_rows(cols, points, true, weight);
    }
    // Row i: the non-zero inner products of rows[i] with the column elements whose supports meet
    // its support, columns ascending.
    auto inner_product_row = [&](std::size_t i, InnerProductScratch& scratch, RowSink<1>& sink) {
        const Element& r = rows[i];
        const Support s = support(r);
        overlapping(cols, s.lower, s.upper, scratch.candidates);
        for (std::size_t j : scratch.candidates) {
            const double v = pair_inner_product(r, cols.elements[j], weight, scratch.breakpoints);
            if (v != 0.0) sink.push(j, v);
        }
    };
    refuse_oversized_rows<1>(rows.size(), cols.size(),
                             [&](std::size_t i, std::vector<std::size_t>& candidates) {
                                 const Support s = support(rows[i]);
                                 overlapping(cols, s.lower, s.upper, candidates);
                                 return candidates.size();
                             });
    auto [m] = assemble_rows<InnerProductScratch>(rows.size(), cols.size(), inner_product_row,
                                                  inner_product_min_block);
    return std::move(m);
}

} // namespace quorvel
