// Regularised least squares: (W^T W + mu P) u = W^T d, factorised once, applied to many rows.
#include "quorvel/fit.hpp"

#include <cmath>
#include <optional>
#include <utility>

#include "penalty.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

namespace {

// Row-wise merge of two matrices with ascending columns: a + scale * b.
SparseMatrix add_scaled(const SparseMatrix& a, const SparseMatrix& b, double scale) {
    SparseMatrix s;
    s.n_rows = a.n_rows;
    s.n_cols = a.n_cols;
    s.indptr.assign(1, 0);
    s.indices.reserve(a.indices.size() + b.indices.size());
    s.data.reserve(a.indices.size() + b.indices.size());
    for (std::size_t i = 0; i < a.n_rows; ++i) {
        std::uint64_t p = a.indptr[i], pe = a.indptr[i + 1];
        std::uint64_t q = b.indptr[i], qe = b.indptr[i + 1];
        while (p < pe || q < qe) {
            if (q == qe || (p < pe && a.indices[p] < b.indices[q])) {
                s.indices.push_back(a.indices[p]);
                s.data.push_back(a.data[p++]);
            } else if (p == pe || b.indices[q] < a.indices[p]) {
                s.indices.push_back(b.indices[q]);
                s.data.push_back(scale * b.data[q++]);
            } else {
                s.indices.push_back(a.indices[p]);
                s.data.push_back(a.data[p++] + scale * b.data[q++]);
            }
        }
        s.indptr.push_back(s.indices.size());
    }
    return s;
}

} // namespace

Result<Fit> make_fit(const FitInputs& inputs) {
    internal_assert(inputs.kernels != nullptr && inputs.model != nullptr, "fit without spaces");
    const Space& kernels = *inputs.kernels;
    const Space& model = *inputs.model;
    const double smoothing = inputs.smoothing;
    const Penalty penalty = inputs.penalty;
    if (!(std::isfinite(smoothing) && smoothing >= 0.0))
        return invalid_input("smoothing must be finite and >= 0");

    Fit fit;
    fit.inputs = inputs;
    fit.n_data = kernels.size();
    fit.n_model = model.size();
    fit.design = measurement_matrix(kernels.elements, model, inputs.normalization, inputs.weight);
    // W^T W scattered into a band row of W after row of W, serially: each row holds a few
    // adjacent columns, so this is a few products per row and no transpose is needed.
    SparseMatrix normal = gram(fit.design);

    if (smoothing > 0.0) {
        QUORVEL_TRY_ASSIGN(const std::optional<SparseMatrix> p, penalty_matrix(model, penalty));
        if (p) {
            // The penalty is rescaled by trace(N) / trace(P), so smoothing is dimensionless.
            const double tp = trace(*p);
            if (tp <= 0.0)
                return invalid_input("the " + render_penalty(penalty) +
                                     " penalty is zero for this model (degree too low?)");
            const double mu = smoothing * trace(normal) / tp;
            normal = add_scaled(normal, *p, mu);
        }
    }

    auto factor = banded_cholesky(normal);
    if (!factor) {
        CoreError e = std::move(factor.error());
        e.message += "; the data do not determine every model coefficient, so add smoothing";
        return std::unexpected(std::move(e));
    }
    fit.factor = std::move(*factor);
    return fit;
}

std::vector<double> Fit::to_dense() const {
    // Row r of W is the normal-equation right-hand side of a unit datum r; its solution is
    // column r of A^-1 W^T.
    return solve_rows_transposed(factor, quorvel::to_dense(design), n_data);
}

std::vector<double> Fit::apply_last_axis(const MatrixView& data) const {
    internal_assert(data.cols == n_data, "data has the wrong number of columns");
    return solve_scattered_rows(design, data, factor);
}

} // namespace quorvel
