// The asymmetric super-Gaussian exp(-ln 2 (|t| / w)^power), w the half width on the side of t.
// Its Asymmetry parameter a moves the half widths m (1 - a) and m (1 + a) at a fixed mean m.
#pragma once

#include "common.hpp"

namespace quorvel::line_shape {

inline Result<ProfileKind> make_super_gaussian(double hwhm_left, double hwhm_right, double power) {
    QUORVEL_TRY(check_width("hwhm_left", hwhm_left));
    QUORVEL_TRY(check_width("hwhm_right", hwhm_right));
    if (!(power >= 1.0 && power < INFINITY))
        return invalid_input("super-Gaussian power must be >= 1, got " + fmt_fixed(power));
    return SuperGaussian{hwhm_left, hwhm_right, power};
}

inline double side_width(const SuperGaussian& k, double t) {
    return t < 0.0 ? k.hwhm_left : k.hwhm_right;
}

inline double value(const SuperGaussian& k, double t) {
    const double w = side_width(k, t);
    return std::exp(std::pow(std::abs(t) / w, k.power) * -c::ln2);
}

inline double slope(const SuperGaussian& k, double t) {
    if (std::isnan(t)) return t;
    if (t == 0.0) return 0.0;
    const double w = side_width(k, t);
    const double b = std::abs(t) / w;
    const double f = std::exp(std::pow(b, k.power) * -c::ln2);
    // Far out on a high power the value underflows to 0 while the power overflows; the product
    // then is 0, not 0 * inf. Otherwise f b^(power - 1) is bounded and only the division by a
    // tiny w can overflow.
    if (f == 0.0) return -sign(t) * 0.0;
    return -sign(t) * ((f * std::pow(b, k.power - 1.0)) * (k.power * c::ln2)) / w;
}

inline double width(const SuperGaussian& k) {
    return (k.hwhm_left + k.hwhm_right) * 0.5;
}

inline double step_bound(const SuperGaussian& k, double d) {
    const double f = std::fmin(k.hwhm_left, k.hwhm_right);
    return std::fmin(f / std::fmax(k.power, 2.0), d * 0.3 + f * 1e-8);
}

// In the tail the value exp(-e), e = ln 2 (d / f)^power, falls at the rate power e / d: while it
// is not below the doubles, a step of at most 2.5 / rate keeps the fall over one step within
// about e^3, which the 8-point rule integrates to rounding.
inline double step_scale(const SuperGaussian& k, double d) {
    const double step = step_bound(k, d);
    const double e = c::ln2 * std::pow(d / std::fmin(k.hwhm_left, k.hwhm_right), k.power);
    if (!(e < 746.0)) return step;
    return std::fmin(step, 2.5 * d / (k.power * e));
}

inline Extent extent(const SuperGaussian& k, double cutoff) {
    return {cutoff * k.hwhm_left, cutoff * k.hwhm_right};
}

inline std::optional<double> parameter_derivative(const SuperGaussian& k, ParameterKind p,
                                                  double t) {
    if (p != ParameterKind::Power && p != ParameterKind::Asymmetry) return std::nullopt;
    if (t == 0.0) return 0.0;
    const double w = side_width(k, t);
    const double b = std::abs(t) / w;
    const double g = std::pow(b, k.power);
    const double f = std::exp(g * -c::ln2);
    // Where the value underflows to 0 the power may have overflowed; the products then are 0,
    // with the sign they have wherever both factors are finite.
    if (p == ParameterKind::Power) {
        const double d = g * -c::ln2 * std::log(b);
        return f == 0.0 ? std::copysign(0.0, d) : f * d;
    }
    const double rate = f == 0.0 ? 0.0 : k.power * c::ln2 * (g * f);
    const double mean = 0.5 * k.hwhm_left + 0.5 * k.hwhm_right;
    return (t < 0.0 ? -1.0 : 1.0) * (mean / w) * rate;
}

// The power leaves the support alone; the asymmetry moves both ends the same way.
inline std::optional<ExtentRates> extent_rates(const SuperGaussian& k, ParameterKind p,
                                               double cutoff) {
    if (p == ParameterKind::Power) return ExtentRates{0.0, 0.0};
    if (p == ParameterKind::Asymmetry) {
        const double mean = cutoff * (k.hwhm_left + k.hwhm_right) * 0.5;
        return ExtentRates{-mean, mean};
    }
    return std::nullopt;
}

inline std::string render(const SuperGaussian& k) {
    return "SuperGaussian { " + field("hwhm_left", k.hwhm_left) + ", " +
           field("hwhm_right", k.hwhm_right) + ", " + field("power", k.power) + " }";
}

} // namespace quorvel::line_shape
