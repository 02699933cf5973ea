// The Voigt profile, a normal density of standard deviation sigma convolved with a Cauchy density
// of half width gamma: Re w(z) / Re w(iv) with the Faddeeva function w, z = u + iv, u = t / s,
// v = gamma / s and s = sigma sqrt 2, so that the peak is 1.
//
// Near the origin of w the value, slope and parameter derivatives come from w and w'
// (faddeeva_with_slope). Far from it w has the expansion
//     w(z) = i / (sqrt(pi) z) sum_k (2k-1)!! q^k,   q = 1 / (2 z^2) = sigma^2 / (t + i gamma)^2,
// whose terms fall below the rounding within 28 terms once |z| >= 7; it is used
//   - for the whole line when v >= 7, the peak Re w(iv) being the same sum at t = 0: there the
//     sigma derivative of the normalised shape is v^-2 times smaller than the terms that the
//     quotient rule subtracts, so it is formed from the sums instead;
//   - for |u| >= 1e8 otherwise (two terms), with the stored peak.
// Both are evaluated in t / m and gamma / m, m = max(|t|, gamma), never forming u or |z|^2, so
// that no step overflows or underflows where the result is a normal double.
#pragma once

#include <span>

#include "common.hpp"
#include "gaussian.hpp"
#include "lorentzian.hpp"
#include "quorvel/faddeeva.hpp"

namespace quorvel::line_shape {

// The normal-density kind when gamma is 0, the Cauchy one when sigma is 0.
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
    if (sigma > 0.0) return make_gaussian(sigma);
    if (gamma > 0.0) return make_lorentzian(gamma);
    return invalid_input("voigt needs sigma > 0 or gamma > 0");
}

