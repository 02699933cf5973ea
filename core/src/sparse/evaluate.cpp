// Point evaluation matrix: the inner products of Delta elements at the points with a basis.
#include <cmath>

#include "point_index.hpp"
#include "quorvel/inner_products.hpp"
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
    return build_rows<InnerProductScratch>(
        x.size(), basis.size(),
        [&](std::size_t i, InnerProductScratch& scratch, RowSink& sink) {
            const double p = x[i];
            index.candidates(p, scratch.candidates);
            for (std::size_t j : scratch.candidates) {
                // The pairing of a Delta at p with element j: its value at p, or for another Delta
                // 1 exactly at the same position.
                const Element& e = basis.elements[j];
                const auto* d = std::get_if<Delta>(&e);
                const double v = d ? (d->x == p ? 1.0 : 0.0) : evaluate(e, p);
                if (v != 0.0) sink.push(j, v);
            }
        },
        evaluate_min_block);
}

} // namespace quorvel
