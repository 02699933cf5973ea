// The measurement matrix: inner products of kernels with a basis, normalised per row.
#include <algorithm>
#include <vector>

#include "shared_row.hpp"
#include "measure_row.hpp"
#include "quorvel/inner_products.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/parallel.hpp"
#include "quorvel/point_index.hpp"
#include "quorvel/row_assembler.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

namespace {

struct ProductScratch {
    std::vector<std::size_t> candidates;
    SharedRowScratch row;
};

// Rows of line-shape kernels: a row whose candidates are all FTS line shapes, or all
// polynomial elements, shares one walk among them (SharedRow); other rows pair by pair.
SparseMatrix shared_walk_products(std::span<const Element> kernels, const Space& basis) {
    const PointIndex index(basis, kernels.size());
    refuse_oversized_rows<1>(kernels.size(), basis.size(),
                             [&](std::size_t i, std::vector<std::size_t>& candidates) {
                                 const Support s = support(kernels[i]);
                                 index.overlapping(s.lower, s.upper, candidates);
                                 return candidates.size();
                             });
    auto row = [&](std::size_t i, ProductScratch& s, RowSink<1>& sink) {
        const Element& kernel = kernels[i];
        const Support sk = support(kernel);
        index.overlapping(sk.lower, sk.upper, s.candidates);
        SharedRow<1> shared;
        KernelQuantities<0> quantities(kernel, {});
        const auto at = [&](double y) { return quantities(shared.origin(), y); };
        if (shared.prepare(kernel, s.candidates, basis, at, s.row)) {
            for (std::size_t j : s.candidates) {
                const double v = shared.pair(basis.elements[j], at)[0];
                if (v != 0.0) sink.push(j, v);
            }
            return;
        }
        for (std::size_t j : s.candidates) {
            const double v = pair_inner_product(kernel, basis.elements[j], {}, s.row.list);
            if (v != 0.0) sink.push(j, v);
        }
    };
    // As inner_product_matrix: a handful of rows stays on the calling thread.
    auto [m] = assemble_rows<ProductScratch>(kernels.size(), basis.size(), row, 16);
    return std::move(m);
}

} // namespace

SparseMatrix measurement_matrix(std::span<const Element> kernels, const Space& basis,
                                Normalization normalization, CosineWeight weight) {
    const bool lines = !weight && std::any_of(kernels.begin(), kernels.end(), [](const Element& e) {
        return std::holds_alternative<Profile>(e);
    });
    SparseMatrix w =
        lines ? shared_walk_products(kernels, basis) : inner_product_matrix(kernels, basis, weight);
    if (normalization == Normalization::None) return w;

    std::vector<double> normalizers;
    if (normalization == Normalization::Integral) {
        // The kernels' integrals (as space_integrals gives them), one independent slot per row.
        normalizers.assign(kernels.size(), 0.0);
        parallel_rows<std::vector<double>>(
            kernels.size(), [&](std::size_t i, std::vector<double>& breakpoints) {
                normalizers[i] = element_integral(kernels[i], weight, breakpoints);
            });
    } else {
        normalizers.assign(w.n_rows, 0.0);
        for (std::size_t i = 0; i < w.n_rows; ++i)
            for (std::uint64_t k = w.indptr[i]; k < w.indptr[i + 1]; ++k)
                normalizers[i] += w.data[k];
    }
    internal_assert(normalizers.size() == w.n_rows, "one normaliser per measurement row");

    // A row whose normaliser is exactly 0 is multiplied by 0; its pattern stays.
    for (std::size_t i = 0; i < w.n_rows; ++i) {
        const RowScale scale(normalizers[i]);
        for (std::uint64_t k = w.indptr[i]; k < w.indptr[i + 1]; ++k)
            w.data[k] = scale(w.data[k]);
    }
    return w;
}

} // namespace quorvel
