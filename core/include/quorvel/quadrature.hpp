// Gauss-Legendre rules, the cosine weight, and integrals of elements and of their products
// between breakpoints.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "quorvel/element.hpp"
#include "quorvel/error.hpp"

namespace quorvel {

struct QuadratureRule {
    std::vector<double> nodes, weights;
};

// The two process-wide Gauss-Legendre rules, 4 and 8 points, built once on first use.
const QuadratureRule& gauss4();
const QuadratureRule& gauss8();

// Absent, or the scale omega of the weight function cos(omega x).
using CosineWeight = std::optional<double>;

// Validates a given weight scale: finite and non-zero, else "bad cosine weight scale {omega}".
Result<CosineWeight> check_weight(std::optional<double> omega);

// The weight function at x: cos(omega x), or 1 without a weight.
inline double weight_value(CosineWeight weight, double x) {
    return weight ? std::cos(*weight * x) : 1.0;
}

// d/dx of the weight function: -omega sin(omega x), or 0 without a weight.
inline double weight_slope(CosineWeight weight, double x) {
    return weight ? -*weight * std::sin(*weight * x) : 0.0;
}

// The longest quadrature step a weight allows, a quarter of 1 / |omega|; unbounded without one.
inline double weight_step_cap(CosineWeight weight) {
    return weight ? 0.25 / std::fabs(*weight) : std::numeric_limits<double>::infinity();
}

// Box, Hat, Shape, and affine maps of those.
bool is_polynomial(const Element& e);

// Integrals are computed in a local frame: every position (window, breakpoints, walk, nodes) is
// an offset y from a frame origin, a double within the factors' supports (the lower end of the
// window), and each factor is evaluated at origin + y by evaluate_at. Differences of nearby
// doubles are exact, so the nodes keep their precision, and an integral its accuracy, however far
// from 0 the factors sit.
//
// A factor in a frame: at frame position y it is `element` at element coordinate origin + y. An
// element given in absolute coordinates takes the frame origin; one built in frame coordinates
// (a covariance kernel centered at a node of an outer integral) takes 0.
struct Placed {
    const Element* element;
    double origin;
};
using Factors = std::span<const Placed>;

// The support of a placed factor in frame coordinates (a shape's ends formed in its own
// coordinate, not rounded to doubles first); the second form with e's support at hand.
Support frame_support(const Placed& f);
Support frame_support(const Element& e, Support s, double origin);

// The frame origin of the integral of two elements over their common window [lo, hi]: the point
// of the window nearest to the center of a line shape among them, so that the nodes about its
// peak are small offsets however long the window is; else the window's lower end.
double pair_frame_origin(const Element& a, const Element& b, double lo, double hi);

// Where two elements overlap, in the frame their product is integrated in: the frame origin and
// the window's ends in frame coordinates. None when the supports only touch or miss each other.
struct PairWindow {
    double origin, from, to;
};
std::optional<PairWindow> pair_window(const Element& a, const Element& b);

// Sorted, distinct breakpoints of the factors strictly inside [lo, hi], with lo and hi; all in
// frame coordinates.
void collect_breakpoints(Factors factors, double lo, double hi, std::vector<double>& list);

// The largest step the stepping walk may take at origin + y for this element (may be +inf).
double step_scale(const Element& e, double origin, double y);
// An upper bound of step_scale(e, origin, y) over y in [y0, y1] (+inf when there is none).
double step_scale_bound(const Element& e, double origin, double y0, double y1);

// Integral of the product of the factors times the weight between the breakpoints (frame
// coordinates; `origin` places frame position 0 for the weight).
double integrate_product(Factors factors, CosineWeight weight, double origin,
                         std::span<const double> breakpoints);
double element_integral(const Element& e, CosineWeight weight, std::vector<double>& list);
// The exact unweighted integral over the whole support, for the kinds that have one: Delta, Box,
// Hat, Shape and affine maps of those. element_integral without a weight returns it.
std::optional<double> closed_form_integral(const Element& e);
double pair_inner_product(const Element& a, const Element& b, CosineWeight weight,
                          std::vector<double>& list);
// The integral of the product of two placed factors, neither a Delta, over their common support.
double pair_integral(Placed a, Placed b, CosineWeight weight, double origin,
                     std::vector<double>& list);

// A quadrature walk takes at most this many steps, and a periodic covariance kernel sums at most
// this many images: an integral that needs more (a width or correlation length far below its
// support or below the double spacing there, a huge cosine weight scale, a tiny period) fails
// with an InvalidInput CoreFailure naming the quantity, instead of running for hours.
inline constexpr std::uint64_t max_walk_steps = 100'000'000;

} // namespace quorvel
