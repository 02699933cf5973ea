// Value and t-derivative of every line-shape kind at offset t = x - center (support ignored).
#include <cmath>

#include "constants.hpp"
#include "quorvel/faddeeva.hpp"
#include "quorvel/profile.hpp"

namespace quorvel {

namespace c = constants;

namespace {

template <class... F> struct Overloaded : F... {
    using F::operator()...;
};

double sign(double t) {
    return t < 0.0 ? -1.0 : 1.0;
}

double super_gaussian_side(const SuperGaussian& k, double t) {
    return t < 0.0 ? k.hwhm_left : k.hwhm_right;
}

// The smoothed box at t: inv_peak (erf((t + w) / s) - erf((t - w) / s)), s = sigma sqrt(2), w the
// half width. Off the plateau a window narrow against its distance from the center is summed as
// a series, since the two rounded ends would otherwise cancel (a tiny half width would give 0
// instead of a Gaussian); the peak factor is applied to the window per unit width so that
// nothing underflows on the way.
double smoothed_box_value(const SmoothedBox& k, double t) {
    const double s = k.sigma * c::sqrt2;
    const double m = std::abs(t) / s;
    const double h = k.half_width / s;
    if (m >= h && 4.0 * m * h < 1.0) return (k.inv_peak * h) * erf_narrow_window(m, h);
    return k.inv_peak * erf_difference((t - k.half_width) / s, (t + k.half_width) / s);
}

// Its slope inv_peak 2/sqrt(pi)/s (exp(-p^2) - exp(-q^2)), p = (t + w) / s, q = (t - w) / s. When
// |p^2 - q^2| = 4 |t| w / s^2 is below 1 the difference is formed from the end nearer the center
// with expm1, again per unit half width.
double smoothed_box_slope(const SmoothedBox& k, double t) {
    const double s = k.sigma * c::sqrt2;
    const double p = (t + k.half_width) / s;
    const double q = (t - k.half_width) / s;
    const double g = 4.0 * std::abs(t) / (s * s);
    const double r = g * k.half_width;
    if (!(r < 1.0))
        return k.inv_peak * (c::two_over_sqrt_pi / s * (std::exp(-(p * p)) - std::exp(-(q * q))));
    const double near = t >= 0.0 ? q : p;
    // expm1(-r) / (-r), which tends to 1 - r / 2
    const double e1 = r < 1e-10 ? 1.0 - 0.5 * r : std::expm1(-r) / -r;
    const double per_width = (t >= 0.0 ? -1.0 : 1.0) * std::exp(-(near * near)) * (e1 * g);
    return (k.inv_peak * k.half_width) * (c::two_over_sqrt_pi / s * per_width);
}

double matern_value(const Matern& k, double t) {
    const double r = std::abs(t);
    switch (k.order) {
    case MaternOrder::Half:
        return std::exp(-(r / k.length));
    case MaternOrder::ThreeHalves: {
        const double m = r * c::sqrt3 / k.length;
        return (m + 1.0) * std::exp(-m);
    }
    case MaternOrder::FiveHalves: {
        const double m = r * c::sqrt5 / k.length;
        return (m + 1.0 + m * m / 3.0) * std::exp(-m);
    }
    }
    throw InternalError("unknown Matern order");
}

double matern_slope(const Matern& k, double t) {
    switch (k.order) {
    case MaternOrder::Half:
        if (std::isnan(t)) return t;
        if (t == 0.0) return 0.0;
        return -sign(t) * (1.0 / k.length) * std::exp(-std::abs(t) / k.length);
    case MaternOrder::ThreeHalves: {
        const double g = c::sqrt3 / k.length;
        return -t * g * g * std::exp(-std::abs(t) * g);
    }
    case MaternOrder::FiveHalves: {
        const double g = c::sqrt5 / k.length;
        return std::exp(-std::abs(t) * g) * ((std::abs(t) * g + 1.0) * (t * g * g / -3.0));
    }
    }
    throw InternalError("unknown Matern order");
}

} // namespace

double profile_value(const ProfileKind& kind, double t) {
    return std::visit(
        Overloaded{
            [t](const Gaussian& k) {
                const double u = t / k.sigma;
                return std::exp(u * (u * -0.5));
            },
            [t](const Lorentzian& k) {
                const double u = t / k.hwhm;
                return 1.0 / (u * u + 1.0);
            },
            [t](const Voigt& k) {
                const double s = k.sigma * c::sqrt2;
                return k.inv_peak * faddeeva(t / s, k.gamma / s).re;
            },
            [t](const PseudoVoigt& k) {
                const double u = t / k.hwhm;
                return k.eta / (u * u + 1.0) + (1.0 - k.eta) * std::exp(u * (u * -c::ln2));
            },
            [t](const SuperGaussian& k) {
                const double w = super_gaussian_side(k, t);
                return std::exp(std::pow(std::abs(t) / w, k.power) * -c::ln2);
            },
            [t](const SmoothedBox& k) { return smoothed_box_value(k, t); },
            [t](const Fts& k) {
                return k.inv_peak * apodization_kernel(k.apodization, t * (k.max_opd * c::two_pi));
            },
            [t](const Matern& k) { return matern_value(k, t); },
            [t](const Harmonic& k) {
                return std::cos(k.phase + t * (k.wavenumber * c::two_pi) / k.period);
            },
        },
        kind);
}

double profile_slope(const ProfileKind& kind, double t) {
    return std::visit(
        Overloaded{
            [t](const Gaussian& k) {
                const double u = t / k.sigma;
                const double f = std::exp(u * (u * -0.5));
                return f * (-t / (k.sigma * k.sigma));
            },
            [t](const Lorentzian& k) {
                const double u = t / k.hwhm;
                const double e = u * u + 1.0;
                return u * -2.0 / (k.hwhm * (e * e));
            },
            [t](const Voigt& k) {
                const double s = k.sigma * c::sqrt2;
                const double u = t / s;
                const double v = k.gamma / s;
                const ComplexValue w = faddeeva(u, v);
                return k.inv_peak * ((u * w.re - v * w.im) * -2.0 / s);
            },
            [t](const PseudoVoigt& k) {
                const double u = t / k.hwhm;
                const double e = u * u + 1.0;
                return (1.0 - k.eta) * (u * -c::two_ln2 / k.hwhm) * std::exp(u * (u * -c::ln2)) -
                       k.eta * (u * 2.0 / (k.hwhm * (e * e)));
            },
            [t](const SuperGaussian& k) {
                if (std::isnan(t)) return t;
                if (t == 0.0) return 0.0;
                const double w = super_gaussian_side(k, t);
                const double b = std::abs(t) / w;
                const double f = std::exp(std::pow(b, k.power) * -c::ln2);
                const double g = sign(t) * (k.power * -c::ln2 * std::pow(b, k.power - 1.0)) / w;
                // Far out on a high power the value underflows to 0 while the power overflows;
                // the product then is 0, not 0 * inf.
                if (f == 0.0) return std::copysign(0.0, g);
                return f * g;
            },
            [t](const SmoothedBox& k) { return smoothed_box_slope(k, t); },
            [t](const Fts& k) {
                const double g = k.max_opd * c::two_pi;
                return k.inv_peak * (g * apodization_kernel_slope(k.apodization, t * g));
            },
            [t](const Matern& k) { return matern_slope(k, t); },
            [t](const Harmonic& k) {
                const double g = k.wavenumber * c::two_pi / k.period;
                return -(g * std::sin(k.phase + t * g));
            },
        },
        kind);
}

} // namespace quorvel
