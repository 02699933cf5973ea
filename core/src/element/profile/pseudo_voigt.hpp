// The pseudo-Voigt mixture eta L + (1 - eta) G of a Lorentzian and a Gaussian of the same half
// width, peak 1.
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

// The steps of a Voigt whose Gaussian has the same half width.
inline double step_scale(const PseudoVoigt& k, double d) {
    const double g = k.hwhm / c::sqrt_2ln2;
    return std::fmax(g * 0.5, k.hwhm * 0.3 + std::fmax(d + g * -6.0, 0.0) * 0.3);
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
    static constexpr std::optional<std::uint8_t> wire = 3;
    static constexpr std::tuple fields{free_field("hwhm", &PseudoVoigt::hwhm),
                                      free_field("eta", &PseudoVoigt::eta)};
    static Result<ProfileKind> remake(const PseudoVoigt& k) { return make_pseudo_voigt(k.hwhm, k.eta); }
};

} // namespace quorvel::line_shape
