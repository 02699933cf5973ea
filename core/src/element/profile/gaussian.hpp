// The Gaussian exp(-t^2 / (2 sigma^2)), peak 1.
#pragma once

#include "common.hpp"

namespace quorvel::line_shape {

inline Result<ProfileKind> make_gaussian(double sigma) {
    QUORVEL_TRY(check_width("sigma", sigma));
    return Gaussian{sigma};
}

inline double value(const Gaussian& k, double t) {
    const double u = t / k.sigma;
    return std::exp(u * (u * -0.5));
}

// The factors u f and u^2 f are bounded, so only a result beyond the double range overflows.
inline double slope(const Gaussian& k, double t) {
    const double u = t / k.sigma;
    const double f = std::exp(u * (u * -0.5));
    return -(u * f) / k.sigma;
}

// The exponential once for both.
inline std::array<double, 2> value_and_slope(const Gaussian& k, double t) {
    const double u = t / k.sigma;
    const double f = std::exp(u * (u * -0.5));
    return {f, -(u * f) / k.sigma};
}

inline double width(const Gaussian& k) {
    return k.sigma * c::sqrt_2ln2;
}

inline double step_scale(const Gaussian& k, double) {
    return k.sigma;
}

inline Extent extent(const Gaussian& k, double cutoff) {
    return {cutoff * k.sigma, cutoff * k.sigma};
}

inline std::optional<double> parameter_derivative(const Gaussian& k, ParameterKind p, double t) {
    if (p != ParameterKind::Sigma) return std::nullopt;
    const double u = t / k.sigma;
    const double f = std::exp(u * (u * -0.5));
    return (u * u) * f / k.sigma;
}

inline std::optional<ExtentRates> extent_rates(const Gaussian&, ParameterKind p, double cutoff) {
    if (p != ParameterKind::Sigma) return std::nullopt;
    return ExtentRates{cutoff, cutoff};
}

template <> struct Descriptor<Gaussian> {
    static constexpr std::string_view name = "Gaussian";
    static constexpr std::optional<std::uint8_t> wire = 0;
    static constexpr std::tuple fields{free_field("sigma", &Gaussian::sigma)};
    static Result<ProfileKind> remake(const Gaussian& k) { return make_gaussian(k.sigma); }
};

} // namespace quorvel::line_shape
