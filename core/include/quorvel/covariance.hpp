// Gaussian-process covariances over tensor products of spaces: one stationary correlation per
// dimension (squared exponential or Matern, optionally periodic, optionally scaled by an
// amplitude profile) and covariances of product atoms, with their length and coefficient
// derivatives.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "quorvel/element.hpp"
#include "quorvel/error.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

// The amplitude profile s(x) = sum_j c_j b_j(x) of one dimension, kept both as one Shape and as
// its sources (the coefficient derivatives need the single elements).
struct VarianceFactor {
    std::vector<Element> sources;
    std::vector<double> coefficients;
    Element shape;

    // sum_j c_j b_j(x) at one point. The Shape agrees with it except at single points, such as
    // the closed right end of the last hat, where a point evaluation must see the sum.
    double value(double x) const;
};

struct CovarianceDimension {
    ProfileKind kind; // Gaussian(l) or Matern(order, l)
    double length;
    std::optional<double> period;
    double cutoff;    // m: the kernel is <= 1e-17 at m l
    double window;    // L = m l, half width of the kernel's support
    double step_cap;  // h = 0.5 l / rho, the longest step of the outer walk
    std::optional<VarianceFactor> factor;

    const Element* amplitude() const { return factor ? &factor->shape : nullptr; }
};

// One `dims` entry as given: family name, length, optional period, optional (space,
// coefficients) of the variance factor.
struct DimensionEntry {
    std::string family;
    double length = 0.0;
    std::optional<double> period;
    std::optional<std::pair<SpacePtr, std::vector<double>>> factor;
};

Result<CovarianceDimension> parse_dimension(const DimensionEntry& entry);

// The Shape with center 0 and stretch 1 equal to sum_j c_j b_j on the span of the elements.
Result<VarianceFactor> make_variance_factor(const Space& space, std::span<const double> c);

// An amplitude at one point: 1 when absent, the dimension's linear combination when s is its
// variance factor, the element's value otherwise.
double amplitude_value(const CovarianceDimension& dim, const Element* s, double x);

// The kernel k(x - v) as a line-shape element with support [v - L, v + L].
Element kernel_profile(const CovarianceDimension& dim, double v);

// Lists reused by the covariance integrals of one worker.
struct CovarianceScratch {
    std::vector<double> outer, sides, inner;
    std::vector<PointTerm> terms;
    std::vector<double> q, r, t; // per-dimension factors of one derivative entry
};

// (value, l d/dl of the value).
struct CovarianceValue {
    double value = 0.0, derivative = 0.0;
};

// Sum over the kernel's images of the integral of k(y - x) s(y) e(y) w(y), for e not a Delta;
// s may be null (1).
CovarianceValue smoothed_value(const CovarianceDimension& dim, const Element& e,
                               CosineWeight weight, const Element* s, double x,
                               bool want_derivative, CovarianceScratch& scratch);

// Double integral of phi w_phi s_phi (x) k(x - y) s_psi w_psi psi (y), and its l d/dl.
CovarianceValue pair_covariance(const CovarianceDimension& dim, const Element& phi,
                                CosineWeight weight_phi, const Element* s_phi, const Element& psi,
                                CosineWeight weight_psi, const Element* s_psi,
                                bool want_derivative, CovarianceScratch& scratch);

// The divisor of an atom factor: 1 for a point evaluation, the weighted integral otherwise.
double atom_normaliser(const Element& e, CosineWeight weight, std::vector<double>& list);

// "variance must be finite and > 0, got {variance}".
Status check_variance(double variance);

// One side of a covariance: per dimension the space of atom factors and the side's weight.
struct AtomSide {
    std::vector<SpacePtr> spaces;
    std::vector<CosineWeight> weights;
};

Result<std::size_t> validate_atoms(std::span<const SpacePtr> spaces,
                                   std::span<const CosineWeight> weights, std::size_t n_dims);

// normalisers[d][i] of atom i in dimension d.
using Normalisers = std::vector<std::vector<double>>;
Normalisers atom_normalisers(const AtomSide& side, std::size_t n);

// Row-major n x n arrays: K, L[d] = l_d dK/dl_d, T[d][k] = c_k dK/dc_k of dimension d.
struct LengthDerivatives {
    std::size_t n = 0;
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
Result<std::vector<double>> covariance_diagonal(double variance,
                                                std::span<const CovarianceDimension> dims,
                                                const AtomSide& a);
Result<LengthDerivatives> covariance_length_derivatives(double variance,
                                                        std::span<const CovarianceDimension> dims,
                                                        const AtomSide& a);

} // namespace quorvel
