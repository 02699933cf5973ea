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

// The largest wavenumber harmonics() can give: integers are exact in a double up to 2^53.
inline constexpr double max_wavenumber = 9007199254740992.0;

// A stored harmonic is accepted as harmonics() could have made it.
inline Result<ProfileKind> check_harmonic(const Harmonic& k) {
    const bool whole = k.wavenumber >= 1.0 && k.wavenumber <= max_wavenumber &&
                       std::floor(k.wavenumber) == k.wavenumber;
    if (!whole) return invalid_input("harmonic wavenumber must be a whole number >= 1");
    if (!(k.period > 0.0 && k.period < INFINITY) || !std::isfinite(k.phase))
        return invalid_input("harmonic needs a finite period > 0 and a finite phase");
    return k;
}

template <> struct Descriptor<Harmonic> {
    static constexpr std::string_view name = "Harmonic";
    static constexpr std::string_view one = "harmonic", many = "harmonics";
    static constexpr std::optional<std::uint8_t> wire = 8;
    static constexpr std::tuple fields{free_field("wavenumber", &Harmonic::wavenumber),
                                      free_field("period", &Harmonic::period),
                                      free_field("phase", &Harmonic::phase)};
    static Result<ProfileKind> remake(const Harmonic& k) {
        return check_harmonic(k);
    }
};

} // namespace quorvel::line_shape
