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

// The atom positions of each dimension, when every dimension pairs point evaluations on both
// sides without a period or an amplitude; an entry is then sigma^2 times the product of the
// normalised kernels at the atoms' distances.
struct PointAtoms {
    std::vector<std::vector<double>> a, b; // a[d][i], b[d][j]
};

std::optional<PointAtoms> point_atoms(std::span<const CovarianceDimension> dims, const AtomSide& a,
                                      const AtomSide& b) {
    if (dims.empty()) return std::nullopt;
    for (std::size_t d = 0; d < dims.size(); ++d) {
        if (dims[d].period || dims[d].amplitude()) return std::nullopt;
        if (!is_point_space(*a.spaces[d]) || !is_point_space(*b.spaces[d])) return std::nullopt;
    }
    PointAtoms p;
    for (auto [side, out] : {std::pair{&a, &p.a}, std::pair{&b, &p.b}}) {
        for (std::size_t d = 0; d < dims.size(); ++d) {
            std::vector<double>& x = out->emplace_back();
            x.reserve(side->spaces[d]->size());
            for (const Element& e : side->spaces[d]->elements)
                x.push_back(std::get<Delta>(e).x);
        }
    }
    return p;
}

// Lists of one worker, reused row after row.
struct PointRowScratch {
    std::vector<std::size_t> alive;  // columns whose entry is not yet known to be 0, ascending
    std::vector<double> t;           // offsets of the alive columns inside the window
    std::vector<std::size_t> at;     // their columns
    std::vector<double> values;      // the kernel there
    std::vector<unsigned char> dead; // entries found to be 0 in the present dimension
};

// The normalised quantity of covariance_entry; a product of normalisers equal to 1 (points
// without a weight) divides exactly, so the division is skipped.
inline double normalised_point(double v, double ni, double nj) {
    if (ni == 0.0 || nj == 0.0) return 0.0;
    return ni * nj == 1.0 ? v : normalised(v, ni, nj);
}

// Entries (i, j) for j from `first` on, each equal to covariance_entry: in each dimension the
// value of a pair of points is the kernel at their distance inside its window and 0 outside, as
// the point pair of pair_covariance forms it; the kernel is valued for the whole row with one
// dispatch on its kind. An entry is 0 from the first dimension whose normalised value is 0 on.
void point_row(double variance, std::span<const CovarianceDimension> dims, const PointAtoms& p,
               const Normalisers& na, const Normalisers& nb, std::size_t i, std::size_t first,
               double* out, std::size_t n, PointRowScratch& s) {
    const bool several = dims.size() > 1;
    if (several) {
        s.alive.clear();
        for (std::size_t j = first; j < n; ++j)
            s.alive.push_back(j);
        s.dead.assign(n, 0);
    }
    s.t.resize(n);
    s.at.resize(n);
    s.values.resize(n);
    for (std::size_t d = 0; d < dims.size(); ++d) {
        const double xi = p.a[d][i], L = dims[d].window, ni = na[d][i];
        const double* const xb = p.b[d].data();
        const double* const nj = nb[d].data();
        // An entry found to be 0 is written at once (and, with more dimensions to come, marked).
        const auto scale = [&](std::size_t j, double q) {
            if (q == 0.0) {
                out[j] = 0.0;
                if (several) s.dead[j] = 1;
            } else {
                out[j] = (d == 0 ? variance : out[j]) * q;
            }
        };
        std::size_t m = 0;
        const auto visit = [&](std::size_t j) {
            const double t = xi - xb[j];
            if (std::fabs(t) <= L) {
                s.t[m] = t;
                s.at[m++] = j;
            } else {
                scale(j, normalised_point(0.0, ni, nj[j]));
            }
        };
        if (several) {
            for (std::size_t j : s.alive)
                visit(j);
        } else {
            for (std::size_t j = first; j < n; ++j)
                visit(j);
        }
        profile_values(dims[d].kind, std::span(s.t).first(m), s.values.data());
        for (std::size_t k = 0; k < m; ++k) {
            double v = 0.0;
            v += s.values[k];
            scale(s.at[k], normalised_point(1.0 * v, ni, nj[s.at[k]]));
        }
        if (several) std::erase_if(s.alive, [&s](std::size_t j) { return s.dead[j] != 0; });
    }
}

// Whether the point entries of the same atoms on both sides come out symmetric bitwise, so that
// those below the diagonal may be mirrored: the distances of a pair in the two orders are exact
// negatives, the kernels (squared exponential and Matern) are even in their argument bit for bit,
// and a normaliser product whose reciprocal is finite divides the same in either order (the
// division one after the other, for smaller products, does not).
bool mirrored_points(std::span<const CovarianceDimension> dims, const AtomSide& a,
                     const AtomSide& b, const Normalisers& na) {
    for (std::size_t d = 0; d < dims.size(); ++d) {
        if (a.spaces[d].get() != b.spaces[d].get() || a.weights[d] != b.weights[d]) return false;
        if (!is_correlation_kind(dims[d].kind)) return false;
        // The smallest non-zero product bounds all others from below.
        double smallest = INFINITY;
        for (double n : na[d])
            if (n != 0.0) smallest = std::min(smallest, std::fabs(n));
        if (!std::isfinite(1.0 / (smallest * smallest))) return false;
    }
    return true;
}

// Copies the upper triangle of a square matrix to the lower one, in tiles that stay in cache; the
// tiles of one band of rows fill the same band of columns, so the bands run in parallel.
void mirror_upper(DenseMatrix& k) {
    constexpr std::size_t tile = 64;
    const std::size_t n = k.rows;
    double* const m = k.data.data();
    parallel_rows((n + tile - 1) / tile, [&](std::size_t band) {
        const std::size_t i0 = band * tile, i1 = std::min(n, i0 + tile);
        for (std::size_t j0 = i0; j0 < n; j0 += tile) {
            const std::size_t j1 = std::min(n, j0 + tile);
            for (std::size_t i = i0; i < i1; ++i)
                for (std::size_t j = std::max(j0, i + 1); j < j1; ++j)
                    m[j * n + i] = m[i * n + j];
        }
    });
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
    DenseMatrix k{n_a, n_b, std::vector<double>(n_a * n_b, 0.0)};
    if (const std::optional<PointAtoms> p = point_atoms(dims, a, b)) {
        const bool upper = symmetric || mirrored_points(dims, a, b, na);
        parallel_rows<PointRowScratch>(n_a, [&](std::size_t i, PointRowScratch& scratch) {
            point_row(variance, dims, *p, na, nb, i, upper ? i : 0, &k.data[i * k.cols], n_b,
                      scratch);
        });
        if (upper) mirror_upper(k);
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
    if (symmetric) mirror_upper(k);
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
