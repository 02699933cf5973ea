// Point evaluation matrix: the inner products of Delta elements at the points with a basis.
#include <cmath>

#include "point_index.hpp"
#include "quorvel/inner_products.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

Result<SparseMatrix> evaluate_points(const Space& basis, std::span<const double> x) {
    for (double p : x)
        if (!std::isfinite(p)) return invalid_input("delta position must be finite");
    // Each row pairs a Delta at its point with the elements whose closed support contains the
    // point; the Delta is built on the fly instead of materialising one element per point.
    const PointIndex index(basis);
    return build_rows<InnerProductScratch>(
        x.size(), basis.size(), [&](std::size_t i, InnerProductScratch& scratch, RowSink& sink) {
            const Element point{Delta{x[i]}};
            index.candidates(x[i], scratch.candidates);
            for (std::size_t j : scratch.candidates) {
                const double v =
                    pair_inner_product(point, basis.elements[j], std::nullopt, scratch.breakpoints);
                if (v != 0.0) sink.push(j, v);
            }
        });
}

} // namespace quorvel
