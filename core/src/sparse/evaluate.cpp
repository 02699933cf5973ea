// Point evaluation matrix: the inner products of Delta elements at the points with a basis.
#include <cmath>
#include <vector>

#include "point_index.hpp"
#include "quorvel/row_assembler.hpp"
#include "quorvel/space.hpp"

namespace quorvel {
namespace {

// A point costs well under a microsecond: blocks of fewer points do not pay for a task.
constexpr std::size_t evaluate_min_block = 1024;

} // namespace

Result<SparseMatrix> evaluate_points(const Space& basis, std::span<const double> x) {
    for (double p : x)
        if (!std::isfinite(p)) return invalid_input("delta position must be finite");
    // Each row pairs a Delta at its point with the elements whose closed support contains the
    // point, as inner_product_matrix would, without materialising one element per point.
    const PointIndex index(basis, x.size());
    refuse_oversized_rows<1>(x.size(), basis.size(),
                             [&](std::size_t i, std::vector<std::size_t>& candidates) {
                                 index.candidates(x[i], candidates);
                                 return candidates.size();
                             });
    auto point_row = [&](std::size_t i, std::vector<std::size_t>& candidates, RowSink<1>& sink) {
        const double p = x[i];
        index.candidates(p, candidates);
        for (std::size_t j : candidates) {
            // The pairing of a Delta at p with element j: its value at p, or for another Delta
            // 1 exactly at the same position.
            const Element& e = basis.elements[j];
            const auto* d = std::get_if<Delta>(&e);
            const double v = d ? (d->x == p ? 1.0 : 0.0) : evaluate(e, p);
            if (v != 0.0) sink.push(j, v);
        }
    };
    auto [m] = assemble_rows<std::vector<std::size_t>>(x.size(), basis.size(), point_row,
                                                       evaluate_min_block);
    return std::move(m);
}

} // namespace quorvel
