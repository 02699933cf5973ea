// The symmetric covariance of one side's atoms with its derivatives with respect to the log
// correlation length of every dimension and the log coefficients of every variance factor.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "atoms.hpp"
#include "dimension.hpp"
#include "point_atoms.hpp"
#include "quorvel/covariance.hpp"
#include "quorvel/parallel.hpp"

namespace quorvel {
namespace {

bool supports_meet(const Element& a, const Element& b) {
    const Support sa = support(a);
    const Support sb = support(b);
    return sa.lower <= sb.upper && sb.lower <= sa.upper;
}

// Row i of the symmetric derivative arrays, columns j = max(i, col0) ... n - 1 of the n atoms,
// written into `out` at i * out.cols + j - col0 (the arrays from column col0 on).
void covariance_row_derivatives(double variance, std::span<const CovarianceDimension> dims,
                                const AtomSide& side, const Normalisers& norms, std::size_t n,
                                std::size_t col0, std::size_t i, LengthDerivatives& out,
                                CovarianceScratch& scratch) {
    const std::size_t stride = out.cols;
    const std::size_t n_dims = dims.size();
    std::vector<double>& q = scratch.q;
    std::vector<double>& r = scratch.r;
    std::vector<double>& t = scratch.t; // t_{d,k} of all dimensions, dimension after dimension
    q.resize(n_dims);
    r.resize(n_dims);
    std::size_t n_coefficients = 0;
    for (const CovarianceDimension& dim : dims)
        if (dim.factor) n_coefficients += dim.factor->coefficients.size();
    t.resize(n_coefficients);

    const CancelFlag* const cancel = current_cancel_flag();
    for (std::size_t j = std::max(i, col0); j < n; ++j) {
        poll_cancel(cancel);
        const std::size_t at = i * stride + (j - col0);
        std::size_t offset = 0;
        for (std::size_t d = 0; d < n_dims; ++d) {
            const CovarianceDimension& dim = dims[d];
            const Element& phi = side.spaces[d]->elements[i];
            const Element& psi = side.spaces[d]->elements[j];
            const CosineWeight w = side.weights[d];
            const Element* s = dim.amplitude();
            const CovarianceValue c = pair_covariance(dim, {phi, w, s}, {psi, w, s}, true, scratch);
            const double ni = norms[d][i], nj = norms[d][j];
            q[d] = normalised(c.value, ni, nj);
            r[d] = normalised(c.derivative, ni, nj);
            if (!dim.factor) continue;
            // Product rule on s(x) s(y) with s = sum_k c_k b_k.
            const VarianceFactor& factor = *dim.factor;
            for (std::size_t k = 0; k < factor.sources.size(); ++k) {
                const Element& b = factor.sources[k];
                const double left =
                    supports_meet(b, phi)
                        ? pair_covariance(dim, {phi, w, &b}, {psi, w, s}, false, scratch).value
                        : 0.0;
                const double right =
                    supports_meet(b, psi)
                        ? pair_covariance(dim, {phi, w, s}, {psi, w, &b}, false, scratch).value
                        : 0.0;
                t[offset + k] = normalised(factor.coefficients[k] * (left + right), ni, nj);
            }
            offset += factor.sources.size();
        }

        double prod = 1.0;
        for (std::size_t d = 0; d < n_dims; ++d)
            prod *= q[d];
        out.k[at] = variance * prod;
        offset = 0;
        for (std::size_t d = 0; d < n_dims; ++d) {
            double others = 1.0;
            for (std::size_t e = 0; e < n_dims; ++e)
                if (e != d) others *= q[e];
            const double scale = variance * others;
            out.l[d][at] = scale * r[d];
            const std::size_t n_k = dims[d].factor ? dims[d].factor->sources.size() : 0;
            for (std::size_t k = 0; k < n_k; ++k)
                out.t[d][k][at] = scale * t[offset + k];
            offset += n_k;
        }
    }
}

// The rows of one band of point atoms, then their mirror images while they are still in cache.
void point_band(const PointAtoms& p, double variance, std::size_t band, LengthDerivatives& out,
                PointScratch& scratch) {
    const std::size_t n = out.n;
    const std::size_t i0 = band * mirror_rows, i1 = std::min(n, i0 + mirror_rows);
    scratch.rows.resize(out.l.size());
    for (std::size_t i = i0; i < i1; ++i) {
        for (std::size_t d = 0; d < out.l.size(); ++d)
            scratch.rows[d] = &out.l[d][i * n];
        point_row_derivatives(p, variance, i, i, &out.k[i * n], scratch.rows, scratch);
    }
    mirror_band(out.k.data(), n, i0, i1);
    for (std::vector<double>& l : out.l)
        mirror_band(l.data(), n, i0, i1);
}

// Arrays of n x cols zeros for the derivatives of `dims`.
LengthDerivatives zero_derivatives(std::span<const CovarianceDimension> dims, std::size_t n,
                                   std::size_t cols) {
    LengthDerivatives out;
    out.n = n;
    out.cols = cols;
    const std::size_t size = n * cols;
    out.k = result_array(size);
    out.l.resize(dims.size());
    for (std::vector<double>& l : out.l)
        l = result_array(size);
    out.t.resize(dims.size());
    for (std::size_t d = 0; d < dims.size(); ++d) {
        out.t[d].resize(dims[d].factor ? dims[d].factor->sources.size() : 0);
        for (std::vector<double>& t : out.t[d])
            t = result_array(size);
    }
    return out;
}

// Rows of point atoms against the columns of `p`'s second side, written from column 0 of `out`.
void point_block_row(const PointAtoms& p, double variance, std::size_t i, LengthDerivatives& out,
                     PointScratch& scratch) {
    const std::size_t cols = out.cols;
    scratch.rows.resize(out.l.size());
    for (std::size_t d = 0; d < out.l.size(); ++d)
        scratch.rows[d] = &out.l[d][i * cols];
    point_row_derivatives(p, variance, i, 0, &out.k[i * cols], scratch.rows, scratch);
}

} // namespace

Result<LengthDerivatives> covariance_length_derivatives(double variance,
                                                        std::span<const CovarianceDimension> dims,
                                                        const AtomSide& a) {
    QUORVEL_TRY_ASSIGN(const std::size_t n, validate_atoms(a.spaces, a.weights, dims.size()));
    const Normalisers norms = atom_normalisers(a, n);

    LengthDerivatives out = zero_derivatives(dims, n, n);
    if (const std::optional<PointAtoms> p = point_atoms(dims, a, a)) {
        const std::size_t bands = (n + mirror_rows - 1) / mirror_rows;
        parallel_rows<PointScratch>(bands, [&](std::size_t band, PointScratch& scratch) {
            point_band(*p, variance, band, out, scratch);
        });
        return out;
    }
    parallel_rows<CovarianceScratch>(n, [&](std::size_t i, CovarianceScratch& scratch) {
        covariance_row_derivatives(variance, dims, a, norms, n, 0, i, out, scratch);
    });

    // Every array is symmetric: copy the upper triangle into the lower one.
    const auto mirror = [n](std::vector<double>& m) { mirror_upper(m.data(), n); };
    mirror(out.k);
    for (auto& m : out.l)
        mirror(m);
    for (auto& list : out.t)
        for (auto& m : list)
            mirror(m);
    return out;
}

Result<LengthDerivatives> covariance_length_derivative_block(
    double variance, std::span<const CovarianceDimension> dims, const AtomSide& a,
    std::size_t split) {
    QUORVEL_TRY_ASSIGN(const std::size_t n, validate_atoms(a.spaces, a.weights, dims.size()));
    if (split > n)
        return invalid_input("split must be at most the number of atoms " + std::to_string(n) +
                             ", got " + std::to_string(split));
    const Normalisers norms = atom_normalisers(a, n);

    LengthDerivatives out = zero_derivatives(dims, split, n - split);
    if (std::optional<PointAtoms> p = point_atoms(dims, a, a)) {
        for (std::vector<double>& b : p->b)
            b.erase(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(split));
        parallel_rows<PointScratch>(split, [&](std::size_t i, PointScratch& scratch) {
            point_block_row(*p, variance, i, out, scratch);
        });
        return out;
    }
    parallel_rows<CovarianceScratch>(split, [&](std::size_t i, CovarianceScratch& scratch) {
        covariance_row_derivatives(variance, dims, a, norms, n, split, i, out, scratch);
    });
    return out;
}

} // namespace quorvel
