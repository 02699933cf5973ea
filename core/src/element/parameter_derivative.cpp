// Derivatives of element values with respect to a parameter: position and stretch for every
// kind, the line-shape parameters for profiles, and mapped elements through their inner one.
#include <cmath>
#include <string>

#include "constants.hpp"
#include "quorvel/element.hpp"
#include "quorvel/faddeeva.hpp"

namespace quorvel {

namespace c = constants;

namespace {

std::unexpected<CoreError> no_parameter(const ProfileKind& kind, ParameterKind p) {
    return invalid_input(render_kind(kind) + " has no parameter " + std::string(parameter_name(p)));
}

bool is_placement(ParameterKind p) {
    return p == ParameterKind::Center || p == ParameterKind::Scale;
}

// The element beneath any number of maps.
const Element& innermost(const Element& e) {
    const Element* cur = &e;
    while (const auto* m = std::get_if<Mapped>(cur))
        cur = m->inner.get();
    return *cur;
}

double super_gaussian_parameter(const SuperGaussian& k, ParameterKind p, double t) {
    if (t == 0.0) return 0.0;
    const double w = t < 0.0 ? k.hwhm_left : k.hwhm_right;
    const double b = std::abs(t) / w;
    const double g = std::pow(b, k.power);
    const double f = std::exp(g * -c::ln2);
    // Where the value underflows to 0 the power may have overflowed; the products then are 0,
    // with the sign they have wherever both factors are finite.
    if (p == ParameterKind::Power) {
        const double d = g * -c::ln2 * std::log(b);
        return f == 0.0 ? std::copysign(0.0, d) : f * d;
    }
    // Half widths m (1 - a) and m (1 + a) at fixed mean m.
    const double rate = f == 0.0 ? 0.0 : k.power * c::ln2 * g / w * f;
    return (k.hwhm_left + k.hwhm_right) * (t < 0.0 ? -0.5 : 0.5) * rate;
}

// For a half width small against sigma, the normalised smoothed box is
// V = exp(-m^2) T(m, h) / T(0, h), m = t / s, h = w / s, T(m, h) = sum_j H_2j(m) h^2j / (2j+1)!,
// and its derivatives follow term by term; the closed form below would subtract two terms of
// order 1 / h to get a result of order h.
double narrow_smoothed_box_parameter(const SmoothedBox& k, ParameterKind p, double t) {
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

double smoothed_box_parameter(const SmoothedBox& k, ParameterKind p, double t) {
    const double s = k.sigma * c::sqrt2;
    if (k.half_width / s < 0.1 && 4.0 * std::abs(t) * k.half_width < s * s)
        return narrow_smoothed_box_parameter(k, p, t);
    const double pp = (t + k.half_width) / s;
    const double q = (t - k.half_width) / s;
    const double u = erf_difference(q, pp);
    double e, d, r;
    if (p == ParameterKind::HalfWidth) {
        e = c::two_over_sqrt_pi / s;
        const double j = k.half_width / s;
        d = 2.0 * std::exp(-(j * j));
        r = e * (std::exp(-(pp * pp)) + std::exp(-(q * q)));
    } else {
        const double j = k.half_width / s;
        e = -c::two_over_sqrt_pi / k.sigma;
        d = 2.0 * j * std::exp(-(j * j));
        r = e * (pp * std::exp(-(pp * pp)) - q * std::exp(-(q * q)));
    }
    // Quotient rule with the peak normalisation 1 / D(-J, J).
    return k.inv_peak * r - k.inv_peak * (k.inv_peak * (u * (e * d)));
}

double voigt_parameter(const Voigt& k, ParameterKind p, double t) {
    const double s = k.sigma * c::sqrt2;
    const double u = t / s;
    const double v = k.gamma / s;
    const ComplexValue w = faddeeva(u, v);
    // w'(z) = -2 z w + 2 i / sqrt(pi)
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

} // namespace

Result<double> profile_parameter_derivative(const ProfileKind& kind, ParameterKind p, double t) {
    if (p == ParameterKind::Center) return -profile_slope(kind, t);
    if (p == ParameterKind::Scale) return -t * profile_slope(kind, t);
    if (const auto* k = std::get_if<Gaussian>(&kind); k && p == ParameterKind::Sigma) {
        const double u = t / k->sigma;
        const double f = std::exp(u * (u * -0.5));
        return t * t / (k->sigma * (k->sigma * k->sigma)) * f;
    }
    if (const auto* k = std::get_if<Lorentzian>(&kind); k && p == ParameterKind::Gamma) {
        const double u = t / k->hwhm;
        const double e = u * u + 1.0;
        return u * (u * 2.0) / (k->hwhm * (e * e));
    }
    if (const auto* k = std::get_if<PseudoVoigt>(&kind); k && p == ParameterKind::Eta) {
        const double u = t / k->hwhm;
        return 1.0 / (u * u + 1.0) - std::exp(u * (u * -c::ln2));
    }
    if (const auto* k = std::get_if<SuperGaussian>(&kind);
        k && (p == ParameterKind::Power || p == ParameterKind::Asymmetry))
        return super_gaussian_parameter(*k, p, t);
    if (const auto* k = std::get_if<SmoothedBox>(&kind);
        k && (p == ParameterKind::HalfWidth || p == ParameterKind::Sigma))
        return smoothed_box_parameter(*k, p, t);
    if (const auto* k = std::get_if<Voigt>(&kind);
        k && (p == ParameterKind::Sigma || p == ParameterKind::Gamma))
        return voigt_parameter(*k, p, t);
    return no_parameter(kind, p);
}

Result<double> parameter_derivative(const Element& e, ParameterKind p, double x) {
    // A parameter that only line shapes have is refused on other kinds wherever x lies.
    if (!is_placement(p) && !std::holds_alternative<Profile>(innermost(e)))
        return invalid_input(std::string(parameter_name(p)) +
                             " applies only to line-shape profiles");
    if (const auto* m = std::get_if<Mapped>(&e)) {
        if (x < m->lower || x > m->upper) return 0.0;
        auto inner = parameter_derivative(*m->inner, p, mapped_inverse(*m, x));
        if (!inner) return inner;
        return m->jacobian ? *inner * std::abs(mapped_du_dx(*m, x)) : *inner;
    }
    if (const auto* pr = std::get_if<Profile>(&e)) {
        if (x < pr->lower || x > pr->upper) return 0.0;
        return profile_parameter_derivative(pr->kind, p, x - pr->center);
    }
    if (p == ParameterKind::Center) return -slope(e, x);
    return -(x - center(e)) * slope(e, x);
}

} // namespace quorvel
