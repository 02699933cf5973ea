// The smoothed box: a box of half width w convolved with a normal density of standard deviation
// sigma, inv_peak (erf((t + w) / s) - erf((t - w) / s)) with s = sigma sqrt 2, scaled to peak 1.
#pragma once

#include "common.hpp"
#include "erf_difference.hpp"

namespace quorvel::line_shape {

inline Result<ProfileKind> make_smoothed_box(double half_width, double sigma) {
    QUORVEL_TRY(check_width("half_width", half_width));
    QUORVEL_TRY(check_width("sigma", sigma));
    const double s = sigma * c::sqrt2;
    const double inv_peak = 1.0 / erf_difference(-half_width / s, half_width / s);
    if (!(inv_peak > 0.0 && inv_peak < INFINITY))
        return invalid_input("smoothed box peak is not representable for half_width " +
                             fmt_fixed(half_width) + " and sigma " + fmt_fixed(sigma));
    return SmoothedBox{half_width, sigma, inv_peak};
}

// Off the plateau a window narrow against its distance from the center is summed as a series,
// since the two rounded ends would otherwise cancel (a tiny half width would give 0 instead of a
// normal density); the peak factor is applied to the window per unit width so that nothing underflows
// on the way.
inline double value(const SmoothedBox& k, double t) {
    const double s = k.sigma * c::sqrt2;
    const double m = std::abs(t) / s;
    const double h = k.half_width / s;
    if (m >= h && 4.0 * m * h < 1.0) return (k.inv_peak * h) * erf_narrow_window(m, h);
    return k.inv_peak * erf_difference((t - k.half_width) / s, (t + k.half_width) / s);
}

// inv_peak 2/sqrt(pi)/s (exp(-p^2) - exp(-q^2)), p = (t + w) / s, q = (t - w) / s. When
// |p^2 - q^2| = 4 |t| w / s^2 is below 1 the difference is formed from the end nearer the center
// with expm1, again per unit half width.
inline double slope(const SmoothedBox& k, double t) {
    const double s = k.sigma * c::sqrt2;
    const double p = (t + k.half_width) / s;
    const double q = (t - k.half_width) / s;
    const double g = 4.0 * std::abs(t) / (s * s);
    const double r = g * k.half_width;
    if (!(r < 1.0))
        return k.inv_peak * (c::two_over_sqrt_pi * (std::exp(-(p * p)) - std::exp(-(q * q))) / s);
    const double near = t >= 0.0 ? q : p;
    // expm1(-r) / (-r), which tends to 1 - r / 2
    const double e1 = r < 1e-10 ? 1.0 - 0.5 * r : std::expm1(-r) / -r;
    const double per_width = (t >= 0.0 ? -1.0 : 1.0) * std::exp(-(near * near)) * (e1 * g);
    return (k.inv_peak * k.half_width) * (c::two_over_sqrt_pi / s * per_width);
}

inline double width(const SmoothedBox& k) {
    return std::fmax(k.half_width, k.sigma * c::sqrt_2ln2);
}

// One sigma; beyond the box's edge, where the flanks fall like a normal density at distance
// d - half_width from it, at most 2.5 sigma^2 / (d - half_width).
inline double step_bound(const SmoothedBox& k, double) {
    return k.sigma;
}

inline double step_scale(const SmoothedBox& k, double d) {
    return std::fmin(k.sigma, 2.5 * k.sigma * (k.sigma / std::fmax(d - k.half_width, 0.0)));
}

inline Extent extent(const SmoothedBox& k, double cutoff) {
    const double e = k.half_width + cutoff * k.sigma;
    return {e, e};
}

// For a half width small against sigma, the normalised smoothed box is
// V = exp(-m^2) T(m, h) / T(0, h), m = t / s, h = w / s, T(m, h) = sum_j H_2j(m) h^2j / (2j+1)!,
// and its derivatives follow term by term; the closed form would subtract two terms of order
// 1 / h to get a result of order h.
inline double narrow_parameter_derivative(const SmoothedBox& k, ParameterKind p, double t) {
    const double s = k.sigma * c::sqrt2;
    const double m = t / s;
    const double h = k.half_width / s;
    const double h2 = h * h;
    // Hermite values at m, two orders at a time, and the even ones at 0.
    double he = 1.0, ho = 2.0 * m; // H_2j(m), H_2j+1(m)
    double ze = 1.0;               // H_2j(0)
    double coefficient = 1.0;      // h^2j / (2j+1)!
    double slope_coefficient = h;  // h^(2j-1) / (2j+1)!, kept apart so that a tiny h survives
    double tm = 1.0, th = 0.0, tmm = 0.0, t0 = 1.0, th0 = 0.0;
    for (int j = 1; j < 40; ++j) {
        const double n = 2.0 * j;
        const double he_next = 2.0 * m * ho - 2.0 * (n - 1.0) * he;
        const double ho_next = 2.0 * m * he_next - 2.0 * n * ho;
        const double ze_next = -2.0 * (n - 1.0) * ze;
        const double odd_before = ho; // H_2j-1(m)
        he = he_next;
        ho = ho_next;
        ze = ze_next;
        coefficient *= h2 / (n * (n + 1.0));
        slope_coefficient *= (j == 1 ? 1.0 : h2) / (n * (n + 1.0));
        const double term = he * coefficient;
        tm += term;
        th += n * he * slope_coefficient;          // d/dh
        tmm += 2.0 * n * odd_before * coefficient; // d/dm, H'_2j = 4j H_2j-1
        t0 += ze * coefficient;
        th0 += n * ze * slope_coefficient;
        if (std::abs(term) < std::abs(tm) * 1e-17 && std::abs(ze * coefficient) < t0 * 1e-17) break;
    }
    const double g = std::exp(-(m * m));
    const double v = g * tm / t0;
    const double v_h = g * (th * t0 - tm * th0) / (t0 * t0);
    if (p == ParameterKind::HalfWidth) return v_h / s;
    const double v_m = g * (tmm / t0) - 2.0 * m * v;
    // m and h both scale as 1 / sigma.
    return -(m * v_m + h * v_h) / k.sigma;
}

// x exp(-x^2), 0 also for an infinite x (a subnormal sigma puts the edges at infinity).
inline double times_gaussian(double x) {
    const double e = std::exp(-(x * x));
    return e == 0.0 ? 0.0 : x * e;
}

inline std::optional<double> parameter_derivative(const SmoothedBox& k, ParameterKind p, double t) {
    if (p != ParameterKind::HalfWidth && p != ParameterKind::Sigma) return std::nullopt;
    const double s = k.sigma * c::sqrt2;
    if (k.half_width / s < 0.1 && 4.0 * std::abs(t) * k.half_width < s * s)
        return narrow_parameter_derivative(k, p, t);
    const double pp = (t + k.half_width) / s;
    const double q = (t - k.half_width) / s;
    const double u = erf_difference(q, pp);
    const double j = k.half_width / s;
    // Quotient rule with the peak normalisation 1 / D(-J, J): the result is
    // inv_peak (r - inv_peak U d) e with the factor e = 2/sqrt(pi) / s (half width) or
    // -2/sqrt(pi) / sigma (sigma) applied last, so that a subnormal sigma does not turn the
    // vanishing bracket far from the edges into inf * 0.
    double d, r, scale;
    if (p == ParameterKind::HalfWidth) {
        d = 2.0 * std::exp(-(j * j));
        r = std::exp(-(pp * pp)) + std::exp(-(q * q));
        scale = s;
    } else {
        d = 2.0 * times_gaussian(j);
        r = times_gaussian(pp) - times_gaussian(q);
        scale = -k.sigma;
    }
    return k.inv_peak * (r - k.inv_peak * (u * d)) * c::two_over_sqrt_pi / scale;
}

inline std::optional<ExtentRates> extent_rates(const SmoothedBox&, ParameterKind p, double cutoff) {
    if (p == ParameterKind::Sigma) return ExtentRates{cutoff, cutoff};
    if (p == ParameterKind::HalfWidth) return ExtentRates{1.0, 1.0};
    return std::nullopt;
}

template <> struct Descriptor<SmoothedBox> {
    static constexpr std::string_view name = "SmoothedBox";
    static constexpr std::string_view one = "smoothed box", many = "smoothed boxes";
    static constexpr std::optional<std::uint8_t> wire = 5;
    static constexpr std::tuple fields{free_field("half_width", &SmoothedBox::half_width),
                                      free_field("sigma", &SmoothedBox::sigma),
                                      derived_field("inv_peak", &SmoothedBox::inv_peak)};
    static Result<ProfileKind> remake(const SmoothedBox& k) { return make_smoothed_box(k.half_width, k.sigma); }
};

} // namespace quorvel::line_shape
