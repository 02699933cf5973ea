// The walk behind every quadrature of the core: panels of a Gauss-Legendre rule laid over the
// pieces between breakpoints, one per piece for polynomial integrands, in steps of the
// integrand's local length scale otherwise.
//
// The walks are templates that call their panel consumer inline and allocate nothing. Node
// positions are formed only in Panel, step lengths only in next_step, and every step of every
// walk passes through the loop of stepping_walk, so a change to any of the three lands in one
// place.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>

#include "quorvel/cancel.hpp"
#include "quorvel/element.hpp"
#include "quorvel/quadrature.hpp"

namespace quorvel {

// One application of a rule on [lo, hi]: node j at mid + half * t_j with rule weight w_j. A small
// value, meant to be passed by value so that its fields stay in registers across the integrand.
struct Panel {
    double lo, hi, half, mid;
    const double* nodes;
    const double* weights;
    std::size_t n;

    Panel(const QuadratureRule& rule, double from, double to)
        : lo(from), hi(to), half((to - from) * 0.5), mid((from + to) * 0.5),
          nodes(rule.nodes.data()), weights(rule.weights.data()),
          n(std::min(rule.nodes.size(), rule.weights.size())) {}
    std::size_t size() const { return n; }
    double node(std::size_t j) const { return mid + half * nodes[j]; }
    double weight(std::size_t j) const { return weights[j]; }
};

// half * sum_j w_j f(x_j). Kept out of line: the node loop then owns the registers, and the
// walk around it stays small.
template <class F> [[gnu::noinline]] double panel_integral(Panel p, F&& f) {
    double s = 0.0;
    for (std::size_t j = 0; j < p.size(); ++j)
        s += p.weight(j) * f(p.node(j));
    return p.half * s;
}

// Fixed path: one panel of `rule` on every piece between consecutive breakpoints.
template <class OnPanel>
void for_each_piece(std::span<const double> breakpoints, const QuadratureRule& rule,
                    OnPanel&& on_panel) {
    for (std::size_t k = 0; k + 1 < breakpoints.size(); ++k)
        on_panel(Panel(rule, breakpoints[k], breakpoints[k + 1]));
}

// What sizes the steps of a walk: the step scales of the factors at the current position, a cap
// (the weight's, or the outer covariance walk's), and whether every step takes the 8-point rule
// (three-factor integrands) or only steps longer than 0.05 of the local scale.
struct StepLimits {
    Factors factors;
    double cap;
    bool always_eight;
};

// The local scale lambda at o: the smallest of the cap and the factors' step scales; a NaN scale
// never wins.
inline double local_step(const StepLimits& limits, double o) {
    double lambda = limits.cap;
    for (const Element* f : limits.factors) {
        const double s = step_scale(*f, o);
        if (s < lambda) lambda = s;
    }
    return lambda;
}

// The step from o towards the end of its piece: lambda, or the whole rest of the piece when that
// is at most 5 % longer than lambda, or when lambda is too small to move o at all.
inline double next_step(double o, double end, double lambda) {
    double h = (o + 1.05 * lambda < end) ? lambda : end - o;
    if (!(o + h > o)) h = end - o;
    return h;
}

// Stepping path: each piece with x_k < x_k+1 is walked from x_k in steps of next_step, each one
// panel of the 8-point rule, or of the 4-point rule for a short remainder (h <= 0.05 lambda) when
// the limits allow it. Pieces are visited in breakpoint order, steps in ascending x.
template <class OnPanel>
void stepping_walk(std::span<const double> breakpoints, const StepLimits& limits,
                   OnPanel&& on_panel) {
    const QuadratureRule& r4 = gauss4();
    const QuadratureRule& r8 = gauss8();
    std::size_t steps = 0;
    for (std::size_t k = 0; k + 1 < breakpoints.size(); ++k) {
        const double end = breakpoints[k + 1];
        double o = breakpoints[k];
        while (o < end) {
            // A long walk can be stopped from outside.
            if (++steps % 4096 == 0) poll_cancel();
            const double lambda = local_step(limits, o);
            const double h = next_step(o, end, lambda);
            const QuadratureRule& rule = (limits.always_eight || h > 0.05 * lambda) ? r8 : r4;
            const double u = o + h;
            on_panel(Panel(rule, o, u));
            o = u;
        }
    }
}

// The integral of f(x) times the weight over the pieces between the breakpoints, where f is a
// product of (values or derivatives of) the factors. Without a weight and with polynomial
// factors every piece takes one panel, exact for products of two cubics with 4 points and of
// three with 8; otherwise the factors and the weight limit the steps of the walk.
template <class F>
double integrate_between(Factors factors, CosineWeight weight, std::span<const double> breakpoints,
                         F&& f) {
    const bool three = factors.size() >= 3;
    double result = 0.0;
    const auto add = [&](Panel p) { result += panel_integral(p, f); };
    if (!weight && std::all_of(factors.begin(), factors.end(),
                               [](const Element* e) { return is_polynomial(*e); })) {
        for_each_piece(breakpoints, three ? gauss8() : gauss4(), add);
        return result;
    }
    const StepLimits limits{factors, weight_step_cap(weight), three};
    if (!weight) {
        stepping_walk(breakpoints, limits, add);
        return result;
    }
    const double omega = *weight;
    const auto weighted = [&f, omega](double x) { return f(x) * std::cos(omega * x); };
    stepping_walk(breakpoints, limits, [&](Panel p) { result += panel_integral(p, weighted); });
    return result;
}

} // namespace quorvel
