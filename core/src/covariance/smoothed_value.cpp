// The kernel smoothed by one element: the sum over the kernel's periodic images of the integral
// of k(y - x) s(y) e(y) w(y), and its derivative with respect to log l.
#include <cmath>
#include <limits>

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

// The derivative of the amplitude-weighted integral of the kernel image g against the factor e
// (whose amplitude is set), over [lo, hi]: the point masses of the moving window ends plus the
// integral of the stretched kernel.
double amplitude_derivative(const CovarianceDimension& dim, const Element& g,
                            const CovarianceFactor& e, double lo, double hi,
                            CovarianceScratch& scratch) {
    const Element& s = *e.amplitude;
    const Support se = support(e.element);
    must(point_terms(g, ParameterKind::Scale, scratch.terms));
    double result = 0.0;
    for (const PointTerm& t : scratch.terms)
        if (se.lower <= t.x && t.x <= se.upper)
            result += t.c * evaluate(e.element, t.x) * amplitude_value(dim, &s, t.x) *
                      weight_value(e.weight, t.x);
    if (lo >= hi) return result;

    const Element* factors[] = {&g, &e.element, &s};
    collect_breakpoints(factors, lo, hi, scratch.inner);
    const auto integrand = [&](double x) {
        return must(parameter_derivative(g, ParameterKind::Scale, x)) * evaluate(e.element, x) *
               evaluate(s, x);
    };
    return result + integrate_between(factors, e.weight, scratch.inner, integrand);
}

} // namespace

CovarianceValue smoothed_value(const CovarianceDimension& dim, const CovarianceFactor& e, double x,
                               bool want_derivative, CovarianceScratch& scratch) {
    const Support se = support(e.element);
    const ImageRange images = kernel_images(dim, se.lower, se.upper, x);
    // A range that cannot be counted (an unbounded window) has no finite sum.
    if (!images.countable) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, want_derivative ? nan : 0.0};
    }

    CovarianceValue result;
    for (double i = images.first; i <= images.last; i += 1.0) {
        const double v = dim.period ? x + i * *dim.period : x;
        const Element g = kernel_profile(dim, v);
        if (e.amplitude == nullptr) {
            result.value += pair_inner_product(e.element, g, e.weight, scratch.inner);
            if (want_derivative) {
                must(point_terms(g, ParameterKind::Scale, scratch.terms));
                result.derivative += must(pair_parameter_derivative(
                    g, e.element, ParameterKind::Scale, e.weight, scratch.terms, scratch.inner));
            }
            continue;
        }
        const Support sg = support(g);
        const Support ss = support(*e.amplitude);
        const double lo = std::fmax(std::fmax(sg.lower, se.lower), ss.lower);
        const double hi = std::fmin(std::fmin(sg.upper, se.upper), ss.upper);
        if (lo < hi) {
            const Element* factors[] = {&g, &e.element, e.amplitude};
            collect_breakpoints(factors, lo, hi, scratch.inner);
            result.value += integrate_product(factors, e.weight, scratch.inner);
        }
        if (want_derivative) result.derivative += amplitude_derivative(dim, g, e, lo, hi, scratch);
    }
    return result;
}

} // namespace quorvel
