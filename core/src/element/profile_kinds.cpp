// Validation and construction of the line-shape kinds, including the peak normalisations that
// are fixed once per kind.
#include <cmath>
#include <string>

#include "constants.hpp"
#include "quorvel/faddeeva.hpp"
#include "quorvel/format.hpp"
#include "quorvel/profile.hpp"

namespace quorvel {

namespace c = constants;

namespace {

Status check_width(const char* name, double v) {
    if (v > 0.0 && v < INFINITY) return {};
    return invalid_input(std::string(name) + " must be finite and > 0, got " + fmt_fixed(v));
}

bool zero_or_positive_finite(double v) {
    return v == 0.0 || (v > 0.0 && v < INFINITY);
}

} // namespace

Result<ProfileKind> make_gaussian(double sigma) {
    if (auto ok = check_width("sigma", sigma); !ok) return std::unexpected(ok.error());
    return Gaussian{sigma};
}

Result<ProfileKind> make_lorentzian(double hwhm) {
    if (auto ok = check_width("hwhm", hwhm); !ok) return std::unexpected(ok.error());
    return Lorentzian{hwhm};
}

Result<ProfileKind> make_voigt(double sigma, double gamma) {
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

Result<ProfileKind> make_pseudo_voigt(double hwhm, double eta) {
    if (auto ok = check_width("hwhm", hwhm); !ok) return std::unexpected(ok.error());
    if (!(eta >= 0.0 && eta <= 1.0))
        return invalid_input("pseudo-Voigt eta must be in [0, 1], got " + fmt_fixed(eta));
    return PseudoVoigt{hwhm, eta};
}

Result<ProfileKind> make_super_gaussian(double hwhm_left, double hwhm_right, double power) {
    if (auto ok = check_width("hwhm_left", hwhm_left); !ok) return std::unexpected(ok.error());
    if (auto ok = check_width("hwhm_right", hwhm_right); !ok) return std::unexpected(ok.error());
    if (!(power >= 1.0 && power < INFINITY))
        return invalid_input("super-Gaussian power must be >= 1, got " + fmt_fixed(power));
    return SuperGaussian{hwhm_left, hwhm_right, power};
}

Result<ProfileKind> make_smoothed_box(double half_width, double sigma) {
    if (auto ok = check_width("half_width", half_width); !ok) return std::unexpected(ok.error());
    if (auto ok = check_width("sigma", sigma); !ok) return std::unexpected(ok.error());
    const double s = sigma * c::sqrt2;
    const double inv_peak = 1.0 / erf_difference(-half_width / s, half_width / s);
    if (!(inv_peak > 0.0 && inv_peak < INFINITY))
        return invalid_input("smoothed box peak is not representable for half_width " +
                             fmt_fixed(half_width) + " and sigma " + fmt_fixed(sigma));
    return SmoothedBox{half_width, sigma, inv_peak};
}

Result<ProfileKind> make_fts(double max_opd, const Apodization& apodization) {
    if (auto ok = check_width("max_opd", max_opd); !ok) return std::unexpected(ok.error());
    const double k0 = apodization_kernel(apodization, 0.0);
    if (!(k0 > 0.0 && k0 < INFINITY))
        return invalid_input("apodization must have a positive integral");
    return Fts{max_opd, apodization, 1.0 / k0};
}

} // namespace quorvel
