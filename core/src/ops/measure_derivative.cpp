// The measurement matrix W together with its exact derivative dW/dp with respect to one kernel
// parameter, both on one sparsity pattern.
#include <optional>
#include <vector>

#include "quorvel/measure.hpp"
#include "quorvel/parallel.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

namespace {

// One row: the stored columns with W and dW, or the row's error.
struct DerivativeRow {
    std::vector<std::uint64_t> cols;
    std::vector<double> w, dw;
    std::optional<CoreError> error;
};

// Lists owned by one worker and reused for all its rows.
struct DerivativeScratch {
    std::vector<std::size_t> candidates;
    std::vector<double> breakpoints;
    std::vector<PointTerm> terms;
    std::vector<std::uint64_t> cols;
    std::vector<double> v, d;
};

std::optional<CoreError> derivative_row(const Element& kernel, const Space& basis,
                                        Normalization normalization, ParameterKind parameter,
                                        CosineWeight weight, DerivativeScratch& s,
                                        DerivativeRow& out) {
    auto terms = point_terms(kernel, parameter, s.terms);
    if (!terms) return std::move(terms.error());

    const Support sk = support(kernel);
    s.candidates.clear();
    overlapping(basis, sk.lower, sk.upper, s.candidates);
    s.cols.clear();
    s.v.clear();
    s.d.clear();
    for (std::size_t j : s.candidates) {
        const Element& b = basis.elements[j];
        const double v = pair_inner_product(kernel, b, weight, s.breakpoints);
        auto d = pair_parameter_derivative(kernel, b, parameter, weight, s.terms, s.breakpoints);
        if (!d) return std::move(d.error());
        if (v == 0.0 && *d == 0.0) continue;
        s.cols.push_back(j);
        s.v.push_back(v);
        s.d.push_back(*d);
    }

    auto norm = row_normalizer(kernel, normalization, parameter, weight, s.terms, s.v, s.d,
                               s.breakpoints);
    if (!norm) return std::move(norm.error());

    // Quotient rule, with a zero normaliser multiplying the row by 0.
    const double scale = norm->n == 0.0 ? 0.0 : 1.0 / norm->n;
    const std::size_t n = s.cols.size();
    out.cols.assign(s.cols.begin(), s.cols.end());
    out.w.resize(n);
    out.dw.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        out.w[k] = scale * s.v[k];
        out.dw[k] = scale * (s.d[k] - norm->dn * out.w[k]);
    }
    return std::nullopt;
}

} // namespace

Result<std::pair<SparseMatrix, SparseMatrix>>
measurement_derivative(std::span<const Element> kernels, const Space& basis,
                       Normalization normalization, ParameterKind parameter, CosineWeight weight) {
    std::vector<DerivativeRow> rows(kernels.size());
    parallel_rows<DerivativeScratch>(kernels.size(), [&](std::size_t i, DerivativeScratch& s) {
        rows[i].error = derivative_row(kernels[i], basis, normalization, parameter, weight, s,
                                       rows[i]);
    });
    for (DerivativeRow& r : rows)
        if (r.error) return std::unexpected(std::move(*r.error));

    SparseMatrix w, dw;
    w.n_rows = dw.n_rows = kernels.size();
    w.n_cols = dw.n_cols = basis.size();
    std::size_t nnz = 0;
    for (const DerivativeRow& r : rows) nnz += r.cols.size();
    w.indptr.reserve(rows.size() + 1);
    w.indices.reserve(nnz);
    w.data.reserve(nnz);
    dw.data.reserve(nnz);
    for (DerivativeRow& r : rows) {
        w.indices.insert(w.indices.end(), r.cols.begin(), r.cols.end());
        w.data.insert(w.data.end(), r.w.begin(), r.w.end());
        dw.data.insert(dw.data.end(), r.dw.begin(), r.dw.end());
        w.indptr.push_back(w.indices.size());
        r = DerivativeRow{};
    }
    dw.indptr = w.indptr;
    dw.indices = w.indices;
    return std::pair{std::move(w), std::move(dw)};
}

} // namespace quorvel
