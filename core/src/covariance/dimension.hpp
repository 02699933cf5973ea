// What happens inside one dimension of a covariance: the kernel as a line-shape element, its
// periodic images, the amplitude profile, and the integrals of elements against the kernel.
#pragma once

#include <span>
#include <vector>

#include "quorvel/covariance.hpp"
#include "quorvel/element.hpp"
#include "quorvel/error.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

// The Shape with center 0 and stretch 1 equal to sum_j c_j b_j on the span of the elements.
Result<VarianceFactor> make_variance_factor(const Space& space, std::span<const double> c);

// An amplitude at the point origin + y: 1 when absent, the dimension's linear combination when s
// is its variance factor, the element's value otherwise.
double amplitude_value(const CovarianceDimension& dim, const Element* s, double origin, double y);

// The kernel k(x - v) as a line-shape element with support [v - L, v + L]. The covariance
// integrals build it in frame coordinates (v an offset from the frame origin) and place it at 0.
Element kernel_profile(const CovarianceDimension& dim, double v);

// The images i of the kernel centered at x + i P whose window [x + i P - L, x + i P + L] meets
// [lo, hi]: i = first ... last in steps of 1, empty when last < first. Without a period only
// i = 0 can qualify. More than max_walk_steps images (a period far below the window, or an
// unbounded window) fail with an InvalidInput CoreFailure.
struct ImageRange {
    double first, last;
};
ImageRange kernel_images(const CovarianceDimension& dim, double lo, double hi, double x);

// One side of an element-pair covariance: the element, its weight, and its amplitude (null for
// the constant 1).
struct CovarianceFactor {
    const Element& element;
    CosineWeight weight;
    const Element* amplitude;
};

// Lists reused by the covariance integrals of one worker.
struct CovarianceScratch {
    std::vector<double> outer, sides, inner, kinks;
    std::vector<PointTerm> terms;
    std::vector<double> q, r, t; // per-dimension factors of one derivative entry
};

// (value, l d/dl of the value).
struct CovarianceValue {
    double value = 0.0, derivative = 0.0;
};

// Sum over the kernel's images centered at x + i P of the integral of k(y - x) s(y) e(y) w(y),
// for a factor e that is not a Delta, in the frame with origin `origin` (x and y frame
// coordinates; e, s and w absolute).
CovarianceValue smoothed_value(const CovarianceDimension& dim, const CovarianceFactor& e,
                               double origin, double x, bool want_derivative,
                               CovarianceScratch& scratch);

// The kernel's moments against a weight of frequency w over the whole line (the truncation at
// the window changes them below rounding): int k(t) cos(w t), int k(t) t sin(w t),
// int k(t) t^2 cos(w t), int k(t) t^3 sin(w t).
struct KernelMoments {
    double c0, s1, c2, s3;
};
KernelMoments kernel_moments(const CovarianceDimension& dim, double omega);

// The outer integral of a covariance over the frame piece [a, b] when phi and psi are polynomial
// elements without amplitudes, the dimension has no period, and every kernel window centred on
// the piece stays within one piece of psi (or outside its support).
double oscillating_piece(const CovarianceDimension& dim, const CovarianceFactor& phi,
                         const CovarianceFactor& psi, double origin, double a, double b);

// Double integral of phi w_phi s_phi (x) k(x - y) s_psi w_psi psi (y), and its l d/dl.
CovarianceValue pair_covariance(const CovarianceDimension& dim, const CovarianceFactor& phi,
                                const CovarianceFactor& psi, bool want_derivative,
                                CovarianceScratch& scratch);

} // namespace quorvel
