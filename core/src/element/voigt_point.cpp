// A Voigt profile element at one point with all its derivatives: one Faddeeva value and one
// with its slope serve the value, the slope (center and stretch) and both width derivatives.
#include "quorvel/voigt_point.hpp"

#include "local_point.hpp"
#include "profile/voigt.hpp"

namespace quorvel {

double voigt_peak_slope(const Voigt& k) {
    return line_shape::voigt::peak_slope(k.gamma / (k.sigma * constants::sqrt2));
}

VoigtPointValues voigt_point_at(const Profile& e, const Voigt& k, double peak_slope, double origin,
                                double y) {
    const LocalPoint x{origin, y};
    if (x.outside(e.lower, e.upper)) return {0.0, 0.0, 0.0, 0.0, 0.0};
    const double t = x.from(e.center);
    const line_shape::VoigtPoint p = line_shape::value_slope_and_rates(k, t, peak_slope);
    return {p.value, -p.slope, -t * p.slope, p.rates.sigma, p.rates.gamma};
}

} // namespace quorvel
