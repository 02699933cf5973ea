// The covariance of two element factors in one dimension: the double integral of the factors
// against the (periodic) kernel, with its derivative with respect to log l.
#include <cmath>

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
void outer_breakpoints(const CovarianceDimension& dim, const CovarianceFactor& phi,
                       const CovarianceFactor& psi, double origin, double u, double t,
                       CovarianceScratch& scratch) {
    std::vector<double>& outer = scratch.outer;
    std::vector<double>& sides = scratch.sides;
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
        }
    }
    sort_unique(outer);
}

// The outer walk over the support of phi of the inner smoothed value of psi, in steps no longer
// than the dimension's step cap; the inner integral is taken only where phi w s does not vanish.
// Both run in the frame of phi, so the kernel's centers are the outer nodes as offsets.
CovarianceValue smooth_pair(const CovarianceDimension& dim, const CovarianceFactor& phi,
                            const CovarianceFactor& psi, bool want, CovarianceScratch& scratch) {
    // The frame starts at the lower end of phi's support.
    const double origin = support(phi.element).lower;
    const Placed walked[] = {{&phi.element, origin}};
    const Support sp = frame_support(walked[0]);
    outer_breakpoints(dim, phi, psi, origin, sp.lower, sp.upper, scratch);

    const StepCap length_cap{dim.step_cap, CapSource::CorrelationLength, dim.length};
    const StepLimits limits{walked, tighter(length_cap, weight_cap(phi.weight)), true, origin};
    CovarianceValue r;
    stepping_walk(scratch.outer, limits, [&](Panel p) {
        for (std::size_t j = 0; j < p.size(); ++j) {
            const double y = p.node(j);
            const double s = phi.amplitude ? evaluate_at(*phi.amplitude, origin, y) : 1.0;
            const double f =
                evaluate_at(phi.element, origin, y) * weight_value(phi.weight, origin + y) * s;
            if (f == 0.0) continue;
            const CovarianceValue inner = smoothed_value(dim, psi, origin, y, want, scratch);
            r.value += inner.value * f * p.half * p.weight(j);
            r.derivative += inner.derivative * f * p.half * p.weight(j);
        }
    });
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
