// The Lorentzian 1 / (1 + (t / hwhm)^2), peak 1.
#pragma once

#include "common.hpp"

namespace quorvel::line_shape {

inline Result<ProfileKind> make_lorentzian(double hwhm) {
    QUORVEL_TRY(check_width("hwhm", hwhm));
    return Lorentzian{hwhm};
}

inline double value(const Lorentzian& k, double t) {
    const double u = t / k.hwhm;
    return 1.0 / (u * u + 1.0);
}

inline double slope(const Lorentzian& k, double t) {
    return -2.0 * cauchy_slope(t / k.hwhm, k.hwhm);
}

inline double width(const Lorentzian& k) {
    return k.hwhm;
}

inline double step_scale(const Lorentzian& k, double d) {
    return (d + k.hwhm) * 0.3;
}

// The integral over offsets [a, b]: hwhm (atan(b / hwhm) - atan(a / hwhm)).
inline std::optional<double> integral(const Lorentzian& k, double a, double b) {
    return k.hwhm * atan_difference(a / k.hwhm, b / k.hwhm);
}

inline Extent extent(const Lorentzian& k, double cutoff) {
    const double e = cutoff * width(k);
    return {e, e};
}

// The half width is the Gamma parameter: 2 u^2 / (hwhm (1 + u^2)^2).
inline std::optional<double> parameter_derivative(const Lorentzian& k, ParameterKind p, double t) {
    if (p != ParameterKind::Gamma) return std::nullopt;
    const double ul = cauchy_ratio(t / k.hwhm);
    return 2.0 * ul * (ul / k.hwhm);
}

inline std::optional<ExtentRates> extent_rates(const Lorentzian&, ParameterKind p, double cutoff) {
    if (p != ParameterKind::Gamma) return std::nullopt;
    return ExtentRates{cutoff, cutoff};
}

inline std::string render(const Lorentzian& k) {
    return "Lorentzian { " + field("hwhm", k.hwhm) + " }";
}

} // namespace quorvel::line_shape
