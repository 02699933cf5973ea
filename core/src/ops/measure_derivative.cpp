// The measurement matrix W together with its exact derivative dW/dp with respect to one kernel
// parameter, both on one sparsity pattern.
#include <span>
#include <vector>

#include "../sparse/shared_row.hpp"
#include "measure_row.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/point_index.hpp"
#include "quorvel/row_assembler.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

namespace {

// Lists owned by one worker and reused for all its rows.
struct DerivativeScratch {
    std::vector<std::size_t> candidates;
    std::vector<double> breakpoints;
    std::vector<PointTerm> terms;
    SharedRowScratch row;
};

// One row: the stored columns with the inner products V and their derivatives D, then rescaled in
// place into W = V / N and dW = (D - dN W) / N once the row's normaliser N is known.
Status derivative_row(const Element& kernel, const Space& basis, const PointIndex& index,
                      Normalization normalization, ParameterKind parameter, CosineWeight weight,
                      DerivativeScratch& s, RowSink<2>& sink) {
    QUORVEL_TRY(point_terms(kernel, parameter, s.terms));

    const Support sk = support(kernel);
    index.overlapping(sk.lower, sk.upper, s.candidates);
    // Line-shape kernels against FTS samples: one walk for the row.
    SharedRow<2> shared;
    const ParameterKind parameters[] = {parameter};
    KernelQuantities<1> quantities(kernel, parameters);
    const bool one_walk =
        !weight && shared.prepare(kernel, s.candidates, basis, quantities, s.row);
    const Placed k{&kernel, shared.origin()};
    for (std::size_t j : s.candidates) {
        const Element& b = basis.elements[j];
        std::array<double, 2> vd;
        if (one_walk && shared.shares(b)) {
            vd = shared.pair(b, quantities);
            if (quantities.failure) return std::unexpected(std::move(*quantities.failure));
            vd[1] = point_masses(k, {&b, shared.origin()}, weight, s.terms) + vd[1];
        } else {
            QUORVEL_TRY_ASSIGN(vd, pair_value_and_derivative(kernel, b, parameter, weight,
                                                             s.terms, s.breakpoints));
        }
        const auto [v, d] = vd;
        if (v == 0.0 && d == 0.0) continue;
        sink.push(j, v, d);
    }

    const std::span<double> w = sink.row_values(0), dw = sink.row_values(1);
    QUORVEL_TRY_ASSIGN(
        const RowNormalizer norm,
        row_normalizer(kernel, normalization, parameter, weight, s.terms, w, dw, s.breakpoints));

    // Quotient rule.
    const RowScale scale(norm.n);
    for (std::size_t k = 0; k < w.size(); ++k) {
        const double wk = scale(w[k]);
        w[k] = wk;
        dw[k] = scale(dw[k] - norm.dn * wk);
    }
    return {};
}

} // namespace

Result<std::pair<SparseMatrix, SparseMatrix>>
measurement_derivative(std::span<const Element> kernels, const Space& basis,
                       Normalization normalization, ParameterKind parameter, CosineWeight weight) {
    const PointIndex index(basis, kernels.size());
    auto row = [&](std::size_t i, DerivativeScratch& s, RowSink<2>& sink) {
        return derivative_row(kernels[i], basis, index, normalization, parameter, weight, s, sink);
    };
    refuse_oversized_rows<2>(kernels.size(), basis.size(),
                             [&](std::size_t i, std::vector<std::size_t>& candidates) {
                                 const Support s = support(kernels[i]);
                                 index.overlapping(s.lower, s.upper, candidates);
                                 return candidates.size();
                             });
    QUORVEL_TRY_ASSIGN(auto matrices,
                       (assemble_rows<DerivativeScratch, 2>(kernels.size(), basis.size(), row)));
    auto& [w, dw] = matrices;
    return std::pair{std::move(w), std::move(dw)};
}

} // namespace quorvel
