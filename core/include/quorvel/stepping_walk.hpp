// The walk behind every quadrature of the core: panels of a Gauss-Legendre rule laid over the
// pieces between breakpoints, one per piece for polynomial integrands, in steps of the
// integrand's local length scale otherwise.
//
// The walks are templates that call their panel consumer inline and allocate nothing. They run in
// the frame coordinates of the integral (quadrature.hpp): breakpoints, steps and nodes are offsets
// from the frame origin. Node positions are formed only in Panel, step lengths only in next_step,
// and every step of every walk passes through the loop of stepping_walk, so a change to any of the
// three lands in one place.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
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

// The same for two integrands over the same nodes: f(y) returns both values, and each sum is
// formed exactly as panel_integral forms it alone.
template <class F> [[gnu::noinline]] std::array<double, 2> panel_integral_2(Panel p, F&& f) {
    double s0 = 0.0, s1 = 0.0;
    for (std::size_t j = 0; j < p.size(); ++j) {
        const std::array<double, 2> v = f(p.node(j));
        s0 += p.weight(j) * v[0];
        s1 += p.weight(j) * v[1];
    }
    return {p.half * s0, p.half * s1};
}

// Fixed path: one panel of `rule` on every piece between consecutive breakpoints.
template <class OnPanel>
void for_each_piece(std::span<const double> breakpoints, const QuadratureRule& rule,
                    OnPanel&& on_panel) {
    for (std::size_t k = 0; k + 1 < breakpoints.size(); ++k)
        on_panel(Panel(rule, breakpoints[k], breakpoints[k + 1]));
}

// What bounds the steps of a walk besides its factors, and the input it comes from (named when a
// walk needs too many steps): a cosine weight (quantity omega) or the correlation length of a
// covariance (quantity l).
enum class CapSource { None, Weight, CorrelationLength };
struct StepCap {
    double length = std::numeric_limits<double>::infinity();
    CapSource source = CapSource::None;
    double quantity = 0.0;
};

// A quarter of 1 / |omega| with a weight, no cap without one.
inline StepCap weight_cap(CosineWeight weight) {
    if (!weight) return {};
    return {weight_step_cap(weight), CapSource::Weight, *weight};
}

inline StepCap tighter(StepCap a, StepCap b) {
    return b.length < a.length ? b : a;
}

// What sizes the steps of a walk: the step scales of the factors at the current position, a cap,
// and whether every step takes the 8-point rule (three-factor integrands) or only steps longer
// than 0.05 of the local scale. `origin` places frame position 0 (for messages).
struct StepLimits {
    Factors factors;
    StepCap cap;
    bool always_eight;
    double origin = 0.0;
};

// The local scale lambda at o: the smallest of the cap and the factors' step scales; a NaN scale
// never wins.
inline double local_step(const StepLimits& limits, double o) {
    double lambda = limits.cap.length;
    for (const Placed& f : limits.factors) {
        const double s = step_scale(*f.element, f.origin, o);
        if (s < lambda) lambda = s;
    }
    return lambda;
}

// The step from o towards the end of its piece: lambda, but at least the distance to the next
// double so that every step moves o; the whole rest of the piece when that is at most 5 % longer.
inline double next_step(double o, double end, double lambda) {
    // The spacing at o is at most 2^-52 |o|: only a step below that needs the exact spacing.
    double h = lambda;
    if (!(lambda >= 0x1p-52 * std::fabs(o))) h = std::fmax(lambda, std::nextafter(o, INFINITY) - o);
    return o + 1.05 * h < end ? h : end - o;
}

// Checks a walk that has taken `steps` steps and is at o in piece `piece`. Past max_walk_steps it
// fails; otherwise it bounds the steps still needed from below, by the longest steps the limits
// allow on each remaining piece, and fails at once if they exceed what is left of the budget.
// Returns the step count of the next check. Failures are InvalidInput CoreFailures naming the
// limit that makes the steps short.
std::uint64_t check_walk_budget(std::span<const double> breakpoints, std::size_t piece, double o,
                                const StepLimits& limits, std::uint64_t steps);

// A lower bound of the steps a walk over the breakpoints needs; and the failure of a walk over
// them that needs more than max_walk_steps (for walks whose steps carry inner walks, whose
// caller counts the steps of both).
double walk_steps_needed(std::span<const double> breakpoints, const StepLimits& limits);
[[noreturn]] void fail_walk_budget(std::span<const double> breakpoints, const StepLimits& limits);

