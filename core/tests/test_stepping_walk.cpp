// The stepping walk: its step sequence (steps of the local scale but at least the double spacing,
// a last step of up to 1.05 of it taken whole, the 4-point rule only for short remainders), the
// cap of a cosine weight, the step budget, exact integration of polynomials, a normal density
// against its closed form, and empty windows.
#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "check.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/stepping_walk.hpp"

namespace {

using quorvel::Element;
using quorvel::Factors;
using quorvel::Panel;
using quorvel::Placed;
using quorvel::StepCap;
using quorvel::StepLimits;

constexpr double inf = std::numeric_limits<double>::infinity();

struct Step {
    double lo, hi;
    std::size_t points;
    bool last; // the last step of its piece
};

// The panels of one walk, each marked when it ends its piece.
std::vector<Step> walk(const std::vector<double>& breakpoints, const StepLimits& limits) {
    std::vector<Step> steps;
    quorvel::stepping_walk(breakpoints, limits,
                           [&](Panel p) { steps.push_back({p.lo, p.hi, p.size(), false}); });
    for (Step& s : steps)
        for (double b : breakpoints)
            if (s.hi == b) s.last = true;
    return steps;
}

Element single(quorvel::Result<quorvel::Elements> r) {
    CHECK(r.has_value() && r->size() == 1);
    return r->front();
}

// Rounding allowance of a step recovered as hi - lo.
double slack(const Step& s) {
    return 4.0 * std::numeric_limits<double>::epsilon() *
           std::fmax(std::fabs(s.lo), std::fabs(s.hi));
}

// With a constant scale lambda the step sequence is known in advance.
void constant_scale_sequences() {
    const StepLimits unit{Factors{}, StepCap{1.0}, false};
    const auto lengths = [](const std::vector<Step>& steps) {
        std::vector<double> h;
        for (const Step& s : steps)
            h.push_back(s.hi - s.lo);
        return h;
    };

    // The rest of a piece at most 5 % longer than the step is taken in one step.
    auto steps = walk({0.0, 2.04}, unit);
    CHECK(steps.size() == 2);
    CHECK(lengths(steps) == (std::vector<double>{1.0, 2.04 - 1.0}));
    CHECK(steps[0].points == 8 && steps[1].points == 8);

    // A longer rest is cut: two full steps, then a short remainder above 0.05 of the scale.
    steps = walk({0.0, 2.06}, unit);
    CHECK(steps.size() == 3);
    CHECK(steps.size() == 3 && steps[2].hi == 2.06 && steps[2].points == 8);

    // Only a piece shorter than 0.05 of the scale takes the 4-point rule, unless every step must
    // take the 8-point rule.
    steps = walk({0.0, 0.04}, unit);
    CHECK(steps.size() == 1 && steps[0].points == 4);
    steps = walk({0.0, 0.04}, StepLimits{Factors{}, StepCap{1.0}, true});
    CHECK(steps.size() == 1 && steps[0].points == 8);

    // Pieces are walked in order; empty and reversed pieces are skipped.
    steps = walk({-1.0, -0.5, -0.5, 0.25, 0.125, 3.0}, StepLimits{Factors{}, StepCap{0.5}, false});
    const std::vector<double> expected_lo{-1.0,  -0.5,  0.0,   0.125, 0.625,
                                          1.125, 1.625, 2.125, 2.625};
    CHECK(steps.size() == expected_lo.size());
    for (std::size_t i = 0; i < steps.size() && i < expected_lo.size(); ++i)
        CHECK(steps[i].lo == expected_lo[i]);

    // Without any limit every piece is one 4-point step.
    steps = walk({0.0, 1.0, 5.0}, StepLimits{Factors{}, StepCap{inf}, false});
    CHECK(steps.size() == 2 && steps[0].points == 4 && steps[1].points == 4);
}

// Every step is at most the local scale at its start, except that the last step of a piece may
// reach 1.05 of it; the rule is the 8-point one exactly when the step exceeds 0.05 of the scale.
void check_sequence(const std::vector<double>& breakpoints, const StepLimits& limits, double cap) {
    const std::vector<Step> steps = walk(breakpoints, limits);
    CHECK(!steps.empty());
    double covered = 0.0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        const double h = s.hi - s.lo;
        double lambda = cap;
        for (const Placed& f : limits.factors)
            lambda = std::fmin(lambda, quorvel::step_scale(*f.element, f.origin, s.lo));
        CHECK(h > 0.0);
        CHECK(h <= (s.last ? 1.05 : 1.0) * lambda + slack(s));
        // Consecutive steps of a piece join without gaps.
        if (i > 0 && !steps[i - 1].last) CHECK(steps[i - 1].hi == s.lo);
        if (h > 0.06 * lambda || limits.always_eight) CHECK(s.points == 8);
        if (h < 0.04 * lambda && !limits.always_eight) CHECK(s.points == 4);
        covered += h;
    }
    CHECK(std::fabs(covered - (breakpoints.back() - breakpoints.front())) <
          1e-12 * (breakpoints.back() - breakpoints.front()));
}

