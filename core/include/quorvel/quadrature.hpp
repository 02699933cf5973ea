// Gauss-Legendre rules, the cosine weight, and integrals of elements and of their products
// between breakpoints.
#pragma once

#include <cmath>
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

using Factors = std::span<const Element* const>;

// Sorted, distinct breakpoints of the factors strictly inside [lo, hi], with lo and hi.
void collect_breakpoints(Factors factors, double lo, double hi, std::vector<double>& list);
// The largest step the stepping walk may take at x for this element (may be +inf).
double step_scale(const Element& e, double x);

// Integral of the product of the factors times the weight between the breakpoints.
double integrate_product(Factors factors, CosineWeight weight, std::span<const double> breakpoints);
double element_integral(const Element& e, CosineWeight weight, std::vector<double>& list);
double pair_inner_product(const Element& a, const Element& b, CosineWeight weight,
                          std::vector<double>& list);

} // namespace quorvel