// The step count of one walk: 1024 steps in, the rest is estimated once, so a hopeless walk
// fails there instead of running for hours; every 4096 steps a long walk can be stopped from
// outside (poll_cancel).
class WalkBudget {
  public:
    void step(std::span<const double> breakpoints, std::size_t piece, double o,
              const StepLimits& limits) {
        if (++steps_ == next_check_)
            next_check_ = check_walk_budget(breakpoints, piece, o, limits, steps_);
        if (steps_ % 4096 == 0) poll_cancel();
    }

  private:
    std::uint64_t steps_ = 0;
    std::uint64_t next_check_ = 1024;
};

// Stepping path: each piece with x_k < x_k+1 is walked from x_k in steps of next_step, each one
// panel of the 8-point rule, or of the 4-point rule for a short remainder (h <= 0.05 lambda) when
// the limits allow it. Pieces are visited in breakpoint order, steps in ascending x. A walk that
// needs more than max_walk_steps steps fails (WalkBudget).
template <class OnPanel>
void stepping_walk(std::span<const double> breakpoints, const StepLimits& limits,
                   OnPanel&& on_panel) {
    const QuadratureRule& r4 = gauss4();
    const QuadratureRule& r8 = gauss8();
    WalkBudget budget;
    for (std::size_t k = 0; k + 1 < breakpoints.size(); ++k) {
        const double end = breakpoints[k + 1];
        double o = breakpoints[k];
        while (o < end) {
            budget.step(breakpoints, k, o, limits);
            const double lambda = local_step(limits, o);
            const double h = next_step(o, end, lambda);
            const QuadratureRule& rule = (limits.always_eight || h > 0.05 * lambda) ? r8 : r4;
            const double u = o + h;
            on_panel(Panel(rule, o, u));
            o = u;
        }
    }
}

// A piece of a polynomial integrand against cos(omega x) that spans this many radians of the
// weight on each side of its middle, or more, is integrated in closed form (cosine_panel); below
// it the moments would cancel, and the piece is walked.
inline constexpr double cosine_closed_form_theta = 16.0;

// The integral of f(y) cos(omega (origin + y)) over the panel's piece for a polynomial f of
// degree at most 8, in closed form. With x = m + h s (m the middle, h the half length,
// theta = omega h), f is expanded in Legendre polynomials of s, exactly, by the panel's 8-point
// rule, and
//   int_-1^1 P_k(s) cos(theta s) ds = 2 (-1)^(k/2) j_k(theta)       (k even, 0 for k odd)
//   int_-1^1 P_k(s) sin(theta s) ds = 2 (-1)^((k-1)/2) j_k(theta)   (k odd, 0 for k even)
// with the spherical Bessel functions j_k, by their upward recurrence, stable for |theta| > k.
// The weight cos(omega m + theta s) splits into these two parts. The cost does not grow with
// omega.
template <class F> double cosine_panel(Panel p, F&& f, double omega, double origin) {
    double c[8] = {};
    for (std::size_t j = 0; j < p.size() && j < 8; ++j) {
        const double s = p.nodes[j];
        const double v = p.weight(j) * f(p.node(j));
        double prev = 1.0, cur = s;
        c[0] += v;
        c[1] += v * s;
        for (std::size_t k = 1; k + 1 < 8; ++k) {
            const double next = ((2.0 * k + 1.0) * s * cur - k * prev) / (k + 1.0);
            prev = cur;
            cur = next;
            c[k + 1] += v * cur;
        }
    }
    const double theta = omega * p.half;
    const double a = std::fabs(theta);
    double jk[8];
    jk[0] = std::sin(a) / a;
    jk[1] = (jk[0] - std::cos(a)) / a;
    for (std::size_t k = 1; k + 1 < 8; ++k)
        jk[k + 1] = (2.0 * k + 1.0) / a * jk[k] - jk[k - 1];
    double even = 0.0, odd = 0.0;
    for (std::size_t k = 0; k < 8; ++k) {
        const double term = (2.0 * k + 1.0) * c[k] * jk[k]; // (2k + 1) / 2 c_k times 2 j_k
        if (k % 2 == 0)
            even += (k % 4 == 0) ? term : -term;
        else
            odd += (k % 4 == 1) ? term : -term;
    }
    if (theta < 0.0) odd = -odd;
    const double x = origin + p.mid;
    return p.half * (std::cos(omega * x) * even - std::sin(omega * x) * odd);
}

