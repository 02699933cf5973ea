// The Voigt profile, a Gaussian of standard deviation sigma convolved with a Lorentzian of half
// width gamma: Re w((t + i gamma) / (sigma sqrt 2)) with the Faddeeva function w, scaled to peak 1.
#pragma once

#include "common.hpp"
#include "quorvel/faddeeva.hpp"

namespace quorvel::line_shape {

// A Gaussian when gamma is 0, a Lorentzian when sigma is 0.
inline Result<ProfileKind> make_voigt(double sigma, double gamma) {
    if (!zero_or_positive_finite(sigma) || !zero_or_positive_finite(gamma))
        return invalid_input("voigt needs finite sigma >= 0 and gamma >= 0");
    if (sigma > 0.0 && gamma > 0.0) {
        const double v = gamma / (sigma * c::sqrt2);
        const double inv_peak = 1.0 / faddeeva(0.0, v).re;
        // An extreme width ratio underflows the peak; the normalised shape would be NaN.
        if (!(inv_peak > 0.0 && inv_peak < INFINITY))
            return invalid_input("voigt peak is not representable for sigma " + fmt_fixed(sigma) +
                                 " and gamma " + fmt_fixed(gamma));
        return Voigt{sigma, gamma, inv_peak};
    }
    if (sigma > 0.0) return Gaussian{sigma};
    if (gamma > 0.0) return Lorentzian{gamma};
    return invalid_input("voigt needs sigma > 0 or gamma > 0");
}

inline double value(const Voigt& k, double t) {
    const double s = k.sigma * c::sqrt2;
    return k.inv_peak * faddeeva(t / s, k.gamma / s).re;
}

inline double slope(const Voigt& k, double t) {
    const double s = k.sigma * c::sqrt2;
    const double u = t / s;
    const double v = k.gamma / s;
    const ComplexValue w = faddeeva(u, v);
    return k.inv_peak * ((u * w.re - v * w.im) * -2.0 / s);
}

// The Olivero-Longbothum full width, halved.
inline double width(const Voigt& k) {
    const double fl = k.gamma + k.gamma;
    const double fg = k.sigma * c::fwhm_per_sigma;
    return 0.5 * (c::voigt_linear * fl + std::sqrt(fg * fg + fl * (fl * c::voigt_quadratic)));
}

inline double step_scale(const Voigt& k, double d) {
    return std::fmax(k.sigma * 0.5, k.gamma * 0.3 + std::fmax(d + k.sigma * -6.0, 0.0) * 0.3);
}

inline Extent extent(const Voigt& k, double cutoff) {
    const double e = cutoff * width(k);
    return {e, e};
}

// With z = u + iv, u = t / s, v = gamma / s, s = sigma sqrt 2: the value is Re w(z) / Re w(iv),
// differentiated by the quotient rule with w'(z) = -2 z w + 2 i / sqrt(pi).
inline std::optional<double> parameter_derivative(const Voigt& k, ParameterKind p, double t) {
    if (p != ParameterKind::Sigma && p != ParameterKind::Gamma) return std::nullopt;
    const double s = k.sigma * c::sqrt2;
    const double u = t / s;
    const double v = k.gamma / s;
    const ComplexValue w = faddeeva(u, v);
    const double h = -2.0 * (u * w.re - v * w.im);
    const double g = c::two_over_sqrt_pi - 2.0 * (u * w.im + v * w.re);
    const double r0 = faddeeva(0.0, v).re;
    const double peak_slope = c::two_over_sqrt_pi - 2.0 * v * r0;
    double dr, dp;
    if (p == ParameterKind::Sigma) {
        dr = (-u / k.sigma) * h - (-v / k.sigma) * g;
        dp = -(-v / k.sigma) * peak_slope;
    } else {
        dr = -(1.0 / s) * g;
        dp = -(1.0 / s) * peak_slope;
    }
    return k.inv_peak * dr - k.inv_peak * (k.inv_peak * (w.re * dp));
}

// The extents are cutoff times the half width above, differentiated in sigma and gamma.
inline std::optional<ExtentRates> extent_rates(const Voigt& k, ParameterKind p, double cutoff) {
    const double fg = k.sigma * c::fwhm_per_sigma;
    const double fl = k.gamma + k.gamma;
    const double r = std::sqrt(fg * fg + fl * (fl * c::voigt_quadratic));
    if (p == ParameterKind::Sigma) {
        const double g = fg * 0.5 * c::fwhm_per_sigma / r;
        return ExtentRates{cutoff * g, cutoff * g};
    }
    if (p == ParameterKind::Gamma) {
        const double g = (2.0 * (fl * c::voigt_quadratic) / r + 2.0 * c::voigt_linear) * 0.5;
        return ExtentRates{cutoff * g, cutoff * g};
    }
    return std::nullopt;
}

inline std::string render(const Voigt& k) {
    return "Voigt { " + field("sigma", k.sigma) + ", " + field("gamma", k.gamma) + ", " +
           field("inv_peak", k.inv_peak) + " }";
}

} // namespace quorvel::line_shape
