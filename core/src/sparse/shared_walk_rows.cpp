// Inner-product rows of line shapes, each row integrated from one shared walk where it can be.
#include <vector>

#include "quorvel/row_assembler.hpp"
#include "shared_row.hpp"

namespace quorvel {

namespace {

struct SharedRowsScratch {
    std::vector<std::size_t> candidates;
    SharedRowScratch row;
};

} // namespace

SparseMatrix shared_walk_rows(std::span<const Element> rows, const Space& cols,
                              const PointIndex& index) {
    auto row = [&](std::size_t i, SharedRowsScratch& s, RowSink<1>& sink) {
        const Element& kernel = rows[i];
        const Support sk = support(kernel);
        index.overlapping(sk.lower, sk.upper, s.candidates);
        SharedRow<1> shared;
        KernelQuantities<0> quantities(kernel, {});
        const bool one_walk = shared.prepare(kernel, s.candidates, cols, quantities, s.row);
        for (std::size_t j : s.candidates) {
            const Element& e = cols.elements[j];
            const double v = one_walk && shared.shares(e)
                                 ? shared.pair(e, quantities)[0]
                                 : pair_inner_product(kernel, e, {}, s.row.list);
            if (v != 0.0) sink.push(j, v);
        }
    };
    // Rows of cheap pairs outnumber the costly ones; a handful of rows stays on the calling thread.
    auto [m] = assemble_rows<SharedRowsScratch>(rows.size(), cols.size(), row, 16);
    return std::move(m);
}

} // namespace quorvel
