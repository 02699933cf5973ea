// Gauss-Legendre rules and integration between breakpoints.
#pragma once

#include <algorithm>
#include <cstddef>
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

// Box, Hat, Shape, and affine maps of those.
bool is_polynomial(const Element& e);

using Factors = std::span<const Element* const>;

void collect_breakpoints(Factors factors, double lo, double hi, std::vector<double>& list);
double integrate_product(Factors factors, CosineWeight weight, std::span<const double> breakpoints);
double step_scale(const Element& e, double x);
double element_integral(const Element& e, CosineWeight weight, std::vector<double>& list);
double pair_inner_product(const Element& a, const Element& b, CosineWeight weight,
                          std::vector<double>& list);

// One application of a rule on [o, u]: half * sum_j w_j f(mid + half * node_j).
template <class F> double integrate_panel(const QuadratureRule& rule, double o, double u, F&& f) {
    const std::size_t n = std::min(rule.nodes.size(), rule.weights.size());
    const double half = (u - o) * 0.5;
    const double mid = (o + u) * 0.5;
    double s = 0.0;
    for (std::size_t j = 0; j < n; ++j) s += rule.weights[j] * f(mid + half * rule.nodes[j]);
    return half * s;
}

// Fixed path: one application of `rule` on every piece between consecutive breakpoints.
template <class F>
double integrate_fixed(std::span<const double> breakpoints, const QuadratureRule& rule, F&& f) {
    double result = 0.0;
    for (std::size_t k = 0; k + 1 < breakpoints.size(); ++k)
        result += integrate_panel(rule, breakpoints[k], breakpoints[k + 1], f);
    return result;
}

// Stepping path: each piece is walked in steps of the local scale step(o) (already limited by
// the weight's cap); the rest of a piece is taken whole when it is at most 5 % longer than the
// step. The 8-point rule is used when `always_eight` or the step exceeds 0.05 of the scale, the
// 4-point rule for short remainders.
template <class Step, class F>
double integrate_stepping(std::span<const double> breakpoints, bool always_eight, Step&& step,
                          F&& f) {
    const QuadratureRule& r4 = gauss4();
    const QuadratureRule& r8 = gauss8();
    double result = 0.0;
    for (std::size_t k = 0; k + 1 < breakpoints.size(); ++k) {
        const double end = breakpoints[k + 1];
        double o = breakpoints[k];
        if (!(o < end)) continue;
        while (o < end) {
            const double lambda = step(o);
            double h = (o + 1.05 * lambda < end) ? lambda : end - o;
            // A step too small to move o would never finish the piece: take the rest whole.
            if (!(o + h > o)) h = end - o;
            const QuadratureRule& rule = (always_eight || h > 0.05 * lambda) ? r8 : r4;
            const double u = o + h;
            result += integrate_panel(rule, o, u, f);
            o = u;
        }
    }
    return result;
}

} // namespace quorvel
