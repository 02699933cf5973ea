// The pseudo-Voigt mixture eta L + (1 - eta) G of the Cauchy shape L = 1 / (1 + u^2) and the
// normal shape G = exp(-ln 2 u^2), u = t / hwhm: both of half width hwhm, peak 1.
#pragma once

#include "common.hpp"

namespace quorvel::line_shape {

inline Result<ProfileKind> make_pseudo_voigt(double hwhm, double eta) {
    QUORVEL_TRY(check_width("hwhm", hwhm));
    if (!(eta >= 0.0 && eta <= 1.0))
        return invalid_input("pseudo-Voigt eta must be in [0, 1], got " + fmt_fixed(eta));
    return PseudoVoigt{hwhm, eta};
}

inline double value(const PseudoVoigt& k, double t) {
    const double u = t / k.hwhm;
    return k.eta / (u * u + 1.0) + (1.0 - k.eta) * std::exp(u * (u * -c::ln2));
}

// -2 ((1 - eta) ln 2 u exp(-ln 2 u^2) + eta u / (1 + u^2)^2) / hwhm, formed from bounded
// factors.
inline double slope(const PseudoVoigt& k, double t) {
    const double u = t / k.hwhm;
    const double g = (1.0 - k.eta) * c::ln2 * (u * std::exp(u * (u * -c::ln2)));
    return -2.0 * (g / k.hwhm + k.eta * cauchy_slope(u, k.hwhm));
}

inline double width(const PseudoVoigt& k) {
    return k.hwhm;
}

// The steps of a convolution of the two parts whose normal part has the same half width.
inline double step_bound(const PseudoVoigt& k, double d) {
    const double g = k.hwhm / c::sqrt_2ln2;
    return std::fmax(g * 0.5, k.hwhm * 0.3 + std::fmax(d + g * -6.0, 0.0) * 0.3);
}

// While the normal part is not negligible against the Cauchy part, at most 2.5 g^2 / d, the
// normal part's tail step.
inline double step_scale(const PseudoVoigt& k, double d) {
    const double g = k.hwhm / c::sqrt_2ln2;
    const double step = step_bound(k, d);
    const double u = d / k.hwhm;
    const double gauss = (1.0 - k.eta) * std::exp(u * (u * -c::ln2));
    if (!(gauss > 1e-17 * (k.eta / (u * u + 1.0)))) return step;
    return std::fmin(step, 2.5 * g * (g / d));
}

// The integral over offsets [a, b]: the Cauchy part's arctangents and the normal part's
// error functions, exp(-ln 2 u^2) integrating to hwhm / sqrt(ln 2) sqrt(pi) / 2 erf(...).
inline std::optional<double> integral(const PseudoVoigt& k, double a, double b) {
    const double lorentz = k.hwhm * atan_difference(a / k.hwhm, b / k.hwhm);
    const double r = c::sqrt_ln2 / k.hwhm;
    const double gauss = k.hwhm * c::half_sqrt_pi_over_ln2 * erf_difference(a * r, b * r);
    return k.eta * lorentz + (1.0 - k.eta) * gauss;
}

inline Extent extent(const PseudoVoigt& k, double cutoff) {
    const double e = cutoff * width(k);
    return {e, e};
}

inline std::optional<double> parameter_derivative(const PseudoVoigt& k, ParameterKind p, double t) {
    if (p != ParameterKind::Eta) return std::nullopt;
    const double u = t / k.hwhm;
    return 1.0 / (u * u + 1.0) - std::exp(u * (u * -c::ln2));
}

// The support does not depend on eta.
inline std::optional<ExtentRates> extent_rates(const PseudoVoigt&, ParameterKind p, double) {
    if (p != ParameterKind::Eta) return std::nullopt;
    return ExtentRates{0.0, 0.0};
}

template <> struct Descriptor<PseudoVoigt> {
    static constexpr std::string_view name = "PseudoVoigt";
    static constexpr std::string_view one = "pseudo-Voigt profile", many = "pseudo-Voigt profiles";
    static constexpr std::optional<std::uint8_t> wire = 3;
    static constexpr std::tuple fields{free_field("hwhm", &PseudoVoigt::hwhm),
                                      free_field("eta", &PseudoVoigt::eta)};
    static Result<ProfileKind> remake(const PseudoVoigt& k) { return make_pseudo_voigt(k.hwhm, k.eta); }
};

} // namespace quorvel::line_shape