void profile_sequences() {
    const Element g = single(quorvel::gaussians(std::vector{2.0}, std::vector{0.3}, 8.0));
    const Element l = single(quorvel::lorentzians(std::vector{-1.0}, std::vector{0.05}, 40.0));
    std::vector<double> list;
    for (const Element* e : {&g, &l}) {
        const Placed factors[] = {{e, 0.0}};
        const quorvel::Support s = quorvel::support(*e);
        quorvel::collect_breakpoints(factors, s.lower, s.upper, list);
        check_sequence(list, StepLimits{factors, StepCap{inf}, false}, inf);
        check_sequence(list, StepLimits{factors, StepCap{inf}, true}, inf);
        // A cosine weight caps every step at 0.25 / |omega| (the last one of a piece at 1.05 of
        // that).
        for (double omega : {3.0, -40.0}) {
            const double cap = 0.25 / std::fabs(omega);
            CHECK(quorvel::weight_step_cap(omega) == cap);
            check_sequence(list, StepLimits{factors, quorvel::weight_cap(omega), false}, cap);
        }
    }

    // A normal density is walked in steps of its sigma near its center; in the tails, in steps of
    // 2.5 sigma^2 / d (taken one step closer to the center below it), so that no step spans a
    // fall of more than about e^3. Its support of 8 sigma on either side of the center (center 2,
    // sigma 0.3) takes more steps than the 16 of sigma.
    const Placed factors[] = {{&g, 0.0}};
    const quorvel::Support support = quorvel::support(g);
    quorvel::collect_breakpoints(factors, support.lower, support.upper, list);
    const std::vector<Step> steps = walk(list, StepLimits{factors, StepCap{inf}, false});
    std::size_t full = 0;
    for (const Step& s : steps) {
        const double a = std::fabs(s.lo - 2.0), b = std::fabs(s.hi - 2.0);
        const double fall = std::fabs(a * a - b * b) / (2.0 * 0.09);
        const double h = s.hi - s.lo;
        CHECK(h < 0.3 + 1e-14 && fall < 3.2 && s.points == 8);
        full += std::fabs(h - 0.3) < 1e-14;
    }
    CHECK(full >= 4 && steps.size() > 16 && steps.size() < 60);
}

// x^k integrated over [a, b] by the walk, against (b^(k+1) - a^(k+1)) / (k + 1).
void polynomials() {
    const std::vector<double> pieces{-1.5, 0.25, 0.26, 3.7};
    for (bool eight : {false, true}) {
        const StepLimits limits{Factors{}, StepCap{0.3}, eight};
        // The 4-point rule is exact to degree 7, the 8-point rule to degree 15.
        const int max_degree = eight ? 15 : 7;
        for (int k = 0; k <= max_degree; ++k) {
            double sum = 0.0;
            quorvel::stepping_walk(pieces, limits, [&](Panel p) {
                sum += quorvel::panel_integral(p, [k](double x) { return std::pow(x, k); });
            });
            const double a = pieces.front(), b = pieces.back();
            const double exact = (std::pow(b, k + 1) - std::pow(a, k + 1)) / (k + 1);
            CHECK(std::fabs(sum - exact) <= 1e-14 * std::pow(std::fmax(-a, b), k + 1));
        }
    }

    // The fixed path (polynomial factors, no weight): one 4-point panel per piece.
    const Element box = quorvel::Box{-1.0, 2.0};
    const Placed factors[] = {{&box, 0.0}};
    const std::vector<double> cuts{-1.0, 0.5, 2.0};
    const double fixed =
        quorvel::integrate_between(factors, quorvel::CosineWeight{}, 0.0, cuts,
                                   [](double x) { return std::pow(x, 7) - x * x; });
    const double exact = (std::pow(2.0, 8) - 1.0) / 8.0 - (8.0 + 1.0) / 3.0;
    CHECK(std::fabs(fixed - exact) <= 1e-13);
}

