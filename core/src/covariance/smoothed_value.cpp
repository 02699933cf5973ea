// The kernel smoothed by one element: the sum over the kernel's periodic images of the integral
// of k(y - x) s(y) e(y) w(y), and its derivative with respect to log l.
#include <cmath>

#include "dimension.hpp"
#include "quorvel/stepping_walk.hpp"

namespace quorvel {
namespace {

// Scale derivatives of a kernel profile always exist.
template <class T> T must(Result<T> r) {
    if (!r) throw InternalError("a kernel profile has a Scale derivative");
    return *r;
}
void must(Status s) {
    if (!s) throw InternalError("a kernel profile has Scale point terms");
}

// The derivative of the amplitude-weighted integral of the kernel image g (placed at 0 in the
// frame) against the factor e (whose amplitude is set), over the frame window [lo, hi]: the point
// masses of the moving window ends plus the integral of the stretched kernel.
double amplitude_derivative(const CovarianceDimension& dim, const Element& g,
                            const CovarianceFactor& e, double origin, double lo, double hi,
                            CovarianceScratch& scratch) {
    const Element& s = *e.amplitude;
    const Placed pe{&e.element, origin};
    const Support se = frame_support(pe);
    must(point_terms(g, ParameterKind::Scale, scratch.terms));
    double result = 0.0;
    for (const PointTerm& t : scratch.terms)
        if (se.lower <= t.x && t.x <= se.upper)
            result += t.c * evaluate_at(e.element, origin, t.x) *
                      amplitude_value(dim, &s, origin, t.x) * weight_value(e.weight, origin + t.x);
    if (lo >= hi) return result;

    const Placed factors[] = {{&g, 0.0}, pe, {&s, origin}};
    collect_breakpoints(factors, lo, hi, scratch.inner);
    const auto integrand = [&](double y) {
        return must(parameter_derivative_at(g, ParameterKind::Scale, 0.0, y)) *
               evaluate_at(e.element, origin, y) * evaluate_at(s, origin, y);
    };
    return result + integrate_between(factors, e.weight, origin, scratch.inner, integrand);
}

} // namespace

CovarianceValue smoothed_value(const CovarianceDimension& dim, const CovarianceFactor& e,
                               double origin, double x, bool want_derivative,
                               CovarianceScratch& scratch) {
    const Placed pe{&e.element, origin};
    const Support se = frame_support(pe);
    const ImageRange images = kernel_images(dim, se.lower, se.upper, x);

    CovarianceValue result;
    for (double i = images.first; i <= images.last; i += 1.0) {
        const double v = dim.period ? x + i * *dim.period : x;
        const Element g = kernel_profile(dim, v);
        const Placed pg{&g, 0.0};
        if (e.amplitude == nullptr) {
            result.value += pair_integral(pe, pg, e.weight, origin, scratch.inner);
            if (want_derivative) {
                must(point_terms(g, ParameterKind::Scale, scratch.terms));
                result.derivative += must(pair_parameter_derivative(
                    pg, pe, ParameterKind::Scale, e.weight, scratch.terms, scratch.inner));
            }
            continue;
        }
        const Placed ps{e.amplitude, origin};
        const Support sg = frame_support(pg);
        const Support ss = frame_support(ps);
        const double lo = std::fmax(std::fmax(sg.lower, se.lower), ss.lower);
        const double hi = std::fmin(std::fmin(sg.upper, se.upper), ss.upper);
        if (lo < hi) {
            const Placed factors[] = {pg, pe, ps};
            collect_breakpoints(factors, lo, hi, scratch.inner);
            result.value += integrate_product(factors, e.weight, origin, scratch.inner);
        }
        if (want_derivative)
            result.derivative += amplitude_derivative(dim, g, e, origin, lo, hi, scratch);
    }
    return result;
}

} // namespace quorvel
