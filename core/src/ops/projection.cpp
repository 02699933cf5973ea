// L2 projection between spaces: Gram and cross matrices, one factorisation, many applications.
#include "quorvel/projection.hpp"

#include <utility>

#include "bounded_projection.hpp"
#include "quorvel/inner_products.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

Result<Projection> make_projection(const ProjectionInputs& inputs) {
    internal_assert(inputs.src != nullptr && inputs.dst != nullptr, "projection without spaces");
    const Space& src = *inputs.src;
    const Space& dst = *inputs.dst;
    const CosineWeight weight = inputs.weight;
    Projection p;
    p.inputs = inputs;
    p.n_src = src.size();
    p.n_dst = dst.size();
    p.gram = inner_product_matrix(dst.elements, dst, weight);
    QUORVEL_TRY_ASSIGN(p.factor, banded_cholesky(p.gram));
    p.cross = inner_product_matrix(dst.elements, src, weight);
    p.integrals = space_integrals(dst, weight);
    return p;
}

std::vector<double> Projection::to_dense() const {
    // Row j of K^T is the right-hand side of source element j; solving it gives column j of
    // G^-1 K.
    return solve_rows_transposed(factor, quorvel::to_dense(transpose(cross)), n_src);
}

std::vector<double> Projection::apply_last_axis(const MatrixView& f, const Bounds& bounds) const {
    internal_assert(f.cols == n_src, "f has the wrong number of columns");
    if (bounds.kind == Bounds::Kind::None) return solve_product_rows(cross, f, factor);
    std::vector<double> y = product_last_axis(cross, f);
    const std::vector<double> rhs = y;
    solve_rows(factor, y.data(), f.rows);
    bound_rows(*this, f, rhs, y.data(), bounds);
    return y;
}

} // namespace quorvel
