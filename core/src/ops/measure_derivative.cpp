// The measurement matrix W together with its exact derivative dW/dp with respect to one kernel
// parameter, both on one sparsity pattern.
#include <algorithm>
#include <optional>
#include <vector>

#include "measure_row.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/parallel.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

namespace {

// Lists owned by one worker and reused for all its rows.
struct DerivativeScratch {
    std::vector<std::size_t> candidates;
    std::vector<double> breakpoints;
    std::vector<PointTerm> terms;
    std::vector<std::uint64_t> cols;
    std::vector<double> v, d;
};

// Consecutive rows computed by one task, stored together so that no row allocates on its own.
// A block stops at its first failing row: no later row can be the first failure in row order.
struct DerivativeBlock {
    std::vector<std::uint64_t> cols;
    std::vector<double> w, dw;
    std::vector<std::size_t> lengths;
    std::optional<CoreError> error;
};

// Appends row `kernel` to the block: the stored columns with W and dW.
Status derivative_row(const Element& kernel, const Space& basis, Normalization normalization,
                      ParameterKind parameter, CosineWeight weight, DerivativeScratch& s,
                      DerivativeBlock& out) {
    auto terms = point_terms(kernel, parameter, s.terms);
    if (!terms) return terms;

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
        if (!d) return std::unexpected(std::move(d.error()));
        if (v == 0.0 && *d == 0.0) continue;
        s.cols.push_back(j);
        s.v.push_back(v);
        s.d.push_back(*d);
    }

    auto norm = row_normalizer(kernel, normalization, parameter, weight, s.terms, s.v, s.d,
                               s.breakpoints);
    if (!norm) return std::unexpected(std::move(norm.error()));

    // Quotient rule, with a zero normaliser multiplying the row by 0.
    const double scale = norm->n == 0.0 ? 0.0 : 1.0 / norm->n;
    out.cols.insert(out.cols.end(), s.cols.begin(), s.cols.end());
    for (std::size_t k = 0; k < s.cols.size(); ++k) {
        const double w = scale * s.v[k];
        out.w.push_back(w);
        out.dw.push_back(scale * (s.d[k] - norm->dn * w));
    }
    out.lengths.push_back(s.cols.size());
    return {};
}

} // namespace

Result<std::pair<SparseMatrix, SparseMatrix>>
measurement_derivative(std::span<const Element> kernels, const Space& basis,
                       Normalization normalization, ParameterKind parameter, CosineWeight weight) {
    const std::size_t n_rows = kernels.size();
    const std::size_t per_block = std::clamp<std::size_t>((n_rows + 255) / 256, 1, 4096);
    const std::size_t n_blocks = (n_rows + per_block - 1) / per_block;
    std::vector<DerivativeBlock> blocks(n_blocks);
    parallel_rows<DerivativeScratch>(n_blocks, [&](std::size_t b, DerivativeScratch& s) {
        DerivativeBlock& block = blocks[b];
        const std::size_t end = std::min(n_rows, (b + 1) * per_block);
        for (std::size_t i = b * per_block; i < end; ++i) {
            auto row = derivative_row(kernels[i], basis, normalization, parameter, weight, s,
                                      block);
            if (!row) {
                block.error = std::move(row.error());
                return;
            }
        }
    });
    for (DerivativeBlock& block : blocks)
        if (block.error) return std::unexpected(std::move(*block.error));

    // Both matrices share the row pointer and the column indices.
    SparseMatrix w, dw;
    w.n_rows = dw.n_rows = n_rows;
    w.n_cols = dw.n_cols = basis.size();
    w.indptr.reserve(n_rows + 1);
    for (const DerivativeBlock& block : blocks)
        for (std::size_t len : block.lengths) w.indptr.push_back(w.indptr.back() + len);
    internal_assert(w.indptr.size() == n_rows + 1, "one length per measurement row");
    const std::size_t nnz = w.indptr.back();
    w.indices.reserve(nnz);
    w.data.reserve(nnz);
    dw.data.reserve(nnz);
    for (DerivativeBlock& block : blocks) {
        w.indices.insert(w.indices.end(), block.cols.begin(), block.cols.end());
        w.data.insert(w.data.end(), block.w.begin(), block.w.end());
        dw.data.insert(dw.data.end(), block.dw.begin(), block.dw.end());
        block = DerivativeBlock{};
    }
    dw.indptr = w.indptr;
    dw.indices = w.indices;
    return std::pair{std::move(w), std::move(dw)};
}

} // namespace quorvel
