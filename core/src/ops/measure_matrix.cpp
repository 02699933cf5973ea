// The measurement matrix: inner products of kernels with a basis, normalised per row.
#include <vector>

#include "measure_row.hpp"
#include "quorvel/inner_products.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/parallel.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

SparseMatrix measurement_matrix(std::span<const Element> kernels, const Space& basis,
                                Normalization normalization, CosineWeight weight) {
    SparseMatrix w = inner_product_matrix(kernels, basis, weight);
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
