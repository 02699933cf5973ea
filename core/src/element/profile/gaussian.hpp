// The Gaussian exp(-t^2 / (2 sigma^2)), peak 1. Its exponentials are exp_one's, so that values
// taken one by one and side by side agree bit for bit.
#pragma once

#include <span>

#include "common.hpp"
#include "quorvel/vector_math.hpp"
#include "erf_difference.hpp"

namespace quorvel::line_shape {

inline Result<ProfileKind> make_gaussian(double sigma) {
    QUORVEL_TRY(check_width("sigma", sigma));
    return Gaussian{sigma};
}

inline double value(const Gaussian& k, double t) {
    const double u = t / k.sigma;
    return exp_one(u * (u * -0.5));
}

// The factors u f and u^2 f are bounded, so only a result beyond the double range overflows.
inline double slope(const Gaussian& k, double t) {
    const double u = t / k.sigma;
    const double f = exp_one(u * (u * -0.5));
    return -(u * f) / k.sigma;
}

// The exponential once for both.
inline std::array<double, 2> value_and_slope(const Gaussian& k, double t) {
    const double u = t / k.sigma;
    const double f = exp_one(u * (u * -0.5));
    return {f, -(u * f) / k.sigma};
}

// Values at many offsets: the exponents one by one, their exponentials side by side (exp_many
// gives the bits of exp_one).
inline void values_many(std::span<const Gaussian* const> kinds, std::span<const double> t,
                        double* out, ValueLists&) {
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double u = t[i] / kinds[i]->sigma;
        out[i] = u * (u * -0.5);
    }
    exp_many(out, t.size(), out);
}

inline double width(const Gaussian& k) {
    return k.sigma * c::sqrt_2ln2;
}

// One sigma near the center. In the tail the Gaussian falls by e^((2 d h + h^2) / (2 sigma^2))
// over a step h from distance d: a step of 2.5 sigma^2 / d keeps that fall within e^3, which the
// 8-point rule integrates to rounding.
inline double step_bound(const Gaussian& k, double) {
    return k.sigma;
}

inline double step_scale(const Gaussian& k, double d) {
    return std::fmin(k.sigma, 2.5 * k.sigma * (k.sigma / d));
}

// The integral over offsets [a, b]: sigma sqrt(pi / 2) (erf(b / (sigma sqrt 2)) - erf(...)).
inline std::optional<double> integral(const Gaussian& k, double a, double b) {
    const double s = k.sigma * c::sqrt2;
    return k.sigma * c::sqrt_half_pi * erf_difference(a / s, b / s);
}

inline Extent extent(const Gaussian& k, double cutoff) {
    return {cutoff * k.sigma, cutoff * k.sigma};
}

inline std::optional<double> parameter_derivative(const Gaussian& k, ParameterKind p, double t) {
    if (p != ParameterKind::Sigma) return std::nullopt;
    const double u = t / k.sigma;
    const double f = exp_one(u * (u * -0.5));
    return (u * u) * f / k.sigma;
}

inline std::optional<ExtentRates> extent_rates(const Gaussian&, ParameterKind p, double cutoff) {
    if (p != ParameterKind::Sigma) return std::nullopt;
    return ExtentRates{cutoff, cutoff};
}

template <> struct Descriptor<Gaussian> {
    static constexpr std::string_view name = "Gaussian";
    static constexpr std::string_view one = "Gaussian profile", many = "Gaussian profiles";
    static constexpr std::optional<std::uint8_t> wire = 0;
    static constexpr std::tuple fields{free_field("sigma", &Gaussian::sigma)};
    static Result<ProfileKind> remake(const Gaussian& k) { return make_gaussian(k.sigma); }
};

} // namespace quorvel::line_shape
