// Process covariances over tensor products of spaces: one stationary correlation per
// dimension (squared exponential or Matérn, optionally periodic, optionally scaled by an
// amplitude profile) and covariances of product atoms, with their length and coefficient
// derivatives.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quorvel/element.hpp"
#include "quorvel/error.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

// The amplitude profile s(x) = sum_j c_j b_j(x) of one dimension, kept both as one Shape and as
// its sources (the coefficient derivatives need the single elements).
struct VarianceFactor {
    std::vector<Element> sources;
    std::vector<double> coefficients;
    Element shape;

    // sum_j c_j b_j at the point origin + y (evaluate_at). The Shape agrees with it except at
    // single points, such as the closed right end of the last hat, where a point evaluation must
    // see the sum.
    double value(double origin, double y) const;
};

struct CovarianceDimension {
    ProfileKind kind; // correlation_kind(order, l)
    double length;
    std::optional<double> period;
    double cutoff;   // m: the kernel is <= 1e-17 at m l
    double window;   // L = m l, half width of the kernel's support
    double step_cap; // h = 0.5 l / rho, the longest step of the outer walk
    std::optional<VarianceFactor> factor;

    const Element* amplitude() const { return factor ? &factor->shape : nullptr; }
};

// A covariance family as `dims` names it: a Matérn kernel of an order, or the squared exponential, and the
// distance scale rho of the kernel per length (the outer walk steps at most 0.5 l / rho).
struct CovarianceFamily {
    std::string_view name;
    bool matern;
    MaternOrder order;
    double rho;
};
inline constexpr std::array<CovarianceFamily, 6> covariance_families{{
    {"squared_exponential", false, MaternOrder::Half, 1.0},
    {"gaussian", false, MaternOrder::Half, 1.0},
    {"exponential", true, MaternOrder::Half, 1.0},
    {"matern12", true, MaternOrder::Half, 1.0},
    {"matern32", true, MaternOrder::ThreeHalves, constants::sqrt3},
    {"matern52", true, MaternOrder::FiveHalves, constants::sqrt5},
}};

// One `dims` entry as given: family name, length, optional period, optional (space,
// coefficients) of the variance factor.
struct DimensionEntry {
    std::string family;
    double length = 0.0;
    std::optional<double> period;
    std::optional<std::pair<SpacePtr, std::vector<double>>> factor;
};

Result<CovarianceDimension> parse_dimension(const DimensionEntry& entry);

// "variance must be finite and > 0, got {variance}".
Status check_variance(double variance);

// One side of a covariance: per dimension the space of atom factors and the side's weight.
struct AtomSide {
    std::vector<SpacePtr> spaces;
    std::vector<CosineWeight> weights;
};

// Row-major n x cols arrays (n x n for all atoms): K, L[d] = l_d dK/dl_d, T[d][k] = c_k dK/dc_k
// of dimension d.
struct LengthDerivatives {
    std::size_t n = 0, cols = 0;
    std::vector<double> k;
    std::vector<std::vector<double>> l;
    std::vector<std::vector<std::vector<double>>> t;
};

// The three covariance computations after the variance, the dimensions and the weights were
// checked: validate the atoms, compute the normalisers, then the rows in parallel.
struct DenseMatrix {
    std::size_t rows = 0, cols = 0;
    std::vector<double> data;
};
Result<DenseMatrix> covariance_matrix(double variance, std::span<const CovarianceDimension> dims,
                                      const AtomSide& a, const AtomSide& b, bool symmetric);
Result<std::vector<double>>
covariance_diagonal(double variance, std::span<const CovarianceDimension> dims, const AtomSide& a);
Result<LengthDerivatives> covariance_length_derivatives(double variance,
                                                        std::span<const CovarianceDimension> dims,
                                                        const AtomSide& a);
// Rows [0, split) and columns [split, n) of covariance_length_derivatives(variance, dims, a),
// bitwise, computed alone (about the work of a covariance block of that size): the block
// between two groups of atoms, for computing the arrays in blocks.
Result<LengthDerivatives> covariance_length_derivative_block(
    double variance, std::span<const CovarianceDimension> dims, const AtomSide& a,
    std::size_t split);

} // namespace quorvel
