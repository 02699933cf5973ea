// Point evaluation matrix: the inner products of Delta elements at the points with a basis.
#include <cmath>

#include "quorvel/inner_products.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

Result<SparseMatrix> evaluate_points(const Space& basis, std::span<const double> x) {
    for (double p : x)
        if (!std::isfinite(p)) return invalid_input("delta position must be finite");
    // Each row builds its Delta on the fly instead of materialising one element per point.
    return build_rows<InnerProductScratch>(
        x.size(), basis.size(), [&](std::size_t i, InnerProductScratch& scratch, RowSink& sink) {
            const Element point{Delta{x[i]}};
            inner_product_row(point, basis, std::nullopt, scratch, sink);
        });
}

} // namespace quorvel
