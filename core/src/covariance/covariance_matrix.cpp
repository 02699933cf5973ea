// Covariances of product atoms: sigma^2 times the product over dimensions of the normalised
// element-pair covariances, as a dense matrix or as the variances of one side.
#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "atoms.hpp"
#include "dimension.hpp"
#include "point_atoms.hpp"
#include "quorvel/covariance.hpp"
#include "quorvel/format.hpp"
#include "quorvel/parallel.hpp"

namespace quorvel {

Status check_variance(double variance) {
    if (std::isfinite(variance) && variance > 0.0) return {};
    return invalid_input("variance must be finite and > 0, got " + fmt_fixed(variance));
}

namespace {

// Entry (i, j): sigma^2 times the product over dimensions of the normalised pair covariances.
double covariance_entry(double variance, std::span<const CovarianceDimension> dims,
                        const AtomSide& a, const Normalisers& na, std::size_t i, const AtomSide& b,
                        const Normalisers& nb, std::size_t j, CovarianceScratch& scratch) {
    double r = variance;
    for (std::size_t d = 0; d < dims.size(); ++d) {
        const Element* s = dims[d].amplitude();
        const double v =
            pair_covariance(dims[d], {a.spaces[d]->elements[i], a.weights[d], s},
                            {b.spaces[d]->elements[j], b.weights[d], s}, false, scratch)
                .value;
        // Separated atoms, or a factor without an average: the remaining dimensions cannot change
        // a zero.
        const double q = normalised(v, na[d][i], nb[d][j]);
        if (q == 0.0) return 0.0;
        r = r * q;
    }
    return r;
}

// Whether both sides hold the same point atoms, so that the entries below the diagonal mirror
// those above bit for bit: the distances of a pair in the two orders are exact negatives, the
// kernels are even in them, and points are never divided by a normaliser.
bool same_points(const AtomSide& a, const AtomSide& b) {
    for (std::size_t d = 0; d < a.spaces.size(); ++d)
        if (a.spaces[d].get() != b.spaces[d].get()) return false;
    return true;
}

} // namespace

Result<DenseMatrix> covariance_matrix(double variance, std::span<const CovarianceDimension> dims,
                                      const AtomSide& a, const AtomSide& b, bool symmetric) {
    QUORVEL_TRY_ASSIGN(const std::size_t n_a, validate_atoms(a.spaces, a.weights, dims.size()));
    QUORVEL_TRY_ASSIGN(const std::size_t n_b, validate_atoms(b.spaces, b.weights, dims.size()));
    if (symmetric && n_a != n_b)
        return invalid_input("a symmetric covariance needs the same atoms on both sides");

    const Normalisers na = atom_normalisers(a, n_a);
    const Normalisers nb = atom_normalisers(b, n_b);
    DenseMatrix k{n_a, n_b, result_array(n_a * n_b)};
    if (const std::optional<PointAtoms> p = point_atoms(dims, a, b)) {
        if (!symmetric && !same_points(a, b)) {
            parallel_rows<PointScratch>(n_a, [&](std::size_t i, PointScratch& scratch) {
                point_row(*p, variance, i, 0, &k.data[i * k.cols], scratch);
            });
            return k;
        }
        // The upper triangle in bands of rows, each mirrored while it is still in cache.
        parallel_rows<PointScratch>((n_a + mirror_rows - 1) / mirror_rows,
                                    [&](std::size_t band, PointScratch& scratch) {
                                        const std::size_t i0 = band * mirror_rows;
                                        const std::size_t i1 = std::min(n_a, i0 + mirror_rows);
                                        for (std::size_t i = i0; i < i1; ++i)
                                            point_row(*p, variance, i, i, &k.data[i * n_b],
                                                      scratch);
                                        mirror_band(k.data.data(), n_a, i0, i1);
                                    });
        return k;
    }
    parallel_rows<CovarianceScratch>(n_a, [&](std::size_t i, CovarianceScratch& scratch) {
        // An entry can take long (a walk per dimension), a row many times that.
        const CancelFlag* const cancel = current_cancel_flag();
        for (std::size_t j = symmetric ? i : 0; j < n_b; ++j) {
            poll_cancel(cancel);
            k.data[i * k.cols + j] = covariance_entry(variance, dims, a, na, i, b, nb, j, scratch);
        }
    });
    if (symmetric) mirror_upper(k.data.data(), k.rows);
    return k;
}

Result<std::vector<double>>
covariance_diagonal(double variance, std::span<const CovarianceDimension> dims, const AtomSide& a) {
    QUORVEL_TRY_ASSIGN(const std::size_t n, validate_atoms(a.spaces, a.weights, dims.size()));
    const Normalisers na = atom_normalisers(a, n);
    std::vector<double> out(n, 0.0);
    parallel_rows<CovarianceScratch>(n, [&](std::size_t i, CovarianceScratch& scratch) {
        out[i] = covariance_entry(variance, dims, a, na, i, a, na, i, scratch);
    });
    return out;
}

} // namespace quorvel