// The integral of f(y) times the weight over the pieces between the breakpoints (frame
// coordinates, frame position 0 at `origin`), where f is a product of (values or derivatives of)
// the factors. Without a weight and with polynomial factors every piece takes one panel, exact
// for products of two cubics with 4 points and of three with 8; otherwise the factors and the
// weight limit the steps of the walk.
template <class F>
double integrate_between(Factors factors, CosineWeight weight, double origin,
                         std::span<const double> breakpoints, F&& f) {
    const bool three = factors.size() >= 3;
    double result = 0.0;
    const auto add = [&](Panel p) { result += panel_integral(p, f); };
    if (!weight && std::all_of(factors.begin(), factors.end(),
                               [](const Placed& p) { return is_polynomial(*p.element); })) {
        for_each_piece(breakpoints, three ? gauss8() : gauss4(), add);
        return result;
    }
    const StepLimits limits{factors, weight_cap(weight), three, origin};
    if (!weight) {
        stepping_walk(breakpoints, limits, add);
        return result;
    }
    const double omega = *weight;
    const auto weighted = [&f, omega, origin](double y) {
        return f(y) * std::cos(omega * (origin + y));
    };
    const auto add_weighted = [&](Panel p) { result += panel_integral(p, weighted); };
    // Products of at most two polynomial factors (degree 6, or 8 with the derivative
    // integrands): long pieces in closed form, short ones walked.
    if (!three && std::all_of(factors.begin(), factors.end(),
                              [](const Placed& p) { return is_polynomial(*p.element); })) {
        const double reach = cosine_closed_form_theta / std::fabs(omega);
        for (std::size_t k = 0; k + 1 < breakpoints.size(); ++k) {
            const double a = breakpoints[k], b = breakpoints[k + 1];
            if (!(a < b)) continue;
            if ((b - a) * 0.5 >= reach)
                result += cosine_panel(Panel(gauss8(), a, b), f, omega, origin);
            else
                stepping_walk(breakpoints.subspan(k, 2), limits, add_weighted);
        }
        return result;
    }
    stepping_walk(breakpoints, limits, add_weighted);
    return result;
}

// Two integrals of integrate_between over the same factors, weight and breakpoints in one pass:
// f(y) returns both integrands at y. Their panels are the same, so each result is bitwise the
// one integrate_between gives for its integrand alone.
template <class F>
std::array<double, 2> integrate_between_2(Factors factors, CosineWeight weight, double origin,
                                          std::span<const double> breakpoints, F&& f) {
    const bool three = factors.size() >= 3;
    std::array<double, 2> result{0.0, 0.0};
    const auto add = [&result](const std::array<double, 2>& panel) {
        result[0] += panel[0];
        result[1] += panel[1];
    };
    if (!weight && std::all_of(factors.begin(), factors.end(),
                               [](const Placed& p) { return is_polynomial(*p.element); })) {
        for_each_piece(breakpoints, three ? gauss8() : gauss4(),
                       [&](Panel p) { add(panel_integral_2(p, f)); });
        return result;
    }
    const StepLimits limits{factors, weight_cap(weight), three, origin};
    if (!weight) {
        stepping_walk(breakpoints, limits, [&](Panel p) { add(panel_integral_2(p, f)); });
        return result;
    }
    const double omega = *weight;
    const auto weighted = [&f, omega, origin](double y) {
        const std::array<double, 2> v = f(y);
        const double c = std::cos(omega * (origin + y));
        return std::array<double, 2>{v[0] * c, v[1] * c};
    };
    const auto add_weighted = [&](Panel p) { add(panel_integral_2(p, weighted)); };
    if (!three && std::all_of(factors.begin(), factors.end(),
                              [](const Placed& p) { return is_polynomial(*p.element); })) {
        const double reach = cosine_closed_form_theta / std::fabs(omega);
        for (std::size_t k = 0; k + 1 < breakpoints.size(); ++k) {
            const double a = breakpoints[k], b = breakpoints[k + 1];
            if (!(a < b)) continue;
            if ((b - a) * 0.5 >= reach) {
                const Panel p(gauss8(), a, b);
                add({cosine_panel(p, [&f](double y) { return f(y)[0]; }, omega, origin),
                     cosine_panel(p, [&f](double y) { return f(y)[1]; }, omega, origin)});
            } else {
                stepping_walk(breakpoints.subspan(k, 2), limits, add_weighted);
            }
        }
        return result;
    }
    stepping_walk(breakpoints, limits, add_weighted);
    return result;
}

} // namespace quorvel
