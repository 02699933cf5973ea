// The covariance of two element factors in one dimension: the double integral of the factors
// against the (periodic) kernel, with its derivative with respect to log l.
#include <algorithm>
#include <cmath>
#include <span>

#include "dimension.hpp"
#include "quorvel/sorting.hpp"
#include "quorvel/stepping_walk.hpp"

namespace quorvel {
namespace {

// Two point evaluations: the kernel and (when wanted) its log-l derivative summed over the images
// within the window.
CovarianceValue delta_pair(const CovarianceDimension& dim, double d, bool want) {
    const double L = dim.window;
    const ImageRange images = kernel_images(dim, d, d, 0.0);
    CovarianceValue r;
    for (double i = images.first; i <= images.last; i += 1.0) {
        const double t = dim.period ? d - i * *dim.period : d;
        if (std::fabs(t) <= L) {
            r.value += profile_value(dim.kind, t);
            if (want) r.derivative += -t * profile_slope(dim.kind, t);
        }
    }
    return r;
}

// Fills `outer` with the breakpoints of the outer integral over the support [u, t] of phi (frame
// coordinates): where phi or its amplitude change formula, and where the inner function has kinks
// (the kernel's center or a window end meets a breakpoint of psi or of its amplitude).
// The kernel centers where a breakpoint of psi or of its amplitude sits (its images included) go
// to `kinks`, sorted, when `keep_kinks`.
void outer_breakpoints(const CovarianceDimension& dim, const CovarianceFactor& phi,
                       const CovarianceFactor& psi, double origin, double u, double t,
                       bool keep_kinks, CovarianceScratch& scratch) {
    std::vector<double>& outer = scratch.outer;
    std::vector<double>& sides = scratch.sides;
    std::vector<double>& kinks = scratch.kinks;
    kinks.clear();
    const double L = dim.window;

    const Placed phi_factors[] = {{&phi.element, origin}, {phi.amplitude, origin}};
    collect_breakpoints(Factors(phi_factors, phi.amplitude ? 2 : 1), u, t, outer);

    const Placed psi_factors[] = {{&psi.element, origin}, {psi.amplitude, origin}};
    const Support sq = frame_support(psi_factors[0]);
    collect_breakpoints(Factors(psi_factors, psi.amplitude ? 2 : 1), sq.lower, sq.upper, sides);
    const double width = t - u;
    const ImageRange images = kernel_images(dim, sq.lower - width, sq.upper + width, u);
    for (double i = images.first; i <= images.last; i += 1.0) {
        const double shift = dim.period ? i * *dim.period : 0.0;
        for (double q : sides) {
            for (double k : {q - shift, q - shift - L, q - shift + L})
                if (u < k && k < t) outer.push_back(k);
            if (keep_kinks) kinks.push_back(q - shift);
        }
    }
    sort_unique(outer);
    if (keep_kinks) sort_unique(kinks);
}

// Whether no sorted kink k has its window (k - L, k + L) meet the piece (a, b): the kernel
// windows centered on the piece then each stay within one piece of psi. The window ends are
// formed as outer_breakpoints forms them, so a piece that ends at one is seen to end there.
bool clear_of_kinks(std::span<const double> kinks, double a, double b, double L) {
    for (auto it = std::lower_bound(kinks.begin(), kinks.end(), a - 2.0 * L);
         it != kinks.end() && *it - L < b; ++it) {
        if (*it + L > a) return false;
    }
    return true;
}

bool polynomial_factor(const CovarianceFactor& f) {
    return !f.weight && is_polynomial(f.element) &&
           (f.amplitude == nullptr || is_polynomial(*f.amplitude));
}

// A polynomial element without an amplitude, with or without a weight.
bool plain_polynomial(const CovarianceFactor& f) {
    return is_polynomial(f.element) && f.amplitude == nullptr;
}

// The longest outer step on a piece clear of the kinks between weighted polynomial sides: 0.25
// over the larger frequency, the step of a weighted walk, so that the outer integrand's phase
// moves by at most 0.5 per step (its frequencies are at most |w_phi| + |w_psi|).
StepCap oscillation_cap(const CovarianceFactor& phi, const CovarianceFactor& psi) {
    const double omega = std::fmax(phi.weight ? std::fabs(*phi.weight) : 0.0,
                                   psi.weight ? std::fabs(*psi.weight) : 0.0);
    return {0.25 / omega, CapSource::Weight, omega};
}

// The outer walk over the support of phi of the inner smoothed value of psi, in steps no longer
// than the dimension's step cap; the inner integral is taken only where phi w s does not vanish,
// in a frame whose origin is the double nearest to the kernel's center (an outer node), so that
// the kernel's window and nodes are exact to rounding however far the node lies from phi's lower
// end.
//
// Where both sides are unweighted polynomials, the inner value on an outer piece whose kernel
// windows each stay within one piece of psi is a polynomial of the node (the kernel's moments
// against psi s): the outer integrand is then a polynomial of degree at most 12, which one
// 8-point panel integrates exactly, whatever the piece's length against the correlation length.
// Where polynomial sides without amplitudes carry weights, the inner value there is
// A(x) cos(w x) - B(x) sin(w x) with polynomials A and B of degree at most 3: the outer integrand
// is a polynomial of degree at most 6 times cosines of frequency at most |w_phi| + |w_psi|,
// walked in the steps of the larger weight, however short the correlation length.
CovarianceValue smooth_pair(const CovarianceDimension& dim, const CovarianceFactor& phi,
                            const CovarianceFactor& psi, bool want, CovarianceScratch& scratch) {
    // The frame starts at the lower end of phi's support.
    const double origin = support(phi.element).lower;
    const Placed walked[] = {{&phi.element, origin}};
    const Support sp = frame_support(walked[0]);
    const bool polynomial = polynomial_factor(phi) && polynomial_factor(psi);
    const bool oscillating = !polynomial && plain_polynomial(phi) && plain_polynomial(psi);
    outer_breakpoints(dim, phi, psi, origin, sp.lower, sp.upper, polynomial || oscillating,
                      scratch);

    const StepCap length_cap{dim.step_cap, CapSource::CorrelationLength, dim.length};
    const StepLimits limits{walked, tighter(length_cap, weight_cap(phi.weight)), true, origin};
    const StepLimits clear_limits{walked, oscillating ? oscillation_cap(phi, psi) : StepCap{},
                                  true, origin};
    CovarianceValue r;
    const auto add = [&](Panel p) {
        for (std::size_t j = 0; j < p.size(); ++j) {
            const double y = p.node(j);
            const double s = phi.amplitude ? evaluate_at(*phi.amplitude, origin, y) : 1.0;
            const double f =
                evaluate_at(phi.element, origin, y) * weight_value(phi.weight, origin + y) * s;
            if (f == 0.0) continue;
            // The node origin + y as the double nearest to it plus the exact rest (two-sum).
            const double at = origin + y;
            const double back = at - origin;
            const double rest = (origin - (at - back)) + (y - back);
            const CovarianceValue inner = smoothed_value(dim, psi, at, rest, want, scratch);
            r.value += inner.value * f * p.half * p.weight(j);
            r.derivative += inner.derivative * f * p.half * p.weight(j);
        }
    };
    // Pieces clear of the kinks take one panel, or a walk by the weights' frequencies
    // (`on_clear`); runs of the others are walked (`on_run`); without the polynomial sides every
    // piece is walked.
    const std::span<const double> outer = scratch.outer;
    const auto for_each_run = [&](auto&& on_clear, auto&& on_run) {
        if (!polynomial && !oscillating) return on_run(outer);
        std::size_t k = 0;
        while (k + 1 < outer.size()) {
            if (clear_of_kinks(scratch.kinks, outer[k], outer[k + 1], dim.window)) {
                if (outer[k] < outer[k + 1]) on_clear(outer[k], outer[k + 1]);
                ++k;
                continue;
            }
            std::size_t end = k + 1;
            while (end + 1 < outer.size() &&
                   !clear_of_kinks(scratch.kinks, outer[end], outer[end + 1], dim.window))
                ++end;
            on_run(outer.subspan(k, end - k + 1));
            k = end;
        }
    };

    // One budget for the whole double integral: every outer step whose kernel window meets psi
    // carries eight inner walks over that window (or psi's support where that is shorter), so
    // the outer steps the runs need there, times eight times the inner steps, must stay within
    // it, or the call fails before any step is taken. Without a period the windows meet psi only
    // on the outer pieces within L of its support, whose ends are outer breakpoints.
    const Support sq = frame_support(Placed{&psi.element, origin});
    const double inner_step = std::fmin(profile_scale_bound(dim.kind, dim.window),
                                        weight_step_cap(psi.weight));
    const double inner_steps =
        std::fmax(1.0, std::fmin(2.0 * dim.window, sq.upper - sq.lower) / (1.05 * inner_step));
    const double near_lo = dim.period ? -INFINITY : sq.lower - dim.window;
    const double near_hi = dim.period ? INFINITY : sq.upper + dim.window;
    double outer_steps = 0.0;
    const auto count = [&](std::span<const double> run, const StepLimits& l) {
        for (std::size_t k = 0; k + 1 < run.size(); ++k)
            if (run[k] < near_hi && run[k + 1] > near_lo)
                outer_steps += walk_steps_needed(run.subspan(k, 2), l);
    };
    // Without a period and a derivative the clear pieces between weighted sides take a closed form.
    const bool closed = oscillating && !dim.period && !want;
    for_each_run(
        [&](double a, double b) {
            const double ends[] = {a, b};
            if (oscillating && !closed) count(ends, clear_limits);
        },
        [&](std::span<const double> run) { count(run, limits); });
    if (outer_steps * 8.0 * inner_steps > static_cast<double>(max_walk_steps))
        fail_walk_budget(outer, limits);

    for_each_run(
        [&](double a, double b) {
            const double ends[] = {a, b};
            if (closed)
                r.value += oscillating_piece(dim, phi, psi, origin, a, b);
            else if (oscillating)
                stepping_walk(ends, clear_limits, add);
            else
                add(Panel(gauss8(), a, b));
        },
        [&](std::span<const double> run) { stepping_walk(run, limits, add); });
    return r;
}

} // namespace

CovarianceValue pair_covariance(const CovarianceDimension& dim, const CovarianceFactor& phi,
                                const CovarianceFactor& psi, bool want_derivative,
                                CovarianceScratch& scratch) {
    const auto* dphi = std::get_if<Delta>(&phi.element);
    const auto* dpsi = std::get_if<Delta>(&psi.element);
    if (dphi && dpsi) {
        const double scale = amplitude_value(dim, phi.amplitude, dphi->x, 0.0) *
                             amplitude_value(dim, psi.amplitude, dpsi->x, 0.0);
        if (scale == 0.0) return {};
        const CovarianceValue k = delta_pair(dim, dphi->x - dpsi->x, want_derivative);
        return {scale * k.value, scale * k.derivative};
    }
    // A point factor evaluates the other side's smoothed kernel there (the frame origin, so the
    // kernel is centered at 0); its weight does not enter.
    if (dphi || dpsi) {
        const double x0 = dphi ? dphi->x : dpsi->x;
        const double w = amplitude_value(dim, dphi ? phi.amplitude : psi.amplitude, x0, 0.0);
        if (w == 0.0) return {};
        const CovarianceValue v =
            smoothed_value(dim, dphi ? psi : phi, x0, 0.0, want_derivative, scratch);
        return {w * v.value, w * v.derivative};
    }
    return smooth_pair(dim, phi, psi, want_derivative, scratch);
}

} // namespace quorvel