namespace voigt {

inline ComplexValue mul(ComplexValue a, ComplexValue b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

inline ComplexValue scale(ComplexValue a, double f) {
    return {a.re * f, a.im * f};
}

// v = gamma / s from which the expansion serves the whole line, and |u| from which it serves
// any v.
inline constexpr double line_v = 7.0;
inline constexpr double far_u = 1e8;

inline bool whole_line(const Voigt& k, double s) {
    return k.gamma >= line_v * s;
}

inline bool far_point(const Voigt& k, double t, double s) {
    return whole_line(k, s) || !(std::abs(t) < far_u * s);
}

// S = sum_k (2k-1)!! q^k and A = dS/dq = sum_{k>=1} k (2k-1)!! q^(k-1), for |q| <= 1/98.
struct Sums {
    ComplexValue s, a;
};

inline Sums expansion(ComplexValue q) {
    ComplexValue tail{0.0, 0.0}, a{0.0, 0.0}, r{1.0, 0.0}; // r = (2k-1)!! q^(k-1)
    for (int k = 1; k <= 40; ++k) {
        tail = {tail.re + r.re, tail.im + r.im};
        a = {a.re + k * r.re, a.im + k * r.im};
        r = scale(mul(r, q), 2.0 * k + 1.0);
        if ((std::abs(r.re) + std::abs(r.im)) * (k + 1) < 0x1p-57) break;
    }
    const ComplexValue qt = mul(q, tail);
    return {{1.0 + qt.re, qt.im}, a};
}

// The expansion at one point: with p = m / (t + i gamma), w(z) = (s / m) (i p S) / sqrt(pi) and
// dw/dt = -(s / m^2) (i y) / sqrt(pi), y = p^2 (S + 2 q A).
struct Far {
    double m, a, b; // m = max(|t|, gamma), a = t / m, b = gamma / m
    ComplexValue p, q;
    Sums sums;
    double re_f; // Re(i p S)
    ComplexValue y;
};

inline Far far_field(const Voigt& k, double t) {
    Far f{};
    f.m = std::fmax(std::abs(t), k.gamma);
    f.a = t / f.m;
    f.b = k.gamma / f.m;
    const double d = f.a * f.a + f.b * f.b;
    f.p = {f.a / d, -f.b / d};
    const double e = k.sigma / f.m;
    const ComplexValue p2 = mul(f.p, f.p);
    f.q = scale(p2, e * e);
    f.sums = expansion(f.q);
    f.re_f = -mul(f.p, f.sums.s).im;
    const ComplexValue qa = mul(f.q, f.sums.a);
    f.y = mul(p2, {f.sums.s.re + 2.0 * qa.re, f.sums.s.im + 2.0 * qa.im});
    return f;
}

// The peak sum S0 = S at q = -(sigma / gamma)^2 (t = 0) and its A.
inline Sums peak_sums(const Voigt& k) {
    const double e = k.sigma / k.gamma;
    return expansion({-(e * e), 0.0});
}

// Im w'(iv), the rate dRe w(iv) / dv times -1.
inline double peak_slope(double v) {
    return faddeeva_with_slope(0.0, v).slope.im;
}

// (s / m) / (sqrt(pi) Re w(iv)), the factor that turns Re(i p S) into the value, for |u| >= 1e8
// and v < 7.
inline double far_scale(const Voigt& k, const Far& f, double s) {
    return (k.inv_peak * c::inv_sqrt_pi) * (s / f.m);
}

} // namespace voigt

namespace voigt {

// The Faddeeva argument u + iv of the value at offset t, where the value is inv_peak Re w(u + iv);
// false at a point of the expansion.
inline bool near_argument(const Voigt& k, double t, double& u, double& v) {
    const double s = k.sigma * c::sqrt2;
    if (far_point(k, t, s)) return false;
    u = t / s;
    v = k.gamma / s;
    return true;
}

// The value at a point of the expansion.
inline double far_value(const Voigt& k, double t) {
    const double s = k.sigma * c::sqrt2;
    const Far f = far_field(k, t);
    if (whole_line(k, s)) return f.b * (f.re_f / peak_sums(k).s.re);
    return far_scale(k, f, s) * f.re_f;
}

} // namespace voigt

inline double value(const Voigt& k, double t) {
    double u, v;
    if (voigt::near_argument(k, t, u, v)) return k.inv_peak * faddeeva(u, v).re;
    return voigt::far_value(k, t);
}

inline double slope(const Voigt& k, double t) {
    const double s = k.sigma * c::sqrt2;
    if (!voigt::far_point(k, t, s))
        return k.inv_peak * (faddeeva_with_slope(t / s, k.gamma / s).slope.re / s);
    const voigt::Far f = voigt::far_field(k, t);
    if (voigt::whole_line(k, s)) return f.b * (f.y.im / voigt::peak_sums(k).s.re) / f.m;
    return voigt::far_scale(k, f, s) * f.y.im / f.m;
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

// The sigma (first) and gamma (second) derivatives of the value.
struct VoigtRates {
    double sigma, gamma;
};

// Near the origin: the quotient rule on Re w(z) / Re w(iv) with dz/dsigma = -z / sigma,
// dz/dgamma = i / s and w' = h + ig; the factors 1 / sigma and 1 / s are applied last, so that
// widths near the subnormal range overflow only where the result does.
inline VoigtRates voigt_rates_near(const Voigt& k, double u, double v, double s,
                                   const WithSlope& w, double peak_slope) {
    const double h = w.slope.re;
    const double g = w.slope.im;
    const double r = w.w.re;
    const double d_sigma =
        k.inv_peak * (v * g - u * h) - k.inv_peak * (k.inv_peak * (r * (v * peak_slope)));
    const double d_gamma = k.inv_peak * (k.inv_peak * (r * peak_slope)) - k.inv_peak * g;
    return {d_sigma / k.sigma, d_gamma / s};
}

inline VoigtRates voigt_rates_near(const Voigt& k, double t, double s) {
    const double u = t / s;
    const double v = k.gamma / s;
    return voigt_rates_near(k, u, v, s, faddeeva_with_slope(u, v), voigt::peak_slope(v));
}

// For v >= 7, from the expansion: with eps = sigma / gamma the value is b Re(i p S) / S0,
// and d/deps = 2 eps (b^3 Re(i p^3 A) + value A0) / S0 (A0 the A of the peak), so that
// dV/dsigma = 2 (sigma / m) (C / gamma) / S0 with C = b^2 Re(i p^3 A) + value A0 / b; the gamma
// derivative follows from the value being a function of t / gamma and sigma / gamma alone:
// t dV/dt + gamma dV/dgamma + sigma dV/dsigma = 0.
inline VoigtRates voigt_rates_line(const Voigt& k, const voigt::Far& f) {
    const voigt::Sums peak = voigt::peak_sums(k);
    const double s0 = peak.s.re;
    const ComplexValue p3a = voigt::mul(voigt::mul(voigt::mul(f.p, f.p), f.p), f.sums.a);
    const double c = f.b * f.b * -p3a.im + (f.re_f / s0) * peak.a.re;
    const double d_sigma = 2.0 * ((k.sigma / f.m) * c) / k.gamma / s0;
    const double d_gamma = -(f.a * (f.y.im / s0)) / f.m - (k.sigma / k.gamma) * d_sigma;
    return {d_sigma, d_gamma};
}

// For |u| >= 1e8 and v < 7: the expansion with the stored peak P = 1 / Re w(iv), whose
// logarithmic rates are dln P / dsigma = -x / sigma and dln P / dgamma = x / gamma with
// x = P v Im w'(iv); the sigma derivative of Re w(z) is Re w(z) / sigma plus the part of the sum.
inline VoigtRates voigt_rates_far(const Voigt& k, const voigt::Far& f, double s) {
    const double v = k.gamma / s;
    const double peak_rate = k.inv_peak * voigt::peak_slope(v);
    const double n = voigt::far_scale(k, f, s);
    const double value = n * f.re_f;
    const ComplexValue pqa = voigt::mul(voigt::mul(f.p, f.q), f.sums.a);
    const double d_sigma = (value * (1.0 - peak_rate * v) + 2.0 * n * -pqa.im) / k.sigma;
    const double d_gamma = n * f.y.re / f.m + value * peak_rate / s;
    return {d_sigma, d_gamma};
}

inline std::optional<double> parameter_derivative(const Voigt& k, ParameterKind p, double t) {
    if (p != ParameterKind::Sigma && p != ParameterKind::Gamma) return std::nullopt;
    // The normalised shape is 1 at its center whatever the widths.
    if (t == 0.0) return 0.0;
    const double s = k.sigma * c::sqrt2;
    VoigtRates rates{};
    if (!voigt::far_point(k, t, s))
        rates = voigt_rates_near(k, t, s);
    else if (voigt::whole_line(k, s))
        rates = voigt_rates_line(k, voigt::far_field(k, t));
    else
        rates = voigt_rates_far(k, voigt::far_field(k, t), s);
    return p == ParameterKind::Sigma ? rates.sigma : rates.gamma;
}

// Value, slope and the sigma and gamma derivatives (rates 0 and 1) at t, each bitwise what value,
// slope and parameter_derivative give, from one Faddeeva value and one value with its slope; the
// constant is voigt::peak_slope(gamma / (sigma sqrt 2)), the same at every t.
inline double joint_constant(const Voigt& k) {
    return voigt::peak_slope(k.gamma / (k.sigma * c::sqrt2));
}

inline int joint_rate(const Voigt&, ParameterKind p) {
    if (p == ParameterKind::Sigma) return 0;
    if (p == ParameterKind::Gamma) return 1;
    return -1;
}

inline JointValues joint_values(const Voigt& k, double t, double peak_slope) {
    const double s = k.sigma * c::sqrt2;
    if (voigt::far_point(k, t, s)) {
        VoigtRates rates{0.0, 0.0};
        if (t != 0.0) {
            const voigt::Far f = voigt::far_field(k, t);
            rates = voigt::whole_line(k, s) ? voigt_rates_line(k, f) : voigt_rates_far(k, f, s);
        }
        return {value(k, t), slope(k, t), {rates.sigma, rates.gamma}};
    }
    const double u = t / s;
    const double v = k.gamma / s;
    const WithSlope w = faddeeva_with_slope(u, v);
    const VoigtRates rates =
        t == 0.0 ? VoigtRates{0.0, 0.0} : voigt_rates_near(k, u, v, s, w, peak_slope);
    return {k.inv_peak * faddeeva(u, v).re, k.inv_peak * (w.slope.re / s), {rates.sigma, rates.gamma}};
}

// Values at many offsets: the Faddeeva functions of the points near the origin of w are
// evaluated together, several side by side, the others by the expansion one by one.
inline void values_many(std::span<const Voigt* const> kinds, std::span<const double> t,
                        double* out, ValueLists& lists) {
    lists.a.clear();
    lists.b.clear();
    lists.at.clear();
    for (std::size_t i = 0; i < t.size(); ++i) {
        double u, v;
        if (!voigt::near_argument(*kinds[i], t[i], u, v)) {
            out[i] = voigt::far_value(*kinds[i], t[i]);
            continue;
        }
        lists.a.push_back(u);
        lists.b.push_back(v);
        lists.at.push_back(i);
    }
    lists.c.resize(lists.a.size());
    faddeeva_re_many(lists.a, lists.b, lists.c.data());
    for (std::size_t j = 0; j < lists.at.size(); ++j)
        out[lists.at[j]] = kinds[lists.at[j]]->inv_peak * lists.c[j];
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

template <> struct Descriptor<Voigt> {
    static constexpr std::string_view name = "Voigt";
    static constexpr std::string_view one = "Voigt profile", many = "Voigt profiles";
    static constexpr std::optional<std::uint8_t> wire = 2;
    static constexpr std::tuple fields{free_field("sigma", &Voigt::sigma),
                                      free_field("gamma", &Voigt::gamma),
                                      derived_field("inv_peak", &Voigt::inv_peak)};
    static Result<ProfileKind> remake(const Voigt& k) {
        // The constructor turns a record with one zero width into another kind.
        if (!(k.sigma > 0.0 && k.gamma > 0.0))
            return invalid_input("a Voigt element needs sigma > 0 and gamma > 0");
        return make_voigt(k.sigma, k.gamma);
    }
};

} // namespace quorvel::line_shape
