// The kernel smoothed by one element: the sum over the kernel's periodic images of the integral
// of k(y - x) s(y) e(y) w(y), and its derivative with respect to log l.
#include <cmath>
#include <limits>

#include "quorvel/covariance.hpp"

namespace quorvel {
namespace {

double weight_value(CosineWeight weight, double x) { return weight ? std::cos(*weight * x) : 1.0; }

// Scale derivatives of a kernel profile always exist.
template <class T> T must(Result<T> r) {
    if (!r) throw InternalError("a kernel profile has a Scale derivative");
    return *r;
}
void must(Status s) {
    if (!s) throw InternalError("a kernel profile has Scale point terms");
}

// The derivative of the amplitude-weighted integral of one kernel image: the point masses of the
// moving window ends plus the stepped integral of the stretched kernel.
double amplitude_derivative(const CovarianceDimension& dim, const Element& g, const Element& e,
                            const Element& s, CosineWeight weight, double lo, double hi,
                            CovarianceScratch& scratch) {
    const Support se = support(e);
    must(point_terms(g, ParameterKind::Scale, scratch.terms));
    double result = 0.0;
    for (const PointTerm& t : scratch.terms)
        if (se.lower <= t.x && t.x <= se.upper)
            result += t.c * evaluate(e, t.x) * amplitude_value(dim, &s, t.x) *
                      weight_value(weight, t.x);
    if (lo >= hi) return result;

    const Element* factors[] = {&g, &e, &s};
    collect_breakpoints(factors, lo, hi, scratch.inner);
    const double cap = weight ? 0.25 / std::fabs(*weight) : std::numeric_limits<double>::infinity();
    const auto step = [&](double o) {
        return std::fmin(std::fmin(std::fmin(step_scale(g, o), step_scale(e, o)), step_scale(s, o)),
                         cap);
    };
    const auto integrand = [&](double x) {
        return must(parameter_derivative(g, ParameterKind::Scale, x)) * evaluate(e, x) *
               evaluate(s, x) * weight_value(weight, x);
    };
    return result + integrate_stepping(scratch.inner, true, step, integrand);
}

} // namespace

CovarianceValue smoothed_value(const CovarianceDimension& dim, const Element& e,
                               CosineWeight weight, const Element* s, double x,
                               bool want_derivative, CovarianceScratch& scratch) {
    const Support se = support(e);
    const double L = dim.window;

    // Images i = first ... last of the kernel centered at x + i P whose window meets e.
    double first = 0.0, last = 0.0;
    if (dim.period) {
        const double p = *dim.period;
        first = std::ceil((se.lower - L - x) / p);
        last = std::floor((se.upper + L - x) / p);
        // A range that cannot be counted (an unbounded window) has no finite sum.
        if (!(std::isfinite(first) && std::isfinite(last)) || last - first > 0x1p52) {
            const double nan = std::numeric_limits<double>::quiet_NaN();
            return {nan, want_derivative ? nan : 0.0};
        }
    } else if (!(se.lower <= x + L && se.upper >= x - L)) {
        return {};
    }

    CovarianceValue result;
    for (double i = first; i <= last; i += 1.0) {
        const double v = dim.period ? x + i * *dim.period : x;
        const Element g = kernel_profile(dim, v);
        if (s == nullptr) {
            result.value += pair_inner_product(e, g, weight, scratch.inner);
            if (want_derivative) {
                must(point_terms(g, ParameterKind::Scale, scratch.terms));
                result.derivative += must(pair_parameter_derivative(
                    g, e, ParameterKind::Scale, weight, scratch.terms, scratch.inner));
            }
            continue;
        }
        const Support sg = support(g);
        const Support ss = support(*s);
        const double lo = std::fmax(std::fmax(sg.lower, se.lower), ss.lower);
        const double hi = std::fmin(std::fmin(sg.upper, se.upper), ss.upper);
        if (lo < hi) {
            const Element* factors[] = {&g, &e, s};
            collect_breakpoints(factors, lo, hi, scratch.inner);
            result.value += integrate_product(factors, weight, scratch.inner);
        }
        if (want_derivative)
            result.derivative += amplitude_derivative(dim, g, e, *s, weight, lo, hi, scratch);
    }
    return result;
}

} // namespace quorvel