// A unit-peak normal density over its support, and its cosine transform, against closed forms.
void gaussian() {
    const double sigma = 0.7, center = 1.25, cutoff = 10.0;
    const Element g = single(quorvel::gaussians(std::vector{center}, std::vector{sigma}, cutoff));
    std::vector<double> list;
    const Placed factors[] = {{&g, 0.0}};
    const quorvel::Support s = quorvel::support(g);
    quorvel::collect_breakpoints(factors, s.lower, s.upper, list);

    const double root2pi = std::sqrt(2.0 * std::numbers::pi);
    const double plain = quorvel::integrate_product(factors, quorvel::CosineWeight{}, 0.0, list);
    const double exact = sigma * root2pi * std::erf(cutoff / std::numbers::sqrt2);
    CHECK(std::fabs(plain - exact) <= 2e-15 * exact);

    // The weight is cos(omega x) about 0, not about the center.
    for (double omega : {0.5, 3.0, -7.5}) {
        const double weighted = quorvel::integrate_product(factors, omega, 0.0, list);
        const double ref = sigma * root2pi * std::exp(-0.5 * sigma * sigma * omega * omega) *
                           std::cos(omega * center);
        CHECK(std::fabs(weighted - ref) <= 1e-15 * exact);
    }
}

// An empty window integrates to 0 on both paths, and supports that only touch give 0.
void empty_windows() {
    const Element g = single(quorvel::gaussians(std::vector{0.0}, std::vector{1.0}, 4.0));
    const Element box = quorvel::Box{0.0, 1.0};
    for (const Element* e : {&g, &box}) {
        const Placed factors[] = {{e, 0.0}};
        for (const std::vector<double>& cuts :
             {std::vector<double>{0.5, 0.5}, std::vector<double>{}}) {
            CHECK(quorvel::integrate_product(factors, quorvel::CosineWeight{}, 0.0, cuts) == 0.0);
            CHECK(quorvel::integrate_product(factors, 2.0, 0.0, cuts) == 0.0);
            CHECK(walk(cuts, StepLimits{factors, StepCap{inf}, false}).empty());
        }
    }
    std::vector<double> list;
    const Element right = quorvel::Box{1.0, 2.0};
    CHECK(quorvel::pair_inner_product(box, right, quorvel::CosineWeight{}, list) == 0.0);
    CHECK(quorvel::pair_inner_product(g, Element{quorvel::Box{4.0, 5.0}}, 1.5, list) == 0.0);
}

// A scale below the double spacing walks in steps of the spacing: one step per double.
void steps_below_spacing() {
    const double a = 1.0, b = 1.0 + 64 * std::numeric_limits<double>::epsilon();
    const std::vector<Step> steps = walk({a, b}, StepLimits{Factors{}, StepCap{1e-30}, false});
    CHECK(steps.size() == 64);
    for (const Step& s : steps)
        CHECK(s.hi == std::nextafter(s.lo, 2.0));
}

// A walk that needs more than max_walk_steps steps fails with the quantity that makes the steps
// short, a thousand steps in (not after the budget).
void step_budget() {
    const auto failure = [](const std::vector<double>& cuts, const StepLimits& limits) {
        std::size_t panels = 0;
        try {
            quorvel::stepping_walk(cuts, limits, [&](Panel) { ++panels; });
        } catch (const quorvel::CoreFailure& f) {
            CHECK(f.error.kind == quorvel::ErrorKind::InvalidInput);
            CHECK(panels < 2000);
            return f.error.message;
        }
        return std::string();
    };
    const std::string prefix = "quadrature of [1, 2] needs more than 100000000 steps: ";
    CHECK(failure({1.0, 2.0}, StepLimits{Factors{}, quorvel::weight_cap(-1e9), false}) ==
          prefix + "cosine weight scale -1000000000 too large");
    CHECK(failure({1.0, 1.5, 2.0}, StepLimits{Factors{}, quorvel::weight_cap(1e17), false}) ==
          prefix + "cosine weight scale 100000000000000000 too large for double precision");
    const StepCap length{0.5e-12, quorvel::CapSource::CorrelationLength, 1e-12};
    CHECK(failure({1.0, 2.0}, StepLimits{Factors{}, length, true}) ==
          prefix + "correlation length 0.000000000001 too small");
    // A normal density of width 1e-12 cut off at 1e12 widths, walked in the frame of its center; with
    // width 1e-20 its steps fall below the double spacing away from the center.
    for (double sigma : {1e-12, 1e-20}) {
        const Element g =
            single(quorvel::gaussians(std::vector{1.5}, std::vector{sigma}, 0.5 / sigma));
        const Placed factors[] = {{&g, 1.5}};
        CHECK(failure({-0.5, 0.0, 0.5}, StepLimits{factors, StepCap{}, false, 1.5}) ==
              prefix + "line-shape width too small" +
                  (sigma < 1e-16 ? " for double precision" : ""));
    }
    // Within the budget the walk goes on to the end.
    CHECK(failure({0.0, 1.0}, StepLimits{Factors{}, StepCap{1e-5}, false}).empty());
}

} // namespace

int main() {
    steps_below_spacing();
    step_budget();
    constant_scale_sequences();
    profile_sequences();
    polynomials();
    gaussian();
    empty_windows();
    return quorvel::test::failures;
}
