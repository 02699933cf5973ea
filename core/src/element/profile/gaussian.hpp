// The Gaussian exp(-t^2 / (2 sigma^2)), peak 1.
#pragma once

#include "common.hpp"
#include "erf_difference.hpp"

namespace quorvel::line_shape {

inline Result<ProfileKind> make_gaussian(double sigma) {
    QUORVEL_TRY(check_width("sigma", sigma));
    return Gaussian{sigma};
}

inline double value(const Gaussian& k, double t) {
    const double u = t / k.sigma;
    return std::exp(u * (u * -0.5));
}

// The factors u f and u^2 f are bounded, so only a result beyond the double range overflows.
inline double slope(const Gaussian& k, double t) {
    const double u = t / k.sigma;
    const double f = std::exp(u * (u * -0.5));
    return -(u * f) / k.sigma;
}

// The exponential once for both.
inline std::array<double, 2> value_and_slope(const Gaussian& k, double t) {
    const double u = t / k.sigma;
    const double f = std::exp(u * (u * -0.5));
    return {f, -(u * f) / k.sigma};
}

inline double width(const Gaussian& k) {
    return k.sigma * c::sqrt_2ln2;
}

// One sigma near the center. In the tail the Gaussian falls by e^((2 d h + h^2) / (2 sigma^2))
// over a step h from distance d: a step of 2.5 sigma^2 / d keeps that fall within e^3, which the
// 8-point rule integrates to rounding.
inline double step_bound(const Gaussian& k, double) {
    return k.sigma;
}

inline double step_scale(const Gaussian& k, double d) {
    return std::fmin(k.sigma, 2.5 * k.sigma * (k.sigma / d));
}

// The integral over offsets [a, b]: sigma sqrt(pi / 2) (erf(b / (sigma sqrt 2)) - erf(...)).
inline std::optional<double> integral(const Gaussian& k, double a, double b) {
    const double s = k.sigma * c::sqrt2;
    return k.sigma * c::sqrt_half_pi * erf_difference(a / s, b / s);
}

inline Extent extent(const Gaussian& k, double cutoff) {
    return {cutoff * k.sigma, cutoff * k.sigma};
}

inline std::optional<double> parameter_derivative(const Gaussian& k, ParameterKind p, double t) {
    if (p != ParameterKind::Sigma) return std::nullopt;
    const double u = t / k.sigma;
    const double f = std::exp(u * (u * -0.5));
    return (u * u) * f / k.sigma;
}

inline std::optional<ExtentRates> extent_rates(const Gaussian&, ParameterKind p, double cutoff) {
    if (p != ParameterKind::Sigma) return std::nullopt;
    return ExtentRates{cutoff, cutoff};
}

inline std::string render(const Gaussian& k) {
    return "Gaussian { " + field("sigma", k.sigma) + " }";
}

} // namespace quorvel::line_shape
