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

// value / (a b) for the normalisers a and b of two atoms, divided by one after the other where
// the product is so small that its reciprocal overflows.
inline double divide_by_normalisers(double value, double a, double b) {
    const double g = a * b;
    return std::isfinite(1.0 / g) ? value / g : value / a / b;
}

} // namespace quorvel
