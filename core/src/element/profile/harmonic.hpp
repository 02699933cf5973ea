// The harmonic cos(phase + 2 pi wavenumber t / period) of a Fourier basis; its support is the
// period around the center, given as the cutoff.
#pragma once

#include "common.hpp"

namespace quorvel::line_shape {

inline double value(const Harmonic& k, double t) {
    return std::cos(k.phase + t * (k.wavenumber * c::two_pi) / k.period);
}

// When 2 pi wavenumber / period overflows (a subnormal period) the argument is formed as in the
// value and the factor applied last.
inline double slope(const Harmonic& k, double t) {
    const double g = k.wavenumber * c::two_pi / k.period;
    if (g < INFINITY) return -(g * std::sin(k.phase + t * g));
    const double w = k.wavenumber * c::two_pi;
    return -(std::sin(k.phase + t * w / k.period) * w) / k.period;
}

// A quarter wavelength.
inline double width(const Harmonic& k) {
    return k.period * 0.25 / k.wavenumber;
}

inline double step_scale(const Harmonic& k, double) {
    return width(k);
}

// The integral over offsets [a, b]: (sin(phase + g b) - sin(phase + g a)) / g, written as
// 2 cos(phase + g (a + b) / 2) sin(g (b - a) / 2) / g so that a short interval does not cancel.
inline std::optional<double> integral(const Harmonic& k, double a, double b) {
    const double g = k.wavenumber * c::two_pi / k.period;
    if (!(g < INFINITY)) return std::nullopt;
    const double h = 0.5 * (b - a);
    return 2.0 * std::cos(k.phase + g * (a + h)) * (std::sin(g * h) / g);
}

inline Extent extent(const Harmonic&, double cutoff) {
    return {cutoff, cutoff};
}

// No line-shape parameters.
inline std::optional<double> parameter_derivative(const Harmonic&, ParameterKind, double) {
    return std::nullopt;
}

inline std::optional<ExtentRates> extent_rates(const Harmonic&, ParameterKind, double) {
    return std::nullopt;
}

inline std::string render(const Harmonic& k) {
    return "Harmonic { " + field("wavenumber", k.wavenumber) + ", " + field("period", k.period) +
           ", " + field("phase", k.phase) + " }";
}

} // namespace quorvel::line_shape
