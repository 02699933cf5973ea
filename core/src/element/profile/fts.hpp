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

// The kernel's argument t (2 pi max_opd); when 2 pi max_opd overflows, t max_opd first (t lies
// within the support, of the order of 1 / max_opd).
inline double kernel_argument(const Fts& k, double t) {
    const double g = k.max_opd * c::two_pi;
    return g < INFINITY ? t * g : (t * k.max_opd) * c::two_pi;
}

inline double value(const Fts& k, double t) {
    return k.inv_peak * apodization_kernel(k.apodization, kernel_argument(k, t));
}

inline double slope(const Fts& k, double t) {
    const double g = k.max_opd * c::two_pi;
    const double kernel_slope = apodization_kernel_slope(k.apodization, kernel_argument(k, t));
    if (g < INFINITY) return k.inv_peak * (g * kernel_slope);
    return (k.inv_peak * kernel_slope * k.max_opd) * c::two_pi;
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

template <> struct Descriptor<Fts> {
    static constexpr std::string_view name = "Fts";
    static constexpr std::string_view one = "FTS line shape", many = "FTS line shapes";
    static constexpr std::optional<std::uint8_t> wire = 6;
    static constexpr std::tuple fields{free_field("max_opd", &Fts::max_opd),
                                      free_field("apodization", &Fts::apodization),
                                      derived_field("inv_peak", &Fts::inv_peak)};
    static Result<ProfileKind> remake(const Fts& k) { return make_fts(k.max_opd, k.apodization); }
};

} // namespace quorvel::line_shape
