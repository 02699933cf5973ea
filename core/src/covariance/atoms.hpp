// Product atoms of one side: validation and the per-dimension normalisers.
#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "quorvel/covariance.hpp"
#include "quorvel/error.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

// The number of atoms, after checking one space and one weight per dimension, all spaces of one
// length.
Result<std::size_t> validate_atoms(std::span<const SpacePtr> spaces,
                                   std::span<const CosineWeight> weights, std::size_t n_dims);

// normalisers[d][i] of atom i in dimension d.
using Normalisers = std::vector<std::vector<double>>;
Normalisers atom_normalisers(const AtomSide& side, std::size_t n);

// A per-dimension quantity of atoms i and j divided by their normalisers ni and nj. A factor
// whose normaliser is exactly 0 (an element of zero weighted integral) has no average: like a
// measurement row whose normaliser is 0, it is multiplied by 0 instead of divided by 0. Where the
// product of the normalisers is so small that its reciprocal overflows, they divide one after the
// other.
inline double normalised(double value, double ni, double nj) {
    if (ni == 0.0 || nj == 0.0) return 0.0;
    const double g = ni * nj;
    return std::isfinite(1.0 / g) ? value / g : value / ni / nj;
}

// A zero-filled result array, asked to lie on huge pages before its first touch: a covariance
// matrix is written once, and faulting it in 4 KiB pages costs more than filling it.
std::vector<double> result_array(std::size_t size);

// Copies the upper triangle of the rows i0 ... i1 - 1 of the square n x n row-major matrix m to
// the lower triangle (columns i0 ... i1 - 1). Called on a band of rows just computed, it reads
// them from cache and writes each row of the lower triangle in one contiguous run.
void mirror_band(double* m, std::size_t n, std::size_t i0, std::size_t i1);
inline constexpr std::size_t mirror_rows = 64; // rows per band

// mirror_band over all bands: the whole upper triangle copied to the lower one.
void mirror_upper(double* m, std::size_t n);

} // namespace quorvel
