// The Fourier-transform line shape: the cosine transform of an apodization window over
// [-max_opd, max_opd], inv_peak K(2 pi max_opd t), scaled to peak 1.
#pragma once

#include "../apodization_kernel.hpp"
#include "common.hpp"

namespace quorvel::line_shape {

inline Result<ProfileKind> make_fts(double max_opd, const Apodization& apodization) {
    QUORVEL_TRY(check_width("max_opd", max_opd));
    const double k0 = apodization_kernel(apodization, 0.0);
    if (!(k0 > 0.0 && k0 < INFINITY))
        return invalid_input("apodization must have a positive integral");
    return Fts{max_opd, apodization, 1.0 / k0};
}

inline double value(const Fts& k, double t) {
    return k.inv_peak * apodization_kernel(k.apodization, t * (k.max_opd * c::two_pi));
}

inline double slope(const Fts& k, double t) {
    const double g = k.max_opd * c::two_pi;
    return k.inv_peak * (g * apodization_kernel_slope(k.apodization, t * g));
}

inline double width(const Fts& k) {
    return 0.5 / k.max_opd;
}

inline double step_scale(const Fts& k, double) {
    return 0.25 / k.max_opd;
}

inline Extent extent(const Fts& k, double cutoff) {
    const double e = cutoff * width(k);
    return {e, e};
}

// No line-shape parameters.
inline std::optional<double> parameter_derivative(const Fts&, ParameterKind, double) {
    return std::nullopt;
}

inline std::optional<ExtentRates> extent_rates(const Fts&, ParameterKind, double) {
    return std::nullopt;
}

inline std::string render(const Fts& k) {
    return "Fts { " + field("max_opd", k.max_opd) +
           ", apodization: " + render_apodization(k.apodization) + ", " +
           field("inv_peak", k.inv_peak) + " }";
}

} // namespace quorvel::line_shape
