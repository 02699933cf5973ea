// Covariances of point atoms: every dimension pairs point evaluations, without a period or an
// amplitude, so an entry is sigma^2 times the product of the kernels at the atoms' distances. The
// kernels of all dimensions share one exponential, exp of the sum of their exponents, taken in
// SIMD lanes over blocks of columns.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "quorvel/covariance.hpp"

namespace quorvel {

// k(t) = p(t) exp(a(t)) inside the window |t| <= L, 0 outside: the squared exponential (p = 1)
// and the Matérn kernels (p a polynomial of the scaled distance).
enum class PointForm { SquaredExponential, Matern12, Matern32, Matern52 };

struct PointDimension {
    PointForm form;
    double length, window;
};

struct PointAtoms {
    std::vector<PointDimension> dims;
    std::vector<std::vector<double>> a, b; // a[d][i], b[d][j]: the atoms' positions
};

// The point form of the atoms of two sides, when every dimension has one.
std::optional<PointAtoms> point_atoms(std::span<const CovarianceDimension> dims, const AtomSide& a,
                                      const AtomSide& b);

// Block lists of one worker, reused row after row.
struct PointScratch {
    std::vector<double> exponent, factor, factors, slopes;
    std::vector<double*> rows; // the caller's output rows
};

// out[j] = K_ij for the columns j = first ... n_b - 1.
void point_row(const PointAtoms& p, double variance, std::size_t i, std::size_t first, double* out,
               PointScratch& scratch);

// k[j] = K_ij and l[d][j] = l_d dK_ij/dl_d for the columns j = first ... n_b - 1.
void point_row_derivatives(const PointAtoms& p, double variance, std::size_t i, std::size_t first,
                           double* k, std::span<double* const> l, PointScratch& scratch);

} // namespace quorvel
